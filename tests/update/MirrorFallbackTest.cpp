// Two base addresses holding the same tree, each a real HTTP server on 127.0.0.1 (or a port where
// nothing listens): a download that fails on the base in use comes from the other one, the road
// stays where it works, also across the player's retry, and only a failure on both reaches the
// prompt.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <set>

#include "net/NetTestSupport.h"
#include "support/Guards.h"
#include "support/TestSupport.h"
#include "support/UpdateRunner.h"
#include "update/ZipBuilder.h"
#include "util/CodePage.h"
#include "util/Paths.h"

namespace zarn::test {
namespace {

// One base address: the content folder, except the paths given a status of their own ("*":
// every path). Every request is logged as it comes in.
class Mirror {
 public:
  explicit Mirror(const std::string& root) {
    http_.server().set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
      std::lock_guard<std::mutex> lock(mutex_);
      log_.push_back(req.path);
      auto it = faults_.find(req.path);
      if (it == faults_.end()) it = faults_.find("*");
      if (it == faults_.end()) return httplib::Server::HandlerResponse::Unhandled;
      res.status = it->second;
      res.set_content("<html>not here</html>", "text/html");
      return httplib::Server::HandlerResponse::Handled;
    });
    EXPECT_TRUE(http_.server().set_mount_point("/", root));
    http_.Start();
  }
  std::string base() const { return http_.url("/"); }
  void Fail(const std::string& path, int status) {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_[path] = status;
  }
  void Heal(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.erase(path);
  }
  // The requests since the last call; repeats of one request in a row (the worker's own
  // retries of a transient failure) count once.
  std::vector<std::string> TakeLog() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> log = std::exchange(log_, {});
    log.erase(std::unique(log.begin(), log.end()), log.end());
    return log;
  }

 private:
  std::mutex mutex_;
  std::map<std::string, int> faults_;
  std::vector<std::string> log_;
  HttpServer http_;
};

const std::vector<std::string> kWholeRoad = {"/public/update.xml", "/public/zip/a.zip",
                                             "/public/zip/b.zip",  "/public/zip/c.zip",
                                             "/ClientData/12.md5", "/ClientData/12.zip"};

class MirrorFallbackTest : public ::testing::Test {
 protected:
  MirrorFallbackTest() {
    ClearProxyEnvironment();
    WriteFile(content.file("public/update.xml"),
              "<update>\n <f key=\"a.zip\" md5=\"1\"/>\n <f key=\"b.zip\" md5=\"1\"/>\n"
              " <f key=\"c.zip\" md5=\"1\"/>\n</update>\n");
    MakeSureDirectoryPathExists(content.file("public/zip/"));
    MakeSureDirectoryPathExists(content.file("ClientData/"));
    for (const char* p : {"a", "b", "c"})
      WriteZip(content.file(std::string("public/zip/") + p + ".zip"), {{std::string(p) + ".txt", p}});
    WriteFile(content.file("ClientData/12.md5"), "v2\n");
    WriteZip(content.file("ClientData/12.zip"), {{"12.map", "map"}});
    options.serverId = "12";
  }
  void ExpectInstalled() {
    for (const char* p : {"a", "b", "c"}) EXPECT_EQ(ReadFile(game.file(std::string(p) + ".txt")), p);
    EXPECT_EQ(ReadFile(game.file("Custom/12/12.map")), "map");
    EXPECT_EQ(ReadFile(game.file("update.xml")), ReadFile(content.file("public/update.xml")));
  }

  CodeSetGuard utf8{"UTF-8"};
  TempDir game, content;
  Mirror chosen{content.path()}, other{content.path()};
  RoadOptions options;
};

// How the chosen base fails; the other one works.
struct ChosenCase {
  const char* name;
  int status;  // 0: the base refuses connections
};
void PrintTo(const ChosenCase& c, std::ostream* os) { *os << c.name; }

class ChosenBaseFailsTest : public MirrorFallbackTest, public ::testing::WithParamInterface<ChosenCase> {};

TEST_P(ChosenBaseFailsTest, TheOtherBaseServesAndTheRoadStaysThere) {
  const ChosenCase& c = GetParam();
  std::string base = chosen.base();
  if (c.status == 0)
    base = "http://127.0.0.1:" + std::to_string(UnusedPort()) + "/";
  else
    chosen.Fail("*", c.status);
  options.otherBase = other.base();
  UpdateRunner runner(options);
  const RoadOutcome outcome = runner.Run(game.path(), base);
  ASSERT_EQ(outcome.kind, RoadOutcome::kComplete) << DescribeOutcome(outcome);
  ExpectInstalled();
  EXPECT_EQ(runner.baseInUse(), other.base());
  // The chosen base was asked once, for the first file; everything came from the other one.
  if (c.status != 0) {
    EXPECT_EQ(chosen.TakeLog(), std::vector<std::string>{"/public/update.xml"});
  }
  EXPECT_EQ(other.TakeLog(), kWholeRoad);
  EXPECT_EQ(runner.steps[1], "other base public/update.xml");
}

