// The launcher's update path, step for step as the work page runs it, brings a game folder up
// to date from a tree zarn-publish wrote, served over HTTP on 127.0.0.1.
#include <gtest/gtest.h>

#include <mutex>
#include <thread>

#include "net/CFileDown.h"
#include "net/NetTestSupport.h"
#include "publish/PublishTestSupport.h"
#include "update/CExtractionQueue.h"
#include "update/UpdateManifest.h"
#include "work/WorkDownload.h"

namespace zarn {
namespace {

using test::NoiseBytes;
using test::ReadFile;
using test::ReadTree;
using test::RunPublish;
using test::TempDir;
using test::WriteFile;

// Waits for the one finish report of each download.
class FinishWaiter : public IDownLoadFile {
 public:
  void OnDownloadStart(int, std::string, std::string, int) override {}
  void OnDownloadProgress(int, std::string, std::string, int, int) override {}
  void OnDownloadFinish(int, std::string, std::string, int errorCode) override {
    std::lock_guard<std::mutex> lock(mutex_);
    code_ = errorCode;
    done_ = true;
    cv_.notify_all();
  }
  int Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!cv_.wait_for(lock, std::chrono::seconds(30), [&] { return done_; })) return -9999;
    done_ = false;
    return code_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool done_ = false;
  int code_ = 0;
};

// The work page's sequence from the start command to the game start, without the window:
// manifest, chosen packages downloaded and unpacked one by one, manifest committed, the
// server's data list compared and its archive fetched when it differs.
class UpdateRun {
 public:
  UpdateRun(std::string base, std::string launcherDir)
      : base_(std::move(base)), dir_(std::move(launcherDir)) {}

  // False at the first step that fails, with the step in *failure.
  bool Run(const std::string& serverId, std::string* failure) {
    if (!Download({base_ + "public/update.xml", DownloadedManifestPath(dir_)}, failure)) return false;
    PackageList pending = SelectPackages(dir_);
    int32_t pendingAtStart = static_cast<int32_t>(pending.size());
    while (!pending.empty()) {
      const std::string key = pending.begin()->first;
      const std::string local = PackageDownloadPath(dir_, key);
      if (!Download({base_ + "public/zip/" + key, local}, failure)) return false;
      pending.erase(pending.begin());
      if (local.find(".zip") != std::string::npos && !Unpack(local, PackageDestination(dir_), failure))
        return false;
    }
    if (CommitManifest(dir_, pendingAtStart) == CommitResult::kFailed) {
      *failure = "commit";
      return false;
    }
    const ServerDataPlan plan = PlanServerData(dir_, serverId);
    if (!plan.hasData) return true;
    if (!Download({base_ + plan.listUrlPath, plan.listLocalPath}, failure)) return false;
    const ServerDataComparison comparison = CompareServerData(plan);
    if (!comparison.listRead) {
      *failure = "server data list";
      return false;
    }
    if (comparison.upToDate) return true;
    if (!Download({base_ + plan.archiveUrlPath, plan.archiveLocalPath}, failure)) return false;
    if (!Unpack(plan.archiveLocalPath, plan.serverDataDir, failure)) return false;
    return WriteServerDataList(plan, comparison.remoteDataText);
  }

 private:
  bool Download(const DownloadRequest& request, std::string* failure) {
    if (!PrepareDownload(request)) {
      *failure = "folders of " + request.localPath;
      return false;
    }
    worker_.AddTask(request.url, request.localPath, request.taskCode, &waiter_);
    const int code = waiter_.Wait();
    if (code != 0) *failure = request.url + " failed with " + std::to_string(code);
    return code == 0;
  }
  bool Unpack(const std::string& archive, const std::string& dest, std::string* failure) {
    queue_.QueueExtraction(archive, dest);
    CExtractionQueue::Snapshot snap;
    const bool finished = test::WaitUntil(
        [&] {
          snap = queue_.Poll();
          return snap.queueEmpty || snap.result != 0;
        },
        std::chrono::seconds(30));
    if (!finished || snap.result != 0) *failure = "unpacking " + archive + ": " + std::to_string(snap.result);
    return finished && snap.result == 0;
  }

