#include "util/Sha256.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace zarn {

Sha256::Sha256() : ctx_(EVP_MD_CTX_new()) {
  if (!ctx_ || EVP_DigestInit_ex(ctx_, EVP_sha256(), nullptr) != 1) std::abort();
}

Sha256::~Sha256() { EVP_MD_CTX_free(ctx_); }

void Sha256::Update(const void* data, size_t size) {
  if (size) EVP_DigestUpdate(ctx_, data, size);
}

std::string Sha256::FinalHex() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_DigestFinal_ex(ctx_, digest, &size);
  EVP_DigestInit_ex(ctx_, EVP_sha256(), nullptr);
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(size * 2);
  for (unsigned int i = 0; i < size; ++i) {
    out += kHex[digest[i] >> 4];
    out += kHex[digest[i] & 15];
  }
  return out;
}

std::string Sha256Hex(std::string_view text) {
  Sha256 hash;
  hash.Update(text);
  return hash.FinalHex();
}

bool Sha256File(const std::string& path, std::string* hex, uint64_t* size) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  Sha256 hash;
  std::vector<char> buffer(1 << 16);
  uint64_t total = 0;
  bool ok = true;
  for (;;) {
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    hash.Update(buffer.data(), static_cast<size_t>(n));
    total += static_cast<uint64_t>(n);
  }
  ::close(fd);
  if (!ok) return false;
  *hex = hash.FinalHex();
  if (size) *size = total;
  return true;
}

bool IsSha256Hex(std::string_view text) {
  if (text.size() != 64) return false;
  for (char c : text)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) return false;
  return true;
}

}  // namespace zarn
