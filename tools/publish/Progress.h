// Progress of a long run on the terminal: one line rewritten in place on a terminal, or a
// plain line now and then when asked for on a pipe. Always on standard error.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace zarn::publish {

class Progress {
 public:
  // enabled: show anything at all; inPlace: rewrite one line (a terminal).
  Progress(std::FILE* out, bool enabled, bool inPlace);
  ~Progress();
  // A new step: what it does and how much it has to go through.
  void Begin(const std::string& what, uint64_t totalBytes, size_t totalFiles);
  void Update(uint64_t bytes, size_t files);
  void End();

 private:
  void Show(bool force);

  std::FILE* out_;
  bool enabled_, inPlace_;
  std::string what_;
  uint64_t totalBytes_ = 0, bytes_ = 0;
  size_t totalFiles_ = 0, files_ = 0;
  bool open_ = false;
  std::chrono::steady_clock::time_point last_{};
};

}  // namespace zarn::publish
