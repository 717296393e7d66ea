// The update road when a base fails and when a round is broken off, with real packages served
// over HTTP on 127.0.0.1:
//
//   zarn-bench-mirror [--runs N] [--dir FOLDER]
//
// 1. The chosen base refuses connections: the time from the start of the road until the first
//    byte arrives from the other base (median of N runs; goal under 3 s).
// 2. Ten packages, the eighth failing until the player answers OK: the packages fetched again
//    in the second round (goal: only the eighth and those after it).
#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/UpdateRunner.h"
#include "update/ZipBuilder.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

void WriteText(const std::string& path, const std::string& text) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

std::string Key(int i) { return "p" + std::string(i < 10 ? "0" : "") + std::to_string(i) + ".zip"; }

// Ten packages of 256 KiB each; no server data of their own.
void Publish(const std::string& root) {
  std::string xml = "<update>\n";
  std::string bytes(256 * 1024, '\0');
  for (int i = 1; i <= 10; ++i) {
    for (size_t b = 0; b < bytes.size(); ++b) bytes[b] = static_cast<char>((b * 2654435761u + i) >> 13);
    xml += " <f key=\"" + Key(i) + "\" md5=\"1\"/>\n";
    fs::create_directories(root + "/public/zip");
    zarn::test::WriteZip(root + "/public/zip/" + Key(i), {{"files/" + Key(i) + ".bin", bytes}});
  }
  WriteText(root + "/public/update.xml", xml + "</update>\n");
}

// A port on 127.0.0.1 where nothing listens: bound once by the system's choice, then closed.
int UnusedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  int port = 9;  // discard: nothing listens there either
  if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
    port = ntohs(addr.sin_port);
  if (fd >= 0) ::close(fd);
  return port;
}

// A content server on 127.0.0.1 that logs the packages asked for and refuses one path with 404.
class Content {
 public:
  explicit Content(const std::string& root) {
    server_.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
      std::lock_guard<std::mutex> lock(mutex_);
      if (req.path.rfind("/public/zip/", 0) == 0) fetched_.push_back(req.path.substr(12));
      if (req.path != failing_) return httplib::Server::HandlerResponse::Unhandled;
      res.status = 404;
      return httplib::Server::HandlerResponse::Handled;
    });
    server_.set_mount_point("/", root);
    // Bound and listening from here on: a connection waits until the loop accepts it.
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
  }
  ~Content() {
    server_.stop();
    thread_.join();
  }
  std::string base() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }
  void Fail(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    failing_ = path;
  }
  std::vector<std::string> TakeFetched() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(fetched_, {});
  }

 private:
  httplib::Server server_;
  std::mutex mutex_;
  std::string failing_;
  std::vector<std::string> fetched_;
  int port_ = 0;
  std::thread thread_;
};

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

std::string Join(const std::vector<std::string>& v) {
  std::string s;
  for (const std::string& x : v) s += (s.empty() ? "" : " ") + x;
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 5;
  std::string base = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp";
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--runs") == 0) runs = std::max(1, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--dir") == 0) base = argv[i + 1];
  }
  for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"})
    ::unsetenv(name);
  std::string dir = base + "/zarn-bench-mirror-XXXXXX";
  if (!::mkdtemp(dir.data())) {
    std::perror("mkdtemp");
    return 2;
  }
  Publish(dir + "/content");
  Content content(dir + "/content");
  bool ok = true;

  // 1. The chosen base refuses connections.
  std::vector<double> firstByte;
  for (int run = 0; run < runs; ++run) {
    const std::string game = dir + "/game-fallback-" + std::to_string(run);
    fs::create_directories(game);
    zarn::test::RoadOptions options;
    options.serverId = "0";
    options.otherBase = content.base();
    std::atomic<bool> seen{false};
    Clock::time_point first{};
    options.onProgress = [&](const std::string& url, int done) {
      if (done > 0 && url.rfind(content.base(), 0) == 0 && !seen.exchange(true)) first = Clock::now();
    };
    const std::string refusing = "http://127.0.0.1:" + std::to_string(UnusedPort()) + "/";
    const Clock::time_point begin = Clock::now();
    const zarn::test::RoadOutcome outcome = zarn::test::RunUpdateSession(game, refusing, options);
    if (outcome.kind != zarn::test::RoadOutcome::kComplete || !seen) {
      std::printf("  run %d: %s\n", run + 1, zarn::test::DescribeOutcome(outcome).c_str());
      ok = false;
      continue;
    }
    firstByte.push_back(std::chrono::duration<double>(first - begin).count());
    std::printf("  run %d: first byte from the other base after %.3f s\n", run + 1, firstByte.back());
  }
  const double median = firstByte.empty() ? -1 : Median(firstByte);
  std::printf(
      "ROW\tchosen base refuses connections: first byte from the other base (median)\t%.3f s\t-\t-\t< 3 "
      "s\t%s\n",
      median, ok && median >= 0 && median < 3 ? "pass" : "miss");

  // 2. Ten packages, the eighth failing until OK.
  const std::string game = dir + "/game-journal";
  fs::create_directories(game);
  zarn::test::RoadOptions options;
  options.serverId = "0";
  content.TakeFetched();
  content.Fail("/public/zip/" + Key(8));
  const zarn::test::RoadOutcome first = zarn::test::RunUpdateSession(game, content.base(), options);
  const std::vector<std::string> round1 = content.TakeFetched();
  content.Fail("");
  const zarn::test::RoadOutcome second = zarn::test::RunUpdateSession(game, content.base(), options);
  const std::vector<std::string> round2 = content.TakeFetched();
  std::printf("  first round (%s): %s\n", zarn::test::DescribeOutcome(first).c_str(), Join(round1).c_str());
  std::printf("  second round (%s): %s\n", zarn::test::DescribeOutcome(second).c_str(), Join(round2).c_str());
  const bool journalOk = first.kind == zarn::test::RoadOutcome::kDownloadFailed &&
                         second.kind == zarn::test::RoadOutcome::kComplete &&
                         round2 == std::vector<std::string>{Key(8), Key(9), Key(10)};
  ok = ok && first.kind == zarn::test::RoadOutcome::kDownloadFailed &&
       second.kind == zarn::test::RoadOutcome::kComplete;
  std::printf(
      "ROW\t10 packages, the 8th failing until OK: packages fetched in the 2nd round\t%zu (%s)\t-\t-\t"
      "3 (8th to 10th)\t%s\n",
      round2.size(), Join(round2).c_str(), journalOk ? "pass" : "miss");
  fs::remove_all(dir);
  return ok ? 0 : 1;
}
