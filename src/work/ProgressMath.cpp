#include "work/ProgressMath.h"

namespace zarn {

int32_t BarRight(int32_t left, int32_t fullWidth, int32_t done, int32_t total) {
  if (total == 0) return 0;
  const int64_t width = static_cast<int64_t>(fullWidth) * done / total;
  return static_cast<int32_t>(left + width);
}

int32_t BarPercent(int32_t drawnWidth, int32_t fullWidth) {
  if (drawnWidth <= 0 || fullWidth <= 0) return 0;
  const int64_t percent = static_cast<int64_t>(drawnWidth) * 100 / fullWidth;
  return percent > 100 ? 100 : static_cast<int32_t>(percent);
}

}  // namespace zarn
