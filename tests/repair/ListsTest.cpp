// The per-file lists zarn-publish writes, and what its --check says of them.
#include <gtest/gtest.h>

#include <tinyxml2.h>

#include "repair/RepairSupport.h"
#include "update/FileList.h"
#include "util/Sha256.h"

namespace zarn {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

std::string IndexAttribute(const std::string& manifest, const std::string& key) {
  tinyxml2::XMLDocument doc;
  if (doc.LoadFile(manifest.c_str()) != tinyxml2::XML_SUCCESS) return "";
  for (auto* e = doc.FirstChildElement()->FirstChildElement(); e; e = e->NextSiblingElement())
    if (key == e->Attribute("key")) return e->Attribute("index") ? e->Attribute("index") : "";
  return "";
}

TEST(PublishedLists, EveryPackageAndServerDataHasAListAnnouncedByItsHash) {
  TempDir dir;
  std::string error;
  const test::PublishedGame game = test::PublishGame(dir, 12, 3000, &error);
  ASSERT_FALSE(game.content.empty()) << error;

  std::map<std::string, std::string> listed;
  for (const std::string key : {"bin.zip", "data.zip"}) {
    const std::string text = ReadFile(game.content + "/public/index/" + key + ".lst");
    EXPECT_EQ(IndexAttribute(game.content + "/public/update.xml", key), Sha256Hex(text)) << key;
    std::vector<ListedFile> files;
    ASSERT_TRUE(ParseFileList(text, &files, &error)) << error;
    for (const ListedFile& f : files) {
      EXPECT_TRUE(listed.emplace(f.path, f.sha256).second) << f.path << " listed twice";
      EXPECT_EQ(f.size, game.files.at(f.path).size()) << f.path;
    }
  }
  ASSERT_EQ(listed.size(), game.files.size());
  for (const auto& [name, bytes] : game.files) EXPECT_EQ(listed[name], Sha256Hex(bytes)) << name;

  const std::string dataList = ReadFile(game.content + "/ClientData/12.lst");
  EXPECT_EQ(dataList, Sha256Hex("zone 12") + " 7 zone.cfg\n");
  const std::string md5 = ReadFile(game.content + "/ClientData/12.md5");
  EXPECT_NE(md5.find("\nindex " + Sha256Hex(dataList) + "\n"), std::string::npos) << md5;

  EXPECT_EQ(test::RunPublish({"--check", "--tree", game.content}, dir.path()).status, 0);
}

TEST(PublishedLists, CheckFindsListsThatDisagree) {
  TempDir dir;
  std::string error;
  const test::PublishedGame game = test::PublishGame(dir, 4, 1000, &error);
  ASSERT_FALSE(game.content.empty()) << error;
  const std::string binList = game.content + "/public/index/bin.zip.lst";
  const std::string original = ReadFile(binList);
  const std::string dataMd5 = game.content + "/ClientData/12.md5";
  const std::string originalMd5 = ReadFile(dataMd5);
  struct Case {
    const char* name;
    std::function<void()> spoil;
    const char* said;
  };
  const Case cases[] = {
      {"list changed after publishing", [&] { WriteFile(binList, original + original); }, "announced"},
      {"list missing", [&] { std::remove(binList.c_str()); }, "missing"},
      {"server data list changed", [&] { WriteFile(game.content + "/ClientData/12.lst", "x"); },
       "ClientData/12.lst"},
      {"index line not a hash", [&] { WriteFile(dataMd5, originalMd5 + "index 12\n"); }, "not 64 hex digits"},
  };
  for (const Case& c : cases) {
    c.spoil();
    const test::ToolRun run = test::RunPublish({"--check", "--tree", game.content}, dir.path());
    EXPECT_NE(run.status, 0) << c.name;
    EXPECT_NE((run.out + run.err).find(c.said), std::string::npos) << c.name << "\n" << run.out << run.err;
    WriteFile(binList, original);
    WriteFile(dataMd5, originalMd5);
    // The server data list comes back by publishing again.
    test::RunPublish({"--from", game.master, "--layout", dir.file("layout.json"), "--out", game.content},
                     dir.path());
  }
}

TEST(FileListLines, RefusedLines) {
  const std::string hash(64, 'a');
  const struct {
    std::string text;
    bool ok;
  } cases[] = {
      {hash + " 3 a/b c.txt\n", true},
      {hash + " 3 a\\b.txt\n", true},
      {hash + " 3 ../x\n", false},
      {hash + " 3 a/../../x\n", false},
      {hash + " 3 /etc/passwd\n", false},
      {hash + " 3 \\x\n", false},
      {hash + " 3 a/\n", false},
      {hash + " -3 a\n", false},
      {hash + " 3a a\n", false},
      {hash.substr(1) + " 3 a\n", false},
      {hash + " 3\n", false},
      {hash + " 3 a", false},  // cut
      {"", true},
  };
  for (const auto& c : cases) {
    std::vector<ListedFile> files;
    std::string error;
    EXPECT_EQ(ParseFileList(c.text, &files, &error), c.ok) << c.text << error;
  }
}

}  // namespace
}  // namespace zarn
