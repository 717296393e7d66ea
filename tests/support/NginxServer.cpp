#include "support/NginxServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace zarn::test {

namespace {

using namespace std::chrono_literals;

int ConnectLocal(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

bool SendBytes(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Reads until the end of a head ("\r\n\r\n"); whatever came after it stays in *rest.
bool ReadHead(int fd, std::string* head, std::string* rest) {
  std::string bytes;
  char buffer[16384];
  for (;;) {
    const size_t end = bytes.find("\r\n\r\n");
    if (end != std::string::npos) {
      *head = bytes.substr(0, end + 4);
      *rest = bytes.substr(end + 4);
      return true;
    }
    if (bytes.size() > 65536) return false;
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.append(buffer, static_cast<size_t>(n));
  }
}

bool StartsWithNoCase(const std::string& line, const char* prefix) {
  return ::strncasecmp(line.c_str(), prefix, std::strlen(prefix)) == 0;
}

// Rewrites the head line by line: edit returns the new line, or "" to drop it.
template <class Edit>
std::string EditHead(const std::string& head, Edit edit) {
  std::string out;
  size_t pos = 0;
  bool first = true;
  while (pos < head.size()) {
    const size_t end = head.find("\r\n", pos);
    const std::string line = head.substr(pos, end - pos);
    pos = end + 2;
    if (line.empty()) break;
    const std::string edited = first ? line : edit(line);
    first = false;
    if (!edited.empty()) out += edited + "\r\n";
  }
  return out + "\r\n";
}

std::string NginxBinary() {
  if (::access("/usr/sbin/nginx", X_OK) == 0) return "/usr/sbin/nginx";
  return "nginx";
}

}  // namespace

NginxServer::NginxServer(std::string root) : root_(std::move(root)) {
  for (int i = 0; i < 5 && !StartOnce(); ++i) {
  }
}

bool NginxServer::StartOnce() {
  {
    // A free port now; another process may take it before nginx does, hence the tries.
    const int fd = ListenLocal(1, &port_);
    ::close(fd);
  }
  const std::string d = dir_.path();
  const std::string conf = d + "/nginx.conf";
  WriteFile(conf, "daemon off;\nmaster_process off;\nworker_processes 1;\npid " + d +
                      "/nginx.pid;\nerror_log " + d +
                      "/error.log;\nevents { worker_connections 256; }\nhttp {\n  access_log " + d +
                      "/access.log;\n  client_body_temp_path " + d + "/body;\n  proxy_temp_path " + d +
                      "/proxy;\n  fastcgi_temp_path " + d + "/fastcgi;\n  uwsgi_temp_path " + d +
                      "/uwsgi;\n  scgi_temp_path " + d + "/scgi;\n  server {\n    listen 127.0.0.1:" +
                      std::to_string(port_) + ";\n    root " + root_ + ";\n  }\n}\n");
  const std::string binary = NginxBinary();
  const std::string errorLog = d + "/error.log";
  const std::string prefix = d + "/";
  const pid_t pid = ::fork();
  if (pid < 0) return false;
  if (pid == 0) {
    // nginx goes with the test when the test dies.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    const int out = ::open((d + "/stderr.log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (out >= 0) {
      ::dup2(out, 1);
      ::dup2(out, 2);
    }
    ::execlp(binary.c_str(), binary.c_str(), "-p", prefix.c_str(), "-c", conf.c_str(), "-e", errorLog.c_str(),
             static_cast<char*>(nullptr));
    ::_exit(127);
  }
  const auto end = std::chrono::steady_clock::now() + 10s;
  while (std::chrono::steady_clock::now() < end) {
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) return false;  // it ended: port taken or bad setup
    if (const int fd = ConnectLocal(port_); fd >= 0) {
      ::close(fd);
      pid_ = pid;
      return true;
    }
    std::this_thread::sleep_for(10ms);
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  return false;
}

NginxServer::~NginxServer() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  const auto end = std::chrono::steady_clock::now() + 5s;
  while (::waitpid(pid_, nullptr, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > end) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
      break;
    }
    std::this_thread::sleep_for(5ms);
  }
}

std::string NginxServer::url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::string NginxServer::ErrorLog() const {
  return Exists(dir_.file("error.log")) ? ReadFile(dir_.file("error.log")) + ReadFile(dir_.file("stderr.log"))
                                        : std::string();
}

FaultProxy::FaultProxy(int upstreamPort)
    : upstreamPort_(upstreamPort), acceptor_([this](int client) -> std::function<void()> {
        std::lock_guard<std::mutex> lock(mutex_);
        const Fault fault = connections_ < static_cast<int>(plan_.size())
                                ? plan_[static_cast<size_t>(connections_)]
                                : standing_;
        ++connections_;
        return [this, client, fault] { Serve(client, fault); };
      }) {}

FaultProxy::~FaultProxy() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  cv_.notify_all();
  acceptor_.Stop();
}

