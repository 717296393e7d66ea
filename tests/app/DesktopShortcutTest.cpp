#include "app/DesktopShortcut.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>

#include "support/TestSupport.h"
#include "util/IniFile.h"

namespace zarn {
namespace {

using test::EnvGuard;

std::string EntryFor(const std::string& program) {
  return "[Desktop Entry]\nType=Application\nName=Game\nExec=" + DesktopExecValue(program) + "\n";
}

TEST(DesktopFolder, FromUserDirsOrTheDefault) {
  test::TempDir dir;
  const std::string home = dir.file("home");
  const std::string config = dir.file("config");
  EnvGuard h("HOME", home);
  const struct {
    const char* name;
    const char* userDirs;  // nullptr: no file
    std::string expected;
  } cases[] = {
      {"no file", nullptr, home + "/Desktop"},
      {"home relative", "XDG_DOWNLOAD_DIR=\"$HOME/dl\"\nXDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n",
       home + "/Schreibtisch"},
      {"absolute", "# comment\nXDG_DESKTOP_DIR=\"/srv/desk/\"\n", "/srv/desk"},
      {"escaped quote", "XDG_DESKTOP_DIR=\"$HOME/My \\\"Desk\\\"\"\n", home + "/My \"Desk\""},
      {"home itself", "XDG_DESKTOP_DIR=\"$HOME/\"\n", home},
      {"not a path: default", "XDG_DESKTOP_DIR=\"relative/desk\"\n", home + "/Desktop"},
      {"$HOMEX is no home", "XDG_DESKTOP_DIR=\"$HOMEX/desk\"\n", home + "/Desktop"},
      {"unclosed quote", "XDG_DESKTOP_DIR=\"$HOME/desk\n", home + "/Desktop"},
      {"commented out", "#XDG_DESKTOP_DIR=\"$HOME/desk\"\n", home + "/Desktop"},
  };
  EnvGuard x("XDG_CONFIG_HOME", config);
  for (const auto& c : cases) {
    std::remove((config + "/user-dirs.dirs").c_str());
    if (c.userDirs) test::WriteFile(config + "/user-dirs.dirs", c.userDirs);
    EXPECT_EQ(DesktopDirectory(), c.expected) << c.name;
  }
  {
    // Without XDG_CONFIG_HOME the file lies in ~/.config.
    EnvGuard none("XDG_CONFIG_HOME", std::nullopt);
    test::WriteFile(home + "/.config/user-dirs.dirs", "XDG_DESKTOP_DIR=\"$HOME/Bureau\"\n");
    EXPECT_EQ(DesktopDirectory(), home + "/Bureau");
  }
}

TEST(DesktopEntry, ExecValueRoundTrips) {
  const char* const programs[] = {
      "/opt/Kelmar/zarn",   "/home/me/My Games/Kelmar/zarn",
      "/a/\"quoted\"/zarn", "/a/back\\slash/zarn",
      "/a/$HOME/`x`/zarn",  "/a/100%/zarn",
      "/a/%f/zarn",         "/a/new\nline/zarn",
      "/a/tab\there/zarn",  "/a/\xE4\xB8\xAD/zarn",
  };
  for (const char* p : programs) {
    const std::string value = DesktopExecValue(p);
    EXPECT_EQ(value.find('\n'), std::string::npos) << p;
    EXPECT_EQ(DesktopExecProgram(value), p) << value;
  }
  EXPECT_EQ(DesktopExecValue("/opt/My Game/zarn"), "\"/opt/My Game/zarn\"");
  EXPECT_EQ(DesktopExecValue("/a/100%"), "\"/a/100%%\"");
  EXPECT_EQ(DesktopExecValue("/a\\b"), "\"/a\\\\\\\\b\"");  // quoted, then string-escaped
}

TEST(DesktopEntry, ProgramOfForeignExecValues) {
  const std::pair<const char*, const char*> table[] = {
      {"/usr/bin/zarn --flag %U", "/usr/bin/zarn"},
      {"  \"/opt/My Game/zarn\" %f", "/opt/My Game/zarn"},
      {"\"/opt/100%% sure/zarn\"", "/opt/100% sure/zarn"},
      {"zarn", "zarn"},
      {"", ""},
      {"\"/opt/unclosed", "/opt/unclosed"},
  };
  for (auto [exec, program] : table) EXPECT_EQ(DesktopExecProgram(exec), program) << exec;
}

TEST(DesktopEntry, ReadingTheTarget) {
  test::TempDir dir;
  const struct {
    const char* file;
    std::string content;
    bool ok;
    const char* target;
  } cases[] = {
      {"a.desktop", EntryFor("/opt/Kelmar/zarn"), true, "/opt/Kelmar/zarn"},
      {"crlf.desktop", "[Desktop Entry]\r\nExec = \"/opt/x y/zarn\" \r\n", true, "/opt/x y/zarn"},
      {"other-group.desktop", "[Desktop Action new]\nExec=/wrong\n[Desktop Entry]\nExec=/right\n", true,
       "/right"},
      {"only-action.desktop", "[Desktop Entry]\nName=x\n[Desktop Action new]\nExec=/wrong\n", false, ""},
      {"no-group.desktop", "Exec=/opt/zarn\n", false, ""},
      {"empty.desktop", "", false, ""},
      {"Kelmar.lnk", EntryFor("/opt/Kelmar/zarn"), false, ""},
      {"Kelmar.desktop.bak", EntryFor("/opt/Kelmar/zarn"), false, ""},
  };
  for (const auto& c : cases) {
    test::WriteFile(dir.file(c.file), c.content);
    std::string target = "unchanged";
    EXPECT_EQ(ReadShortcutTarget(dir.file(c.file), target), c.ok) << c.file;
    if (c.ok) {
      EXPECT_EQ(target, c.target) << c.file;
    }
  }
  ASSERT_EQ(mkdir(dir.file("folder.desktop").c_str(), 0755), 0);
  std::string target;
  EXPECT_FALSE(ReadShortcutTarget(dir.file("folder.desktop"), target));
  EXPECT_FALSE(ReadShortcutTarget(dir.file("missing.desktop"), target));
}

class DesktopShortcutTest : public ::testing::Test {
 protected:
  DesktopShortcutTest()
      : home_("HOME", dir.file("home")),
        config_("XDG_CONFIG_HOME", dir.file("config")),
        desktop(dir.file("home/Desktop")),
        launcher(dir.file("games/My Games/Kelmar/zarn")),
        configPath(dir.file("games/My Games/Kelmar/ClientConfig.cfg")) {
    test::WriteFile(launcher, "#!/bin/sh\n");
    chmod(launcher.c_str(), 0755);
  }

