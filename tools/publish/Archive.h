// The archives and version texts of a content tree: a content hash per package, deterministic
// zip archives (names in byte order, one fixed timestamp, no attributes), and what an existing
// archive holds.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Layout.h"

namespace zarn::publish {

// Called with the bytes read so far and the files finished so far.
using ProgressFunction = std::function<void(uint64_t bytes, size_t files)>;

// The version text of a set of files: the hex SHA-256 of their names, sizes and bytes. Equal
// files give the same text; any change of a name or a byte gives another. False when a file
// cannot be read or has changed size since the folder was walked.
bool ContentVersion(const std::vector<SourceFile>& files, std::string* version, std::string* error,
                    const ProgressFunction& progress = {});

// Writes the files into a new zip archive at path. The content is hashed again while it is
// packed; false (and no archive) when it no longer gives expectedVersion, i.e. a file changed
// during the run, or when anything cannot be read or written.
bool WriteArchive(const std::string& path, const std::vector<SourceFile>& files,
                  const std::string& expectedVersion, std::string* error,
                  const ProgressFunction& progress = {});

struct ArchiveEntry {
  std::string name;
  uint64_t size = 0;
};

// The entries of a zip archive in stored order, from its central directory. False when it does
// not open as a zip archive.
bool ListArchive(const std::string& path, std::vector<ArchiveEntry>* entries);

// Reads every entry's data through (the CRC is checked at the end of each). False with the
// first failing entry in *error.
bool VerifyArchiveData(const std::string& path, std::string* error);

// Writes bytes to path and flushes them to disk. False on any failure.
bool WriteFileDurably(const std::string& path, const std::string& bytes);
// Flushes a written file or a folder to disk.
bool SyncPath(const std::string& path);

}  // namespace zarn::publish
