// The work page's whole road against a content service on 127.0.0.1 that serves real manifests
// and real zip archives: the start-up chain, the start command, the packages, the server's own
// data and the game client started with its command line; and the failures on that road, each
// through its prompt, answered here as a player would.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QComboBox>
#include <QTest>
#include <QTreeWidget>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "app/Version.h"
#include "net/NetTestSupport.h"
#include "platform/Process.h"
#include "platform/Prompt.h"
#include "support/TestSupport.h"
#include "update/UpdateManifest.h"
#include "update/ZipBuilder.h"
#include "util/IniFile.h"
#include "work/CDialogWork.h"
#include "work/CMyTreeCtrl.h"

namespace zarn {
namespace {

namespace fs = std::filesystem;
using test::CodeSetGuard;
using test::EnvGuard;
using test::Exists;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;
using test::ZipEntry;

constexpr int kRoadLimitMs = 30000;

// The web side: a table of replies by request target (path and query) that a test may change
// while the page runs, and the log of every request.
class Site {
 public:
  Site() {
    http_.server().Get(".*", [this](const httplib::Request& req, httplib::Response& res) {
      std::lock_guard lock(mutex_);
      log_.push_back(req.target);
      const auto it = replies_.find(req.target);
      if (it == replies_.end()) {
        res.status = 404;
        res.set_content("<html>not found</html>", "text/html");
        return;
      }
      res.status = it->second.status;
      res.set_content(it->second.body, "application/octet-stream");
    });
    http_.Start();
  }

  std::string base() const { return "http://127.0.0.1:" + std::to_string(http_.port()); }
  void Put(const std::string& target, std::string body, int status = 200) {
    std::lock_guard lock(mutex_);
    replies_[target] = {status, std::move(body)};
  }
  std::string Body(const std::string& target) {
    std::lock_guard lock(mutex_);
    return replies_.at(target).body;
  }
  int Count(const std::string& target) {
    std::lock_guard lock(mutex_);
    return static_cast<int>(std::count(log_.begin(), log_.end(), target));
  }
  // The requests whose target begins with prefix, in order.
  std::vector<std::string> Log(const std::string& prefix) {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    for (const std::string& t : log_)
      if (t.rfind(prefix, 0) == 0) out.push_back(t);
    return out;
  }

 private:
  struct Reply {
    int status;
    std::string body;
  };
  test::HttpServer http_;
  std::mutex mutex_;
  std::map<std::string, Reply> replies_;
  std::vector<std::string> log_;
};

// The page as the launcher runs it, with a record of every finished download: the stage before
// and after the page handled it, the blue bar's count and the installed manifest at that moment.
class ObservedWork : public CDialogWork {
 public:
  using CDialogWork::CDialogWork;
  struct Finish {
    int stageBefore;
    int stageAfter;
    int32_t overallDone;
    std::string localPath;
    std::string installedManifest;
  };
  void HandleDownloadFinish(int taskCode, const std::string& url, const std::string& localPath,
                            int errorCode) override {
    const int before = stage();
    CDialogWork::HandleDownloadFinish(taskCode, url, localPath, errorCode);
    const std::string manifest = InstalledManifestPath(launcherDir);
    finishes.push_back(
        {before, stage(), overallDone, localPath, Exists(manifest) ? ReadFile(manifest) : "-"});
  }
  std::vector<int32_t> PackageCounts() const {
    std::vector<int32_t> out;
    for (const Finish& f : finishes)
      if (f.stageBefore == STAGE_PACKAGE) out.push_back(f.overallDone);
    return out;
  }
  std::vector<Finish> finishes;
};

// One start of the game client, as the demo game client records it.
struct GameStart {
  std::string cwd;
  std::vector<std::string> argv;
};

std::vector<GameStart> ReadGameStarts(const std::string& log) {
  std::vector<GameStart> starts;
  if (!Exists(log)) return starts;
  std::istringstream in(ReadFile(log));
  std::string line;
  GameStart current;
  while (std::getline(in, line)) {
    if (line.rfind("cwd=", 0) == 0) {
      current = {line.substr(4), {}};
    } else if (line.rfind("arg", 0) == 0 && line.rfind("args=", 0) != 0 && line.rfind("argc=", 0) != 0) {
      current.argv.push_back(line.substr(line.find('=') + 1));
    } else if (line == "end") {
      starts.push_back(current);
    }
  }
  return starts;
}

std::string ZipBytes(const std::vector<ZipEntry>& entries) {
  TempDir dir;
  test::WriteZip(dir.file("p.zip"), entries);
  return ReadFile(dir.file("p.zip"));
}

std::string Manifest(const std::vector<std::pair<std::string, std::string>>& packages) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<update>\n";
  for (const auto& [key, md5] : packages) xml += "  <file key=\"" + key + "\" md5=\"" + md5 + "\"/>\n";
  return xml + "</update>\n";
}

class RoadTest : public ::testing::Test {
 protected:
  RoadTest()
      : home_("HOME", home.path()),
        config_("XDG_CONFIG_HOME", home.file(".config")),
        cdn_("ZARN_CDN_BASE_URL", site.base() + "/cdn/"),
        storage_("ZARN_STORAGE_BASE_URL", site.base() + "/obs/"),
        account_("ZARN_ACCOUNT_URL", site.base() + "/acct"),
        web_("ZARN_WEB_URL", site.base() + "/web") {}

