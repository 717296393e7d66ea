#include "Signing.h"

#include <fcntl.h>
#include <sodium.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace zarn::publish {
namespace {

// Layout of a minisign secret key, after base64 decoding.
constexpr size_t kKdfAlgAt = 2, kChkAlgAt = 4, kSaltAt = 6, kOpsAt = 38, kMemAt = 46, kKeyNumAt = 54;
constexpr size_t kKeyNumSize = 8 + 64 + 32;  // key id, secret key, checksum
constexpr size_t kSecretKeySize = kKeyNumAt + kKeyNumSize;

bool SodiumReady() {
  static const bool ready = sodium_init() >= 0;
  return ready;
}

std::string Base64(const unsigned char* data, size_t size) {
  std::string out(sodium_base64_ENCODED_LEN(size, sodium_base64_VARIANT_ORIGINAL), '\0');
  sodium_bin2base64(out.data(), out.size(), data, size, sodium_base64_VARIANT_ORIGINAL);
  out.resize(std::strlen(out.c_str()));
  return out;
}

void PutLe64(unsigned char* at, unsigned long long value) {
  for (int i = 0; i < 8; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

unsigned long long GetLe64(const unsigned char* at) {
  unsigned long long value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | at[i];
  return value;
}

// minisign's checksum of a secret key: BLAKE2b-256 of the algorithm, key id and key.
void KeyChecksum(const SecretKey& key, unsigned char out[32]) {
  crypto_generichash_state state;
  crypto_generichash_init(&state, nullptr, 0, 32);
  crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>("Ed"), 2);
  crypto_generichash_update(&state, key.keyId.data(), key.keyId.size());
  crypto_generichash_update(&state, key.key.data(), key.key.size());
  crypto_generichash_final(&state, out, 32);
}

// XORs the key part with the scrypt stream of the password.
bool Scramble(unsigned char* raw, const std::string& password, std::string* error) {
  std::vector<unsigned char> stream(kKeyNumSize);
  if (crypto_pwhash_scryptsalsa208sha256(stream.data(), stream.size(), password.data(), password.size(),
                                         raw + kSaltAt, GetLe64(raw + kOpsAt),
                                         static_cast<size_t>(GetLe64(raw + kMemAt))) != 0) {
    *error = "not enough memory to derive the key from the password";
    return false;
  }
  for (size_t i = 0; i < kKeyNumSize; ++i) raw[kKeyNumAt + i] ^= stream[i];
  sodium_memzero(stream.data(), stream.size());
  return true;
}

bool DecodeSecretKey(const std::string& text, unsigned char* raw) {
  // The last line that is not a comment.
  std::string line;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string l = text.substr(start, end - start);
    while (!l.empty() && (l.back() == '\r' || l.back() == ' ')) l.pop_back();
    if (!l.empty() && l.rfind("untrusted comment:", 0) != 0) line = l;
    start = end + 1;
  }
  size_t written = 0;
  const char* stop = nullptr;
  return SodiumReady() &&
         sodium_base642bin(raw, kSecretKeySize, line.data(), line.size(), nullptr, &written, &stop,
                           sodium_base64_VARIANT_ORIGINAL) == 0 &&
         written == kSecretKeySize && stop == line.data() + line.size() && raw[0] == 'E' && raw[1] == 'd' &&
         raw[kChkAlgAt] == 'B' && raw[kChkAlgAt + 1] == '2';
}

}  // namespace

MinisignPublicKey SecretKey::Public() const {
  MinisignPublicKey pub;
  pub.keyId = keyId;
  std::memcpy(pub.key.data(), key.data() + 32, 32);
  return pub;
}

KdfCost MinisignKdfCost() {
  return {crypto_pwhash_scryptsalsa208sha256_OPSLIMIT_SENSITIVE,
          crypto_pwhash_scryptsalsa208sha256_MEMLIMIT_SENSITIVE};
}

SecretKey NewSecretKey() {
  SodiumReady();
  SecretKey key;
  unsigned char pub[crypto_sign_PUBLICKEYBYTES];
  crypto_sign_keypair(pub, key.key.data());
  randombytes_buf(key.keyId.data(), key.keyId.size());
  return key;
}

std::string PublicKeyFileText(const MinisignPublicKey& key) {
  return "untrusted comment: minisign public key " + KeyIdText(key.keyId) + "\n" + PublicKeyText(key) + "\n";
}

bool SecretKeyFileText(const SecretKey& key, const std::string& password, const KdfCost& cost,
                       std::string* text, std::string* error) {
  SodiumReady();
  std::vector<unsigned char> raw(kSecretKeySize, 0);
  raw[0] = 'E';
  raw[1] = 'd';
  raw[kChkAlgAt] = 'B';
  raw[kChkAlgAt + 1] = '2';
  std::memcpy(raw.data() + kKeyNumAt, key.keyId.data(), 8);
  std::memcpy(raw.data() + kKeyNumAt + 8, key.key.data(), 64);
  KeyChecksum(key, raw.data() + kKeyNumAt + 72);
  if (!password.empty()) {
    raw[kKdfAlgAt] = 'S';
    raw[kKdfAlgAt + 1] = 'c';
    randombytes_buf(raw.data() + kSaltAt, 32);
    PutLe64(raw.data() + kOpsAt, cost.opsLimit);
    PutLe64(raw.data() + kMemAt, cost.memLimit);
    if (!Scramble(raw.data(), password, error)) return false;
  }
  *text = std::string("untrusted comment: ") +
          (password.empty() ? "minisign secret key (unencrypted)" : "minisign encrypted secret key") + "\n" +
          Base64(raw.data(), raw.size()) + "\n";
  sodium_memzero(raw.data(), raw.size());
  return true;
}

