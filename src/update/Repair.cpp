#include "update/Repair.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unzip.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>

#include "net/RangeReader.h"
#include "net/Transfer.h"
#include "util/Paths.h"
#include "util/Sha256.h"

namespace zarn {
namespace {

struct Wanted {
  const BrokenFile* file = nullptr;
  bool done = false;
  std::string failure;
};

// Unpacks the zip's current entry to the listed file's place: written to a temporary file
// beside it, checked against the list, then renamed over whatever is there (a link is
// replaced, never written through). Empty text on success, else why not.
std::string UnpackTo(unzFile zip, net::RangeReader* reader, const RepairOptions& options,
                     const ListedFile& listed, uint64_t* fetched) {
  unz_file_info64 info;
  if (unzGetCurrentFileInfo64(zip, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK)
    return "its entry cannot be read";
  if (info.uncompressed_size != listed.size) return "its entry has another size than the list says";
  if (unzOpenCurrentFile(zip) != UNZ_OK) return "its entry cannot be opened";
  if (reader) reader->Hint(static_cast<uint64_t>(unzGetCurrentFileZStreamPos64(zip)), info.compressed_size);
  const std::string target = ListedPathIn(options.gameDir, listed.path);
  if (!MakeSureDirectoryPathExists(target)) {
    unzCloseCurrentFile(zip);
    return "its folder cannot be made";
  }
  std::string temp = DirName(target) + "/.zarn-repair-XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) {
    unzCloseCurrentFile(zip);
    return std::string("cannot write beside it: ") + std::strerror(errno);
  }
  std::vector<char> buffer(1 << 16);
  Sha256 hash;
  uint64_t written = 0;
  bool ok = true;
  int n;
  while ((n = unzReadCurrentFile(zip, buffer.data(), static_cast<unsigned>(buffer.size()))) > 0) {
    if (options.cancel && options.cancel->load()) {
      ok = false;
      break;
    }
    hash.Update(buffer.data(), static_cast<size_t>(n));
    written += static_cast<uint64_t>(n);
    for (ssize_t off = 0; ok && off < n;) {
      const ssize_t w = ::write(fd, buffer.data() + off, static_cast<size_t>(n - off));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) ok = false;
      off += w > 0 ? w : 0;
    }
    if (reader && options.bytes) options.bytes(*fetched + reader->BytesFetched());
  }
  const bool crcOk = unzCloseCurrentFile(zip) == UNZ_OK;
  ok = ok && n == 0 && crcOk && ::fchmod(fd, 0644) == 0 && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  std::string why;
  // Closing the launcher while a file is written: nothing is put in place.
  if (options.cancel && options.cancel->load()) ok = false;
  if (!ok)
    why = options.cancel && options.cancel->load() ? "cancelled" : "its entry could not be unpacked";
  else if (written != listed.size || hash.FinalHex() != listed.sha256)
    why = "the package holds another file than the list says";
  if (why.empty()) {
    struct stat st;
    // A folder where the file goes makes way only when empty: files in it no list names stay.
    if (::lstat(target.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && ::rmdir(target.c_str()) != 0)
      why = "a folder with files in it is where the file goes";
    else if (std::rename(temp.c_str(), target.c_str()) != 0)
      why = std::string("cannot be replaced: ") + std::strerror(errno);
  }
  if (!why.empty()) ::unlink(temp.c_str());
  return why;
}

// The entries of the wanted files in an open archive, unpacked. Entries not reached are left
// for the caller; false when the archive could not be read through (ranges failed).
bool RepairFrom(unzFile zip, net::RangeReader* reader, const RepairOptions& options,
                std::map<std::string, Wanted>& wanted, uint64_t* fetched) {
  // One walk of the directory, then a jump to each entry.
  std::map<std::string, unz64_file_pos> positions;
  std::vector<char> name;
  int rc = unzGoToFirstFile(zip);
  for (; rc == UNZ_OK; rc = unzGoToNextFile(zip)) {
    unz_file_info64 info;
    if (unzGetCurrentFileInfo64(zip, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) break;
    name.resize(info.size_filename + 1);
    unzGetCurrentFileInfo64(zip, &info, name.data(), static_cast<uLong>(name.size()), nullptr, 0, nullptr, 0);
    const std::string entry(name.data(), info.size_filename);
    if (wanted.count(entry)) unzGetFilePos64(zip, &positions[entry]);
  }
  if (rc != UNZ_END_OF_LIST_OF_FILE || (reader && reader->Failed())) return false;
  for (auto& [entry, w] : wanted) {
    if (w.done) continue;
    const auto at = positions.find(entry);
    if (at == positions.end()) {
      w.failure = "not in its package";
      continue;
    }
    if (unzGoToFilePos64(zip, &at->second) != UNZ_OK) return false;
    w.failure = UnpackTo(zip, reader, options, w.file->listed, fetched);
    if (reader && reader->Failed()) return false;
    if (!w.failure.empty()) continue;
    bool missing = false;
    uint64_t hashed = 0;
    // Hashed again from the disk: only a file that reads back right counts as repaired.
    if (FileMatches(options.gameDir, w.file->listed, &missing, &hashed))
      w.done = true;
    else
      w.failure = "does not read back as listed";
  }
  return true;
}

bool FetchWhole(const std::string& url, const std::string& path, const InstalledPackage& package,
                const RepairOptions& options, uint64_t* fetched) {
  if (!MakeSureDirectoryPathExists(path)) return false;
  net::TransferOptions transfer;
  transfer.url = url;
  net::FileSink sink(path);
  const uint64_t before = *fetched;
  sink.onWritten = [&](int64_t done) {
    *fetched = before + static_cast<uint64_t>(done);
    if (options.bytes) options.bytes(*fetched);
  };
  std::vector<net::Validator*> validators;
  net::ExpectedSha256Validator sha(package.sha256, 1);
  if (!package.sha256.empty()) validators.push_back(&sha);
  const net::TransferResult result = net::Transfer(transfer).Run(sink, validators);
  *fetched = before + static_cast<uint64_t>(sink.Written());
  return result.code == CURLE_OK && result.status == 200 && result.verdict.error == 0;
}

}  // namespace

RepairResult RepairGame(const GameCheckResult& check, const RepairOptions& options) {
  RepairResult result;
  std::map<std::string, std::map<std::string, Wanted>> byPackage;
  for (const BrokenFile& b : check.broken) byPackage[b.package][b.listed.path].file = &b;
  size_t done = 0;
  for (auto& [key, wanted] : byPackage) {
    if (options.cancel && options.cancel->load()) {
      result.cancelled = true;
      break;
    }
    const std::string url =
        options.packageUrl ? options.packageUrl(key) : options.baseUrl + "public/zip/" + key;
    bool finished = false;
    if (options.allowRanges) {
      net::RangeReader reader(url, options.cancel);
      if (reader.Open()) {
        zlib_filefunc64_def functions = reader.FileFunctions();
        if (unzFile zip = unzOpen2_64(key.c_str(), &functions)) {
          finished = RepairFrom(zip, &reader, options, wanted, &result.bytesFetched);
          unzClose(zip);
        }
      }
      result.bytesFetched += reader.BytesFetched();
    }
    // Anything the ranges did not bring right (a server that sent other bytes than it said)
    // comes from the whole package.
    for (const auto& [entry, w] : wanted) finished = finished && w.done;
    if (!finished && !(options.cancel && options.cancel->load())) {
      ++result.wholePackages;
      const std::string local =
          (options.scratchDir.empty() ? options.gameDir + "/download" : options.scratchDir) + "/" + key +
          ".repair";
      const auto it = check.packages.find(key);
      const InstalledPackage package = it != check.packages.end() ? it->second : InstalledPackage{key, "", 0};
      if (FetchWhole(url, local, package, options, &result.bytesFetched)) {
        if (unzFile zip = unzOpen64(local.c_str())) {
          RepairFrom(zip, nullptr, options, wanted, &result.bytesFetched);
          unzClose(zip);
        }
      } else {
        for (auto& [entry, w] : wanted)
          if (!w.done) w.failure = "its package could not be fetched from " + url;
      }
      std::remove(local.c_str());
    }
    for (auto& [entry, w] : wanted) {
      if (w.done)
        ++result.repaired;
      else
        result.failed.push_back(entry + ": " + (w.failure.empty() ? "not repaired" : w.failure));
    }
    if (options.packages) options.packages(++done, byPackage.size());
  }
  if (options.cancel && options.cancel->load()) result.cancelled = true;
  return result;
}

}  // namespace zarn
