// zarn-publish run on real game folders; the launcher's own readers take what it wrote.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <utime.h>

#include "net/NetTestSupport.h"
#include "publish/PublishTestSupport.h"
#include "update/Extract.h"
#include "update/UpdateManifest.h"

namespace zarn {
namespace {

using test::NoiseBytes;
using test::ReadFile;
using test::ReadTree;
using test::RunPublish;
using test::TempDir;
using test::WriteFile;
using Files = std::map<std::string, std::string>;

constexpr char kLayout[] = R"({
  "packages": [
    {"key": "client.zip", "files": ["RuzaDivuzo226.exe", "bin/"]},
    {"key": "maps.zip", "files": ["data/map/*.bin", "data/map/*.txt"]},
    {"key": "sound.zip", "files": ["data/**/*.ogg"]}
  ],
  "default": "misc.zip",
  "exclude": ["**/*.log"],
  "servers": [{"id": "12", "folder": "servers/12"}]
})";

// The game folder of the tests and what each package must hold.
struct GameFolder {
  Files client{
      {"RuzaDivuzo226.exe", "game binary"}, {"bin/lib.so", NoiseBytes(200000, 1)}, {"bin/empty.dat", ""}};
  // a.bin spans more than one 1 MiB piece.
  Files maps{{"data/map/a.bin", NoiseBytes(2500000, 2)}, {"data/map/b.txt", "map b"}};
  Files sound{{"data/sound/th\xC3\xA9\xC3\xA2tre.ogg", NoiseBytes(1000, 3)}};
  Files misc{{"readme.txt", "read me"}};
  Files server{{"conf.ini", "[server]\nname=12\n"}, {"maps/extra.bin", NoiseBytes(5000, 4)}};

  void Write(const std::string& root) const {
    for (const Files* part : {&client, &maps, &sound, &misc})
      for (const auto& [name, bytes] : *part) WriteFile(root + "/" + name, bytes);
    for (const auto& [name, bytes] : server) WriteFile(root + "/servers/12/" + name, bytes);
    WriteFile(root + "/logs/game.log", "not published");
  }
};

class PublishTest : public ::testing::Test {
 protected:
  void SetUp() override {
    game.Write(dir.file("game"));
    WriteFile(layout, kLayout);
  }
  test::ToolRun Publish(const std::string& out) {
    return RunPublish({"--from", dir.file("game"), "--layout", layout, "--out", out}, dir.path());
  }
  PackageList Manifest(const std::string& out) {
    PackageList list;
    LoadPackageList(out + "/public/update.xml", list);
    return list;
  }
  // What the launcher's extraction makes of an archive in an empty folder.
  Files Unpacked(const std::string& archive) {
    TempDir target;
    EXPECT_EQ(ExtractArchive(archive, target.path() + "/"), kExtractOk) << archive;
    return ReadTree(target.path());
  }

  TempDir dir;
  GameFolder game;
  std::string layout = dir.file("layout.json");
  std::string out = dir.file("content");
};

TEST_F(PublishTest, ArchivesReproduceTheGameFilesByteForByte) {
  const test::ToolRun run = Publish(out);
  ASSERT_EQ(run.status, 0) << run.err;

  const PackageList manifest = Manifest(out);
  std::vector<std::string> keys;
  for (const auto& [key, version] : manifest) {
    keys.push_back(key);
    EXPECT_EQ(version.size(), 64u) << key;
  }
  EXPECT_EQ(keys, (std::vector<std::string>{"client.zip", "maps.zip", "misc.zip", "sound.zip"}));
  EXPECT_EQ(Unpacked(out + "/public/zip/client.zip"), game.client);
  EXPECT_EQ(Unpacked(out + "/public/zip/maps.zip"), game.maps);
  EXPECT_EQ(Unpacked(out + "/public/zip/sound.zip"), game.sound);
  EXPECT_EQ(Unpacked(out + "/public/zip/misc.zip"), game.misc);

  // Server data: a version line the launcher compares, and files for its Custom/12 folder.
  std::string line;
  ASSERT_TRUE(ReadFirstLine(out + "/ClientData/12.md5", line));
  EXPECT_EQ(line.size(), 64u);
  EXPECT_EQ(Unpacked(out + "/ClientData/12.zip"), game.server);
  // The archive, its data list and its per-file list.
  EXPECT_EQ(ReadTree(out + "/ClientData").size(), 3u);

  const test::ToolRun check = RunPublish({"--check", "--tree", out}, dir.path());
  EXPECT_EQ(check.status, 0) << check.out;
  EXPECT_EQ(check.out, "");
}

