// Download benchmark: a sparse file served from a local sendfile server, fetched by the
// download worker (in a child process of its own, so that its peak memory is its alone) and
// by the curl program, alternately, from the same server in the same run.
//
//   zarn-bench-download [--runs N] [--dir FOLDER]
//
// Prints each run, the best throughput of each client, their ratio, and the worker's peak
// resident memory for a 64 MiB and a 512 MiB file.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "net/CFileDown.h"
#include "net/CurlSupport.h"
#include "support/FinishWaiter.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr long long kMiB = 1 << 20;

// ---- the worker's side, in the child process ------------------------------------------------

using Waiter = zarn::test::FinishWaiter;

long PeakResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

// Prints "<seconds> <peak KiB> <error code>".
int FetchWithWorker(const std::string& url, const std::string& path) {
  Waiter waiter;
  double seconds = 0;
  int code = 0;
  // libcurl's one-time start-up is not part of a transfer (curl's own timing leaves it out too).
  zarn::net::EnsureCurlReady();
  {
    zarn::CFileDown worker;
    const auto begin = Clock::now();
    worker.AddTask(url, path, zarn::kTaskOrdinary, &waiter);
    code = waiter.Wait();
    seconds = std::chrono::duration<double>(Clock::now() - begin).count();
  }
  std::printf("%.6f %ld %d\n", seconds, PeakResidentKiB(), code);
  return code == 0 ? 0 : 1;
}

// ---- the server -------------------------------------------------------------------------------

class Server {
 public:
  explicit Server(std::string root) : root_(std::move(root)) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd_, 16) != 0) {
      std::perror("bind/listen");
      std::exit(2);
    }
    socklen_t len = sizeof addr;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { Loop(); });
  }
  ~Server() {
    stop_ = true;
    ::shutdown(fd_, SHUT_RDWR);
    thread_.join();
    ::close(fd_);
  }
  std::string url(const std::string& name) const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/" + name;
  }

 private:
  void Loop() {
    while (!stop_) {
      const int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) continue;
      Serve(c);  // one client at a time: the runs do not overlap
      ::close(c);
    }
  }
  void Serve(int c) {
    std::string request;
    char buf[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
      const ssize_t n = ::recv(c, buf, sizeof buf, 0);
      if (n <= 0) return;
      request.append(buf, static_cast<size_t>(n));
    }
    const size_t start = request.find(' ') + 2, end = request.find(' ', start);
    const std::string name = request.substr(start, end - start);
    const int file =
        name.find('/') == std::string::npos ? ::open((root_ + "/" + name).c_str(), O_RDONLY) : -1;
    if (file < 0) {
      const char notFound[] = "HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n";
      (void)!::send(c, notFound, sizeof notFound - 1, MSG_NOSIGNAL);
      return;
    }
    struct stat st {};
    ::fstat(file, &st);
    const std::string head = "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                             std::to_string(st.st_size) + "\r\n\r\n";
    if (::send(c, head.data(), head.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(head.size())) {
      off_t offset = 0;
      while (offset < st.st_size)
        if (::sendfile(c, file, &offset, static_cast<size_t>(st.st_size - offset)) <= 0) break;
    }
    ::close(file);
  }

  std::string root_;
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// ---- the runs ---------------------------------------------------------------------------------

struct Result {
  double seconds = 0;
  long peakKiB = 0;
  bool ok = false;
};

std::string Run(const std::string& command, int* status) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) {
    *status = -1;
    return out;
  }
  char buf[256];
  while (std::fgets(buf, sizeof buf, pipe)) out += buf;
  *status = ::pclose(pipe);
  return out;
}

