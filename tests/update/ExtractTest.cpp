#include "update/Extract.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <set>

#include "support/TestSupport.h"
#include "update/ZipBuilder.h"

namespace zarn {
namespace {

namespace fs = std::filesystem;
using test::Exists;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;
using test::WriteZip;
using test::ZipEntry;

// Every file and folder below root, as relative paths ("sub/" for folders).
std::set<std::string> Tree(const std::string& root) {
  std::set<std::string> out;
  if (!fs::exists(root)) return out;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    std::string rel = fs::relative(e.path(), root).string();
    if (e.is_directory() && !e.is_symlink()) rel += "/";
    out.insert(rel);
  }
  return out;
}

std::string RandomBytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

// Text that deflate shrinks, with some noise so it is not trivial.
std::string TextBytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  static const char* words[] = {"map ", "tile ", "sprite ", "kelmar ", "zone\n", "0123 "};
  std::string s;
  while (s.size() < n) s += words[rng() % 6];
  s.resize(n);
  return s;
}

int Extract(const std::string& archive, const std::string& dest) { return ExtractArchive(archive, dest); }

class ExtractTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::string archive = dir.file("pack.zip");
  std::string dest = dir.file("game") + "/";
};

TEST_F(ExtractTest, CreatesNestedFoldersAndFilesWithEitherSeparator) {
  WriteZip(archive, {{"data/map/a.bin", "alpha"},
                     {"top.txt", "top", true},
                     {"data\\map\\b.bin", "beta"},
                     {"deep/x/y/z/c.bin", TextBytes(5000, 1)}});
  ASSERT_EQ(Extract(archive, dest), kExtractOk);
  EXPECT_EQ(ReadFile(dest + "data/map/a.bin"), "alpha");
  EXPECT_EQ(ReadFile(dest + "data/map/b.bin"), "beta");
  EXPECT_EQ(ReadFile(dest + "top.txt"), "top");
  EXPECT_EQ(ReadFile(dest + "deep/x/y/z/c.bin"), TextBytes(5000, 1));
  EXPECT_EQ(Tree(dest),
            (std::set<std::string>{"data/", "data/map/", "data/map/a.bin", "data/map/b.bin", "deep/",
                                   "deep/x/", "deep/x/y/", "deep/x/y/z/", "deep/x/y/z/c.bin", "top.txt"}));
  EXPECT_TRUE(Exists(archive)) << "the archive is the caller's to delete";
}

TEST_F(ExtractTest, FolderEntriesCreateNothing) {
  WriteZip(archive, {{"data/", ""}, {"empty/", ""}, {"other\\", ""}, {"data/file.txt", "f"}});
  ASSERT_EQ(Extract(archive, dest), kExtractOk);
  EXPECT_EQ(Tree(dest), (std::set<std::string>{"data/", "data/file.txt"}));
}

TEST_F(ExtractTest, ZeroSizeEntryTruncatesALongerFile) {
  WriteFile(dest + "cfg/empty.ini", std::string(10000, 'x'));
  WriteFile(dest + "stored.ini", "old contents");
  WriteFile(dest + "shorter.txt", "a long old text that must not survive");
  WriteZip(archive, {{"cfg/empty.ini", ""}, {"stored.ini", "", true}, {"shorter.txt", "new"}});
  ASSERT_EQ(Extract(archive, dest), kExtractOk);
  EXPECT_EQ(fs::file_size(dest + "cfg/empty.ini"), 0u);
  EXPECT_EQ(fs::file_size(dest + "stored.ini"), 0u);
  EXPECT_EQ(ReadFile(dest + "shorter.txt"), "new");
}

