#include "update/FileList.h"

#include <unzip.h>

#include <charconv>
#include <vector>

#include "update/Extract.h"
#include "util/Sha256.h"

namespace zarn {

bool ParseFileList(std::string_view text, std::vector<ListedFile>* files, std::string* error) {
  files->clear();
  size_t lineNumber = 0;
  while (!text.empty()) {
    ++lineNumber;
    const size_t end = text.find('\n');
    if (end == std::string_view::npos) {
      *error = "line " + std::to_string(lineNumber) + ": no line end (the list is cut)";
      return false;
    }
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end + 1);
    const auto fail = [&](const std::string& why) {
      *error = "line " + std::to_string(lineNumber) + ": " + why;
      return false;
    };
    const size_t first = line.find(' ');
    const size_t second = first == std::string_view::npos ? first : line.find(' ', first + 1);
    if (second == std::string_view::npos) return fail("not \"<sha256> <size> <path>\"");
    ListedFile file;
    const std::string_view hex = line.substr(0, first), size = line.substr(first + 1, second - first - 1);
    if (!IsSha256Hex(hex)) return fail("not a SHA-256");
    for (char c : hex) file.sha256 += static_cast<char>(c >= 'A' && c <= 'F' ? c - 'A' + 'a' : c);
    const auto parsed = std::from_chars(size.data(), size.data() + size.size(), file.size);
    if (size.empty() || parsed.ec != std::errc() || parsed.ptr != size.data() + size.size())
      return fail("not a byte count");
    file.path = std::string(line.substr(second + 1));
    if (file.path.empty() || file.path.back() == '/' || file.path.back() == '\\' ||
        file.path.find('\0') != std::string::npos || !IsContainedRelativeName(file.path))
      return fail("path \"" + file.path + "\" is not a file inside the game folder");
    files->push_back(std::move(file));
  }
  return true;
}

std::string FileListText(const std::vector<ListedFile>& files) {
  std::string text;
  for (const ListedFile& f : files) text += f.sha256 + " " + std::to_string(f.size) + " " + f.path + "\n";
  return text;
}

bool FileListOfArchive(const std::string& archivePath, std::vector<ListedFile>* files, std::string* error) {
  files->clear();
  unzFile zip = unzOpen64(archivePath.c_str());
  if (!zip) {
    *error = archivePath + ": not a zip archive";
    return false;
  }
  std::vector<char> buffer(1 << 16);
  bool ok = true;
  int rc = unzGoToFirstFile(zip);
  for (; ok && rc == UNZ_OK; rc = unzGoToNextFile(zip)) {
    unz_file_info64 info;
    std::vector<char> name(1);
    if (unzGetCurrentFileInfo64(zip, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) {
      ok = false;
      break;
    }
    name.resize(info.size_filename + 1);
    unzGetCurrentFileInfo64(zip, &info, name.data(), static_cast<uLong>(name.size()), nullptr, 0, nullptr, 0);
    ListedFile file;
    file.path.assign(name.data(), info.size_filename);
    if (!file.path.empty() && (file.path.back() == '/' || file.path.back() == '\\')) continue;
    if (unzOpenCurrentFile(zip) != UNZ_OK) {
      ok = false;
      break;
    }
    Sha256 hash;
    int n;
    while ((n = unzReadCurrentFile(zip, buffer.data(), static_cast<unsigned>(buffer.size()))) > 0) {
      hash.Update(buffer.data(), static_cast<size_t>(n));
      file.size += static_cast<uint64_t>(n);
    }
    // Closing checks the CRC of what was read.
    if (unzCloseCurrentFile(zip) != UNZ_OK || n < 0) {
      *error = archivePath + ": entry \"" + file.path + "\" cannot be read";
      unzClose(zip);
      return false;
    }
    file.sha256 = hash.FinalHex();
    files->push_back(std::move(file));
  }
  unzClose(zip);
  if (!ok || rc != UNZ_END_OF_LIST_OF_FILE) {
    *error = archivePath + ": its directory cannot be read";
    return false;
  }
  return true;
}

}  // namespace zarn
