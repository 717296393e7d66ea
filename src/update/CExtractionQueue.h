// The work page's extraction thread: archives wait in a queue ordered by path and are unpacked
// one at a time; the page's progress timer watches the result and the entry counters.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace zarn {

class CExtractionQueue {
 public:
  // Unpacks one archive; the default is ExtractArchive with its 1 ms rest after each file.
  using Extractor = std::function<int(const std::string& archivePath, const std::string& destFolder,
                                      std::atomic<int32_t>* total, std::atomic<int32_t>* index)>;

  CExtractionQueue();
  explicit CExtractionQueue(Extractor extractor);
  ~CExtractionQueue();  // Stop()
  CExtractionQueue(const CExtractionQueue&) = delete;
  CExtractionQueue& operator=(const CExtractionQueue&) = delete;

  // Starts the thread with the first archive (once: not again after Stop); sets the archive's destination (a
  // queued archive only gets its destination replaced). Clears the result of an earlier archive, so that a
  // retry after a failed extraction is not taken for failed before it ran.
  void QueueExtraction(const std::string& archivePath, const std::string& destFolder);

  // One step of the thread: unpacks the first queued archive, stores the result, deletes the
  // archive when it succeeded, resets the counters and only then removes the entry. False once
  // the queue is stopped.
  bool ExtractNext();

  // Told on the extraction thread each time an archive is done (its result in place, its
  // entry gone), so that an owner can look at once instead of on its next tick. Empty: nobody.
  void SetOnArchiveDone(std::function<void()> done);

  // Clears extractRunning and waits for the thread (an archive under way is finished first;
  // archives still queued are not unpacked). Called by the page when it is destroyed.
  void Stop();

  // What the progress timer reads. The queue is looked at before the result: once the queue
  // is seen empty, the result of its last archive is already in place.
  struct Snapshot {
    bool queueEmpty = true;
    int32_t result = 0;
    int32_t total = 0;
    int32_t index = 0;
  };
  Snapshot Poll() const;

  size_t QueuedCount() const;
  bool IsStarted() const;
  bool IsRunning() const { return extractRunning; }

 private:
  void ExtractionThread();

  Extractor extractor_;
  std::map<std::string, std::string> extractQueue;  // archive path → destination folder
  mutable std::mutex extractLock;                   // guards extractQueue and the thread start
  std::condition_variable wakeSignal_;              // cuts the 20 ms rest short on Stop or a new archive
  std::function<void()> onArchiveDone_;             // guarded by extractLock
  std::thread extractThread;
  bool started_ = false;  // the thread is started once, with the first archive
  std::atomic<bool> extractRunning{false};
  std::atomic<int32_t> extractResult{0};
  std::atomic<int32_t> extractTotal{0};
  std::atomic<int32_t> extractIndex{0};
};

}  // namespace zarn