  void SetUp() override {
    test::ClearProxyEnvironment();
    char cwd[4096];
    savedCwd = ::getcwd(cwd, sizeof cwd) ? cwd : "/";
    dir = fs::canonical(game.path()).string();
    SetModulePathForTest(dir + "/zarn");
    // Update downloads from the cloud storage ("HuaWeiCDN" 0); the manifest always from the CDN.
    // One package at a time: these tests follow the road request for request.
    WriteConfig(1);
    fs::copy_file(ZARN_DEMO_GAME, dir + "/RuzaDivuzo226.exe");
    SetExitProcessHook([this](int code) { exits.push_back(code); });
    SetPromptHandler([this](const PromptRequest& request) -> int {
      prompts.push_back(request);
      if (answers.empty()) return IDCANCEL;
      auto answer = std::move(answers.front());
      answers.pop_front();
      return answer(request);
    });
    PublishStartUp();
  }
  void TearDown() override {
    SetPromptHandler(nullptr);
    SetExitProcessHook(nullptr);
    SetModulePathForTest("");
    if (::chdir(savedCwd.c_str()) != 0) ADD_FAILURE() << "cannot return to " << savedCwd;
  }

  void PublishStartUp() {
    const std::string b = site.base();
    site.Put("/cdn/PCVersion/1033/version.xml", R"({"version":")" + GetAppVersion() + R"(","url":")" + b +
                                                    R"(/cdn/zarn-new","titleBar":")" + b +
                                                    R"(/page/title.html","serverlist":")" + b +
                                                    R"(/cdn/serverlist.xml","website":")" + b + R"(/"})");
    site.Put("/acct/Interface/ClientLogonJson?id=1033",
             R"({"lander_id":7,"find_pwd_url":")" + b + R"(/pwd","recharge_url":")" + b + R"(/pay"})");
    site.Put("/cdn/serverlist.xml",
             "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<list main_page=\"" + mainPage() +
                 "\">\n"
                 "  <zone name=\"电信一区\" realname=\"  电信一区\t\" version=\"2.0.1\" color=\"65535\" "
                 "expand=\"1\">\n"
                 "    <server name=\"longcheng\" cnname=\"龙城\" ip=\"10.0.0.12\" port=\"7001\" id=\"12\" "
                 "color=\"65280\"/>\n"
                 "    <server name=\"fengyun\" cnname=\"风云\" ip=\"10.0.0.13\" port=\"7002\" id=\"0\" "
                 "color=\"255\"/>\n"
                 "    <server name=\"beifang\" ip=\"10.0.0.14\" port=\"7003\" id=\"abc\" color=\"255\"/>\n"
                 "  </zone>\n</list>\n");
  }
  std::string mainPage() const { return site.base() + "/page/main.html"; }

  // Three packages published, one of them installed in an older version; server 12's data.
  void PublishUpdate() {
    WriteFile(dir + "/update.xml", installedManifest);
    WriteFile(dir + "/old.txt", "kept");
    site.Put("/obs/public/update.xml", publishedManifest);
    site.Put("/obs/public/zip/a.zip",
             ZipBytes({{"data/", ""},
                       {"data/map/a.bin", std::string("\x00\x01\xff\x7f", 4) + "map"},
                       {"readme.txt", "from a"}}));
    site.Put("/obs/public/zip/b.zip", ZipBytes({{"data/ui/b.txt", "from b"}, {"readme.txt", "from b"}}));
    site.Put("/obs/public/zip/c.zip", ZipBytes({{"bin\\c.dat", "from c"}, {"data/empty.dat", ""}}));
    site.Put("/obs/ClientData/12.md5", "srv12-v2\nsecond line\n");
    site.Put("/obs/ClientData/12.zip",
             ZipBytes({{"server.ini", "[Server]\nId=12\n"}, {"maps/event.map", "E"}}));
  }
  void ExpectPackagesInstalled() {
    EXPECT_EQ(ReadFile(dir + "/data/map/a.bin"), std::string("\x00\x01\xff\x7f", 4) + "map");
    EXPECT_EQ(ReadFile(dir + "/data/ui/b.txt"), "from b");
    EXPECT_EQ(ReadFile(dir + "/readme.txt"), "from b");  // b after a, in key order
    EXPECT_EQ(ReadFile(dir + "/bin/c.dat"), "from c");
    EXPECT_TRUE(Exists(dir + "/data/empty.dat"));
    EXPECT_EQ(ReadFile(dir + "/data/empty.dat"), "");
    EXPECT_EQ(ReadFile(dir + "/old.txt"), "kept");
    for (const char* key : {"a.zip", "b.zip", "c.zip"}) EXPECT_FALSE(Exists(dir + "/download/" + key)) << key;
    EXPECT_EQ(ReadFile(dir + "/update.xml"), publishedManifest);
    EXPECT_FALSE(Exists(dir + "/update.down"));
  }

  // Runs the start-up chain to the filled tree.
  void RunChain(ObservedWork& page) {
    ASSERT_TRUE(page.OnInitDialog());
    page.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return page.startButton()->isEnabled(); }, kRoadLimitMs))
        << "stage " << page.stage();
  }
  static QTreeWidgetItem* ServerItem(ObservedWork& page, const std::string& name) {
    QTreeWidget* tree = page.serverTree();
    for (int z = 0; z < tree->topLevelItemCount(); ++z) {
      QTreeWidgetItem* zone = tree->topLevelItem(z);
      for (int s = 0; s < zone->childCount(); ++s) {
        const ServerRecord* server =
            AsServer(static_cast<const RecordHeader*>(CMyTreeCtrl::ItemData(zone->child(s))));
        if (server && server->name == name) return zone->child(s);
      }
    }
    return nullptr;
  }
  // Selects the server in the tree and presses the start button.
  static void PressStart(ObservedWork& page, const std::string& server) {
    QTreeWidgetItem* item = ServerItem(page, server);
    ASSERT_NE(item, nullptr) << server;
    page.serverTree()->setCurrentItem(item);
    QTest::mouseClick(page.startButton(), Qt::LeftButton);
  }
  // Waits for the game client's record of its n-th start.
  std::vector<GameStart> WaitForGameStarts(size_t n) {
    if (!QTest::qWaitFor([&] { return ReadGameStarts(dir + "/game-client.log").size() >= n; }, 10000))
      ADD_FAILURE() << "the game client did not record start " << n;
    return ReadGameStarts(dir + "/game-client.log");
  }
  static std::vector<std::string> ExpectedArgv(const std::string& server, const std::string& ip,
                                               const std::string& port, const std::string& id) {
    return {"-Zone:电信一区", "-Server:" + server, "-IP:" + ip, "-Port:" + port,
            "-Version:2.0.1", "-ID:" + id,         "-Agent:A7"};
  }

  CodeSetGuard utf8{"UTF-8"};
  TempDir home;
  void WriteConfig(int downloads) {
    WriteFile(dir + "/ClientConfig.cfg",
              "[GameSetup]\r\nHuaWeiCDN=0\r\n[agent]\r\n1033=A7\r\n[Launcher]\r\nDownloads=" +
                  std::to_string(downloads) + "\r\n");
  }

  TempDir game;
  Site site;
  EnvGuard home_, config_, cdn_, storage_, account_, web_;
  std::string dir;  // the game folder, canonical
  std::string savedCwd;
  std::vector<PromptRequest> prompts;
  std::deque<std::function<int(const PromptRequest&)>> answers;
  std::vector<int> exits;
  const std::string installedManifest = Manifest({{"a.zip", "1"}, {"old.zip", "9"}});
  const std::string publishedManifest = Manifest({{"c.zip", "1"}, {"a.zip", "2"}, {"b.zip", "1"}});
};

