// A launcher that trusts an update key updates from a tree zarn-publish (or the minisign
// program) signed, served over HTTP on 127.0.0.1, and refuses every bad download and every bad
// signature without unpacking, committing or replacing anything; the next correct attempt then
// succeeds.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <mutex>

#include "Signing.h"
#include "app/Version.h"
#include "net/GenericHTTPClient.h"
#include "net/NetTestSupport.h"
#include "publish/PublishTestSupport.h"
#include "support/Guards.h"
#include "support/UpdateRunner.h"
#include "update/UpdateManifest.h"
#include "update/UpdateTrust.h"
#include "util/Sha256.h"
#include "work/LauncherInfo.h"

namespace zarn {
namespace {

namespace fs = std::filesystem;
using test::DescribeOutcome;
using test::Exists;
using test::NoiseBytes;
using test::ReadFile;
using test::RoadOutcome;
using test::TempDir;
using test::WriteFile;

std::string Quote(const std::string& text) { return "'" + text + "'"; }

int Shell(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1 </dev/null").c_str());
}

void CopyTree(const std::string& from, const std::string& to) {
  std::error_code ec;
  fs::remove_all(to, ec);
  fs::copy(from, to, fs::copy_options::recursive, ec);
  ASSERT_FALSE(ec) << ec.message();
}

class TrustedUpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::ClearProxyEnvironment();
    key = publish::NewSecretKey();
    otherKey = publish::NewSecretKey();
    std::string text, error;
    ASSERT_TRUE(publish::SecretKeyFileText(key, "", publish::MinisignKdfCost(), &text, &error)) << error;
    WriteFile(dir.file("update.key"), text);
    publicKey = PublicKeyText(key.Public());

    WriteFile(dir.file("layout.json"), R"({
      "packages": [{"key": "client.zip", "files": ["RuzaDivuzo226.exe", "bin/"]}],
      "default": "data.zip",
      "servers": [{"id": "12", "folder": "servers/12"}]})");
    WriteFile(master("RuzaDivuzo226.exe"), "the game");
    WriteFile(master("bin/engine.so"), NoiseBytes(300000, 1));
    WriteFile(master("data/a.bin"), NoiseBytes(200000, 2));
    WriteFile(master("servers/12/zone.cfg"), "zone 12, first");

    http.server().set_logger([this](const httplib::Request& req, const httplib::Response&) {
      std::lock_guard<std::mutex> lock(mutex);
      requested.push_back(req.path);
    });
    fs::create_directories(content());
    ASSERT_TRUE(http.server().set_mount_point("/", content()));
  }

  std::string master(const std::string& name) { return dir.file("master/" + name); }
  std::string content() { return dir.file("content"); }
  std::string base() { return http.url("/"); }

  // Publishes master into root, signed with the update key unless sign is false; the tree's
  // version manifest announces the running launcher's own version.
  void Publish(const std::string& root, bool sign) {
    WriteFile(root + "/PCVersion/1033/version.xml", "{\"version\": \"" + GetAppVersion() + "\", \"url\": \"" +
                                                        base() + "launchers/zarn\", \"serverlist\": \"" +
                                                        base() + "serverlist.xml\"}\n");
    std::vector<std::string> args = {
        "--from", dir.file("master"), "--layout", dir.file("layout.json"), "--out", root};
    if (sign) args.insert(args.end(), {"--secret-key", dir.file("update.key")});
    const test::ToolRun run = test::RunPublish(args, dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
  }

  RoadOutcome Update(const std::string& game) {
    test::RoadOptions options;
    options.serverId = "12";
    return test::RunUpdateSession(game, base(), options);
  }

  // The launcher information step as the page runs it: the version manifest (and, with a key,
  // its signature) fetched from the content tree.
  int LauncherInfo(const std::string& game) {
    test::EnvGuard cdn("ZARN_CDN_BASE_URL", base());
    GenericHTTPClient client;
    const FetchFunction fetch = [&client](const std::string& url) -> std::optional<std::string> {
      if (!client.FetchUrl(url.c_str())) return std::nullopt;
      return std::string(client.m_responseBody);
    };
    return zarn::LoadLauncherInfo(fetch, {}, game).result;
  }

  std::vector<std::string> TakeRequests() {
    std::lock_guard<std::mutex> lock(mutex);
    return std::exchange(requested, {});
  }

  TempDir dir;
  publish::SecretKey key, otherKey;
  std::string publicKey;
  test::HttpServer http;
  std::mutex mutex;
  std::vector<std::string> requested;
};

