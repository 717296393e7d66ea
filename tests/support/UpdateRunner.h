// Runs the launcher's update session (the one the work page runs) without a window: a download
// worker, the extraction thread and a progress timer of its own, with the session's reports
// carried onto the calling thread as the page carries them onto its own. For the fault, kill
// and disk-full tests, and the session's own tests.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "net/CFileDown.h"
#include "update/CExtractionQueue.h"
#include "update/UpdateSession.h"

namespace zarn::test {

struct RoadOutcome {
  enum Kind {
    kComplete,        // the game would start now
    kDownloadFailed,  // "下载文件失败[localPath]错误ID[code]"
    kExtractFailed,   // "解压文件失败!!"; code is the extraction result
    kListUnreadable,  // "读取md5文件失败"
    kNoServer,        // "没有选择服务器"
    kCommitFailed,    // "解压文件失败!!": the manifest commit could not flush
    kHung,            // the session neither finished nor failed in time
  } kind = kComplete;
  int code = 0;
  std::string localPath;
  std::string text;  // the retry prompt's message
  int packagesChosen = 0;
};

inline DownloadSettings QuickRetries() {
  DownloadSettings settings;
  settings.retryWaits.assign(settings.retryWaits.size(), std::chrono::milliseconds(20));
  settings.retryAfterLimit = std::chrono::milliseconds(50);
  return settings;
}

struct RoadOptions {
  std::optional<std::string> serverId = std::string();  // the selected server's id; none: no server
  // The launcher's time-outs; the waits before another try are cut to 20 ms each, so a fault
  // that a retry cannot cure reaches the prompt without seconds of waiting.
  DownloadSettings download = QuickRetries();
  FileFlush flush;  // the commit's; empty: fsync
  std::chrono::milliseconds tick{10};
  std::chrono::milliseconds limit{120000};
  // Told each step as it begins ("manifest", "package <key>", "unpack <archive>", "commit", …).
  std::function<void(const std::string&)> onStep;
  // The base that holds the same tree as the one Run is given; empty: none.
  std::string otherBase;
  // Told each piece a download writes (on the worker's thread).
  std::function<void(const std::string& url, int done)> onProgress;
  // Packages downloading at once (the worker's transfers and the session's packages).
  int downloads = 1;
};

class UpdateRunner : private IDownLoadFile, private IProgressTimer, private IUpdateObserver {
 public:
  explicit UpdateRunner(RoadOptions options);
  ~UpdateRunner() override;

  // base ends in "/". A second run is the player's retry: the same session starts over, as
  // the page's does after OK.
  RoadOutcome Run(const std::string& gameDir, const std::string& base);
  // The base the session downloads from now.
  std::string baseInUse() const { return session_ ? session_->baseUrl() : std::string(); }

  // What the session showed.
  std::vector<std::string> steps;
  std::vector<std::pair<int32_t, int32_t>> overall;       // blue bar counters, each time they changed
  std::vector<std::pair<int32_t, int32_t>> fileProgress;  // green bar counters the session set
  std::vector<int> stagesAtTicks;
  int prompts = 0;  // failures shown, over all runs
  bool timerActive = false;
  bool startDisabled = false;

 private:
  void OnDownloadStart(int, std::string, std::string, int) override {}
  void OnDownloadProgress(int, std::string url, std::string localPath, int done, int total) override {
    if (options_.onProgress) options_.onProgress(url, done);
    if (UpdateSession* session = sessionForProgress_.load())
      session->NoteDownloadProgress(localPath, done, total);
  }
  void OnDownloadFinish(int taskCode, std::string url, std::string localPath, int errorCode) override;
  void SetProgressTimer() override;
  void KillProgressTimer() override;
  void DisableStart() override { startDisabled = true; }
  void ShowFileProgress(int32_t done, int32_t total) override { fileProgress.emplace_back(done, total); }
  void ShowOverallProgress(int32_t done, int32_t total) override;
  void RefreshBars() override {}
  void UpdateFailed(const UpdateFailure& failure) override;
  void StartTheGame() override;
  void StepBegins(const std::string& step) override;

  RoadOptions options_;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<std::pair<std::string, int>> finishes_;
  bool woken_ = false;  // the session asked for a tick now
  std::chrono::steady_clock::time_point nextTick_;
  bool over_ = false;
  RoadOutcome outcome_;
  std::atomic<UpdateSession*> sessionForProgress_{nullptr};
  CFileDown worker_;  // after what its reports reach, so that it is gone before them
  CExtractionQueue extraction_;
  std::unique_ptr<UpdateSession> session_;
};

// One update of gameDir from base, as a start command of the page runs it.
RoadOutcome RunUpdateSession(const std::string& gameDir, const std::string& base, const RoadOptions& options);

std::string DescribeOutcome(const RoadOutcome& outcome);

}  // namespace zarn::test
