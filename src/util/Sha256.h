// SHA-256 over OpenSSL, fed piece by piece so that a download or a file is hashed as its bytes
// pass and never held whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

struct evp_md_ctx_st;

namespace zarn {

class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void Update(const void* data, size_t size);
  void Update(std::string_view text) { Update(text.data(), text.size()); }
  // The digest as 64 lower-case hex digits. The object then starts over, empty.
  std::string FinalHex();

 private:
  evp_md_ctx_st* ctx_;
};

// Hex digest of the text.
std::string Sha256Hex(std::string_view text);

// Streams the file at path through SHA-256. False (and *hex, *size untouched) when it cannot
// be read to its end; size may be null.
bool Sha256File(const std::string& path, std::string* hex, uint64_t* size = nullptr);

// True when text is 64 hex digits (either case): the form a published hash takes.
bool IsSha256Hex(std::string_view text);

}  // namespace zarn
