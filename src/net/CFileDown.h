// The background download worker: fetches files over HTTP into local files on its own thread,
// several at once when its settings allow (libcurl's multi interface; one at a time by
// default), and reports each download's start, progress and end to a listener.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/IDownloader.h"

namespace zarn {

// Receives the reports of a download, always on the worker thread: OnDownloadStart at most
// once, OnDownloadProgress zero or more times, then OnDownloadFinish exactly once. The two
// strings are copies of the job's own, free to keep.
class IDownLoadFile {
 public:
  virtual ~IDownLoadFile() = default;
  // The server accepted the request and the local file is open; total is the announced
  // length in bytes (0 when the reply announced none).
  virtual void OnDownloadStart(int taskCode, std::string url, std::string localPath, int total) = 0;
  // A piece was written; done counts the bytes written so far.
  virtual void OnDownloadProgress(int taskCode, std::string url, std::string localPath, int done,
                                  int total) = 0;
  // The job is over: errorCode 0 means the file arrived complete, anything else a failure.
  virtual void OnDownloadFinish(int taskCode, std::string url, std::string localPath, int errorCode) = 0;
};

// Task codes of the launcher's downloads (the worker hands them back untouched).
inline constexpr int kTaskOrdinary = 100;
inline constexpr int kTaskLauncher = 2000;

// Error codes of a failed download, as OnDownloadFinish reports them:
//   100..599   the final HTTP status when it was not 200;
//   1..99      libcurl's code of the failed transfer (7 no connection, 18 the reply ended
//              before its announced length, 28 time-out: nothing received for too long);
//   negative   -errno of the local file that could not be created, written or closed
//              (-28: disk full);
//   1001, 1002 the file is not what the job expected (DownloadExpectations): its size or its
//              SHA-256 differs, or (resumable jobs) more arrived than the reply announced.
//              The file is then deleted.
inline constexpr int kErrorShortReply = 18;
inline constexpr int kErrorTimedOut = 28;
inline constexpr int kErrorSizeMismatch = 1001;
inline constexpr int kErrorHashMismatch = 1002;

// One download job.
class BindStatusCallback {
 public:
  BindStatusCallback(int taskCode, std::string url, std::string localPath, IDownLoadFile* listener,
                     DownloadExpectations expect = {})
      : taskCode(taskCode),
        url(std::move(url)),
        localPath(std::move(localPath)),
        listener(listener),
        expect(std::move(expect)) {}
  virtual ~BindStatusCallback() = default;

  int taskCode;
  std::string url;
  std::string localPath;    // its folder must exist
  IDownLoadFile* listener;  // not owned; null: no reports
  DownloadExpectations expect;
};

// Time-outs of a transfer. The defaults are the launcher's; tests shorten them.
struct DownloadSettings {
  std::chrono::milliseconds connectTimeout{2000};
  int connectRetries = 3;  // further attempts after a connection that could not be made
  // A transfer that receives nothing for this long fails (the stall limit).
  std::chrono::milliseconds receiveTimeout{30000};
  // Resumable jobs: the waits before the further tries after a transient failure (one try
  // more than there are waits; a try that moved the file forward starts the count again),
  // and the longest Retry-After of a 429 or 503 that is honoured.
  std::vector<std::chrono::milliseconds> retryWaits{std::chrono::seconds(1), std::chrono::seconds(2),
                                                    std::chrono::seconds(4)};
  std::chrono::milliseconds retryAfterLimit{30000};
  // At most this many transfers at once (a job waiting for a try again counts); 1: one job
  // after the other.
  int maxTransfers = 1;
  // The most bytes per second all transfers together receive; 0: no limit.
  int64_t maxReceiveRate = 0;
};

// The worker's "Launcher" settings of ClientConfig.cfg: "Downloads" (transfers at once, 1 to
// kMaxDownloads, default kDefaultDownloads) and "MaxRateKiB" (the cap in KiB/s, 0 = none). A
// value that is not a whole number in its range gives the default.
inline constexpr char kSectionLauncher[] = "Launcher";
inline constexpr char kKeyDownloads[] = "Downloads";
inline constexpr char kKeyMaxRateKiB[] = "MaxRateKiB";
inline constexpr int kDefaultDownloads = 4;
inline constexpr int kMaxDownloads = 16;
inline constexpr int64_t kMaxRateKiBLimit = 16 * 1024 * 1024;  // 16 GiB/s: beyond is no cap anyone means
int ConfiguredDownloads(const std::string& configPath);
int64_t ConfiguredMaxRateKiB(const std::string& configPath);
// The launcher's settings with these two read from configPath.
DownloadSettings ConfiguredDownloadSettings(const std::string& configPath);

class CFileDown : public IDownloader {
 public:
  // The process-wide worker, created on first use, destroyed at normal process exit.
  static CFileDown* GetInstance();

