#include "update/UpdateManifest.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <thread>

#include "support/TestSupport.h"
#include "util/CodePage.h"

namespace zarn {
namespace {

using test::Exists;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

std::string Manifest(const std::string& entries) {
  return "<?xml version=\"1.0\"?>\n<files>" + entries + "</files>\n";
}

// ---- LoadPackageList --------------------------------------------------------------------------

struct LoadCase {
  const char* label;
  const char* document;  // nullptr: no file at all
  PackageList expected;
};

void PrintTo(const LoadCase& c, std::ostream* os) { *os << c.label; }

class LoadPackageListTest : public ::testing::TestWithParam<LoadCase> {};

TEST_P(LoadPackageListTest, ReadsEntriesOfTheFirstRoot) {
  const LoadCase& c = GetParam();
  TempDir dir;
  const std::string path = dir.file("update.xml");
  if (c.document) WriteFile(path, c.document);
  PackageList list;
  LoadPackageList(path, list);
  EXPECT_EQ(list, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Documents, LoadPackageListTest,
    ::testing::Values(
        LoadCase{"missing", nullptr, {}}, LoadCase{"empty", "", {}},
        LoadCase{"malformed", "<files><file key=\"a.zip\" md5=\"1\"></files", {}},
        LoadCase{"not_xml", "PK\x03\x04 binary", {}}, LoadCase{"root_without_children", "<files/>", {}},
        LoadCase{"two_entries",
                 "<files><file key=\"b.zip\" md5=\"2\"/><file key=\"a.zip\" md5=\"1\"/></files>",
                 {{"a.zip", "1"}, {"b.zip", "2"}}},
        LoadCase{"declaration_and_comments_before_root",
                 "<?xml version=\"1.0\" encoding=\"utf-8\"?><!-- published --><list><x key=\"a.zip\" "
                 "md5=\"9\"/></list>",
                 {{"a.zip", "9"}}},
        LoadCase{
            "later_duplicate_wins",
            "<r><f key=\"a.zip\" md5=\"old\"/><f key=\"b.zip\" md5=\"b\"/><f key=\"a.zip\" md5=\"new\"/></r>",
            {{"a.zip", "new"}, {"b.zip", "b"}}},
        LoadCase{
            "entry_names_attributes_text_grandchildren_ignored",
            "<r><any key=\"a.zip\" md5=\"1\" size=\"5\">text<inner key=\"deep.zip\" md5=\"x\"/></any></r>",
            {{"a.zip", "1"}}},
        LoadCase{"missing_key_skipped_missing_md5_empty",
                 "<r><f md5=\"1\"/><f key=\"\" md5=\"2\"/><f key=\"c.zip\"/><f key=\"d.zip\" md5=\"4\"/></r>",
                 {{"c.zip", ""}, {"d.zip", "4"}}},
        LoadCase{"texts_kept_byte_for_byte",
                 "<r><f key=\"A.zip\" md5=\" ABC \"/><f key=\"a.zip\" md5=\"abc\"/></r>",
                 {{"A.zip", " ABC "}, {"a.zip", "abc"}}}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(LoadPackageListTest, OnlyTheFirstRootIsRead) {
  // tinyxml2 reports a second top-level element as an error in some versions; either way the
  // second root's entries must not appear.
  TempDir dir;
  WriteFile(dir.file("m.xml"), "<a><f key=\"one.zip\" md5=\"1\"/></a><b><f key=\"two.zip\" md5=\"2\"/></b>");
  PackageList list;
  LoadPackageList(dir.file("m.xml"), list);
  EXPECT_EQ(list.count("two.zip"), 0u);
}

TEST(LoadPackageListTest, KeepsExistingEntriesAndOrdersByBytes) {
  TempDir dir;
  // "\xC3\xA9.zip" (é) sorts after "z.zip" in byte order; "B" before "a".
  WriteFile(dir.file("m.xml"),
            "<r><f key=\"z.zip\" md5=\"1\"/><f key=\"\xC3\xA9.zip\" md5=\"2\"/>"
            "<f key=\"a.zip\" md5=\"3\"/><f key=\"B.zip\" md5=\"4\"/></r>");
  PackageList list{{"keep.zip", "k"}};
  LoadPackageList(dir.file("m.xml"), list);
  std::vector<std::string> keys;
  for (const auto& [key, text] : list) keys.push_back(key);
  EXPECT_EQ(keys, (std::vector<std::string>{"B.zip", "a.zip", "keep.zip", "z.zip", "\xC3\xA9.zip"}));
}

TEST(LoadPackageListTest, AFolderAtThePathReadsAsEmpty) {
  TempDir dir;
  WriteFile(dir.file("update.xml/inside"), "x");
  PackageList list;
  LoadPackageList(dir.file("update.xml"), list);
  EXPECT_TRUE(list.empty());
}

// ---- ChoosePackages / SelectPackages ------------------------------------------------------------

struct ChooseCase {
  const char* label;
  PackageList installed;
  PackageList published;
  PackageList chosen;
};

void PrintTo(const ChooseCase& c, std::ostream* os) { *os << c.label; }

class ChoosePackagesTest : public ::testing::TestWithParam<ChooseCase> {};

TEST_P(ChoosePackagesTest, NewOrChangedOnly) {
  const ChooseCase& c = GetParam();
  EXPECT_EQ(ChoosePackages(c.installed, c.published), c.chosen);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ChoosePackagesTest,
    ::testing::Values(
        ChooseCase{"changed_and_new",
                   {{"a.zip", "1"}, {"b.zip", "2"}},
                   {{"a.zip", "1"}, {"b.zip", "3"}, {"c.zip", "1"}},
                   {{"b.zip", "3"}, {"c.zip", "1"}}},
        ChooseCase{"case_sensitive", {{"a.zip", "abc"}}, {{"a.zip", "ABC"}}, {{"a.zip", "ABC"}}},
        ChooseCase{"key_case_sensitive", {{"a.zip", "1"}}, {{"A.zip", "1"}}, {{"A.zip", "1"}}},
        ChooseCase{
            "installed_not_published_ignored", {{"old.zip", "1"}, {"a.zip", "1"}}, {{"a.zip", "1"}}, {}},
        ChooseCase{"fresh_folder_takes_everything",
                   {},
                   {{"a.zip", "1"}, {"b.zip", ""}},
                   {{"a.zip", "1"}, {"b.zip", ""}}},
        ChooseCase{"nothing_published", {{"a.zip", "1"}}, {}, {}},
        ChooseCase{"trailing_blank_differs", {{"a.zip", "1"}}, {{"a.zip", "1 "}}, {{"a.zip", "1 "}}},
        ChooseCase{"keys_leaving_the_download_folder_never_chosen",
                   {},
                   {{"../evil.zip", "1"},
                    {"/etc/evil.zip", "1"},
                    {"sub/../../x.zip", "1"},
                    {"..\\y.zip", "1"},
                    {"\\z.zip", "1"},
                    {"sub/ok.zip", "1"},
                    {"..ok.zip", "1"}},
                   {{"..ok.zip", "1"}, {"sub/ok.zip", "1"}}}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(SelectPackagesTest, ComparesTheInstalledAndTheDownloadedManifest) {
  TempDir dir;
  WriteFile(dir.file("update.xml"), Manifest("<f key=\"a.zip\" md5=\"1\"/><f key=\"b.zip\" md5=\"2\"/>"));
  WriteFile(dir.file("update.down"),
            Manifest("<f key=\"c.zip\" md5=\"1\"/><f key=\"b.zip\" md5=\"3\"/><f key=\"a.zip\" md5=\"1\"/>"));
  const PackageList chosen = SelectPackages(dir.path());
  ASSERT_EQ(chosen.size(), 2u);
  EXPECT_EQ(chosen.begin()->first, "b.zip");  // the next one to fetch
  EXPECT_EQ(chosen, (PackageList{{"b.zip", "3"}, {"c.zip", "1"}}));
}

TEST(SelectPackagesTest, MissingInstalledManifestSelectsAllMissingDownloadSelectsNothing) {
  TempDir dir;
  WriteFile(dir.file("update.down"), Manifest("<f key=\"a.zip\" md5=\"1\"/>"));
  EXPECT_EQ(SelectPackages(dir.path()), (PackageList{{"a.zip", "1"}}));

  TempDir other;
  WriteFile(other.file("update.xml"), Manifest("<f key=\"a.zip\" md5=\"1\"/>"));
  EXPECT_TRUE(SelectPackages(other.path()).empty());
  WriteFile(other.file("update.down"), "<broken");
  EXPECT_TRUE(SelectPackages(other.path()).empty());
}

TEST(SelectPackagesTest, PublishedRootWithoutChildrenChoosesNothing) {
  TempDir dir;
  WriteFile(dir.file("update.down"), "<?xml version=\"1.0\"?><files></files>");
  EXPECT_TRUE(SelectPackages(dir.path()).empty());
}

TEST(PathsTest, PackageAndManifestPaths) {
  EXPECT_EQ(InstalledManifestPath("/g/Kelmar"), "/g/Kelmar/update.xml");
  EXPECT_EQ(DownloadedManifestPath("/g/Kelmar"), "/g/Kelmar/update.down");
  EXPECT_EQ(PackageDownloadPath("/g/Kelmar", "a.zip"), "/g/Kelmar/download/a.zip");
  EXPECT_EQ(PackageDestination("/g/Kelmar"), "/g/Kelmar/");
}

// ---- CommitManifest -----------------------------------------------------------------------------

TEST(CommitManifestTest, NothingChosenTouchesNeitherFile) {
  TempDir dir;
  WriteFile(dir.file("update.xml"), "installed");
  WriteFile(dir.file("update.down"), "published");
  int32_t pendingAtStart = 0;
  EXPECT_EQ(CommitManifest(dir.path(), pendingAtStart), CommitResult::kNothingChosen);
  EXPECT_EQ(ReadFile(dir.file("update.xml")), "installed");
  EXPECT_EQ(ReadFile(dir.file("update.down")), "published");
}

TEST(CommitManifestTest, DownloadedManifestBecomesTheInstalledOne) {
  TempDir dir;
  WriteFile(dir.file("update.xml"), "installed");
  WriteFile(dir.file("update.down"), Manifest("<f key=\"a.zip\" md5=\"2\"/>"));
  int32_t pendingAtStart = 3;
  EXPECT_EQ(CommitManifest(dir.path(), pendingAtStart), CommitResult::kCommitted);
  EXPECT_EQ(pendingAtStart, 0);
  EXPECT_EQ(ReadFile(dir.file("update.xml")), Manifest("<f key=\"a.zip\" md5=\"2\"/>"));
  EXPECT_FALSE(Exists(dir.file("update.down")));
  // A second commit in the same sequence has nothing left to do.
  EXPECT_EQ(CommitManifest(dir.path(), pendingAtStart), CommitResult::kNothingChosen);
}

TEST(CommitManifestTest, WorksWithoutAnInstalledManifest) {
  TempDir dir;
  WriteFile(dir.file("update.down"), "new");
  int32_t pendingAtStart = 1;
  EXPECT_EQ(CommitManifest(dir.path(), pendingAtStart), CommitResult::kCommitted);
  EXPECT_EQ(ReadFile(dir.file("update.xml")), "new");
}

TEST(CommitManifestTest, FailedRenameKeepsTheInstalledManifest) {
  TempDir dir;
  WriteFile(dir.file("update.xml"), "installed");  // no update.down to rename
  int32_t pendingAtStart = 2;
  EXPECT_EQ(CommitManifest(dir.path(), pendingAtStart), CommitResult::kFailed);
  EXPECT_EQ(ReadFile(dir.file("update.xml")), "installed");
}

// A flush that fails: before the rename (the file) the installed manifest stays; after it (the
// folder) the new one is in place but the commit still reports the failure.
TEST(CommitManifestTest, AFailedFlushIsReported) {
  for (const int failingCall : {1, 2}) {
    SCOPED_TRACE(failingCall);
    TempDir dir;
    WriteFile(dir.file("update.xml"), "installed");
    WriteFile(dir.file("update.down"), "new");
    int calls = 0;
    const FileFlush flush = [&](int fd) {
      EXPECT_GE(fd, 0);
      return ++calls == failingCall ? EIO : 0;
    };
    int32_t pendingAtStart = 2;
    EXPECT_EQ(CommitManifest(dir.path(), pendingAtStart, flush), CommitResult::kNotFlushed);
    EXPECT_EQ(calls, failingCall);
    EXPECT_EQ(ReadFile(dir.file("update.xml")), failingCall == 1 ? "installed" : "new");
  }
}

TEST(CommitManifestTest, ReadersNeverFindTheManifestMissingOrPartial) {
  TempDir dir;
  const std::string a = Manifest("<f key=\"a.zip\" md5=\"" + std::string(20000, 'a') + "\"/>");
  const std::string b = Manifest("<f key=\"a.zip\" md5=\"" + std::string(30000, 'b') + "\"/>");
  WriteFile(dir.file("update.xml"), a);
  std::atomic<bool> done{false};
  std::atomic<int> bad{0}, reads{0};
  std::thread reader([&] {
    while (!done) {
      const std::string text = ReadFile(dir.file("update.xml"));
      if (text != a && text != b) ++bad;
      ++reads;
    }
  });
  for (int i = 0; i < 80; ++i) {
    WriteFile(dir.file("update.down"), i % 2 ? a : b);
    int32_t pending = 1;
    ASSERT_EQ(CommitManifest(dir.path(), pending), CommitResult::kCommitted);
  }
  done = true;
  reader.join();
  EXPECT_GT(reads.load(), 0);
  EXPECT_EQ(bad.load(), 0);
}

// ---- Per-server data ----------------------------------------------------------------------------

TEST(ServerIdNumberTest, ReadsLikeTheCRuntime) {
  const std::pair<const char*, int64_t> cases[] = {
      {"12", 12}, {"0", 0},   {"", 0},        {"abc", 0}, {"  7x", 7},
      {"+3", 3},  {"-5", -5}, {"\t 42 ", 42}, {"1e5", 1}, {"99999999999999999999999", INT64_MAX},
      {"- 1", 0}, {"00", 0},  {"0012", 12},
  };
  for (const auto& [text, number] : cases) EXPECT_EQ(ServerIdNumber(text), number) << '"' << text << '"';
}

TEST(PlanServerDataTest, ServerWithDataOfItsOwn) {
  const ServerDataPlan plan = PlanServerData("/g/Kelmar", "12");
  EXPECT_TRUE(plan.hasData);
  EXPECT_EQ(plan.serverDataId, "12");
  EXPECT_EQ(plan.serverDataDir, "/g/Kelmar/Custom/12/");
  EXPECT_EQ(plan.listUrlPath, "ClientData/12.md5");
  EXPECT_EQ(plan.listLocalPath, "/g/Kelmar/download/12.data");
  EXPECT_EQ(plan.archiveUrlPath, "ClientData/12.zip");
  EXPECT_EQ(plan.archiveLocalPath, "/g/Kelmar/Custom/12.zip");
  EXPECT_EQ(plan.installedListPath, "/g/Kelmar/Custom/12/12.data");
}

TEST(PlanServerDataTest, IdTextIsKeptUnchanged) {
  const ServerDataPlan plan = PlanServerData("/g", " 7a");
  EXPECT_TRUE(plan.hasData);
  EXPECT_EQ(plan.serverDataId, " 7a");
  EXPECT_EQ(plan.installedListPath, "/g/Custom/ 7a/ 7a.data");
}

TEST(PlanServerDataTest, NoPerServerStep) {
  for (const char* id : {"0", "", "abc", "-3", " ", "12/../../../etc", "3\\..\\x"}) {
    const ServerDataPlan plan = PlanServerData("/g", id);
    EXPECT_FALSE(plan.hasData) << id;
    EXPECT_TRUE(plan.serverDataId.empty()) << id;
    EXPECT_TRUE(plan.serverDataDir.empty()) << id;
  }
}

class ServerDataTest : public ::testing::Test {
 protected:
  TempDir dir;
  ServerDataPlan plan = PlanServerData(dir.path(), "12");
};

TEST_F(ServerDataTest, FirstLinesEqualMeansCurrent) {
  WriteFile(plan.listLocalPath, "v7\nrest that differs\n");
  WriteFile(plan.installedListPath, "v7\r\nanything else");
  const ServerDataComparison c = CompareServerData(plan);
  EXPECT_TRUE(c.listRead);
  EXPECT_EQ(c.remoteDataText, "v7");
  EXPECT_EQ(c.localDataText, "v7");
  EXPECT_TRUE(c.upToDate);
}

TEST_F(ServerDataTest, NoInstalledListMeansFetch) {
  WriteFile(plan.listLocalPath, "v7");
  const ServerDataComparison c = CompareServerData(plan);
  EXPECT_TRUE(c.listRead);
  EXPECT_EQ(c.localDataText, "");
  EXPECT_FALSE(c.upToDate);
}

TEST_F(ServerDataTest, EmptyPublishedAndNoInstalledListIsCurrent) {
  WriteFile(plan.listLocalPath, "");
  EXPECT_TRUE(CompareServerData(plan).upToDate);
}

TEST_F(ServerDataTest, DifferentFirstLinesMeanFetch) {
  WriteFile(plan.listLocalPath, "V7\nx");
  WriteFile(plan.installedListPath, "v7\nx");
  const ServerDataComparison c = CompareServerData(plan);
  EXPECT_FALSE(c.upToDate);
  EXPECT_EQ(c.remoteDataText, "V7");
}

TEST_F(ServerDataTest, UnreadableDownloadedListGivesTheMessage) {
  const ServerDataComparison c = CompareServerData(plan);
  EXPECT_FALSE(c.listRead);
  EXPECT_EQ(c.failureText, Utf8ToAnsi("读取md5文件失败"));
  EXPECT_FALSE(c.upToDate);
}

TEST_F(ServerDataTest, WrittenListHasNoLineEndAndReplacesALongerOne) {
  WriteFile(plan.installedListPath, "a much longer old version text\nsecond line\n");
  ASSERT_TRUE(WriteServerDataList(plan, "v8"));
  EXPECT_EQ(ReadFile(plan.installedListPath), "v8");
  EXPECT_FALSE(Exists(plan.installedListPath + ".part"));
  // And the comparison now finds the server current.
  WriteFile(plan.listLocalPath, "v8\n");
  EXPECT_TRUE(CompareServerData(plan).upToDate);
}

TEST_F(ServerDataTest, WritingCreatesTheServerFolder) {
  ASSERT_TRUE(WriteServerDataList(plan, ""));
  EXPECT_TRUE(Exists(plan.installedListPath));
  EXPECT_EQ(ReadFile(plan.installedListPath), "");
}

TEST_F(ServerDataTest, UnwritableListReportsFailureAndKeepsNothingHalfDone) {
  WriteFile(dir.file("Custom"), "a file where the folder should be");
  EXPECT_FALSE(WriteServerDataList(plan, "v8"));
  EXPECT_EQ(ReadFile(dir.file("Custom")), "a file where the folder should be");
  EXPECT_FALSE(WriteServerDataList(PlanServerData(dir.path(), "0"), "v8"));
}

}  // namespace
}  // namespace zarn