TEST_F(TrustedUpdateTest, RefusesEveryBadDownloadAndSignatureThenTheNextCorrectAttemptSucceeds) {
  http.Start();
  test::UpdateKeyGuard trusted(publicKey);
  // The player's game folder holds the first version; the second one is then published.
  Publish(content(), true);
  const std::string installed = dir.file("installed");
  WriteFile(installed + "/zarn", "the launcher");
  ASSERT_EQ(Update(installed).kind, RoadOutcome::kComplete);
  const std::string firstManifest = ReadFile(installed + "/update.xml");
  const std::string firstList = ReadFile(installed + "/Custom/12/12.data");
  ASSERT_EQ(ReadFile(installed + "/data/a.bin"), ReadFile(master("data/a.bin")));
  const std::string firstData = ReadFile(master("data/a.bin"));

  WriteFile(master("data/a.bin"), NoiseBytes(200001, 3));
  WriteFile(master("data/new.txt"), "new in the second version");
  WriteFile(master("servers/12/zone.cfg"), "zone 12, second");
  const std::string pristine = dir.file("pristine");
  Publish(pristine, true);
  std::string secondList;
  ASSERT_TRUE(ReadFirstLine(pristine + "/ClientData/12.md5", secondList));

  enum Target { kPackage, kServerArchive, kPackageManifest, kServerList, kVersionManifest };
  const std::map<Target, std::string> files = {
      {kPackage, "public/zip/data.zip"},
      {kServerArchive, "ClientData/12.zip"},
      {kPackageManifest, "public/update.xml"},
      {kServerList, "ClientData/12.md5"},
      {kVersionManifest, "PCVersion/1033/version.xml"},
  };
  using Change = std::function<void(const std::string& path, const std::string& treePath)>;
  const Change flipByte = [](const std::string& p, const std::string&) {
    std::string bytes = ReadFile(p);
    bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 0x20);
    WriteFile(p, bytes);
  };
  const Change dropByte = [](const std::string& p, const std::string&) {
    std::string bytes = ReadFile(p);
    WriteFile(p, bytes.erase(bytes.size() / 2, 1));
  };
  const Change addByte = [](const std::string& p, const std::string&) { WriteFile(p, ReadFile(p) + "x"); };
  const Change htmlPage = [](const std::string& p, const std::string&) {
    WriteFile(p, "<html><body><h1>502 Bad Gateway</h1></body></html>\n");
  };
  const Change empty = [](const std::string& p, const std::string&) { WriteFile(p, ""); };
  const Change noSignature = [](const std::string& p, const std::string&) {
    fs::remove(SignaturePathFor(p));
  };
  const Change otherKeySignature = [&](const std::string& p, const std::string& treePath) {
    std::string error;
    ASSERT_TRUE(publish::SignFile(otherKey, p, TrustedCommentFor(treePath), false, &error)) << error;
  };
  const Change otherFilesSignature = [&](const std::string& p, const std::string& treePath) {
    const std::string other = treePath == "public/update.xml" ? "ClientData/12.md5" : "public/update.xml";
    fs::copy_file(SignaturePathFor(content() + "/" + other), SignaturePathFor(p),
                  fs::copy_options::overwrite_existing);
  };
  const Change otherPathComment = [&](const std::string& p, const std::string&) {
    std::string error;
    ASSERT_TRUE(publish::SignFile(key, p, TrustedCommentFor("ClientData/13.md5"), false, &error)) << error;
  };
  const Change changedAfterSigning = [](const std::string& p, const std::string&) {
    WriteFile(p, ReadFile(p) + "\n");
  };
  const Change truncatedSignature = [](const std::string& p, const std::string&) {
    const std::string signature = ReadFile(SignaturePathFor(p));
    WriteFile(SignaturePathFor(p), signature.substr(0, signature.size() / 2));
  };

  struct Row {
    const char* name;
    Target target;
    Change change;
    int code;  // of the failed-download prompt
  };
  std::vector<Row> rows;
  for (Target t : {kPackage, kServerArchive}) {
    rows.push_back({"a flipped byte", t, flipByte, kErrorHashMismatch});
    rows.push_back({"one byte missing", t, dropByte, kErrorSizeMismatch});
    rows.push_back({"one byte more", t, addByte, kErrorSizeMismatch});
    rows.push_back({"an HTML page with status 200", t, htmlPage, kErrorSizeMismatch});
    rows.push_back({"an empty file", t, empty, kErrorSizeMismatch});
  }
  for (Target t : {kPackageManifest, kServerList, kVersionManifest}) {
    rows.push_back({"no signature", t, noSignature, kErrorSignatureRefused});
    rows.push_back({"a signature by another key", t, otherKeySignature, kErrorSignatureRefused});
    rows.push_back({"the signature of another file", t, otherFilesSignature, kErrorSignatureRefused});
    rows.push_back({"a trusted comment naming another path", t, otherPathComment, kErrorSignatureRefused});
    rows.push_back({"a document changed after signing", t, changedAfterSigning, kErrorSignatureRefused});
    rows.push_back({"a truncated signature", t, truncatedSignature, kErrorSignatureRefused});
  }

  for (const Row& row : rows) {
    const std::string what = files.at(row.target) + ": " + row.name;
    SCOPED_TRACE(what);
    CopyTree(pristine, content());
    row.change(content() + "/" + files.at(row.target), files.at(row.target));
    const std::string game = dir.file("game");
    CopyTree(installed, game);

    if (row.target == kVersionManifest) {
      // "下载版本文件失败,是否重新下载?": nothing queued, no folder for a new launcher.
      EXPECT_EQ(LauncherInfo(game), kLauncherInfoFailed);
      EXPECT_FALSE(Exists(game + "/temp"));
    } else {
      const RoadOutcome outcome = Update(game);
      EXPECT_EQ(outcome.kind, RoadOutcome::kDownloadFailed) << DescribeOutcome(outcome);
      EXPECT_EQ(outcome.code, row.code) << DescribeOutcome(outcome);
      EXPECT_NE(outcome.text.find(std::to_string(row.code)), std::string::npos) << outcome.text;
      // The refused file itself is gone; a refused document leaves no signature behind either.
      EXPECT_FALSE(Exists(outcome.localPath)) << outcome.localPath;
      EXPECT_FALSE(Exists(SignaturePathFor(outcome.localPath)));
    }
    // Nothing of the refused server data was unpacked or recorded.
    EXPECT_EQ(ReadFile(game + "/Custom/12/zone.cfg"), "zone 12, first");
    EXPECT_EQ(ReadFile(game + "/Custom/12/12.data"), firstList);
    EXPECT_EQ(ReadFile(game + "/zarn"), "the launcher");
    if (row.target == kServerArchive || row.target == kServerList) {
      // The packages came first and were sound: they are in place and committed.
      EXPECT_EQ(ReadFile(game + "/update.xml"), ReadFile(pristine + "/public/update.xml"));
      EXPECT_EQ(ReadFile(game + "/data/new.txt"), "new in the second version");
    } else {
      EXPECT_EQ(ReadFile(game + "/update.xml"), firstManifest);
      EXPECT_EQ(ReadFile(game + "/data/a.bin"), firstData);
      EXPECT_FALSE(Exists(game + "/data/new.txt"));
    }

    // The operator puts the correct files back: the same game folder comes up to date.
    CopyTree(pristine, content());
    if (row.target == kVersionManifest) {
      EXPECT_EQ(LauncherInfo(game), kLauncherCurrent);
      continue;
    }
    const RoadOutcome retry = Update(game);
    EXPECT_EQ(retry.kind, RoadOutcome::kComplete) << DescribeOutcome(retry);
    EXPECT_EQ(ReadFile(game + "/data/a.bin"), ReadFile(master("data/a.bin")));
    EXPECT_EQ(ReadFile(game + "/Custom/12/zone.cfg"), "zone 12, second");
    EXPECT_EQ(ReadFile(game + "/Custom/12/12.data"), secondList);
    EXPECT_EQ(ReadFile(game + "/update.xml"), ReadFile(pristine + "/public/update.xml"));
  }
}

