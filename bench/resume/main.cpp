// Resume benchmark: a large package served by nginx through the fault proxy of the tests,
// fetched by the download worker in a child process (so that it can be killed like a
// launcher the player quits).
//
//   zarn-bench-resume [--size-mib N] [--dir FOLDER]
//
// Row 1: the worker killed when half the package is on disk, then started again: the bytes
// fetched again beyond what was on disk. Row 2: a server that drops the connection every
// 20 MiB: whether the package arrives, and the bytes sent against its size.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "net/CFileDown.h"
#include "support/FinishWaiter.h"
#include "support/NginxServer.h"
#include "support/TestSupport.h"
#include "util/Sha256.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int64_t kMiB = 1 << 20;

using Waiter = zarn::test::FinishWaiter;

// The child's side: one resumable download with the launcher's own settings.
int Fetch(char** argv) {
  zarn::DownloadExpectations expect(std::atoll(argv[2]), argv[3]);
  expect.resumable = true;
  expect.identity = "bench.zip 1";
  Waiter waiter;
  zarn::CFileDown worker;
  worker.AddTask(argv[0], argv[1], zarn::kTaskOrdinary, &waiter, expect);
  const int code = waiter.Wait();
  std::printf("fetch finished with code %d\n", code);
  return code == 0 ? 0 : 1;
}

pid_t StartFetch(const std::string& url, const std::string& local, int64_t size, const std::string& sha) {
  const std::string sizeText = std::to_string(size);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::execl("/proc/self/exe", "zarn-bench-resume", "--fetch", url.c_str(), local.c_str(), sizeText.c_str(),
            sha.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  return pid;
}

int WaitExit(pid_t pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int64_t FileSize(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 6 && std::strcmp(argv[1], "--fetch") == 0) return Fetch(argv + 2);
  int64_t sizeMiB = 200;
  std::string base = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp";
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--size-mib") == 0) sizeMiB = std::atoll(argv[i + 1]);
    if (std::strcmp(argv[i], "--dir") == 0) base = argv[i + 1];
  }
  ::setenv("TMPDIR", base.c_str(), 1);
  for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) ::unsetenv(name);

  zarn::test::TempDir served, local;
  const int64_t size = sizeMiB * kMiB;
  {
    std::ofstream out(served.file("bench.zip"), std::ios::binary);
    for (int64_t i = 0; i < sizeMiB; ++i) out << zarn::test::NoiseBytes(kMiB, static_cast<unsigned>(i + 1));
  }
  std::string sha;
  if (!zarn::Sha256File(served.file("bench.zip"), &sha)) return 2;
  zarn::test::NginxServer nginx(served.path());
  if (!nginx.Started()) {
    std::fprintf(stderr, "nginx did not start:\n%s\n", nginx.ErrorLog().c_str());
    return 2;
  }
  zarn::test::FaultProxy proxy(nginx.port());
  const std::string url = proxy.url("/bench.zip");
  const std::string target = local.file("bench.zip");
  int failures = 0;

  // 1. Killed at half, started again.
  {
    const int64_t half = size / 2;
    proxy.Plan({zarn::test::Fault::StallAfter(half)});
    const pid_t first = StartFetch(url, target, size, sha);
    const bool reached =
        zarn::test::WaitFor([&] { return FileSize(target + ".part") >= half; }, std::chrono::minutes(5));
    ::kill(first, SIGKILL);
    WaitExit(first);
    const int64_t onDisk = FileSize(target + ".part");
    proxy.Plan({});
    const int64_t sentBefore = proxy.BodyBytesSent();
    const auto begin = Clock::now();
    const int code = WaitExit(StartFetch(url, target, size, sha));
    const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    const int64_t again = proxy.BodyBytesSent() - sentBefore - (size - onDisk);
    const bool whole = code == 0 && FileSize(target) == size;
    std::printf("killed at %lld of %lld bytes (reached: %d); second run: code %d, %.2f s, %lld bytes sent\n",
                static_cast<long long>(onDisk), static_cast<long long>(size), reached, code, seconds,
                static_cast<long long>(proxy.BodyBytesSent() - sentBefore));
    std::printf(
        "ROW\tresume: %lld MiB package killed at half, bytes fetched again beyond the missing\t%lld "
        "KiB\t-\t-\t"
        "<= 1024 KiB\t%s\n",
        static_cast<long long>(sizeMiB), static_cast<long long>(again / 1024),
        !reached || !whole ? "failed" : (again <= kMiB ? "pass" : "miss"));
    if (!reached || !whole) ++failures;
    std::filesystem::remove(target);
  }

  // 2. A server that drops the connection every 20 MiB.
  {
    proxy.Plan({}, zarn::test::Fault::DropAfter(20 * kMiB));
    const int64_t sentBefore = proxy.BodyBytesSent();
    const auto begin = Clock::now();
    const int code = WaitExit(StartFetch(url, target, size, sha));
    const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    const int64_t sent = proxy.BodyBytesSent() - sentBefore;
    const double ratio = static_cast<double>(sent) / static_cast<double>(size);
    const bool whole = code == 0 && FileSize(target) == size;
    std::printf("drops every 20 MiB: code %d, %.2f s, %d connections, %lld bytes sent\n", code, seconds,
                proxy.Connections(), static_cast<long long>(sent));
    std::printf(
        "ROW\tresume: %lld MiB package, connection dropped every 20 MiB: bytes sent / package\t%.3f (%s, "
        "%.1f s)\t-\t-\t<= 1.05, no failure\t%s\n",
        static_cast<long long>(sizeMiB), ratio, whole ? "finished" : "failed", seconds,
        !whole ? "miss" : (ratio <= 1.05 ? "pass" : "miss"));
  }
  return failures == 0 ? 0 : 1;
}