TEST_F(RoadTest, FromTheStartTimerToTheRunningGame) {
  PublishUpdate();
  ObservedWork page(nullptr);
  RunChain(page);

  // Start-up chain: manifest, login information, server list, in that order.
  EXPECT_EQ(page.stage(), CDialogWork::STAGE_SERVER_LIST);
  ASSERT_EQ(site.Log("/cdn/PCVersion").size(), 1u);
  ASSERT_EQ(site.Log("/acct").size(), 1u);
  ASSERT_EQ(site.Log("/cdn/serverlist").size(), 1u);
  const std::vector<std::string> chain = {site.Log("/cdn/PCVersion")[0], site.Log("/acct")[0],
                                          site.Log("/cdn/serverlist")[0]};
  EXPECT_EQ(chain,
            (std::vector<std::string>{"/cdn/PCVersion/1033/version.xml",
                                      "/acct/Interface/ClientLogonJson?id=1033", "/cdn/serverlist.xml"}));
  EXPECT_FALSE(Exists(dir + "/temp.down"));
  ASSERT_EQ(page.serverTree()->topLevelItemCount(), 1);
  EXPECT_EQ(page.serverTree()->topLevelItem(0)->childCount(), 3);
  EXPECT_TRUE(page.serverTree()->topLevelItem(0)->isExpanded());
  EXPECT_EQ(page.browser().lastUrl(), mainPage());
  EXPECT_EQ(page.loginInfo.landerId, 7);

  // The player's settings, then start; pressed again and Enter while the update runs.
  page.resolutionCombo()->setCurrentIndex(0);
  page.qualityCombo()->setCurrentIndex(1);
  if (page.windowedCheck()->GetCheck()) QTest::mouseClick(page.windowedCheck(), Qt::LeftButton);
  PressStart(page, "longcheng");
  QTest::mouseClick(page.startButton(), Qt::LeftButton);
  QTest::keyClick(&page, Qt::Key_Return);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !exits.empty(); }, kRoadLimitMs)) << "stage " << page.stage();
  EXPECT_EQ(exits, std::vector<int>{0});
  EXPECT_TRUE(prompts.empty()) << prompts[0].text;

  const std::string config = dir + "/ClientConfig.cfg";
  EXPECT_EQ(GetPrivateProfileString("Game_Data_Set", "Def_CurScreenResolution_X", "-", config), "800");
  EXPECT_EQ(GetPrivateProfileString("Game_Data_Set", "Def_CurScreenResolution_Y", "-", config), "600");
  EXPECT_EQ(GetPrivateProfileString("Game_Data_Set", "isWindows", "-", config), "0");
  EXPECT_EQ(GetPrivateProfileString("Game_Data_Set", "TextrueCompressed", "-", config), "1");

  // One manifest download from the storage host; the blue bar counted each package as its
  // download finished, before it was unpacked; the manifest stayed the installed one until the
  // last package was in place.
  EXPECT_EQ(site.Count("/obs/public/update.xml"), 1);
  EXPECT_EQ(site.Count("/cdn/public/update.xml"), 0);
  EXPECT_EQ(
      site.Log("/obs/public/zip/"),
      (std::vector<std::string>{"/obs/public/zip/a.zip", "/obs/public/zip/b.zip", "/obs/public/zip/c.zip"}));
  EXPECT_EQ(page.PackageCounts(), (std::vector<int32_t>{1, 2, 3}));
  for (const ObservedWork::Finish& f : page.finishes) {
    if (f.stageBefore == CDialogWork::STAGE_PACKAGE) {
      EXPECT_EQ(f.stageAfter, CDialogWork::STAGE_PACKAGE_UNPACK) << f.localPath;
      EXPECT_EQ(f.installedManifest, installedManifest) << f.localPath;
    }
  }
  EXPECT_EQ(page.blueBarRect.right, page.blueBarFullRect.right);
  ExpectPackagesInstalled();

  // Server 12's own data: the list, the archive unpacked into its folder, the installed list.
  EXPECT_EQ(site.Log("/obs/ClientData/"),
            (std::vector<std::string>{"/obs/ClientData/12.md5", "/obs/ClientData/12.zip"}));
  EXPECT_EQ(ReadFile(dir + "/download/12.data"), "srv12-v2\nsecond line\n");
  EXPECT_EQ(ReadFile(dir + "/Custom/12/server.ini"), "[Server]\nId=12\n");
  EXPECT_EQ(ReadFile(dir + "/Custom/12/maps/event.map"), "E");
  EXPECT_EQ(ReadFile(dir + "/Custom/12/12.data"), "srv12-v2");
  EXPECT_FALSE(Exists(dir + "/Custom/12.zip"));

  // The game client, started once from the game folder with the server's command line.
  const std::vector<GameStart> starts = WaitForGameStarts(1);
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[0].cwd, dir);
  EXPECT_EQ(starts[0].argv, ExpectedArgv("longcheng", "10.0.0.12", "7001", "12"));
}

