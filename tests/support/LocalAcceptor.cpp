#include "support/LocalAcceptor.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace zarn::test {

int ListenLocal(int backlog, int* port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("socket failed");
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, backlog) != 0) {
    ::close(fd);
    throw std::runtime_error("bind/listen failed");
  }
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  *port = ntohs(addr.sin_port);
  return fd;
}

LocalAcceptor::LocalAcceptor(Accept accept) : accept_(std::move(accept)) {
  listenFd_ = ListenLocal(64, &port_);
  if (::pipe2(stopPipe_, O_CLOEXEC) != 0) {
    ::close(listenFd_);
    throw std::runtime_error("pipe failed");
  }
  thread_ = std::thread([this] { Loop(); });
}

LocalAcceptor::~LocalAcceptor() { Stop(); }

void LocalAcceptor::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopped_) return;
    stopped_ = true;
  }
  const char byte = 0;
  (void)!::write(stopPipe_[1], &byte, 1);
  thread_.join();
  for (auto& w : workers_) w.join();
  ::close(listenFd_);
  ::close(stopPipe_[0]);
  ::close(stopPipe_[1]);
}

void LocalAcceptor::Loop() {
  for (;;) {
    pollfd fds[2] = {{listenFd_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents) return;
    if (!(fds[0].revents & POLLIN)) continue;
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::function<void()> serve = accept_(fd);
    workers_.emplace_back([fd, serve = std::move(serve)] {
      if (serve) serve();
      ::close(fd);
    });
  }
}

}  // namespace zarn::test
