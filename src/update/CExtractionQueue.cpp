#include "update/CExtractionQueue.h"

#include <unistd.h>

#include <chrono>

#include "update/Extract.h"

namespace zarn {

CExtractionQueue::CExtractionQueue()
    : CExtractionQueue([](const std::string& archive, const std::string& dest, std::atomic<int32_t>* total,
                          std::atomic<int32_t>* index) {
        ExtractOptions options;
        options.total = total;
        options.index = index;
        return ExtractArchive(archive, dest, options);
      }) {}

CExtractionQueue::CExtractionQueue(Extractor extractor) : extractor_(std::move(extractor)) {}

CExtractionQueue::~CExtractionQueue() { Stop(); }

void CExtractionQueue::QueueExtraction(const std::string& archivePath, const std::string& destFolder) {
  std::lock_guard lock(extractLock);
  if (!started_) {
    started_ = true;
    extractRunning = true;
    extractThread = std::thread(&CExtractionQueue::ExtractionThread, this);
  }
  extractResult = 0;
  extractQueue[archivePath] = destFolder;
  wakeSignal_.notify_all();
}

void CExtractionQueue::SetOnArchiveDone(std::function<void()> done) {
  std::lock_guard lock(extractLock);
  onArchiveDone_ = std::move(done);
}

bool CExtractionQueue::ExtractNext() {
  if (!extractRunning) return false;
  std::string archive, dest;
  {
    std::lock_guard lock(extractLock);
    if (extractQueue.empty()) return extractRunning;
    archive = extractQueue.begin()->first;
    dest = extractQueue.begin()->second;
  }
  const int result = extractor_(archive, dest, &extractTotal, &extractIndex);
  extractResult = result;
  if (result == 0) ::unlink(archive.c_str());
  extractTotal = 0;
  extractIndex = 0;
  std::function<void()> done;
  {
    std::lock_guard lock(extractLock);
    extractQueue.erase(archive);
    done = onArchiveDone_;
  }
  if (done) done();
  return extractRunning;
}

void CExtractionQueue::ExtractionThread() {
  while (ExtractNext()) {
    std::unique_lock lock(extractLock);
    // The next archive, when one is already queued, goes without the rest.
    wakeSignal_.wait_for(lock, std::chrono::milliseconds(20),
                         [this] { return !extractRunning || !extractQueue.empty(); });
  }
}

void CExtractionQueue::Stop() {
  {
    std::lock_guard lock(extractLock);
    extractRunning = false;
  }
  wakeSignal_.notify_all();
  if (extractThread.joinable() && extractThread.get_id() != std::this_thread::get_id()) extractThread.join();
}

CExtractionQueue::Snapshot CExtractionQueue::Poll() const {
  Snapshot snapshot;
  {
    std::lock_guard lock(extractLock);
    snapshot.queueEmpty = extractQueue.empty();
  }
  snapshot.result = extractResult;
  snapshot.total = extractTotal;
  snapshot.index = extractIndex;
  return snapshot;
}

size_t CExtractionQueue::QueuedCount() const {
  std::lock_guard lock(extractLock);
  return extractQueue.size();
}

bool CExtractionQueue::IsStarted() const {
  std::lock_guard lock(extractLock);
  return started_;
}

}  // namespace zarn
