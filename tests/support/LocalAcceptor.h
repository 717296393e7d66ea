// The accepting half of the tests' own socket peers (a raw HTTP server, the fault proxy):
// listens on 127.0.0.1 at a free port, accepts on a thread of its own and serves each
// connection on a thread of its own.
#pragma once

#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace zarn::test {

// A listening socket on 127.0.0.1 at a free port (its number in *port); throws when there is none.
int ListenLocal(int backlog, int* port);

class LocalAcceptor {
 public:
  // Called on the accepting thread, in the order the connections came, with the accepted
  // socket; returns what runs on the connection's own thread. The socket is closed after that.
  using Accept = std::function<std::function<void()>(int fd)>;
  explicit LocalAcceptor(Accept accept);
  // Stop() if the owner has not.
  ~LocalAcceptor();
  LocalAcceptor(const LocalAcceptor&) = delete;
  LocalAcceptor& operator=(const LocalAcceptor&) = delete;

  int port() const { return port_; }
  // Stops accepting and waits for every connection's thread; the owner first releases what
  // those threads may be waiting for.
  void Stop();

 private:
  void Loop();

  Accept accept_;
  int listenFd_ = -1;
  int stopPipe_[2] = {-1, -1};
  int port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::thread> workers_;
  bool stopped_ = false;
};

}  // namespace zarn::test
