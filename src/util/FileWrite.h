// Writing files without losing bytes or leaving half-written ones: every byte of a buffer
// through interrupted and partial writes, and whole files replaced in one step.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace zarn {

// Writes every byte to fd, going on after interrupted and partial writes. False (errno set)
// when a write failed.
bool WriteAll(int fd, std::string_view bytes);

// The same, at offset (negative: at the file's position), for writers that count what reached
// the file: the number of bytes written; *error is 0 when all were, else the errno of the
// write that failed (ENOSPC when the system wrote nothing and gave no reason).
size_t WriteBytes(int fd, std::string_view bytes, int64_t offset, int* error);

// Makes the entries of a folder (a new or renamed file in it) durable. 0, or the errno.
int FsyncFolder(const std::string& folder);

// Options of ReplaceFile.
struct ReplaceOptions {
  mode_t mode = 0666;      // of the new file, under the umask unless exactMode
  bool exactMode = false;  // set mode with fchmod, whatever the umask
  bool durable = true;     // fsync the file before the rename and its folder after it
};

// Puts bytes in path's place in one step: they are written to a fresh file beside it (never
// through a link) and renamed over it, so path holds the old or the new content, never a part,
// and a link of that name is replaced rather than followed. False when any step failed; path is
// then as it was and no temporary file is left.
bool ReplaceFile(const std::string& path, std::string_view bytes, const ReplaceOptions& options = {});

}  // namespace zarn