TEST_F(RoadTest, OnlyThePackagesNameDecidesWhetherItIsUnpacked) {
  // A game folder whose path holds ".zip": a plain file package must still not be unpacked.
  const std::string folder = dir + "/saves.zip.d/Kelmar";
  fs::create_directories(folder);
  for (const char* name : {"ClientConfig.cfg", "RuzaDivuzo226.exe"})
    fs::rename(dir + "/" + name, folder + "/" + name);
  dir = folder;
  SetModulePathForTest(dir + "/zarn");
  const std::string published = Manifest({{"a.zip", "1"}, {"notes.txt", "1"}});
  site.Put("/obs/public/update.xml", published);
  site.Put("/obs/public/zip/a.zip", ZipBytes({{"readme.txt", "from a"}}));
  site.Put("/obs/public/zip/notes.txt", "plain notes, not an archive");
  {
    ObservedWork page(nullptr);
    RunChain(page);
    PressStart(page, "fengyun");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !exits.empty(); }, kRoadLimitMs)) << "stage " << page.stage();
  }
  EXPECT_TRUE(prompts.empty()) << prompts[0].text;
  EXPECT_EQ(exits, std::vector<int>{0});
  EXPECT_EQ(ReadFile(dir + "/readme.txt"), "from a");
  EXPECT_EQ(ReadFile(dir + "/download/notes.txt"), "plain notes, not an archive");
  EXPECT_EQ(ReadFile(dir + "/update.xml"), published);
}

