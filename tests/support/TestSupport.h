// Shared helpers of the tests: temporary folders, small file utilities, and (Guards.h) overrides
// of the code set and the environment that are undone at scope end.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <thread>

#include "support/Guards.h"

namespace zarn::test {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + relative
  std::string file(const std::string& relative) const;

 private:
  std::string path_;
};

void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);

// Reproducible bytes that do not compress and differ per seed.
std::string NoiseBytes(size_t size, unsigned seed);

// Waits until pred holds (polling every few milliseconds), up to limit; false when it never did.
template <class Pred>
bool WaitFor(Pred pred, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace zarn::test
