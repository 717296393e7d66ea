#include "update/Signature.h"

#include <gtest/gtest.h>
#include <sodium.h>

#include <cstdlib>
#include <functional>
#include <vector>

#include "Signing.h"
#include "support/TestSupport.h"

namespace zarn {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

std::string Quote(const std::string& text) { return "'" + text + "'"; }

int Shell(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1 </dev/null").c_str());
}

// Two key pairs: one made by the minisign program, one by zarn-publish's signer; each signer
// signs with either, so both read the other's key files.
class SignatureTest : public ::testing::Test {
 public:
  void SetUp() override {
    ASSERT_EQ(Shell(std::string(ZARN_MINISIGN) + " -G -W -p " + Quote(dir.file("m.pub")) + " -s " +
                    Quote(dir.file("m.key"))),
              0);
    const publish::SecretKey ours = publish::NewSecretKey();
    std::string text, error;
    ASSERT_TRUE(publish::SecretKeyFileText(ours, "", publish::MinisignKdfCost(), &text, &error)) << error;
    WriteFile(dir.file("o.key"), text);
    WriteFile(dir.file("o.pub"), publish::PublicKeyFileText(ours.Public()));
    minisignPub = ReadFile(dir.file("m.pub"));
    oursPub = ReadFile(dir.file("o.pub"));
  }

  // Signs path with the key file (m.key or o.key) through the program or our signer.
  bool Sign(bool program, const std::string& keyFile, const std::string& path, const std::string& comment,
            bool legacy) {
    if (program)
      return Shell(std::string(ZARN_MINISIGN) + (legacy ? " -S -l" : " -S") + " -s " +
                   Quote(dir.file(keyFile)) + " -m " + Quote(path) + " -t " + Quote(comment)) == 0;
    publish::SecretKey key;
    bool encrypted = false;
    std::string error;
    if (!publish::ReadSecretKey(ReadFile(dir.file(keyFile)), "", &key, &encrypted, &error)) return false;
    return publish::SignFile(key, path, comment, legacy, &error);
  }

