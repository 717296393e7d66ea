#include "net/CFileDown.h"

#include <curl/curl.h>

#include <algorithm>
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
#include "util/IniFile.h"
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

// Under a rate cap the bytes are let in by pieces of the receive buffer: small pieces keep the
// rate close to the cap and the holds short.
long CappedTransferBuffer(int64_t rate) {
  return static_cast<long>(std::clamp<int64_t>(rate / 16, 1024, 64 << 10));
}

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
  options.bufferSize =
      settings.maxReceiveRate > 0 ? CappedTransferBuffer(settings.maxReceiveRate) : kTransferBuffer;
  return options;
}

// Retry-After in seconds (the date form is not used: the fixed waits apply); negative: none.
std::chrono::milliseconds RetryAfter(const std::string& rawHead) {
  const std::string value = net::HeaderValue(rawHead, "Retry-After");
  if (value.empty() || value.size() > 9 || value.find_first_not_of("0123456789") != std::string::npos)
    return std::chrono::milliseconds(-1);
  return std::chrono::seconds(std::stol(value));
}

// A whole decimal number of at most nine digits filling the text; -1 when it is not one.
int64_t ConfigNumber(const std::string& text) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return -1;
  return std::stoll(text);
}

}  // namespace

int ConfiguredDownloads(const std::string& configPath) {
  const int64_t n = ConfigNumber(GetPrivateProfileString(kSectionLauncher, kKeyDownloads, "", configPath));
  return n >= 1 && n <= kMaxDownloads ? static_cast<int>(n) : kDefaultDownloads;
}

int64_t ConfiguredMaxRateKiB(const std::string& configPath) {
  const int64_t n = ConfigNumber(GetPrivateProfileString(kSectionLauncher, kKeyMaxRateKiB, "", configPath));
  return n >= 0 && n <= kMaxRateKiBLimit ? n : 0;
}

DownloadSettings ConfiguredDownloadSettings(const std::string& configPath) {
  DownloadSettings settings;
  settings.maxTransfers = ConfiguredDownloads(configPath);
  settings.maxReceiveRate = ConfiguredMaxRateKiB(configPath) * 1024;
  return settings;
}

CFileDown* CFileDown::GetInstance() {
  static CFileDown instance(ConfiguredDownloadSettings(DirName(GetModulePath()) + "/ClientConfig.cfg"));
  return &instance;
}

// One running job: its transfer (or its wait before another try) and what it knows between
// the tries. Only the worker's thread drives it.
class CFileDown::Active {
 public:
  enum class Next {
    kTransfer,  // transfer is set up: add it to the multi handle
    kWait,      // try again at wakeAt; errorCode is the failure if the worker stops meanwhile
    kDone,      // over with errorCode
  };
  Active(CFileDown& owner, std::unique_ptr<BindStatusCallback> job)
      : job(std::move(job)), reportTo(this->job->listener), owner_(owner) {}
  virtual ~Active() = default;
  virtual Next Begin() = 0;
  virtual Next Complete(const net::TransferResult& result) = 0;

  std::unique_ptr<BindStatusCallback> job;
  IDownLoadFile* reportTo;  // null once withdrawn; under the report lock
  bool cancelled = false;   // under the report lock
  std::unique_ptr<net::Transfer> transfer;
  bool inMulti = false;
  bool waiting = false;
  bool over = false;
  int errorCode = 0;
  std::chrono::steady_clock::time_point wakeAt;

 protected:
  net::TransferOptions Request() {
    net::TransferOptions options = RequestOf(job->url, owner_.m_settings);
    if (owner_.m_settings.maxReceiveRate > 0)
      options.admit = [this](size_t bytes) { return owner_.TakeReceiveBytes(bytes); };
    return options;
  }
  Next StartTransfer(const std::vector<net::Validator*>& validators, net::Sink& sink) {
    if (!transfer->Begin(sink, validators)) return Complete(transfer->Finish());
    return Next::kTransfer;
  }
  Next Done(int code) {
    errorCode = code;
    return Next::kDone;
  }
  Next Fail(int code, const std::string& why) {
    DebugOutput("download " + job->url + ": " + why);
    return Done(code);
  }
  template <class F>
  void Tell(const char* what, F&& call) {
    owner_.ReportTo(*this, what, std::forward<F>(call));
  }
  CFileDown& owner_;
};

// One plain request into the local file.
class CFileDown::PlainJob : public Active {
 public:
  using Active::Active;

