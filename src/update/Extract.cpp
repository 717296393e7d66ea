#include "update/Extract.h"

#include <fcntl.h>
#include <unistd.h>
#include <unzip.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "util/Debug.h"
#include "util/FileWrite.h"
#include "util/Paths.h"

namespace zarn {
namespace {

// Unpacked data goes through one piece of this size: inflate writes it, the checksum reads it
// and write() copies it into the page cache. A piece that stays in the core's cache makes those
// three passes cheap; a 1 MiB piece falls out of it and the copy into the page cache then ran at
// memory speed (about 40 % of the unpacking time of a large package).
constexpr size_t kBufferSize = 65536;

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// The current entry's name as stored (up to an embedded NUL, as a C string reads it) and its
// sizes. False when the archive's directory cannot be read.
bool CurrentEntry(unzFile zip, std::vector<char>& nameBuffer, std::string& name, unz_file_info64& info) {
  if (unzGetCurrentFileInfo64(zip, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) return false;
  nameBuffer.resize(static_cast<size_t>(info.size_filename) + 1);
  if (unzGetCurrentFileInfo64(zip, &info, nameBuffer.data(), static_cast<uLong>(nameBuffer.size()), nullptr,
                              0, nullptr, 0) != UNZ_OK)
    return false;
  name.assign(nameBuffer.data(), ::strnlen(nameBuffer.data(), info.size_filename));
  return true;
}

// True when every entry name stays inside the destination. Directory damage is left to the
// unpacking loop, which reports it as a failed entry.
bool AllEntriesContained(unzFile zip, std::vector<char>& nameBuffer) {
  std::string name;
  unz_file_info64 info;
  for (int rc = unzGoToFirstFile(zip); rc == UNZ_OK; rc = unzGoToNextFile(zip)) {
    if (!CurrentEntry(zip, nameBuffer, name, info)) return true;
    if (!IsContainedRelativeName(name)) {
      DebugOutput("archive entry outside the destination refused: " + name);
      return false;
    }
  }
  return true;
}

// Inflates the current entry into fd. True when exactly the announced number of bytes came
// out and the checksum matched.
bool UnpackCurrentEntry(unzFile zip, const unz_file_info64& info, int fd, char* buffer) {
  if (unzOpenCurrentFile(zip) != UNZ_OK) return false;
  uint64_t written = 0;
  bool ok = true;
  for (;;) {
    const int n = unzReadCurrentFile(zip, buffer, static_cast<unsigned>(kBufferSize));
    if (n == 0) break;
    if (n < 0 || !WriteAll(fd, std::string_view(buffer, static_cast<size_t>(n)))) {
      ok = false;
      break;
    }
    written += static_cast<uint64_t>(n);
  }
  // Closing checks the CRC once the whole entry was read.
  const int closed = unzCloseCurrentFile(zip);
  return ok && closed == UNZ_OK && written == info.uncompressed_size;
}

// Opens an entry's file for writing. A symbolic link standing at the file's own place is
// replaced by the file, never written through (it may point anywhere on the disk); links among
// the folders above it are followed, so a folder the player moved to another disk and linked
// back keeps receiving its files.
int OpenEntryFile(const std::string& target) {
  constexpr int kFlags = O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC;
  int fd = ::open(target.c_str(), kFlags, 0666);
  if (fd < 0 && errno == ELOOP && ::unlink(target.c_str()) == 0) fd = ::open(target.c_str(), kFlags, 0666);
  return fd;
}

}  // namespace

bool IsContainedRelativeName(std::string_view name) {
  if (!name.empty() && IsSeparator(name.front())) return false;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = start;
    while (end < name.size() && !IsSeparator(name[end])) ++end;
    if (name.substr(start, end - start) == "..") return false;
    start = end + 1;
  }
  return true;
}

int ExtractArchive(const std::string& archivePath, const std::string& destFolder) {
  return ExtractArchive(archivePath, destFolder, ExtractOptions{});
}

int ExtractArchive(const std::string& archivePath, const std::string& destFolder,
                   const ExtractOptions& options) {
  unzFile zip = unzOpen64(archivePath.c_str());
  if (!zip) return kExtractNotOpened;

  unz_global_info64 global;
  if (unzGetGlobalInfo64(zip, &global) != UNZ_OK) {
    unzClose(zip);
    return kExtractNotOpened;
  }
  const int32_t count =
      global.number_entry > INT32_MAX ? INT32_MAX : static_cast<int32_t>(global.number_entry);
  if (options.total) *options.total = count;
  if (options.index) *options.index = 0;

  std::vector<char> nameBuffer;
  if (!AllEntriesContained(zip, nameBuffer)) {
    unzClose(zip);
    return kExtractNotCreatable;
  }

  const std::string base = destFolder.empty() || destFolder.back() == '/' ? destFolder : destFolder + "/";
  std::unique_ptr<char[]> buffer(new char[kBufferSize]);
  std::string name, target, lastFolder;
  unz_file_info64 info;
  int result = kExtractOk;

  int rc = unzGoToFirstFile(zip);
  for (int32_t i = 0; i < count; ++i) {
    if (options.index) *options.index = i;
    if (rc != UNZ_OK || !CurrentEntry(zip, nameBuffer, name, info)) {
      result = kExtractEntryFailed;
      break;
    }
    target = base + name;
    for (char& c : target)
      if (c == '\\') c = '/';
    if (!target.empty() && target.back() != '/') {
      // Consecutive entries usually share a folder; create it once.
      const std::string folder = DirName(target);
      if (folder != lastFolder) {
        MakeSureDirectoryPathExists(target);
        lastFolder = folder;
      }
      const int fd = OpenEntryFile(target);
      if (fd < 0) {
        DebugOutput("cannot create " + target + ": " + std::strerror(errno));
        lastFolder.clear();
        result = kExtractNotCreatable;
        break;
      }
      bool ok = true;
      if (info.compressed_size != 0 && info.uncompressed_size != 0)
        ok = UnpackCurrentEntry(zip, info, fd, buffer.get());
      if (::close(fd) != 0) ok = false;
      if (!ok) {
        DebugOutput("cannot unpack " + name + " from " + archivePath);
        result = kExtractEntryFailed;
        break;
      }
      if (options.restAfterFile.count() > 0) std::this_thread::sleep_for(options.restAfterFile);
    }
    rc = unzGoToNextFile(zip);
  }

  unzClose(zip);
  return result;
}

}  // namespace zarn
