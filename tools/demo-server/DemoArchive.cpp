#include "DemoArchive.h"

#include <zip.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace zarn::demo {
namespace {

namespace fs = std::filesystem;

// 1980-01-01 00:00:00, the first moment a zip time stamp can hold.
constexpr uLong kFixedDosDate = (1u << 21) | (1u << 16);

void Collect(const fs::path& folder, const std::string& prefix, std::vector<std::string>& names) {
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::directory_entry& entry = *it;
    if (entry.is_symlink(ec)) continue;
    const std::string name = prefix + entry.path().filename().string();
    if (entry.is_directory(ec)) {
      names.push_back(name + "/");
      Collect(entry.path(), name + "/", names);
    } else if (entry.is_regular_file(ec)) {
      names.push_back(name);
    }
  }
}

bool AddEntry(zipFile zip, const fs::path& folder, const std::string& name, std::string* error) {
  const bool isFolder = name.back() == '/';
  std::error_code ec;
  const uintmax_t size = isFolder ? 0 : fs::file_size(folder / name, ec);
  if (ec) {
    *error = "cannot read " + (folder / name).string();
    return false;
  }
  zip_fileinfo info{};
  info.dosDate = kFixedDosDate;
  const int zip64 = size >= 0xffffffffu ? 1 : 0;
  if (zipOpenNewFileInZip64(zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                            isFolder ? 0 : Z_DEFLATED, isFolder ? 0 : Z_BEST_COMPRESSION, zip64) != ZIP_OK) {
    *error = "cannot add " + name;
    return false;
  }
  bool ok = true;
  if (!isFolder) {
    std::ifstream in(folder / name, std::ios::binary);
    char buffer[64 * 1024];
    while (ok && in) {
      in.read(buffer, sizeof buffer);
      const std::streamsize got = in.gcount();
      if (got > 0 && zipWriteInFileInZip(zip, buffer, static_cast<unsigned>(got)) != ZIP_OK) ok = false;
    }
    if (!in.eof()) ok = false;
  }
  if (zipCloseFileInZip(zip) != ZIP_OK) ok = false;
  if (!ok) *error = "cannot pack " + name;
  return ok;
}

}  // namespace

std::vector<std::string> ArchiveEntryNames(const std::string& folder) {
  std::vector<std::string> names;
  Collect(folder, "", names);
  std::sort(names.begin(), names.end());
  return names;
}

bool WriteFolderArchive(const std::string& folder, const std::string& zipPath, std::string* error) {
  std::error_code ec;
  fs::remove(zipPath, ec);
  zipFile zip = zipOpen64(zipPath.c_str(), APPEND_STATUS_CREATE);
  if (!zip) {
    *error = "cannot create " + zipPath;
    return false;
  }
  bool ok = true;
  for (const std::string& name : ArchiveEntryNames(folder)) {
    if (!AddEntry(zip, folder, name, error)) {
      ok = false;
      break;
    }
  }
  if (zipClose(zip, nullptr) != ZIP_OK && ok) {
    *error = "cannot finish " + zipPath;
    ok = false;
  }
  if (!ok) fs::remove(zipPath, ec);
  return ok;
}

}  // namespace zarn::demo
