// The client update after the start command, without a window: the published manifest, the
// chosen packages downloaded (several at once when allowed) and unpacked one by one in key
// order, the manifest committed, the selected server's own data checked and refreshed, then
// "start the game".
//
// The session runs on one thread (the page's). It is handed its collaborators and tells an
// observer what to show; the owner brings each download's finish report and each tick of the
// progress timer onto that thread and passes them in.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "net/IDownloader.h"
#include "update/UpdateJournal.h"
#include "update/UpdateManifest.h"

namespace zarn {

class CExtractionQueue;
class IDownloader;
class IDownLoadFile;

// The stage codes of the update road (the page's start-up chain has codes of its own).
enum UpdateStage : int {
  kStageManifest = 200,
  kStagePackage = 300,
  kStagePackageUnpack = 301,
  kStageServerDataList = 400,
  kStageServerData = 401,
  kStageServerDataUnpack = 402,
};

// The progress timer (100 ms): set it while a step runs whose progress is shown, kill it when
// the step is over. Setting a running one restarts it.
class IProgressTimer {
 public:
  virtual ~IProgressTimer() = default;
  virtual void SetProgressTimer() = 0;
  virtual void KillProgressTimer() = 0;
};

// Why the road stopped; text is the retry prompt's message (ANSI).
struct UpdateFailure {
  enum Kind {
    kDownload,        // "下载文件失败[localPath]错误ID[code]"
    kExtraction,      // "解压文件失败!!", code is the extraction result
    kListUnreadable,  // "读取md5文件失败"
    kNoServer,        // "没有选择服务器"
    kCommit,          // "解压文件失败!!": the unpacked files or the manifest could not be flushed
  } kind = kDownload;
  int code = 0;
  std::string localPath;  // the download or the archive; for a commit the manifest
  std::string text;
};

// What the page shows. Every call comes on the session's thread, from inside one of its
// operations; a call may start the next road (a retry) before it returns.
class IUpdateObserver {
 public:
  virtual ~IUpdateObserver() = default;
  virtual void DisableStart() = 0;
  // The green bar: bytes of the current download (the worker reports them itself) or entries
  // of the current extraction; the blue bar: packages.
  virtual void ShowFileProgress(int32_t done, int32_t total) = 0;
  virtual void ShowOverallProgress(int32_t done, int32_t total) = 0;
  // Repaint the bars from the counters (every tick, except the one that reports a failure).
  virtual void RefreshBars() = 0;
  virtual void UpdateFailed(const UpdateFailure& failure) = 0;
  virtual void StartTheGame() = 0;
  // Each step as it begins ("manifest", "package a.zip", "unpack …", "commit", "server list",
  // "server archive", "server list write"): for logs and for tests that stop the road there.
  virtual void StepBegins(const std::string& step) { (void)step; }
};

// The retry prompt's text of a failed download.
std::string DownloadFailureText(const std::string& localPath, int errorCode);

struct UpdateSessionSetup {
  IDownloader* downloader = nullptr;
  IDownLoadFile* listener = nullptr;  // the listener of every job (the page)
  CExtractionQueue* extraction = nullptr;
  IProgressTimer* timer = nullptr;
  IUpdateObserver* observer = nullptr;
  std::string gameDir;  // the launcher's folder, without a trailing "/"
  FileFlush flush;      // how the commit flushes; empty: fsync
  // Packages downloading at once (and at most as many downloaded ones waiting for their
  // turn to be unpacked); 1: each package is downloaded after the one before is unpacked.
  // 0: "Downloads" of [Launcher] in the game folder's ClientConfig.cfg.
  int downloads = 0;
  // With several downloads: called on any thread when an archive is unpacked or a background
  // step (record, commit, list write) ends; the owner brings one OnProgressTick onto the
  // session's thread soon, so the road goes on at once instead of at the next tick. Empty, or
  // one download at a time: the progress timer's ticks alone move the road.
  std::function<void()> wake;
};

class UpdateSession {
 public:
  explicit UpdateSession(UpdateSessionSetup setup);
  // Waits for a commit or list write under way.
  ~UpdateSession();
  UpdateSession(const UpdateSession&) = delete;
  UpdateSession& operator=(const UpdateSession&) = delete;

  // The page's stage code; the page sets its start-up chain's codes here too, so that one code
  // says what the next finish report and the next tick belong to.
  int stage() const { return stage_; }
  void SetStage(int stage) { stage_ = stage; }

  // Starts the road (stage 200). baseUrl ends in "/"; serverId is the selected server's id
  // text, none when no server is selected.
  void StartUpdate(const std::string& baseUrl, std::optional<std::string> serverId);
  // The same with a second base address that holds the same tree (empty: none). A download of
  // the road that fails on the base in use is fetched once from the other one; when that
  // works, the road stays there, also in later calls with the same two bases. Only when both
  // fail does the road stop, with the failure on the base that was in use.
  void StartUpdate(const std::string& baseUrl, const std::string& otherBaseUrl,
                   std::optional<std::string> serverId);
  // The base address the road now downloads from.
  const std::string& baseUrl() const { return baseUrl_; }

  // A finished download, on the session's thread. A failed one ends the road with the download
  // prompt in any stage; a successful one moves stages 200, 300, 400 and 401 on and is ignored
  // in the others.
  void OnDownloadFinish(const std::string& localPath, int errorCode);