TEST_F(ExtractTest, EntriesLargerThanTheBufferArriveWhole) {
  const std::string random = RandomBytes(3 * 1048576 + 12345, 7);
  const std::string text = TextBytes(5 * 1048576 + 1, 8);
  WriteZip(archive, {{"random.bin", random},
                     {"text.bin", text},
                     {"stored.bin", random, true},
                     {"exact.bin", RandomBytes(1048576, 9)}});
  ASSERT_EQ(Extract(archive, dest), kExtractOk);
  EXPECT_TRUE(ReadFile(dest + "random.bin") == random);
  EXPECT_TRUE(ReadFile(dest + "text.bin") == text);
  EXPECT_TRUE(ReadFile(dest + "stored.bin") == random);
  EXPECT_TRUE(ReadFile(dest + "exact.bin") == RandomBytes(1048576, 9));
}

TEST_F(ExtractTest, DestinationWithoutTrailingSeparatorStillHoldsTheFiles) {
  WriteZip(archive, {{"a.txt", "a"}});
  ASSERT_EQ(Extract(archive, dir.file("plain")), kExtractOk);
  EXPECT_EQ(ReadFile(dir.file("plain/a.txt")), "a");
  EXPECT_FALSE(Exists(dir.file("plaina.txt")));
}

TEST_F(ExtractTest, CountersFollowTheEntries) {
  WriteZip(archive, {{"a", "1"}, {"b/", ""}, {"b/c", "2"}, {"d", "3"}});
  std::atomic<int32_t> total{-1}, index{-1};
  ExtractOptions options;
  options.total = &total;
  options.index = &index;
  ASSERT_EQ(ExtractArchive(archive, dest, options), kExtractOk);
  EXPECT_EQ(total.load(), 4);
  EXPECT_EQ(index.load(), 3);
}

TEST_F(ExtractTest, RestsAfterEachFile) {
  std::vector<ZipEntry> entries;
  for (int i = 0; i < 40; ++i) entries.push_back({"f" + std::to_string(i), "x"});
  entries.push_back({"folder/", ""});
  WriteZip(archive, entries);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(Extract(archive, dest), kExtractOk);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(40));
}

// ---- Failures -----------------------------------------------------------------------------------

TEST_F(ExtractTest, NotAZipDoesNotOpen) {
  WriteFile(archive, "this is a text file, not an archive\n");
  EXPECT_EQ(Extract(archive, dest), kExtractNotOpened);
  WriteFile(archive, "");
  EXPECT_EQ(Extract(archive, dest), kExtractNotOpened);
  EXPECT_EQ(Extract(dir.file("missing.zip"), dest), kExtractNotOpened);
  EXPECT_TRUE(Tree(dest).empty());
  EXPECT_TRUE(Exists(archive));
}

TEST_F(ExtractTest, TruncatedArchiveDoesNotOpen) {
  WriteZip(archive, {{"a.bin", RandomBytes(100000, 3)}});
  const std::string bytes = ReadFile(archive);
  WriteFile(archive, bytes.substr(0, bytes.size() / 2));
  EXPECT_EQ(Extract(archive, dest), kExtractNotOpened);
}

TEST_F(ExtractTest, TargetThatCannotBeCreated) {
  WriteFile(dest + "blocker", "a file where a folder is needed");
  WriteZip(archive, {{"first.txt", "1"}, {"blocker/x.bin", "x"}, {"after.txt", "3"}});
  EXPECT_EQ(Extract(archive, dest), kExtractNotCreatable);
  EXPECT_EQ(ReadFile(dest + "first.txt"), "1");
  EXPECT_EQ(ReadFile(dest + "blocker"), "a file where a folder is needed");
  EXPECT_FALSE(Exists(dest + "after.txt"));

  fs::create_directories(dest + "adir");
  WriteZip(archive, {{"adir", "a folder is in the way"}});
  EXPECT_EQ(Extract(archive, dest), kExtractNotCreatable);
  EXPECT_TRUE(fs::is_directory(dest + "adir"));
}

