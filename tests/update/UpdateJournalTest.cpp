// The journal of an update round against a content server on 127.0.0.1 with ten real zip
// packages: a round broken off at the eighth goes on there, a journal that is not this round's
// own is ignored, nothing unfinished is ever recorded, and the commit removes it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <mutex>

#include "net/NetTestSupport.h"
#include "support/Guards.h"
#include "support/TestSupport.h"
#include "support/UpdateRunner.h"
#include "update/UpdateJournal.h"
#include "update/ZipBuilder.h"
#include "util/Paths.h"

namespace zarn::test {
namespace {

std::string Key(int i) { return "p" + std::string(i < 10 ? "0" : "") + std::to_string(i) + ".zip"; }

class UpdateJournalTest : public ::testing::Test {
 public:
  UpdateJournalTest() {
    ClearProxyEnvironment();
    Publish("1");
    http.server().set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
      std::lock_guard<std::mutex> lock(mutex);
      if (req.path.rfind("/public/zip/", 0) == 0) fetched.push_back(req.path.substr(12));
      if (req.path != failing) return httplib::Server::HandlerResponse::Unhandled;
      res.status = 404;
      return httplib::Server::HandlerResponse::Handled;
    });
    EXPECT_TRUE(http.server().set_mount_point("/", content.path()));
    http.Start();
    options.serverId = "0";  // no data of its own: the road ends with the packages
  }
  // Ten packages at one version text; each holds a file of its own and a shared one.
  void Publish(const std::string& version) {
    std::string xml = "<update>\n";
    MakeSureDirectoryPathExists(content.file("public/zip/"));
    for (int i = 1; i <= 10; ++i) {
      xml += " <f key=\"" + Key(i) + "\" md5=\"" + version + "\"/>\n";
      WriteZip(content.file("public/zip/" + Key(i)),
               {{"files/" + Key(i) + ".txt", version + NoiseBytes(3000, i)}, {"last.txt", Key(i)}});
    }
    WriteFile(content.file("public/update.xml"), xml + "</update>\n");
  }
  std::vector<std::string> TakeFetched() {
    std::lock_guard<std::mutex> lock(mutex);
    return std::exchange(fetched, {});
  }
  static std::vector<std::string> Keys(int from, int to) {
    std::vector<std::string> keys;
    for (int i = from; i <= to; ++i) keys.push_back(Key(i));
    return keys;
  }
  RoadOutcome Run() { return RunUpdateSession(game.path(), http.url("/"), options); }
  // The first round: the eighth package fails, either to download or to unpack.
  void FirstRoundFailsAtTheEighth(bool broken) {
    const std::string eighth = content.file("public/zip/" + Key(8));
    std::string good;
    if (broken) {
      good = ReadFile(eighth);
      WriteFile(eighth, "PK but not an archive");
    } else {
      failing = "/public/zip/" + Key(8);
    }
    const RoadOutcome outcome = Run();
    ASSERT_EQ(outcome.kind, broken ? RoadOutcome::kExtractFailed : RoadOutcome::kDownloadFailed)
        << DescribeOutcome(outcome);
    ASSERT_EQ(TakeFetched(), Keys(1, 8));
    failing.clear();
    if (broken) WriteFile(eighth, good);
  }
  void ExpectComplete() {
    for (int i = 1; i <= 10; ++i) EXPECT_TRUE(Exists(game.file("files/" + Key(i) + ".txt"))) << Key(i);
    EXPECT_EQ(ReadFile(game.file("last.txt")), Key(10));
    EXPECT_EQ(ReadFile(game.file("update.xml")), ReadFile(content.file("public/update.xml")));
    EXPECT_FALSE(Exists(JournalPath(game.path())));
    EXPECT_FALSE(Exists(JournalPath(game.path()) + ".part"));
  }

  CodeSetGuard utf8{"UTF-8"};
  TempDir game, content;
  HttpServer http;
  RoadOptions options;
  std::mutex mutex;
  std::vector<std::string> fetched;
  std::string failing;
};

class EighthFailsTest : public UpdateJournalTest, public ::testing::WithParamInterface<bool> {};

TEST_P(EighthFailsTest, TheSecondRoundFetchesOnlyTheEighthAndThoseAfterIt) {
  ASSERT_NO_FATAL_FAILURE(FirstRoundFailsAtTheEighth(GetParam()));
  // Recorded: the seven unpacked ones, not the eighth (its download or unpacking failed).
  const std::optional<UpdateJournal> journal = ReadJournal(game.path());
  ASSERT_TRUE(journal.has_value());
  PackageList seven;
  for (const std::string& key : Keys(1, 7)) seven[key] = "1";
  EXPECT_EQ(journal->finished, seven);
  EXPECT_FALSE(Exists(game.file("update.xml")));  // nothing installed before the end

  UpdateRunner runner(options);
  const RoadOutcome outcome = runner.Run(game.path(), http.url("/"));
  ASSERT_EQ(outcome.kind, RoadOutcome::kComplete) << DescribeOutcome(outcome);
  EXPECT_EQ(TakeFetched(), Keys(8, 10));
  // The blue bar starts with the seven done.
  EXPECT_EQ(runner.overall, (std::vector<std::pair<int32_t, int32_t>>{{7, 10}, {8, 10}, {9, 10}, {10, 10}}));
  ExpectComplete();
}

