#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

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

std::vector<std::string> Names(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (const dirent* e = ::readdir(d))
      if (e->d_name[0] != '.') names.push_back(e->d_name);
    ::closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// What stands at the target before the copy. The same file under another name is what a
// case-insensitive folder shows for "zarn" beside a running "Zarn" (same device and inode).
TEST(Startup, CopyExecutableOverWhatStandsAtTheTarget) {
  enum class Before { SameFile, LinkToOther, DanglingLink };
  const struct {
    const char* name;
    Before before;
    bool copied;
  } cases[] = {
      {"the source itself", Before::SameFile, false},
      {"a link to another file", Before::LinkToOther, true},
      {"a dangling link", Before::DanglingLink, true},
  };
  const std::string content = "#!/bin/sh\necho launcher\n";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir, elsewhere;
    const std::string running = dir.file("Zarn"), target = dir.file("zarn");
    test::WriteFile(running, content);
    ASSERT_EQ(chmod(running.c_str(), 0755), 0);
    test::WriteFile(elsewhere.file("other"), "someone else's file");
    switch (c.before) {
      case Before::SameFile:
        ASSERT_EQ(::link(running.c_str(), target.c_str()), 0);
        break;
      case Before::LinkToOther:
        ASSERT_EQ(::symlink(elsewhere.file("other").c_str(), target.c_str()), 0);
        break;
      case Before::DanglingLink:
        ASSERT_EQ(::symlink(elsewhere.file("new").c_str(), target.c_str()), 0);
        break;
    }
    EXPECT_EQ(CopyExecutable(running, target), c.copied);
    // The running file is whole, nothing was written where a link pointed, no scrap is left.
    EXPECT_EQ(test::ReadFile(running), content);
    EXPECT_EQ(test::ReadFile(elsewhere.file("other")), "someone else's file");
    EXPECT_EQ(Names(elsewhere.path()), std::vector<std::string>{"other"});
    EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"Zarn", "zarn"}));
    struct stat st;
    ASSERT_EQ(::lstat(target.c_str(), &st), 0);
    if (c.copied) {
      EXPECT_TRUE(S_ISREG(st.st_mode));
      EXPECT_EQ(test::ReadFile(target), content);
    }
    if (c.before == Before::SameFile) {
      // The self-copy refuses before removing anything, so the player sees the failure box.
      EXPECT_FALSE(RunSelfCopy(running));
      EXPECT_EQ(test::ReadFile(running), content);
      EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"Zarn", "zarn"}));
    }
  }
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
