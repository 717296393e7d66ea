// Unpacking of update archives (zip) into the game folder.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace zarn {

enum : int {
  kExtractOk = 0,
  kExtractNotOpened = -1,     // the archive did not open (missing, not a zip)
  kExtractNotCreatable = -2,  // a target file could not be created, or an entry names a place
                              // outside the destination
  kExtractEntryFailed = -3,   // an entry failed to unpack (corrupt data, CRC, short write)
};

struct ExtractOptions {
  // Entry counters of the archive being unpacked (number of entries, index of the entry under
  // way), for a progress display on another thread. Either may be null.
  std::atomic<int32_t>* total = nullptr;
  std::atomic<int32_t>* index = nullptr;
  // Rest after each written file, so that unpacking a large package leaves the machine
  // responsive.
  std::chrono::microseconds restAfterFile{1000};
};

// True when a name taken from outside (a zip entry name, a package key) stays inside the
// folder it is appended to: not absolute (no leading "/" or "\") and no ".." component, with
// either separator.
bool IsContainedRelativeName(std::string_view name);

// Unpacks every entry of the zip archive into destFolder (a "/" is added when it lacks one).
// Both "/" and "\" separate folders in entry names; missing folders are created; folder
// entries create nothing; an existing file is overwritten (a zero-size entry truncates it); a
// symbolic link where a file goes is replaced by the file, while linked folders on the way to it
// are followed.
// Returns one of the results above; files written before a failure stay. An archive with an
// entry that would land outside destFolder is refused as a whole (−2) before anything is
// written. The archive itself is left in place. Data is streamed through one 64 KiB buffer.
int ExtractArchive(const std::string& archivePath, const std::string& destFolder,
                   const ExtractOptions& options);
int ExtractArchive(const std::string& archivePath, const std::string& destFolder);

}  // namespace zarn
