// zarn-publish's keys, signatures and announced sizes and hashes, checked by the real minisign
// program and by the launcher's verifier; a tree signed with minisign passes zarn-publish --check.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>

#include "publish/PublishTestSupport.h"
#include "update/Signature.h"
#include "update/UpdateManifest.h"
#include "util/Sha256.h"
#include "work/LauncherInfo.h"

namespace zarn {
namespace {

namespace fs = std::filesystem;
using test::NoiseBytes;
using test::ReadFile;
using test::RunPublish;
using test::TempDir;
using test::WriteFile;

constexpr char kLayout[] = R"({
  "packages": [{"key": "client.zip", "files": ["game.exe", "bin/"]}],
  "default": "misc.zip",
  "servers": [{"id": "12", "folder": "servers/12"}]
})";
constexpr char kVersionManifest[] = "PCVersion/1033/version.xml";

std::string Q(const std::string& text) { return "'" + text + "'"; }

int Minisign(const std::string& args) {
  return std::system((std::string(ZARN_MINISIGN) + " " + args + " >/dev/null 2>&1 </dev/null").c_str());
}

class SigningTest : public ::testing::Test {
 public:
  void SetUp() override {
    WriteFile(dir.file("game/game.exe"), "game");
    WriteFile(dir.file("game/bin/lib.so"), NoiseBytes(300000, 1));
    WriteFile(dir.file("game/readme.txt"), "read me");
    WriteFile(dir.file("game/servers/12/conf.ini"), "[server]\n");
    WriteFile(dir.file("layout.json"), kLayout);
    WriteFile(dir.file("zarn-1.0.0.2"), NoiseBytes(70000, 9));
    WriteFile(out + "/" + kVersionManifest,
              "{\"version\": \"1.0.0.2\", \"url\": \"https://cdn.example.com/zarn-1.0.0.2\", "
              "\"serverlist\": \"https://cdn.example.com/serverlist.xml\"}\n");
  }
  test::ToolRun Run(const std::vector<std::string>& args) { return RunPublish(args, dir.path()); }
  test::ToolRun Publish(const std::vector<std::string>& extra) {
    std::vector<std::string> args{"--from", dir.file("game"), "--layout", dir.file("layout.json"), "--out",
                                  out};
    args.insert(args.end(), extra.begin(), extra.end());
    return Run(args);
  }
  test::ToolRun Check(const std::string& tree, const std::string& publicKey) {
    return Run(
        {"--check", "--tree", tree, "--public-key", publicKey, "--launcher", dir.file("zarn-1.0.0.2")});
  }
  void KeyGen(const std::string& name) {
    const test::ToolRun run = Run({"keygen", "--public-key", dir.file(name + ".pub"), "--secret-key",
                                   dir.file(name + ".key"), "--unencrypted"});
    ASSERT_EQ(run.status, 0) << run.err;
  }

  TempDir dir;
  std::string out = dir.file("content");
};

