// The worker with several transfers at once: how many run together, a job waiting to be tried
// again does not hold the others up, one receive cap is shared by all, and the two settings of
// ClientConfig.cfg that govern this.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "net/CFileDown.h"
#include "net/NetTestSupport.h"
#include "support/TestSupport.h"

namespace zarn {
namespace {

using namespace std::chrono_literals;
using test::RawServer;
using test::Recorder;

constexpr int kMiB = 1 << 20;

std::string Reply200(const std::string& body) {
  return test::ReplyHead("200 OK", {"Content-Length: " + std::to_string(body.size())}) + body;
}

class ParallelDownloadTest : public test::WorkerTest {
 protected:
  ParallelDownloadTest() : WorkerTest(5000ms) {}
};

TEST_F(ParallelDownloadTest, AtMostTheAllowedNumberOfTransfersRunAtOnce) {
  RawServer server([&](int fd, const std::string& request) {
    if (request.find("GET /hold") == 0) server.WaitForRelease();
    test::SendAll(fd, Reply200("body"));
  });
  settings.maxTransfers = 2;
  CFileDown worker(settings);
  for (const std::string name : {"a", "b", "c"})
    worker.AddTask(server.url(name == "c" ? "/quick" : "/hold"), Local(name), kTaskOrdinary, &recorder);
  // Both held transfers are under way together; the third waits for a free one.
  ASSERT_TRUE(test::WaitUntil([&] { return server.requests().size() == 2; }, 10s));
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(server.requests().size(), 2u);
  EXPECT_TRUE(recorder.finishes().empty());
  server.Release();
  ASSERT_TRUE(recorder.WaitForFinishes(3));
  EXPECT_EQ(FinishedPaths().back(), Local("c"));
  for (const auto& f : recorder.finishes()) EXPECT_EQ(f.a, 0) << f.localPath;
  EXPECT_EQ(test::ReadFile(Local("c")), "body");
}

TEST_F(ParallelDownloadTest, AJobWaitingToBeTriedAgainDoesNotHoldUpTheOthers) {
  std::atomic<int> flakyTries{0};
  RawServer server([&](int fd, const std::string& request) {
    if (request.find("GET /flaky") == 0 && flakyTries++ == 0) {
      test::SendAll(fd, test::ReplyHead("503 Busy", {"Content-Length: 0"}));
      return;
    }
    test::SendAll(fd, Reply200("fine"));
  });
  settings.maxTransfers = 2;
  settings.retryWaits = {3000ms};
  CFileDown worker(settings);
  DownloadExpectations resumable;
  resumable.resumable = true;
  worker.AddTask(server.url("/flaky"), Local("flaky"), kTaskOrdinary, &recorder, resumable);
  ASSERT_TRUE(test::WaitUntil([&] { return flakyTries == 1; }, 10s));
  // Queued while the flaky job waits for its next try.
  worker.AddTask(server.url("/quick"), Local("quick"), kTaskOrdinary, &recorder);
  ASSERT_TRUE(recorder.WaitForFinishes(1, 10s));
  EXPECT_EQ(FinishedPaths(), std::vector<std::string>{Local("quick")});
  EXPECT_EQ(flakyTries, 1);
  ASSERT_TRUE(recorder.WaitForFinishes(2, 20s));
  EXPECT_EQ(recorder.finishes()[1].a, 0);
  EXPECT_EQ(test::ReadFile(Local("flaky")), "fine");
}

// One cap for all transfers, also while their number changes: three files of different
// lengths never come faster together than the cap allows (with a tenth for libcurl's limiter).
TEST_F(ParallelDownloadTest, OneReceiveCapIsSharedByAllTransfers) {
  const std::vector<size_t> sizes = {kMiB / 2, kMiB, kMiB + kMiB / 2};
  RawServer server([&](int fd, const std::string& request) {
    const size_t index = static_cast<size_t>(request[5] - '0');
    test::SendAll(fd, Reply200(test::NoiseBytes(sizes[index], 3)));
  });
  settings.maxTransfers = 3;
  settings.maxReceiveRate = kMiB;  // 1 MiB/s
  CFileDown worker(settings);
  const auto begin = std::chrono::steady_clock::now();
  for (size_t i = 0; i < sizes.size(); ++i)
    worker.AddTask(server.url("/" + std::to_string(i)), Local(std::to_string(i)), kTaskOrdinary, &recorder);
  ASSERT_TRUE(recorder.WaitForFinishes(sizes.size(), 60s));
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  for (const auto& f : recorder.finishes()) EXPECT_EQ(f.a, 0) << f.localPath;
  const double total = static_cast<double>(kMiB) * 3;
  EXPECT_LE(total / seconds, 1.1 * kMiB) << seconds << " s";
}

TEST_F(ParallelDownloadTest, SettingsOfClientConfigOutsideTheirRangeGiveTheDefaults) {
  struct Case {
    const char* downloads;
    const char* maxRate;
    int expectDownloads;
    int64_t expectRateKiB;
  };
  const Case cases[] = {
      {nullptr, nullptr, 4, 0},  // no section at all
      {"1", "0", 1, 0},         {"16", "1024", 16, 1024},
      {"8", "512", 8, 512},     {"0", "-1", 4, 0},
      {"-3", "abc", 4, 0},      {"17", "99999999999", 4, 0},
      {"abc", "1.5", 4, 0},     {"99999999999", "2048x", 4, 0},
      {"", "", 4, 0},           {"4 4", "16777216", 4, 16777216},
      {"+2", "16777217", 4, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.downloads ? c.downloads : "(none)") + " / " +
                 (c.maxRate ? c.maxRate : "(none)"));
    const std::string path = dir.file("ClientConfig.cfg");
    std::string text = "[GameSetup]\nHuaWeiCDN=0\n";
    if (c.downloads)
      text += std::string("[Launcher]\nDownloads=") + c.downloads + "\nMaxRateKiB=" + c.maxRate + "\n";
    test::WriteFile(path, text);
    EXPECT_EQ(ConfiguredDownloads(path), c.expectDownloads);
    EXPECT_EQ(ConfiguredMaxRateKiB(path), c.expectRateKiB);
    const DownloadSettings configured = ConfiguredDownloadSettings(path);
    EXPECT_EQ(configured.maxTransfers, c.expectDownloads);
    EXPECT_EQ(configured.maxReceiveRate, c.expectRateKiB * 1024);
  }
}

}  // namespace
}  // namespace zarn
