// Repairs fetch only the broken entries from a server that answers byte ranges (nginx, as a
// content network does), and the whole package from one that does not or answers them wrongly.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <filesystem>
#include <regex>

#include "net/NetTestSupport.h"
#include "repair/RepairSupport.h"
#include "update/GameCheck.h"
#include "update/Repair.h"

namespace fs = std::filesystem;

namespace zarn {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

class RepairTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::ClearProxyEnvironment();
    std::string error;
    // Large enough that the whole data package is far beyond the ranged repair's budget.
    game = test::PublishGame(dir, 60, 40000, &error);
    ASSERT_FALSE(game.content.empty()) << error;
    player = dir.file("player");
    test::InstallGame(game, player);
  }
  // Breaks files of both packages in the ways a player's folder breaks.
  void Break() {
    fs::remove(player + "/data/d0/f1.bin");
    WriteFile(player + "/data/d3/f33.bin", test::NoiseBytes(40000 + 33 * 13, 9));
    fs::remove(player + "/data/d5/f55.bin");
    fs::create_directory(player + "/data/d5/f55.bin");  // an empty folder where the file goes
    fs::remove(player + "/bin/lib.so");
    WriteFile(dir.file("elsewhere/lib.so"), "not the player's to change");
    fs::create_symlink(dir.file("elsewhere/lib.so"), player + "/bin/lib.so");
  }
  GameCheckResult Check(const std::string& base) {
    GameCheckOptions options;
    options.gameDir = player;
    options.baseUrl = base;
    return CheckGame(options);
  }
  void ExpectWhole(const std::string& base) {
    for (const auto& [name, bytes] : game.files) EXPECT_EQ(ReadFile(player + "/" + name), bytes) << name;
    EXPECT_FALSE(fs::is_symlink(player + "/bin/lib.so"));
    EXPECT_EQ(ReadFile(dir.file("elsewhere/lib.so")), "not the player's to change");
    EXPECT_EQ(ReadFile(player + "/saves/slot1.sav"), "the player's save");
    const GameCheckResult again = Check(base);
    EXPECT_TRUE(again.complete && again.broken.empty());
    // No temporary file stays behind.
    for (const auto& entry : fs::recursive_directory_iterator(player))
      EXPECT_EQ(entry.path().filename().string().find(".zarn-repair"), std::string::npos) << entry.path();
    EXPECT_FALSE(fs::exists(player + "/download/data.zip.repair"));
  }
  uint64_t Budget() {
    uint64_t compressed = 0;
    for (const char* entry : {"data/d0/f1.bin", "data/d3/f33.bin", "data/d5/f55.bin"})
      compressed += test::CompressedSize(game.content + "/public/zip/data.zip", entry);
    compressed += test::CompressedSize(game.content + "/public/zip/bin.zip", "bin/lib.so");
    // Per package, its directory and the entries' headers.
    return compressed + 2 * 256 * 1024;
  }

  TempDir dir;
  test::PublishedGame game;
  std::string player;
};

TEST_F(RepairTest, RangesFetchOnlyTheBrokenEntries) {
  test::Nginx nginx(game.content, dir.file(""));
  ASSERT_TRUE(nginx.running());
  Break();
  const GameCheckResult check = Check(nginx.url("/"));
  ASSERT_TRUE(check.complete);
  ASSERT_EQ(check.broken.size(), 4u);
  RepairOptions options;
  options.gameDir = player;
  options.baseUrl = nginx.url("/");
  std::vector<size_t> packages;
  uint64_t lastBytes = 0;
  options.packages = [&](size_t done, size_t) { packages.push_back(done); };
  options.bytes = [&](uint64_t fetched) { lastBytes = fetched; };
  const RepairResult result = RepairGame(check, options);
  EXPECT_EQ(result.repaired, 4u);
  EXPECT_TRUE(result.failed.empty()) << result.failed[0];
  EXPECT_EQ(result.wholePackages, 0u);
  EXPECT_EQ(packages, (std::vector<size_t>{1, 2}));
  EXPECT_GT(lastBytes, 0u);
  EXPECT_LE(result.bytesFetched, Budget());
  EXPECT_LT(result.bytesFetched, fs::file_size(game.content + "/public/zip/data.zip") / 4);
  // What nginx says it sent agrees.
  ASSERT_TRUE(test::WaitFor([&] { return nginx.BodyBytesSent("/public/zip/") >= result.bytesFetched; }));
  EXPECT_EQ(nginx.BodyBytesSent("/public/zip/"), result.bytesFetched);
  ExpectWhole(nginx.url("/"));
}

// Servers that get ranges wrong: the repair fetches the whole package instead.
enum class RangeFault { kIgnored, kOtherRange, kOtherBytes };

