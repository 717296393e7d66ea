// The update road with several packages downloading at once, served by nginx behind the fault
// proxy of the tests: the game folder ends up exactly as with one download at a time, archives
// are unpacked in key order, and a package that fails for good ends the round at one prompt
// with the other packages' partial files kept for the next round.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <thread>

#include "net/NetTestSupport.h"
#include "support/Guards.h"
#include "support/NginxServer.h"
#include "support/TestSupport.h"
#include "support/UpdateRunner.h"
#include "update/ZipBuilder.h"
#include "util/Paths.h"

namespace zarn::test {
namespace {

using namespace std::chrono_literals;

constexpr int64_t kKiB = 1024;

// Every file under root, by its path relative to root, with its bytes.
std::map<std::string, std::string> FolderContents(const std::string& root) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    const std::string relative = std::filesystem::relative(entry.path(), root).string();
    files[relative] = entry.is_regular_file() ? ReadFile(entry.path().string()) : std::string("<folder>");
  }
  return files;
}

bool HasRange(const std::string& request) { return request.find("\r\nRange: bytes=") != std::string::npos; }

class ParallelRoadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearProxyEnvironment();
    ASSERT_TRUE(nginx.Started()) << nginx.ErrorLog();
    options.serverId = "0";  // no data of its own: the road ends with the packages
    options.download.connectTimeout = 500ms;
    options.download.receiveTimeout = 2000ms;
  }

  // Packages in key order; every archive writes "shared/same.txt" (the last key must win) and a
  // file of its own; one package is no archive and stays in the download folder.
  void Publish(const std::vector<std::string>& keys, size_t ownSize) {
    MakeSureDirectoryPathExists(content.file("public/zip/"));
    std::string manifest = "<update>\n";
    unsigned seed = 1;
    for (const std::string& key : keys) {
      if (key.find(".zip") != std::string::npos)
        WriteZip(
            content.file("public/zip/" + key),
            {{"shared/same.txt", "from " + key}, {"own/" + key + ".bin", NoiseBytes(ownSize, seed++), true}});
      else
        WriteFile(content.file("public/zip/" + key), "plain " + key);
      manifest += " <f key=\"" + key + "\" md5=\"1\"/>\n";
    }
    WriteFile(content.file("public/update.xml"), manifest + "</update>\n");
  }

  std::vector<std::string> PackageRequests() {
    std::vector<std::string> requests = proxy.Requests();
    std::erase_if(requests, [](const std::string& r) { return r.find("/public/zip/") == std::string::npos; });
    return requests;
  }

  CodeSetGuard utf8{"UTF-8"};
  TempDir content;
  NginxServer nginx{content.path()};
  FaultProxy proxy{nginx.port()};
  RoadOptions options;
};

// One at a time and four at once leave the same game folder; unpacking keeps key order, and
// with four the next packages are on their way before the first is unpacked.
TEST_F(ParallelRoadTest, FourAtOnceLeaveTheSameFolderAsOneAtATime) {
  const std::vector<std::string> keys = {"a.zip", "b.zip", "c.zip", "d.txt", "e.zip", "f.zip", "g.zip"};
  Publish(keys, 300 * kKiB);
  // A distant network, so that transfers overlap.
  proxy.Plan({}, Fault::Distant(30ms, 4 * 1024 * kKiB));
  struct Case {
    int downloads;
  };
  std::map<int, std::map<std::string, std::string>> folders;
  for (const Case& c : {Case{1}, Case{4}}) {
    SCOPED_TRACE("downloads " + std::to_string(c.downloads));
    TempDir game;
    options.downloads = c.downloads;
    UpdateRunner runner(options);
    const RoadOutcome outcome = runner.Run(game.path(), proxy.url("/"));
    ASSERT_EQ(outcome.kind, RoadOutcome::kComplete) << DescribeOutcome(outcome);
    EXPECT_EQ(ReadFile(game.file("shared/same.txt")), "from g.zip");
    EXPECT_EQ(ReadFile(game.file("update.xml")), ReadFile(content.file("public/update.xml")));
    EXPECT_EQ(runner.prompts, 0);
    // Archives unpacked strictly in key order.
    std::vector<std::string> unpacked;
    for (const std::string& step : runner.steps)
      if (step.starts_with("unpack ")) unpacked.push_back(BaseFileName(step.substr(7)));
    EXPECT_EQ(unpacked, (std::vector<std::string>{"a.zip", "b.zip", "c.zip", "e.zip", "f.zip", "g.zip"}));
    // The blue bar counts every package once, up to all of them.
    ASSERT_FALSE(runner.overall.empty());
    EXPECT_EQ(runner.overall.back(), std::make_pair(7, 7));
    // What the road did first after the manifest: one package, or four at once.
    std::vector<std::string> first;
    for (size_t i = 1; i < runner.steps.size() && first.size() < 4; ++i) first.push_back(runner.steps[i]);
    if (c.downloads == 1)
      EXPECT_EQ(first[1].rfind("unpack ", 0), 0u) << first[1];
    else
      EXPECT_EQ(first, (std::vector<std::string>{"package a.zip", "package b.zip", "package c.zip",
                                                 "package d.txt"}));
    folders[c.downloads] = FolderContents(game.path());
  }
  EXPECT_EQ(folders[1], folders[4]);
}

