#include "app/CheckCommand.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/Process.h"
#include "platform/Settings.h"
#include "update/GameCheck.h"
#include "update/Repair.h"
#include "util/Paths.h"
#include "work/GameSettings.h"

namespace zarn {
namespace {

std::atomic<bool> g_cancel{false};

// Progress lines on standard error, one per whole percent.
class PercentLine {
 public:
  explicit PercentLine(const char* what) : what_(what) {}
  void Show(uint64_t done, uint64_t total) {
    const int percent = total ? static_cast<int>(done * 100 / total) : 100;
    if (percent == last_) return;
    last_ = percent;
    std::fprintf(stderr, "%s: %d%%\n", what_, percent);
  }

 private:
  const char* what_;
  int last_ = -1;
};

}  // namespace

bool IsCheckCommand(int argc, char** argv) {
  return argc >= 2 && (std::strcmp(argv[1], "--verify") == 0 || std::strcmp(argv[1], "--repair") == 0);
}

int RunCheckCommand(int argc, char** argv) {
  const bool repair = std::strcmp(argv[1], "--repair") == 0;
  if (argc > 3) {
    std::fprintf(stderr, "usage: zarn --verify|--repair [game folder]\n");
    return kCheckCouldNotRun;
  }
  std::string gameDir = argc == 3 ? std::string(argv[2]) : DirName(GetModulePath());
  while (gameDir.size() > 1 && gameDir.back() == '/') gameDir.pop_back();
  if (!IsDirectory(gameDir)) {
    std::fprintf(stderr, "%s: not a folder\n", gameDir.c_str());
    return kCheckCouldNotRun;
  }
  // Ctrl+C ends the run between files; repairs in flight leave only their temporary file gone.
  std::signal(SIGINT, [](int) { g_cancel = true; });
  std::signal(SIGTERM, [](int) { g_cancel = true; });

  // The base address as the launcher chooses it for updates.
  const GameSettings settings = ReadGameSettings(ClientConfigPath(gameDir));
  const std::string baseUrl = settings.useCdnHost ? CdnBaseUrl() : StorageBaseUrl();

  PercentLine hashing("checking");
  GameCheckOptions options;
  options.gameDir = gameDir;
  options.baseUrl = baseUrl;
  options.cancel = &g_cancel;
  options.progress.packages = [](size_t done, size_t total) {
    std::fprintf(stderr, "lists: %zu of %zu packages\n", done, total);
  };
  options.progress.bytes = [&](uint64_t done, uint64_t total) { hashing.Show(done, total); };
  const GameCheckResult check = CheckGame(options);
  for (const std::string& key : check.withoutList) std::printf("unchecked (no list): %s\n", key.c_str());
  if (!check.complete) {
    for (const std::string& e : check.errors) std::fprintf(stderr, "%s\n", e.c_str());
    std::printf("could not check the game folder%s\n", check.cancelled ? " (cancelled)" : "");
    return kCheckCouldNotRun;
  }
  if (check.packages.empty()) {
    std::printf("could not check the game folder: no installed package has a list\n");
    return kCheckCouldNotRun;
  }
  size_t missing = 0;
  for (const BrokenFile& b : check.broken) {
    missing += b.missing;
    std::printf("%s: %s\n", b.missing ? "missing" : "damaged", b.listed.path.c_str());
  }
  std::printf("%zu files checked, %zu missing, %zu damaged\n", check.files, missing,
              check.broken.size() - missing);
  if (check.broken.empty()) return kCheckWhole;
  if (!repair) return kCheckNotWhole;

  RepairOptions repairOptions;
  repairOptions.gameDir = gameDir;
  repairOptions.baseUrl = baseUrl;
  repairOptions.cancel = &g_cancel;
  repairOptions.packages = [](size_t done, size_t total) {
    std::fprintf(stderr, "repaired: %zu of %zu packages\n", done, total);
  };
  const RepairResult repaired = RepairGame(check, repairOptions);
  for (const std::string& f : repaired.failed) std::printf("not repaired: %s\n", f.c_str());
  std::printf("%zu files repaired, %zu not, %llu bytes fetched\n", repaired.repaired, repaired.failed.size(),
              static_cast<unsigned long long>(repaired.bytesFetched));
  return repaired.failed.empty() && !repaired.cancelled ? kCheckWhole : kCheckNotWhole;
}

}  // namespace zarn