TEST_F(ExtractTest, CorruptEntryFailsAndEarlierFilesStay) {
  const std::string marker = "MARKER-" + std::string(4000, 'q') + "-END";
  WriteZip(archive, {{"first.txt", "first"}, {"second.bin", marker, true}, {"third.txt", "third"}});
  std::string bytes = ReadFile(archive);
  const size_t at = bytes.find(marker);
  ASSERT_NE(at, std::string::npos);
  bytes[at + 100] = 'Z';  // the stored data no longer matches its checksum
  WriteFile(archive, bytes);
  EXPECT_EQ(Extract(archive, dest), kExtractEntryFailed);
  EXPECT_EQ(ReadFile(dest + "first.txt"), "first");
  EXPECT_FALSE(Exists(dest + "third.txt"));
}

TEST_F(ExtractTest, DamagedCompressedDataFails) {
  WriteZip(archive, {{"big.bin", TextBytes(2 * 1048576, 5)}});
  std::string bytes = ReadFile(archive);
  for (size_t i = bytes.size() / 3; i < bytes.size() / 3 + 64; ++i)
    bytes[i] = static_cast<char>(bytes[i] ^ 0x5A);
  WriteFile(archive, bytes);
  EXPECT_EQ(Extract(archive, dest), kExtractEntryFailed);
}

TEST_F(ExtractTest, WriteFailureIsNotSuccess) {
  // A linked folder leads to a device that takes no data.
  fs::create_directories(dest);
  fs::create_directory_symlink("/dev", dest + "dev");
  WriteZip(archive, {{"dev/full", TextBytes(100000, 2)}});
  EXPECT_EQ(Extract(archive, dest), kExtractEntryFailed);
}

// Links in the game folder. A link where an entry's file goes is replaced by the file: what it
// points to (anywhere on the disk) is never written. A folder the player moved to another disk
// and linked back keeps receiving its files.
TEST_F(ExtractTest, LinksAtTheFilesPlaceAreReplacedLinkedFoldersAreFollowed) {
  TempDir outside, otherDisk;
  fs::create_directories(dest);
  WriteFile(outside.file("victim.txt"), "not yours");
  fs::create_directories(outside.file("folder"));
  fs::create_directories(otherDisk.file("data"));
  WriteFile(otherDisk.file("data/kept.bin"), "kept");
  const struct {
    const char* entry;
    std::string linkTo;  // what the link at the entry's place (or its folder) points to
    bool folderLink;
  } cases[] = {
      {"to-file.txt", outside.file("victim.txt"), false},
      {"dangling.txt", outside.file("created.txt"), false},
      {"to-folder.txt", outside.file("folder"), false},
      {"relative.txt", "../outside-by-relative-path.txt", false},
      {"data/map/x.bin", otherDisk.file("data"), true},
  };
  std::vector<ZipEntry> entries;
  for (const auto& c : cases) {
    const std::string at = c.folderLink ? dest + "data" : dest + c.entry;
    fs::create_symlink(c.linkTo, at);
    entries.push_back({c.entry, std::string("new ") + c.entry});
  }
  WriteZip(archive, entries);
  const auto outsideBefore = Tree(outside.path());
  ASSERT_EQ(Extract(archive, dest), kExtractOk);

  for (const auto& c : cases) {
    SCOPED_TRACE(c.entry);
    EXPECT_EQ(ReadFile(dest + c.entry), std::string("new ") + c.entry);
    if (!c.folderLink) {
      EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dest + c.entry)));
    }
  }
  EXPECT_EQ(Tree(outside.path()), outsideBefore);
  EXPECT_EQ(ReadFile(outside.file("victim.txt")), "not yours");
  EXPECT_FALSE(Exists(dir.file("outside-by-relative-path.txt")));
  // The linked folder stays a link and its files are on the other disk.
  EXPECT_TRUE(fs::is_symlink(dest + "data"));
  EXPECT_EQ(ReadFile(otherDisk.file("data/map/x.bin")), "new data/map/x.bin");
  EXPECT_EQ(ReadFile(otherDisk.file("data/kept.bin")), "kept");
}

// ---- Entries that would leave the destination --------------------------------------------------

class ZipSlipTest : public ::testing::TestWithParam<std::string> {};

