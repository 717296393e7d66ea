#include "update/Signature.h"

#include <fcntl.h>
#include <sodium.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace zarn {
namespace {

constexpr char kUntrustedPrefix[] = "untrusted comment: ";
constexpr char kTrustedPrefix[] = "trusted comment: ";
// A signature file is four short lines; minisign caps the trusted comment at 8 KiB.
constexpr size_t kSignatureFileLimit = 64 * 1024;
// A legacy signature covers the bytes themselves, so the document must be held whole; the
// documents signed here are manifests, far below this.
constexpr size_t kLegacyDocumentLimit = 64 * 1024 * 1024;

bool SodiumReady() {
  static const bool ready = sodium_init() >= 0;
  return ready;
}

// Decodes standard base64 into exactly size bytes.
bool DecodeBase64(std::string_view text, unsigned char* out, size_t size) {
  size_t written = 0;
  const char* end = nullptr;
  if (sodium_base642bin(out, size, text.data(), text.size(), nullptr, &written, &end,
                        sodium_base64_VARIANT_ORIGINAL) != 0)
    return false;
  return written == size && end == text.data() + text.size();
}

std::string EncodeBase64(const unsigned char* data, size_t size) {
  std::string out(sodium_base64_ENCODED_LEN(size, sodium_base64_VARIANT_ORIGINAL), '\0');
  sodium_bin2base64(out.data(), out.size(), data, size, sodium_base64_VARIANT_ORIGINAL);
  out.resize(std::strlen(out.c_str()));
  return out;
}

std::string_view TrimLineEnd(std::string_view line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
    line.remove_suffix(1);
  return line;
}

// Lines without their line ends.
std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    lines.push_back(TrimLineEnd(text.substr(0, end)));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

bool NamesPath(std::string_view comment, std::string_view treePath) {
  const std::string wanted = TrustedCommentFor(treePath);
  while (true) {
    const size_t tab = comment.find('\t');
    if (comment.substr(0, tab) == wanted) return true;
    if (tab == std::string_view::npos) return false;
    comment.remove_prefix(tab + 1);
  }
}

SignatureVerdict Refused(std::string reason) { return {false, std::move(reason)}; }

// What the signed bytes are: the document itself (legacy) or its BLAKE2b-512 hash.
SignatureVerdict Check(const std::vector<MinisignPublicKey>& keys, const MinisignSignature& sig,
                       const unsigned char* signedBytes, size_t signedSize, std::string_view treePath) {
  const MinisignPublicKey* found = nullptr;
  std::string expected;
  for (const MinisignPublicKey& k : keys) {
    if (k.keyId == sig.keyId) found = &k;
    expected += (expected.empty() ? "" : " or ") + KeyIdText(k.keyId);
  }
  if (!found)
    return Refused("signed by another key (key id " + KeyIdText(sig.keyId) + ", expected " + expected + ")");
  const MinisignPublicKey& key = *found;
  if (crypto_sign_verify_detached(sig.signature.data(), signedBytes, signedSize, key.key.data()) != 0)
    return Refused("the signature does not match the document");
  std::vector<unsigned char> global(sig.signature.begin(), sig.signature.end());
  global.insert(global.end(), sig.trustedComment.begin(), sig.trustedComment.end());
  if (crypto_sign_verify_detached(sig.globalSignature.data(), global.data(), global.size(), key.key.data()) !=
      0)
    return Refused("the trusted comment was altered");
  if (!NamesPath(sig.trustedComment, treePath))
    return Refused("the signature is for another file (trusted comment \"" + sig.trustedComment +
                   "\", expected \"" + TrustedCommentFor(treePath) + "\")");
  return {true, {}};
}

bool ReadSmallFile(const std::string& path, size_t limit, std::string* out, bool* tooLarge) {
  std::FILE* f = std::fopen(path.c_str(), "rbe");
  if (!f) return false;
  char buffer[16384];
  size_t n;
  *tooLarge = false;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
    out->append(buffer, n);
    if (out->size() > limit) {
      *tooLarge = true;
      break;
    }
  }
  const bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

}  // namespace

std::string KeyIdText(const MinisignKeyId& id) {
  // minisign prints the 8 bytes as one little-endian number.
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (size_t i = id.size(); i-- > 0;) {
    out += kHex[id[i] >> 4];
    out += kHex[id[i] & 15];
  }
  return out;
}

bool ParsePublicKeys(std::string_view text, std::vector<MinisignPublicKey>* keys, std::string* reason) {
  keys->clear();
  for (std::string_view line : SplitLines(text)) {
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    if (line.rfind(kUntrustedPrefix, 0) == 0) continue;
    while (!line.empty()) {
      const size_t end = line.find_first_of(" \t;,");
      const std::string_view token = line.substr(0, end);
      line.remove_prefix(end == std::string_view::npos ? line.size() : end + 1);
      if (token.empty()) continue;
      unsigned char raw[2 + 8 + 32];
      if (!SodiumReady() || !DecodeBase64(token, raw, sizeof raw)) {
        *reason = "the public key is not a minisign public key";
        return false;
      }
      if (raw[0] != 'E' || raw[1] != 'd') {
        *reason = "the public key is not an Ed25519 key";
        return false;
      }
      MinisignPublicKey key;
      std::memcpy(key.keyId.data(), raw + 2, 8);
      std::memcpy(key.key.data(), raw + 10, 32);
      keys->push_back(key);
    }
  }
  if (keys->empty()) *reason = "the public key is not a minisign public key";
  return !keys->empty();
}