  Next Begin() override {
    transfer = std::make_unique<net::Transfer>(Request());
    file_ = std::make_unique<net::FileSink>(job->localPath);
    file_->onOpened = [this](const net::ReplyHead& head) {
      total_ = head.announced;
      Tell("start", [&](IDownLoadFile* l) {
        l->OnDownloadStart(job->taskCode, job->url, job->localPath, ClampToInt(total_));
      });
    };
    file_->onWritten = [this](int64_t done) {
      Tell("progress", [&](IDownLoadFile* l) {
        l->OnDownloadProgress(job->taskCode, job->url, job->localPath, ClampToInt(done), ClampToInt(total_));
      });
    };
    std::vector<net::Validator*> validators = {&announced_};
    if (job->expect.size >= 0) validators.push_back(&size_.emplace(job->expect.size, kErrorSizeMismatch));
    if (!job->expect.sha256.empty())
      validators.push_back(&hash_.emplace(job->expect.sha256, kErrorHashMismatch));
    return StartTransfer(validators, *file_);
  }

  Next Complete(const net::TransferResult& result) override {
    const std::string& url = job->url;
    net::FileSink& file = *file_;
    if (file.Error() != 0)
      return Fail(-file.Error(), "cannot write " + job->localPath + ": " + std::strerror(file.Error()));
    if (!file.Opened() && result.head.status != 200 &&
        (result.code == CURLE_OK || (result.code == CURLE_WRITE_ERROR && result.bodyRefused))) {
      return Fail(result.head.status >= 100 ? static_cast<int>(result.head.status)
                                            : static_cast<int>(CURLE_WEIRD_SERVER_REPLY),
                  "status " + std::to_string(result.head.status));
    }
    if (result.code != CURLE_OK && !result.rejected)
      return Fail(static_cast<int>(result.code), result.errorText);
    if (result.verdict.error != 0) {
      DebugOutput("download " + url + ": " + std::to_string(file.Written()) +
                  " bytes not as expected (error " + std::to_string(result.verdict.error) + ")" +
                  (result.verdict.discard ? ", deleted" : ""));
      return Done(result.verdict.error);
    }
    return Done(0);
  }

 private:
  int64_t total_ = 0;
  std::unique_ptr<net::FileSink> file_;
  net::AnnouncedLengthValidator announced_;
  std::optional<net::ExpectedSizeValidator> size_;
  std::optional<net::ExpectedSha256Validator> hash_;
};

// A download continued from its last byte and tried again after transient failures.
class CFileDown::ResumableJob : public Active {
 public:
  ResumableJob(CFileDown& owner, std::unique_ptr<BindStatusCallback> j) : Active(owner, std::move(j)) {
    part_ = std::make_unique<net::PartialDownload>(
        job->localPath, job->expect.identity.empty() ? job->url : job->expect.identity, job->expect.size,
        job->expect.sha256);
    // One start report for the job; the progress of later tries goes on from the bytes on disk.
    part_->onOpened = [this](int64_t total) {
      if (started_) return;
      started_ = true;
      Tell("start", [&](IDownLoadFile* l) {
        l->OnDownloadStart(job->taskCode, job->url, job->localPath, ClampToInt(total));
      });
    };
    part_->onWritten = [this](int64_t done, int64_t total) {
      Tell("progress", [&](IDownLoadFile* l) {
        l->OnDownloadProgress(job->taskCode, job->url, job->localPath, ClampToInt(done), ClampToInt(total));
      });
    };
  }

  Next Begin() override {
    net::PartialDownload& part = *part_;
    if (!part.Prepare())
      return Fail(-part.Error(), "cannot use " + part.PartPath() + ": " + std::strerror(part.Error()));
    // A file that was whole when the launcher stopped needs no request.
    if (job->expect.size >= 0 && part.Offset() == job->expect.size && part.Offset() > 0)
      return CheckAndCommit();
    net::TransferOptions options = Request();
    for (std::string& line : part.RequestHeaders()) options.headers.push_back(std::move(line));
    transfer = std::make_unique<net::Transfer>(std::move(options));
    if (furthest_ < 0) furthest_ = part.Offset();
    return StartTransfer({&announced_.emplace()}, part);
  }

