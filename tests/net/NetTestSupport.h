// Test peers of the networking code: a socket server of our own for replies that an HTTP
// library will not produce (cut bodies, stalls, exact bytes), an httplib server on 127.0.0.1,
// a listener that records every report, and a count of the open file descriptors.
#pragma once

#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/CFileDown.h"
#include "support/LocalAcceptor.h"
#include "support/TestSupport.h"

namespace zarn::test {

// Open descriptors of this process (entries of /proc/self/fd).
int CountOpenFds();
// Polls until pred() holds or the time is up; true when it held.
bool WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds limit);
// Takes the proxy variables away for this process, so 127.0.0.1 is reached directly.
void ClearProxyEnvironment();
bool SendAll(int fd, const std::string& bytes);

// Listens on 127.0.0.1 at a free port. Each connection is read up to the end of its request
// head (or until the client pauses), recorded, and handed to the handler, which writes the
// reply itself; the connection is closed when the handler returns.
class RawServer {
 public:
  using Handler = std::function<void(int fd, const std::string& request)>;
  explicit RawServer(Handler handler);
  ~RawServer();

  int port() const { return acceptor_.port(); }
  std::string url(const std::string& path) const;
  std::vector<std::string> requests();
  int connections();

  // For handlers that hold their reply back: waits until Release() or the server stops.
  // True when released.
  bool WaitForRelease(std::chrono::milliseconds limit = std::chrono::seconds(20));
  void Release();

 private:
  void Serve(int fd);

  Handler handler_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool stopping_ = false;
  bool released_ = false;
  std::vector<std::string> requests_;
  int connections_ = 0;
  LocalAcceptor acceptor_;  // last: it starts serving once everything above is ready
};

// A port on 127.0.0.1 where nothing listens.
int UnusedPort();

// httplib::Server on 127.0.0.1 at a free port, running on its own thread.
class HttpServer {
 public:
  HttpServer();
  ~HttpServer();
  void Start();
  httplib::Server& server() { return server_; }
  std::string url(const std::string& path) const;
  int port() const { return port_; }

 private:
  httplib::Server server_;
  std::thread thread_;
  int port_ = 0;
};

// One report of the worker.
struct Report {
  enum Kind { kStart, kProgress, kFinish } kind;
  int taskCode;
  std::string url;
  std::string localPath;
  int a;  // start: total; progress: done; finish: error code
  int b;  // progress: total
  std::thread::id thread;
};

// Records every report; optionally runs a hook on each finish report (on the worker thread).
class Recorder : public IDownLoadFile {
 public:
  void OnDownloadStart(int taskCode, std::string url, std::string localPath, int total) override;
  void OnDownloadProgress(int taskCode, std::string url, std::string localPath, int done, int total) override;
  void OnDownloadFinish(int taskCode, std::string url, std::string localPath, int errorCode) override;

  // Waits until n finish reports have arrived.
  bool WaitForFinishes(size_t n, std::chrono::milliseconds limit = std::chrono::seconds(30));
  std::vector<Report> reports();
  std::vector<Report> finishes();
  std::vector<Report> of(Report::Kind kind);

  std::function<void(const Report&)> onFinish;

 private:
  void Add(Report report);
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<Report> reports_;
  size_t finishes_ = 0;
};

// The download worker's tests: a temporary folder, a recorder of reports, and short time-outs
// (connect 500 ms; the receive limit as the suite needs it).
class WorkerTest : public ::testing::Test {
 protected:
  explicit WorkerTest(std::chrono::milliseconds receiveTimeout) {
    settings.connectTimeout = std::chrono::milliseconds(500);
    settings.receiveTimeout = receiveTimeout;
  }
  void SetUp() override { ClearProxyEnvironment(); }
  std::string Local(const std::string& name) const { return dir.file(name); }
  std::vector<std::string> FinishedPaths() {
    std::vector<std::string> paths;
    for (const auto& r : recorder.finishes()) paths.push_back(r.localPath);
    return paths;
  }

  TempDir dir;
  Recorder recorder;
  DownloadSettings settings;
};

// A reply head with a status line and the given header lines (each without CR LF).
std::string ReplyHead(const std::string& status, const std::vector<std::string>& headers);

}  // namespace zarn::test