TEST_F(PublishTest, SameFilesGiveTheSameBytesWhateverTheirTimes) {
  ASSERT_EQ(Publish(out).status, 0);
  // Other modification times, another run, another root.
  for (const auto& [name, bytes] : game.maps) {
    const struct utimbuf times { 1000000000, 1000000000 };
    ASSERT_EQ(::utime(dir.file("game/" + name).c_str(), &times), 0);
  }
  const std::string again = dir.file("again");
  ASSERT_EQ(Publish(again).status, 0);
  EXPECT_EQ(ReadTree(out + "/public"), ReadTree(again + "/public"));
  EXPECT_EQ(ReadTree(out + "/ClientData"), ReadTree(again + "/ClientData"));
}

TEST_F(PublishTest, SecondPublishChangesOnlyThePackageWithTheChangedFile) {
  ASSERT_EQ(Publish(out).status, 0);
  const Files first = ReadTree(out);
  struct stat clientBefore {};
  ASSERT_EQ(::stat((out + "/public/zip/client.zip").c_str(), &clientBefore), 0);

  // A player's folder that installed the first publication.
  const std::string player = dir.file("player");
  WriteFile(InstalledManifestPath(player), first.at("public/update.xml"));

  WriteFile(dir.file("game/data/map/b.txt"), "map b, second edition");
  const test::ToolRun run = Publish(out);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("maps.zip"), std::string::npos);

  WriteFile(DownloadedManifestPath(player), ReadFile(out + "/public/update.xml"));
  const PackageList chosen = SelectPackages(player);
  ASSERT_EQ(chosen.size(), 1u);
  EXPECT_EQ(chosen.begin()->first, "maps.zip");
  PackageList installed;
  LoadPackageList(InstalledManifestPath(player), installed);
  EXPECT_NE(chosen.begin()->second, installed.at("maps.zip"));
  EXPECT_EQ(chosen.begin()->second, Manifest(out).at("maps.zip"));

  const Files second = ReadTree(out);
  for (const char* same : {"public/zip/client.zip", "public/zip/sound.zip", "public/zip/misc.zip",
                           "ClientData/12.md5", "ClientData/12.zip"})
    EXPECT_EQ(second.at(same), first.at(same)) << same;
  EXPECT_NE(second.at("public/zip/maps.zip"), first.at("public/zip/maps.zip"));
  game.maps["data/map/b.txt"] = "map b, second edition";
  EXPECT_EQ(Unpacked(out + "/public/zip/maps.zip"), game.maps);
  // The unchanged archive is the very file of the first run, taken over, not packed again.
  struct stat clientAfter {};
  ASSERT_EQ(::stat((out + "/public/zip/client.zip").c_str(), &clientAfter), 0);
  EXPECT_EQ(clientAfter.st_ino, clientBefore.st_ino);

  // Nothing changed: the same manifest, and the player is offered nothing.
  ASSERT_EQ(Publish(out).status, 0);
  EXPECT_EQ(ReadTree(out), second);
  WriteFile(InstalledManifestPath(player), second.at("public/update.xml"));
  WriteFile(DownloadedManifestPath(player), ReadFile(out + "/public/update.xml"));
  EXPECT_TRUE(SelectPackages(player).empty());
}

