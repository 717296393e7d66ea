#include "net/CFileDown.h"

#include <curl/curl.h>

#include <climits>
#include <cstring>
#include <optional>
#include <vector>

#include "app/Startup.h"
#include "net/CurlSupport.h"
#include "net/PartialDownload.h"
#include "net/Transfer.h"
#include "platform/Process.h"
#include "util/Debug.h"
#include "util/Paths.h"

namespace zarn {

namespace {

// libcurl's receive buffer is the job's one transfer buffer: each piece it hands over is
// written straight to the file and reported.
constexpr long kTransferBuffer = 1 << 20;

// A listener's report must not unwind through the worker (or through libcurl).
template <class F>
void Report(const char* what, F&& call) {
  try {
    call();
  } catch (const std::exception& e) {
    DebugOutput(std::string("download listener ") + what + " threw: " + e.what());
  } catch (...) {
    DebugOutput(std::string("download listener ") + what + " threw");
  }
}

int ClampToInt(int64_t value) { return value > INT_MAX ? INT_MAX : static_cast<int>(value); }

net::TransferOptions RequestOf(const std::string& url, const DownloadSettings& settings) {
  net::TransferOptions options;
  options.url = net::EscapeRequestBytes(url);
  options.http10 = true;
  options.pathAsIs = true;
  options.freshConnection = true;
  options.userAgent = CFileDown::UserAgent();
  options.headers = {"Accept:"};  // no accept-type list: libcurl's own is taken away
  options.connectTimeout = settings.connectTimeout;
  options.connectRetries = settings.connectRetries;
  options.retryNameLookup = true;
  options.stallLimit = settings.receiveTimeout;
  options.bufferSize = kTransferBuffer;
  return options;
}

// Retry-After in seconds (the date form is not used: the fixed waits apply); negative: none.
std::chrono::milliseconds RetryAfter(const std::string& rawHead) {
  const std::string value = net::HeaderValue(rawHead, "Retry-After");
  if (value.empty() || value.size() > 9 || value.find_first_not_of("0123456789") != std::string::npos)
    return std::chrono::milliseconds(-1);
  return std::chrono::seconds(std::stol(value));
}

}  // namespace

CFileDown* CFileDown::GetInstance() {
  static CFileDown instance;
  return &instance;
}

// Forwards the running job's reports to its listener while that is not withdrawn; the report
// lock keeps RemoveListener waiting until a report under way has returned.
class CFileDown::Relay : public IDownLoadFile {
 public:
  explicit Relay(CFileDown& owner) : owner_(owner) {}
  void OnDownloadStart(int taskCode, std::string url, std::string localPath, int total) override {
    std::lock_guard<std::recursive_mutex> lock(owner_.m_reportLock);
    if (owner_.m_reportTo)
      owner_.m_reportTo->OnDownloadStart(taskCode, std::move(url), std::move(localPath), total);
  }
  void OnDownloadProgress(int taskCode, std::string url, std::string localPath, int done,
                          int total) override {
    std::lock_guard<std::recursive_mutex> lock(owner_.m_reportLock);
    if (owner_.m_reportTo)
      owner_.m_reportTo->OnDownloadProgress(taskCode, std::move(url), std::move(localPath), done, total);
  }
  void OnDownloadFinish(int taskCode, std::string url, std::string localPath, int errorCode) override {
    std::lock_guard<std::recursive_mutex> lock(owner_.m_reportLock);
    if (owner_.m_reportTo)
      owner_.m_reportTo->OnDownloadFinish(taskCode, std::move(url), std::move(localPath), errorCode);
  }