std::string Reply(const std::string& contentRoot, const std::string& request, RangeFault fault) {
  std::smatch m;
  if (!std::regex_search(request, m, std::regex("^GET (\\S+) "))) return "HTTP/1.1 400 Bad\r\n\r\n";
  const std::string body = ReadFile(contentRoot + m[1].str());
  if (body.empty()) return "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
  std::smatch r;
  const bool ranged =
      std::regex_search(request, r, std::regex("Range: bytes=(\\d*)-(\\d*)", std::regex::icase));
  if (!ranged || fault == RangeFault::kIgnored || r[1].str().empty())
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
  uint64_t first = std::stoull(r[1].str());
  const uint64_t last = std::min<uint64_t>(std::stoull(r[2].str()), body.size() - 1);
  const uint64_t length = last - first + 1;
  uint64_t claimed = first;
  if (fault == RangeFault::kOtherRange) claimed = first / 2;  // says so, and sends those bytes
  if (fault == RangeFault::kOtherBytes) first = first / 2;    // claims the range, sends others
  return "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + std::to_string(claimed) + "-" +
         std::to_string(claimed + length - 1) + "/" + std::to_string(body.size()) +
         "\r\nContent-Length: " + std::to_string(length) + "\r\nConnection: close\r\n\r\n" +
         body.substr(fault == RangeFault::kOtherRange ? claimed : first, length);
}

TEST_F(RepairTest, ServersThatGetRangesWrongGiveTheWholePackage) {
  const std::string binZip = ReadFile(game.content + "/public/zip/bin.zip");
  for (RangeFault fault : {RangeFault::kIgnored, RangeFault::kOtherRange, RangeFault::kOtherBytes}) {
    SCOPED_TRACE(static_cast<int>(fault));
    fs::remove_all(player);
    test::InstallGame(game, player);
    test::RawServer server(
        [&](int fd, const std::string& request) { test::SendAll(fd, Reply(game.content, request, fault)); });
    const std::string base = server.url("/");
    Break();
    const GameCheckResult check = Check(base);
    ASSERT_TRUE(check.complete);
    RepairOptions options;
    options.gameDir = player;
    options.baseUrl = base;
    const RepairResult result = RepairGame(check, options);
    EXPECT_EQ(result.repaired, 4u);
    EXPECT_TRUE(result.failed.empty()) << result.failed[0];
    EXPECT_EQ(result.wholePackages, 2u);
    ExpectWhole(base);
  }
}

TEST_F(RepairTest, CancelledRepairLeavesNoHalfWrittenFile) {
  test::Nginx nginx(game.content, dir.file(""));
  ASSERT_TRUE(nginx.running());
  const std::string damaged = test::NoiseBytes(40000 + 33 * 13, 9);
  WriteFile(player + "/data/d3/f33.bin", damaged);
  const GameCheckResult check = Check(nginx.url("/"));
  ASSERT_EQ(check.broken.size(), 1u);
  std::atomic<bool> cancel{false};
  RepairOptions options;
  options.gameDir = player;
  options.baseUrl = nginx.url("/");
  options.cancel = &cancel;
  // Closing the launcher while the entry is being written.
  options.bytes = [&](uint64_t) { cancel = true; };
  const RepairResult result = RepairGame(check, options);
  EXPECT_TRUE(result.cancelled);
  EXPECT_EQ(result.repaired, 0u);
  EXPECT_EQ(result.wholePackages, 0u);
  EXPECT_EQ(ReadFile(player + "/data/d3/f33.bin"), damaged);
  for (const auto& entry : fs::recursive_directory_iterator(player))
    EXPECT_EQ(entry.path().filename().string().find(".zarn-repair"), std::string::npos) << entry.path();
}

TEST_F(RepairTest, PackageThatDisagreesWithItsListRepairsNothing) {
  test::Nginx nginx(game.content, dir.file(""));
  ASSERT_TRUE(nginx.running());
  fs::remove(player + "/data/d0/f1.bin");
  const GameCheckResult check = Check(nginx.url("/"));
  ASSERT_EQ(check.broken.size(), 1u);
  // The served package no longer holds the listed bytes (a half-done upload on the server).
  const std::string data = game.content + "/public/zip/data.zip";
  fs::copy_file(game.content + "/public/zip/bin.zip", data, fs::copy_options::overwrite_existing);
  RepairOptions options;
  options.gameDir = player;
  options.baseUrl = nginx.url("/");
  const RepairResult result = RepairGame(check, options);
  EXPECT_EQ(result.repaired, 0u);
  ASSERT_EQ(result.failed.size(), 1u);
  EXPECT_FALSE(fs::exists(player + "/data/d0/f1.bin"));
}

}  // namespace
}  // namespace zarn
