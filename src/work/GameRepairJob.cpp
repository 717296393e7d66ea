#include "work/GameRepairJob.h"

#include <fstream>
#include <set>
#include <utility>

#include "update/GameCheck.h"
#include "update/Repair.h"
#include "update/UpdateManifest.h"
#include "update/UpdateTrust.h"
#include "util/Debug.h"
#include "util/Paths.h"
#include "util/Sha256.h"

namespace zarn {
namespace {

GameRepairOutcome Ended(GameRepairOutcome::Kind kind) {
  GameRepairOutcome out;
  out.kind = kind;
  return out;
}

GameRepairOutcome Failed(int code, std::string path, std::vector<std::string> details) {
  GameRepairOutcome out;
  out.kind = GameRepairOutcome::kFailed;
  out.code = code;
  out.path = std::move(path);
  out.details = std::move(details);
  return out;
}

std::string WithoutTrailingSlash(std::string dir) {
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

}  // namespace

std::string ServerDataIndex(const std::string& listPath) {
  std::ifstream in(listPath, std::ios::binary);
  std::string line;
  bool first = true;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // The first line is the data's version text, whatever it holds.
    if (std::exchange(first, false)) continue;
    if (line.rfind("index ", 0) == 0 && IsSha256Hex(line.substr(6))) return line.substr(6);
  }
  return {};
}

GameRepairJob::~GameRepairJob() { CancelAndWait(); }

void GameRepairJob::Start(GameRepairRequest request, std::function<void()> onDone) {
  CancelAndWait();
  cancel_ = false;
  packagesDone = packagesTotal = bytesDone = bytesTotal = 0;
  outcome_ = {};
  running_ = true;
  thread_ = std::thread([this, request = std::move(request), onDone = std::move(onDone)] {
    GameRepairOutcome outcome = Run(request);
    outcome_ = std::move(outcome);
    running_ = false;
    if (onDone) onDone();
  });
}

void GameRepairJob::CancelAndWait() {
  cancel_ = true;
  if (thread_.joinable()) thread_.join();
}

bool GameRepairJob::CancelAndWaitAtMost(std::chrono::milliseconds limit) {
  cancel_ = true;
  const auto until = std::chrono::steady_clock::now() + limit;
  // Only while the launcher closes: a short sleep between looks at the flag is enough.
  while (running_ && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  if (running_) return false;
  if (thread_.joinable()) thread_.join();
  return true;
}

GameRepairOutcome GameRepairJob::TakeOutcome() {
  if (thread_.joinable()) thread_.join();
  return std::exchange(outcome_, {});
}

GameRepairOutcome GameRepairJob::Run(const GameRepairRequest& request) {
  const bool hasServer = !request.serverDataId.empty();
  const std::string serverIndex = hasServer ? ServerDataIndex(request.serverDataListPath) : std::string();
  const int64_t extra = serverIndex.empty() ? 0 : 1;

  GameCheckOptions options;
  options.gameDir = request.gameDir;
  options.baseUrl = request.baseUrl;
  options.threads = request.threads;
  options.cancel = &cancel_;
  options.progress.packages = [this, extra](size_t done, size_t total) {
    packagesTotal = static_cast<int64_t>(total) + extra;
    packagesDone = static_cast<int64_t>(done);
  };
  options.progress.bytes = [this](uint64_t done, uint64_t total) {
    bytesTotal = static_cast<int64_t>(total);
    bytesDone = static_cast<int64_t>(done);
  };
  const GameCheckResult check = CheckGame(options);
  if (check.cancelled || cancel_) return Ended(GameRepairOutcome::kCancelled);
  if (!check.complete) return Failed(kErrorCheckListRefused, request.gameDir + "/index", check.errors);
  for (const std::string& key : check.withoutList)
    DebugOutput("no file list for package " + key + ": not checked");

  GameCheckResult serverCheck;
  serverCheck.complete = true;
  if (hasServer && serverIndex.empty())
    DebugOutput("server data " + request.serverDataId + " has no file list");
  if (!serverIndex.empty()) {
    ListedFolder folder;
    folder.key = "server-" + request.serverDataId + ".zip";
    folder.dir = WithoutTrailingSlash(request.serverDataDir);
    folder.listUrl = request.baseUrl + "ClientData/" + request.serverDataId + ".lst";
    folder.index = serverIndex;
    const DownloadExpectations announced = LoadServerArchiveAnnouncement(request.serverDataListPath);
    folder.archive = {folder.key, announced.sha256,
                      announced.size > 0 ? static_cast<uint64_t>(announced.size) : 0};
    options.progress.packages = [this](size_t, size_t) { ++packagesDone; };
    serverCheck = CheckListedFolder(folder, options);
    if (serverCheck.cancelled || cancel_) return Ended(GameRepairOutcome::kCancelled);
    if (!serverCheck.complete)
      return Failed(kErrorCheckListRefused, request.gameDir + "/index/" + folder.key + ".lst",
                    serverCheck.errors);
  }
  if (check.packages.empty() && serverCheck.packages.empty())
    return Failed(kErrorNothingListed, InstalledManifestPath(request.gameDir),
                  {"no installed package has a file list"});

  const size_t broken = check.broken.size() + serverCheck.broken.size();
  if (broken == 0) return Ended(GameRepairOutcome::kWhole);

  // The repair's bars: packages with a broken file, and the broken files' bytes.
  std::set<std::string> packages;
  uint64_t brokenBytes = 0;
  for (const GameCheckResult* c : {&check, static_cast<const GameCheckResult*>(&serverCheck)})
    for (const BrokenFile& b : c->broken) {
      packages.insert(b.package);
      brokenBytes += b.listed.size;
      DebugOutput(std::string(b.missing ? "missing: " : "damaged: ") + b.listed.path);
    }
  packagesDone = 0;
  packagesTotal = static_cast<int64_t>(packages.size());
  bytesDone = 0;
  bytesTotal = static_cast<int64_t>(brokenBytes);
  int64_t packagesBefore = 0;
  uint64_t fetchedBefore = 0;
  RepairOptions repair;
  repair.gameDir = request.gameDir;
  repair.baseUrl = request.baseUrl;
  repair.cancel = &cancel_;
  repair.packages = [this, &packagesBefore](size_t done, size_t) {
    packagesDone = packagesBefore + static_cast<int64_t>(done);
  };
  // A whole package fetched instead of ranges may pass the broken files' size: the bar stops full.
  repair.bytes = [this, &fetchedBefore](uint64_t fetched) {
    bytesDone = std::min<int64_t>(static_cast<int64_t>(fetchedBefore + fetched), bytesTotal.load());
  };
  RepairResult packagesRepaired;
  if (!check.broken.empty()) packagesRepaired = RepairGame(check, repair);
  RepairResult serverRepaired;
  if (!serverCheck.broken.empty() && !cancel_) {
    packagesBefore = packagesDone;
    fetchedBefore = packagesRepaired.bytesFetched;
    RepairOptions server = repair;
    server.gameDir = WithoutTrailingSlash(request.serverDataDir);
    server.scratchDir = request.gameDir + "/download";
    server.packageUrl = [url = request.baseUrl + "ClientData/" + request.serverDataId +
                               ".zip"](const std::string&) { return url; };
    serverRepaired = RepairGame(serverCheck, server);
  }
  if (packagesRepaired.cancelled || serverRepaired.cancelled || cancel_)
    return Ended(GameRepairOutcome::kCancelled);

  std::vector<std::string> failed = packagesRepaired.failed;
  failed.insert(failed.end(), serverRepaired.failed.begin(), serverRepaired.failed.end());
  if (!failed.empty()) {
    // Each entry is "<listed path>: <why>"; the prompt names the first file's place.
    const std::string& first = failed.front();
    const size_t colon = first.find(": ");
    const bool inServer = packagesRepaired.failed.empty();
    const std::string dir = inServer ? WithoutTrailingSlash(request.serverDataDir) : request.gameDir;
    return Failed(kErrorRepairFailed, ListedPathIn(dir, first.substr(0, colon)), failed);
  }
  GameRepairOutcome out;
  out.kind = GameRepairOutcome::kRepaired;
  out.repaired = packagesRepaired.repaired + serverRepaired.repaired;
  return out;
}

}  // namespace zarn
