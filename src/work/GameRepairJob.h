// What the update button does after the update road: checks the game folder and the selected
// server's data against their lists and repairs what is missing or damaged, on a thread of its
// own. Qt-free: the page reads the progress counters on its timer and is told the end through
// the callback it gives (called on the job's thread, once).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace zarn {

// Codes of the retry prompt ("下载文件失败[path]错误ID[code]") for what the job can fail at.
inline constexpr int kErrorCheckListRefused = 1901;  // a list not fetched, or refused
inline constexpr int kErrorRepairFailed = 1902;      // a file could not be repaired
inline constexpr int kErrorNothingListed = 1903;     // no installed package has a list

struct GameRepairRequest {
  std::string gameDir;  // without a trailing "/"
  std::string baseUrl;  // ends in "/": the base the update road ended on
  // The selected server's data, checked when its downloaded list (the ".md5" the road just
  // fetched) holds an "index <hex>" line. Empty id: no server data.
  std::string serverDataId;
  std::string serverDataDir;
  std::string serverDataListPath;
  unsigned threads = 0;  // hashing threads; 0: one per core
};

struct GameRepairOutcome {
  enum Kind { kWhole, kRepaired, kFailed, kCancelled } kind = kWhole;
  size_t repaired = 0;
  int code = 0;                      // with kFailed
  std::string path;                  // with kFailed: what the prompt names
  std::vector<std::string> details;  // why, for the log
};

// The data list's "index <hex>" line; empty when it has none (or a malformed one).
std::string ServerDataIndex(const std::string& listPath);

class GameRepairJob {
 public:
  GameRepairJob() = default;
  // Cancels and waits.
  ~GameRepairJob();
  GameRepairJob(const GameRepairJob&) = delete;
  GameRepairJob& operator=(const GameRepairJob&) = delete;

  // Starts the job; a job still running is cancelled and waited for first.
  void Start(GameRepairRequest request, std::function<void()> onDone);
  // Asks the job to stop between reads and waits for it: a file being repaired is not put in
  // place, nothing half-written stays.
  void CancelAndWait();
  // The same for a launcher that is about to end: a request under way only notices at its end,
  // so the wait stops after `limit`. True when the job has ended.
  bool CancelAndWaitAtMost(std::chrono::milliseconds limit);
  // True from Start until the job's end was told.
  bool running() const { return running_.load(); }
  // The outcome, once onDone was called.
  GameRepairOutcome TakeOutcome();

  // The bars. Blue: packages checked, then packages repaired. Green: bytes looked at, then
  // bytes fetched (of the broken files' sizes, as the compressed ones are not known ahead).
  std::atomic<int64_t> packagesDone{0}, packagesTotal{0}, bytesDone{0}, bytesTotal{0};

 private:
  GameRepairOutcome Run(const GameRepairRequest& request);

  std::thread thread_;
  std::atomic<bool> cancel_{false};
  std::atomic<bool> running_{false};
  GameRepairOutcome outcome_;
};

}  // namespace zarn