TEST_P(ZipSlipTest, RefusedAndNothingWritten) {
  TempDir dir;
  const std::string archive = dir.file("pack.zip");
  const std::string dest = dir.file("outer/game") + "/";
  fs::create_directories(dest);
  WriteZip(archive, {{"ok.txt", "fine"}, {GetParam(), "evil"}, {"later.txt", "later"}});
  const auto before = Tree(dir.path());
  const bool absoluteExisted = Exists("/tmp/zarn-slip-probe.txt");
  EXPECT_EQ(Extract(archive, dest), kExtractNotCreatable);
  EXPECT_EQ(Tree(dir.path()), before);
  EXPECT_TRUE(Tree(dest).empty());
  EXPECT_EQ(Exists("/tmp/zarn-slip-probe.txt"), absoluteExisted);
}

INSTANTIATE_TEST_SUITE_P(Names, ZipSlipTest,
                         ::testing::Values("../evil.txt", "a/../../evil.txt", "..\\evil.txt",
                                           "a\\..\\..\\evil.txt", "a/..\\..\\evil.txt", "../", "..",
                                           "/tmp/zarn-slip-probe.txt", "\\tmp\\zarn-slip-probe.txt",
                                           "sub/.."));

TEST(ContainedNameTest, Table) {
  const std::pair<const char*, bool> cases[] = {
      {"a.txt", true},   {"a/b/c", true}, {"a\\b", true},  {"..a/b", true},   {"a..b", true},
      {"./c.txt", true}, {"a/./b", true}, {"", true},      {"dir/", true},    {"...", true},
      {"..", false},     {"../x", false}, {"x/..", false}, {"x/../y", false}, {"x\\..\\y", false},
      {"/x", false},     {"\\x", false},  {"/", false},    {"x/..\\", false},
  };
  for (const auto& [name, contained] : cases) EXPECT_EQ(IsContainedRelativeName(name), contained) << name;
}

// ---- An archive from another writer -------------------------------------------------------------

TEST(InfoZipArchiveTest, UnpacksWhatTheZipProgramWrote) {
  TempDir dir;
  const std::string src = dir.file("src");
  WriteFile(src + "/readme.txt", "hello\n");
  WriteFile(src + "/data/map/tiles.bin", RandomBytes(2 * 1048576 + 3, 11));
  WriteFile(src + "/data/text.txt", TextBytes(300000, 12));
  WriteFile(src + "/data/empty.dat", "");
  fs::create_directories(src + "/logs");
  const std::string deflated = dir.file("deflated.zip"), stored = dir.file("stored.zip");
  const std::string streamed = dir.file("streamed.zip");
  ASSERT_EQ(
      std::system(
          ("cd '" + src + "' && zip -q -r '" + deflated + "' . && zip -q -0 -r '" + stored + "' .").c_str()),
      0);
  // Data from a pipe: sizes only after the data (data descriptor).
  ASSERT_EQ(std::system(("printf 'piped data' | zip -q '" + streamed + "' -").c_str()), 0);

  for (const std::string& archive : {deflated, stored}) {
    const std::string dest = dir.file("out-" + fs::path(archive).stem().string()) + "/";
    ASSERT_EQ(Extract(archive, dest), kExtractOk) << archive;
    EXPECT_EQ(ReadFile(dest + "readme.txt"), "hello\n");
    EXPECT_TRUE(ReadFile(dest + "data/map/tiles.bin") == RandomBytes(2 * 1048576 + 3, 11));
    EXPECT_TRUE(ReadFile(dest + "data/text.txt") == TextBytes(300000, 12));
    EXPECT_TRUE(Exists(dest + "data/empty.dat"));
    EXPECT_EQ(fs::file_size(dest + "data/empty.dat"), 0u);
    EXPECT_FALSE(Exists(dest + "logs")) << "folder entries create nothing";
  }
  const std::string dest = dir.file("out-streamed") + "/";
  ASSERT_EQ(Extract(streamed, dest), kExtractOk);
  EXPECT_EQ(ReadFile(dest + "-"), "piped data");
}

}  // namespace
}  // namespace zarn