void FaultProxy::Plan(std::vector<Fault> faults, Fault standing) {
  std::lock_guard<std::mutex> lock(mutex_);
  plan_ = std::move(faults);
  standing_ = std::move(standing);
  pathFaults_.clear();
  connections_ = 0;
  requests_.clear();
}

void FaultProxy::PlanFor(std::string pathPart, Fault fault, int times) {
  std::lock_guard<std::mutex> lock(mutex_);
  pathFaults_.push_back({std::move(pathPart), std::move(fault), times});
}

std::string FaultProxy::url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(acceptor_.port()) + path;
}

int64_t FaultProxy::BodyBytesSent() {
  std::lock_guard<std::mutex> lock(mutex_);
  return bodyBytes_;
}

int FaultProxy::Connections() {
  std::lock_guard<std::mutex> lock(mutex_);
  return connections_;
}

std::vector<std::string> FaultProxy::Requests() {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

bool FaultProxy::WaitForBodyBytes(int64_t n, std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(mutex_);
  return cv_.wait_for(lock, limit, [&] { return bodyBytes_ >= n; });
}

void FaultProxy::Serve(int client, Fault fault) {
  timeval timeout{10, 0};
  ::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  std::string request, extra;
  if (!ReadHead(client, &request, &extra)) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(request);
    const std::string line = request.substr(0, request.find("\r\n"));
    for (PathFault& planned : pathFaults_) {
      if (planned.times == 0 || line.find(planned.part) == std::string::npos) continue;
      fault = planned.fault;
      if (planned.times > 0) --planned.times;
      break;
    }
  }
  if (fault.firstByteDelay.count() > 0) std::this_thread::sleep_for(fault.firstByteDelay);
  if (fault.status != 0) {
    std::string reply = "HTTP/1.1 " + std::to_string(fault.status) + " Fault\r\nContent-Length: 0\r\n";
    if (!fault.retryAfter.empty()) reply += "Retry-After: " + fault.retryAfter + "\r\n";
    reply += "Connection: close\r\n\r\n";
    SendBytes(client, reply.data(), reply.size());
    return;
  }
  if (fault.ignoreRange)
    request = EditHead(request, [](const std::string& line) {
      return StartsWithNoCase(line, "range:") || StartsWithNoCase(line, "if-range:") ? std::string() : line;
    });
  const int upstream = ConnectLocal(upstreamPort_);
  if (upstream < 0) return;
  ::setsockopt(upstream, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  std::string head, body;
  if (!SendBytes(upstream, request.data(), request.size()) ||
      !SendBytes(upstream, extra.data(), extra.size()) || !ReadHead(upstream, &head, &body)) {
    ::close(upstream);
    return;
  }
  head = EditHead(head, [&](const std::string& line) {
    if (fault.announceLess != 0 && StartsWithNoCase(line, "content-length:")) {
      const long long length = std::atoll(line.c_str() + 15);
      return "Content-Length: " + std::to_string(length - fault.announceLess);
    }
    if (fault.shiftContentRange != 0 && StartsWithNoCase(line, "content-range:")) {
      long long first = 0, last = 0;
      char total[64] = "";
      if (std::sscanf(line.c_str() + 14, " bytes %lld-%lld/%63s", &first, &last, total) == 3)
        return "Content-Range: bytes " + std::to_string(first + fault.shiftContentRange) + "-" +
               std::to_string(last + fault.shiftContentRange) + "/" + total;
    }
    return line;
  });
  bool open = SendBytes(client, head.data(), head.size());
  int64_t sent = 0;
  const auto bodyStart = std::chrono::steady_clock::now();
  char buffer[65536];
  while (open) {
    if (body.empty()) {
      const ssize_t n = ::recv(upstream, buffer, sizeof buffer, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      body.assign(buffer, static_cast<size_t>(n));
    }
    int64_t piece = static_cast<int64_t>(body.size());
    int64_t stop = -1;
    if (fault.dropAfter >= 0) stop = fault.dropAfter;
    if (fault.stallAfter >= 0 && (stop < 0 || fault.stallAfter < stop)) stop = fault.stallAfter;
    if (stop >= 0) piece = std::min(piece, stop - sent);
    if (fault.bytesPerSecond > 0) {
      // Paced: a piece leaves no earlier than the rate allows for the bytes before it.
      piece = std::min<int64_t>(piece, 16384);
      std::this_thread::sleep_until(bodyStart +
                                    std::chrono::microseconds(sent * 1000000 / fault.bytesPerSecond));
    }
    if (piece > 0) {
      open = SendBytes(client, body.data(), static_cast<size_t>(piece));
      if (!open) break;
      sent += piece;
      body.erase(0, static_cast<size_t>(piece));
      {
        std::lock_guard<std::mutex> lock(mutex_);
        bodyBytes_ += piece;
      }
      cv_.notify_all();
    }
    if (stop >= 0 && sent >= stop) {
      if (fault.stallAfter >= 0 && sent >= fault.stallAfter) {
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait(lock, [this] { return stopping_; });
      }
      break;
    }
  }
  ::close(upstream);
}

}  // namespace zarn::test