  Next Complete(const net::TransferResult& result) override {
    net::PartialDownload& part = *part_;
    const DownloadSettings& settings = owner_.m_settings;
    if (part.Error() != 0)
      return Fail(-part.Error(), "cannot write " + part.PartPath() + ": " + std::strerror(part.Error()));
    if (part.TooLong() || part.SizeDiffers()) {
      part.Discard();
      return Fail(kErrorSizeMismatch, part.TooLong()
                                          ? "more bytes than announced, deleted"
                                          : "the server's length is not the expected one, deleted");
    }
    if (part.StartedOver()) {
      // Bounded: a request from byte 0 cannot be told to start over again by a sane server.
      if (++startsOver_ <= 3) {
        DebugOutput("download " + job->url + ": the partial file cannot be continued, starting from 0");
        return Begin();
      }
      return Fail(
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
      if (!net::TransientStatus(result.head.status)) return Fail(error, "status " + std::to_string(error));
      if (result.head.status == 429 || result.head.status == 503) {
        wait = RetryAfter(result.head.raw);
        if (wait > settings.retryAfterLimit) wait = settings.retryAfterLimit;
      }
    } else if (result.code != CURLE_OK) {
      error = static_cast<int>(result.code);
      if (!net::TransientCode(result.code)) return Fail(error, result.errorText);
      if (result.code == CURLE_COULDNT_CONNECT && job->expect.connectFailureEnds)
        return Fail(error, result.errorText);
    } else if (result.verdict.error != 0) {
      error = result.verdict.error;  // the body ended before its announced length
    } else if (!result.finalHeadDone) {
      return Fail(CURLE_WEIRD_SERVER_REPLY, "no reply");
    } else {
      return CheckAndCommit();
    }

    // A try that brought the file further than any try before shows the way works: the count
    // of tries starts again, so a connection that breaks every few megabytes still brings the
    // file home. A try that only fetched again what a server without ranges made us drop
    // does not count as progress, or such a server would be asked for ever.
    if (part.Done() > furthest_) {
      furthest_ = part.Done();
      retries_ = 0;
    }
    if (retries_ >= settings.retryWaits.size())
      return Fail(error, "failed after " + std::to_string(retries_ + 1) + " tries (error " +
                             std::to_string(error) + ")");
    if (wait.count() < 0) wait = settings.retryWaits[retries_];
    ++retries_;
    DebugOutput("download " + job->url + ": error " + std::to_string(error) + ", trying again in " +
                std::to_string(wait.count()) + " ms from byte " + std::to_string(part.Done()));
    errorCode = error;
    wakeAt = std::chrono::steady_clock::now() + wait;
    return Next::kWait;
  }

 private:
  Next CheckAndCommit() {
    net::PartialDownload& part = *part_;
    if (const int wrong = part.Check(kErrorSizeMismatch, kErrorHashMismatch); wrong != 0) {
      part.Discard();
      return Fail(wrong, "the whole file is not as expected (error " + std::to_string(wrong) + "), deleted");
    }
    if (!part.Commit()) return Fail(-part.Error(), "cannot move the finished file to " + job->localPath);
    return Done(0);
  }

  std::unique_ptr<net::PartialDownload> part_;
  std::optional<net::AnnouncedLengthValidator> announced_;
  bool started_ = false;
  size_t retries_ = 0;
  int startsOver_ = 0;
  int64_t furthest_ = -1;  // the most of the file that was ever on disk during this job
};

template <class F>
void CFileDown::ReportTo(Active& active, const char* what, F&& call) {
  // The report lock keeps RemoveListener waiting until a report under way has returned.
  std::lock_guard<std::recursive_mutex> lock(m_reportLock);
  if (!active.reportTo) return;
  IDownLoadFile* listener = active.reportTo;
  Report(what, [&] { call(listener); });
}

CFileDown::CFileDown(DownloadSettings settings) : m_settings(settings) {
  net::EnsureCurlReady();
  m_multi = curl_multi_init();
}

CFileDown::~CFileDown() {
  {
    // Under the wake lock, so that an AddTask racing with this cannot see "not stopping" and
    // then set the worker running again after it was told to end.
    std::lock_guard<std::mutex> lock(m_wakeMutex);
    m_stopping = true;
    m_running = false;
    m_wake.notify_all();
  }
  Wake();
  if (m_thread && m_thread->joinable()) m_thread->join();
  {
    std::lock_guard<std::mutex> lock(m_jobsLock);
    m_jobs.clear();
  }
  if (m_multi) curl_multi_cleanup(static_cast<CURLM*>(m_multi));
}

void CFileDown::Wake() {
  if (m_multi) curl_multi_wakeup(static_cast<CURLM*>(m_multi));
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
  {
    std::lock_guard<std::mutex> lock(m_wakeMutex);
    if (m_stopping) return;
    m_running = true;
    std::call_once(m_threadStarted,
                   [this] { m_thread = std::make_unique<std::thread>(&CFileDown::Run, this); });
    m_wake.notify_one();
  }
  Wake();
}

bool CFileDown::HasJobs() {
  std::lock_guard<std::mutex> lock(m_jobsLock);
  return !m_jobs.empty();
}

void CFileDown::StartWaitingJobs(void* multiHandle) {
  const size_t limit = static_cast<size_t>(std::clamp(m_settings.maxTransfers, 1, kMaxDownloads));
  for (;;) {
    Active* started = nullptr;
    {
      // Taken out of the queue and made a running job in one step under the report lock, so
      // that a RemoveListener either finds the job waiting or finds it running.
      std::lock_guard<std::recursive_mutex> reports(m_reportLock);
      size_t running = 0;
      for (const auto& a : m_active) running += a->over ? 0 : 1;
      if (running >= limit) return;
      std::lock_guard<std::mutex> lock(m_jobsLock);
      auto next = m_jobs.begin();
      // Two transfers never write one file: a job for a path in transfer waits for it.
      while (next != m_jobs.end() && std::any_of(m_active.begin(), m_active.end(), [&](const auto& a) {
               return !a->over && a->job->localPath == next->first;
             }))
        ++next;
      if (next == m_jobs.end()) return;
      std::unique_ptr<BindStatusCallback> job = std::move(next->second);
      m_jobs.erase(next);
      if (job->expect.resumable)
        m_active.push_back(std::make_unique<ResumableJob>(*this, std::move(job)));
      else
        m_active.push_back(std::make_unique<PlainJob>(*this, std::move(job)));
      started = m_active.back().get();
    }
    Advance(multiHandle, *started, static_cast<int>(started->Begin()));
  }
}

void CFileDown::Advance(void* multiHandle, Active& active, int step) {
  auto* multi = static_cast<CURLM*>(multiHandle);
  switch (static_cast<Active::Next>(step)) {
    case Active::Next::kTransfer: {
      if (curl_multi_add_handle(multi, active.transfer->Handle()) != CURLM_OK) {
        DebugOutput("download " + active.job->url + ": cannot start the transfer");
        Finish(active, CURLE_FAILED_INIT);
        return;
      }
      active.inMulti = true;
      return;
    }
    case Active::Next::kWait:
      active.waiting = true;
      return;
    case Active::Next::kDone:
      Finish(active, active.errorCode);
      return;
  }
}

void CFileDown::Finish(Active& active, int errorCode) {
  ReportTo(active, "finish", [&](IDownLoadFile* l) {
    l->OnDownloadFinish(active.job->taskCode, active.job->url, active.job->localPath, errorCode);
  });
  active.over = true;
}

void CFileDown::RefillReceiveBytes() {
  const auto now = std::chrono::steady_clock::now();
  const double rate = static_cast<double>(m_settings.maxReceiveRate);
  // A quarter second's worth at most: an idle moment does not buy a burst beyond the cap.
  const double most =
      std::max(rate / 4, static_cast<double>(CappedTransferBuffer(m_settings.maxReceiveRate)));
  m_receiveBytes =
      std::min(most, m_receiveBytes + rate * std::chrono::duration<double>(now - m_receiveRefilled).count());
  m_receiveRefilled = now;
}

bool CFileDown::TakeReceiveBytes(size_t bytes) {
  RefillReceiveBytes();
  if (m_receiveBytes <= 0) return false;
  m_receiveBytes -= static_cast<double>(bytes);
  return true;
}

void CFileDown::UnpauseHeldTransfers() {
  if (m_settings.maxReceiveRate <= 0 || m_active.empty()) return;
  RefillReceiveBytes();
  const size_t n = m_active.size();
  const size_t from = m_unpauseFrom++ % n;
  for (size_t i = 0; i < n && m_receiveBytes > 0; ++i) {
    Active& a = **std::next(m_active.begin(), static_cast<std::ptrdiff_t>((from + i) % n));
    if (a.inMulti && a.transfer->Paused()) a.transfer->Unpause();
  }
}

std::chrono::milliseconds CFileDown::UntilReceiveBytes() const {
  if (m_receiveBytes > 0) return std::chrono::milliseconds(0);
  return std::chrono::milliseconds(
      1 + static_cast<int64_t>(-m_receiveBytes * 1000 / static_cast<double>(m_settings.maxReceiveRate)));
}

void CFileDown::Run() {
  auto* multi = static_cast<CURLM*>(m_multi);
  if (!multi) return;
  for (;;) {
    const bool stopping = !m_running;
    if (!stopping) StartWaitingJobs(multi);
    if (m_active.empty()) {
      if (stopping) return;
      // Nothing to do: sleep until a job comes or the worker stops.
      std::unique_lock<std::mutex> lock(m_wakeMutex);
      m_wake.wait(lock, [this] { return HasJobs() || !m_running; });
      continue;
    }

    int stillRunning = 0;
    curl_multi_perform(multi, &stillRunning);
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
      if (message->msg != CURLMSG_DONE) continue;
      const auto it = std::find_if(m_active.begin(), m_active.end(), [&](const auto& a) {
        return a->inMulti && a->transfer->Handle() == message->easy_handle;
      });
      if (it == m_active.end()) continue;
      Active& active = **it;
      const CURLcode code = message->data.result;
      curl_multi_remove_handle(multi, active.transfer->Handle());
      active.inMulti = false;
      if (active.transfer->Again(code)) {
        Advance(multi, active, static_cast<int>(Active::Next::kTransfer));
        continue;
      }
      Advance(multi, active, static_cast<int>(active.Complete(active.transfer->Finish())));
    }

    // Jobs whose wait before another try is over; a stopping worker tries nothing again.
    const auto now = std::chrono::steady_clock::now();
    for (const auto& a : m_active) {
      if (!a->waiting || a->over || (!stopping && now < a->wakeAt)) continue;
      a->waiting = false;
      if (stopping) {
        DebugOutput("download " + a->job->url + ": the worker is stopping");
        Finish(*a, a->errorCode);
      } else {
        Advance(multi, *a, static_cast<int>(a->Begin()));
      }
    }

    {
      std::lock_guard<std::recursive_mutex> reports(m_reportLock);
      for (const auto& a : m_active) {
        if (a->cancelled) a->over = true;  // ended without a report; its partial file stays
        if (a->over && a->inMulti) {
          curl_multi_remove_handle(multi, a->transfer->Handle());
          a->inMulti = false;
        }
      }
      m_active.remove_if([](const auto& a) { return a->over; });
    }
    UnpauseHeldTransfers();
    if (m_active.empty()) continue;

    // Sleep until libcurl has something to do, a wait runs out or AddTask wakes the loop.
    long timeout = -1;
    curl_multi_timeout(multi, &timeout);
    if (timeout < 0 || timeout > 1000) timeout = 1000;
    for (const auto& a : m_active) {
      if (a->inMulti && a->transfer->Paused())
        timeout = std::min<long>(timeout, static_cast<long>(UntilReceiveBytes().count()));
      if (!a->waiting) continue;
      const auto until =
          std::chrono::duration_cast<std::chrono::milliseconds>(a->wakeAt - std::chrono::steady_clock::now());
      timeout = std::min<long>(timeout, std::max<long>(0, static_cast<long>(until.count())));
    }
    if (timeout > 0) curl_multi_poll(multi, nullptr, 0, static_cast<int>(timeout), nullptr);
  }
}

void CFileDown::RemoveListener(IDownLoadFile* listener) {
  if (!listener) return;
  std::lock_guard<std::recursive_mutex> reports(m_reportLock);
  {
    std::lock_guard<std::mutex> lock(m_jobsLock);
    std::erase_if(m_jobs, [listener](const auto& entry) { return entry.second->listener == listener; });
  }
  for (const auto& a : m_active)
    if (a->job->listener == listener) a->reportTo = nullptr;
}

void CFileDown::CancelTasks(IDownLoadFile* listener) {
  if (!listener) return;
  {
    std::lock_guard<std::recursive_mutex> reports(m_reportLock);
    RemoveListener(listener);
    for (const auto& a : m_active)
      if (a->job->listener == listener) a->cancelled = true;
  }
  Wake();
}

std::string CFileDown::UserAgent() {
  const std::string name = CanonicalBaseName(BaseFileName(GetModulePath()));
  return name.empty() ? std::string(kShortProductName) : name;
}

}  // namespace zarn
