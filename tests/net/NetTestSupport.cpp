#include "NetTestSupport.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

namespace zarn::test {

int CountOpenFds() {
  DIR* dir = ::opendir("/proc/self/fd");
  if (!dir) return -1;
  int count = 0;
  while (dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] != '.') ++count;
  }
  ::closedir(dir);
  return count - 1;  // the folder's own descriptor
}

bool WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

void ClearProxyEnvironment() {
  for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY",
                           "no_proxy", "NO_PROXY"})
    ::unsetenv(name);
}

bool SendAll(int fd, const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

std::string ReplyHead(const std::string& status, const std::vector<std::string>& headers) {
  std::string head = "HTTP/1.1 " + status + "\r\n";
  for (const auto& h : headers) head += h + "\r\n";
  return head + "\r\n";
}

int UnusedPort() {
  int port = 0;
  const int fd = ListenLocal(1, &port);
  ::close(fd);
  return port;
}

RawServer::RawServer(Handler handler)
    : handler_(std::move(handler)), acceptor_([this](int fd) -> std::function<void()> {
        {
          std::lock_guard<std::mutex> lock(mutex_);
          ++connections_;
        }
        return [this, fd] { Serve(fd); };
      }) {}

RawServer::~RawServer() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  cv_.notify_all();
  acceptor_.Stop();
}

std::string RawServer::url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(acceptor_.port()) + path;
}

std::vector<std::string> RawServer::requests() {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

int RawServer::connections() {
  std::lock_guard<std::mutex> lock(mutex_);
  return connections_;
}

bool RawServer::WaitForRelease(std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(mutex_);
  cv_.wait_for(lock, limit, [this] { return released_ || stopping_; });
  return released_;
}

void RawServer::Release() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
  }
  cv_.notify_all();
}

void RawServer::Serve(int fd) {
  std::string request;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (request.find("\r\n\r\n") == std::string::npos && std::chrono::steady_clock::now() < end) {
    pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, 300);
    if (ready == 0) {
      if (!request.empty()) break;  // not HTTP (a TLS greeting): take what came
      continue;
    }
    if (ready < 0 && errno == EINTR) continue;
    char buf[4096];
    const ssize_t n = ready > 0 ? ::recv(fd, buf, sizeof buf, 0) : -1;
    if (n <= 0) break;
    request.append(buf, static_cast<size_t>(n));
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(request);
  }
  if (handler_) handler_(fd, request);
}

HttpServer::HttpServer() {
  port_ = server_.bind_to_any_port("127.0.0.1");
  if (port_ <= 0) throw std::runtime_error("httplib bind failed");
}

void HttpServer::Start() {
  thread_ = std::thread([this] { server_.listen_after_bind(); });
  WaitUntil([this] { return server_.is_running(); }, std::chrono::seconds(5));
}

HttpServer::~HttpServer() {
  server_.stop();
  if (thread_.joinable()) thread_.join();
}

std::string HttpServer::url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void Recorder::Add(Report report) {
  std::function<void(const Report&)> hook;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    reports_.push_back(report);
    if (report.kind == Report::kFinish) hook = onFinish;
  }
  if (hook) hook(report);
  // Notified under the lock: a waiter that sees its count may destroy the recorder at once.
  std::lock_guard<std::mutex> lock(mutex_);
  if (report.kind == Report::kFinish) ++finishes_;
  cv_.notify_all();
}

void Recorder::OnDownloadStart(int taskCode, std::string url, std::string localPath, int total) {
  Add({Report::kStart, taskCode, std::move(url), std::move(localPath), total, 0, std::this_thread::get_id()});
}

void Recorder::OnDownloadProgress(int taskCode, std::string url, std::string localPath, int done, int total) {
  Add({Report::kProgress, taskCode, std::move(url), std::move(localPath), done, total,
       std::this_thread::get_id()});
}

void Recorder::OnDownloadFinish(int taskCode, std::string url, std::string localPath, int errorCode) {
  Add({Report::kFinish, taskCode, std::move(url), std::move(localPath), errorCode, 0,
       std::this_thread::get_id()});
}

bool Recorder::WaitForFinishes(size_t n, std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(mutex_);
  return cv_.wait_for(lock, limit, [&] { return finishes_ >= n; });
}

std::vector<Report> Recorder::reports() {
  std::lock_guard<std::mutex> lock(mutex_);
  return reports_;
}

std::vector<Report> Recorder::of(Report::Kind kind) {
  std::vector<Report> out;
  for (auto& r : reports())
    if (r.kind == kind) out.push_back(r);
  return out;
}

std::vector<Report> Recorder::finishes() { return of(Report::kFinish); }

}  // namespace zarn::test
