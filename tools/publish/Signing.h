// The publisher's side of signatures: key pairs and X.minisig files in minisign's format, so
// that the standard minisign program reads, verifies and makes the same files.
#pragma once

#include <array>
#include <string>

#include "update/Signature.h"

namespace zarn::publish {

struct SecretKey {
  MinisignKeyId keyId{};
  std::array<unsigned char, 64> key{};  // libsodium's secret key: seed, then public key
  MinisignPublicKey Public() const;
};

// minisign's key derivation cost (scrypt); a key file records the cost it was made with.
struct KdfCost {
  unsigned long long opsLimit;
  size_t memLimit;
};
KdfCost MinisignKdfCost();

// Makes a new key pair. With a password the secret key is encrypted as minisign encrypts it
// (scrypt of the password, cost as given); an empty password leaves it unencrypted.
SecretKey NewSecretKey();
// The files' texts.
std::string PublicKeyFileText(const MinisignPublicKey& key);
bool SecretKeyFileText(const SecretKey& key, const std::string& password, const KdfCost& cost,
                       std::string* text, std::string* error);
// Reads a secret key file; password is used when the key is encrypted.
bool ReadSecretKey(const std::string& text, const std::string& password, SecretKey* key, bool* encrypted,
                   std::string* error);
// True when the file's key is encrypted (a password is needed to read it).
bool SecretKeyIsEncrypted(const std::string& text);

// Writes documentPath + ".minisig": a signature of the file with the trusted comment given
// (for the tree, TrustedCommentFor(path in the tree)). Pre-hashed ("ED", minisign's default)
// unless legacy is asked for.
bool SignFile(const SecretKey& key, const std::string& documentPath, const std::string& trustedComment,
              bool legacy, std::string* error);

}  // namespace zarn::publish