TEST_F(PublishTest, FailedRunLeavesThePublishedTreeAsItWas) {
  ASSERT_EQ(Publish(out).status, 0);
  const Files before = ReadTree(out);
  // The same packages without a default: the new file belongs nowhere.
  std::string strict = kLayout;
  strict.replace(strict.find("\"default\": \"misc.zip\","), std::string("\"default\": \"misc.zip\",").size(),
                 "\"exclude_none\": 0,");
  struct Case {
    std::string layoutText;
    std::string message;
  } cases[] = {
      {strict, "unknown member \"exclude_none\""},
      {std::string(kLayout), "12.data: the launcher writes this name itself"},
  };
  WriteFile(dir.file("game/servers/12/12.data"), "would be overwritten");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    WriteFile(layout, c.layoutText);
    WriteFile(dir.file("game/data/map/b.txt"), "changed again");
    const test::ToolRun run = Publish(out);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_EQ(ReadTree(out), before);
    for (const auto& entry : std::filesystem::directory_iterator(out))
      EXPECT_EQ(entry.path().filename().string().rfind(".zarn-publish-", 0), std::string::npos);
  }
}

TEST_F(PublishTest, RunKilledWhilePackingLeavesTheOldTreeAndTheNextRunCleansUp) {
  ASSERT_EQ(Publish(out).status, 0);
  const Files before = ReadTree(out);
  // Large enough that packing it takes a while.
  WriteFile(dir.file("game/data/map/big.bin"), NoiseBytes(40u << 20, 5));
  const pid_t pid =
      test::SpawnPublish({"--from", dir.file("game"), "--layout", layout, "--out", out}, dir.path());
  ASSERT_GT(pid, 0);
  auto packing = [&] {
    for (const auto& entry : std::filesystem::directory_iterator(out))
      if (entry.path().filename().string().rfind(".zarn-publish-", 0) == 0 &&
          std::filesystem::exists(entry.path() / "public/zip/maps.zip"))
        return true;
    return false;
  };
  const bool caught = test::WaitUntil(packing, std::chrono::seconds(60));
  ::kill(pid, SIGKILL);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(caught);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the run ended before it could be interrupted";

  Files now = ReadTree(out);
  for (auto it = now.begin(); it != now.end();)
    it = it->first.rfind(".zarn-publish-", 0) == 0 ? now.erase(it) : std::next(it);
  EXPECT_EQ(now, before);

  const test::ToolRun run = Publish(out);
  ASSERT_EQ(run.status, 0) << run.err;
  for (const auto& entry : std::filesystem::directory_iterator(out))
    EXPECT_EQ(entry.path().filename().string().rfind(".zarn-publish-", 0), std::string::npos);
  game.maps["data/map/big.bin"] = NoiseBytes(40u << 20, 5);
  EXPECT_EQ(Unpacked(out + "/public/zip/maps.zip"), game.maps);
}

TEST_F(PublishTest, LayoutMistakesAreRefusedWithTheirReason) {
  struct Case {
    const char* layoutText;
    const char* message;
  } cases[] = {
      {R"({"packages": [{"key": "client", "files": ["bin/"]}]})", "ending in \".zip\""},
      {R"({"packages": [{"key": "a.zip", "files": ["../outside"]}]})", "has a \".\" or \"..\" name"},
      {R"({"packages": [{"key": "a.zip", "files": ["**"]}, {"key": "a.zip", "files": ["x"]}]})",
       "listed twice"},
      {R"({"packages": [{"key": "a.zip", "files": ["bin/"]}]})", "readme.txt: no package takes this file"},
      {R"({"packages": [{"key": "a.zip", "files": ["**"]}, {"key": "b.zip", "files": ["nothing/"]}]})",
       "package \"b.zip\" takes no file"},
      {R"({"packages": [{"key": "a.zip", "files": ["**"]}], "servers": [{"id": "0", "folder": "servers/12"}]})",
       "naming a number of 1 or more"},
      {"{\"packages\": [\n  {\"key\": \"a.zip\" \"files\": []}\n]}", "layout.json:2: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.layoutText);
    WriteFile(layout, c.layoutText);
    const test::ToolRun run = Publish(out);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists(out + "/public"));
  }
}

}  // namespace
}  // namespace zarn