TEST_F(RoadTest, ServersWithoutDataOfTheirOwnStartWithoutTheServerStep) {
  // Everything published is installed: nothing to fetch but the manifest.
  WriteFile(dir + "/update.xml", publishedManifest);
  site.Put("/obs/public/update.xml", publishedManifest);
  struct Case {
    const char* server;
    const char* ip;
    const char* port;
  };
  size_t started = 0;
  for (const Case& c : {Case{"fengyun", "10.0.0.13", "7002"}, Case{"beifang", "10.0.0.14", "7003"}}) {
    SCOPED_TRACE(c.server);
    exits.clear();
    {
      ObservedWork page(nullptr);
      RunChain(page);
      PressStart(page, c.server);
      ASSERT_TRUE(QTest::qWaitFor([&] { return !exits.empty(); }, kRoadLimitMs)) << "stage " << page.stage();
      EXPECT_TRUE(page.PackageCounts().empty());
    }
    EXPECT_EQ(exits, std::vector<int>{0});
    const std::vector<GameStart> starts = WaitForGameStarts(++started);
    ASSERT_EQ(starts.size(), started);
    EXPECT_EQ(starts.back().argv, ExpectedArgv(c.server, c.ip, c.port, "(null)"));
  }
  EXPECT_TRUE(site.Log("/obs/ClientData/").empty());
  EXPECT_TRUE(site.Log("/obs/public/zip/").empty());
  EXPECT_FALSE(Exists(dir + "/Custom"));
  // Nothing chosen: the installed manifest is not rewritten and the downloaded one stays.
  EXPECT_EQ(ReadFile(dir + "/update.xml"), publishedManifest);
  EXPECT_TRUE(Exists(dir + "/update.down"));
  EXPECT_TRUE(prompts.empty());
}

// b.zip is missing on both bases (the storage chosen, the CDN tried second): one prompt with the
// storage's answer. OK starts over at the login information; the round then goes on at b.zip,
// since a.zip is already unpacked.
TEST_F(RoadTest, TheSecondOfThreePackagesFailsAndTheRetryGoesOnWhereItStopped) {
  PublishUpdate();
  const std::string b = site.Body("/obs/public/zip/b.zip");
  site.Put("/obs/public/zip/b.zip", "gone", 404);
  bool checkedAtPrompt = false;
  answers.push_back([&](const PromptRequest& request) {
    // What is on disk while the player reads the prompt.
    EXPECT_EQ(ReadFile(dir + "/data/map/a.bin"), std::string("\x00\x01\xff\x7f", 4) + "map");
    EXPECT_EQ(ReadFile(dir + "/readme.txt"), "from a");
    EXPECT_EQ(ReadFile(dir + "/update.xml"), installedManifest);
    EXPECT_EQ(site.Count("/obs/public/zip/c.zip"), 0);
    checkedAtPrompt = request.text == "下载文件失败[" + dir + "/download/b.zip]错误ID[404]";
    site.Put("/obs/public/zip/b.zip", b);
    return IDOK;
  });
  ObservedWork page(nullptr);
  RunChain(page);
  PressStart(page, "longcheng");

  // OK restarts at the login information: the list comes again and start works again.
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return site.Count("/cdn/serverlist.xml") == 2 && page.startButton()->isEnabled(); },
      kRoadLimitMs))
      << "stage " << page.stage();
  ASSERT_EQ(prompts.size(), 1u);
  EXPECT_TRUE(checkedAtPrompt) << prompts[0].text;
  EXPECT_EQ(prompts[0].caption, "更新文件");
  EXPECT_EQ(prompts[0].type, MB_OKCANCEL | MB_ICONERROR);
  EXPECT_EQ(site.Count("/acct/Interface/ClientLogonJson?id=1033"), 2);
  EXPECT_EQ(page.selectedServer, nullptr);
  EXPECT_EQ(page.stage(), CDialogWork::STAGE_SERVER_LIST);
  EXPECT_TRUE(exits.empty());

  PressStart(page, "longcheng");
  ASSERT_TRUE(QTest::qWaitFor([&] { return !exits.empty(); }, kRoadLimitMs)) << "stage " << page.stage();
  EXPECT_EQ(exits, std::vector<int>{0});
  // The manifest was not committed after the failure, but the round's journal has a.zip.
  EXPECT_EQ(site.Count("/obs/public/zip/a.zip"), 1);
  EXPECT_EQ(site.Count("/obs/public/zip/b.zip"), 2);
  EXPECT_EQ(site.Count("/cdn/public/zip/b.zip"), 1);
  EXPECT_EQ(site.Count("/obs/public/zip/c.zip"), 1);
  EXPECT_FALSE(Exists(dir + "/update.journal"));
  ExpectPackagesInstalled();
  const std::vector<GameStart> starts = WaitForGameStarts(1);
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[0].argv, ExpectedArgv("longcheng", "10.0.0.12", "7001", "12"));
}