INSTANTIATE_TEST_SUITE_P(Fallback, ChosenBaseFailsTest,
                         ::testing::Values(ChosenCase{"RefusesConnections", 0},
                                           ChosenCase{"ServerError", 500}, ChosenCase{"NotFound", 404},
                                           ChosenCase{"Forbidden", 403}),
                         [](const auto& info) { return std::string(info.param.name); });

// A file missing on the base in use, later on the road: that file alone comes from the other
// base, and the road goes on there.
TEST_F(MirrorFallbackTest, AFileMissingHalfwayComesFromTheOtherBaseAndTheRoadMovesThere) {
  chosen.Fail("/public/zip/b.zip", 404);
  options.otherBase = other.base();
  UpdateRunner runner(options);
  const RoadOutcome outcome = runner.Run(game.path(), chosen.base());
  ASSERT_EQ(outcome.kind, RoadOutcome::kComplete) << DescribeOutcome(outcome);
  ExpectInstalled();
  EXPECT_EQ(chosen.TakeLog(),
            (std::vector<std::string>{"/public/update.xml", "/public/zip/a.zip", "/public/zip/b.zip"}));
  EXPECT_EQ(other.TakeLog(), (std::vector<std::string>{"/public/zip/b.zip", "/public/zip/c.zip",
                                                       "/ClientData/12.md5", "/ClientData/12.zip"}));
}

// Without a second base (or with the same address twice) a failure goes to the prompt at once.
TEST_F(MirrorFallbackTest, WithoutAnotherBaseTheFailureIsPromptedAtOnce) {
  chosen.Fail("/public/zip/b.zip", 404);
  for (const std::string& second : {std::string(), chosen.base()}) {
    SCOPED_TRACE("other base: '" + second + "'");
    options.otherBase = second;
    const RoadOutcome outcome = RunUpdateSession(game.path(), chosen.base(), options);
    ASSERT_EQ(outcome.kind, RoadOutcome::kDownloadFailed) << DescribeOutcome(outcome);
    EXPECT_EQ(outcome.code, 404);
    const std::vector<std::string> log = chosen.TakeLog();
    EXPECT_EQ(std::count(log.begin(), log.end(), "/public/zip/b.zip"), 1);
  }
  EXPECT_TRUE(other.TakeLog().empty());
}

// Both bases fail: one prompt, with the failure on the base the road was on. The player's OK
// starts the road again on the base that worked last, and the chosen one is not asked again.
TEST_F(MirrorFallbackTest, BothFailingPromptsAndTheRetryStaysOnTheBaseThatWorked) {
  chosen.Fail("*", 403);
  other.Fail("/public/zip/b.zip", 404);
  options.otherBase = other.base();
  UpdateRunner runner(options);
  const RoadOutcome failed = runner.Run(game.path(), chosen.base());
  ASSERT_EQ(failed.kind, RoadOutcome::kDownloadFailed) << DescribeOutcome(failed);
  EXPECT_EQ(failed.code, 404);
  EXPECT_EQ(failed.localPath, game.file("download/b.zip"));
  EXPECT_EQ(failed.text, Utf8ToAnsi("下载文件失败[" + game.file("download/b.zip") + "]错误ID[404]"));
  EXPECT_FALSE(runner.timerActive);
  EXPECT_EQ(chosen.TakeLog(), (std::vector<std::string>{"/public/update.xml", "/public/zip/b.zip"}));
  EXPECT_EQ(other.TakeLog(),
            (std::vector<std::string>{"/public/update.xml", "/public/zip/a.zip", "/public/zip/b.zip"}));
  EXPECT_EQ(runner.baseInUse(), other.base());

  other.Heal("/public/zip/b.zip");
  const RoadOutcome retried = runner.Run(game.path(), chosen.base());
  ASSERT_EQ(retried.kind, RoadOutcome::kComplete) << DescribeOutcome(retried);
  ExpectInstalled();
  EXPECT_TRUE(chosen.TakeLog().empty());
  // a.zip was unpacked before the prompt: the round goes on at b.zip.
  EXPECT_EQ(other.TakeLog(),
            (std::vector<std::string>{"/public/update.xml", "/public/zip/b.zip", "/public/zip/c.zip",
                                      "/ClientData/12.md5", "/ClientData/12.zip"}));
}

// A local file that cannot be written is not the base's fault: no second download.
TEST_F(MirrorFallbackTest, ALocalWriteFailureDoesNotTryTheOtherBase) {
  ASSERT_TRUE(MakeSureDirectoryPathExists(game.file("download/b.zip/")));  // a folder where the file goes
  options.otherBase = other.base();
  const RoadOutcome outcome = RunUpdateSession(game.path(), chosen.base(), options);
  ASSERT_EQ(outcome.kind, RoadOutcome::kDownloadFailed) << DescribeOutcome(outcome);
  EXPECT_LT(outcome.code, 0);
  EXPECT_TRUE(other.TakeLog().empty());
}

}  // namespace
}  // namespace zarn::test
