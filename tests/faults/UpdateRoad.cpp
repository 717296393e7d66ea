#include "UpdateRoad.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "update/CExtractionQueue.h"
#include "update/UpdateManifest.h"
#include "util/Paths.h"

namespace zarn::test {

namespace {

// Waits for the one finish report of each download.
class FinishWaiter : public IDownLoadFile {
 public:
  void OnDownloadStart(int, std::string, std::string, int) override {}
  void OnDownloadProgress(int, std::string, std::string, int, int) override {}
  void OnDownloadFinish(int, std::string, std::string, int errorCode) override {
    std::lock_guard lock(mutex_);
    code_ = errorCode;
    finished_ = true;
    cv_.notify_all();
  }
  int Wait() {
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [this] { return finished_; });
    finished_ = false;
    return code_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool finished_ = false;
  int code_ = 0;
};

class Road {
 public:
  Road(const std::string& gameDir, const std::string& base, const RoadOptions& options)
      : dir_(gameDir), base_(base), options_(options), worker_(options.download) {}

  RoadOutcome Run() {
    if (!Download("manifest", base_ + "public/update.xml", DownloadedManifestPath(dir_))) return outcome_;
    PackageList pending = SelectPackages(dir_);
    int32_t pendingAtStart = static_cast<int32_t>(pending.size());
    outcome_.packagesChosen = pendingAtStart;
    while (!pending.empty()) {
      const std::string key = pending.begin()->first;
      const std::string local = PackageDownloadPath(dir_, key);
      if (!Download("package " + key, base_ + "public/zip/" + key, local)) return outcome_;
      pending.erase(pending.begin());
      if (local.find(".zip") != std::string::npos && !Unpack(local, PackageDestination(dir_)))
        return outcome_;
    }
    Step("commit");
    CommitManifest(dir_, pendingAtStart);

    const ServerDataPlan plan = PlanServerData(dir_, options_.serverId);
    if (!plan.hasData) return outcome_;
    if (!Download("server list", base_ + plan.listUrlPath, plan.listLocalPath)) return outcome_;
    const ServerDataComparison comparison = CompareServerData(plan);
    if (!comparison.listRead) {
      outcome_.kind = RoadOutcome::kListUnreadable;
      return outcome_;
    }
    if (comparison.upToDate) return outcome_;
    if (!Download("server archive", base_ + plan.archiveUrlPath, plan.archiveLocalPath)) return outcome_;
    if (!Unpack(plan.archiveLocalPath, plan.serverDataDir)) return outcome_;
    Step("server list write");
    WriteServerDataList(plan, comparison.remoteDataText);
    return outcome_;
  }

 private:
  void Step(const std::string& what) {
    if (options_.onStep) options_.onStep(what);
  }

  bool Download(const std::string& what, const std::string& url, const std::string& local) {
    Step(what);
    MakeSureDirectoryPathExists(local);
    worker_.AddTask(url, local, kTaskOrdinary, &waiter_);
    const int code = waiter_.Wait();
    if (code == 0) return true;
    outcome_.kind = RoadOutcome::kDownloadFailed;
    outcome_.code = code;
    outcome_.localPath = local;
    return false;
  }

  // As the page's progress timer watches the extraction thread.
  bool Unpack(const std::string& archive, const std::string& dest) {
    Step("unpack " + archive);
    extraction_.QueueExtraction(archive, dest);
    for (;;) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      const CExtractionQueue::Snapshot snap = extraction_.Poll();
      if (snap.result != 0) {
        outcome_.kind = RoadOutcome::kExtractFailed;
        outcome_.code = snap.result;
        outcome_.localPath = archive;
        return false;
      }
      if (snap.queueEmpty) return true;
    }
  }

  const std::string dir_, base_;
  const RoadOptions& options_;
  RoadOutcome outcome_;
  FinishWaiter waiter_;
  CFileDown worker_;  // after the waiter: its reports go to it until the worker is gone
  CExtractionQueue extraction_;
};

}  // namespace

RoadOutcome RunUpdateRoad(const std::string& gameDir, const std::string& base, const RoadOptions& options) {
  return Road(gameDir, base, options).Run();
}

std::string DescribeOutcome(const RoadOutcome& outcome) {
  switch (outcome.kind) {
    case RoadOutcome::kComplete:
      return "complete";
    case RoadOutcome::kDownloadFailed:
      return "download-failed " + std::to_string(outcome.code) + " " + outcome.localPath;
    case RoadOutcome::kExtractFailed:
      return "extract-failed " + std::to_string(outcome.code) + " " + outcome.localPath;
    case RoadOutcome::kListUnreadable:
      return "list-unreadable";
  }
  return "?";
}

}  // namespace zarn::test