off_t FileSize(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

Result Worker(const std::string& self, const std::string& url, const std::string& out, off_t expected) {
  int status = 0;
  const std::string text = Run("'" + self + "' --fetch '" + url + "' '" + out + "'", &status);
  Result r;
  int code = -1;
  if (std::sscanf(text.c_str(), "%lf %ld %d", &r.seconds, &r.peakKiB, &code) == 3)
    r.ok = status == 0 && code == 0 && FileSize(out) == expected;
  ::unlink(out.c_str());
  return r;
}

Result Curl(const std::string& url, const std::string& out, off_t expected) {
  int status = 0;
  const std::string text =
      Run("curl -s --noproxy '*' -o '" + out + "' -w '%{time_total}' '" + url + "'", &status);
  Result r;
  r.ok = std::sscanf(text.c_str(), "%lf", &r.seconds) == 1 && status == 0 && FileSize(out) == expected;
  ::unlink(out.c_str());
  return r;
}

double MiBps(off_t size, double seconds) {
  return seconds > 0 ? static_cast<double>(size) / kMiB / seconds : 0;
}

// A sparse file, read through once so that neither client pays for filling the page cache.
bool MakeSparse(const std::string& path, off_t size) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = ::ftruncate(fd, size) == 0;
  ::close(fd);
  fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::vector<char> buf(1 << 20);
  while (ok) {
    const ssize_t n = ::read(fd, buf.data(), buf.size());
    if (n <= 0) {
      ok = n == 0;
      break;
    }
  }
  ::close(fd);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--fetch") == 0) return FetchWithWorker(argv[2], argv[3]);

  int runs = 3;
  std::string base = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp";
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--runs") == 0) runs = std::max(1, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--dir") == 0) base = argv[i + 1];
  }
  char self[4096];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return 2;
  self[n] = 0;

  std::string dir = base + "/zarn-bench-XXXXXX";
  if (!::mkdtemp(dir.data())) {
    std::perror("mkdtemp");
    return 2;
  }
  const off_t big = 512 * kMiB, small = 64 * kMiB;
  if (!MakeSparse(dir + "/512.bin", big) || !MakeSparse(dir + "/64.bin", small)) {
    std::perror("sparse file");
    return 2;
  }
  int failures = 0;
  {
    Server server(dir);
    std::printf("512 MiB from a local server, %d runs each, alternating which goes first\n", runs);
    std::vector<double> ours, theirs;
    for (int i = 0; i < runs; ++i) {
      Result w, c;
      if (i % 2 == 0) {
        w = Worker(self, server.url("512.bin"), dir + "/out-worker", big);
        c = Curl(server.url("512.bin"), dir + "/out-curl", big);
      } else {
        c = Curl(server.url("512.bin"), dir + "/out-curl", big);
        w = Worker(self, server.url("512.bin"), dir + "/out-worker", big);
      }
      failures += !w.ok + !c.ok;
      std::printf("  run %d: CFileDown %8.1f MiB/s%s   curl %8.1f MiB/s%s\n", i + 1, MiBps(big, w.seconds),
                  w.ok ? "" : " (FAILED)", MiBps(big, c.seconds), c.ok ? "" : " (FAILED)");
      if (w.ok) ours.push_back(MiBps(big, w.seconds));
      if (c.ok) theirs.push_back(MiBps(big, c.seconds));
    }
    if (!ours.empty() && !theirs.empty()) {
      std::sort(ours.begin(), ours.end());
      std::sort(theirs.begin(), theirs.end());
      const double bestOurs = ours.back(), bestTheirs = theirs.back();
      const double medOurs = ours[ours.size() / 2], medTheirs = theirs[theirs.size() / 2];
      std::printf("best:   CFileDown %.1f MiB/s, curl %.1f MiB/s, ratio %.3f\n", bestOurs, bestTheirs,
                  bestOurs / bestTheirs);
      std::printf("median: CFileDown %.1f MiB/s, curl %.1f MiB/s, ratio %.3f\n", medOurs, medTheirs,
                  medOurs / medTheirs);
      std::printf(
          "ROW\tdownload 512 MiB, local server: CFileDown vs curl (median)\t%.0f MiB/s\t%.0f MiB/s\t%.2f "
          "x\t>= 0.95 x\t%s\n",
          medOurs, medTheirs, medOurs / medTheirs, medOurs >= 0.95 * medTheirs ? "pass" : "miss");
    }
    const Result m64 = Worker(self, server.url("64.bin"), dir + "/out-64", small);
    const Result m512 = Worker(self, server.url("512.bin"), dir + "/out-512", big);
    failures += !m64.ok + !m512.ok;
    std::printf(
        "worker peak resident memory: 64 MiB file %ld KiB, 512 MiB file %ld KiB, difference %ld KiB\n",
        m64.peakKiB, m512.peakKiB, m512.peakKiB - m64.peakKiB);
    std::printf(
        "ROW\tdownload peak RSS, 64 MiB vs 512 MiB file\t%ld / %ld KiB\t-\t%+ld KiB\tsame (+-1 MiB)\t%s\n",
        m64.peakKiB, m512.peakKiB, m512.peakKiB - m64.peakKiB,
        m64.ok && m512.ok && std::labs(m512.peakKiB - m64.peakKiB) <= 1024 ? "pass" : "miss");
  }
  ::unlink((dir + "/512.bin").c_str());
  ::unlink((dir + "/64.bin").c_str());
  ::rmdir(dir.c_str());
  if (failures) std::printf("%d transfers failed\n", failures);
  return failures ? 1 : 0;
}