  std::string base_, dir_;
  CFileDown worker_;
  FinishWaiter waiter_;
  CExtractionQueue queue_;
};

TEST(UpdateFromPublishedTree, GameFolderComesUpToDateAndFetchesOnlyWhatChanged) {
  test::ClearProxyEnvironment();
  TempDir dir;
  const std::map<std::string, std::string> gameFiles = {
      {"RuzaDivuzo226.exe", "the game"},          {"bin/engine.so", NoiseBytes(1500000, 7)},
      {"data/map/a.bin", NoiseBytes(300000, 8)},  {"data/map/b.txt", "map b"},
      {"data/ui/font.ttf", NoiseBytes(40000, 9)},
  };
  for (const auto& [name, bytes] : gameFiles) WriteFile(dir.file("master/" + name), bytes);
  WriteFile(dir.file("master/servers/12/zone.cfg"), "zone 12");
  WriteFile(dir.file("layout.json"), R"({
    "packages": [{"key": "client.zip", "files": ["RuzaDivuzo226.exe", "bin/"]},
                 {"key": "maps.zip", "files": ["data/map/"]}],
    "default": "rest.zip",
    "servers": [{"id": "12", "folder": "servers/12"}]})");
  const std::string content = dir.file("content");
  auto publish = [&] {
    const test::ToolRun run = RunPublish(
        {"--from", dir.file("master"), "--layout", dir.file("layout.json"), "--out", content}, dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
  };
  publish();

  test::HttpServer http;
  std::mutex mutex;
  std::vector<std::string> requested;
  ASSERT_TRUE(http.server().set_mount_point("/", content));
  http.server().set_logger([&](const httplib::Request& req, const httplib::Response& res) {
    std::lock_guard<std::mutex> lock(mutex);
    requested.push_back(req.path + " " + std::to_string(res.status));
  });
  http.Start();
  auto takeRequests = [&] {
    std::lock_guard<std::mutex> lock(mutex);
    return std::exchange(requested, {});
  };

  // A fresh game folder: everything is fetched.
  const std::string player = dir.file("player");
  {
    UpdateRun update(http.url("/"), player);
    std::string failure;
    ASSERT_TRUE(update.Run("12", &failure)) << failure;
  }
  for (const auto& [name, bytes] : gameFiles) EXPECT_EQ(ReadFile(player + "/" + name), bytes) << name;
  EXPECT_EQ(ReadFile(player + "/update.xml"), ReadFile(content + "/public/update.xml"));
  EXPECT_EQ(ReadFile(player + "/Custom/12/zone.cfg"), "zone 12");
  std::string published;
  ASSERT_TRUE(ReadFirstLine(content + "/ClientData/12.md5", published));
  EXPECT_EQ(ReadFile(player + "/Custom/12/12.data"), published);
  EXPECT_EQ(takeRequests(), (std::vector<std::string>{"/public/update.xml 200", "/public/zip/client.zip 200",
                                                      "/public/zip/maps.zip 200", "/public/zip/rest.zip 200",
                                                      "/ClientData/12.md5 200", "/ClientData/12.zip 200"}));

  // One map file changes and is published again: that one package is fetched, nothing else.
  WriteFile(dir.file("master/data/map/b.txt"), "map b, patched");
  publish();
  {
    UpdateRun update(http.url("/"), player);
    std::string failure;
    ASSERT_TRUE(update.Run("12", &failure)) << failure;
  }
  EXPECT_EQ(ReadFile(player + "/data/map/b.txt"), "map b, patched");
  EXPECT_EQ(ReadFile(player + "/bin/engine.so"), gameFiles.at("bin/engine.so"));
  EXPECT_EQ(ReadFile(player + "/update.xml"), ReadFile(content + "/public/update.xml"));
  EXPECT_EQ(takeRequests(), (std::vector<std::string>{"/public/update.xml 200", "/public/zip/maps.zip 200",
                                                      "/ClientData/12.md5 200"}));
  // The download folder keeps no archive once it was unpacked.
  EXPECT_TRUE(ReadTree(player + "/download").count("maps.zip") == 0);
}

}  // namespace
}  // namespace zarn
