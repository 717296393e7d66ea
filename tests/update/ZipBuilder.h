// Writes real zip archives for the tests with minizip's writer.
#pragma once

#include <zip.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace zarn::test {

struct ZipEntry {
  std::string name;
  std::string data;
  bool stored = false;  // true: no compression (the bytes appear as they are in the archive)
};

inline void WriteZip(const std::string& path, const std::vector<ZipEntry>& entries) {
  zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
  if (!zip) throw std::runtime_error("cannot create " + path);
  for (const ZipEntry& e : entries) {
    zip_fileinfo info{};
    if (zipOpenNewFileInZip64(zip, e.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                              e.stored ? 0 : Z_DEFLATED, e.stored ? 0 : Z_DEFAULT_COMPRESSION, 0) != ZIP_OK ||
        (!e.data.empty() &&
         zipWriteInFileInZip(zip, e.data.data(), static_cast<unsigned>(e.data.size())) != ZIP_OK) ||
        zipCloseFileInZip(zip) != ZIP_OK) {
      zipClose(zip, nullptr);
      throw std::runtime_error("cannot write entry " + e.name);
    }
  }
  if (zipClose(zip, nullptr) != ZIP_OK) throw std::runtime_error("cannot close " + path);
}

}  // namespace zarn::test
