#include "net/CFileDown.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "app/Startup.h"
#include "net/CurlSupport.h"
#include "platform/Process.h"
#include "util/Debug.h"
#include "util/Paths.h"

namespace zarn {

namespace {

// libcurl's receive buffer is the job's one transfer buffer: each piece it hands over is
// written straight to the file and reported.
constexpr long kTransferBuffer = 1 << 20;
constexpr size_t kLengthTextMax = 1000;

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

// The leading decimal digits of a Content-Length value (after blanks); 0 when there are none.
int64_t LeadingNumber(std::string_view text) {
  text = text.substr(0, kLengthTextMax);
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (value > (INT64_MAX - 9) / 10) return INT64_MAX;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

// One attempt at one job, as libcurl's callbacks see it.
struct Transfer {
  CURL* curl = nullptr;
  int taskCode = 0;
  const std::string* url = nullptr;
  const std::string* localPath = nullptr;
  IDownLoadFile* listener = nullptr;
  net::ReceiveWatch* watch = nullptr;

  bool anyHeader = false;  // the server answered at all
  long status = 0;         // of the latest response whose headers are complete
  bool hasLength = false;  // of the latest response
  int64_t announced = 0;
  bool refusedBody = false;  // the body of a reply other than 200 was not read

  int fd = -1;
  int fileError = 0;  // errno of the local file
  int64_t done = 0;

  bool Open() {
    if (localPath->find('\0') != std::string::npos) {
      fileError = EINVAL;
      return false;
    }
    fd = ::open(localPath->c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
      fileError = errno ? errno : EIO;
      return false;
    }
    return true;
  }

  // Writes one piece and reports what was written.
  bool Write(const char* data, size_t bytes) {
    size_t written = 0;
    while (written < bytes) {
      const ssize_t n = ::write(fd, data + written, bytes - written);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        fileError = n < 0 && errno ? errno : ENOSPC;
        break;
      }
      written += static_cast<size_t>(n);
    }
    if (written > 0) {
      done += static_cast<int64_t>(written);
      if (listener)
        Report("progress", [&] {
          listener->OnDownloadProgress(taskCode, *url, *localPath, ClampToInt(done), ClampToInt(announced));
        });
    }
    return fileError == 0;
  }

  bool Close() {
    if (fd < 0) return fileError == 0;
    if (::close(fd) != 0 && fileError == 0) fileError = errno ? errno : EIO;
    fd = -1;
    return fileError == 0;
  }

  static size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const size_t bytes = size * count;
    t->watch->Touch();
    t->anyHeader = true;
    std::string_view line(data, bytes);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    if (line.starts_with("HTTP/")) {
      t->hasLength = false;
      t->announced = 0;
    } else if (StartsWithNoCase(line, "content-length:")) {
      t->hasLength = true;
      t->announced = LeadingNumber(line.substr(15));
    } else if (line.empty()) {
      curl_easy_getinfo(t->curl, CURLINFO_RESPONSE_CODE, &t->status);
      // Only the final reply 200 opens (and truncates) the local file; replies that libcurl
      // follows or that end the job leave it alone.
      if (t->status == 200 && t->fd < 0) {
        if (!t->Open()) return CURL_WRITEFUNC_ERROR;
        if (t->listener)
          Report("start", [&] {
            t->listener->OnDownloadStart(t->taskCode, *t->url, *t->localPath, ClampToInt(t->announced));
          });
      }
    }
    return bytes;
  }

  static size_t OnBody(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const size_t bytes = size * count;
    t->watch->Touch();
    if (t->fd < 0) {
      t->refusedBody = true;
      return CURL_WRITEFUNC_ERROR;
    }
    return t->Write(data, bytes) ? bytes : CURL_WRITEFUNC_ERROR;
  }
};

bool IsConnectFailure(CURLcode code) {
  return code == CURLE_COULDNT_CONNECT || code == CURLE_OPERATION_TIMEDOUT ||
         code == CURLE_COULDNT_RESOLVE_HOST || code == CURLE_COULDNT_RESOLVE_PROXY;
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
  auto job = std::make_unique<BindStatusCallback>(taskCode, std::move(url), localPath, listener);
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
  const int errorCode = DownloadFile(job->taskCode, job->url, job->localPath, listener);
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

int CFileDown::DownloadFile(int taskCode, const std::string& url, const std::string& localPath,
                            IDownLoadFile* listener) {
  net::EnsureCurlReady();
  const std::string address = net::EscapeRequestBytes(url);
  const std::string agent = UserAgent();

  for (int attempt = 0;; ++attempt) {
    std::unique_ptr<CURL, net::CurlHandleCloser> handle(curl_easy_init());
    if (!handle) return CURLE_FAILED_INIT;
    CURL* curl = handle.get();
    net::ReceiveWatch watch(m_settings.receiveTimeout);
    Transfer t;
    t.curl = curl;
    t.taskCode = taskCode;
    t.url = &url;
    t.localPath = &localPath;
    t.listener = listener;
    t.watch = &watch;
    // No accept-type list: libcurl's own "Accept" is taken away.
    std::unique_ptr<curl_slist, net::CurlListCloser> headers(curl_slist_append(nullptr, "Accept:"));
    char errorText[CURL_ERROR_SIZE] = {};

    net::ApplyCommonOptions(curl);
    curl_easy_setopt(curl, CURLOPT_URL, address.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, agent.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(m_settings.connectTimeout.count()));
    curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, kTransferBuffer);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &Transfer::OnHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Transfer::OnBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
    watch.Attach(curl);

    CURLcode code = curl_easy_perform(curl);
    const bool silent = code == CURLE_ABORTED_BY_CALLBACK && watch.Fired();
    if (silent) code = CURLE_OPERATION_TIMEDOUT;

    // What arrived stays on disk, also when the transfer failed.
    t.Close();
    if (t.fileError != 0) {
      DebugOutput("download " + url + ": cannot write " + localPath + ": " + std::strerror(t.fileError));
      return -t.fileError;
    }
    if (t.fd < 0 && t.status != 200) {
      if (code == CURLE_OK || (code == CURLE_WRITE_ERROR && t.refusedBody)) {
        DebugOutput("download " + url + ": status " + std::to_string(t.status));
        return t.status >= 100 ? static_cast<int>(t.status) : static_cast<int>(CURLE_WEIRD_SERVER_REPLY);
      }
      if (!silent && IsConnectFailure(code) && !t.anyHeader && attempt < m_settings.connectRetries) continue;
    }
    if (code != CURLE_OK) {
      DebugOutput("download " + url + ": " + (errorText[0] ? errorText : curl_easy_strerror(code)));
      return static_cast<int>(code);
    }
    if (t.hasLength && t.done != t.announced) {
      DebugOutput("download " + url + ": " + std::to_string(t.done) + " of " + std::to_string(t.announced) +
                  " bytes");
      return kErrorShortReply;
    }
    return 0;
  }
}

}  // namespace zarn