INSTANTIATE_TEST_SUITE_P(Journal, EighthFailsTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Unpacking" : "Download"; });

// Journals that are not this round's own, whole and unaltered: the second round fetches all ten
// again (or, for a changed manifest, what it chooses), and still completes.
struct ForeignJournal {
  const char* name;
  std::function<void(UpdateJournalTest&, const std::string& journalPath)> spoil;
};
void PrintTo(const ForeignJournal& c, std::ostream* os) { *os << c.name; }

class ForeignJournalTest : public UpdateJournalTest, public ::testing::WithParamInterface<ForeignJournal> {};

TEST_P(ForeignJournalTest, IsIgnored) {
  ASSERT_NO_FATAL_FAILURE(FirstRoundFailsAtTheEighth(false));
  const std::string path = JournalPath(game.path());
  GetParam().spoil(*this, path);
  const RoadOutcome outcome = Run();
  ASSERT_EQ(outcome.kind, RoadOutcome::kComplete) << DescribeOutcome(outcome);
  EXPECT_EQ(TakeFetched(), Keys(1, 10));
  for (int i = 1; i <= 10; ++i) EXPECT_TRUE(Exists(game.file("files/" + Key(i) + ".txt"))) << Key(i);
  EXPECT_EQ(ReadFile(game.file("update.xml")), ReadFile(content.file("public/update.xml")));
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

INSTANTIATE_TEST_SUITE_P(
    Journal, ForeignJournalTest,
    ::testing::Values(
        // Claims the eighth too, as someone typing it in would.
        ForeignJournal{"EditedByHand",
                       [](UpdateJournalTest&, const std::string& p) {
                         WriteFile(p, Replaced(ReadFile(p), "package p07.zip 1\n",
                                               "package p07.zip 1\npackage p08.zip 1\n"));
                       }},
        ForeignJournal{"CutShort",
                       [](UpdateJournalTest&, const std::string& p) {
                         const std::string text = ReadFile(p);
                         WriteFile(p, text.substr(0, text.size() / 2));
                       }},
        ForeignJournal{"Garbage",
                       [](UpdateJournalTest&, const std::string& p) { WriteFile(p, NoiseBytes(900, 7)); }},
        ForeignJournal{"Empty", [](UpdateJournalTest&, const std::string& p) { WriteFile(p, ""); }},
        ForeignJournal{"AFolder",
                       [](UpdateJournalTest&, const std::string& p) {
                         std::remove(p.c_str());
                         ASSERT_TRUE(MakeSureDirectoryPathExists(p + "/x"));
                       }},
        // Every package republished: the journal names another published manifest.
        ForeignJournal{"OfAnotherManifest", [](UpdateJournalTest& t, const std::string&) { t.Publish("2"); }},
        // Another installed manifest (a round in between completed): not this round's either.
        ForeignJournal{"OfAnotherInstalledManifest",
                       [](UpdateJournalTest& t, const std::string&) {
                         WriteFile(t.game.file("update.xml"),
                                   "<update><f key=\"old.zip\" md5=\"0\"/></update>");
                       }}),
    [](const auto& info) { return std::string(info.param.name); });

// Keys and version texts of any bytes survive the journal; an altered byte anywhere makes it
// unreadable.
TEST(JournalFormatTest, KeepsAnyBytesAndRefusesAnyAlteration) {
  UpdateJournal journal;
  journal.identity = {"-", std::string(64, 'a')};
  journal.finished = {
      {"a b.zip", "1 2"}, {"100%.zip", "%41"}, {"\xd6\xd0\xce\xc4.zip", "line\nend\r"}, {"x.zip", ""}};
  const std::string text = FormatJournal(journal);
  const std::optional<UpdateJournal> back = ParseJournal(text);
  ASSERT_TRUE(back.has_value()) << text;
  EXPECT_EQ(back->identity, journal.identity);
  EXPECT_EQ(back->finished, journal.finished);
  for (size_t i = 0; i < text.size(); ++i) {
    std::string altered = text;
    altered[i] = static_cast<char>(altered[i] ^ 0x01);
    EXPECT_FALSE(ParseJournal(altered).has_value()) << "byte " << i;
  }
  EXPECT_FALSE(ParseJournal(text + "package y.zip 1\n").has_value());
}

// A round in which every package was unpacked but the launcher stopped before the commit: the
// next round fetches no package and only commits.
TEST_F(UpdateJournalTest, AllRecordedMeansOnlyTheCommitIsLeft) {
  UpdateRunner first(options);
  first.Run(game.path(), http.url("/"));
  ASSERT_EQ(TakeFetched(), Keys(1, 10));
  // As if killed between the last journal and the commit: no manifest installed yet, the
  // downloaded one beside the journal of all ten.
  ASSERT_EQ(std::rename(game.file("update.xml").c_str(), game.file("update.down").c_str()), 0);
  const std::optional<JournalIdentity> round = RoundIdentity(game.path());
  ASSERT_TRUE(round.has_value());
  EXPECT_EQ(round->installed, "-");
  UpdateJournal all{*round, {}};
  for (const std::string& key : Keys(1, 10)) all.finished[key] = "1";
  ASSERT_TRUE(WriteJournal(game.path(), all));

  UpdateRunner runner(options);
  const RoadOutcome outcome = runner.Run(game.path(), http.url("/"));
  ASSERT_EQ(outcome.kind, RoadOutcome::kComplete) << DescribeOutcome(outcome);
  EXPECT_TRUE(TakeFetched().empty());
  EXPECT_EQ(runner.overall, (std::vector<std::pair<int32_t, int32_t>>{{10, 10}}));
  EXPECT_NE(std::find(runner.steps.begin(), runner.steps.end(), "commit"), runner.steps.end());
  ExpectComplete();
}

}  // namespace
}  // namespace zarn::test