// Several packages at once (the launcher's default): the same game folder and the same game
// start as one at a time.
TEST_F(RoadTest, FourPackagesAtOnceEndInTheSameGameFolder) {
  WriteConfig(4);
  PublishUpdate();
  ObservedWork page(nullptr);
  RunChain(page);
  PressStart(page, "longcheng");
  ASSERT_TRUE(QTest::qWaitFor([&] { return !exits.empty(); }, kRoadLimitMs)) << "stage " << page.stage();
  EXPECT_TRUE(prompts.empty()) << prompts[0].text;
  EXPECT_EQ(exits, std::vector<int>{0});
  ExpectPackagesInstalled();
  std::vector<std::string> packages = site.Log("/obs/public/zip/");
  std::sort(packages.begin(), packages.end());
  EXPECT_EQ(packages, (std::vector<std::string>{"/obs/public/zip/a.zip", "/obs/public/zip/b.zip",
                                                "/obs/public/zip/c.zip"}));
  const std::vector<GameStart> starts = WaitForGameStarts(1);
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[0].argv, ExpectedArgv("longcheng", "10.0.0.12", "7001", "12"));
}

// Both bases hold the same tree: a package missing on the chosen storage comes from the CDN
// without a prompt, and the rest of the road stays on the CDN.
TEST_F(RoadTest, APackageMissingOnTheStorageComesFromTheCdnAndTheRoadStaysThere) {
  PublishUpdate();
  for (const std::string t :
       {"/public/zip/b.zip", "/public/zip/c.zip", "/ClientData/12.md5", "/ClientData/12.zip"})
    site.Put("/cdn" + t, site.Body("/obs" + t));
  site.Put("/obs/public/zip/b.zip", "gone", 404);
  ObservedWork page(nullptr);
  RunChain(page);
  PressStart(page, "longcheng");
  ASSERT_TRUE(QTest::qWaitFor([&] { return !exits.empty(); }, kRoadLimitMs)) << "stage " << page.stage();
  EXPECT_TRUE(prompts.empty()) << prompts[0].text;
  EXPECT_EQ(exits, std::vector<int>{0});
  ExpectPackagesInstalled();
  EXPECT_EQ(site.Log("/obs/public/zip/"),
            (std::vector<std::string>{"/obs/public/zip/a.zip", "/obs/public/zip/b.zip"}));
  EXPECT_EQ(site.Log("/cdn/public/zip/"),
            (std::vector<std::string>{"/cdn/public/zip/b.zip", "/cdn/public/zip/c.zip"}));
  EXPECT_EQ(site.Log("/cdn/ClientData/"),
            (std::vector<std::string>{"/cdn/ClientData/12.md5", "/cdn/ClientData/12.zip"}));
  EXPECT_TRUE(site.Log("/obs/ClientData/").empty());
  EXPECT_EQ(ReadFile(dir + "/Custom/12/server.ini"), "[Server]\nId=12\n");
  const std::vector<GameStart> starts = WaitForGameStarts(1);
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[0].argv, ExpectedArgv("longcheng", "10.0.0.12", "7001", "12"));
}

