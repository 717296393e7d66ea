#include <gtest/gtest.h>
#include <sys/stat.h>

#include "app/Startup.h"
#include "app/Version.h"
#include "support/TestSupport.h"

namespace zarn {
namespace {

TEST(Startup, CanonicalNameDecision) {
  const std::pair<const char*, bool> table[] = {
      {"/games/Kelmar/zarn", true},
      {"/games/Kelmar/zarn.backup", true},  // the text before the first "."
      {"/games/Kelmar/zarn.exe", true},
      {"/games/Kelmar/Zarn", false},  // case-sensitive
      {"/games/Kelmar/ZARN", false},
      {"/games/Kelmar/setup", false},
      {"/home/me/Downloads/Kelmar-setup.bin", false},
      {"zarn", true},
      {"/a.b/zarnx", false},
      {"/zarn/.zarn", false},  // a file name starting with "." has an empty base name
  };
  for (auto [path, canonical] : table) EXPECT_EQ(IsCanonicalName(path), canonical) << path;
}

TEST(Startup, SelfCopyTargetIsBesideTheRunningFile) {
  EXPECT_EQ(SelfCopyTarget("/home/me/Downloads/Kelmar-setup.bin"), "/home/me/Downloads/zarn");
  EXPECT_EQ(SelfCopyTarget("setup"), "zarn");
}

TEST(Startup, CopyExecutableKeepsContentAndExecutePermission) {
  test::TempDir dir;
  test::WriteFile(dir.file("setup"), "#!/bin/sh\necho hi\n");
  ASSERT_EQ(chmod(dir.file("setup").c_str(), 0755), 0);
  test::WriteFile(dir.file("zarn"), "old content that is longer than the new one");
  ASSERT_TRUE(CopyExecutable(dir.file("setup"), dir.file("zarn")));
  EXPECT_EQ(test::ReadFile(dir.file("zarn")), "#!/bin/sh\necho hi\n");
  struct stat st;
  ASSERT_EQ(stat(dir.file("zarn").c_str(), &st), 0);
  EXPECT_TRUE(st.st_mode & S_IXUSR);
  EXPECT_FALSE(CopyExecutable(dir.file("missing"), dir.file("zarn2")));
  EXPECT_FALSE(CopyExecutable(dir.file("setup"), dir.file("setup/inside")));
}

TEST(Version, TextFromTheVersionBlock) {
  EXPECT_EQ(GetAppVersion(), "1.0.0.1");
  VersionBlock block;
  block.fileVersionMS = (2u << 16) | 65535u;
  block.fileVersionLS = (0u << 16) | 7u;
  EXPECT_EQ(FormatAppVersion(&block, sizeof block), "2.65535.0.7");
  EXPECT_EQ(FormatAppVersion(nullptr, 0), "");
  EXPECT_EQ(FormatAppVersion(&block, 0), "");
  block.signature = 0;
  EXPECT_EQ(FormatAppVersion(&block, sizeof block), "(unknown)");
  EXPECT_EQ(FormatAppVersion("x", 1), "(unknown)");
}

}  // namespace
}  // namespace zarn
