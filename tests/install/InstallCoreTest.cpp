#include "install/InstallCore.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/Process.h"
#include "platform/Prompt.h"
#include "support/TestSupport.h"
#include "util/CodePage.h"
#include "util/IniFile.h"

namespace zarn {
namespace {

using namespace std::chrono_literals;

TEST(InstallRoot, ChoiceAsATable) {
  const struct {
    const char* name;
    std::vector<RootCandidate> candidates;
    const char* expected;
  } cases[] = {
      {"largest wins", {{"/home/me/", 10}, {"/media/me/disk/", 30}, {"/mnt/data/", 20}}, "/media/me/disk/"},
      {"tie keeps the first in byte order",
       {{"/mnt/b/", 50}, {"/home/me/", 50}, {"/mnt/a/", 50}},
       "/home/me/"},
      {"tie with listing order reversed", {{"/mnt/a/", 7}, {"/home/me/", 7}}, "/home/me/"},
      {"byte order, not case order", {{"/mnt/b/", 5}, {"/mnt/B/", 5}}, "/mnt/B/"},
      {"bytes above 0x7F sort after ASCII", {{"/mnt/\xC3\xA9/", 5}, {"/mnt/z/", 5}}, "/mnt/z/"},
      {"0 free never chosen", {{"/home/me/", 0}, {"/mnt/a/", 0}}, ""},
      {"0 free beside a small one", {{"/a/", 0}, {"/b/", 1}}, "/b/"},
      {"beyond 32 bits", {{"/a/", 5000000000ull}, {"/b/", 4999999999ull}}, "/a/"},
      {"none", {}, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ChooseInstallRoot(c.candidates), c.expected) << c.name;
}

TEST(InstallRoot, LocalDiskMountPointsFromTheMountsTable) {
  const std::string mounts =
      "/dev/sda2 / ext4 rw,relatime 0 0\n"
      "proc /proc proc rw,nosuid 0 0\n"
      "sysfs /sys sysfs rw 0 0\n"
      "tmpfs /run tmpfs rw 0 0\n"
      "tmpfs /mnt/ram tmpfs rw 0 0\n"
      "/dev/sdb1 /media/me/USB\\040Stick vfat rw,uid=1000 0 0\n"
      "/dev/sdc1 /mnt/data/ ext4 rw 0 0\n"
      "/dev/sdd1 /mnt/cdrom iso9660 ro,nosuid 0 0\n"
      "/dev/sde1 /run/media/me/backup fuseblk rw,user_id=0 0 0\n"
      "/dev/sdf1 /srv/games ext4 rw 0 0\n"
      "/dev/sdg1 /mediaX ext4 rw 0 0\n"
      "server:/export /mnt/nfs nfs4 rw 0 0\n"
      "/dev/loop0 /media/snap squashfs ro 0 0\n"
      "/dev/sdh1 /mnt ext4 rw 0 0\n"
      "broken line\n";
  EXPECT_EQ(LocalDiskMountPoints(mounts),
            (std::vector<std::string>{"/media/me/USB Stick", "/mnt/data", "/run/media/me/backup", "/mnt"}));
  EXPECT_TRUE(LocalDiskMountPoints("").empty());
}

TEST(InstallRoot, DiscoveryOffersAWritableHomeWithItsFreeSpace) {
  test::TempDir dir;
  const std::string mounts = dir.file("mounts");
  // Mount points that do not exist here are left out; so is every memory file system.
  test::WriteFile(mounts, "/dev/sdz9 /media/zarn-test-absent ext4 rw 0 0\ntmpfs /mnt/x tmpfs rw 0 0\n");
  const auto found = DiscoverInstallRoots(dir.path(), mounts);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].root, dir.path() + "/");
  struct statvfs vfs;
  ASSERT_EQ(statvfs(dir.path().c_str(), &vfs), 0);
  const uint64_t total = static_cast<uint64_t>(vfs.f_blocks) * vfs.f_frsize;
  EXPECT_GT(found[0].freeBytes, 0u);
  EXPECT_LE(found[0].freeBytes, total);