TEST_F(RoadTest, AnArchiveThatDoesNotUnpackStopsTheUpdate) {
  PublishUpdate();
  site.Put("/obs/public/zip/b.zip", "PK but not a zip archive");
  answers.push_back([](const PromptRequest&) { return IDCANCEL; });
  ObservedWork page(nullptr);
  RunChain(page);
  PressStart(page, "longcheng");
  ASSERT_TRUE(QTest::qWaitFor([&] { return !exits.empty(); }, kRoadLimitMs)) << "stage " << page.stage();

  ASSERT_EQ(prompts.size(), 1u);
  EXPECT_EQ(prompts[0].text, "解压文件失败!!");
  EXPECT_EQ(prompts[0].caption, "更新文件");
  EXPECT_EQ(prompts[0].type, MB_OKCANCEL | MB_ICONERROR);
  EXPECT_EQ(exits, std::vector<int>{0});  // Cancel ends the launcher
  EXPECT_FALSE(page.IsTimerActive(CDialogWork::kProgressTimer));
  // The archive stays for the next attempt; what came before it stays unpacked; nothing after
  // it was fetched and the manifest is the old one.
  EXPECT_EQ(ReadFile(dir + "/download/b.zip"), "PK but not a zip archive");
  EXPECT_EQ(ReadFile(dir + "/readme.txt"), "from a");
  EXPECT_EQ(site.Count("/obs/public/zip/c.zip"), 0);
  EXPECT_EQ(ReadFile(dir + "/update.xml"), installedManifest);
  EXPECT_FALSE(Exists(dir + "/game-client.log"));
}

TEST_F(RoadTest, StartUpFailuresAskAndOkTriesAgain) {
  struct Case {
    std::string target;
    int status;
    std::string text;
    std::string caption;
    unsigned type;
    int tries;  // requests before the player is asked
  };
  const std::vector<Case> cases = {
      {"/cdn/PCVersion/1033/version.xml", 404, "下载版本文件失败,是否重新下载?", "下载版本文件失败",
       MB_OKCANCEL | MB_ICONQUESTION, 1},
      // A busy server is asked three more times, after growing waits, before the player is.
      {"/cdn/PCVersion/1033/version.xml", 503, "下载版本文件失败,是否重新下载?", "下载版本文件失败",
       MB_OKCANCEL | MB_ICONQUESTION, 4},
      {"/acct/Interface/ClientLogonJson?id=1033", 500, "下载文件失败[" + dir + "/temp.down]错误ID[500]",
       "更新文件", MB_OKCANCEL | MB_ICONERROR, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    PublishStartUp();
    const int before = site.Count(c.target);
    site.Put(c.target, "<html>busy</html>", c.status);
    prompts.clear();
    answers.push_back([&](const PromptRequest&) {
      PublishStartUp();
      return IDOK;
    });
    int triesBeforeAnswer = 0;
    answers.back() = [&](const PromptRequest&) {
      triesBeforeAnswer = site.Count(c.target) - before;
      PublishStartUp();
      return IDOK;
    };
    ObservedWork page(nullptr);
    page.launcherInfoRetryWaitsMs = {10, 20, 40};
    RunChain(page);
    ASSERT_EQ(prompts.size(), 1u);
    EXPECT_EQ(prompts[0].text, c.text);
    EXPECT_EQ(prompts[0].caption, c.caption);
    EXPECT_EQ(prompts[0].type, c.type);
    EXPECT_EQ(triesBeforeAnswer, c.tries);
    EXPECT_EQ(site.Count(c.target) - before, c.tries + 1);
    EXPECT_EQ(page.serverTree()->topLevelItemCount(), 1);
    EXPECT_TRUE(exits.empty());
  }
}

// Serves what zarn-publish wrote below root under the storage address.
void ServeTree(Site& site, const std::string& root) {
  for (const char* top : {"public", "ClientData"}) {
    for (const auto& entry : fs::recursive_directory_iterator(root + "/" + top)) {
      if (!entry.is_regular_file()) continue;
      site.Put("/obs/" + fs::relative(entry.path(), root).generic_string(), ReadFile(entry.path().string()));
    }
  }
}

TEST_F(RoadTest, AGameFolderComesUpToDateFromATreeThatZarnPublishWrote) {
  TempDir work;
  const std::string source = work.file("game");
  const std::string root = work.file("content");
  WriteFile(source + "/bin/client.dat", "client v1");
  WriteFile(source + "/data/map/one.map", std::string("\x00map one\xff", 9));
  WriteFile(source + "/data/empty.dat", "");
  WriteFile(source + "/servers/12/server.ini", "[Server]\nId=12\n");
  WriteFile(work.file("layout.json"), R"({
    "packages": [{"key": "client.zip", "files": ["bin/"]}, {"key": "maps.zip", "files": ["data/map/**"]}],
    "default": "misc.zip",
    "servers": [{"id": "12", "folder": "servers/12"}]
  })");
  const std::string publish = std::string("'") + ZARN_PUBLISH_TOOL + "' --from '" + source + "' --layout '" +
                              work.file("layout.json") + "' --out '" + root + "' 2>/dev/null";
  ASSERT_EQ(std::system(publish.c_str()), 0) << publish;
  ServeTree(site, root);

  {
    ObservedWork page(nullptr);
    RunChain(page);
    PressStart(page, "longcheng");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !exits.empty(); }, kRoadLimitMs)) << "stage " << page.stage();
  }
  EXPECT_TRUE(prompts.empty()) << prompts[0].text;
  for (const char* file : {"bin/client.dat", "data/map/one.map", "data/empty.dat"})
    EXPECT_EQ(ReadFile(dir + "/" + file), ReadFile(source + "/" + file)) << file;
  EXPECT_EQ(ReadFile(dir + "/Custom/12/server.ini"), "[Server]\nId=12\n");
  EXPECT_EQ(ReadFile(dir + "/update.xml"), ReadFile(root + "/public/update.xml"));
  EXPECT_EQ(WaitForGameStarts(1).back().argv, ExpectedArgv("longcheng", "10.0.0.12", "7001", "12"));

  // One map changes and is published again: the next start fetches only that package.
  WriteFile(source + "/data/map/one.map", "map one, second edition");
  ASSERT_EQ(std::system(publish.c_str()), 0) << publish;
  ServeTree(site, root);
  const size_t before = site.Log("/obs/public/zip/").size();
  exits.clear();
  {
    ObservedWork page(nullptr);
    RunChain(page);
    PressStart(page, "longcheng");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !exits.empty(); }, kRoadLimitMs)) << "stage " << page.stage();
  }
  const std::vector<std::string> fetched = site.Log("/obs/public/zip/");
  EXPECT_EQ(std::vector<std::string>(fetched.begin() + static_cast<std::ptrdiff_t>(before), fetched.end()),
            std::vector<std::string>{"/obs/public/zip/maps.zip"});
  EXPECT_EQ(ReadFile(dir + "/data/map/one.map"), "map one, second edition");
  EXPECT_EQ(ReadFile(dir + "/update.xml"), ReadFile(root + "/public/update.xml"));
}

