#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "FuzzTargets.h"
#include "register/RegisterCore.h"
#include "skin/LayoutConfig.h"
#include "support/TestSupport.h"
#include "work/LauncherInfo.h"

namespace zarn {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> g_failures;

void Record(const std::string& message) { g_failures.push_back(message); }

std::vector<fs::path> FilesIn(const fs::path& folder) {
  std::vector<fs::path> files;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec))
    if (entry.is_regular_file()) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  return files;
}

class FuzzInputReplay : public ::testing::TestWithParam<fuzz::Target> {
 protected:
  void SetUp() override {
    g_failures.clear();
    fuzz::SetCheckFailureHandler(Record);
  }
  void TearDown() override { fuzz::SetCheckFailureHandler(nullptr); }
};

// Every seed and every kept input passes through its target without a crash and without a
// broken check.
TEST_P(FuzzInputReplay, SeedsAndKeptInputsHoldTheirChecks) {
  const fuzz::Target& target = GetParam();
  const fs::path root = ZARN_FUZZ_DIR;
  const std::vector<fs::path> seeds = FilesIn(root / "corpus" / target.name);
  ASSERT_FALSE(seeds.empty()) << "no seed inputs for " << target.name;
  std::vector<fs::path> inputs = seeds;
  for (const fs::path& kept : FilesIn(root / "regressions" / target.name)) inputs.push_back(kept);

  for (const fs::path& input : inputs) {
    SCOPED_TRACE(input.string());
    const std::string bytes = test::ReadFile(input.string());
    target.run(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    for (const std::string& failure : g_failures) ADD_FAILURE() << failure;
    g_failures.clear();
  }
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzInputReplay, ::testing::ValuesIn(fuzz::AllTargets()),
                         [](const ::testing::TestParamInfo<fuzz::Target>& info) {
                           return std::string(info.param.name);
                         });

// The checks themselves bite: a broken invariant reaches the handler.
TEST(FuzzChecks, ABrokenCheckIsReported) {
  g_failures.clear();
  fuzz::SetCheckFailureHandler(Record);
  ZARN_FUZZ_CHECK(1 + 1 == 3, "arithmetic");
  fuzz::SetCheckFailureHandler(nullptr);
  ASSERT_EQ(g_failures.size(), 1u);
  EXPECT_NE(g_failures[0].find("arithmetic"), std::string::npos);
}

TEST(FuzzChecks, NamesThatLeaveTheFolder) {
  struct Case {
    const char* name;
    bool leaves;
  };
  for (const Case& c :
       {Case{"a/b.zip", false}, Case{"a/../b", false}, Case{"./x/./y", false}, Case{"", false},
        Case{"..", true}, Case{"a/../../b", true}, Case{"a\\..\\..\\b", true}, Case{"/etc/x", true},
        Case{"\\x", true}, Case{"a//..//..", true}, Case{"...", false}})
    EXPECT_EQ(fuzz::NameLeavesFolder(c.name), c.leaves) << c.name;
}

// A document nested far deeper than any real one: readers walk it without using the call stack,
// so the members around it still read.
TEST(DeepDocuments, ReadersKeepTheirMembersAroundDeepNesting) {
  constexpr size_t kDepth = 200000;
  const std::string deep = std::string(kDepth, '[') + std::string(kDepth, ']');

  const RegisterReply reply = ParseRegisterReply("{\"Code\":200,\"Message\":\"ok\",\"x\":" + deep + "}");
  EXPECT_EQ(reply.code, 200);
  EXPECT_EQ(reply.message, "ok");

  const auto manifest = ParseVersionManifest("{\"version\":\"1.0.0.1\",\"url\":\"u\",\"x\":" + deep + "}");
  ASSERT_TRUE(manifest.has_value());
  EXPECT_EQ(manifest->version, "1.0.0.1");

  CLayoutConfig layout;
  layout.LoadFromText("{\"x\":" + deep + ",\"WorkClient\":\"{1,2,3,4}\"}");
  EXPECT_EQ(layout.WorkClient.left, 1);
  EXPECT_EQ(layout.WorkClient.bottom, 4);

  test::TempDir dir;
  const std::string path = dir.file("temp.down");
  test::WriteFile(path, "{\"lander_id\":7,\"x\":" + deep + "}");
  LoginInfo info;
  ASSERT_TRUE(ReadLoginInfo(path, &info));
  EXPECT_EQ(info.landerId, 7);
}

}  // namespace
}  // namespace zarn