  TempDir dir;
  std::string minisignPub, oursPub;
};

TEST_F(SignatureTest, PublicKeyLineOrWholeFile) {
  MinisignPublicKey key;
  std::string reason;
  ASSERT_TRUE(ParsePublicKey(minisignPub, &key, &reason)) << reason;
  const std::string line = minisignPub.substr(minisignPub.find('\n') + 1, 56);
  EXPECT_EQ(PublicKeyText(key), line);
  MinisignPublicKey fromLine;
  ASSERT_TRUE(ParsePublicKey(line, &fromLine, &reason));
  EXPECT_EQ(fromLine.key, key.key);
  // minisign names the key id in its comment line (without leading zeros).
  std::string id = KeyIdText(key.keyId);
  id.erase(0, id.find_first_not_of('0'));
  EXPECT_NE(minisignPub.find(" " + id + "\n"), std::string::npos) << minisignPub << id;
  for (const char* bad :
       {"", "RWQ", "untrusted comment: x\n", "not base64 at all!", "RWTLodngtcGLMRJbQSFyO2B2Oqx"})
    EXPECT_FALSE(ParsePublicKey(bad, &key, &reason)) << bad;
}

// Every row for both signers, both signature kinds and both keys' makers.
TEST_F(SignatureTest, RefusesEveryTamperedRow) {
  struct Row {
    const char* name;
    bool accepted;
    const char* reasonPart;
    // Acts on the tree after update.xml was signed well; returns false when it could not.
    std::function<bool(SignatureTest&, const std::string& doc, const std::string& sig, bool program,
                       const std::string& key, bool legacy)>
        act;
  };
  const std::vector<Row> rows = {
      {"signed well", true, "", [](auto&, auto&, auto&, bool, auto&, bool) { return true; }},
      {"no signature", false, "no signature",
       [](auto&, auto&, const std::string& sig, bool, auto&, bool) { return std::remove(sig.c_str()) == 0; }},
      {"an empty signature file", false, "no signature",
       [](auto&, auto&, const std::string& sig, bool, auto&, bool) {
         WriteFile(sig, "");
         return true;
       }},
      {"another key", false, "another key",
       [](SignatureTest& t, const std::string& doc, auto&, bool program, const std::string& key,
          bool legacy) {
         return t.Sign(program, key == "m.key" ? "o.key" : "m.key", doc, "file:public/update.xml", legacy);
       }},
      {"the signature of another file of the tree", false, "does not match",
       [](SignatureTest& t, auto&, const std::string& sig, bool program, const std::string& key,
          bool legacy) {
         const std::string other = t.dir.file("tree/ClientData/1.md5");
         if (!t.Sign(program, key, other, "file:public/update.xml", legacy)) return false;
         WriteFile(sig, ReadFile(other + ".minisig"));
         return true;
       }},
      {"a trusted comment naming another path", false, "another file",
       [](SignatureTest& t, const std::string& doc, auto&, bool program, const std::string& key,
          bool legacy) { return t.Sign(program, key, doc, "file:ClientData/1.md5", legacy); }},
      {"the path only as a prefix of the comment", false, "another file",
       [](SignatureTest& t, const std::string& doc, auto&, bool program, const std::string& key,
          bool legacy) { return t.Sign(program, key, doc, "file:public/update.xml.old", legacy); }},
      {"the document changed after signing", false, "does not match",
       [](auto&, const std::string& doc, auto&, bool, auto&, bool) {
         WriteFile(doc, ReadFile(doc) + " ");
         return true;
       }},
      {"the trusted comment edited", false, "altered",
       [](auto&, auto&, const std::string& sig, bool, auto&, bool) {
         std::string text = ReadFile(sig);
         const size_t at = text.find("\ntrusted comment: ") + 18;
         text.insert(at, "x\t");
         WriteFile(sig, text);
         return true;
       }},
      {"a truncated signature file", false, "",
       [](auto&, auto&, const std::string& sig, bool, auto&, bool) {
         const std::string text = ReadFile(sig);
         WriteFile(sig, text.substr(0, text.size() / 2));
         return true;
       }},
      {"the last line cut short", false, "damaged",
       [](auto&, auto&, const std::string& sig, bool, auto&, bool) {
         const std::string text = ReadFile(sig);
         WriteFile(sig, text.substr(0, text.size() - 6) + "\n");
         return true;
       }},
  };
  const std::string doc = dir.file("tree/public/update.xml");
  const std::string sig = SignaturePathFor(doc);
  ASSERT_EQ(sig, doc + ".minisig");
  for (const bool program : {true, false})
    for (const std::string key : {"m.key", "o.key"})
      for (const bool legacy : {false, true})
        for (const Row& row : rows) {
          const std::string label = std::string(row.name) + (program ? ", minisign, " : ", ours, ") + key +
                                    (legacy ? ", legacy" : ", pre-hashed");
          std::remove(sig.c_str());
          WriteFile(doc, "<update><file key=\"a.zip\" md5=\"1\"/></update>\n");
          WriteFile(dir.file("tree/ClientData/1.md5"), "v1\n");
          ASSERT_TRUE(Sign(program, key, doc, "file:public/update.xml", legacy)) << label;
          const std::string kind = ReadFile(sig).substr(ReadFile(sig).find('\n') + 1, 2);
          EXPECT_EQ(kind, legacy ? "RW" : "RU") << label << ": \"Ed\" or \"ED\" in base64";
          ASSERT_TRUE(row.act(*this, doc, sig, program, key, legacy)) << label;
          const std::string pub = key == "m.key" ? minisignPub : oursPub;
          const SignatureVerdict onDisk = VerifyDocumentFile(doc, sig, pub, "public/update.xml");
          const SignatureVerdict inMemory =
              VerifyDocument(ReadFile(doc), ReadFile(sig), pub, "public/update.xml");
          EXPECT_EQ(onDisk.ok, row.accepted) << label << ": " << onDisk.reason;
          EXPECT_EQ(inMemory.ok, row.accepted) << label << ": " << inMemory.reason;
          EXPECT_EQ(onDisk.reason, inMemory.reason) << label;
          if (!row.accepted) {
            EXPECT_FALSE(onDisk.reason.empty()) << label;
            EXPECT_NE(onDisk.reason.find(row.reasonPart), std::string::npos)
                << label << ": " << onDisk.reason;
          }
        }
}

TEST_F(SignatureTest, EitherKeyWhileAKeyIsReplaced) {
  const std::string line = [](const std::string& file) {
    return file.substr(file.find('\n') + 1, 56);
  }(oursPub);
  const std::string doc = dir.file("public/update.xml");
  WriteFile(doc, "<update/>\n");
  for (const std::string& both :
       {minisignPub + oursPub, line + ";" + minisignPub.substr(minisignPub.find('\n') + 1),
        line + " , " + line}) {
    std::vector<MinisignPublicKey> keys;
    std::string reason;
    ASSERT_TRUE(ParsePublicKeys(both, &keys, &reason)) << both;
    EXPECT_EQ(keys.size(), 2u) << both;
  }
  const std::string both = minisignPub + ";" + line;
  for (const std::string key : {"m.key", "o.key"}) {
    ASSERT_TRUE(Sign(true, key, doc, "file:public/update.xml", false));
    EXPECT_TRUE(VerifyDocumentFile(doc, SignaturePathFor(doc), both, "public/update.xml")) << key;
    EXPECT_EQ(VerifyDocumentFile(doc, SignaturePathFor(doc), key == "m.key" ? oursPub : minisignPub,
                                 "public/update.xml")
                  .ok,
              false)
        << key;
  }
  MinisignPublicKey one;
  std::string reason;
  EXPECT_FALSE(ParsePublicKey(both, &one, &reason)) << "one key wanted, two given";
  std::vector<MinisignPublicKey> keys;
  EXPECT_FALSE(ParsePublicKeys(line + ";RWQ", &keys, &reason)) << "a damaged second key";
}

TEST_F(SignatureTest, TrustedCommentMayCarryMoreFields) {
  const std::string doc = dir.file("ClientData/7.md5");
  WriteFile(doc, "v7\nsize 3\n");
  ASSERT_TRUE(Sign(true, "m.key", doc, "timestamp:1700000000\tfile:ClientData/7.md5", false));
  EXPECT_TRUE(VerifyDocumentFile(doc, SignaturePathFor(doc), minisignPub, "ClientData/7.md5"));
  EXPECT_FALSE(VerifyDocumentFile(doc, SignaturePathFor(doc), minisignPub, "ClientData/8.md5"));
}

TEST_F(SignatureTest, MinisignVerifiesWhatOurSignerMade) {
  const std::string doc = dir.file("update.xml");
  WriteFile(doc, test::NoiseBytes(200000, 3));
  for (const bool legacy : {false, true}) {
    ASSERT_TRUE(Sign(false, "o.key", doc, "file:public/update.xml", legacy));
    EXPECT_EQ(Shell(std::string(ZARN_MINISIGN) + " -V -p " + Quote(dir.file("o.pub")) + " -m " + Quote(doc)),
              0);
    WriteFile(doc + ".2", ReadFile(doc) + "x");
    EXPECT_NE(Shell(std::string(ZARN_MINISIGN) + " -V -p " + Quote(dir.file("o.pub")) + " -m " +
                    Quote(doc + ".2") + " -x " + Quote(SignaturePathFor(doc))),
              0);
  }
}

TEST_F(SignatureTest, EncryptedKeyAsMinisignProtectsIt) {
  // minisign reads the cost from the file; a test-sized one (libsodium's interactive cost)
  // keeps this quick, where zarn-publish keygen writes minisign's own.
  const publish::SecretKey key = publish::NewSecretKey();
  std::string text, error;
  const publish::KdfCost cost{crypto_pwhash_scryptsalsa208sha256_OPSLIMIT_INTERACTIVE,
                              crypto_pwhash_scryptsalsa208sha256_MEMLIMIT_INTERACTIVE};
  ASSERT_TRUE(publish::SecretKeyFileText(key, "correct horse", cost, &text, &error)) << error;
  WriteFile(dir.file("e.key"), text);
  WriteFile(dir.file("e.pub"), publish::PublicKeyFileText(key.Public()));
  EXPECT_TRUE(publish::SecretKeyIsEncrypted(text));
  publish::SecretKey read;
  bool encrypted = false;
  EXPECT_FALSE(publish::ReadSecretKey(text, "wrong horse", &read, &encrypted, &error));
  EXPECT_NE(error.find("wrong password"), std::string::npos) << error;
  ASSERT_TRUE(publish::ReadSecretKey(text, "correct horse", &read, &encrypted, &error)) << error;
  EXPECT_TRUE(encrypted);
  EXPECT_EQ(read.key, key.key);

  const std::string doc = dir.file("doc");
  WriteFile(doc, "signed with a password\n");
  WriteFile(dir.file("pw"), "correct horse\n");
  ASSERT_EQ(std::system((std::string(ZARN_MINISIGN) + " -S -s " + Quote(dir.file("e.key")) + " -m " +
                         Quote(doc) + " -t file:doc < " + Quote(dir.file("pw")) + " >/dev/null 2>&1")
                            .c_str()),
            0);
  EXPECT_TRUE(VerifyDocumentFile(doc, SignaturePathFor(doc), ReadFile(dir.file("e.pub")), "doc"));
}

}  // namespace
}  // namespace zarn
