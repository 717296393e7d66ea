#include "FaultFixture.h"

#include <filesystem>

#include "update/UpdateJournal.h"
#include "update/UpdateManifest.h"

namespace zarn::test {

namespace fs = std::filesystem;

Content Content::Make() {
  Content c;
  const Package a1{
      "a.zip", "a-1", {{"data/", ""}, {"data/a1.txt", "a one"}, {"data/sub/a2.bin", NoiseBytes(5000, 1)}}};
  const Package b1{"b.zip", "b-1", {{"b/b1.txt", "b one"}, {"b/b2.bin", NoiseBytes(300000, 2)}}};
  const Package d1{"d.zip", "d-1", {{"d.txt", "d stays"}}};
  const Package a2{
      "a.zip", "a-2", {{"data/", ""}, {"data/a1.txt", "a two"}, {"data/sub/a2.bin", NoiseBytes(6000, 3)}}};
  const Package b2{
      "b.zip",
      "b-2",
      {{"b/b1.txt", TextBytes(40000, 4)}, {"b/b2.bin", NoiseBytes(300000, 5)}, {"b/b3.txt", "b3"}}};
  const Package c2{"c.zip", "c-2", {{"c.txt", "c is new"}, {"c/empty.txt", ""}}};
  c.installed = {a1, b1, d1};
  c.published = {a2, b2, c2, d1};
  c.serverData = {"12.zip", "srv-2", {{"map/12.map", TextBytes(20000, 12)}, {"12.ini", "[s]\r\n"}}};
  c.serverList = "srv-2\r\nfurther lines are not read\r\n";
  return c;
}

FaultFixture::FaultFixture() : game(tmp.path()), content(Content::Make()) {
  ClearProxyEnvironment();
  ResetGameFolder();
  installedManifest = ReadFile(game.dir + "/update.xml");
  parentBefore = game.ParentSnapshot();
  PublishAll();
}

void FaultFixture::ResetGameFolder() {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(game.dir, ec)) fs::remove_all(entry.path(), ec);
  game.AddPlayerFiles();
  InstallPackages(game.dir, content.installed);
  WriteFile(game.dir + "/Custom/12/12.data", "srv-1");
  WriteFile(game.dir + "/Custom/12/map/12.map", "old map");
}

void FaultFixture::PublishAll() {
  server.HealAll();
  Publish(server, content.published);
  server.Serve("/ClientData/12.md5", content.serverList);
  server.Serve("/ClientData/12.zip", ZipBytes(content.serverData.entries));
}

void FaultFixture::ExpectConsistent(const std::string& when) {
  SCOPED_TRACE(when);
  const std::string xml = game.dir + "/update.xml";
  ASSERT_TRUE(Exists(xml)) << "the installed manifest went missing";
  PackageList installed;
  LoadPackageList(xml, installed);
  EXPECT_FALSE(installed.empty()) << "unreadable installed manifest: " << ReadFile(xml);
  for (const Package& p : content.published) {
    const auto it = installed.find(p.key);
    if (it != installed.end() && it->second == p.md5) {
      EXPECT_TRUE(IsUnpacked(game.dir, p))
          << "update.xml claims " << p.key << " " << p.md5 << " half unpacked";
    }
  }
  // Nor does the journal of an interrupted round claim a package that is not in place.
  if (const std::optional<UpdateJournal> journal = ReadJournal(game.dir)) {
    for (const Package& p : content.published) {
      const auto it = journal->finished.find(p.key);
      if (it != journal->finished.end() && it->second == p.md5) {
        EXPECT_TRUE(IsUnpacked(game.dir, p))
            << "the journal claims " << p.key << " " << p.md5 << " half unpacked";
      }
    }
  }
  std::string line;
  if (ReadFirstLine(game.dir + "/Custom/12/12.data", line) && line == content.serverData.md5) {
    EXPECT_TRUE(IsUnpacked(game.dir + "/Custom/12", content.serverData)) << "server list claims missing data";
  }
  // The launcher may add its own keys to the configuration; the player's stay.
  EXPECT_EQ(ReadFile(game.dir + "/ClientConfig.cfg").rfind("[GameSetup]\r\nHuaWeiCDN=0\r\n", 0), 0u);
  EXPECT_EQ(ReadFile(game.dir + "/screenshots/shot1.png"), "the player's own file");
  EXPECT_TRUE(game.ParentSnapshot() == parentBefore) << "something was written outside the game folder";
}

void FaultFixture::ExpectComplete(const std::string& when) {
  ExpectConsistent(when);
  SCOPED_TRACE(when);
  for (const Package& p : content.published) EXPECT_TRUE(IsUnpacked(game.dir, p)) << p.key;
  EXPECT_EQ(ReadFile(game.dir + "/update.xml"), ManifestXml(content.published));
  // A start that chose nothing leaves the downloaded manifest beside the installed one.
  const std::string down = game.dir + "/update.down";
  EXPECT_TRUE(!Exists(down) || ReadFile(down) == ManifestXml(content.published));
  for (const Package& p : content.published) EXPECT_FALSE(Exists(game.dir + "/download/" + p.key)) << p.key;
  EXPECT_TRUE(IsUnpacked(game.dir + "/Custom/12", content.serverData));
  EXPECT_EQ(ReadFile(game.dir + "/Custom/12/12.data"), "srv-2");
  EXPECT_FALSE(Exists(game.dir + "/Custom/12.zip"));
}

}  // namespace zarn::test
