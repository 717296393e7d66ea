#include <gtest/gtest.h>

#include "skin/LayoutConfig.h"
#include "util/FileUtils.h"

namespace zarn {
namespace {

// Every geometric field of the record, so two layouts can be compared key by key.
std::vector<std::pair<std::string, int32_t>> Fields(const CLayoutConfig& c) {
  std::vector<std::pair<std::string, int32_t>> f;
  auto rect = [&](const char* n, const LayoutRect& r) {
    for (auto [k, v] :
         {std::pair{".left", r.left}, {".top", r.top}, {".right", r.right}, {".bottom", r.bottom}})
      f.emplace_back(std::string(n) + k, v);
  };
  auto point = [&](const char* n, const LayoutPoint& p) {
    f.emplace_back(std::string(n) + ".x", p.x);
    f.emplace_back(std::string(n) + ".y", p.y);
  };
  auto box = [&](const char* n, const LayoutBox& b) {
    for (auto [k, v] : {std::pair{".x", b.x}, {".y", b.y}, {".cx", b.cx}, {".cy", b.cy}})
      f.emplace_back(std::string(n) + k, v);
  };
  rect("WorkClient", c.WorkClient);
  rect("RegisterClient", c.RegisterClient);
  for (auto [n, p] : {std::pair{"btn_close", &c.btn_close},
                      {"btn_min", &c.btn_min},
                      {"btn_setup", &c.btn_setup},
                      {"btn_setup_auto", &c.btn_setup_auto},
                      {"btn_web", &c.btn_web},
                      {"btn_recharge", &c.btn_recharge},
                      {"btn_register", &c.btn_register},
                      {"btn_password", &c.btn_password},
                      {"btn_update", &c.btn_update},
                      {"btn_windows", &c.btn_windows},
                      {"progress_blue", &c.progress_blue},
                      {"progress_green", &c.progress_green},
                      {"text_path", &c.text_path},
                      {"image_setup", &c.image_setup},
                      {"btn_Game", &c.btn_Game},
                      {"btn_reg_Agreement", &c.btn_reg_Agreement},
                      {"btn_reg_ok", &c.btn_reg_ok},
                      {"btn_reg_cancel", &c.btn_reg_cancel},
                      {"btn_reg_AgreementText", &c.btn_reg_AgreementText},
                      {"btn_reg_Close", &c.btn_reg_Close}})
    point(n, *p);
  for (auto [n, b] : {std::pair{"list_server", &c.list_server},
                      {"URL", &c.URL},
                      {"combo_server", &c.combo_server},
                      {"combo_quality", &c.combo_quality},
                      {"edt_reg_account", &c.edt_reg_account},
                      {"edt_reg_password1", &c.edt_reg_password1},
                      {"edt_reg_password2", &c.edt_reg_password2},
                      {"edt_reg_realname", &c.edt_reg_realname},
                      {"edt_reg_id", &c.edt_reg_id},
                      {"edt_reg_ask", &c.edt_reg_ask},
                      {"edt_reg_ans", &c.edt_reg_ans},
                      {"edt_reg_email", &c.edt_reg_email},
                      {"edt_reg_phone", &c.edt_reg_phone}})
    box(n, *b);
  return f;
}

// The example skin is a starting point for operators: its set.json, read as the launcher reads
// a skin from the current directory, must hold every key with the built-in geometry, and both
// addresses.
TEST(ExampleSkin, LayoutHoldsEveryKeyOfTheBuiltInOne) {
  CCFileUtilsLinux files(ZARN_EXAMPLE_SKIN);
  ASSERT_TRUE(files.init());
  CLayoutConfig example;
  example.LoadLayout(files);
  CLayoutConfig builtIn;
  builtIn.LoadFromText(LoadJsonResource());

  const auto got = Fields(example), want = Fields(builtIn);
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i].second, want[i].second) << got[i].first;
  // The built-in record's own sanity: a key it lacked would read as 0 on both sides.
  EXPECT_EQ(builtIn.WorkClient.right, 1248);
  EXPECT_EQ(builtIn.btn_reg_Close.x, 280);
  EXPECT_EQ(example.http.rfind("http://", 0), 0u) << example.http;
  EXPECT_EQ(example.webUrl.rfind("http://", 0), 0u) << example.webUrl;
}

}  // namespace
}  // namespace zarn
