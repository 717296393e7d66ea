#include "Progress.h"

namespace zarn::publish {

Progress::Progress(std::FILE* out, bool enabled, bool inPlace)
    : out_(out), enabled_(enabled), inPlace_(inPlace) {}

Progress::~Progress() { End(); }

void Progress::Begin(const std::string& what, uint64_t totalBytes, size_t totalFiles) {
  End();
  what_ = what;
  totalBytes_ = totalBytes;
  totalFiles_ = totalFiles;
  bytes_ = 0;
  files_ = 0;
  open_ = true;
  // A log only gets the finished steps and, for long ones, a line now and then.
  last_ = std::chrono::steady_clock::now();
  if (inPlace_) Show(true);
}

void Progress::Update(uint64_t bytes, size_t files) {
  bytes_ = bytes;
  files_ = files;
  Show(false);
}

void Progress::End() {
  if (!open_) return;
  bytes_ = totalBytes_;
  files_ = totalFiles_;
  Show(true);
  if (enabled_ && inPlace_) std::fputc('\n', out_);
  open_ = false;
}

void Progress::Show(bool force) {
  if (!enabled_) return;
  const auto now = std::chrono::steady_clock::now();
  // A terminal line is redrawn ten times a second; a log gets a line every five seconds.
  const auto period = inPlace_ ? std::chrono::milliseconds(100) : std::chrono::milliseconds(5000);
  if (!force && now - last_ < period) return;
  last_ = now;
  const int percent = totalBytes_ ? static_cast<int>(bytes_ * 100 / totalBytes_) : 100;
  std::fprintf(out_, "%s%s: %3d%%  %zu/%zu files  %.1f/%.1f MiB%s", inPlace_ ? "\r\033[K" : "", what_.c_str(),
               percent, files_, totalFiles_, bytes_ / 1048576.0, totalBytes_ / 1048576.0,
               inPlace_ ? "" : "\n");
  std::fflush(out_);
}

}  // namespace zarn::publish
