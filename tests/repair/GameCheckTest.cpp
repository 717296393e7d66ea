// Checking a player's folder against the published lists: what counts as missing or damaged,
// the lists' cache, and lists that are refused.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <mutex>
#include <regex>
#include <set>

#include "net/NetTestSupport.h"
#include "repair/RepairSupport.h"
#include "update/GameCheck.h"
#include "update/Repair.h"
#include "util/Sha256.h"

namespace fs = std::filesystem;

namespace zarn {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

class GameCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::ClearProxyEnvironment();
    std::string error;
    game = test::PublishGame(dir, 24, 5000, &error);
    ASSERT_FALSE(game.content.empty()) << error;
    player = dir.file("player");
    test::InstallGame(game, player);
    ASSERT_TRUE(http.server().set_mount_point("/", game.content));
    http.server().set_logger([&](const httplib::Request& req, const httplib::Response&) {
      std::lock_guard lock(mutex);
      requested.push_back(req.path);
    });
    http.Start();
  }
  GameCheckResult Check() {
    GameCheckOptions options;
    options.gameDir = player;
    options.baseUrl = http.url("/");
    options.threads = 3;
    options.progress.packages = [&](size_t done, size_t total) { lastPackages = {done, total}; };
    options.progress.bytes = [&](uint64_t done, uint64_t total) { lastBytes = {done, total}; };
    return CheckGame(options);
  }
  std::vector<std::string> Requests() {
    std::lock_guard lock(mutex);
    return std::exchange(requested, {});
  }
  // Replaces a package's list in the installed manifest's view: the served list and the
  // "index" attribute of the player's update.xml (as a signed manifest would announce it).
  void AnnounceList(const std::string& key, const std::string& text) {
    WriteFile(game.content + "/public/index/" + key + ".lst", text);
    std::string manifest = ReadFile(player + "/update.xml");
    manifest = std::regex_replace(manifest, std::regex("(key=\"" + key + "\"[^>]*index=\")[0-9a-f]{64}"),
                                  "$01" + Sha256Hex(text));
    WriteFile(player + "/update.xml", manifest);
  }

  TempDir dir;
  test::PublishedGame game;
  std::string player;
  test::HttpServer http;
  std::mutex mutex;
  std::vector<std::string> requested;
  std::pair<size_t, size_t> lastPackages;
  std::pair<uint64_t, uint64_t> lastBytes;
};

TEST_F(GameCheckTest, WholeFolderHasNothingBrokenAndCountsEveryByte) {
  const GameCheckResult result = Check();
  ASSERT_TRUE(result.complete) << (result.errors.empty() ? "" : result.errors[0]);
  EXPECT_TRUE(result.broken.empty());
  EXPECT_EQ(result.files, game.files.size());
  uint64_t total = 0;
  for (const auto& [name, bytes] : game.files) total += bytes.size();
  EXPECT_EQ(result.bytes, total);
  EXPECT_EQ(lastBytes, std::make_pair(total, total));
  EXPECT_EQ(lastPackages, std::make_pair(size_t{2}, size_t{2}));
  EXPECT_TRUE(result.withoutList.empty());
}

TEST_F(GameCheckTest, FindsMissingAndDamagedFilesOfEveryKind) {
  const std::string outside = dir.file("elsewhere/game");
  WriteFile(outside, game.files.at("bin/game"));
  fs::remove(player + "/data/d0/f1.bin");                                     // missing
  fs::remove_all(player + "/data/d1");                                        // a whole folder missing
  WriteFile(player + "/data/d0/f2.bin", test::NoiseBytes(5000 + 2 * 13, 7));  // same size, other bytes
  WriteFile(player + "/data/d0/f3.bin", "short");                             // other size
  fs::remove(player + "/data/d2/f20.bin");
  fs::create_directory(player + "/data/d2/f20.bin");  // a folder where the file goes
  fs::remove(player + "/bin/game");
  fs::create_symlink(outside, player + "/bin/game");  // a link, even to the right bytes
  fs::remove(player + "/data/empty.txt");
  WriteFile(player + "/saves/slot2.sav", "a new save");  // no list names it

  const GameCheckResult result = Check();
  ASSERT_TRUE(result.complete);
  std::map<std::string, bool> broken;
  for (const BrokenFile& b : result.broken) broken[b.listed.path] = b.missing;
  std::map<std::string, bool> expected = {{"data/d0/f1.bin", true},  {"data/d0/f2.bin", false},
                                          {"data/d0/f3.bin", false}, {"data/d2/f20.bin", false},
                                          {"bin/game", false},       {"data/empty.txt", true}};
  for (int i = 10; i < 20; ++i) expected["data/d1/f" + std::to_string(i) + ".bin"] = true;
  EXPECT_EQ(broken, expected);
  EXPECT_EQ(result.broken.front().package, "bin.zip");
}

