#include <gtest/gtest.h>

#include "work/ProgressMath.h"

namespace zarn {
namespace {

TEST(ProgressBars, WidthAndLabel) {
  struct Case {
    int32_t left, fullWidth, done, total;
    int32_t right, percent;
  };
  const Case cases[] = {
      {433, 200, 250, 1000, 483, 25},              // a quarter of a 200-pixel bar
      {433, 300, 0, 0, 0, 0},                      // nothing known yet: empty and 0%
      {433, 300, 5, 0, 0, 0},                      // no content length
      {433, 300, 300, 300, 733, 100},              // full
      {433, 300, 600, 300, 1033, 100},             // more than full is still 100%
      {433, 300, 1, 3, 533, 33},                   // truncation
      {10, 300, 2000000000, 2100000000, 295, 95},  // the product needs 64 bits
      {433, 300, -1, 3, 333, 0},                   // never negative percent
  };
  for (const Case& c : cases) {
    const int32_t right = BarRight(c.left, c.fullWidth, c.done, c.total);
    EXPECT_EQ(right, c.right) << c.done << "/" << c.total;
    EXPECT_EQ(BarPercent(right - c.left, c.fullWidth), c.percent) << c.done << "/" << c.total;
  }
  // Before the first tick both bars are drawn full.
  EXPECT_EQ(BarPercent(300, 300), 100);
  EXPECT_EQ(BarPercent(10, 0), 0);
}

}  // namespace
}  // namespace zarn
