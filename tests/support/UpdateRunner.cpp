#include "support/UpdateRunner.h"

#include <algorithm>
#include <utility>

namespace zarn::test {

namespace {

DownloadSettings WorkerSettings(const RoadOptions& options) {
  DownloadSettings settings = options.download;
  settings.maxTransfers = options.downloads;
  return settings;
}

}  // namespace

UpdateRunner::UpdateRunner(RoadOptions options)
    : options_(std::move(options)), worker_(WorkerSettings(options_)) {}

UpdateRunner::~UpdateRunner() {
  // No report reaches the session once it is going.
  worker_.RemoveListener(this);
}

RoadOutcome UpdateRunner::Run(const std::string& gameDir, const std::string& base) {
  if (!session_) {
    UpdateSessionSetup setup;
    setup.downloader = &worker_;
    setup.listener = this;
    setup.extraction = &extraction_;
    setup.timer = this;
    setup.observer = this;
    setup.gameDir = gameDir;
    setup.flush = options_.flush;
    setup.downloads = options_.downloads;
    setup.wake = [this] {
      std::lock_guard<std::mutex> lock(mutex_);
      woken_ = true;
      cv_.notify_one();
    };
    session_ = std::make_unique<UpdateSession>(std::move(setup));
    sessionForProgress_ = session_.get();
  }
  over_ = false;
  outcome_ = {};
  session_->StartUpdate(base, options_.otherBase, options_.serverId);

  using Clock = std::chrono::steady_clock;
  const Clock::time_point limit = Clock::now() + options_.limit;
  while (!over_) {
    std::unique_lock<std::mutex> lock(mutex_);
    const Clock::time_point until = timerActive ? std::min(nextTick_, limit) : limit;
    cv_.wait_until(lock, until, [this] { return !finishes_.empty() || woken_; });
    if (std::exchange(woken_, false) && timerActive) {
      lock.unlock();
      session_->OnProgressTick();
      continue;
    }
    if (!finishes_.empty()) {
      const auto [localPath, errorCode] = finishes_.front();
      finishes_.pop_front();
      lock.unlock();
      session_->OnDownloadFinish(localPath, errorCode);
      continue;
    }
    lock.unlock();
    const Clock::time_point now = Clock::now();
    if (now >= limit) {
      outcome_.kind = RoadOutcome::kHung;
      outcome_.code = session_->stage();
      break;
    }
    if (timerActive && now >= nextTick_) {
      nextTick_ = now + options_.tick;
      stagesAtTicks.push_back(session_->stage());
      session_->OnProgressTick();
    }
  }
  return outcome_;
}

void UpdateRunner::OnDownloadFinish(int, std::string, std::string localPath, int errorCode) {
  std::lock_guard<std::mutex> lock(mutex_);
  finishes_.emplace_back(std::move(localPath), errorCode);
  cv_.notify_one();
}

void UpdateRunner::SetProgressTimer() {
  timerActive = true;
  nextTick_ = std::chrono::steady_clock::now() + options_.tick;
}

void UpdateRunner::KillProgressTimer() { timerActive = false; }

void UpdateRunner::ShowOverallProgress(int32_t done, int32_t total) {
  overall.emplace_back(done, total);
  outcome_.packagesChosen = total;
}

void UpdateRunner::UpdateFailed(const UpdateFailure& failure) {
  ++prompts;
  switch (failure.kind) {
    case UpdateFailure::kDownload:
      outcome_.kind = RoadOutcome::kDownloadFailed;
      break;
    case UpdateFailure::kExtraction:
      outcome_.kind = RoadOutcome::kExtractFailed;
      break;
    case UpdateFailure::kListUnreadable:
      outcome_.kind = RoadOutcome::kListUnreadable;
      break;
    case UpdateFailure::kNoServer:
      outcome_.kind = RoadOutcome::kNoServer;
      break;
    case UpdateFailure::kCommit:
      outcome_.kind = RoadOutcome::kCommitFailed;
      break;
  }
  outcome_.code = failure.code;
  outcome_.localPath = failure.localPath;
  outcome_.text = failure.text;
  over_ = true;
}

void UpdateRunner::StartTheGame() {
  outcome_.kind = RoadOutcome::kComplete;
  over_ = true;
}

void UpdateRunner::StepBegins(const std::string& step) {
  steps.push_back(step);
  if (options_.onStep) options_.onStep(step);
}

RoadOutcome RunUpdateSession(const std::string& gameDir, const std::string& base,
                             const RoadOptions& options) {
  return UpdateRunner(options).Run(gameDir, base);
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
    case RoadOutcome::kNoServer:
      return "no-server";
    case RoadOutcome::kCommitFailed:
      return "commit-failed " + outcome.localPath;
    case RoadOutcome::kHung:
      return "hung in stage " + std::to_string(outcome.code);
  }
  return "?";
}

}  // namespace zarn::test
