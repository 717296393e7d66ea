#include "update/CExtractionQueue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "support/TestSupport.h"
#include "update/Extract.h"
#include "update/ZipBuilder.h"

namespace zarn {
namespace {

using namespace std::chrono_literals;
using test::Exists;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;
using test::WriteZip;

using test::WaitFor;

// An extractor the test steers: records each call and, for archives named in hold, waits
// until released; returns the result set for the archive (0 by default).
struct ScriptedExtractor {
  std::mutex m;
  std::condition_variable cv;
  std::vector<std::pair<std::string, std::string>> calls;
  std::set<std::string> hold;
  std::map<std::string, int> results;
  std::map<std::string, std::pair<int32_t, int32_t>> counters;  // total, index while held
  bool inside = false;

  CExtractionQueue::Extractor Get() {
    return [this](const std::string& archive, const std::string& dest, std::atomic<int32_t>* total,
                  std::atomic<int32_t>* index) {
      std::unique_lock lock(m);
      calls.emplace_back(archive, dest);
      if (counters.count(archive)) {
        *total = counters[archive].first;
        *index = counters[archive].second;
      }
      inside = true;
      cv.notify_all();
      cv.wait(lock, [&] { return !hold.count(archive); });
      inside = false;
      return results.count(archive) ? results[archive] : 0;
    };
  }
  void Release(const std::string& archive) {
    std::lock_guard lock(m);
    hold.erase(archive);
    cv.notify_all();
  }
  bool WaitInside() {
    std::unique_lock lock(m);
    return cv.wait_for(lock, 5s, [&] { return inside; });
  }
  size_t CallCount() {
    std::lock_guard lock(m);
    return calls.size();
  }
};

TEST(ExtractionQueueTest, ThreadStartsWithTheFirstArchiveAndTakesArchivesInPathOrder) {
  ScriptedExtractor ex;
  ex.hold = {"m.zip"};
  CExtractionQueue queue(ex.Get());
  EXPECT_FALSE(queue.IsStarted());
  EXPECT_FALSE(queue.IsRunning());
  queue.QueueExtraction("m.zip", "/d/");
  EXPECT_TRUE(queue.IsStarted());
  EXPECT_TRUE(queue.IsRunning());
  ASSERT_TRUE(ex.WaitInside());
  queue.QueueExtraction("c.zip", "/d/");
  queue.QueueExtraction("a.zip", "/first/");
  queue.QueueExtraction("b.zip", "/d/");
  queue.QueueExtraction("a.zip", "/second/");  // only its destination changes
  EXPECT_EQ(queue.QueuedCount(), 4u);
  ex.Release("m.zip");
  ASSERT_TRUE(WaitFor([&] { return queue.Poll().queueEmpty; }));
  std::lock_guard lock(ex.m);
  EXPECT_EQ(ex.calls, (std::vector<std::pair<std::string, std::string>>{
                          {"m.zip", "/d/"}, {"a.zip", "/second/"}, {"b.zip", "/d/"}, {"c.zip", "/d/"}}));
}

TEST(ExtractionQueueTest, ArchiveStaysQueuedWhileUnpackedAndCountersAreVisible) {
  ScriptedExtractor ex;
  ex.hold = {"a.zip"};
  ex.counters["a.zip"] = {7, 3};
  ex.results["a.zip"] = kExtractEntryFailed;
  CExtractionQueue queue(ex.Get());
  queue.QueueExtraction("a.zip", "/d/");
  ASSERT_TRUE(ex.WaitInside());
  CExtractionQueue::Snapshot s = queue.Poll();
  EXPECT_FALSE(s.queueEmpty);
  EXPECT_EQ(s.result, 0);
  EXPECT_EQ(s.total, 7);
  EXPECT_EQ(s.index, 3);
  ex.Release("a.zip");
  ASSERT_TRUE(WaitFor([&] { return queue.Poll().queueEmpty; }));
  s = queue.Poll();
  EXPECT_EQ(s.result, kExtractEntryFailed);
  EXPECT_EQ(s.total, 0);
  EXPECT_EQ(s.index, 0);
}

TEST(ExtractionQueueTest, AnEmptyQueueNeverComesWithAStaleResult) {
  // A timer-like reader looks at the queue and the result while failing extractions end; once
  // it sees the queue empty, the failure must already be visible.
  ScriptedExtractor ex;
  CExtractionQueue queue(ex.Get());
  for (int round = 0; round < 25; ++round) {
    const std::string archive = "r" + std::to_string(round) + ".zip";
    {
      std::lock_guard lock(ex.m);
      ex.results[archive] = kExtractNotOpened;
    }
    queue.QueueExtraction(archive, "/d/");
    int stale = 0;
    ASSERT_TRUE(WaitFor([&] {
      const CExtractionQueue::Snapshot s = queue.Poll();
      if (s.queueEmpty && s.result != kExtractNotOpened) ++stale;
      return s.queueEmpty;
    }));
    EXPECT_EQ(stale, 0) << round;
  }
}

TEST(ExtractionQueueTest, StopFinishesTheArchiveUnderWayAndLeavesTheRest) {
  ScriptedExtractor ex;
  ex.hold = {"a.zip"};
  CExtractionQueue queue(ex.Get());
  queue.QueueExtraction("a.zip", "/d/");
  ASSERT_TRUE(ex.WaitInside());
  queue.QueueExtraction("b.zip", "/d/");
  std::thread stopper([&] { queue.Stop(); });
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(queue.IsRunning());
  ex.Release("a.zip");
  stopper.join();
  EXPECT_EQ(ex.CallCount(), 1u) << "b.zip is not unpacked after the stop";
  EXPECT_EQ(queue.QueuedCount(), 1u);
  // The thread is not started again.
  queue.QueueExtraction("c.zip", "/d/");
  std::this_thread::sleep_for(60ms);
  EXPECT_EQ(ex.CallCount(), 1u);
}

TEST(ExtractionQueueTest, StopWhileIdleReturnsPromptly) {
  ScriptedExtractor ex;
  CExtractionQueue queue(ex.Get());
  queue.QueueExtraction("a.zip", "/d/");
  ASSERT_TRUE(WaitFor([&] { return queue.Poll().queueEmpty; }));
  const auto start = std::chrono::steady_clock::now();
  queue.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  EXPECT_FALSE(queue.ExtractNext());
}

TEST(ExtractionQueueTest, StopWithoutAThreadAndDestructionAreHarmless) {
  CExtractionQueue idle;
  idle.Stop();
  EXPECT_FALSE(idle.IsStarted());
  EXPECT_FALSE(idle.ExtractNext()) << "not running: nothing to do";
  // Destroying a running queue stops and joins its thread.
  {
    CExtractionQueue running;
    running.QueueExtraction("/nonexistent/a.zip", "/nonexistent/");
  }
}

TEST(ExtractionQueueTest, QueuingClearsTheResultOfTheLastArchive) {
  // After a failed extraction and a retry, the new archive must not look failed before it ran.
  ScriptedExtractor ex;
  ex.results["a.zip"] = kExtractNotOpened;
  ex.hold = {"b.zip"};
  CExtractionQueue queue(ex.Get());
  queue.QueueExtraction("a.zip", "/d/");
  ASSERT_TRUE(WaitFor([&] { return queue.Poll().queueEmpty; }));
  ASSERT_EQ(queue.Poll().result, kExtractNotOpened);
  queue.QueueExtraction("b.zip", "/d/");
  const CExtractionQueue::Snapshot s = queue.Poll();
  EXPECT_FALSE(s.queueEmpty);
  EXPECT_EQ(s.result, 0);
  ex.Release("b.zip");
}

TEST(ExtractionQueueTest, RealArchivesSucceededOnesAreDeletedFailedOnesStay) {
  TempDir dir;
  WriteFile(dir.file("download/placeholder"), "");
  WriteZip(dir.file("download/a.zip"), {{"data/a.txt", "from a"}});
  WriteFile(dir.file("download/b.zip"), "not an archive");
  WriteZip(dir.file("download/c.zip"), {{"c.txt", "from c"}});
  CExtractionQueue queue;
  queue.QueueExtraction(dir.file("download/a.zip"), dir.path() + "/");
  ASSERT_TRUE(WaitFor([&] { return queue.Poll().queueEmpty; }));
  EXPECT_EQ(queue.Poll().result, kExtractOk);
  EXPECT_FALSE(Exists(dir.file("download/a.zip")));
  EXPECT_EQ(ReadFile(dir.file("data/a.txt")), "from a");

  queue.QueueExtraction(dir.file("download/b.zip"), dir.path() + "/");
  ASSERT_TRUE(WaitFor([&] { return queue.Poll().queueEmpty; }));
  EXPECT_EQ(queue.Poll().result, kExtractNotOpened);
  EXPECT_TRUE(Exists(dir.file("download/b.zip")));

  // A later archive starts with a clean result and succeeds.
  queue.QueueExtraction(dir.file("download/c.zip"), dir.file("Custom/12/"));
  EXPECT_EQ(queue.Poll().result, kExtractOk);
  ASSERT_TRUE(WaitFor([&] { return queue.Poll().queueEmpty; }));
  EXPECT_EQ(queue.Poll().result, kExtractOk);
  EXPECT_EQ(ReadFile(dir.file("Custom/12/c.txt")), "from c");
  EXPECT_FALSE(Exists(dir.file("download/c.zip")));
}

TEST(ExtractionQueueTest, RealExtractionShowsItsEntryCounters) {
  TempDir dir;
  std::vector<test::ZipEntry> entries;
  for (int i = 0; i < 300; ++i) entries.push_back({"f/" + std::to_string(i) + ".txt", "x"});
  WriteZip(dir.file("many.zip"), entries);
  CExtractionQueue queue;
  queue.QueueExtraction(dir.file("many.zip"), dir.path() + "/out/");
  // 300 files with a 1 ms rest each: the counters are seen mid-way.
  int32_t seenTotal = 0, maxIndex = 0;
  ASSERT_TRUE(WaitFor(
      [&] {
        const CExtractionQueue::Snapshot s = queue.Poll();
        if (!s.queueEmpty && s.total > 0) {
          seenTotal = s.total;
          maxIndex = std::max(maxIndex, s.index);
        }
        return s.queueEmpty;
      },
      20000ms));
  EXPECT_EQ(seenTotal, 300);
  EXPECT_GT(maxIndex, 0);
  EXPECT_LT(maxIndex, 300);
  EXPECT_EQ(queue.Poll().result, kExtractOk);
}

}  // namespace
}  // namespace zarn