TEST_F(GameCheckTest, ListsAreKeptAndFetchedAgainOnlyWhenTheirHashChanges) {
  ASSERT_TRUE(Check().complete);
  EXPECT_EQ(Requests().size(), 2u);
  EXPECT_EQ(ReadFile(player + "/index/bin.zip.lst"), ReadFile(game.content + "/public/index/bin.zip.lst"));
  ASSERT_TRUE(Check().complete);
  EXPECT_TRUE(Requests().empty());
  // A new list for one package (as after an update).
  AnnounceList("bin.zip",
               ReadFile(game.content + "/public/index/bin.zip.lst") + Sha256Hex("x") + " 1 bin/new.txt\n");
  const GameCheckResult result = Check();
  ASSERT_TRUE(result.complete);
  EXPECT_EQ(Requests(), std::vector<std::string>{"/public/index/bin.zip.lst"});
  ASSERT_EQ(result.broken.size(), 1u);
  EXPECT_EQ(result.broken[0].listed.path, "bin/new.txt");
  // A damaged kept list is fetched again.
  WriteFile(player + "/index/data.zip.lst", "spoiled");
  EXPECT_TRUE(Check().complete);
  EXPECT_EQ(Requests(), std::vector<std::string>{"/public/index/data.zip.lst"});
}

TEST_F(GameCheckTest, TheHighestKeyWinsWhereTwoListsNameOnePath) {
  // A later package "zz.zip" brings its own bin/lib.so.
  const std::string other = "zz bytes";
  AnnounceList("zz.zip", Sha256Hex(other) + " " + std::to_string(other.size()) + " bin/lib.so\n");
  std::string manifest = ReadFile(player + "/update.xml");
  manifest.insert(manifest.find("</update>"),
                  "<file key=\"zz.zip\" md5=\"1\" index=\"" +
                      Sha256Hex(ReadFile(game.content + "/public/index/zz.zip.lst")) + "\"/>\n");
  WriteFile(player + "/update.xml", manifest);
  GameCheckResult result = Check();
  ASSERT_TRUE(result.complete) << (result.errors.empty() ? "" : result.errors[0]);
  ASSERT_EQ(result.broken.size(), 1u);
  EXPECT_EQ(result.broken[0].package, "zz.zip");
  WriteFile(player + "/bin/lib.so", other);
  result = Check();
  EXPECT_TRUE(result.complete && result.broken.empty());
}

TEST_F(GameCheckTest, RefusedListsCheckNothingAndRepairNothing) {
  const std::string binList = ReadFile(game.content + "/public/index/bin.zip.lst");
  const std::string hash(64, 'b');
  const struct {
    const char* name;
    std::function<void()> spoil;
    const char* said;
  } cases[] = {
      {"hash differs from the announced one",
       [&] { WriteFile(game.content + "/public/index/bin.zip.lst", binList + hash + " 1 bin/x\n"); },
       "not the one the manifest announces"},
      {"a path climbing out", [&] { AnnounceList("bin.zip", binList + hash + " 1 bin/../../outside\n"); },
       "is not a file inside the game folder"},
      {"an absolute path", [&] { AnnounceList("bin.zip", binList + hash + " 1 /tmp/outside\n"); },
       "is not a file inside the game folder"},
      {"a list not served", [&] { fs::remove(game.content + "/public/index/bin.zip.lst"); }, "status 404"},
  };
  const std::string installed = ReadFile(player + "/update.xml");
  for (const auto& c : cases) {
    WriteFile(player + "/update.xml", installed);
    fs::remove_all(player + "/index");
    WriteFile(game.content + "/public/index/bin.zip.lst", binList);
    fs::remove(player + "/bin/lib.so");
    c.spoil();
    const GameCheckResult result = Check();
    EXPECT_FALSE(result.complete) << c.name;
    ASSERT_EQ(result.errors.size(), 1u) << c.name;
    EXPECT_NE(result.errors[0].find(c.said), std::string::npos) << c.name << ": " << result.errors[0];
    EXPECT_TRUE(result.broken.empty()) << c.name;
    // Nothing to repair from a refused check.
    RepairOptions options;
    options.gameDir = player;
    options.baseUrl = http.url("/");
    EXPECT_EQ(RepairGame(result, options).repaired, 0u) << c.name;
    EXPECT_FALSE(fs::exists(player + "/bin/lib.so")) << c.name;
    EXPECT_FALSE(fs::exists(dir.file("outside")) || fs::exists("/tmp/outside")) << c.name;
  }
}

TEST_F(GameCheckTest, PackageWithoutAListIsReportedAndTheOthersChecked) {
  std::string manifest = ReadFile(player + "/update.xml");
  manifest = std::regex_replace(manifest, std::regex("(key=\"bin.zip\"[^>]*) index=\"[0-9a-f]{64}\""), "$1");
  WriteFile(player + "/update.xml", manifest);
  fs::remove(player + "/bin/game");
  fs::remove(player + "/data/d0/f0.bin");
  const GameCheckResult result = Check();
  ASSERT_TRUE(result.complete);
  EXPECT_EQ(result.withoutList, std::vector<std::string>{"bin.zip"});
  ASSERT_EQ(result.broken.size(), 1u);
  EXPECT_EQ(result.broken[0].listed.path, "data/d0/f0.bin");
}

}  // namespace
}  // namespace zarn
