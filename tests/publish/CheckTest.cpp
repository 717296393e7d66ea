// zarn-publish --check: what the launcher would stumble over, named by file and line.
#include <gtest/gtest.h>

#include "publish/PublishTestSupport.h"
#include "update/ZipBuilder.h"

namespace zarn {
namespace {

using test::ReadFile;
using test::RunPublish;
using test::TempDir;
using test::WriteFile;
using test::WriteZip;

class CheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(dir.file("game/RuzaDivuzo226.exe"), "game");
    WriteFile(dir.file("game/data/a.txt"), "a");
    WriteFile(dir.file("game/srv/12/conf.ini"), "conf");
    WriteFile(dir.file("layout.json"), R"({"packages": [{"key": "client.zip", "files": ["**"]}],
                                           "servers": [{"id": "12", "folder": "srv/12"}]})");
    const test::ToolRun run = RunPublish(
        {"--from", dir.file("game"), "--layout", dir.file("layout.json"), "--out", tree}, dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
  }
  test::ToolRun Check(const std::vector<std::string>& args) {
    std::vector<std::string> all{"--check"};
    all.insert(all.end(), args.begin(), args.end());
    return RunPublish(all, dir.path());
  }
  // One broken document per case: the check fails and prints the problem at its line.
  struct Case {
    std::string text;
    std::string where;  // ":<line>: "
    std::string problem;
  };
  // Writes each case's text to path and checks with args.
  void ExpectProblems(const std::string& path, const std::vector<Case>& cases,
                      const std::vector<std::string>& args) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.text.substr(0, 300));
      WriteFile(path, c.text);
      const test::ToolRun run = Check(args);
      EXPECT_EQ(run.status, 1) << run.out;
      EXPECT_NE(run.out.find(path + c.where + c.problem), std::string::npos) << run.out;
    }
  }
  void ExpectClean(const std::vector<std::string>& args) {
    const test::ToolRun run = Check(args);
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(run.out, "");
  }

  TempDir dir;
  std::string tree = dir.file("content");
};

TEST_F(CheckTest, BrokenPackageManifestsAndArchives) {
  ExpectClean({"--tree", tree});
  WriteFile(tree + "/public/zip/junk.zip", "not a zip archive at all");
  WriteZip(tree + "/public/zip/evil.zip", {{"ok.txt", "fine"}, {"../outside.txt", "escapes"}});
  WriteFile(tree + "/public/zip/data.pak", "a pak file");
  // A stored entry whose bytes no longer match its CRC.
  WriteZip(tree + "/public/zip/damaged.zip", {{"d.txt", "the original text of d", true}});
  std::string damaged = ReadFile(tree + "/public/zip/damaged.zip");
  damaged[30 + 5 + 4] ^= 0x20;
  WriteFile(tree + "/public/zip/damaged.zip", damaged);

  const std::string head = "<?xml version=\"1.0\"?>\n<update>\n";
  ExpectProblems(
      tree + "/public/update.xml",
      {
          {head + "  <file md5=\"1\"/>\n</update>\n", ":3: ", "entry without \"key\""},
          {head + "  <file key=\"client.zip\" md5=\"1\"/>\n  <file key=\"gone.zip\" md5=\"1\"/>\n</update>\n",
           ":4: ", "public/zip/gone.zip is missing"},
          {head + "  <file key=\"junk.zip\" md5=\"1\"/>\n</update>\n",
           ":3: ", "public/zip/junk.zip is not a zip archive"},
          {head + "\n  <file key=\"evil.zip\" md5=\"1\"/>\n</update>\n",
           ":4: ", "public/zip/evil.zip: entry \"../outside.txt\" would land outside the game folder"},
          {head + "  <file key=\"data.pak\" md5=\"1\"/>\n</update>\n",
           ":3: ", "key \"data.pak\" has no \".zip\""},
          {head + "  <file key=\"damaged.zip\" md5=\"1\"/>\n</update>\n",
           ":3: ", "public/zip/damaged.zip: entry d.txt is damaged"},
          {head + "  <file key=\"client.zip\"/>\n</update>\n",
           ":3: ", "entry \"client.zip\" without \"md5\""},
          {head + "  <file key=\"client.zip\" md5=\"1\">\n</updat>\n", ":3: ", "not well-formed XML"},
      },
      {"--tree", tree});
}

TEST_F(CheckTest, BrokenServerData) {
  const std::string md5 = ReadFile(tree + "/ClientData/12.md5");
  WriteFile(tree + "/ClientData/12.md5", "\n" + md5);
  WriteFile(tree + "/ClientData/7.zip", ReadFile(tree + "/ClientData/12.zip"));
  WriteFile(tree + "/ClientData/0.md5", "v1\n");
  const test::ToolRun run = Check({"--tree", tree});
  EXPECT_EQ(run.status, 1);
  for (const std::string& expected :
       {tree + "/ClientData/12.md5:1: the first line (the data version) is empty",
        tree + "/ClientData/7.zip:1: no 7.md5 beside it",
        tree + "/ClientData/0.md5:1: the launcher fetches server data only for ids"})
    EXPECT_NE(run.out.find(expected), std::string::npos) << run.out;
}

