// The launcher's update session, the one the work page runs, brings a game folder up to date
// from a tree zarn-publish wrote, served over HTTP on 127.0.0.1.
#include <gtest/gtest.h>

#include <mutex>
#include <thread>

#include "net/NetTestSupport.h"
#include "publish/PublishTestSupport.h"
#include "support/UpdateRunner.h"
#include "update/UpdateManifest.h"

namespace zarn {
namespace {

using test::DescribeOutcome;
using test::NoiseBytes;
using test::ReadFile;
using test::ReadTree;
using test::RoadOptions;
using test::RoadOutcome;
using test::RunPublish;
using test::RunUpdateSession;
using test::TempDir;
using test::WriteFile;

// The work page's update session from the start command to the game start.
void UpdateFrom(const std::string& base, const std::string& gameDir) {
  RoadOptions options;
  options.serverId = "12";
  const RoadOutcome outcome = RunUpdateSession(gameDir, base, options);
  EXPECT_EQ(outcome.kind, RoadOutcome::kComplete) << DescribeOutcome(outcome);
}

TEST(UpdateFromPublishedTree, GameFolderComesUpToDateAndFetchesOnlyWhatChanged) {
  test::ClearProxyEnvironment();
  TempDir dir;
  const std::map<std::string, std::string> gameFiles = {
      {"RuzaDivuzo226.exe", "the game"},          {"bin/engine.so", NoiseBytes(1500000, 7)},
      {"data/map/a.bin", NoiseBytes(300000, 8)},  {"data/map/b.txt", "map b"},
      {"data/ui/font.ttf", NoiseBytes(40000, 9)},
  };
  for (const auto& [name, bytes] : gameFiles) WriteFile(dir.file("master/" + name), bytes);
  WriteFile(dir.file("master/servers/12/zone.cfg"), "zone 12");
  WriteFile(dir.file("layout.json"), R"({
    "packages": [{"key": "client.zip", "files": ["RuzaDivuzo226.exe", "bin/"]},
                 {"key": "maps.zip", "files": ["data/map/"]}],
    "default": "rest.zip",
    "servers": [{"id": "12", "folder": "servers/12"}]})");
  const std::string content = dir.file("content");
  auto publish = [&] {
    const test::ToolRun run = RunPublish(
        {"--from", dir.file("master"), "--layout", dir.file("layout.json"), "--out", content}, dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
  };
  publish();

  test::HttpServer http;
  std::mutex mutex;
  std::vector<std::string> requested;
  ASSERT_TRUE(http.server().set_mount_point("/", content));
  http.server().set_logger([&](const httplib::Request& req, const httplib::Response& res) {
    std::lock_guard<std::mutex> lock(mutex);
    requested.push_back(req.path + " " + std::to_string(res.status));
  });
  http.Start();
  // The server logs a request after its reply has gone out: the last one may lag the road.
  auto takeRequests = [&](size_t expected) {
    test::WaitFor([&] {
      std::lock_guard<std::mutex> lock(mutex);
      return requested.size() >= expected;
    });
    std::lock_guard<std::mutex> lock(mutex);
    return std::exchange(requested, {});
  };

  // A fresh game folder: everything is fetched.
  const std::string player = dir.file("player");
  UpdateFrom(http.url("/"), player);
  for (const auto& [name, bytes] : gameFiles) EXPECT_EQ(ReadFile(player + "/" + name), bytes) << name;
  EXPECT_EQ(ReadFile(player + "/update.xml"), ReadFile(content + "/public/update.xml"));
  EXPECT_EQ(ReadFile(player + "/Custom/12/zone.cfg"), "zone 12");
  std::string published;
  ASSERT_TRUE(ReadFirstLine(content + "/ClientData/12.md5", published));
  EXPECT_EQ(ReadFile(player + "/Custom/12/12.data"), published);
  EXPECT_EQ(takeRequests(6), (std::vector<std::string>{"/public/update.xml 200", "/public/zip/client.zip 200",
                                                       "/public/zip/maps.zip 200", "/public/zip/rest.zip 200",
                                                       "/ClientData/12.md5 200", "/ClientData/12.zip 200"}));

  // One map file changes and is published again: that one package is fetched, nothing else.
  WriteFile(dir.file("master/data/map/b.txt"), "map b, patched");
  publish();
  UpdateFrom(http.url("/"), player);
  EXPECT_EQ(ReadFile(player + "/data/map/b.txt"), "map b, patched");
  EXPECT_EQ(ReadFile(player + "/bin/engine.so"), gameFiles.at("bin/engine.so"));
  EXPECT_EQ(ReadFile(player + "/update.xml"), ReadFile(content + "/public/update.xml"));
  EXPECT_EQ(takeRequests(3), (std::vector<std::string>{"/public/update.xml 200", "/public/zip/maps.zip 200",
                                                       "/ClientData/12.md5 200"}));
  // The download folder keeps no archive once it was unpacked.
  EXPECT_TRUE(ReadTree(player + "/download").count("maps.zip") == 0);
}

}  // namespace
}  // namespace zarn