bool ParsePublicKey(std::string_view text, MinisignPublicKey* key, std::string* reason) {
  std::vector<MinisignPublicKey> keys;
  if (!ParsePublicKeys(text, &keys, reason)) return false;
  if (keys.size() != 1) {
    *reason = "more than one public key";
    return false;
  }
  *key = keys[0];
  return true;
}

std::string PublicKeyText(const MinisignPublicKey& key) {
  unsigned char raw[2 + 8 + 32] = {'E', 'd'};
  std::memcpy(raw + 2, key.keyId.data(), 8);
  std::memcpy(raw + 10, key.key.data(), 32);
  SodiumReady();
  return EncodeBase64(raw, sizeof raw);
}

bool ParseSignature(std::string_view text, MinisignSignature* signature, std::string* reason) {
  const std::vector<std::string_view> lines = SplitLines(text);
  if (lines.size() < 4) {
    *reason = "the signature file is incomplete";
    return false;
  }
  if (lines[0].rfind(kUntrustedPrefix, 0) != 0 || lines[2].rfind(kTrustedPrefix, 0) != 0) {
    *reason = "the signature file is not in minisign's format";
    return false;
  }
  unsigned char raw[2 + 8 + 64];
  if (!SodiumReady() || !DecodeBase64(lines[1], raw, sizeof raw) ||
      !DecodeBase64(lines[3], signature->globalSignature.data(), signature->globalSignature.size())) {
    *reason = "the signature file is damaged";
    return false;
  }
  if (raw[0] == 'E' && raw[1] == 'd')
    signature->prehashed = false;
  else if (raw[0] == 'E' && raw[1] == 'D')
    signature->prehashed = true;
  else {
    *reason = "the signature is of an unknown kind";
    return false;
  }
  std::memcpy(signature->keyId.data(), raw + 2, 8);
  std::memcpy(signature->signature.data(), raw + 10, 64);
  signature->trustedComment = std::string(lines[2].substr(std::strlen(kTrustedPrefix)));
  return true;
}

std::string SignaturePathFor(const std::string& documentPath) { return documentPath + ".minisig"; }

std::string TrustedCommentFor(std::string_view treePath) { return "file:" + std::string(treePath); }

SignatureVerdict VerifyDocument(std::string_view document, std::string_view signatureText,
                                std::string_view publicKey, std::string_view treePath) {
  std::vector<MinisignPublicKey> key;
  MinisignSignature sig;
  std::string reason;
  if (!ParsePublicKeys(publicKey, &key, &reason)) return Refused(reason);
  if (signatureText.empty()) return Refused("no signature");
  if (!ParseSignature(signatureText, &sig, &reason)) return Refused(reason);
  const auto* bytes = reinterpret_cast<const unsigned char*>(document.data());
  if (!sig.prehashed) return Check(key, sig, bytes, document.size(), treePath);
  unsigned char hash[crypto_generichash_BYTES_MAX];
  crypto_generichash(hash, sizeof hash, bytes, document.size(), nullptr, 0);
  return Check(key, sig, hash, sizeof hash, treePath);
}

SignatureVerdict VerifyDocumentFile(const std::string& documentPath, const std::string& signaturePath,
                                    std::string_view publicKey, std::string_view treePath) {
  std::vector<MinisignPublicKey> key;
  MinisignSignature sig;
  std::string reason, signatureText;
  bool tooLarge = false;
  if (!ParsePublicKeys(publicKey, &key, &reason)) return Refused(reason);
  if (!ReadSmallFile(signaturePath, kSignatureFileLimit, &signatureText, &tooLarge) || signatureText.empty())
    return Refused("no signature");
  if (tooLarge) return Refused("the signature file is not in minisign's format");
  if (!ParseSignature(signatureText, &sig, &reason)) return Refused(reason);
  if (!sig.prehashed) {
    std::string document;
    if (!ReadSmallFile(documentPath, kLegacyDocumentLimit, &document, &tooLarge))
      return Refused("the document cannot be read");
    if (tooLarge) return Refused("the document is too large for a legacy signature");
    return Check(key, sig, reinterpret_cast<const unsigned char*>(document.data()), document.size(),
                 treePath);
  }
  const int fd = ::open(documentPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Refused("the document cannot be read");
  crypto_generichash_state state;
  crypto_generichash_init(&state, nullptr, 0, crypto_generichash_BYTES_MAX);
  std::vector<unsigned char> buffer(1 << 16);
  ssize_t n;
  while ((n = ::read(fd, buffer.data(), buffer.size())) != 0) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    crypto_generichash_update(&state, buffer.data(), static_cast<size_t>(n));
  }
  ::close(fd);
  if (n < 0) return Refused("the document cannot be read");
  unsigned char hash[crypto_generichash_BYTES_MAX];
  crypto_generichash_final(&state, hash, sizeof hash);
  return Check(key, sig, hash, sizeof hash, treePath);
}

}  // namespace zarn
