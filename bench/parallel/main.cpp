// Parallel package downloads: the whole update road (start command to game start) with
// "Downloads" = 4 against the same road with "Downloads" = 1 in the same run, served by nginx,
// for a distant content network through the fault proxy of the tests (a delay before the first
// byte and a paced body per connection). Each road runs in a process of its own, so that its
// peak resident memory can be read. Run by hand, never as a test:
//
//   zarn-bench-parallel [--dir FOLDER] [--downloads N]
//
// Rows: 20 packages of 2 MiB over the distant network; 8 packages of 32 MiB at full speed
// against max(download alone, unpack alone); the peak resident memory of that update; a
// 1 MiB/s cap over 20 s; and curl --parallel on the 20 packages as the peer.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "net/CFileDown.h"
#include "support/NginxServer.h"
#include "support/TestSupport.h"
#include "support/UpdateRunner.h"
#include "update/Extract.h"
#include "update/ZipBuilder.h"
#include "util/Paths.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
constexpr int64_t kMiB = 1 << 20;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

class Waiter : public zarn::IDownLoadFile {
 public:
  void OnDownloadStart(int, std::string, std::string, int) override {}
  void OnDownloadProgress(int, std::string, std::string, int, int) override {}
  void OnDownloadFinish(int, std::string, std::string, int errorCode) override {
    std::lock_guard<std::mutex> lock(m_);
    ++finished_;
    failed_ += errorCode != 0 ? 1 : 0;
    cv_.notify_all();
  }
  // false when one failed
  bool Wait(int n) {
    std::unique_lock<std::mutex> lock(m_);
    cv_.wait(lock, [&] { return finished_ >= n; });
    return failed_ == 0;
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  int finished_ = 0;
  int failed_ = 0;
};

// The child's side: one update of gameDir from base with that many downloads at once.
int Road(const std::string& gameDir, const std::string& base, int downloads) {
  zarn::test::RoadOptions options;
  options.serverId = "0";
  options.download = zarn::DownloadSettings{};  // the launcher's own waits and time-outs
  options.downloads = downloads;
  options.tick = 100ms;  // the page's progress timer
  options.limit = 600s;
  // Where the time goes, for the log.
  const Clock::time_point begin = Clock::now();
  options.onStep = [begin](const std::string& step) {
    std::printf("%8.3f s  %s\n", Seconds(begin), step.c_str());
  };
  const zarn::test::RoadOutcome outcome = zarn::test::RunUpdateSession(gameDir, base, options);
  if (outcome.kind != zarn::test::RoadOutcome::kComplete) {
    std::printf("road failed: %s\n", zarn::test::DescribeOutcome(outcome).c_str());
    return 1;
  }
  std::printf("%8.3f s  game start\n", Seconds(begin));
  return 0;
}

struct RoadRun {
  bool ok = false;
  double seconds = 0;
  double peakMiB = 0;
};

RoadRun RunRoad(const std::string& gameDir, const std::string& base, int downloads) {
  std::filesystem::remove_all(gameDir);
  std::filesystem::create_directories(gameDir);
  const std::string n = std::to_string(downloads);
  const Clock::time_point begin = Clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::execl("/proc/self/exe", "zarn-bench-parallel", "--road", gameDir.c_str(), base.c_str(), n.c_str(),
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  RoadRun run;
  run.seconds = Seconds(begin);
  run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  run.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;  // KiB
  // The launcher's own processor time, for the log: on two cores the transfers (and the server
  // sending them) and the unpacking share the same processors.
  const auto cpu = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  std::printf("Downloads %s: %.3f s, processor %.3f s user + %.3f s system\n", n.c_str(), run.seconds,
              cpu(usage.ru_utime), cpu(usage.ru_stime));
  return run;
}

void Publish(const std::string& root, int count, int64_t size) {
  std::filesystem::remove_all(root);
  zarn::MakeSureDirectoryPathExists(root + "/public/zip/");
  std::string manifest = "<update>\n";
  for (int i = 0; i < count; ++i) {
    char key[32];
    std::snprintf(key, sizeof key, "p%02d.zip", i);
    zarn::test::WriteZip(
        root + "/public/zip/" + key,
        {{std::string("data/") + key + ".bin",
          zarn::test::NoiseBytes(static_cast<size_t>(size), static_cast<unsigned>(i + 1)), true},
         {"data/shared.txt", key}});
    manifest += std::string(" <f key=\"") + key + "\" md5=\"1\"/>\n";
  }
  zarn::test::WriteFile(root + "/public/update.xml", manifest + "</update>\n");
}

std::vector<std::string> PackageKeys(int count) {
  std::vector<std::string> keys;
  for (int i = 0; i < count; ++i) {
    char key[32];
    std::snprintf(key, sizeof key, "p%02d.zip", i);
    keys.push_back(key);
  }
  return keys;
}

void Row(const std::string& name, const std::string& ours, const std::string& peer, const std::string& ratio,
         const std::string& goal, const std::string& result) {
  std::printf("ROW\t%s\t%s\t%s\t%s\t%s\t%s\n", name.c_str(), ours.c_str(), peer.c_str(), ratio.c_str(),
              goal.c_str(), result.c_str());
  std::fflush(stdout);
}

std::string Fixed(double value, int digits) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", digits, value);
  return text;
}

// Downloads the packages with the worker alone (no unpacking); seconds, negative on failure.
double DownloadAlone(const std::string& base, const std::vector<std::string>& keys, const std::string& into,
                     zarn::DownloadSettings settings) {
  std::filesystem::remove_all(into);
  std::filesystem::create_directories(into);
  Waiter waiter;
  const Clock::time_point begin = Clock::now();
  {
    zarn::CFileDown worker(settings);
    for (const std::string& key : keys)
      worker.AddTask(base + "public/zip/" + key, into + "/" + key, zarn::kTaskOrdinary, &waiter);
    if (!waiter.Wait(static_cast<int>(keys.size()))) return -1;
  }
  return Seconds(begin);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "--road") return Road(argv[2], argv[3], std::atoi(argv[4]));
  std::string dir = std::filesystem::temp_directory_path().string() + "/zarn-bench-parallel";
  int downloads = zarn::kDefaultDownloads;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::string(argv[i]) == "--dir") dir = argv[i + 1];
    if (std::string(argv[i]) == "--downloads") downloads = std::atoi(argv[i + 1]);
  }
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  const std::string content = dir + "/content", game = dir + "/game";
  std::filesystem::create_directories(content);
  zarn::test::NginxServer nginx(content);
  if (!nginx.Started()) {
    std::printf("nginx did not start: %s\n", nginx.ErrorLog().c_str());
    return 1;
  }
  zarn::test::FaultProxy proxy(nginx.port());
  bool allRan = true;
  const std::string n = std::to_string(downloads);

  // 1. A distant content network: 200 ms before the first byte, 2 MiB/s per connection.
  Publish(content, 20, 2 * kMiB);
  proxy.Plan({}, zarn::test::Fault::Distant(200ms, 2 * kMiB));
  const RoadRun distantOne = RunRoad(game, proxy.url("/"), 1);
  const RoadRun distantMany = RunRoad(game, proxy.url("/"), downloads);
  allRan = allRan && distantOne.ok && distantMany.ok;
  const double distantRatio = distantMany.seconds / distantOne.seconds;
  Row("update of 20 × 2 MiB, 200 ms first byte, 2 MiB/s per connection: Downloads " + n + " vs 1 (s)",
      Fixed(distantMany.seconds, 2), Fixed(distantOne.seconds, 2), Fixed(distantRatio, 2), "≤ 0.35",
      !distantOne.ok || !distantMany.ok ? "failed"
      : distantRatio <= 0.35            ? "met"
                                        : "miss");

  // The peer: curl fetching the same 20 packages over the same network, as many at once.
  {
    // HTTP/1.0 as the worker speaks it: the proxy serves one request per connection.
    std::string command =
        "cd '" + dir + "' && curl --no-progress-meter --http1.0 --fail --parallel --parallel-max " + n;
    for (const std::string& key : PackageKeys(20))
      command += " -o peer-" + key + " " + proxy.url("/public/zip/" + key);
    command += " 2>/dev/null";
    const Clock::time_point begin = Clock::now();
    const int status = std::system(command.c_str());
    const double seconds = Seconds(begin);
    Row("  the same 20 packages: curl --http1.0 --parallel --parallel-max " + n + ", download only (s)",
        Fixed(distantMany.seconds, 2), Fixed(seconds, 2), Fixed(distantMany.seconds / seconds, 2), "-",
        status == 0 ? "peer ran" : "peer failed");
  }

  // 2. Eight packages of 32 MiB at full speed (nginx directly): the whole road against the
  // download alone and the unpacking alone, each measured on its own.
  Publish(content, 8, 32 * kMiB);
  const std::string base = nginx.url("/");
  const RoadRun bigOne = RunRoad(game, base, 1);
  const RoadRun bigMany = RunRoad(game, base, downloads);
  zarn::DownloadSettings many;
  many.maxTransfers = downloads;
  const double downloadAlone = DownloadAlone(base, PackageKeys(8), dir + "/alone", many);
  std::filesystem::remove_all(dir + "/unpacked");
  const Clock::time_point unpackBegin = Clock::now();
  bool unpacked = true;
  for (const std::string& key : PackageKeys(8))
    unpacked = unpacked && zarn::ExtractArchive(dir + "/alone/" + key, dir + "/unpacked/") == 0;
  const double unpackAlone = Seconds(unpackBegin);
  const bool bigOk = bigOne.ok && bigMany.ok && downloadAlone > 0 && unpacked;
  allRan = allRan && bigOk;
  const double alone = std::max(downloadAlone, unpackAlone);
  Row("update of 8 × 32 MiB at full speed: Downloads " + n + " vs max(download " + Fixed(downloadAlone, 2) +
          " s, unpack " + Fixed(unpackAlone, 2) + " s) alone (s)",
      Fixed(bigMany.seconds, 2), Fixed(alone, 2), Fixed(bigMany.seconds / alone, 2), "≤ 1.15",
      !bigOk                            ? "failed"
      : bigMany.seconds / alone <= 1.15 ? "met"
                                        : "miss");
  Row("  the same update with Downloads 1 (s)", Fixed(bigMany.seconds, 2), Fixed(bigOne.seconds, 2),
      Fixed(bigMany.seconds / bigOne.seconds, 2), "-", bigOk ? "measured" : "failed");
  Row("  peak resident memory of that update: Downloads " + n + " vs 1 (MiB)", Fixed(bigMany.peakMiB, 1),
      Fixed(bigOne.peakMiB, 1), "+" + Fixed(bigMany.peakMiB - bigOne.peakMiB, 1) + " MiB", "≤ +16 MiB",
      !bigOk                                   ? "failed"
      : bigMany.peakMiB - bigOne.peakMiB <= 16 ? "met"
                                               : "miss");

  // 3. A cap of 1 MiB/s ("MaxRateKiB" = 1024) over 20 s: 4 of the 32 MiB packages cut short
  // by the time limit would not measure a whole transfer, so 5 MiB packages are used.
  Publish(content, 4, 5 * kMiB);
  const double capBytes =
      4.0 * static_cast<double>(zarn::test::ReadFile(content + "/public/zip/p00.zip").size());
  zarn::DownloadSettings capped = many;
  capped.maxReceiveRate = 1024 * 1024;
  const double cappedMany = DownloadAlone(base, PackageKeys(4), dir + "/capped", capped);
  capped.maxTransfers = 1;
  const double cappedOne = DownloadAlone(base, PackageKeys(4), dir + "/capped", capped);
  allRan = allRan && cappedMany > 0 && cappedOne > 0;
  const double rateMany = capBytes / cappedMany / static_cast<double>(kMiB);
  const double rateOne = capBytes / cappedOne / static_cast<double>(kMiB);
  Row("cap 1 MiB/s over " + Fixed(cappedMany, 1) + " s (20 MiB): rate with Downloads " + n + " vs 1 (MiB/s)",
      Fixed(rateMany, 3), Fixed(rateOne, 3), Fixed(rateMany / rateOne, 2), "within 10 % of 1",
      cappedMany < 0 || cappedOne < 0   ? "failed"
      : std::abs(rateMany - 1.0) <= 0.1 ? "met"
                                        : "miss");

  std::filesystem::remove_all(dir);
  return allRan ? 0 : 1;
}
