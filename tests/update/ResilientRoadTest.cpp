// The update road over a network that breaks: the content tree served by nginx, the fault proxy
// of the tests in front of it. Dropped connections are tried again and continued from the last
// byte without a prompt, a player who gave up finds the next round going on from the partial
// file, and a partial file of another published version is never continued.
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>

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

bool HasRange(const std::string& request) { return request.find("\r\nRange: bytes=") != std::string::npos; }

class ResilientRoadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearProxyEnvironment();
    ASSERT_TRUE(nginx.Started()) << nginx.ErrorLog();
    options.serverId = "0";  // no data of its own: the road ends with the packages
    options.download.connectTimeout = 500ms;
    options.download.receiveTimeout = 500ms;
    options.onProgress = [this](const std::string& url, int done) {
      std::lock_guard<std::mutex> lock(mutex);
      if (url.find("/big.zip") != std::string::npos) progress.push_back(done);
    };
    Publish("1");
  }

  // Two packages: a small one and one of about 3 MiB that does not compress.
  void Publish(const std::string& version) {
    MakeSureDirectoryPathExists(content.file("public/zip/"));
    WriteZip(content.file("public/zip/a.zip"), {{"a.txt", "a" + version}});
    WriteZip(content.file("public/zip/big.zip"),
             {{"big.bin",
               NoiseBytes(3 * 1024 * 1024 + 777, static_cast<unsigned>(version.size() + version[0])), true}});
    WriteFile(content.file("public/update.xml"), "<update>\n <f key=\"a.zip\" md5=\"" + version +
                                                     "\"/>\n <f key=\"big.zip\" md5=\"" + version +
                                                     "\"/>\n</update>\n");
    bigSize = static_cast<int64_t>(ReadFile(content.file("public/zip/big.zip")).size());
  }

  RoadOutcome Run() { return RunUpdateSession(game.path(), proxy.url("/"), options); }

  void ExpectInstalled(const std::string& version) {
    EXPECT_EQ(ReadFile(game.file("a.txt")), "a" + version);
    EXPECT_EQ(ReadFile(game.file("update.xml")), ReadFile(content.file("public/update.xml")));
    const std::string part = PackageDownloadPath(game.path(), "big.zip") + ".part";
    EXPECT_FALSE(Exists(part));
    EXPECT_FALSE(Exists(part + ".info"));
  }
  std::vector<std::string> BigRequests() {
    std::vector<std::string> requests = proxy.Requests();
    std::erase_if(requests,
                  [](const std::string& r) { return r.find("/public/zip/big.zip ") == std::string::npos; });
    return requests;
  }

  CodeSetGuard utf8{"UTF-8"};
  TempDir game, content;
  NginxServer nginx{content.path()};
  FaultProxy proxy{nginx.port()};
  RoadOptions options;
  std::mutex mutex;
  std::vector<int> progress;  // the green bar's byte counts of big.zip, as reported
  int64_t bigSize = 0;
};

TEST_F(ResilientRoadTest, AConnectionThatDropsEveryMegabyteFinishesWithoutAPromptAndNoByteTwice) {
  proxy.Plan({}, Fault::DropAfter(1024 * kKiB));
  const RoadOutcome outcome = Run();
  ASSERT_EQ(outcome.kind, RoadOutcome::kComplete) << DescribeOutcome(outcome);
  ExpectInstalled("1");
  // Four tries for big.zip, each from where the one before stopped.
  const std::vector<std::string> requests = BigRequests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_FALSE(HasRange(requests[0]));
  for (size_t i = 1; i < requests.size(); ++i)
    EXPECT_NE(requests[i].find("Range: bytes=" + std::to_string(i * 1024 * kKiB) + "-"), std::string::npos)
        << requests[i];
  // Every byte of the package came once (the manifest and a.zip are small beside it).
  EXPECT_LT(proxy.BodyBytesSent(), bigSize + 16 * kKiB);
  // The green bar paused and went on; it never ran backwards.
  std::lock_guard<std::mutex> lock(mutex);
  ASSERT_FALSE(progress.empty());
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
  EXPECT_EQ(progress.back(), bigSize);
}

TEST_F(ResilientRoadTest, ARoundTheNetworkGaveUpOnGoesOnFromThePartialFile) {
  // Every try of this round breaks off after 1 MiB of big.zip and its first try's bytes stay.
  proxy.Plan({}, Fault::DropAfter(1024 * kKiB));
  options.download.retryWaits.clear();
  RoadOutcome outcome = Run();
  ASSERT_EQ(outcome.kind, RoadOutcome::kDownloadFailed) << DescribeOutcome(outcome);
  EXPECT_EQ(outcome.code, 18);
  const std::string part = PackageDownloadPath(game.path(), "big.zip") + ".part";
  EXPECT_EQ(ReadFile(part).size(), static_cast<size_t>(1024 * kKiB));

  // The player answers OK with the network sound again: only the rest is fetched.
  proxy.Plan({});
  const int64_t sentBefore = proxy.BodyBytesSent();
  outcome = Run();
  ASSERT_EQ(outcome.kind, RoadOutcome::kComplete) << DescribeOutcome(outcome);
  ExpectInstalled("1");
  const std::vector<std::string> requests = BigRequests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_NE(requests[0].find("Range: bytes=" + std::to_string(1024 * kKiB) + "-"), std::string::npos);
  EXPECT_LT(proxy.BodyBytesSent() - sentBefore, bigSize - 1024 * kKiB + 16 * kKiB);
}

TEST_F(ResilientRoadTest, APartialOfAnOlderPublishedVersionIsNeverContinued) {
  proxy.Plan({}, Fault::DropAfter(1024 * kKiB));
  options.download.retryWaits.clear();
  ASSERT_EQ(Run().kind, RoadOutcome::kDownloadFailed);

  // Meanwhile the publisher put out version 2 of both packages.
  Publish("2");
  proxy.Plan({});
  const RoadOutcome outcome = Run();
  ASSERT_EQ(outcome.kind, RoadOutcome::kComplete) << DescribeOutcome(outcome);
  ExpectInstalled("2");
  const std::vector<std::string> requests = BigRequests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_FALSE(HasRange(requests[0])) << requests[0];
}

TEST_F(ResilientRoadTest, AMissingPackageGoesToThePromptAtOnce) {
  std::remove(content.file("public/zip/big.zip").c_str());
  const RoadOutcome outcome = Run();
  EXPECT_EQ(outcome.kind, RoadOutcome::kDownloadFailed) << DescribeOutcome(outcome);
  EXPECT_EQ(outcome.code, 404);
  EXPECT_EQ(BigRequests().size(), 1u);
}

}  // namespace
}  // namespace zarn::test
