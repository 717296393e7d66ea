// Per-file lists of a package: what each installed file must hold. One line per file:
// "<sha256 hex> <size> <path as stored in the archive>\n". The list's own SHA-256 is announced
// in the signed manifest, so a list is trusted exactly as far as its hash matches.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zarn {

struct ListedFile {
  std::string sha256;  // 64 lower-case hex digits
  uint64_t size = 0;
  std::string path;  // as stored in the archive ("\" may separate folders)
};

// Parses a list. False with the first faulty line in *error: not three fields, a bad hash or
// size, or a path that is empty, absolute or climbs out of the folder it is appended to.
bool ParseFileList(std::string_view text, std::vector<ListedFile>* files, std::string* error);

// The list's text for the files, in the given order.
std::string FileListText(const std::vector<ListedFile>& files);

// The list of a zip archive's file entries (folder entries are left out), from their unpacked
// bytes, streamed. False with the reason in *error when the archive cannot be read through.
bool FileListOfArchive(const std::string& archivePath, std::vector<ListedFile>* files, std::string* error);

}  // namespace zarn
