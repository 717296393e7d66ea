// Network and archive faults met on the update road: what the player is told (the download
// report code that the retry prompt shows, or the extraction result behind "解压文件失败!!"),
// what the game folder holds afterwards, and that the next start completes the update.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <tuple>

#include "FaultCases.h"
#include "FaultFixture.h"
#include "net/CFileDown.h"
#include "support/UpdateRunner.h"
#include "update/Extract.h"

namespace zarn::test {
namespace {

using namespace std::chrono_literals;

// Each fault with one download at a time and with four at once: the same prompt, the same
// folder afterwards.
class RoadFaultTest : public ::testing::TestWithParam<std::tuple<FaultCase, int>> {};

TEST_P(RoadFaultTest, PlayerIsToldFolderStaysRepairableAndTheNextStartCompletes) {
  const FaultCase& c = std::get<0>(GetParam());
  FaultFixture f;
  RoadOptions options;
  options.downloads = std::get<1>(GetParam());
  options.serverId = "12";
  options.download.connectTimeout = 500ms;
  options.download.receiveTimeout = 700ms;
  std::string base = f.server.base();
  c.arrange(f, base);
  const bool absoluteExisted = Exists(AbsoluteProbe());

  const RoadOutcome outcome = RunUpdateSession(f.game.dir, base, options);
  EXPECT_EQ(outcome.kind, c.kind) << DescribeOutcome(outcome);
  EXPECT_EQ(outcome.code, c.code) << DescribeOutcome(outcome);
  if (c.kind != RoadOutcome::kComplete) {
    const std::string failed = f.game.dir + "/" + c.failedPath;
    EXPECT_EQ(outcome.localPath, failed);
    if (c.localBytes == -1) {
      EXPECT_FALSE(Exists(failed));
    } else if (c.localBytes == -2) {
      // The archive stays where it was downloaded, for the next attempt to replace.
      EXPECT_TRUE(Exists(failed));
    } else {
      // A download cut off keeps what arrived in its partial file, for the next try to go on
      // from; the target itself appears only once the file is whole.
      const bool download = c.kind == RoadOutcome::kDownloadFailed;
      if (download) {
        EXPECT_FALSE(Exists(failed));
      }
      EXPECT_EQ(static_cast<long>(ReadFile(download ? failed + ".part" : failed).size()), c.localBytes);
    }
    // The packages are claimed only once all of them are unpacked; the server's own data comes
    // after that commit.
    const bool serverStep = std::string(c.failedPath).find("12.") != std::string::npos;
    EXPECT_EQ(ReadFile(f.game.dir + "/update.xml"),
              serverStep ? ManifestXml(f.content.published) : f.installedManifest);
    EXPECT_TRUE(!serverStep || ReadFile(f.game.dir + "/Custom/12/12.data") == "srv-1");
  }
  EXPECT_EQ(Exists(AbsoluteProbe()), absoluteExisted);
  f.ExpectConsistent("after the fault");
  EXPECT_TRUE(IsUnpacked(f.game.dir, f.content.installed[2])) << "a package not chosen was touched";

  // The next start, with the network and the publisher sound again.
  f.PublishAll();
  const RoadOutcome next = RunUpdateSession(f.game.dir, f.server.base(), options);
  EXPECT_EQ(next.kind, RoadOutcome::kComplete) << DescribeOutcome(next);
  f.ExpectComplete("after the next start");
}

INSTANTIATE_TEST_SUITE_P(Faults, RoadFaultTest,
                         ::testing::Combine(::testing::ValuesIn(FaultCases()), ::testing::Values(1, 4)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) + "_Downloads" +
                                  std::to_string(std::get<1>(info.param));
                         });

// A publisher's keys that would name files outside the download folder are never fetched.
TEST(HostileManifestTest, KeysOutsideTheDownloadFolderAreNotFetched) {
  FaultFixture f;
  std::vector<Package> published = f.content.published;
  published.push_back({"../escape.zip", "1", {{"x.txt", "x"}}});
  published.push_back({"/tmp/abs.zip", "1", {{"x.txt", "x"}}});
  published.push_back({"sub\\..\\..\\back.zip", "1", {{"x.txt", "x"}}});
  f.server.Serve("/public/update.xml", ManifestXml(published));
  RoadOptions options;
  options.serverId = "12";
  const RoadOutcome outcome = RunUpdateSession(f.game.dir, f.server.base(), options);
  EXPECT_EQ(outcome.kind, RoadOutcome::kComplete) << DescribeOutcome(outcome);
  EXPECT_EQ(outcome.packagesChosen, 3);  // a, b, c
  // The manifest, a, b and c, the server list and its archive: nothing else was asked for.
  EXPECT_EQ(f.server.TotalHits(), 6);
  EXPECT_TRUE(f.game.ParentSnapshot() == f.parentBefore);
  for (const Package& p : f.content.published) EXPECT_TRUE(IsUnpacked(f.game.dir, p)) << p.key;
}

}  // namespace
}  // namespace zarn::test
