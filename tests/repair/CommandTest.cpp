// The real launcher's "--verify" and "--repair": exit codes, the report on standard output,
// and no window (the tests run without a display).
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <filesystem>

#include "net/NetTestSupport.h"
#include "repair/RepairSupport.h"
#include "support/Guards.h"

namespace fs = std::filesystem;

namespace zarn {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

struct LauncherRun {
  int status = -1;
  std::string out, err;
};

LauncherRun Launcher(const std::vector<std::string>& args, const std::string& scratch) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const std::string outPath = scratch + "/zarn.out", errPath = scratch + "/zarn.err";
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<std::string> all{ZARN_LAUNCHER};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  LauncherRun run;
  pid_t pid = 0;
  int status = 0;
  if (posix_spawn(&pid, ZARN_LAUNCHER, &actions, nullptr, argv.data(), environ) == 0 &&
      waitpid(pid, &status, 0) == pid && WIFEXITED(status))
    run.status = WEXITSTATUS(status);
  posix_spawn_file_actions_destroy(&actions);
  run.out = ReadFile(outPath);
  run.err = ReadFile(errPath);
  return run;
}

TEST(CheckCommand, VerifyReportsRepairMendsAndExitCodesSayWhich) {
  test::ClearProxyEnvironment();
  TempDir dir;
  std::string error;
  const test::PublishedGame game = test::PublishGame(dir, 30, 20000, &error);
  ASSERT_FALSE(game.content.empty()) << error;
  const std::string player = dir.file("player");
  test::InstallGame(game, player);
  test::Nginx nginx(game.content, dir.file(""));
  ASSERT_TRUE(nginx.running());
  // The storage base (HuaWeiCDN=0 in the player's ClientConfig.cfg); no display at all.
  test::EnvGuard storage("ZARN_STORAGE_BASE_URL", nginx.url("/"));
  test::EnvGuard cdn("ZARN_CDN_BASE_URL", "http://127.0.0.1:1/");
  test::EnvGuard display("DISPLAY", std::nullopt);
  test::EnvGuard wayland("WAYLAND_DISPLAY", std::nullopt);
  test::EnvGuard platform("QT_QPA_PLATFORM", std::nullopt);

  LauncherRun run = Launcher({"--verify", player}, dir.path());
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(run.out, std::to_string(game.files.size()) + " files checked, 0 missing, 0 damaged\n");

  fs::remove(player + "/data/d1/f12.bin");
  WriteFile(player + "/bin/lib.so", "mod");
  run = Launcher({"--verify", player}, dir.path());
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_EQ(run.out, "damaged: bin/lib.so\nmissing: data/d1/f12.bin\n" + std::to_string(game.files.size()) +
                         " files checked, 1 missing, 1 damaged\n");
  EXPECT_NE(run.err.find("checking: 100%"), std::string::npos) << run.err;

  run = Launcher({"--repair", player}, dir.path());
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("2 files repaired, 0 not"), std::string::npos) << run.out;
  for (const auto& [name, bytes] : game.files) EXPECT_EQ(ReadFile(player + "/" + name), bytes) << name;
  EXPECT_EQ(Launcher({"--verify", player}, dir.path()).status, 0);

  // Could not check: no installed manifest, a list that cannot be had, a bad argument.
  fs::remove_all(player + "/index");
  {
    test::EnvGuard nowhere("ZARN_STORAGE_BASE_URL", "http://127.0.0.1:1/");
    EXPECT_EQ(Launcher({"--verify", player}, dir.path()).status, 2);
  }
  EXPECT_EQ(Launcher({"--verify", dir.file("master")}, dir.path()).status, 2);
  EXPECT_EQ(Launcher({"--verify", dir.file("nothing-here")}, dir.path()).status, 2);
  EXPECT_EQ(Launcher({"--repair", player, "extra"}, dir.path()).status, 2);
}

}  // namespace
}  // namespace zarn