 private:
  CFileDown& owner_;
};

CFileDown::CFileDown(DownloadSettings settings)
    : m_settings(settings), m_relay(std::make_unique<Relay>(*this)) {}

CFileDown::~CFileDown() {
  {
    // Under the wake lock, so that an AddTask racing with this cannot see "not stopping" and
    // then set the worker running again after it was told to end.
    std::lock_guard<std::mutex> lock(m_wakeMutex);
    m_stopping = true;
    m_running = false;
    m_wake.notify_all();
  }
  if (m_thread && m_thread->joinable()) m_thread->join();
  {
    std::lock_guard<std::mutex> lock(m_jobsLock);
    m_jobs.clear();
  }
  {
    std::lock_guard<std::mutex> lock(m_finishedLock);
    m_finished.clear();
  }
}

void CFileDown::AddTask(std::string url, std::string localPath, int taskCode, IDownLoadFile* listener) {
  AddTask(std::move(url), std::move(localPath), taskCode, listener, DownloadExpectations{});
}

void CFileDown::AddTask(std::string url, std::string localPath, int taskCode, IDownLoadFile* listener,
                        DownloadExpectations expect) {
  auto job =
      std::make_unique<BindStatusCallback>(taskCode, std::move(url), localPath, listener, std::move(expect));
  {
    std::lock_guard<std::mutex> lock(m_jobsLock);
    m_jobs[localPath] = std::move(job);  // a job waiting for the same file is replaced
  }
  // A worker being destroyed takes no new work (a report that queues the next download must
  // not keep the destructor waiting).
  // The thread is started under the same lock, so the destructor either sees it and joins it
  // or has already stopped the worker and no thread is started.
  std::lock_guard<std::mutex> lock(m_wakeMutex);
  if (m_stopping) return;
  m_running = true;
  std::call_once(m_threadStarted,
                 [this] { m_thread = std::make_unique<std::thread>(&CFileDown::Run, this); });
  m_wake.notify_one();
}

bool CFileDown::HasJobs() {
  std::lock_guard<std::mutex> lock(m_jobsLock);
  return !m_jobs.empty();
}

void CFileDown::Run() {
  while (m_running) {
    {
      // The map is looked at under the wake mutex, so a job queued before this wait began is
      // seen here and its signal is not needed.
      std::unique_lock<std::mutex> lock(m_wakeMutex);
      m_wake.wait(lock, [this] { return HasJobs() || !m_running; });
    }
    while (HasJobs()) {
      if (!m_running) return;
      ProcessOne();
      if (!m_running) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
}

bool CFileDown::ProcessOne() {
  if (!m_running) return false;
  std::unique_ptr<BindStatusCallback> job;
  IDownLoadFile* listener = BeginReports(job);
  if (!job) return m_running;
  const int errorCode = DownloadFile(*job, listener);
  if (listener)
    Report("finish", [&] { listener->OnDownloadFinish(job->taskCode, job->url, job->localPath, errorCode); });
  EndReports();
  {
    std::lock_guard<std::mutex> lock(m_finishedLock);
    m_finished.push_back(std::move(job));
  }
  return m_running;
}

// Takes the next job out of the queue and makes its listener the relay's, in one step under
// the report lock, so that a RemoveListener either finds the job waiting or finds it running.
IDownLoadFile* CFileDown::BeginReports(std::unique_ptr<BindStatusCallback>& job) {
  std::lock_guard<std::recursive_mutex> reports(m_reportLock);
  std::lock_guard<std::mutex> lock(m_jobsLock);
  if (m_jobs.empty()) return nullptr;
  auto first = m_jobs.begin();
  job = std::move(first->second);
  m_jobs.erase(first);
  m_reportTo = job->listener;
  return m_reportTo ? m_relay.get() : nullptr;
}

void CFileDown::EndReports() {
  std::lock_guard<std::recursive_mutex> reports(m_reportLock);
  m_reportTo = nullptr;
}

void CFileDown::RemoveListener(IDownLoadFile* listener) {
  if (!listener) return;
  std::lock_guard<std::recursive_mutex> reports(m_reportLock);
  {
    std::lock_guard<std::mutex> lock(m_jobsLock);
    std::erase_if(m_jobs, [listener](const auto& entry) { return entry.second->listener == listener; });
  }
  if (m_reportTo == listener) m_reportTo = nullptr;
}

std::string CFileDown::UserAgent() {
  const std::string name = CanonicalBaseName(BaseFileName(GetModulePath()));
  return name.empty() ? std::string(kShortProductName) : name;
}

int CFileDown::DownloadFile(const BindStatusCallback& job, IDownLoadFile* listener) {
  if (job.expect.resumable) return DownloadResumable(job, listener);
  net::Transfer transfer(RequestOf(job.url, m_settings));

  int64_t total = 0;
  net::FileSink file(job.localPath);
  file.onOpened = [&](const net::ReplyHead& head) {
    total = head.announced;
    if (listener)
      Report("start",
             [&] { listener->OnDownloadStart(job.taskCode, job.url, job.localPath, ClampToInt(total)); });
  };
  file.onWritten = [&](int64_t done) {
    if (listener)
      Report("progress", [&] {
        listener->OnDownloadProgress(job.taskCode, job.url, job.localPath, ClampToInt(done),
                                     ClampToInt(total));
      });
  };
  net::AnnouncedLengthValidator announced;
  std::optional<net::ExpectedSizeValidator> size;
  std::optional<net::ExpectedSha256Validator> hash;
  std::vector<net::Validator*> validators = {&announced};
  if (job.expect.size >= 0) validators.push_back(&size.emplace(job.expect.size, kErrorSizeMismatch));
  if (!job.expect.sha256.empty()) validators.push_back(&hash.emplace(job.expect.sha256, kErrorHashMismatch));

  const net::TransferResult result = transfer.Run(file, validators);
  const std::string& url = job.url;
  if (file.Error() != 0) {
    DebugOutput("download " + url + ": cannot write " + job.localPath + ": " + std::strerror(file.Error()));
    return -file.Error();
  }
  if (!file.Opened() && result.head.status != 200 &&
      (result.code == CURLE_OK || (result.code == CURLE_WRITE_ERROR && result.bodyRefused))) {
    DebugOutput("download " + url + ": status " + std::to_string(result.head.status));
    return result.head.status >= 100 ? static_cast<int>(result.head.status)
                                     : static_cast<int>(CURLE_WEIRD_SERVER_REPLY);
  }
  if (result.code != CURLE_OK && !result.rejected) {
    DebugOutput("download " + url + ": " + result.errorText);
    return static_cast<int>(result.code);
  }
  if (result.verdict.error != 0) {
    DebugOutput("download " + url + ": " + std::to_string(file.Written()) + " bytes not as expected (error " +
                std::to_string(result.verdict.error) + ")" + (result.verdict.discard ? ", deleted" : ""));
    return result.verdict.error;
  }
  return 0;
}

bool CFileDown::WaitBeforeRetry(std::chrono::milliseconds wait) {
  std::unique_lock<std::mutex> lock(m_wakeMutex);
  return !m_wake.wait_for(lock, wait, [this] { return m_stopping.load(); });
}

int CFileDown::DownloadResumable(const BindStatusCallback& job, IDownLoadFile* listener) {
  const std::string& url = job.url;
  net::PartialDownload part(job.localPath, job.expect.identity.empty() ? url : job.expect.identity,
                            job.expect.size, job.expect.sha256);
  // One start report for the job; the progress of later tries goes on from the bytes on disk.
  bool started = false;
  part.onOpened = [&](int64_t total) {
    if (started || !listener) return;
    started = true;
    Report("start", [&] { listener->OnDownloadStart(job.taskCode, url, job.localPath, ClampToInt(total)); });
  };
  part.onWritten = [&](int64_t done, int64_t total) {
    if (listener)
      Report("progress", [&] {
        listener->OnDownloadProgress(job.taskCode, url, job.localPath, ClampToInt(done), ClampToInt(total));
      });
  };
  const auto fail = [&](int code, const std::string& why) {
    DebugOutput("download " + url + ": " + why);
    return code;
  };
  const auto checkAndCommit = [&]() {
    if (const int wrong = part.Check(kErrorSizeMismatch, kErrorHashMismatch); wrong != 0) {
      part.Discard();
      return fail(wrong, "the whole file is not as expected (error " + std::to_string(wrong) + "), deleted");
    }
    if (!part.Commit()) return fail(-part.Error(), "cannot move the finished file to " + job.localPath);
    return 0;
  };

  size_t retries = 0;
  int startsOver = 0;
  int64_t furthest = -1;  // the most of the file that was ever on disk during this job
  for (;;) {
    if (!part.Prepare())
      return fail(-part.Error(), "cannot use " + part.PartPath() + ": " + std::strerror(part.Error()));
    // A file that was whole when the launcher stopped needs no request.
    if (job.expect.size >= 0 && part.Offset() == job.expect.size && part.Offset() > 0)
      return checkAndCommit();

    net::TransferOptions options = RequestOf(url, m_settings);
    for (std::string& line : part.RequestHeaders()) options.headers.push_back(std::move(line));
    net::Transfer transfer(std::move(options));
    if (furthest < 0) furthest = part.Offset();
    net::AnnouncedLengthValidator announced;
    const net::TransferResult result = transfer.Run(part, {&announced});

    if (part.Error() != 0)
      return fail(-part.Error(), "cannot write " + part.PartPath() + ": " + std::strerror(part.Error()));
    if (part.TooLong() || part.SizeDiffers()) {
      part.Discard();
      return fail(kErrorSizeMismatch, part.TooLong()
                                          ? "more bytes than announced, deleted"
                                          : "the server's length is not the expected one, deleted");
    }
    if (part.StartedOver()) {
      // Bounded: a request from byte 0 cannot be told to start over again by a sane server.
      if (++startsOver <= 3) {
        DebugOutput("download " + url + ": the partial file cannot be continued, starting from 0");
        continue;
      }
      return fail(
          result.status >= 100 ? static_cast<int>(result.status) : static_cast<int>(CURLE_RANGE_ERROR),
          "the server keeps refusing the range");
    }

    int error = 0;
    std::chrono::milliseconds wait(-1);
    // A status counts when the exchange itself ended cleanly; a redirect that could not be
    // followed (a loop, another scheme) fails with libcurl's code, as for every other job.
    if (result.finalHeadDone && result.head.status != 200 && result.head.status != 206 &&
        (result.code == CURLE_OK || result.bodyRefused)) {
      error = static_cast<int>(result.head.status);
      if (!net::TransientStatus(result.head.status)) return fail(error, "status " + std::to_string(error));
      if (result.head.status == 429 || result.head.status == 503) {
        wait = RetryAfter(result.head.raw);
        if (wait > m_settings.retryAfterLimit) wait = m_settings.retryAfterLimit;
      }
    } else if (result.code != CURLE_OK) {
      error = static_cast<int>(result.code);
      if (!net::TransientCode(result.code)) return fail(error, result.errorText);
      if (result.code == CURLE_COULDNT_CONNECT && job.expect.connectFailureEnds)
        return fail(error, result.errorText);
    } else if (result.verdict.error != 0) {
      error = result.verdict.error;  // the body ended before its announced length
    } else if (!result.finalHeadDone) {
      return fail(CURLE_WEIRD_SERVER_REPLY, "no reply");
    } else {
      return checkAndCommit();
    }

    // A try that brought the file further than any try before shows the way works: the count
    // of tries starts again, so a connection that breaks every few megabytes still brings the
    // file home. A try that only fetched again what a server without ranges made us drop
    // does not count as progress, or such a server would be asked for ever.
    if (part.Done() > furthest) {
      furthest = part.Done();
      retries = 0;
    }
    if (retries >= m_settings.retryWaits.size())
      return fail(error, "failed after " + std::to_string(retries + 1) + " tries (error " +
                             std::to_string(error) + ")");
    if (wait.count() < 0) wait = m_settings.retryWaits[retries];
    ++retries;
    DebugOutput("download " + url + ": error " + std::to_string(error) + ", trying again in " +
                std::to_string(wait.count()) + " ms from byte " + std::to_string(part.Done()));
    if (!WaitBeforeRetry(wait)) return fail(error, "the worker is stopping");
  }
}

}  // namespace zarn
