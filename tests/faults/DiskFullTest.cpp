// The disk filling up during a download and during an extraction. Two ways to fill it: a file
// size limit on the launcher process (RLIMIT_FSIZE: writes past it fail with EFBIG; works
// without privileges), and a small file system of its own as the game folder (a tmpfs in a
// mount namespace of the test: writes fail with ENOSPC as on a full disk; needs the right to
// mount, skipped without it).
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/statvfs.h>

#include <cerrno>
#include <cstring>

#include "ChildProcess.h"
#include "FaultFixture.h"
#include "update/Extract.h"

namespace zarn::test {
namespace {

enum class Filler { kFileSizeLimit, kSmallFileSystem };

struct DiskCase {
  const char* name;
  Filler filler;
  bool bigEntry;         // b.zip holds a 2 MiB entry: the archive fits, its unpacked file does not
  std::string expected;  // the driver's outcome line, up to the failed path
};

void PrintTo(const DiskCase& c, std::ostream* os) { *os << c.name; }

const DiskCase kCases[] = {
    {"DownloadPastAFileSizeLimit", Filler::kFileSizeLimit, false,
     "download-failed " + std::to_string(-EFBIG) + " "},
    {"ExtractionPastAFileSizeLimit", Filler::kFileSizeLimit, true,
     "extract-failed " + std::to_string(kExtractEntryFailed) + " "},
    {"DownloadOntoAFullFileSystem", Filler::kSmallFileSystem, false,
     "download-failed " + std::to_string(-ENOSPC) + " "},
    {"ExtractionOntoAFullFileSystem", Filler::kSmallFileSystem, true,
     "extract-failed " + std::to_string(kExtractEntryFailed) + " "},
};

uint64_t UsedBytes(const std::string& path) {
  struct statvfs s {};
  ::statvfs(path.c_str(), &s);
  return (s.f_blocks - s.f_bfree) * s.f_frsize;
}

class DiskFullTest : public ::testing::TestWithParam<DiskCase> {
 protected:
  void TearDown() override {
    if (mounted_) ::umount2(f.game.dir.c_str(), MNT_DETACH);
  }
  // The game folder on a tmpfs of its own, invisible outside this process and its children.
  bool MountGameFolder() {
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", f.game.dir.c_str(), "tmpfs", 0, "size=64m") != 0) {
      reason_ = std::strerror(errno);
      return false;
    }
    mounted_ = true;
    f.ResetGameFolder();
    return true;
  }
  bool Resize(uint64_t bytes) {
    return ::mount("tmpfs", f.game.dir.c_str(), "tmpfs", MS_REMOUNT,
                   ("size=" + std::to_string(bytes)).c_str()) == 0;
  }
  std::string Run(std::vector<std::string> extra) {
    std::vector<std::string> args{"update", f.game.dir, f.server.base(), "--server", "12"};
    args.insert(args.end(), extra.begin(), extra.end());
    ChildProcess launcher(FaultDriverPath(), args, output.file("run-" + std::to_string(++runs_) + ".txt"));
    launcher.Wait();
    return launcher.Output();
  }

  FaultFixture f;
  TempDir output;
  bool mounted_ = false;
  std::string reason_;
  int runs_ = 0;
};

TEST_P(DiskFullTest, UpdateFailsUnclaimedAndCompletesOnceThereIsRoom) {
  const DiskCase& c = GetParam();
  Package& b = f.content.published[1];
  if (c.bigEntry) b.entries[0].data = TextBytes(2 << 20, 40);
  f.PublishAll();
  const size_t archiveBytes = ZipBytes(b.entries).size();

  std::vector<std::string> limit;
  if (c.filler == Filler::kFileSizeLimit) {
    // Room for a.zip and for b.zip as a download, less than the file that overflows.
    const size_t bytes = c.bigEntry ? archiveBytes + 1000 : archiveBytes / 2;
    limit = {"--fsize", std::to_string(bytes)};
  } else {
    if (!MountGameFolder()) GTEST_SKIP() << "cannot mount a small file system here: " << reason_;
    const uint64_t room = c.bigEntry ? archiveBytes + 400000 : archiveBytes / 2;
    ASSERT_TRUE(Resize(UsedBytes(f.game.dir) + room)) << std::strerror(errno);
  }

  const std::string first = Run(limit);
  // Either way the player is told about b.zip: its download, or its unpacking.
  EXPECT_NE(first.find(c.expected + f.game.dir + "/download/b.zip"), std::string::npos) << first;
  EXPECT_EQ(ReadFile(f.game.dir + "/update.xml"), f.installedManifest);
  EXPECT_TRUE(IsUnpacked(f.game.dir, f.content.published[0]));
  f.ExpectConsistent("after the disk filled up");

  // The player makes room and starts again.
  if (mounted_) {
    ASSERT_TRUE(Resize(64 << 20));
  }
  const std::string next = Run({});
  EXPECT_NE(next.find("\ncomplete\n"), std::string::npos) << next;
  f.ExpectComplete("after the next start");
}

INSTANTIATE_TEST_SUITE_P(Disks, DiskFullTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zarn::test
