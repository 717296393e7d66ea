#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "install/InstallCore.h"
#include "platform/Process.h"
#include "platform/Prompt.h"
#include "support/TestSupport.h"

namespace zarn {
namespace {

using namespace std::chrono_literals;

// Stands in for a launcher: writes its working folder and arguments beside itself.
const char kRecorder[] =
    "#!/bin/sh\n"
    "d=\"${0%/*}\"\n"
    "{ pwd; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } > \"$d/ran.tmp\"\n"
    "mv \"$d/ran.tmp\" \"$d/ran.txt\"\n";

void MakeLauncher(const std::string& path) {
  test::WriteFile(path, kRecorder);
  ASSERT_EQ(::chmod(path.c_str(), 0755), 0);
}

std::string WaitForFile(const std::string& path) {
  for (int i = 0; i < 500 && !test::Exists(path); ++i) std::this_thread::sleep_for(10ms);
  return test::ReadFile(path);
}

// An installed tree under a prefix: the start command in bin and the packaged launcher with its
// marker in the application folder.
struct InstalledTree {
  test::TempDir dir;
  std::string prefix = dir.file("usr");
  std::string start = prefix + "/" ZARN_INSTALL_BINDIR "/zarn";
  std::string appDir = prefix + "/" ZARN_INSTALL_APPDIR;
  std::string home = dir.file("home/player");

  InstalledTree() {
    test::WriteFile(start, test::ReadFile(ZARN_START_SCRIPT));
    EXPECT_EQ(::chmod(start.c_str(), 0755), 0);
    MakeLauncher(appDir + "/zarn");
    test::WriteFile(appDir + "/" + kPackagedMarkerName, "packaged\n");
  }

  // Runs the start command as the player, from another folder, and waits for it.
  int Run(const std::string& args = "") const {
    const std::string command = "cd / && env -i PATH=/usr/bin:/bin HOME='" + home + "' XDG_CONFIG_HOME='" +
                                home + "/.config' /bin/sh '" + start + "' " + args;
    return std::system(command.c_str());
  }
};

TEST(StartCommand, RunsThePlayersGameFolderElseThePackagedLauncher) {
  enum Setup { kNothing, kHomeGameFolder, kHomeFolderWithoutConfig, kDesktopEntryFolder, kEntryToNowhere };
  const struct {
    const char* name;
    Setup setup;
    std::string ranIn;  // folder (relative to home, or "app") whose launcher must have run
  } cases[] = {
      {"no game folder: the packaged launcher, from its folder", kNothing, "app"},
      {"~/Kelmar with its configuration", kHomeGameFolder, "Kelmar"},
      {"~/Kelmar without a configuration is no game folder", kHomeFolderWithoutConfig, "app"},
      {"the folder of the desktop entry, blanks and all", kDesktopEntryFolder, "My Games/Kelmar"},
      {"a desktop entry naming a missing folder", kEntryToNowhere, "app"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    InstalledTree tree;
    switch (c.setup) {
      case kNothing:
        break;
      case kHomeGameFolder:
        MakeLauncher(tree.home + "/Kelmar/zarn");
        test::WriteFile(tree.home + "/Kelmar/ClientConfig.cfg", "");
        break;
      case kHomeFolderWithoutConfig:
        MakeLauncher(tree.home + "/Kelmar/zarn");
        break;
      case kDesktopEntryFolder:
        MakeLauncher(tree.home + "/My Games/Kelmar/zarn");
        test::WriteFile(tree.home + "/My Games/Kelmar/ClientConfig.cfg", "");
        // A game folder in ~/Kelmar as well: the desktop entry names the one in use.
        MakeLauncher(tree.home + "/Kelmar/zarn");
        test::WriteFile(tree.home + "/Kelmar/ClientConfig.cfg", "");
        test::WriteFile(tree.home + "/.config/user-dirs.dirs", "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n");
        test::WriteFile(tree.home + "/Schreibtisch/Kelmar.desktop",
                        "[Desktop Entry]\nType=Application\nName=Kelmar\nExec=\"" + tree.home +
                            "/My Games/Kelmar/zarn\"\nPath=" + tree.home + "/My Games/Kelmar\n");
        break;
      case kEntryToNowhere:
        test::WriteFile(tree.home + "/Desktop/Kelmar.desktop",
                        "[Desktop Entry]\nExec=/gone/zarn\nPath=/gone\n");
        break;
    }
    ASSERT_EQ(tree.Run("-agent:77 'two words'"), 0);
    const std::string folder = c.ranIn == "app" ? tree.appDir : tree.home + "/" + c.ranIn;
    EXPECT_EQ(WaitForFile(folder + "/ran.txt"), folder + "\n-agent:77\ntwo words\n");
    for (const std::string& other : {tree.appDir, tree.home + "/Kelmar", tree.home + "/My Games/Kelmar"}) {
      if (other == folder) continue;
      EXPECT_FALSE(test::Exists(other + "/ran.txt")) << other;
    }
  }
}

class InstallFromPackage : public ::testing::Test {
 protected:
  void SetUp() override {
    SetExitProcessHook([this](int code) { exitCodes.push_back(code); });
    SetPromptHandler([this](const PromptRequest& r) {
      prompts.push_back(r.text);
      return IDOK;
    });
  }
  void TearDown() override {
    SetExitProcessHook(nullptr);
    SetPromptHandler(nullptr);
  }
  std::vector<int> exitCodes;
  std::vector<std::string> prompts;
};

TEST_F(InstallFromPackage, ThePackagedLauncherStaysADownloadedOneIsRemoved) {
  for (const bool packaged : {true, false}) {
    SCOPED_TRACE(packaged ? "packaged" : "downloaded");
    test::TempDir dir;
    const std::string setup = dir.file("lib/kelmar/zarn");
    MakeLauncher(setup);
    if (packaged) test::WriteFile(dir.file("lib/kelmar/") + kPackagedMarkerName, "");
    EXPECT_EQ(IsPackagedLauncher(setup), packaged);
    exitCodes.clear();

    EXPECT_TRUE(InstallInto(dir.file("home"), setup, ""));

    EXPECT_EQ(test::ReadFile(dir.file("home/Kelmar/zarn")), kRecorder);
    EXPECT_TRUE(test::Exists(dir.file("home/Kelmar/ClientConfig.cfg")));
    EXPECT_FALSE(WaitForFile(dir.file("home/Kelmar/ran.txt")).empty());
    // The marker stays with the package: the game folder's launcher is the player's own.
    EXPECT_FALSE(IsPackagedLauncher(dir.file("home/Kelmar/zarn")));
    EXPECT_EQ(test::Exists(setup), packaged);
    EXPECT_EQ(exitCodes, std::vector<int>{0});
    EXPECT_TRUE(prompts.empty());
  }
}

}  // namespace
}  // namespace zarn
