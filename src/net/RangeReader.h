// Random access to a file on an HTTP server through Range requests of the transfer engine,
// with a small read cache, and as minizip file functions so that an archive's directory and
// single entries can be read without fetching the whole archive.
#pragma once

#include <ioapi.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <string>

namespace zarn::net {

class RangeReader {
 public:
  explicit RangeReader(std::string url, const std::atomic<bool>* cancel = nullptr);

  // Fetches the file's tail (where a zip archive keeps its directory) and learns its size.
  // False when the server does not answer ranges, or answers them wrongly.
  bool Open();
  uint64_t Size() const { return size_; }
  // Reads exactly n bytes at offset. False when they cannot be had; Failed() then stays true.
  bool Read(uint64_t offset, void* out, size_t n);
  // The next reads walk [offset, offset + length) in order: fetched in a few large pieces
  // instead of one per read.
  void Hint(uint64_t offset, uint64_t length);
  bool Failed() const { return failed_; }
  uint64_t BytesFetched() const { return fetched_; }
  const std::string& Url() const { return url_; }

  // minizip's file functions over this reader (one stream, the archive); the name given to
  // unzOpen2_64 is not used.
  zlib_filefunc64_def FileFunctions();

 private:
  bool Fetch(uint64_t from, uint64_t to);  // [from, to) into the cache
  bool Fetched(uint64_t from, uint64_t length, std::string* body);

  std::string url_;
  const std::atomic<bool>* cancel_;
  uint64_t size_ = 0;
  bool failed_ = false;
  uint64_t fetched_ = 0;
  std::map<uint64_t, std::string> cache_;  // start → bytes; spans never overlap
  size_t cached_ = 0;
  uint64_t hintFrom_ = 0, hintTo_ = 0;
  uint64_t position_ = 0;  // of the minizip stream
};

}  // namespace zarn::net
