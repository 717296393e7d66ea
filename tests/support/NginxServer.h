// Real HTTP peers for the download tests: nginx serving a folder on 127.0.0.1 (ranges,
// validators and connection handling as a real content network has them), and a fault proxy
// of ours in front of it that breaks replies on purpose.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/LocalAcceptor.h"
#include "support/TestSupport.h"

namespace zarn::test {

// nginx (Debian's nginx-light) serving root on 127.0.0.1 at a free port, with a generated
// configuration, pid file, logs and temporary folders in a folder of its own; one process
// (no master), stopped and waited for at destruction. Started() is false when nginx could
// not be started (its error log says why).
class NginxServer {
 public:
  explicit NginxServer(std::string root);
  ~NginxServer();
  NginxServer(const NginxServer&) = delete;
  NginxServer& operator=(const NginxServer&) = delete;

  bool Started() const { return pid_ > 0; }
  int port() const { return port_; }
  std::string url(const std::string& path) const;
  std::string ErrorLog() const;

 private:
  bool StartOnce();
  TempDir dir_;
  std::string root_;
  pid_t pid_ = -1;
  int port_ = 0;
};

// What the proxy does to one connection.
struct Fault {
  int status = 0;                 // answers this status itself (an empty body); upstream is not asked
  std::string retryAfter;         // with status: a Retry-After header of this value
  bool ignoreRange = false;       // Range and If-Range are taken off the request
  int64_t dropAfter = -1;         // the connection is closed after this many body bytes
  int64_t stallAfter = -1;        // after this many body bytes nothing more is sent until the proxy ends
  int64_t shiftContentRange = 0;  // the Content-Range's first and last byte are moved by this
  int64_t announceLess = 0;       // Content-Length is lowered by this, the body goes whole
  // A distant network: the reply head waits this long, and the body goes at most this many
  // bytes per second (0: as fast as it comes).
  std::chrono::milliseconds firstByteDelay{0};
  int64_t bytesPerSecond = 0;

  static Fault Status(int status, std::string retryAfter = {}) {
    Fault f;
    f.status = status;
    f.retryAfter = std::move(retryAfter);
    return f;
  }
  static Fault IgnoreRange() {
    Fault f;
    f.ignoreRange = true;
    return f;
  }
  static Fault DropAfter(int64_t bytes) {
    Fault f;
    f.dropAfter = bytes;
    return f;
  }
  static Fault StallAfter(int64_t bytes) {
    Fault f;
    f.stallAfter = bytes;
    return f;
  }
  static Fault ShiftContentRange(int64_t by) {
    Fault f;
    f.shiftContentRange = by;
    return f;
  }
  static Fault Distant(std::chrono::milliseconds delay, int64_t bytesPerSecond) {
    Fault f;
    f.firstByteDelay = delay;
    f.bytesPerSecond = bytesPerSecond;
    return f;
  }
  static Fault AnnounceLess(int64_t by) {
    Fault f;
    f.announceLess = by;
    return f;
  }
};

// A TCP proxy on 127.0.0.1 in front of an upstream port, one request per connection (the
// download worker speaks HTTP/1.0 on a fresh connection). Connection i gets faults[i] of the
// plan, later ones the standing fault; a new plan starts the count of connections and the
// list of requests again. Counts the body bytes it passes on, across plans.
class FaultProxy {
 public:
  explicit FaultProxy(int upstreamPort);
  ~FaultProxy();
  FaultProxy(const FaultProxy&) = delete;
  FaultProxy& operator=(const FaultProxy&) = delete;

  void Plan(std::vector<Fault> faults, Fault standing = {});
  // The next `times` requests (every one when negative) whose request line holds pathPart get
  // this fault instead, until the next Plan; for one file among several fetched at once.
  void PlanFor(std::string pathPart, Fault fault, int times = -1);
  std::string url(const std::string& path) const;
  int port() const { return acceptor_.port(); }

  int64_t BodyBytesSent();  // body bytes passed to clients, all connections
  int Connections();
  std::vector<std::string> Requests();  // each request head as the client sent it
  // Waits until the body bytes sent reach n; false when they did not within limit.
  bool WaitForBodyBytes(int64_t n, std::chrono::milliseconds limit = std::chrono::seconds(30));

 private:
  void Serve(int client, Fault fault);

  int upstreamPort_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool stopping_ = false;
  std::vector<Fault> plan_;
  Fault standing_;
  struct PathFault {
    std::string part;
    Fault fault;
    int times;
  };
  std::vector<PathFault> pathFaults_;
  int connections_ = 0;
  int64_t bodyBytes_ = 0;
  std::vector<std::string> requests_;
  LocalAcceptor acceptor_;  // last: it starts serving once everything above is ready
};

}  // namespace zarn::test
