// The update session against a content server on 127.0.0.1 with real manifests and real zip
// archives: the order of its requests and steps, the bars, what it leaves in the game folder,
// the server choices, and a commit whose flush fails.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <optional>
#include <utility>

#include "net/NetTestSupport.h"
#include "support/Guards.h"
#include "support/TestSupport.h"
#include "support/UpdateRunner.h"
#include "update/UpdateManifest.h"
#include "update/ZipBuilder.h"
#include "util/CodePage.h"

namespace zarn::test {
namespace {

std::string Manifest(const std::vector<std::pair<std::string, std::string>>& entries) {
  std::string xml = "<?xml version=\"1.0\"?>\n<update>\n";
  for (const auto& [key, md5] : entries) xml += "  <file key=\"" + key + "\" md5=\"" + md5 + "\"/>\n";
  return xml + "</update>\n";
}

class UpdateSessionTest : public ::testing::Test {
 protected:
  UpdateSessionTest() {
    ClearProxyEnvironment();
    // Installed: a.zip and keep.zip at 1, server 12 at v1.
    WriteFile(game.file("update.xml"), Manifest({{"a.zip", "1"}, {"keep.zip", "1"}}));
    WriteFile(game.file("a/a.txt"), "a one");
    WriteFile(game.file("keep.txt"), "kept");
    WriteFile(game.file("Custom/12/12.data"), "v1");
    // Published: a.zip changed, b.zip and notes.txt new, keep.zip as it was, server 12 at v2.
    published = Manifest({{"a.zip", "2"}, {"b.zip", "1"}, {"keep.zip", "1"}, {"notes.txt", "1"}});
    WriteFile(content.file("public/update.xml"), published);
    WriteFile(content.file("public/zip/notes.txt"), "not an archive");
    WriteFile(content.file("ClientData/12.md5"), "v2\r\nnot read\r\n");
    WriteZip(content.file("public/zip/a.zip"),
             {{"a/", ""}, {"a/a.txt", "a two"}, {"a/deep/x.bin", NoiseBytes(70000, 1)}});
    WriteZip(content.file("public/zip/b.zip"), {{"b.txt", "b"}});
    WriteZip(content.file("public/zip/keep.zip"), {{"keep.txt", "must not be fetched"}});
    WriteZip(content.file("ClientData/12.zip"), {{"map/12.map", "map"}});
    EXPECT_TRUE(http.server().set_mount_point("/", content.path()));
    http.server().set_logger([this](const httplib::Request& req, const httplib::Response&) {
      std::lock_guard<std::mutex> lock(mutex);
      requests.push_back(req.path);
    });
    http.Start();
  }
  // The server logs a request after its reply has gone out, so the last one may still be on
  // its way when the road is over.
  std::vector<std::string> Requests(size_t expected) {
    WaitFor([&] {
      std::lock_guard<std::mutex> lock(mutex);
      return requests.size() >= expected;
    });
    std::lock_guard<std::mutex> lock(mutex);
    return std::exchange(requests, {});
  }

