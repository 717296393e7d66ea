// A content server for the fault tests: serves files from memory and, per path, misbehaves as a
// broken network or a hostile publisher would (error statuses, cut bodies, stalls, redirects).
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "net/NetTestSupport.h"

namespace zarn::test {

enum class Fault {
  kNone,         // 200 with the whole body and its Content-Length
  kStatus,       // the status below with a small error page
  kShortBody,    // announces the whole body, sends `bytes` of it and closes
  kCutNoLength,  // announces no length (the end of the connection ends the body), sends `bytes`
  kStallHead,    // accepts the request and sends nothing until released
  kStallBody,    // sends the head and `bytes` of the body, then nothing until released
  kRedirect,     // 302 to `location` (a path on this server or a whole address)
};

struct Route {
  std::string body;
  Fault fault = Fault::kNone;
  int status = 0;
  size_t bytes = 0;
  std::string location;
  // How many requests meet the fault; later ones are served normally. -1: every request.
  int faultyRequests = -1;
};

class FaultServer {
 public:
  FaultServer();
  ~FaultServer();  // releases every stalled request first
  FaultServer(const FaultServer&) = delete;
  FaultServer& operator=(const FaultServer&) = delete;

  // The address the launcher appends its paths to, ending in "/".
  std::string base() const;
  int port() const;

  void Serve(const std::string& path, std::string body);
  void Misbehave(const std::string& path, Route route);
  // Serves the path normally again, keeping its body.
  void Heal(const std::string& path);
  void HealAll();

  int Hits(const std::string& path);
  int TotalHits();
  // True once a request for the path is being held back by a stall.
  bool WaitForStall(const std::string& path, std::chrono::milliseconds limit);
  // Lets every stalled request end (its connection closes without the rest).
  void ReleaseStalls();

 private:
  void Handle(int fd, const std::string& request);

  std::mutex mutex_;
  std::condition_variable cv_;
  std::map<std::string, Route> routes_;
  std::map<std::string, int> hits_;
  std::map<std::string, int> stalled_;
  bool released_ = false;
  bool stopping_ = false;
  std::unique_ptr<RawServer> server_;  // last: its threads use everything above
};

}  // namespace zarn::test
