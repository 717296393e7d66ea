#include "FaultCases.h"

#include <unistd.h>

#include <ostream>
#include <stdexcept>

#include "net/CFileDown.h"
#include "update/Extract.h"

namespace zarn::test {
namespace {

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

}  // namespace

std::string AbsoluteProbe() { return "/tmp/zarn-fault-absolute-" + std::to_string(::getpid()) + ".txt"; }

namespace {

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
    // Without a length the end of the connection ends the body: the cut goes unnoticed until
    // the archive does not open.
    {"PackageCutShortWithoutLength",
     [](FaultFixture& f, std::string&) {
       f.server.Misbehave("/public/zip/b.zip", With(Fault::kCutNoLength, 100000));
     },
     RoadOutcome::kExtractFailed, kExtractNotOpened, "download/b.zip", 100000},
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

}  // namespace

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

const std::vector<FaultCase>& FaultCases() {
  static const std::vector<FaultCase> cases(std::begin(kCases), std::end(kCases));
  return cases;
}

}  // namespace zarn::test