  // A worker of its own (tests; the launcher uses GetInstance).
  explicit CFileDown(DownloadSettings settings = {});
  // Lets the running transfers finish (their finish reports included; one waiting to be tried
  // again fails at once) and joins the thread; waiting jobs go without a report. Not to be
  // called from inside one of its own reports.
  virtual ~CFileDown();
  CFileDown(const CFileDown&) = delete;
  CFileDown& operator=(const CFileDown&) = delete;

  // Queues a download and returns at once; from any thread, also from inside a report. A job
  // waiting for the same local path is replaced (the replaced one gets no report). Waiting jobs
  // start in ascending byte order of their local paths, as transfers become free; a job whose
  // local path is being downloaded waits for that transfer to end.
  void AddTask(std::string url, std::string localPath, int taskCode, IDownLoadFile* listener) override;
  // The same, for a file whose size or hash is known beforehand.
  void AddTask(std::string url, std::string localPath, int taskCode, IDownLoadFile* listener,
               DownloadExpectations expect) override;

  // Withdraws a listener (a page being destroyed): its waiting jobs are dropped without a
  // report, a running one of it reports to nobody. Waits for a report to it under way, so it
  // may be called from inside one of that listener's reports but not while holding a lock
  // that a report takes.
  void RemoveListener(IDownLoadFile* listener) override;
  // The same, and its running transfers are ended at once: their partial files stay on disk
  // for a later resume.
  void CancelTasks(IDownLoadFile* listener) override;

  const DownloadSettings& settings() const { return m_settings; }

  // The user agent of the transfers: the executable's file name up to its first ".".
  static std::string UserAgent();

 private:
  class Active;
  class PlainJob;
  class ResumableJob;
  void Run();
  // Takes waiting jobs into transfers while there is room.
  void StartWaitingJobs(void* multi);
  // Carries out a job's next step (an Active::Next).
  void Advance(void* multi, Active& active, int step);
  void Finish(Active& active, int errorCode);
  // The shared receive cap: a piece is taken while the bucket holds bytes (it may go into
  // debt by one piece); held transfers go on once it has refilled.
  bool TakeReceiveBytes(size_t bytes);
  void RefillReceiveBytes();
  void UnpauseHeldTransfers();
  std::chrono::milliseconds UntilReceiveBytes() const;
  bool HasJobs();
  void Wake();
  // Reports of a job go to its listener unless that was withdrawn (under the report lock).
  template <class F>
  void ReportTo(Active& active, const char* what, F&& call);

  std::map<std::string, std::unique_ptr<BindStatusCallback>> m_jobs;
  std::mutex m_jobsLock;
  std::unique_ptr<std::thread> m_thread;
  std::once_flag m_threadStarted;
  std::mutex m_wakeMutex;
  std::condition_variable m_wake;
  std::atomic<bool> m_running{false};
  std::atomic<bool> m_stopping{false};  // the destructor has begun
  const DownloadSettings m_settings;
  void* m_multi = nullptr;  // libcurl's multi handle, made with the worker
  // The running jobs; the list and each one's listener change under the report lock, which is
  // held while a report runs and taken before m_jobsLock.
  std::recursive_mutex m_reportLock;
  std::list<std::unique_ptr<Active>> m_active;
  double m_receiveBytes = 0;  // the cap's bucket (worker thread only)
  std::chrono::steady_clock::time_point m_receiveRefilled = std::chrono::steady_clock::now();
  size_t m_unpauseFrom = 0;  // whom to let go first next time, so that all get their turn
};

}  // namespace zarn
