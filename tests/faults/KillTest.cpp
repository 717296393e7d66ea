// The launcher killed (SIGKILL) in the middle of its update and started again: a driver process
// runs the update on a real game folder and is killed during a download, during an extraction,
// at random steps of the road and during the manifest commit. After every kill the folder must
// claim nothing that is not in place, and the next start must complete it.
#include <gtest/gtest.h>
#include <signal.h>

#include <random>
#include <thread>

#include "ChildProcess.h"
#include "FaultFixture.h"
#include "net/NetTestSupport.h"
#include "update/UpdateManifest.h"

namespace zarn::test {
namespace {

using namespace std::chrono_literals;

class KillTest : public ::testing::Test {
 protected:
  std::unique_ptr<ChildProcess> StartLauncher() {
    return std::make_unique<ChildProcess>(
        FaultDriverPath(), std::vector<std::string>{"update", f.game.dir, f.server.base(), "--server", "12"},
        output.file("run-" + std::to_string(++runs) + ".txt"));
  }
  // The next start, not interrupted.
  void StartAgainAndExpectComplete(const std::string& when) {
    auto launcher = StartLauncher();
    EXPECT_EQ(launcher->Wait(), 0) << launcher->Output();
    EXPECT_NE(launcher->Output().find("\ncomplete\n"), std::string::npos) << launcher->Output();
    f.ExpectComplete(when);
  }
  // What the next start decides once it has the published manifest again.
  PackageList NextStartChooses() {
    WriteFile(f.game.dir + "/update.down", ManifestXml(f.content.published));
    return SelectPackages(f.game.dir);
  }

  FaultFixture f;
  TempDir output;  // the driver's output, outside the game folder's parent
  int runs = 0;
};

TEST_F(KillTest, DuringADownload) {
  Route stall;
  stall.fault = Fault::kStallBody;
  stall.bytes = 100000;
  stall.faultyRequests = 1;  // the next start gets the whole file
  f.server.Misbehave("/public/zip/b.zip", stall);

  auto launcher = StartLauncher();
  ASSERT_TRUE(f.server.WaitForStall("/public/zip/b.zip", 20s)) << launcher->Output();
  const std::string partial = f.game.dir + "/download/b.zip.part";
  ASSERT_TRUE(WaitUntil([&] { return Exists(partial) && ReadFile(partial).size() == 100000; }, 10s));
  launcher->Kill();
  EXPECT_EQ(launcher->Wait(), -SIGKILL);

  EXPECT_EQ(ReadFile(f.game.dir + "/update.xml"), f.installedManifest);
  EXPECT_TRUE(IsUnpacked(f.game.dir, f.content.published[0]));  // a.zip came before
  f.ExpectConsistent("killed during the download of b.zip");
  EXPECT_EQ(NextStartChooses(), (PackageList{{"a.zip", "a-2"}, {"b.zip", "b-2"}, {"c.zip", "c-2"}}));
  // The killed launcher's journal has a.zip: the next start goes on at b.zip.
  EXPECT_TRUE(Exists(f.game.dir + "/update.journal"));
  StartAgainAndExpectComplete("started again");
  EXPECT_EQ(f.server.Hits("/public/zip/a.zip"), 1);
  EXPECT_EQ(f.server.Hits("/public/zip/c.zip"), 1);
  EXPECT_FALSE(Exists(f.game.dir + "/update.journal"));
}

TEST_F(KillTest, DuringAnExtraction) {
  // Enough files that the unpacking (with its rest after each file) takes about a second.
  Package& b = f.content.published[1];
  for (int i = 0; i < 600; ++i)
    b.entries.push_back({"b/many/f" + std::to_string(i) + ".txt", "file " + std::to_string(i)});
  f.PublishAll();

  auto launcher = StartLauncher();
  ASSERT_TRUE(WaitUntil([&] { return Exists(f.game.dir + "/b/many/f50.txt"); }, 20s)) << launcher->Output();
  launcher->Kill();
  EXPECT_EQ(launcher->Wait(), -SIGKILL);
  ASSERT_FALSE(Exists(f.game.dir + "/b/many/f599.txt")) << "the extraction ended before the kill";

  EXPECT_EQ(ReadFile(f.game.dir + "/update.xml"), f.installedManifest);
  EXPECT_TRUE(Exists(f.game.dir + "/download/b.zip"));
  f.ExpectConsistent("killed while b.zip was unpacked");
  EXPECT_EQ(NextStartChooses(), (PackageList{{"a.zip", "a-2"}, {"b.zip", "b-2"}, {"c.zip", "c-2"}}));
  StartAgainAndExpectComplete("started again");
}

// Killed again and again at random moments of the road, from the manifest download to the
// server's list; whenever a start gets through, the folder is set back and the kills go on.
TEST_F(KillTest, AtRandomStepsAgainAndAgain) {
  const char* steps[] = {"step manifest",      "step package a.zip",  "step unpack",
                         "step package b.zip", "step package c.zip",  "step commit",
                         "step server list",   "step server archive", "step server list write"};
  std::mt19937 random(20261210);
  int killed = 0, completed = 0;
  for (int round = 0; round < 30; ++round) {
    const std::string step = steps[random() % std::size(steps)];
    const auto extra = std::chrono::microseconds(random() % 15000);
    auto launcher = StartLauncher();
    if (launcher->WaitForOutput(step, 10s)) std::this_thread::sleep_for(extra);
    launcher->Kill();
    const int status = launcher->Wait();
    f.ExpectConsistent("round " + std::to_string(round) + ", killed after " + step);
    if (status == 0) {
      ++completed;
      f.ExpectComplete("round " + std::to_string(round) + " completed");
      f.ResetGameFolder();
    } else {
      EXPECT_EQ(status, -SIGKILL) << launcher->Output();
      ++killed;
    }
    if (HasFailure()) break;
  }
  EXPECT_GT(killed, 10);
  RecordProperty("completed", completed);
  StartAgainAndExpectComplete("the last start");
}

// The commit is one rename after a flush: a kill at any moment leaves "update.xml" either the
// old or the new manifest, whole.
TEST_F(KillTest, DuringTheManifestCommit) {
  TempDir dir;
  const std::string a = ManifestXml(f.content.installed), b = ManifestXml(f.content.published);
  WriteFile(output.file("a.xml"), a);
  WriteFile(output.file("b.xml"), b);
  WriteFile(dir.file("update.xml"), a);
  std::mt19937 random(1597);
  for (int round = 0; round < 100; ++round) {
    ChildProcess loop(FaultDriverPath(),
                      {"commit-loop", dir.path(), output.file("a.xml"), output.file("b.xml")},
                      output.file("commit.txt"));
    ASSERT_TRUE(loop.WaitForOutput("committing", 10s)) << loop.Output();
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
    loop.Kill();
    EXPECT_EQ(loop.Wait(), -SIGKILL);
    const std::string installed = ReadFile(dir.file("update.xml"));
    ASSERT_TRUE(installed == a || installed == b) << "round " << round << ": " << installed;
  }
}

}  // namespace
}  // namespace zarn::test