TEST_F(TrustedUpdateTest, UpdatesFromATreeSignedWithTheMinisignProgram) {
  http.Start();
  ASSERT_EQ(Shell(std::string(ZARN_MINISIGN) + " -G -W -p " + Quote(dir.file("m.pub")) + " -s " +
                  Quote(dir.file("m.key"))),
            0);
  const std::string pub = ReadFile(dir.file("m.pub"));
  test::UpdateKeyGuard trusted(pub.substr(pub.find('\n') + 1, 56));
  Publish(content(), false);
  for (const std::string treePath : {"public/update.xml", "ClientData/12.md5", "PCVersion/1033/version.xml"})
    ASSERT_EQ(Shell(std::string(ZARN_MINISIGN) + " -S -s " + Quote(dir.file("m.key")) + " -m " +
                    Quote(content() + "/" + treePath) + " -t " + Quote("file:" + treePath)),
              0)
        << treePath;
  const std::string game = dir.file("game");
  EXPECT_EQ(LauncherInfo(game), kLauncherCurrent);
  const RoadOutcome outcome = Update(game);
  ASSERT_EQ(outcome.kind, RoadOutcome::kComplete) << DescribeOutcome(outcome);
  EXPECT_EQ(ReadFile(game + "/data/a.bin"), ReadFile(master("data/a.bin")));
  EXPECT_EQ(ReadFile(game + "/Custom/12/zone.cfg"), "zone 12, first");
  // A tree signed by zarn-publish's key is not signed by this one.
  Publish(content(), true);
  EXPECT_EQ(LauncherInfo(game), kLauncherInfoFailed);
  EXPECT_EQ(Update(dir.file("game2")).code, kErrorSignatureRefused);
}

