// Helpers shared by the fuzz entry points: a private scratch folder, input files, invariant
// checks and a lexical containment test that does not share code with the launcher's own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zarn::fuzz {

// A broken invariant. The default handler prints the message and aborts, so that libFuzzer keeps
// the input; the regression tests install one that records a test failure instead.
using CheckFailureHandler = void (*)(const std::string& message);
void SetCheckFailureHandler(CheckFailureHandler handler);
void ReportCheckFailure(const std::string& message);

#define ZARN_FUZZ_CHECK(condition, detail)                                                    \
  do {                                                                                        \
    if (!(condition))                                                                         \
      ::zarn::fuzz::ReportCheckFailure(std::string(__FILE__ ":") + std::to_string(__LINE__) + \
                                       ": " #condition " — " + (detail));                     \
  } while (0)

// The process's own scratch folder, created on first use: under $ZARN_FUZZ_SCRATCH when set,
// else /dev/shm (memory, so the many small writes stay cheap), else the temporary folder.
// Removed at normal exit.
const std::string& ScratchDir();
// ScratchDir() + "/" + relative.
std::string ScratchPath(const std::string& relative);
// A fresh, empty folder at ScratchPath(relative) (everything in it removed first).
std::string FreshFolder(const std::string& relative);

void WriteBytes(const std::string& path, std::string_view bytes);
std::string ReadBytes(const std::string& path);
bool Exists(const std::string& path);
// Every regular file and folder below root, as paths relative to root.
std::vector<std::string> EntriesBelow(const std::string& root);

inline std::string_view AsText(const uint8_t* data, size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// True when appending name (with "/" and "\" both separating) to a folder would, read
// lexically, leave that folder: a leading separator, or more ".." components than folders.
bool NameLeavesFolder(std::string_view name);

void UseCodeSet(const char* name);  // empty: the locale's

// Runs f once with the ANSI code set UTF-8 and once with GBK, then returns to the locale's.
template <typename F>
void UnderEachCodeSet(F&& f) {
  for (const char* codeSet : {"UTF-8", "GBK"}) {
    UseCodeSet(codeSet);
    f();
  }
  UseCodeSet("");
}

}  // namespace zarn::fuzz