bool SecretKeyIsEncrypted(const std::string& text) {
  unsigned char raw[kSecretKeySize];
  const bool encrypted = DecodeSecretKey(text, raw) && raw[kKdfAlgAt] == 'S' && raw[kKdfAlgAt + 1] == 'c';
  sodium_memzero(raw, sizeof raw);
  return encrypted;
}

bool ReadSecretKey(const std::string& text, const std::string& password, SecretKey* key, bool* encrypted,
                   std::string* error) {
  unsigned char raw[kSecretKeySize];
  if (!DecodeSecretKey(text, raw)) {
    *error = "not a minisign secret key";
    return false;
  }
  *encrypted = raw[kKdfAlgAt] == 'S' && raw[kKdfAlgAt + 1] == 'c';
  if (!*encrypted && (raw[kKdfAlgAt] != 0 || raw[kKdfAlgAt + 1] != 0)) {
    *error = "the secret key is protected in a way not known here";
    return false;
  }
  if (*encrypted && !Scramble(raw, password, error)) return false;
  std::memcpy(key->keyId.data(), raw + kKeyNumAt, 8);
  std::memcpy(key->key.data(), raw + kKeyNumAt + 8, 64);
  // The public half must be the one of the seed: a wrong password (or a damaged file) fails
  // here whether or not the file carries minisign's checksum.
  unsigned char pub[crypto_sign_PUBLICKEYBYTES], sk[crypto_sign_SECRETKEYBYTES];
  crypto_sign_seed_keypair(pub, sk, key->key.data());
  const bool ok = sodium_memcmp(sk, key->key.data(), sizeof sk) == 0;
  sodium_memzero(sk, sizeof sk);
  sodium_memzero(raw, sizeof raw);
  if (!ok) {
    sodium_memzero(key->key.data(), key->key.size());
    *error = *encrypted ? "wrong password for the secret key" : "the secret key is damaged";
  }
  return ok;
}

bool SignFile(const SecretKey& key, const std::string& documentPath, const std::string& trustedComment,
              bool legacy, std::string* error) {
  SodiumReady();
  if (trustedComment.find_first_of("\r\n") != std::string::npos) {
    *error = "a trusted comment is one line";
    return false;
  }
  const int fd = ::open(documentPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = documentPath + ": " + std::strerror(errno);
    return false;
  }
  // Legacy signs the bytes themselves; pre-hashed their BLAKE2b-512 hash, streamed.
  std::string whole;
  crypto_generichash_state state;
  crypto_generichash_init(&state, nullptr, 0, crypto_generichash_BYTES_MAX);
  std::vector<unsigned char> buffer(1 << 16);
  ssize_t n;
  while ((n = ::read(fd, buffer.data(), buffer.size())) != 0) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    if (legacy)
      whole.append(reinterpret_cast<const char*>(buffer.data()), static_cast<size_t>(n));
    else
      crypto_generichash_update(&state, buffer.data(), static_cast<size_t>(n));
  }
  const int readErrno = errno;
  ::close(fd);
  if (n < 0) {
    *error = documentPath + ": " + std::strerror(readErrno);
    return false;
  }
  unsigned char sigLine[2 + 8 + 64] = {'E', static_cast<unsigned char>(legacy ? 'd' : 'D')};
  std::memcpy(sigLine + 2, key.keyId.data(), 8);
  if (legacy) {
    crypto_sign_detached(sigLine + 10, nullptr, reinterpret_cast<const unsigned char*>(whole.data()),
                         whole.size(), key.key.data());
  } else {
    unsigned char hash[crypto_generichash_BYTES_MAX];
    crypto_generichash_final(&state, hash, sizeof hash);
    crypto_sign_detached(sigLine + 10, nullptr, hash, sizeof hash, key.key.data());
  }
  std::vector<unsigned char> global(sigLine + 10, sigLine + 74);
  global.insert(global.end(), trustedComment.begin(), trustedComment.end());
  unsigned char globalSig[64];
  crypto_sign_detached(globalSig, nullptr, global.data(), global.size(), key.key.data());

  const std::string text = "untrusted comment: signature from zarn-publish secret key\n" +
                           Base64(sigLine, sizeof sigLine) + "\ntrusted comment: " + trustedComment + "\n" +
                           Base64(globalSig, sizeof globalSig) + "\n";
  // Written beside and renamed, so a reader never sees half a signature.
  const std::string target = SignaturePathFor(documentPath);
  const std::string temp = target + ".part";
  std::FILE* f = std::fopen(temp.c_str(), "wbe");
  bool ok = f && std::fwrite(text.data(), 1, text.size(), f) == text.size();
  if (f) ok = (std::fflush(f) == 0 && ::fsync(fileno(f)) == 0) && ok;
  if (f) ok = std::fclose(f) == 0 && ok;
  ok = ok && std::rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) {
    *error = target + ": " + std::strerror(errno);
    std::remove(temp.c_str());
  }
  return ok;
}

}  // namespace zarn::publish
