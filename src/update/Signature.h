// Checks of signatures in minisign's format (Ed25519, through libsodium). A document X of the
// content tree is signed by the file X.minisig beside it; the signature's trusted comment names
// X's path in the tree ("file:public/update.xml"), so a valid signature of one document cannot
// be passed off as that of another.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace zarn {

using MinisignKeyId = std::array<unsigned char, 8>;

struct MinisignPublicKey {
  MinisignKeyId keyId{};
  std::array<unsigned char, 32> key{};
};

struct MinisignSignature {
  bool prehashed = false;  // "ED": the signature is over the document's BLAKE2b-512 hash
  MinisignKeyId keyId{};
  std::array<unsigned char, 64> signature{};
  std::string trustedComment;  // the text after "trusted comment: "
  std::array<unsigned char, 64> globalSignature{};
};

struct SignatureVerdict {
  bool ok = false;
  std::string reason;  // why not, when !ok
  explicit operator bool() const { return ok; }
};

// A public key: the base64 line of a minisign.pub file, or the whole file.
bool ParsePublicKey(std::string_view text, MinisignPublicKey* key, std::string* reason);
// One or more keys, separated by blanks, ";" or "," or given as whole files: while a key is
// being replaced a launcher trusts the old and the new one.
bool ParsePublicKeys(std::string_view text, std::vector<MinisignPublicKey>* keys, std::string* reason);
// The base64 line for a key (what ParsePublicKey reads).
std::string PublicKeyText(const MinisignPublicKey& key);
// The key id as minisign prints it (16 upper-case hex digits).
std::string KeyIdText(const MinisignKeyId& id);

// The text of an X.minisig file: four lines (untrusted comment, signature, trusted comment,
// global signature).
bool ParseSignature(std::string_view text, MinisignSignature* signature, std::string* reason);

// The signature of a document: documentPath + ".minisig".
std::string SignaturePathFor(const std::string& documentPath);

// The trusted comment a signature of the tree path must carry (as one of its tab-separated
// fields): "file:" + treePath.
std::string TrustedCommentFor(std::string_view treePath);

// Checks the document (held in memory) against the signature text: made by publicKey (the text
// ParsePublicKeys reads; any one of its keys), over exactly these bytes, with an intact trusted comment that
// names treePath.
SignatureVerdict VerifyDocument(std::string_view document, std::string_view signatureText,
                                std::string_view publicKey, std::string_view treePath);

// The same for a document on disk, read as a stream, and its signature file.
SignatureVerdict VerifyDocumentFile(const std::string& documentPath, const std::string& signaturePath,
                                    std::string_view publicKey, std::string_view treePath);

}  // namespace zarn