  // A trailing separator on the home folder does not double.
  EXPECT_EQ(DiscoverInstallRoots(dir.path() + "/", mounts).at(0).root, dir.path() + "/");
  EXPECT_TRUE(DiscoverInstallRoots("/", mounts).empty());
  EXPECT_TRUE(DiscoverInstallRoots("/usr/lib/service", mounts).empty());
  EXPECT_TRUE(DiscoverInstallRoots(dir.file("missing"), mounts).empty());
  EXPECT_TRUE(DiscoverInstallRoots("", dir.file("no-mounts")).empty());
  test::WriteFile(dir.file("plain"), "x");
  EXPECT_TRUE(DiscoverInstallRoots(dir.file("plain"), mounts).empty());
}

TEST(InstallRoot, FolderText) {
  EXPECT_EQ(InstallFolderText("/home/me/"), "/home/me/Kelmar/");
  EXPECT_EQ(InstallFolderText("/home/me/Games"), "/home/me/Games/Kelmar/");
  EXPECT_EQ(InstallFolderText(""), "Kelmar/");
}

TEST(InstallAgent, IdentifierFromTheCommandLine) {
  const std::pair<const char*, const char*> table[] = {
      {"-agent:1234 -foo", "1234"},
      {"-agent:1234", "1234"},
      {"-foo -agent:", ""},
      {"-agent: 99", ""},
      {"", ""},
      {"-foo bar", ""},
      {"-Agent:5", ""},  // case-sensitive
      {"x-agent:7y z", "7y"},
      {"-agent:first -agent:second", "first"},
      {"-agent:a\tb c", "a\tb"},  // only a blank ends it
  };
  for (auto [tail, id] : table) EXPECT_EQ(AgentIdFromCommandLine(tail), id) << '"' << tail << '"';
}

TEST(InstallPaths, TargetAndConfiguration) {
  const struct {
    const char* root;
    const char* running;
    const char* target;
    const char* config;
  } cases[] = {
      {"/data/Games", "/home/me/dl/zarn", "/data/Games/Kelmar/zarn", "/data/Games/Kelmar/ClientConfig.cfg"},
      {"/data/Games/", "/home/me/dl/zarn", "/data/Games/Kelmar/zarn", "/data/Games/Kelmar/ClientConfig.cfg"},
      {"/", "/tmp/zarn", "/Kelmar/zarn", "/Kelmar/ClientConfig.cfg"},
      {"/media/me/USB Stick/", "/tmp/a b/zarn", "/media/me/USB Stick/Kelmar/zarn",
       "/media/me/USB Stick/Kelmar/ClientConfig.cfg"},
  };
  for (const auto& c : cases) {
    const InstallPaths p = InstallPathsFor(c.root, c.running);
    EXPECT_EQ(p.target, c.target) << c.root;
    EXPECT_EQ(p.configPath, c.config) << c.root;
    EXPECT_EQ(p.root.back(), '/');
  }
}

// A "launcher" that records how it was started into started.txt beside itself.
const char kRecorderScript[] =
    "#!/bin/sh\n"
    "d=\"${0%/*}\"\n"
    "{ printf '%s\\n' \"$0\"; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } > \"$d/started.tmp\"\n"
    "mv \"$d/started.tmp\" \"$d/started.txt\"\n";

class InstallIntoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetExitProcessHook([this](int code) { exitCodes.push_back(code); });
    SetPromptHandler([this](const PromptRequest& r) {
      prompts.push_back(r);
      return IDOK;
    });
  }
  void TearDown() override {
    SetExitProcessHook(nullptr);
    SetPromptHandler(nullptr);
  }

  std::string MakeSetupFile(const std::string& path) {
    test::WriteFile(path, kRecorderScript);
    EXPECT_EQ(chmod(path.c_str(), 0755), 0);
    return path;
  }

  static std::string WaitForFile(const std::string& path) {
    for (int i = 0; i < 500 && !test::Exists(path); ++i) std::this_thread::sleep_for(10ms);
    return test::ReadFile(path);
  }

  static bool IsExecutable(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && (st.st_mode & S_IXUSR);
  }

  test::TempDir home;
  std::vector<int> exitCodes;
  std::vector<PromptRequest> prompts;
};

TEST_F(InstallIntoTest, InstallsCopiesConfiguresStartsAndRemovesTheSetupFile) {
  for (const std::string suffix : {"", "/"}) {
    SCOPED_TRACE("root suffix '" + suffix + "'");
    test::TempDir dir;
    const std::string setup = MakeSetupFile(dir.file("My Downloads/kelmar-setup"));
    const std::string root = dir.file("Games") + suffix;
    exitCodes.clear();

    EXPECT_TRUE(InstallInto(root, setup, "-agent:1234 -foo"));

    const std::string target = dir.file("Games/Kelmar/kelmar-setup");
    EXPECT_EQ(test::ReadFile(target), kRecorderScript);
    EXPECT_TRUE(IsExecutable(target));
    EXPECT_EQ(test::ReadFile(dir.file("Games/Kelmar/ClientConfig.cfg")),
              "[GameSetup]\nHuaWeiCDN=1\nexe_del=" + setup + "\n[agent]\n1033=1234\n");
    // The installed launcher really ran, with the setup file's path as its one argument.
    EXPECT_EQ(WaitForFile(dir.file("Games/Kelmar/started.txt")), target + "\n" + setup + "\n");
    EXPECT_FALSE(test::Exists(setup));
    EXPECT_EQ(exitCodes, std::vector<int>{0});
    EXPECT_TRUE(prompts.empty());
  }
}

TEST_F(InstallIntoTest, WithoutAgentTheKeyIsWrittenEmpty) {
  const std::string setup = MakeSetupFile(home.file("setup"));
  EXPECT_TRUE(InstallInto(home.path(), setup, ""));
  EXPECT_EQ(test::ReadFile(home.file("Kelmar/ClientConfig.cfg")),
            "[GameSetup]\nHuaWeiCDN=1\nexe_del=" + setup + "\n[agent]\n1033=\n");
  EXPECT_FALSE(WaitForFile(home.file("Kelmar/started.txt")).empty());
}