  test::TempDir dir;
  EnvGuard home_, config_;
  const std::string desktop, launcher, configPath;
};

TEST_F(DesktopShortcutTest, AnEntryStartingTheLauncherIsEnough) {
  test::WriteFile(desktop + "/Kelmar.desktop", EntryFor(launcher));
  test::WriteFile(configPath, "[GameSetup]\nicon=/old\n");
  EXPECT_TRUE(FindDesktopShortcut("Kelmar", launcher));

  EnsureDesktopShortcut(launcher);
  EXPECT_EQ(test::ReadFile(desktop + "/Kelmar.desktop"), EntryFor(launcher));
  EXPECT_EQ(test::ReadFile(configPath), "[GameSetup]\nicon=/old\n");
}

TEST_F(DesktopShortcutTest, AnEntryNamedOtherwiseDoesNotCount) {
  test::WriteFile(desktop + "/Game.desktop", EntryFor(launcher));
  // Every entry the search looks at is listed, "." and ".." included.
  testing::internal::CaptureStdout();
  EXPECT_FALSE(FindDesktopShortcut("Kelmar", launcher));
  const std::string listed = testing::internal::GetCapturedStdout();
  for (const char* name : {"Game.desktop", ".", ".."})
    EXPECT_NE(listed.find(desktop + "/" + name + "\n"), std::string::npos) << listed;

  EnsureDesktopShortcut(launcher);

  EXPECT_EQ(test::ReadFile(desktop + "/Game.desktop"), EntryFor(launcher));
  const std::string created = desktop + "/Kelmar.desktop";
  std::string target;
  ASSERT_TRUE(ReadShortcutTarget(created, target));
  EXPECT_EQ(target, launcher);
  EXPECT_EQ(test::ReadFile(created), "[Desktop Entry]\nType=Application\nName=Kelmar\nExec=\"" + launcher +
                                         "\"\nPath=" + dir.file("games/My Games/Kelmar") + "\nIcon=" +
                                         dir.file("games/My Games/Kelmar/Kelmar.png") + "\nTerminal=false\n");
  struct stat st;
  ASSERT_EQ(stat(created.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0755u);
  EXPECT_EQ(GetPrivateProfileString("GameSetup", "icon", "", configPath), launcher);
  // Now it is found, and a second start writes nothing.
  EXPECT_TRUE(FindDesktopShortcut("Kelmar", launcher));
  ASSERT_TRUE(WritePrivateProfileString("GameSetup", "icon", "marker", configPath));
  EnsureDesktopShortcut(launcher);
  EXPECT_EQ(GetPrivateProfileString("GameSetup", "icon", "", configPath), "marker");
}

TEST_F(DesktopShortcutTest, AnEntryPointingElsewhereIsOverwritten) {
  test::WriteFile(desktop + "/Kelmar.desktop", EntryFor("/old/install/Kelmar/zarn"));
  test::WriteFile(configPath, "[GameSetup]\r\nHuaWeiCDN=1\r\nicon=/old/install/Kelmar/zarn\r\n");
  EnsureDesktopShortcut(launcher);
  std::string target;
  ASSERT_TRUE(ReadShortcutTarget(desktop + "/Kelmar.desktop", target));
  EXPECT_EQ(target, launcher);
  EXPECT_EQ(test::ReadFile(configPath), "[GameSetup]\r\nHuaWeiCDN=1\r\nicon=" + launcher + "\r\n");
}

TEST_F(DesktopShortcutTest, ADesktopWhosePathHoldsTheGameNamePassesEveryEntry) {
  test::WriteFile(dir.file("config/user-dirs.dirs"), "XDG_DESKTOP_DIR=\"$HOME/KelmarDesk\"\n");
  test::WriteFile(dir.file("home/KelmarDesk/Game.desktop"), EntryFor(launcher));
  EXPECT_TRUE(FindDesktopShortcut("Kelmar", launcher));
  EnsureDesktopShortcut(launcher);
  EXPECT_FALSE(test::Exists(dir.file("home/KelmarDesk/Kelmar.desktop")));
}

TEST_F(DesktopShortcutTest, TheTargetIsComparedByteForByte) {
  test::WriteFile(desktop + "/Kelmar.desktop", EntryFor(dir.file("games/My Games/kelmar/zarn")));
  EXPECT_FALSE(FindDesktopShortcut("Kelmar", launcher));
  test::WriteFile(desktop + "/Kelmar.desktop", EntryFor(launcher + "/"));
  EXPECT_FALSE(FindDesktopShortcut("Kelmar", launcher));
}

TEST_F(DesktopShortcutTest, NoDesktopFolderIsSilent) {
  EnsureDesktopShortcut(launcher);
  EXPECT_FALSE(test::Exists(desktop));
  EXPECT_FALSE(test::Exists(dir.file("home/Kelmar.desktop")));
  EXPECT_FALSE(FindDesktopShortcut("Kelmar", launcher));
  // The desktop folder is not made, so nothing can start the launcher from there.
  EXPECT_FALSE(CreateShortcut(launcher, desktop + "/Kelmar.desktop"));
}

TEST_F(DesktopShortcutTest, CreateReplacesALinkInsteadOfWritingThroughIt) {
  test::WriteFile(dir.file("elsewhere.txt"), "keep me");
  test::WriteFile(desktop + "/placeholder", "");
  ASSERT_EQ(symlink(dir.file("elsewhere.txt").c_str(), (desktop + "/Kelmar.desktop").c_str()), 0);
  ASSERT_TRUE(CreateShortcut(launcher, desktop + "/Kelmar.desktop"));
  EXPECT_EQ(test::ReadFile(dir.file("elsewhere.txt")), "keep me");
  struct stat st;
  ASSERT_EQ(lstat((desktop + "/Kelmar.desktop").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
}

// The entry names the game's icon, written beside the launcher: the launcher's own 64 x 64 PNG.
TEST_F(DesktopShortcutTest, TheEntryNamesTheIconBesideTheLauncher) {
  const std::string icon = dir.file("games/My Games/Kelmar/Kelmar.png");
  const std::string link = desktop + "/Kelmar.desktop";
  test::WriteFile(desktop + "/placeholder", "");
  const struct {
    const char* name;
    std::function<void()> before;
  } cases[] = {
      {"no icon yet", [] {}},
      {"an old icon", [&] { test::WriteFile(icon, "old picture"); }},
      {"a link where the icon goes",
       [&] {
         test::WriteFile(dir.file("elsewhere.png"), "keep");
         ASSERT_EQ(symlink(dir.file("elsewhere.png").c_str(), icon.c_str()), 0);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ::unlink(icon.c_str());
    c.before();
    ASSERT_TRUE(CreateShortcut(launcher, link));
    EXPECT_NE(test::ReadFile(link).find("\nIcon=" + icon + "\n"), std::string::npos) << test::ReadFile(link);
    struct stat st;
    ASSERT_EQ(lstat(icon.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    const std::string png = test::ReadFile(icon);
    ASSERT_GE(png.size(), 24u);
    EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    // IHDR: width and height, big-endian.
    EXPECT_EQ(png.substr(16, 8), std::string("\0\0\0\x40\0\0\0\x40", 8));
  }
  EXPECT_EQ(test::ReadFile(dir.file("elsewhere.png")), "keep");
}

TEST_F(DesktopShortcutTest, AProgramWithoutFolderRunsInItsOwnPath) {
  test::WriteFile(desktop + "/placeholder", "");
  ASSERT_TRUE(CreateShortcut("zarn", desktop + "/Kelmar.desktop"));
  EXPECT_NE(test::ReadFile(desktop + "/Kelmar.desktop").find("\nPath=zarn\n"), std::string::npos);
}

}  // namespace
}  // namespace zarn
