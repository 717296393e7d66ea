#include "update/UpdateSession.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <system_error>
#include <utility>

#include "net/CFileDown.h"
#include "update/CExtractionQueue.h"
#include "update/UpdateTrust.h"
#include "util/CodePage.h"
#include "util/Debug.h"
#include "util/IniFile.h"
#include "util/Paths.h"
#include "work/GameSettings.h"
#include "work/WorkDownload.h"

namespace zarn {
namespace {

// On a thread of its own; run here and now when no thread can be started.
std::future<int> RunInBackground(std::function<int()> job) {
  try {
    return std::async(std::launch::async, job);
  } catch (const std::system_error& e) {
    DebugOutput(std::string("no thread for a background step: ") + e.what());
    std::promise<int> done;
    done.set_value(job());
    return done.get_future();
  }
}

}  // namespace

std::string DownloadFailureText(const std::string& localPath, int errorCode) {
  char text[1024];
  std::snprintf(text, sizeof text, Utf8ToAnsi("下载文件失败[%s]错误ID[%d]").c_str(), localPath.c_str(),
                errorCode);
  return text;
}

UpdateSession::UpdateSession(UpdateSessionSetup setup) : setup_(std::move(setup)) {}

UpdateSession::~UpdateSession() {
  if (setup_.extraction) setup_.extraction->SetOnArchiveDone(nullptr);
  if (backgroundResult_.valid()) backgroundResult_.wait();
}

void UpdateSession::StartBackground(Background kind, std::function<int()> job) {
  background_ = kind;
  backgroundEnded_ = false;
  std::function<void()> wake = parallel_ > 1 ? setup_.wake : nullptr;
  // The session waits for the step before it goes, so the flag outlives the thread's use of it.
  backgroundResult_ =
      RunInBackground([job = std::move(job), wake = std::move(wake), ended = &backgroundEnded_] {
        const int result = job();
        if (wake) {
          ended->store(true);
          wake();
        }
        return result;
      });
  setup_.timer->SetProgressTimer();
}

void UpdateSession::StartUpdate(const std::string& baseUrl, std::optional<std::string> serverId) {
  StartUpdate(baseUrl, std::string(), std::move(serverId));
}

void UpdateSession::StartUpdate(const std::string& baseUrl, const std::string& otherBaseUrl,
                                std::optional<std::string> serverId) {
  // A base that failed earlier in this run is not tried first again.
  if (baseUrl != chosenBase_ || otherBaseUrl != otherBase_ || baseUrl_.empty()) {
    chosenBase_ = baseUrl;
    otherBase_ = otherBaseUrl;
    baseUrl_ = baseUrl;
  }
  serverId_ = std::move(serverId);
  parallel_ = setup_.downloads > 0 ? std::min(setup_.downloads, kMaxDownloads)
                                   : ConfiguredDownloads(ClientConfigPath(setup_.gameDir));
  packagesFailed_ = false;
  if (setup_.extraction) setup_.extraction->SetOnArchiveDone(parallel_ > 1 ? setup_.wake : nullptr);
  pendingSignature_.reset();
  announcedPackages_.clear();
  announcedServerArchive_ = {};
  setup_.observer->DisableStart();
  stage_ = kStageManifest;
  Step("manifest");
  QueueDownload(baseUrl_ + "public/update.xml", DownloadedManifestPath(setup_.gameDir));
  ResetFileProgress();
  setup_.timer->SetProgressTimer();
}

void UpdateSession::OnDownloadFinish(const std::string& localPath, int errorCode) {
  if (pendingSignature_ && localPath == pendingSignature_->signature) {
    OnSignatureFinish(localPath, errorCode);
    return;
  }
  if (std::any_of(packageJobs_.begin(), packageJobs_.end(), [&](const auto& job) {
        return !job.second.onDisk && job.second.download.localPath == localPath;
      })) {
    OnPackageDownloadFinish(localPath, errorCode);
    return;
  }
  // A report of a transfer that a failure ended, already on its way before it was ended.
  if (abandoned_.erase(localPath) > 0) return;
  if (errorCode != 0) {
    if (TryOtherBase(download_, errorCode)) return;
    // Both bases failed: the player is told of the failure on the base the road stays on.
    const int code = download_.triedBase.empty() ? errorCode : download_.firstError;
    download_ = {};
    setup_.timer->KillProgressTimer();
    Fail(UpdateFailure::kDownload, code, localPath, DownloadFailureText(localPath, code));
    return;
  }
  if (!download_.triedBase.empty()) {
    DebugOutput("update downloads go on from " + download_.triedBase);
    baseUrl_ = download_.triedBase;
  }
  download_ = {};
  if (stage_ == kStageManifest && AwaitSignature(localPath, kPackageManifestDocument)) return;
  if (stage_ == kStageServerDataList &&
      AwaitSignature(localPath, ServerDataListTreePath(serverData_.serverDataId)))
    return;
  OnDocumentAccepted(localPath);
}

bool UpdateSession::AwaitSignature(const std::string& localPath, const std::string& treePath) {
  if (UpdatePublicKey().empty()) return false;
  pendingSignature_ = PendingSignature{localPath, lastUrl_, SignaturePathFor(localPath), treePath};
  std::remove(pendingSignature_->signature.c_str());  // never one left from an earlier round
  QueueDownload(SignaturePathFor(lastUrl_), pendingSignature_->signature);
  return true;
}

void UpdateSession::OnSignatureFinish(const std::string& localPath, int errorCode) {
  const PendingSignature pending = *std::exchange(pendingSignature_, std::nullopt);
  SignatureVerdict verdict;
  if (errorCode != 0) {
    verdict.reason = "no signature (" + SignaturePathFor(pending.documentUrl) + ": error " +
                     std::to_string(errorCode) + ")";
    DebugOutput(pending.treePath + ": signature refused: " + verdict.reason);
  } else {
    verdict = CheckSignedDocument(pending.document, localPath, pending.treePath);
  }
  std::remove(localPath.c_str());
  if (!verdict) {
    // Nothing of an unproven document is kept, so nothing can act on it later.
    std::remove(pending.document.c_str());
    setup_.timer->KillProgressTimer();
    Fail(UpdateFailure::kDownload, kErrorSignatureRefused, pending.document,
         DownloadFailureText(pending.document, kErrorSignatureRefused));
    return;
  }
  OnDocumentAccepted(pending.document);
}

void UpdateSession::OnDocumentAccepted(const std::string& localPath) {
  switch (stage_) {
    case kStageManifest: {
      setup_.timer->KillProgressTimer();
      finishing_ = {};
      announcedPackages_ = LoadPackageAnnouncements(localPath);
      pendingPackages_ = SelectPackages(setup_.gameDir);
      const PackageList done = ResumeFromJournal();
      pendingAtStart_ = overallTotal_ = static_cast<int32_t>(pendingPackages_.size() + done.size());
      // Packages unpacked in an earlier attempt of this round count as done.
      setup_.observer->ShowOverallProgress(static_cast<int32_t>(done.size()), overallTotal_);
      packageJobs_.clear();
      packageBusy_ = false;
      {
        std::lock_guard<std::mutex> lock(progressLock_);
        transferBytes_.clear();
      }
      DownloadNextPackage();
      break;
    }
    case kStageServerDataList: {
      setup_.timer->KillProgressTimer();
      const ServerDataComparison comparison = CompareServerData(serverData_);
      if (!comparison.listRead) {
        Fail(UpdateFailure::kListUnreadable, 0, serverData_.listLocalPath, comparison.failureText);
        break;
      }
      remoteDataText_ = comparison.remoteDataText;
      announcedServerArchive_ = LoadServerArchiveAnnouncement(serverData_.listLocalPath);
      localDataText_ = comparison.localDataText;
      if (comparison.upToDate)
        setup_.observer->StartTheGame();
      else
        DownloadServerPackage();
      break;
    }
    case kStageServerData:
      setup_.timer->KillProgressTimer();
      stage_ = kStageServerDataUnpack;
      QueueExtraction(localPath, serverData_.serverDataDir);
      setup_.timer->SetProgressTimer();
      break;
    default:
      break;
  }
}

void UpdateSession::OnProgressTick() {
  if (background_ != Background::kNone) {
    // A step that has said it ended is only handing its result over.
    if (backgroundEnded_) backgroundResult_.wait();
    if (backgroundResult_.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
      setup_.observer->RefreshBars();
      return;
    }
    const Background finished = background_;
    OnBackgroundDone();
    // With several downloads the unpacking went on beside the record: it is looked at now too.
    if (finished != Background::kJournal || parallel_ <= 1 || background_ != Background::kNone) return;
  }
  const bool packagePhase = stage_ == kStagePackage || stage_ == kStagePackageUnpack;
  if ((packagePhase && unpackingPackage_) || stage_ == kStageServerDataUnpack) {
    const CExtractionQueue::Snapshot snap = setup_.extraction->Poll();
    if (snap.result != 0) {
      setup_.timer->KillProgressTimer();
      if (packagePhase) StopPackageTransfers();
      Fail(UpdateFailure::kExtraction, snap.result, unpacking_, Utf8ToAnsi("解压文件失败!!"));
      return;
    }
    if (!snap.queueEmpty) {
      // While packages download their bytes are what the player waits for; the entries of
      // the archive only when nothing downloads any more.
      if (stage_ == kStagePackage)
        ShowDownloadBytes();
      else
        setup_.observer->ShowFileProgress(snap.index, snap.total);
    } else {
      setup_.timer->KillProgressTimer();
      setup_.observer->RefreshBars();
      if (packagePhase) {
        unpackingPackage_ = false;
        PackageFinished();
      } else {
        Step("server list write");
        StartBackground(Background::kListWrite, [plan = serverData_, text = remoteDataText_] {
          return WriteServerDataList(plan, text) ? 0 : 1;
        });
      }
      return;
    }
  } else if (stage_ == kStagePackage) {
    ShowDownloadBytes();
  }
  setup_.observer->RefreshBars();
}

bool UpdateSession::NoteDownloadProgress(const std::string& localPath, int done, int total) {
  std::lock_guard<std::mutex> lock(progressLock_);
  progressFed_ = true;
  const auto it = transferBytes_.find(localPath);
  if (it == transferBytes_.end()) return false;  // not a package in transfer
  // A try that goes on from the bytes on disk never moves the bar back.
  if (total != it->second.second) it->second = {done, total};
  it->second.first = std::max<int64_t>(it->second.first, done);
  return true;
}

void UpdateSession::ShowDownloadBytes() {
  int64_t done = 0, total = 0;
  {
    std::lock_guard<std::mutex> lock(progressLock_);
    if (!progressFed_) return;
    for (const auto& [path, bytes] : transferBytes_) {
      done += std::min(bytes.first, bytes.second);
      total += bytes.second;
    }
  }
  // The bar's counters are 32-bit: large sums are shown in KiB, the proportion is the same.
  while (total > INT32_MAX) {
    done /= 1024;
    total /= 1024;
  }
  setup_.observer->ShowFileProgress(static_cast<int32_t>(done), static_cast<int32_t>(total));
}

void UpdateSession::OnBackgroundDone() {
  const Background finished = std::exchange(background_, Background::kNone);
  const int result = backgroundResult_.get();
  if (finished == Background::kJournal) {
    // Without the record the next round only fetches this package again.
    if (result != 0) DebugOutput("the update journal could not be written");
    // A round that ended at the prompt meanwhile (a download failed) goes no further.
    if (packagesFailed_ || (stage_ != kStagePackage && stage_ != kStagePackageUnpack)) return;
    setup_.timer->KillProgressTimer();
    // One at a time, the next package waits for the record; else the next unpacking is
    // already under way beside it.
    if (parallel_ <= 1) packageBusy_ = false;
    DownloadNextPackage();
    return;
  }
  setup_.timer->KillProgressTimer();
  if (finished == Background::kListWrite) {
    // A list that could not be written only makes the next start fetch the archive again.
    setup_.observer->StartTheGame();
    return;
  }
  if (static_cast<CommitResult>(result) == CommitResult::kNotFlushed) {
    Fail(UpdateFailure::kCommit, 0, InstalledManifestPath(setup_.gameDir), Utf8ToAnsi("解压文件失败!!"));
    return;
  }
  CheckServerData();
}

void UpdateSession::DownloadNextPackage() { PumpPackages(); }

void UpdateSession::PumpPackages() {
  if (packagesFailed_) return;
  // The next package in key order is unpacked once it is on disk and the one before is done;
  // one that arrived early waits on disk for its turn.
  if (!packageBusy_ && !packageJobs_.empty() && packageJobs_.begin()->second.onDisk) {
    PackageJob job = std::move(packageJobs_.begin()->second);
    packageJobs_.erase(packageJobs_.begin());
    packageBusy_ = true;
    finishing_ = {job.key, job.version};
    // The package's own name decides, so a game folder whose path happens to hold ".zip"
    // does not make every package an archive.
    if (BaseFileName(job.download.localPath).find(".zip") != std::string::npos) {
      unpackingPackage_ = true;
      QueueExtraction(job.download.localPath, PackageDestination(setup_.gameDir));
    } else {
      PackageFinished();
      return;  // PackageFinished comes back here
    }
  }
  // Downloads start while there is room: with one at a time only once the package before is
  // unpacked, else up to the limit of packages downloading or waiting on disk.
  for (const auto& [key, version] : pendingPackages_) {
    const bool room = parallel_ <= 1 ? packageJobs_.empty() && !packageBusy_
                                     : packageJobs_.size() < static_cast<size_t>(parallel_);
    if (!room) break;
    if (packageJobs_.count(key) == 0) StartPackageDownload(key, version);
  }
  if (packageJobs_.empty() && !packageBusy_ && pendingPackages_.empty() && background_ == Background::kNone) {
    stage_ = kStagePackage;
    if (pendingAtStart_ > 0) {
      Step("commit");
      int32_t chosen = std::exchange(pendingAtStart_, 0);
      StartBackground(Background::kCommit, [dir = setup_.gameDir, flush = setup_.flush, chosen]() mutable {
        return static_cast<int>(CommitManifest(dir, chosen, flush));
      });
      return;
    }
    CheckServerData();
    return;
  }
  ShowPackageStage();
  setup_.timer->SetProgressTimer();
}

void UpdateSession::ShowPackageStage() {
  const bool downloading = std::any_of(packageJobs_.begin(), packageJobs_.end(),
                                       [](const auto& job) { return !job.second.onDisk; });
  stage_ = downloading || !unpackingPackage_ ? kStagePackage : kStagePackageUnpack;
}

void UpdateSession::StartPackageDownload(const std::string& key, const std::string& version) {
  setup_.observer->DisableStart();
  stage_ = kStagePackage;
  if (packageJobs_.empty() && !packageBusy_) ResetFileProgress();
  Step("package " + key);
  const auto announced = announcedPackages_.find(key);
  DownloadExpectations expect =
      announced == announcedPackages_.end() ? DownloadExpectations{} : announced->second;
  // A partial package is continued only for the same published version of the same key.
  expect.identity = "public/zip/" + key + " " + version;
  const std::string localPath = PackageDownloadPath(setup_.gameDir, key);
  abandoned_.erase(localPath);
  {
    std::lock_guard<std::mutex> lock(progressLock_);
    transferBytes_[localPath] = {0, expect.size > 0 ? expect.size : 0};
  }
  QueueDownload(baseUrl_ + "public/zip/" + key, localPath, std::move(expect));
  PackageJob job;
  job.key = key;
  job.version = version;
  job.download = std::exchange(download_, Download{});
  packageJobs_[key] = std::move(job);
}

void UpdateSession::OnPackageDownloadFinish(const std::string& localPath, int errorCode) {
  auto it = std::find_if(packageJobs_.begin(), packageJobs_.end(), [&](const auto& job) {
    return !job.second.onDisk && job.second.download.localPath == localPath;
  });
  PackageJob& job = it->second;
  if (errorCode != 0) {
    if (TryOtherBase(job.download, errorCode)) return;
    const int code = job.download.triedBase.empty() ? errorCode : job.download.firstError;
    setup_.timer->KillProgressTimer();
    packageJobs_.erase(it);
    StopPackageTransfers();
    Fail(UpdateFailure::kDownload, code, localPath, DownloadFailureText(localPath, code));
    return;
  }
  if (!job.download.triedBase.empty()) {
    DebugOutput("update downloads go on from " + job.download.triedBase);
    baseUrl_ = job.download.triedBase;
    job.download.triedBase.clear();
  }
  job.onDisk = true;
  pendingPackages_.erase(job.key);
  {
    std::lock_guard<std::mutex> lock(progressLock_);
    transferBytes_.erase(localPath);
  }
  setup_.observer->ShowOverallProgress(
      std::max<int32_t>(0, overallTotal_ - static_cast<int32_t>(pendingPackages_.size())), overallTotal_);
  PumpPackages();
}

void UpdateSession::StopPackageTransfers() {
  packagesFailed_ = true;
  for (const auto& [key, job] : packageJobs_)
    if (!job.onDisk) abandoned_.insert(job.download.localPath);
  packageJobs_.clear();
  {
    std::lock_guard<std::mutex> lock(progressLock_);
    transferBytes_.clear();
  }
  // Every other download of this listener is a package of this round: ending them all leaves
  // their partial files for the next round to continue.
  setup_.downloader->CancelTasks(setup_.listener);
}

void UpdateSession::CheckServerData() {
  if (!serverId_) {
    Fail(UpdateFailure::kNoServer, 0, {}, Utf8ToAnsi("没有选择服务器"));
    return;
  }
  serverData_ = PlanServerData(setup_.gameDir, *serverId_);
  if (!serverData_.hasData) {
    serverData_.serverDataId.clear();
    setup_.observer->StartTheGame();
    return;
  }
  stage_ = kStageServerDataList;
  ResetFileProgress();
  setup_.timer->SetProgressTimer();
  Step("server list");
  QueueDownload(baseUrl_ + serverData_.listUrlPath, serverData_.listLocalPath);
}

void UpdateSession::DownloadServerPackage() {
  stage_ = kStageServerData;
  ResetFileProgress();
  setup_.timer->SetProgressTimer();
  Step("server archive");
  DownloadExpectations expect = announcedServerArchive_;
  expect.identity = serverData_.archiveUrlPath + " " + remoteDataText_;
  QueueDownload(baseUrl_ + serverData_.archiveUrlPath, serverData_.archiveLocalPath, std::move(expect));
}

PackageList UpdateSession::ResumeFromJournal() {
  journal_.reset();
  const std::optional<JournalIdentity> round = RoundIdentity(setup_.gameDir);
  if (!round) return {};
  PackageList done = TakeFinished(pendingPackages_, ReadJournal(setup_.gameDir), *round);
  // What this round writes: the packages of the journal that still hold, and those that follow.
  journal_ = UpdateJournal{*round, done};
  return done;
}

void UpdateSession::PackageFinished() {
  if (!journal_ || finishing_.first.empty()) {
    packageBusy_ = false;
    PumpPackages();
    return;
  }
  journal_->finished[finishing_.first] = finishing_.second;
  finishing_ = {};
  Step("journal");
  StartBackground(Background::kJournal,
                  [dir = setup_.gameDir, journal = *journal_] { return WriteJournal(dir, journal) ? 0 : 1; });
  if (parallel_ > 1) {
    // The record is written while the next package that is on disk is unpacked.
    packageBusy_ = false;
    PumpPackages();
  }
}

bool UpdateSession::TryOtherBase(Download& download, int errorCode) {
  const bool roadStage = stage_ == kStageManifest || stage_ == kStagePackage ||
                         stage_ == kStagePackageUnpack || stage_ == kStageServerDataList ||
                         stage_ == kStageServerData;
  // A local file that cannot be written fails the same whichever base sends it.
  if (!roadStage || errorCode < 0 || download.urlPath.empty() || !download.triedBase.empty()) return false;
  const std::string other = OtherBase();
  if (other.empty()) return false;
  download.triedBase = other;
  download.firstError = errorCode;
  DebugOutput("download from " + baseUrl_ + " failed (" + std::to_string(errorCode) + "), trying " + other);
  ResetFileProgress();
  Step("other base " + download.urlPath);
  const DownloadRequest request{other + download.urlPath, download.localPath, kTaskCodeDownload};
  PrepareDownload(request);
  lastUrl_ = request.url;  // a signature comes from where its document came from
  // Nowhere else to go from here: a refused connection gets the waits and tries as well.
  DownloadExpectations expect = download.expect;
  expect.connectFailureEnds = false;
  setup_.downloader->AddTask(request.url, request.localPath, request.taskCode, setup_.listener,
                             std::move(expect));
  return true;
}

std::string UpdateSession::OtherBase() const {
  const std::string& other = baseUrl_ == chosenBase_ ? otherBase_ : chosenBase_;
  return other == baseUrl_ ? std::string() : other;
}

void UpdateSession::QueueDownload(const std::string& url, const std::string& localPath,
                                  DownloadExpectations expect) {
  download_ = {};
  if (url.compare(0, baseUrl_.size(), baseUrl_) == 0) download_.urlPath = url.substr(baseUrl_.size());
  // Every download of the road survives a dropped connection: it is tried again and continued
  // from its last byte. A partial file belongs to the path in the tree (either base may
  // continue it, the server's validator permitting) unless the caller named more.
  expect.resumable = true;
  if (expect.identity.empty()) expect.identity = download_.urlPath.empty() ? url : download_.urlPath;
  expect.connectFailureEnds = !OtherBase().empty();
  download_.localPath = localPath;
  download_.expect = expect;
  const DownloadRequest request{url, localPath, kTaskCodeDownload};
  PrepareDownload(request);
  lastUrl_ = url;
  setup_.downloader->AddTask(request.url, request.localPath, request.taskCode, setup_.listener,
                             std::move(expect));
}

void UpdateSession::QueueExtraction(const std::string& archive, const std::string& dest) {
  unpacking_ = archive;
  Step("unpack " + archive);
  setup_.extraction->QueueExtraction(archive, dest);
}

void UpdateSession::ResetFileProgress() { setup_.observer->ShowFileProgress(0, 0); }

void UpdateSession::Fail(UpdateFailure::Kind kind, int code, const std::string& localPath,
                         const std::string& text) {
  UpdateFailure failure;
  failure.kind = kind;
  failure.code = code;
  failure.localPath = localPath;
  failure.text = text;
  setup_.observer->UpdateFailed(failure);
}

void UpdateSession::Step(const std::string& what) { setup_.observer->StepBegins(what); }

}  // namespace zarn