TEST_F(InstallIntoTest, AnExistingConfigurationKeepsItsOtherSettings) {
  const std::string setup = MakeSetupFile(home.file("dl/zarn"));
  test::WriteFile(home.file("Kelmar/ClientConfig.cfg"),
                  "[Game_Data_Set]\r\nisWindows=0\r\nTextrueCompressed=1\r\n"
                  "[GameSetup]\r\nHuaWeiCDN=0\r\nicon=/old/zarn\r\n; kept comment\r\n"
                  "[agent]\r\n1033=old\r\nother=5\r\n");
  EXPECT_TRUE(InstallInto(home.path() + "/", setup, "-agent:A7"));
  EXPECT_EQ(test::ReadFile(home.file("Kelmar/ClientConfig.cfg")),
            "[Game_Data_Set]\r\nisWindows=0\r\nTextrueCompressed=1\r\n"
            "[GameSetup]\r\nHuaWeiCDN=1\r\nicon=/old/zarn\r\nexe_del=" +
                setup + "\r\n; kept comment\r\n[agent]\r\n1033=A7\r\nother=5\r\n");
  EXPECT_FALSE(WaitForFile(home.file("Kelmar/started.txt")).empty());
}

TEST_F(InstallIntoTest, FromTheInstallLocationItselfNothingIsCopiedOrDeleted) {
  const std::string installed = MakeSetupFile(home.file("Kelmar/zarn"));
  struct stat before;
  ASSERT_EQ(stat(installed.c_str(), &before), 0);

  EXPECT_TRUE(InstallInto(home.path(), installed, "-agent:9"));

  struct stat after;
  ASSERT_EQ(stat(installed.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);  // not replaced by a copy
  EXPECT_EQ(test::ReadFile(installed), kRecorderScript);
  EXPECT_EQ(GetPrivateProfileString("agent", "1033", "", home.file("Kelmar/ClientConfig.cfg")), "9");
  EXPECT_EQ(WaitForFile(home.file("Kelmar/started.txt")), installed + "\n" + installed + "\n");
  EXPECT_EQ(exitCodes, std::vector<int>{0});
}

TEST_F(InstallIntoTest, AnotherSpellingOfTheRunningPathIsStillTheInstallLocation) {
  const std::string installed = MakeSetupFile(home.file("Kelmar/zarn"));
  // "<home>/./" names the same folder: copying over the target would delete the running file.
  EXPECT_TRUE(InstallInto(home.path() + "/./", installed, ""));
  EXPECT_EQ(test::ReadFile(installed), kRecorderScript);
  EXPECT_TRUE(IsExecutable(installed));
  EXPECT_FALSE(WaitForFile(home.file("Kelmar/started.txt")).empty());
}

TEST_F(InstallIntoTest, AFailedCopyShowsTheTargetAndChangesNothingElse) {
  // Writing fails for root too: the root lies under a regular file.
  const std::string setup = MakeSetupFile(home.file("setup"));
  test::WriteFile(home.file("blocker"), "not a folder");
  const std::string root = home.file("blocker/games");

  EXPECT_FALSE(InstallInto(root, setup, "-agent:1"));

  ASSERT_EQ(prompts.size(), 1u);
  EXPECT_EQ(prompts[0].text, root + "/Kelmar/setup");
  EXPECT_EQ(prompts[0].caption, Utf8ToAnsi("安装失败"));
  EXPECT_TRUE(prompts[0].type & MB_ICONERROR);
  EXPECT_TRUE(exitCodes.empty());
  EXPECT_EQ(test::ReadFile(setup), kRecorderScript);
  EXPECT_EQ(test::ReadFile(home.file("blocker")), "not a folder");
  std::this_thread::sleep_for(100ms);
  EXPECT_FALSE(test::Exists(home.file("started.txt")));
}

TEST_F(InstallIntoTest, FailureCaptionInGbk) {
  SetAnsiCodeSet("GBK");
  const std::string setup = MakeSetupFile(home.file("setup"));
  test::WriteFile(home.file("blocker"), "x");
  EXPECT_FALSE(InstallInto(home.file("blocker"), setup, ""));
  SetAnsiCodeSet("");
  ASSERT_EQ(prompts.size(), 1u);
  EXPECT_EQ(prompts[0].caption, "\xB0\xB2\xD7\xB0\xCA\xA7\xB0\xDC");
}

TEST_F(InstallIntoTest, AnEmptyRootInstallsNothing) {
  const std::string setup = MakeSetupFile(home.file("setup"));
  EXPECT_FALSE(InstallInto("", setup, "-agent:1"));
  EXPECT_TRUE(prompts.empty());
  EXPECT_TRUE(exitCodes.empty());
  EXPECT_TRUE(test::Exists(setup));
  EXPECT_FALSE(test::Exists("Kelmar/ClientConfig.cfg"));
}

}  // namespace
}  // namespace zarn
