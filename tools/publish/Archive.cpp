#include "Archive.h"

#include <fcntl.h>
#include <unistd.h>
#include <unzip.h>
#include <zip.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "util/FileWrite.h"
#include "util/Sha256.h"

namespace zarn::publish {
namespace {

constexpr size_t kBufferSize = 1 << 20;
// Bumped when the way a version text is formed changes, so old texts never match new ones.
constexpr char kHashPrefix[] = "zarn-publish content 1\n";

void HashFileHead(Sha256& hash, const SourceFile& file) {
  hash.Update(file.name);
  hash.Update("\0", 1);
  hash.Update(std::to_string(file.size) + "\n");
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Streams one file through consume(data, size); false when it cannot be read or its length is
// not the one the folder walk saw.
template <typename Consume>
bool StreamFile(const SourceFile& file, std::vector<char>& buffer, std::string* error, Consume consume,
                uint64_t* bytesSoFar, const ProgressFunction& progress, size_t filesDone) {
  FilePtr in(std::fopen(file.path.c_str(), "rb"));
  if (!in) {
    *error = file.name + ": cannot be read: " + std::strerror(errno);
    return false;
  }
  uint64_t total = 0;
  for (;;) {
    const size_t n = std::fread(buffer.data(), 1, buffer.size(), in.get());
    if (n > 0) {
      total += n;
      if (total > file.size) break;
      if (!consume(buffer.data(), n)) return false;
      *bytesSoFar += n;
      if (progress) progress(*bytesSoFar, filesDone);
    }
    if (n < buffer.size()) break;
  }
  if (std::ferror(in.get())) {
    *error = file.name + ": read failed";
    return false;
  }
  if (total != file.size) {
    *error = file.name + ": changed while publishing (size " + std::to_string(file.size) + " became " +
             (total > file.size ? "larger" : std::to_string(total)) + ")";
    return false;
  }
  return true;
}

}  // namespace

bool ContentVersion(const std::vector<SourceFile>& files, std::string* version, std::string* error,
                    const ProgressFunction& progress) {
  Sha256 hash;
  hash.Update(kHashPrefix);
  std::vector<char> buffer(kBufferSize);
  uint64_t bytes = 0;
  for (size_t i = 0; i < files.size(); ++i) {
    HashFileHead(hash, files[i]);
    auto consume = [&](const char* data, size_t n) {
      hash.Update(data, n);
      return true;
    };
    if (!StreamFile(files[i], buffer, error, consume, &bytes, progress, i)) return false;
    if (progress) progress(bytes, i + 1);
  }
  *version = hash.FinalHex();
  return true;
}

bool WriteArchive(const std::string& path, const std::vector<SourceFile>& files,
                  const std::string& expectedVersion, std::string* error, const ProgressFunction& progress) {
  zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
  if (!zip) {
    *error = path + ": cannot be created";
    return false;
  }
  auto fail = [&](const std::string& why) {
    zipClose(zip, nullptr);
    std::remove(path.c_str());
    *error = why;
    return false;
  };
  Sha256 hash;
  hash.Update(kHashPrefix);
  std::vector<char> buffer(kBufferSize);
  uint64_t bytes = 0;
  for (size_t i = 0; i < files.size(); ++i) {
    const SourceFile& file = files[i];
    // One timestamp for every entry (1980-01-01 00:00, the first the format has) and no
    // attributes: the same files always give the same archive bytes.
    zip_fileinfo info{};
    info.tmz_date.tm_mday = 1;
    info.tmz_date.tm_mon = 0;
    info.tmz_date.tm_year = 1980;
    const int zip64 = file.size >= 0xffffffffULL ? 1 : 0;
    if (zipOpenNewFileInZip64(zip, file.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                              Z_DEFAULT_COMPRESSION, zip64) != ZIP_OK)
      return fail(path + ": cannot add entry " + file.name);
    HashFileHead(hash, file);
    auto consume = [&](const char* data, size_t n) {
      hash.Update(data, n);
      return zipWriteInFileInZip(zip, data, static_cast<unsigned>(n)) == ZIP_OK;
    };
    std::string why;
    if (!StreamFile(file, buffer, &why, consume, &bytes, progress, i)) {
      zipCloseFileInZip(zip);
      return fail(why.empty() ? path + ": cannot write entry " + file.name : why);
    }
    if (zipCloseFileInZip(zip) != ZIP_OK) return fail(path + ": cannot write entry " + file.name);
    if (progress) progress(bytes, i + 1);
  }
  if (zipClose(zip, nullptr) != ZIP_OK) {
    std::remove(path.c_str());
    *error = path + ": cannot be completed";
    return false;
  }
  if (hash.FinalHex() != expectedVersion) {
    std::remove(path.c_str());
    *error = "the files changed while they were packed into " + path + "; publish again when they are still";
    return false;
  }
  if (!SyncPath(path)) {
    std::remove(path.c_str());
    *error = path + ": cannot be flushed to disk";
    return false;
  }
  return true;
}

bool ListArchive(const std::string& path, std::vector<ArchiveEntry>* entries) {
  unzFile zip = unzOpen64(path.c_str());
  if (!zip) return false;
  entries->clear();
  bool ok = true;
  std::vector<char> name;
  int rc = unzGoToFirstFile(zip);
  for (; rc == UNZ_OK; rc = unzGoToNextFile(zip)) {
    unz_file_info64 info;
    if (unzGetCurrentFileInfo64(zip, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) {
      ok = false;
      break;
    }
    name.assign(static_cast<size_t>(info.size_filename) + 1, '\0');
    if (unzGetCurrentFileInfo64(zip, &info, name.data(), static_cast<uLong>(name.size()), nullptr, 0, nullptr,
                                0) != UNZ_OK) {
      ok = false;
      break;
    }
    entries->push_back({std::string(name.data(), ::strnlen(name.data(), info.size_filename)),
                        static_cast<uint64_t>(info.uncompressed_size)});
  }
  if (rc != UNZ_OK && rc != UNZ_END_OF_LIST_OF_FILE) ok = false;
  unzClose(zip);
  return ok;
}

bool VerifyArchiveData(const std::string& path, std::string* error) {
  unzFile zip = unzOpen64(path.c_str());
  if (!zip) {
    *error = "not a zip archive";
    return false;
  }
  std::vector<char> buffer(kBufferSize);
  std::vector<char> name(65536);
  bool ok = true;
  for (int rc = unzGoToFirstFile(zip); ok && rc == UNZ_OK; rc = unzGoToNextFile(zip)) {
    unz_file_info64 info;
    if (unzGetCurrentFileInfo64(zip, &info, name.data(), static_cast<uLong>(name.size() - 1), nullptr, 0,
                                nullptr, 0) != UNZ_OK) {
      *error = "damaged central directory";
      ok = false;
      break;
    }
    const std::string entry(name.data(), ::strnlen(name.data(), name.size() - 1));
    if (unzOpenCurrentFile(zip) != UNZ_OK) {
      *error = "entry " + entry + " does not open";
      ok = false;
      break;
    }
    uint64_t total = 0;
    int n;
    while ((n = unzReadCurrentFile(zip, buffer.data(), static_cast<unsigned>(buffer.size()))) > 0)
      total += static_cast<uint64_t>(n);
    const int closed = unzCloseCurrentFile(zip);
    if (n < 0 || closed != UNZ_OK || total != info.uncompressed_size) {
      *error = "entry " + entry + " is damaged (" +
               (closed == UNZ_CRCERROR ? "CRC mismatch" : "unreadable data") + ")";
      ok = false;
    }
  }
  unzClose(zip);
  return ok;
}

bool WriteFileDurably(const std::string& path, const std::string& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, bytes);
  if (ok) ok = ::fsync(fd) == 0;
  if (::close(fd) != 0) ok = false;
  return ok;
}

bool SyncPath(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

}  // namespace zarn::publish