// With several downloads an unpacked archive, a written record and the commit move the road on
// when they end, not on the progress timer's next tick: here the timer never fires.
TEST_F(ParallelRoadTest, SeveralDownloadsGoOnWithoutWaitingForTheTimer) {
  Publish({"a.zip", "b.zip", "c.txt", "d.zip", "e.zip", "f.zip"}, 128 * kKiB);
  proxy.Plan({});
  options.downloads = 4;
  options.tick = std::chrono::hours(1);
  options.limit = 60s;
  UpdateRunner runner(options);
  TempDir game;
  const RoadOutcome outcome = runner.Run(game.path(), proxy.url("/"));
  ASSERT_EQ(outcome.kind, RoadOutcome::kComplete) << DescribeOutcome(outcome);
  EXPECT_TRUE(runner.stagesAtTicks.empty());
  EXPECT_EQ(ReadFile(game.file("shared/same.txt")), "from f.zip");
  EXPECT_EQ(ReadFile(game.file("update.xml")), ReadFile(content.file("public/update.xml")));
}

// One at a time asks for exactly what the road always asked: the manifest, then each package
// after the one before is unpacked, each on a connection of its own.
TEST_F(ParallelRoadTest, OneAtATimeAsksPackageAfterPackage) {
  Publish({"a.zip", "b.zip", "c.zip"}, 64 * kKiB);
  proxy.Plan({});
  options.downloads = 1;
  UpdateRunner runner(options);
  TempDir game;
  const RoadOutcome outcome = runner.Run(game.path(), proxy.url("/"));
  ASSERT_EQ(outcome.kind, RoadOutcome::kComplete) << DescribeOutcome(outcome);
  std::vector<std::string> lines;
  for (const std::string& r : proxy.Requests()) lines.push_back(r.substr(0, r.find("\r\n")));
  EXPECT_EQ(lines,
            (std::vector<std::string>{"GET /public/update.xml HTTP/1.0", "GET /public/zip/a.zip HTTP/1.0",
                                      "GET /public/zip/b.zip HTTP/1.0", "GET /public/zip/c.zip HTTP/1.0"}));
  EXPECT_EQ(proxy.Connections(), 4);
  std::vector<std::string> packageSteps;
  for (const std::string& step : runner.steps)
    if (step.starts_with("package ") || step.starts_with("unpack "))
      packageSteps.push_back(step.substr(0, 7));
  EXPECT_EQ(packageSteps,
            (std::vector<std::string>{"package", "unpack ", "package", "unpack ", "package", "unpack "}));
}