  // A tick of the progress timer: watches the extraction in stages 301 and 402 and the commit
  // and list write, then lets the bars be repainted.
  void OnProgressTick();

  // A progress report of a download, from any thread (the worker's): while packages download,
  // the green bar shows the bytes of all of them against their announced sizes. True when the
  // report is a package's, which the session now shows in its own sum.
  bool NoteDownloadProgress(const std::string& localPath, int done, int total);

  // The road's steps, each run by the one before.
  void DownloadNextPackage();
  void CheckServerData();
  void DownloadServerPackage();

  const PackageList& pendingPackages() const { return pendingPackages_; }
  int32_t pendingAtStart() const { return pendingAtStart_; }
  const ServerDataPlan& serverData() const { return serverData_; }
  const std::string& remoteDataText() const { return remoteDataText_; }
  const std::string& localDataText() const { return localDataText_; }

 private:
  enum class Background { kNone, kCommit, kListWrite, kJournal };

  struct Download;
  struct PackageJob;
  // After a failed download of the road: fetches the same file from the other base. False
  // when there is none to try.
  bool TryOtherBase(Download& download, int errorCode);
  // The base that is not in use; empty when there is none (or both are the same).
  std::string OtherBase() const;
  // The package loop: unpacks the next package in key order once it is on disk and starts
  // downloads while there is room; commits when every package is in place.
  void PumpPackages();
  void StartPackageDownload(const std::string& key, const std::string& version);
  void OnPackageDownloadFinish(const std::string& localPath, int errorCode);
  // A package failed for good: the other transfers end (their partial files stay).
  void StopPackageTransfers();
  void ShowPackageStage();
  void ShowDownloadBytes();
  // Takes the packages that this round's journal records as unpacked out of pendingPackages_.
  PackageList ResumeFromJournal();
  // The package just downloaded (and unpacked) is recorded, then the next one starts.
  void PackageFinished();
  void QueueDownload(const std::string& url, const std::string& localPath, DownloadExpectations expect = {});
  // With a trusted key, a downloaded document waits for its signature before it is acted on:
  // true when localPath must wait (its signature download was queued).
  bool AwaitSignature(const std::string& localPath, const std::string& treePath);
  // The report of the awaited signature: the document is refused or handed on.
  void OnSignatureFinish(const std::string& localPath, int errorCode);
  void OnDocumentAccepted(const std::string& localPath);
  void QueueExtraction(const std::string& archive, const std::string& dest);
  void ResetFileProgress();
  void Fail(UpdateFailure::Kind kind, int code, const std::string& localPath, const std::string& text);
  void OnBackgroundDone();
  // Runs a step on a thread of its own; the tick (or the wake) picks up its result.
  void StartBackground(Background kind, std::function<int()> job);
  void Step(const std::string& what);

  UpdateSessionSetup setup_;
  int stage_ = 0;
  std::string baseUrl_;
  std::optional<std::string> serverId_;
  PackageList pendingPackages_;
  int32_t pendingAtStart_ = 0;
  int32_t overallTotal_ = 0;
  ServerDataPlan serverData_;
  std::string remoteDataText_, localDataText_;
  std::string unpacking_;  // the archive being unpacked
  // The two bases as the owner gave them; baseUrl_ is the one in use.
  std::string chosenBase_, otherBase_;
  // The download under way, for a second try from the other base.
  struct Download {
    std::string urlPath;  // after the base; empty: not one of the road's
    std::string localPath;
    std::string triedBase;  // the other base once it is being tried
    int firstError = 0;
    DownloadExpectations expect;  // checked whichever base sends it
  };
  Download download_;
  // A package between the start of its download and the start of its unpacking.
  struct PackageJob {
    std::string key, version;
    Download download;
    bool onDisk = false;
  };
  int parallel_ = 1;
  std::map<std::string, PackageJob> packageJobs_;  // by key
  bool packageBusy_ = false;                       // a package is being unpacked or recorded
  bool unpackingPackage_ = false;                  // a package is being unpacked
  bool packagesFailed_ = false;                    // this round ended at the prompt
  std::set<std::string> abandoned_;                // local paths of transfers ended by a failure
  // Bytes of the packages' transfers as the worker reported them (its thread writes).
  std::mutex progressLock_;
  std::map<std::string, std::pair<int64_t, int64_t>> transferBytes_;
  // Whether the owner passes the worker's progress on; if not, the worker's own reports keep
  // driving the green bar, as with one download.
  bool progressFed_ = false;
  // This round's journal; none when the round cannot be identified.
  std::optional<UpdateJournal> journal_;
  std::pair<std::string, std::string> finishing_;  // key and version text of the package in hand
  std::string lastUrl_;                            // of the download in flight
  // A document whose signature is being fetched.
  struct PendingSignature {
    std::string document, documentUrl, signature, treePath;
  };
  std::optional<PendingSignature> pendingSignature_;
  // What the published manifest announces of each package, and the server's list of its archive.
  std::map<std::string, DownloadExpectations> announcedPackages_;
  DownloadExpectations announcedServerArchive_;
  // The commit and the list write flush to disk, which can take seconds: they run on a thread
  // of their own and the tick picks up their result.
  Background background_ = Background::kNone;
  std::future<int> backgroundResult_;
  // Set by the step as its last act before it returns its result.
  std::atomic<bool> backgroundEnded_{false};
};

}  // namespace zarn
