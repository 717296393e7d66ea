#include <gtest/gtest.h>

#include "skin/LayoutConfig.h"
#include "skin/SkinPath.h"
#include "support/TestSupport.h"
#include "util/FileUtils.h"

namespace zarn {
namespace {

struct ScanCase {
  const char* text;
  int count;
  int read;
  std::array<int32_t, 4> values;
};

void PrintTo(const ScanCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class LayoutScan : public ::testing::TestWithParam<ScanCase> {};

TEST_P(LayoutScan, ReadsAsTheCLibraryDoes) {
  const ScanCase& c = GetParam();
  std::array<int32_t, 4> values{};
  EXPECT_EQ(ScanLayoutValues(c.text, values.data(), c.count), c.read);
  EXPECT_EQ(values, c.values);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, LayoutScan,
    ::testing::Values(ScanCase{"{440,120,1248,755}", 4, 4, {440, 120, 1248, 755}},
                      ScanCase{"{1,2}", 4, 2, {1, 2, 0, 0}},       // two numbers for a four-value key
                      ScanCase{"1,2,3,4", 4, 0, {0, 0, 0, 0}},     // missing brace
                      ScanCase{"{1;2}", 2, 1, {1, 0, 0, 0}},       // semicolon
                      ScanCase{"{-5,+7}", 2, 2, {-5, 7, 0, 0}},    // signs
                      ScanCase{"{ 5,\t 6}", 2, 2, {5, 6, 0, 0}},   // blanks before numbers
                      ScanCase{"{5 ,6}", 2, 1, {5, 0, 0, 0}},      // a blank before the comma
                      ScanCase{" {5,6}", 2, 0, {0, 0, 0, 0}},      // a blank before the brace
                      ScanCase{"{7,8,9,10}", 2, 2, {7, 8, 0, 0}},  // extra values not read
                      ScanCase{"{12abc,3}", 2, 1, {12, 0, 0, 0}},
                      ScanCase{"{99999999999,1}", 2, 2, {INT32_MAX, 1, 0, 0}},
                      ScanCase{"", 4, 0, {0, 0, 0, 0}}));

TEST(Layout, BuiltInDocument) {
  CLayoutConfig layout;
  layout.LoadFromText(LoadJsonResource());
  EXPECT_EQ(layout.WorkClient.left, 440);
  EXPECT_EQ(layout.WorkClient.bottom, 755);
  EXPECT_EQ(layout.RegisterClient.right, 305);
  EXPECT_EQ(layout.URL.x, 806);
  EXPECT_EQ(layout.URL.cy, 237);
  EXPECT_EQ(layout.list_server.cx, 253);
  // The first of the two "combo_quality" members is in force.
  EXPECT_EQ(layout.combo_quality.x, 983);
  EXPECT_EQ(layout.combo_quality.y, 568);
  EXPECT_EQ(layout.btn_Game.x, 1075);
  EXPECT_EQ(layout.btn_reg_Close.y, 25);
  EXPECT_EQ(layout.edt_reg_phone.y, 275);
  EXPECT_EQ(layout.text_path.x, 120);
  EXPECT_FALSE(layout.http.empty());
  EXPECT_FALSE(layout.webUrl.empty());
}

TEST(Layout, DuplicateKeysCaseAndTypes) {
  CLayoutConfig layout;
  layout.LoadFromText(R"({"btn_game":"{1,1}","btn_Game":"{5,6}","btn_Game":"{7,8}","WorkClient":"{1,2}",)"
                      R"("btn_min":5,"http":7,"webUrl":"w","extra":"{9,9}"})");
  EXPECT_EQ(layout.btn_Game.x, 5);
  EXPECT_EQ(layout.btn_Game.y, 6);
  EXPECT_EQ(layout.WorkClient.left, 1);
  EXPECT_EQ(layout.WorkClient.top, 2);
  EXPECT_EQ(layout.WorkClient.right, 0);
  EXPECT_EQ(layout.btn_min.x, 0);  // not a string: read as nothing
  EXPECT_EQ(layout.http, "");
  EXPECT_EQ(layout.webUrl, "w");
  EXPECT_EQ(layout.btn_close.x, 0);  // missing
}

TEST(Layout, DocumentThatDoesNotParseLeavesZeros) {
  CLayoutConfig layout;
  layout.LoadFromText("{not json");
  EXPECT_EQ(layout.WorkClient.right, 0);
  EXPECT_EQ(layout.http, "");
}

TEST(Layout, SkinFileOrBuiltIn) {
  struct Case {
    const char* name;
    std::string content;  // empty name: no file at all
    int32_t workLeft;
  };
  const Case cases[] = {
      {"no set.json", "", 440},
      {"empty set.json", "", 440},
      {"set.json starting with NUL", std::string("\0{\"WorkClient\":\"{1,2,3,4}\"}", 27), 440},
      {"own set.json", R"({"WorkClient":"{10,20,30,40}"})", 10},
  };
  for (const Case& c : cases) {
    test::TempDir dir;
    if (std::string(c.name) != "no set.json") test::WriteFile(dir.file("res_zn/set.json"), c.content);
    CCFileUtilsLinux files(dir.path());
    files.init();
    CLayoutConfig layout;
    layout.LoadLayout(files);
    EXPECT_EQ(layout.WorkClient.left, c.workLeft) << c.name;
  }
}

TEST(SkinPictures, NumbersPairWithResourceIds) {
  const std::pair<int, int> table[] = {{1, 10001},  {7, 10002},  {39, 10034}, {43, 10038},
                                       {51, 10043}, {59, 10051}, {65, 10057}, {2, 0},
                                       {44, 0},     {50, 0},     {66, 0},     {0, 0}};
  for (auto [n, id] : table) EXPECT_EQ(ResourceIdForPicture(n), id) << n;
  EXPECT_EQ(SkinFileName(59), "ZOVIR-59.png");
}

TEST(SkinPictures, SkinPathNeedsAnExistingFileOrFolder) {
  test::TempDir dir;
  test::WriteFile(dir.file("res_zn/ZOVIR-7.png"), "x");
  test::WriteFile(dir.file("res_zn/ZOVIR-1.png/inside"), "x");  // a folder named like the file
  CCFileUtilsLinux files(dir.path());
  files.init();
  EXPECT_EQ(GetSkinPath(files, "ZOVIR-7.png"), dir.file("res_zn/ZOVIR-7.png"));
  EXPECT_EQ(GetSkinPath(files, "ZOVIR-1.png"), dir.file("res_zn/ZOVIR-1.png"));
  EXPECT_EQ(GetSkinPath(files, "ZOVIR-8.png"), "");
}

}  // namespace
}  // namespace zarn