// Packages that a server answers with errors now and then come home with no prompt; the green
// bar shows the bytes of several transfers together and never more than their sizes.
TEST_F(ParallelRoadTest, ErrorsOnSomeParallelRequestsAreTriedAgainWithoutAPrompt) {
  Publish({"a.zip", "b.zip", "c.zip", "d.zip"}, 512 * kKiB);
  proxy.Plan({}, Fault::Distant(20ms, 2 * 1024 * kKiB));
  proxy.PlanFor("/b.zip", Fault::Status(503), 2);
  proxy.PlanFor("/c.zip", Fault::DropAfter(100 * kKiB), 1);
  options.downloads = 4;
  UpdateRunner runner(options);
  TempDir game;
  const RoadOutcome outcome = runner.Run(game.path(), proxy.url("/"));
  ASSERT_EQ(outcome.kind, RoadOutcome::kComplete) << DescribeOutcome(outcome);
  EXPECT_EQ(runner.prompts, 0);
  EXPECT_EQ(ReadFile(game.file("shared/same.txt")), "from d.zip");
  const auto requests = PackageRequests();
  EXPECT_EQ(std::count_if(requests.begin(), requests.end(),
                          [](const std::string& r) { return r.find("/b.zip ") != std::string::npos; }),
            3);
  const int64_t oneArchive = static_cast<int64_t>(ReadFile(content.file("public/zip/a.zip")).size());
  bool severalAtOnce = false;
  for (const auto& [done, total] : runner.fileProgress) {
    EXPECT_LE(done, total);
    severalAtOnce = severalAtOnce || total > oneArchive + oneArchive / 2;
  }
  EXPECT_TRUE(severalAtOnce);
}

// A package that fails for good: one prompt, the transfers of the others end at once and keep
// their bytes, and the next round continues them from there.
TEST_F(ParallelRoadTest, APackageThatFailsStopsTheOthersAndTheNextRoundContinuesThem) {
  Publish({"a.zip", "b.zip", "c.zip", "d.zip"}, 1024 * kKiB);
  proxy.Plan({}, Fault::Distant(0ms, 256 * kKiB));
  Fault missing = Fault::Status(404);
  missing.firstByteDelay = 600ms;  // the others are well under way by then
  proxy.PlanFor("/c.zip", missing);
  options.downloads = 4;
  UpdateRunner runner(options);
  TempDir game;
  RoadOutcome outcome = runner.Run(game.path(), proxy.url("/"));
  ASSERT_EQ(outcome.kind, RoadOutcome::kDownloadFailed) << DescribeOutcome(outcome);
  EXPECT_EQ(outcome.code, 404);
  EXPECT_EQ(outcome.localPath, PackageDownloadPath(game.path(), "c.zip"));
  EXPECT_EQ(runner.prompts, 1);

  const int64_t whole = static_cast<int64_t>(ReadFile(content.file("public/zip/a.zip")).size());
  std::map<std::string, int64_t> kept;
  for (const std::string key : {"a.zip", "b.zip", "d.zip"}) {
    const std::string part = PackageDownloadPath(game.path(), key) + ".part";
    ASSERT_TRUE(Exists(part)) << part;
    kept[key] = static_cast<int64_t>(ReadFile(part).size());
    EXPECT_GT(kept[key], 0) << key;
    EXPECT_LT(kept[key], whole) << key;
  }
  // Nothing is written any more once the prompt is up.
  std::this_thread::sleep_for(400ms);
  for (const auto& [key, bytes] : kept)
    EXPECT_EQ(static_cast<int64_t>(ReadFile(PackageDownloadPath(game.path(), key) + ".part").size()), bytes)
        << key;
  EXPECT_FALSE(Exists(game.file("update.xml")));

  // The player answers OK with the network sound again: the kept bytes are not asked again.
  proxy.Plan({});
  outcome = runner.Run(game.path(), proxy.url("/"));
  ASSERT_EQ(outcome.kind, RoadOutcome::kComplete) << DescribeOutcome(outcome);
  EXPECT_EQ(runner.prompts, 1);
  EXPECT_EQ(ReadFile(game.file("shared/same.txt")), "from d.zip");
  for (const std::string& r : PackageRequests()) {
    for (const auto& [key, bytes] : kept)
      if (r.find("/" + key + " ") != std::string::npos) {
        EXPECT_TRUE(HasRange(r)) << r;
        EXPECT_NE(r.find("Range: bytes=" + std::to_string(bytes) + "-"), std::string::npos) << r;
      }
  }
}

}  // namespace
}  // namespace zarn::test
