// Network and archive faults met on the update road: what the player is told (the download
// report code that the retry prompt shows, or the extraction result behind "解压文件失败!!"),
// what the game folder holds afterwards, and that the next start completes the update.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <functional>

#include "FaultFixture.h"
#include "UpdateRoad.h"
#include "net/CFileDown.h"
#include "update/Extract.h"

namespace zarn::test {
namespace {

using namespace std::chrono_literals;

// The two sizes of an entry, written over its local and its central header.
std::string WithDeclaredSize(std::string zip, const std::string& name, uint32_t size) {
  auto put32 = [&zip](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) zip[at + i] = static_cast<char>(v >> (8 * i));
  };
  auto u16 = [&zip](size_t at) {
    return static_cast<size_t>(static_cast<unsigned char>(zip[at]) | static_cast<unsigned char>(zip[at + 1])
                                                                         << 8);
  };
  int patched = 0;
  for (size_t at = 0; at + 46 < zip.size(); ++at) {
    if (zip.compare(at, 4, "PK\3\4") == 0 && zip.compare(at + 30, name.size(), name) == 0 &&
        u16(at + 26) == name.size()) {
      put32(at + 22, size);
      ++patched;
    } else if (zip.compare(at, 4, "PK\1\2") == 0 && zip.compare(at + 46, name.size(), name) == 0 &&
               u16(at + 28) == name.size()) {
      put32(at + 24, size);
      ++patched;
    }
  }
  if (patched != 2) throw std::runtime_error("entry not found: " + name);
  return zip;
}

// Flips bytes in the middle of an entry's compressed data.
std::string WithDamagedEntry(std::string zip, const std::string& name) {
  const std::string header = std::string("PK\3\4");
  for (size_t at = zip.find(header); at != std::string::npos; at = zip.find(header, at + 1)) {
    if (zip.compare(at + 30, name.size(), name) != 0) continue;
    const size_t data =
        at + 30 + name.size() +
        (static_cast<unsigned char>(zip[at + 28]) | static_cast<unsigned char>(zip[at + 29]) << 8);
    for (size_t i = 0; i < 64; ++i) zip[data + 200 + i] = static_cast<char>(~zip[data + 200 + i]);
    return zip;
  }
  throw std::runtime_error("entry not found: " + name);
}

std::string AbsoluteProbe() { return "/tmp/zarn-fault-absolute-" + std::to_string(::getpid()) + ".txt"; }

struct FaultCase {
  const char* name;
  // Sets the fault up on the fixture's server (and may point the road elsewhere).
  std::function<void(FaultFixture&, std::string& base)> arrange;
  RoadOutcome::Kind kind;
  int code;                // download report code or extraction result
  const char* failedPath;  // relative to the game folder; the path the prompt names
  long localBytes;         // bytes of that file afterwards; -1: it does not exist
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

Route With(Fault fault, size_t bytes = 0, int status = 0, std::string location = {}) {
  Route r;
  r.fault = fault;
  r.bytes = bytes;
  r.status = status;
  r.location = std::move(location);
  return r;
}

std::vector<ZipEntry> BWith(std::vector<ZipEntry> extra) {
  std::vector<ZipEntry> entries = Content::Make().published[1].entries;
  entries.insert(entries.begin() + 1, extra.begin(), extra.end());
  return entries;
}

const FaultCase kCases[] = {
    {"ContentServerDown",
     [](FaultFixture&, std::string& base) {
       base = "http://127.0.0.1:" + std::to_string(UnusedPort()) + "/";
     },
     RoadOutcome::kDownloadFailed, 7, "update.down", -1},
    {"ManifestNotFound",
     [](FaultFixture& f, std::string&) {
       f.server.Misbehave("/public/update.xml", With(Fault::kStatus, 0, 404));
     },
     RoadOutcome::kDownloadFailed, 404, "update.down", -1},
    {"PackageNotFound",
     [](FaultFixture& f, std::string&) {
       f.server.Misbehave("/public/zip/b.zip", With(Fault::kStatus, 0, 404));
     },
     RoadOutcome::kDownloadFailed, 404, "download/b.zip", -1},
    {"PackageServerError",
     [](FaultFixture& f, std::string&) {
       f.server.Misbehave("/public/zip/b.zip", With(Fault::kStatus, 0, 500));
     },
     RoadOutcome::kDownloadFailed, 500, "download/b.zip", -1},
    {"PackageCutShort",
     [](FaultFixture& f, std::string&) {
       f.server.Misbehave("/public/zip/b.zip", With(Fault::kShortBody, 100000));
     },
     RoadOutcome::kDownloadFailed, kErrorShortReply, "download/b.zip", 100000},
    {"PackageStallsBeforeItsHead",
     [](FaultFixture& f, std::string&) { f.server.Misbehave("/public/zip/b.zip", With(Fault::kStallHead)); },
     RoadOutcome::kDownloadFailed, kErrorTimedOut, "download/b.zip", -1},
    {"PackageStallsMidBody",
     [](FaultFixture& f, std::string&) {
       f.server.Misbehave("/public/zip/b.zip", With(Fault::kStallBody, 70000));
     },
     RoadOutcome::kDownloadFailed, kErrorTimedOut, "download/b.zip", 70000},
    {"RedirectLoop",
     [](FaultFixture& f, std::string&) {
       f.server.Misbehave("/public/zip/b.zip", With(Fault::kRedirect, 0, 0, "/public/zip/b.zip"));
     },
     RoadOutcome::kDownloadFailed, 47, "download/b.zip", -1},
    {"RedirectToALocalFile",
     [](FaultFixture& f, std::string&) {
       f.server.Misbehave("/public/zip/b.zip", With(Fault::kRedirect, 0, 0, "file:///etc/passwd"));
     },
     RoadOutcome::kDownloadFailed, 1, "download/b.zip", -1},
    {"RedirectToAMissingFile",
     [](FaultFixture& f, std::string&) {
       f.server.Misbehave("/public/zip/b.zip", With(Fault::kRedirect, 0, 0, "/gone/b.zip"));
     },
     RoadOutcome::kDownloadFailed, 404, "download/b.zip", -1},
    {"RedirectToAMirror",
     [](FaultFixture& f, std::string&) {
       f.server.Serve("/mirror/b.zip", ZipBytes(f.content.published[1].entries));
       f.server.Misbehave("/public/zip/b.zip", With(Fault::kRedirect, 0, 0, "/mirror/b.zip"));
     },
     RoadOutcome::kComplete, 0, "", -1},
    {"ServerListServerError",
     [](FaultFixture& f, std::string&) {
       f.server.Misbehave("/ClientData/12.md5", With(Fault::kStatus, 0, 500));
     },
     RoadOutcome::kDownloadFailed, 500, "download/12.data", -1},
    {"ServerArchiveStalls",
     [](FaultFixture& f, std::string&) {
       f.server.Misbehave("/ClientData/12.zip", With(Fault::kStallBody, 100));
     },
     RoadOutcome::kDownloadFailed, kErrorTimedOut, "Custom/12.zip", 100},
    // Archives that arrive whole but cannot or must not be unpacked.
    {"PackageIsAnErrorPage",
     [](FaultFixture& f, std::string&) { f.server.Serve("/public/zip/b.zip", "<html>busy</html>"); },
     RoadOutcome::kExtractFailed, kExtractNotOpened, "download/b.zip", 17},
    {"PackageIsHalfAnArchive",
     [](FaultFixture& f, std::string&) {
       const std::string zip = ZipBytes(f.content.published[1].entries);
       f.server.Serve("/public/zip/b.zip", zip.substr(0, zip.size() / 2));
     },
     RoadOutcome::kExtractFailed, kExtractNotOpened, "download/b.zip", -2},
    {"PackageEntryDamaged",
     [](FaultFixture& f, std::string&) {
       f.server.Serve("/public/zip/b.zip",
                      WithDamagedEntry(ZipBytes(f.content.published[1].entries), "b/b2.bin"));
     },
     RoadOutcome::kExtractFailed, kExtractEntryFailed, "download/b.zip", -2},
    {"PackageDeclaresAHugeSize",
     [](FaultFixture& f, std::string&) {
       f.server.Serve("/public/zip/b.zip",
                      WithDeclaredSize(ZipBytes(f.content.published[1].entries), "b/b1.txt", 0x7FFFFFF0u));
     },
     RoadOutcome::kExtractFailed, kExtractEntryFailed, "download/b.zip", -2},
    {"PackageClimbsOut",
     [](FaultFixture& f, std::string&) {
       f.server.Serve("/public/zip/b.zip", ZipBytes(BWith({{"../player-notes.txt", "owned"}})));
     },
     RoadOutcome::kExtractFailed, kExtractNotCreatable, "download/b.zip", -2},
    {"PackageClimbsOutWithBackslashes",
     [](FaultFixture& f, std::string&) {
       f.server.Serve("/public/zip/b.zip", ZipBytes(BWith({{"b\\..\\..\\..\\evil.txt", "owned"}})));
     },
     RoadOutcome::kExtractFailed, kExtractNotCreatable, "download/b.zip", -2},
    {"PackageNamesAnAbsolutePath",
     [](FaultFixture& f, std::string&) {
       f.server.Serve("/public/zip/b.zip", ZipBytes(BWith({{AbsoluteProbe(), "owned"}})));
     },
     RoadOutcome::kExtractFailed, kExtractNotCreatable, "download/b.zip", -2},
    {"ServerArchiveClimbsOut",
     [](FaultFixture& f, std::string&) {
       f.server.Serve("/ClientData/12.zip",
                      ZipBytes({{"map/12.map", "x"}, {"../../update.xml", "<update/>"}}));
     },
     RoadOutcome::kExtractFailed, kExtractNotCreatable, "Custom/12.zip", -2},
};

class RoadFaultTest : public ::testing::TestWithParam<FaultCase> {};

TEST_P(RoadFaultTest, PlayerIsToldFolderStaysRepairableAndTheNextStartCompletes) {
  const FaultCase& c = GetParam();
  FaultFixture f;
  RoadOptions options;
  options.serverId = "12";
  options.download.connectTimeout = 500ms;
  options.download.receiveTimeout = 700ms;
  std::string base = f.server.base();
  c.arrange(f, base);
  const bool absoluteExisted = Exists(AbsoluteProbe());

  const RoadOutcome outcome = RunUpdateRoad(f.game.dir, base, options);
  EXPECT_EQ(outcome.kind, c.kind) << DescribeOutcome(outcome);
  EXPECT_EQ(outcome.code, c.code) << DescribeOutcome(outcome);
  if (c.kind != RoadOutcome::kComplete) {
    const std::string failed = f.game.dir + "/" + c.failedPath;
    EXPECT_EQ(outcome.localPath, failed);
    if (c.localBytes == -1) {
      EXPECT_FALSE(Exists(failed));
    } else if (c.localBytes == -2) {
      // The archive stays where it was downloaded, for the next attempt to replace.
      EXPECT_TRUE(Exists(failed));
    } else {
      EXPECT_EQ(static_cast<long>(ReadFile(failed).size()), c.localBytes);
    }
    // The packages are claimed only once all of them are unpacked; the server's own data comes
    // after that commit.
    const bool serverStep = std::string(c.failedPath).find("12.") != std::string::npos;
    EXPECT_EQ(ReadFile(f.game.dir + "/update.xml"),
              serverStep ? ManifestXml(f.content.published) : f.installedManifest);
    EXPECT_TRUE(!serverStep || ReadFile(f.game.dir + "/Custom/12/12.data") == "srv-1");
  }
  EXPECT_EQ(Exists(AbsoluteProbe()), absoluteExisted);
  f.ExpectConsistent("after the fault");
  EXPECT_TRUE(IsUnpacked(f.game.dir, f.content.installed[2])) << "a package not chosen was touched";

  // The next start, with the network and the publisher sound again.
  f.PublishAll();
  const RoadOutcome next = RunUpdateRoad(f.game.dir, f.server.base(), options);
  EXPECT_EQ(next.kind, RoadOutcome::kComplete) << DescribeOutcome(next);
  f.ExpectComplete("after the next start");
}

INSTANTIATE_TEST_SUITE_P(Faults, RoadFaultTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A publisher's keys that would name files outside the download folder are never fetched.
TEST(HostileManifestTest, KeysOutsideTheDownloadFolderAreNotFetched) {
  FaultFixture f;
  std::vector<Package> published = f.content.published;
  published.push_back({"../escape.zip", "1", {{"x.txt", "x"}}});
  published.push_back({"/tmp/abs.zip", "1", {{"x.txt", "x"}}});
  published.push_back({"sub\\..\\..\\back.zip", "1", {{"x.txt", "x"}}});
  f.server.Serve("/public/update.xml", ManifestXml(published));
  RoadOptions options;
  options.serverId = "12";
  const RoadOutcome outcome = RunUpdateRoad(f.game.dir, f.server.base(), options);
  EXPECT_EQ(outcome.kind, RoadOutcome::kComplete) << DescribeOutcome(outcome);
  EXPECT_EQ(outcome.packagesChosen, 3);  // a, b, c
  // The manifest, a, b and c, the server list and its archive: nothing else was asked for.
  EXPECT_EQ(f.server.TotalHits(), 6);
  EXPECT_TRUE(f.game.ParentSnapshot() == f.parentBefore);
  for (const Package& p : f.content.published) EXPECT_TRUE(IsUnpacked(f.game.dir, p)) << p.key;
}

}  // namespace
}  // namespace zarn::test