  CodeSetGuard utf8{"UTF-8"};
  TempDir game, content;
  std::string published;
  std::mutex mutex;
  std::vector<std::string> requests;
  // Last, so it is stopped before the request log its thread writes to goes away.
  HttpServer http;
};

TEST_F(UpdateSessionTest, FetchesWhatChangedUnpacksCommitsRefreshesTheServerAndStartsTheGame) {
  RoadOptions options;
  options.serverId = "12";
  UpdateRunner runner(options);
  const RoadOutcome outcome = runner.Run(game.path(), http.url("/"));
  ASSERT_EQ(outcome.kind, RoadOutcome::kComplete) << DescribeOutcome(outcome);

  EXPECT_EQ(Requests(6),
            (std::vector<std::string>{"/public/update.xml", "/public/zip/a.zip", "/public/zip/b.zip",
                                      "/public/zip/notes.txt", "/ClientData/12.md5", "/ClientData/12.zip"}));
  const std::string dir = game.path();
  EXPECT_EQ(runner.steps,
            (std::vector<std::string>{
                "manifest", "package a.zip", "unpack " + dir + "/download/a.zip", "journal", "package b.zip",
                "unpack " + dir + "/download/b.zip", "journal", "package notes.txt", "journal", "commit",
                "server list", "server archive", "unpack " + dir + "/Custom/12.zip", "server list write"}));
  // The blue bar counts each package as its download finishes.
  EXPECT_EQ(runner.overall, (std::vector<std::pair<int32_t, int32_t>>{{0, 3}, {1, 3}, {2, 3}, {3, 3}}));
  EXPECT_EQ(outcome.packagesChosen, 3);
  // The extractions were watched by the timer, which is off once the game starts.
  EXPECT_NE(std::find(runner.stagesAtTicks.begin(), runner.stagesAtTicks.end(), kStagePackageUnpack),
            runner.stagesAtTicks.end());
  EXPECT_NE(std::find(runner.stagesAtTicks.begin(), runner.stagesAtTicks.end(), kStageServerDataUnpack),
            runner.stagesAtTicks.end());
  EXPECT_FALSE(runner.timerActive);
  EXPECT_TRUE(runner.startDisabled);

  EXPECT_EQ(ReadFile(game.file("a/a.txt")), "a two");
  EXPECT_EQ(ReadFile(game.file("a/deep/x.bin")), NoiseBytes(70000, 1));
  EXPECT_EQ(ReadFile(game.file("b.txt")), "b");
  EXPECT_EQ(ReadFile(game.file("keep.txt")), "kept");
  EXPECT_EQ(ReadFile(game.file("download/notes.txt")), "not an archive");  // not unpacked, kept
  EXPECT_FALSE(Exists(game.file("download/a.zip")));
  EXPECT_FALSE(Exists(game.file("download/b.zip")));
  EXPECT_EQ(ReadFile(game.file("update.xml")), published);
  EXPECT_FALSE(Exists(game.file("update.down")));
  EXPECT_EQ(ReadFile(game.file("Custom/12/map/12.map")), "map");
  EXPECT_EQ(ReadFile(game.file("Custom/12/12.data")), "v2");
  EXPECT_FALSE(Exists(game.file("Custom/12.zip")));
}

TEST_F(UpdateSessionTest, NothingChangedFetchesTheManifestAndTheServerListOnly) {
  const std::string installed = published;
  WriteFile(game.file("update.xml"), installed);
  WriteFile(game.file("Custom/12/12.data"), "v2");
  RoadOptions options;
  options.serverId = "12";
  UpdateRunner runner(options);
  const RoadOutcome outcome = runner.Run(game.path(), http.url("/"));
  ASSERT_EQ(outcome.kind, RoadOutcome::kComplete) << DescribeOutcome(outcome);
  EXPECT_EQ(Requests(2), (std::vector<std::string>{"/public/update.xml", "/ClientData/12.md5"}));
  EXPECT_EQ(runner.steps, (std::vector<std::string>{"manifest", "server list"}));
  EXPECT_EQ(runner.overall, (std::vector<std::pair<int32_t, int32_t>>{{0, 0}}));
  // Nothing chosen: neither manifest is touched.
  EXPECT_EQ(ReadFile(game.file("update.xml")), installed);
  EXPECT_EQ(ReadFile(game.file("update.down")), published);
}

// What the selected server decides once the packages are in.
struct ServerCase {
  const char* name;
  std::optional<std::string> id;
  RoadOutcome::Kind kind;
  bool fetchesItsData;
};

void PrintTo(const ServerCase& c, std::ostream* os) { *os << c.name; }

class ServerChoiceTest : public UpdateSessionTest, public ::testing::WithParamInterface<ServerCase> {};

TEST_P(ServerChoiceTest, TheServerDecidesTheLastSteps) {
  const ServerCase& c = GetParam();
  RoadOptions options;
  options.serverId = c.id;
  const RoadOutcome outcome = RunUpdateSession(game.path(), http.url("/"), options);
  EXPECT_EQ(outcome.kind, c.kind) << DescribeOutcome(outcome);
  if (c.kind == RoadOutcome::kNoServer) {
    EXPECT_EQ(outcome.text, Utf8ToAnsi("没有选择服务器"));
  }
  const std::vector<std::string> log = Requests(c.fetchesItsData ? 6 : 4);
  ASSERT_GE(log.size(), 4u);
  EXPECT_EQ(log.back() == "/ClientData/12.zip", c.fetchesItsData);
  // The packages were committed before the server's step, whatever it decided.
  EXPECT_EQ(ReadFile(game.file("update.xml")), published);
}

INSTANTIATE_TEST_SUITE_P(
    Servers, ServerChoiceTest,
    ::testing::Values(ServerCase{"NoneSelected", std::nullopt, RoadOutcome::kNoServer, false},
                      ServerCase{"IdZero", "0", RoadOutcome::kComplete, false},
                      ServerCase{"IdNotANumber", "abc", RoadOutcome::kComplete, false},
                      ServerCase{"IdNegative", "-12", RoadOutcome::kComplete, false},
                      ServerCase{"IdWithAFolder", "12/..", RoadOutcome::kComplete, false},
                      ServerCase{"IdWithData", "12", RoadOutcome::kComplete, true}),
    [](const auto& info) { return std::string(info.param.name); });

// A flush that fails is a failed commit: the player gets the retry prompt, the installed
// manifest stays as it was, and the next start (with a sound disk) completes.
TEST_F(UpdateSessionTest, AFailedFlushLeavesTheInstalledManifestAndPromptsForARetry) {
  const std::string installed = ReadFile(game.file("update.xml"));
  RoadOptions options;
  options.serverId = "12";
  int flushes = 0;
  options.flush = [&flushes](int) {
    ++flushes;
    return EIO;
  };
  UpdateRunner runner(options);
  const RoadOutcome outcome = runner.Run(game.path(), http.url("/"));
  ASSERT_EQ(outcome.kind, RoadOutcome::kCommitFailed) << DescribeOutcome(outcome);
  EXPECT_EQ(outcome.text, Utf8ToAnsi("解压文件失败!!"));
  EXPECT_EQ(flushes, 1);
  EXPECT_FALSE(runner.timerActive);
  EXPECT_EQ(runner.steps.back(), "commit");
  EXPECT_EQ(ReadFile(game.file("update.xml")), installed);
  EXPECT_EQ(ReadFile(game.file("update.down")), published);
  EXPECT_EQ(ReadFile(game.file("Custom/12/12.data")), "v1");
  EXPECT_EQ(Requests(4).back(), "/public/zip/notes.txt");  // the server's step did not run

  options.flush = nullptr;
  const RoadOutcome next = RunUpdateSession(game.path(), http.url("/"), options);
  ASSERT_EQ(next.kind, RoadOutcome::kComplete) << DescribeOutcome(next);
  EXPECT_EQ(next.packagesChosen, 3);  // the same packages again: none was claimed
  EXPECT_EQ(ReadFile(game.file("update.xml")), published);
  EXPECT_EQ(ReadFile(game.file("Custom/12/12.data")), "v2");
}

}  // namespace
}  // namespace zarn::test