TEST_F(SigningTest, KeygenWritesAMinisignKeyPairAndWarnsWhenUnencrypted) {
  const test::ToolRun run =
      Run({"keygen", "--public-key", dir.file("k.pub"), "--secret-key", dir.file("k.key"), "--unencrypted"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("UNENCRYPTED"), std::string::npos) << run.err;
  MinisignPublicKey key;
  std::string reason;
  ASSERT_TRUE(ParsePublicKey(ReadFile(dir.file("k.pub")), &key, &reason)) << reason;
  EXPECT_NE(run.out.find("-DZARN_UPDATE_PUBLIC_KEY=" + PublicKeyText(key) + "\n"), std::string::npos)
      << run.out;
  struct stat st;
  ASSERT_EQ(::stat(dir.file("k.key").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u) << "the secret key is for its owner alone";

  // The real program signs with it and verifies with the public key.
  WriteFile(dir.file("doc"), "document\n");
  EXPECT_EQ(Minisign("-S -s " + Q(dir.file("k.key")) + " -m " + Q(dir.file("doc"))), 0);
  EXPECT_EQ(Minisign("-V -p " + Q(dir.file("k.pub")) + " -m " + Q(dir.file("doc"))), 0);

  // An existing key is never replaced without --force.
  const std::string before = ReadFile(dir.file("k.key"));
  const test::ToolRun again =
      Run({"keygen", "--public-key", dir.file("k.pub"), "--secret-key", dir.file("k.key"), "--unencrypted"});
  EXPECT_EQ(again.status, 2);
  EXPECT_EQ(ReadFile(dir.file("k.key")), before);
  // Without --unencrypted an empty password is refused.
  const test::ToolRun empty =
      Run({"keygen", "--public-key", dir.file("e.pub"), "--secret-key", dir.file("e.key")});
  EXPECT_EQ(empty.status, 2);
  EXPECT_FALSE(test::Exists(dir.file("e.key")));
}

TEST_F(SigningTest, SignedTreeAnnouncesSizesAndHashesAndMinisignAcceptsIt) {
  KeyGen("k");
  const test::ToolRun run =
      Publish({"--secret-key", dir.file("k.key"), "--launcher", dir.file("zarn-1.0.0.2")});
  ASSERT_EQ(run.status, 0) << run.err;

  for (const std::string path : {"public/update.xml", "ClientData/12.md5", kVersionManifest}) {
    const std::string file = out + "/" + path;
    EXPECT_EQ(Minisign("-V -p " + Q(dir.file("k.pub")) + " -m " + Q(file)), 0) << path;
    EXPECT_EQ(ReadFile(file + ".minisig").find("\ntrusted comment: file:" + path + "\n") != std::string::npos,
              true)
        << path;
    EXPECT_TRUE(VerifyDocumentFile(file, file + ".minisig", ReadFile(dir.file("k.pub")), path)) << path;
  }

  const std::string manifest = ReadFile(out + "/public/update.xml");
  for (const std::string key : {"client.zip", "misc.zip"}) {
    const std::string archive = ReadFile(out + "/public/zip/" + key);
    EXPECT_NE(manifest.find("key=\"" + key + "\""), std::string::npos);
    EXPECT_NE(manifest.find("size=\"" + std::to_string(archive.size()) + "\" sha256=\"" + Sha256Hex(archive) +
                            "\""),
              std::string::npos)
        << manifest;
  }
  const std::string data = ReadFile(out + "/ClientData/12.zip");
  const std::string list = ReadFile(out + "/ClientData/12.md5");
  std::string first;
  ASSERT_TRUE(ReadFirstLine(out + "/ClientData/12.md5", first));
  EXPECT_EQ(list, first + "\nsize " + std::to_string(data.size()) + "\nsha256 " + Sha256Hex(data) +
                      "\nindex " + Sha256Hex(ReadFile(out + "/ClientData/12.lst")) + "\n");

  const std::string launcher = ReadFile(dir.file("zarn-1.0.0.2"));
  const std::string version = ReadFile(out + "/" + kVersionManifest);
  EXPECT_NE(version.find("\"size\": " + std::to_string(launcher.size())), std::string::npos) << version;
  EXPECT_NE(version.find("\"sha256\": \"" + Sha256Hex(launcher) + "\""), std::string::npos) << version;
  const auto parsed = ParseVersionManifest(version);
  ASSERT_TRUE(parsed.has_value()) << "the launcher still reads it";

  const test::ToolRun check = Check(out, dir.file("k.pub"));
  EXPECT_EQ(check.status, 0) << check.out << check.err;
}

TEST_F(SigningTest, CheckNamesEveryProblemWithItsFile) {
  KeyGen("k");
  KeyGen("other");
  ASSERT_EQ(Publish({"--secret-key", dir.file("k.key"), "--launcher", dir.file("zarn-1.0.0.2")}).status, 0);
  struct Row {
    const char* name;
    std::function<void(const std::string& tree)> act;
    const char* file;  // the file the problem is reported on (suffix)
    const char* text;
  };
  auto flip = [](const std::string& path, size_t at) {
    std::string bytes = ReadFile(path);
    bytes[at] = static_cast<char>(bytes[at] ^ 0x20);
    WriteFile(path, bytes);
  };
  auto minisign = [this](const std::string& key, const std::string& file, const std::string& comment) {
    ASSERT_EQ(Minisign("-S -s " + Q(dir.file(key)) + " -m " + Q(file) + " -t " + Q(comment)), 0);
  };
  const std::vector<Row> rows = {
      {"a flipped byte in a package", [&](auto& t) { flip(t + "/public/zip/client.zip", 200); },
       "public/update.xml", "SHA-256"},
      {"one byte more in server data",
       [](auto& t) { WriteFile(t + "/ClientData/12.zip", ReadFile(t + "/ClientData/12.zip") + "x"); },
       "ClientData/12.md5", "bytes"},
      {"an unannounced package",
       [](auto& t) {
         const std::string m = ReadFile(t + "/public/update.xml");
         WriteFile(t + "/public/update.xml", m.substr(0, m.find(" size=")) + "/>\n</update>\n");
       },
       "public/update.xml", "without its size"},
      {"no signature", [](auto& t) { fs::remove(t + "/public/update.xml.minisig"); }, "public/update.xml",
       "no signature"},
      {"a signature by another key",
       [&](auto& t) { minisign("other.key", t + "/public/update.xml", "file:public/update.xml"); },
       "public/update.xml", "another key"},
      {"the signature of another file of the tree",
       [](auto& t) {
         fs::copy_file(t + "/ClientData/12.md5.minisig", t + "/public/update.xml.minisig",
                       fs::copy_options::overwrite_existing);
       },
       "public/update.xml", "does not match"},
      {"a trusted comment naming another path",
       [&](auto& t) { minisign("k.key", t + "/ClientData/12.md5", "file:ClientData/13.md5"); },
       "ClientData/12.md5", "another file"},
      {"a document changed after signing",
       [](auto& t) { WriteFile(t + "/ClientData/12.md5", ReadFile(t + "/ClientData/12.md5") + "\n"); },
       "ClientData/12.md5", "does not match"},
      {"a truncated signature file",
       [](auto& t) {
         const std::string sig = ReadFile(t + "/" + kVersionManifest + ".minisig");
         WriteFile(t + "/" + kVersionManifest + ".minisig", sig.substr(0, sig.size() / 2));
       },
       kVersionManifest, "signature"},
      {"a launcher other than announced",
       [this](auto&) { WriteFile(dir.file("zarn-1.0.0.2"), NoiseBytes(70000, 10)); }, kVersionManifest,
       "SHA-256"},
  };
  const std::string launcher = ReadFile(dir.file("zarn-1.0.0.2"));
  for (const Row& row : rows) {
    const std::string tree = dir.file("copy");
    fs::remove_all(tree);
    fs::copy(out, tree, fs::copy_options::recursive);
    WriteFile(dir.file("zarn-1.0.0.2"), launcher);
    row.act(tree);
    const test::ToolRun check = Check(tree, dir.file("k.pub"));
    EXPECT_EQ(check.status, 1) << row.name << "\n" << check.out << check.err;
    bool named = false;
    for (size_t at = 0; at < check.out.size();) {
      const size_t end = check.out.find('\n', at);
      const std::string line = check.out.substr(at, end - at);
      const std::string file = line.substr(0, line.find(':'));
      if (file.size() >= std::strlen(row.file) &&
          file.compare(file.size() - std::strlen(row.file), std::string::npos, row.file) == 0 &&
          line.find(row.text) != std::string::npos)
        named = true;
      at = end == std::string::npos ? end : end + 1;
    }
    EXPECT_TRUE(named) << row.name << ": " << check.out;
  }
}

TEST_F(SigningTest, TreeSignedWithMinisignPassesTheCheck) {
  ASSERT_EQ(Minisign("-G -W -p " + Q(dir.file("m.pub")) + " -s " + Q(dir.file("m.key"))), 0);
  const test::ToolRun run = Publish({"--launcher", dir.file("zarn-1.0.0.2")});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_FALSE(test::Exists(out + "/public/update.xml.minisig")) << "no key, no signature";
  // Unsigned, the tree is what it always was; with the key the check wants signatures.
  EXPECT_EQ(Run({"--check", "--tree", out}).status, 0);
  EXPECT_EQ(Check(out, dir.file("m.pub")).status, 1);
  for (const std::string path : {"public/update.xml", "ClientData/12.md5", kVersionManifest})
    ASSERT_EQ(
        Minisign("-S -s " + Q(dir.file("m.key")) + " -m " + Q(out + "/" + path) + " -t " + Q("file:" + path)),
        0);
  const test::ToolRun check = Check(out, dir.file("m.pub"));
  EXPECT_EQ(check.status, 0) << check.out << check.err;
  // The key line works as well as the file.
  MinisignPublicKey key;
  std::string reason;
  ASSERT_TRUE(ParsePublicKey(ReadFile(dir.file("m.pub")), &key, &reason));
  EXPECT_EQ(Check(out, PublicKeyText(key)).status, 0);
}

}  // namespace
}  // namespace zarn