TEST_F(CheckTest, BrokenServerLists) {
  const std::string path = dir.file("serverlist.xml");
  const std::string head =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<list main_page=\"http://example.com/\">\n";
  const std::string zone =
      "  <zone name=\"Zone A\" realname=\"zoneA\" version=\"1.2\" color=\"255\" expand=\"1\">\n";
  const std::string tail = "  </zone>\n</list>\n";
  auto server = [](const std::string& attributes) { return "    <server " + attributes + "/>\n"; };
  const std::string good = "name=\"S1\" cnname=\"Server One\" ip=\"10.0.0.1\" port=\"7000\" color=\"65280\"";
  WriteFile(path, head + zone + server(good + " id=\"12\"") + tail);
  ExpectClean({"--server-list", path, "--tree", tree});

  ExpectProblems(
      path,
      {
          {head + zone + server(good) + tail, ":4: ", "zone 1, server 1 has no \"id\""},
          {head + zone + server(good + " id=\"13\"") + tail,
           ":4: ", "zone 1, server 1: the content tree has no ClientData/13.md5"},
          {head + zone + server("name=\"S1\" ip=\"10.0.0.1\" port=\"70x0\" color=\"1\" id=\"12\"") + tail,
           ":4: ", "zone 1, server 1: \"port\" \"70x0\" is not a port number"},
          {head + zone + server("name=\"My S1\" ip=\"10.0.0.1\" port=\"7000\" color=\"1\" id=\"12\"") + tail,
           ":4: ", "zone 1, server 1: \"name\" \"My S1\" holds a blank"},
          {head + "  <zone name=\"A\" realname=\"a\" version=\"1\">\n" + server(good + " id=\"12\"") + tail,
           ":3: ", "zone 1 has no \"color\""},
          {head + zone + server(good + " id=\"12\" hide=\"1x\"") + tail,
           ":4: ", "zone 1, server 1: \"hide\" \"1x\" is not a decimal number; the launcher reads 1"},
          {head + zone + "    <server name=\"S1\">\n  </zone>\n</list>\n", ":4: ", "not well-formed XML"},
      },
      {"--server-list", path, "--tree", tree});
}

TEST_F(CheckTest, BrokenVersionManifests) {
  const std::string path = dir.file("version.xml");
  WriteFile(path,
            "{\n  \"version\": \"1.0.0.2\",\n  \"url\": \"http://h/zarn\",\n"
            "  \"serverlist\": \"http://h/serverlist.xml\",\n  \"titleBar\": \"http://h/news\"\n}\n");
  ExpectClean({"--version-manifest", path});
  ExpectProblems(
      path,
      {
          {"{\n  \"version\": \"1.0.0.2\",\n  \"serverlist\": \"http://h/s\"\n}\n", ":1: ", "no \"url\""},
          {"{\n  \"version\": \"1.0.1\",\n  \"url\": \"http://h/z\",\n  \"serverlist\": \"http://h/s\"\n}\n",
           ":2: ", "\"version\" \"1.0.1\" is not of the form a.b.c.d"},
          {"{\n  \"version\": \"1.0.0.1\",\n  \"url\": \"http://h/z\",\n  \"serverlist\": 7\n}\n",
           ":4: ", "\"serverlist\" is a number, not a text"},
          {"{\n  \"version\": \"1.0.0.1\",\n  \"url\": \"http://h/z\",\n}\n",
           ":4: ", "Missing a name for object member"},
          {"{\n  \"version\": \"1.0.0.1\",\n  \"url\": \"http://h/dir/\",\n  \"serverlist\": "
           "\"http://h/s\"\n}\n",
           ":3: ", "\"url\" names no file"},
          {"{\"version\": \"1.0.0.1\", \"url\": \"http://h/z\", \"serverlist\": \"http://h/s\", \"pad\": \"" +
               std::string(4100, 'x') + "\"}",
           ":1: ", "the launcher reads at most 4095 bytes"},
      },
      {"--version-manifest", path});
}

TEST_F(CheckTest, BrokenLoginInformation) {
  const std::string path = dir.file("logon.json");
  WriteFile(path,
            "{\n  \"lander_id\": 7,\n  \"find_pwd_url\": \"http://h/find\",\n  \"recharge_url\": "
            "\"http://h/pay\"\n}\n");
  ExpectClean({"--login-info", path});
  ASSERT_TRUE(test::Exists(path));  // the launcher's reader ran on a copy
  ExpectProblems(
      path,
      {
          {"{\n  \"lander_id\": \"7\",\n  \"find_pwd_url\": \"http://h/f\",\n  \"recharge_url\": "
           "\"http://h/p\"\n}",
           ":2: ", "\"lander_id\" is a text, not a 32-bit integer"},
          {"{\n  \"lander_id\": 4294967296,\n  \"find_pwd_url\": \"http://h/f\",\n  \"recharge_url\": "
           "\"http://h/p\"\n}",
           ":2: ", "\"lander_id\" is a number beyond 32 bits"},
          {"{\n  \"lander_id\": 7,\n  \"find_pwd_url\": \"http://h/f\"\n}", ":1: ", "no \"recharge_url\""},
          {"{\n  \"lander_id\": 7\n  \"find_pwd_url\": \"http://h/f\"\n}",
           ":3: ", "Missing a comma or '}' after an object member"},
      },
      {"--login-info", path});
}

TEST_F(CheckTest, EveryProblemIsPrintedAndTheCountMatches) {
  const std::string path = dir.file("logon.json");
  WriteFile(path, "[1, 2]");
  const test::ToolRun single = Check({"--login-info", path});
  EXPECT_EQ(single.status, 1);
  EXPECT_EQ(
      single.out,
      path + ":1: must be a JSON object: the launcher opens the service pages without their addresses\n");
  EXPECT_NE(single.err.find("1 problem"), std::string::npos);

  const test::ToolRun usage = Check({});
  EXPECT_EQ(usage.status, 2);
}

}  // namespace
}  // namespace zarn
