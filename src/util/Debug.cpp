#include "util/Debug.h"

#include <cstdio>
#include <mutex>
#include <string>

namespace zarn {

void DebugOutput(std::string_view text) {
  static std::mutex mutex;
  std::string line(text);
  if (line.empty() || line.back() != '\n') line += '\n';
  std::lock_guard lock(mutex);
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

}  // namespace zarn