// A Windows build of the game on a mount where every file may be executed: the header, not
// the permission, sends it through wine; without wine the player is told and the launcher stays.
TEST_F(RoadTest, AWindowsGameGoesThroughWineAndWithoutWineTheLauncherSaysWhy) {
  WriteFile(dir + "/update.xml", publishedManifest);
  site.Put("/obs/public/update.xml", publishedManifest);
  fs::rename(dir + "/RuzaDivuzo226.exe", dir + "/demo-game");
  const std::string game = dir + "/RuzaDivuzo226.exe";
  WriteFile(game, std::string("MZ\x90\x00\x03\x00\x00\x00", 8) + "This program cannot be run in DOS mode.");
  ASSERT_EQ(::chmod(game.c_str(), 0755), 0);
  TempDir tools;
  EnvGuard path("PATH", tools.path());

  ObservedWork page(nullptr);
  RunChain(page);
  PressStart(page, "fengyun");
  ASSERT_TRUE(QTest::qWaitFor([&] { return !prompts.empty() || !exits.empty(); }, kRoadLimitMs))
      << "stage " << page.stage();
  EXPECT_TRUE(exits.empty());
  ASSERT_EQ(prompts.size(), 1u);
  EXPECT_EQ(prompts[0].caption, "启动失败");
  EXPECT_EQ(prompts[0].type, unsigned(MB_OK | MB_ICONERROR));
  EXPECT_NE(prompts[0].text.find("wine"), std::string::npos) << prompts[0].text;
  EXPECT_NE(prompts[0].text.find(game), std::string::npos) << prompts[0].text;
  EXPECT_TRUE(page.isVisible());
  EXPECT_TRUE(page.startButton()->isEnabled());

  // With wine installed the player starts again: wine gets the program and its parameters.
  WriteFile(tools.file("wine"),
            "#!/bin/sh\n[ \"$1\" = '" + game + "' ] || exit 9\nshift\nexec '" + dir + "/demo-game' \"$@\"\n");
  ASSERT_EQ(::chmod(tools.file("wine").c_str(), 0755), 0);
  PressStart(page, "fengyun");
  ASSERT_TRUE(QTest::qWaitFor([&] { return !exits.empty(); }, kRoadLimitMs)) << "stage " << page.stage();
  EXPECT_EQ(exits, std::vector<int>{0});
  EXPECT_EQ(prompts.size(), 1u);
  const std::vector<GameStart> starts = WaitForGameStarts(1);
  EXPECT_EQ(starts.back().cwd, dir);
  EXPECT_EQ(starts.back().argv, ExpectedArgv("fengyun", "10.0.0.13", "7002", "(null)"));
}

}  // namespace
}  // namespace zarn