TEST_F(TrustedUpdateTest, WithoutAKeyUpdatesFromAnUnsignedTreeAndAsksForNoSignature) {
  http.Start();
  test::UpdateKeyGuard none("");
  Publish(content(), false);
  const std::string game = dir.file("game");
  EXPECT_EQ(LauncherInfo(game), kLauncherCurrent);
  const RoadOutcome outcome = Update(game);
  ASSERT_EQ(outcome.kind, RoadOutcome::kComplete) << DescribeOutcome(outcome);
  EXPECT_EQ(ReadFile(game + "/data/a.bin"), ReadFile(master("data/a.bin")));
  EXPECT_TRUE(test::WaitFor([&] {
    std::lock_guard<std::mutex> lock(mutex);
    return requested.size() >= 6;
  }));
  const std::vector<std::string> paths = TakeRequests();
  for (const std::string& path : paths) EXPECT_EQ(path.find(".minisig"), std::string::npos) << path;
  EXPECT_EQ(paths, (std::vector<std::string>{"/PCVersion/1033/version.xml", "/public/update.xml",
                                             "/public/zip/client.zip", "/public/zip/data.zip",
                                             "/ClientData/12.md5", "/ClientData/12.zip"}));
}

}  // namespace
}  // namespace zarn

namespace zarn {
namespace {

// What a document announces; a value of another form announces nothing (the download is then
// taken as it arrives, unchecked), never a check that every download fails.
TEST(AnnouncementsTest, ReadOnlyWellFormedValues) {
  TempDir dir;
  const std::string hash(64, 'a');
  WriteFile(dir.file("update.xml"),
            "<?xml version=\"1.0\"?><u>"
            "<f key=\"a.zip\" md5=\"1\" size=\"10\" sha256=\"" +
                hash +
                "\"/>"
                "<f key=\"b.zip\" md5=\"1\" size=\"-3\" sha256=\"abc\"/>"
                "<f key=\"c.zip\" md5=\"1\"/>"
                "<f key=\"a.zip\" md5=\"2\" size=\"11\"/></u>");
  const auto packages = LoadPackageAnnouncements(dir.file("update.xml"));
  ASSERT_EQ(packages.size(), 3u);
  EXPECT_EQ(packages.at("a.zip").size, 11);  // the later entry wins, as for the version text
  EXPECT_EQ(packages.at("a.zip").sha256, "");
  EXPECT_EQ(packages.at("b.zip").size, -1);
  EXPECT_EQ(packages.at("b.zip").sha256, "");
  EXPECT_EQ(packages.at("c.zip").size, -1);

  struct Row {
    std::string text;
    int64_t size;
    std::string sha256;
  };
  const std::vector<Row> rows = {
      {"v1\r\nsize 42\r\nsha256 " + hash + "\r\n", 42, hash},
      {"v1\nsha256 " + hash + "\nsize 7", 7, hash},
      {"size 42\n", -1, ""},  // the first line is the data version, never an announcement
      {"v1\nsize 4x2\nsha256 " + hash.substr(1) + "\n", -1, ""},
      {"v1\nsize  42\nSHA256 " + hash + "\n", -1, ""},
      {"", -1, ""},
  };
  for (const Row& row : rows) {
    WriteFile(dir.file("12.data"), row.text);
    const DownloadExpectations got = LoadServerArchiveAnnouncement(dir.file("12.data"));
    EXPECT_EQ(got.size, row.size) << row.text;
    EXPECT_EQ(got.sha256, row.sha256) << row.text;
  }
}

// The page's check of the arrived new launcher: a refusal turns the finished download into a
// failed one (the failed-download prompt) and deletes the file; a failed download stays as it was.
TEST(NewLauncherDownloadTest, ARefusedFileFailsTheDownload) {
  TempDir dir;
  const std::string path = dir.file("temp/zarn");
  WriteFile(path, "<html><body>502 Bad Gateway</body></html>\n");
  EXPECT_EQ(CheckNewLauncherDownload(path, {}, 0), kErrorNotALauncher);
  EXPECT_FALSE(Exists(path));
  EXPECT_EQ(CheckNewLauncherDownload(path, {}, 404), 404);
  const std::string program = ReadFile("/bin/true");
  WriteFile(path, program);
  EXPECT_EQ(CheckNewLauncherDownload(path, {program.size(), Sha256Hex(program), ""}, 0), 0);
  EXPECT_TRUE(Exists(path));
  EXPECT_EQ(CheckNewLauncherDownload(path, {program.size() + 1, "", ""}, 0), kErrorNotALauncher);
  EXPECT_FALSE(Exists(path));
}

}  // namespace
}  // namespace zarn
