// The update button on the real work page inside its frame: a game folder installed from a
// zarn-publish tree served on 127.0.0.1, damaged on disk, then the button pressed. The page runs
// the update road, checks every listed file and the selected server's data, repairs what is
// broken and says so in one box; a list that cannot be fetched goes to the retry prompt.
#include <gtest/gtest.h>

#include <QTest>
#include <QTreeWidget>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "app/CVantorDlg.h"
#include "app/Version.h"
#include "net/NetTestSupport.h"
#include "platform/Process.h"
#include "platform/Prompt.h"
#include "repair/RepairSupport.h"
#include "support/Guards.h"
#include "support/TestSupport.h"
#include "update/UpdateManifest.h"
#include "work/CDialogWork.h"
#include "work/CMyTreeCtrl.h"

namespace zarn::test {
namespace {

// The launcher's services and the published tree on one local server. A path can be made to
// fail, or held until the test lets it go.
class GameService {
 public:
  explicit GameService(const std::string& content) {
    auto& s = http_.server();
    s.set_keep_alive_max_count(1);
    s.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
      std::unique_lock lock(mutex_);
      requests_.push_back(req.path);
      if (failing_.count(req.path)) {
        res.status = 404;
        return httplib::Server::HandlerResponse::Handled;
      }
      if (req.path == held_) {
        holding_ = true;
        cv_.notify_all();
        cv_.wait_for(lock, std::chrono::seconds(60), [this] { return held_.empty(); });
      }
      return httplib::Server::HandlerResponse::Unhandled;
    });
    s.set_mount_point("/", content);
    s.Get("/PCVersion/1033/version.xml", [this](const httplib::Request&, httplib::Response& res) {
      res.set_content(R"({"version":")" + GetAppVersion() + R"(","url":")" + base() + R"(/download/zarn",)" +
                          R"("titleBar":")" + base() + R"(/news.html","serverlist":")" + base() +
                          R"(/serverlist.xml","website":")" + base() + R"(/"})",
                      "application/json");
    });
    s.Get("/Interface/ClientLogonJson", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(R"({"lander_id":7})", "application/json");
    });
    s.Get("/serverlist.xml", [this](const httplib::Request&, httplib::Response& res) {
      res.set_content("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<serverlist main_page=\"" + base() +
                          "/news.html\">\n  <zone name=\"一区\" realname=\"一区\" version=\"1.0\" "
                          "color=\"65535\" expand=\"1\">\n    <server name=\"s12\" cnname=\"十二\" "
                          "ip=\"127.0.0.1\" port=\"7001\" id=\"12\" color=\"65280\"/>\n  </zone>\n"
                          "</serverlist>\n",
                      "text/xml");
    });
    s.Get("/news.html", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("<html><body>news</body></html>", "text/html");
    });
    http_.Start();
  }
  ~GameService() { Release(); }

  std::string base() const { return http_.url(""); }
  void Fail(const std::string& path) {
    std::lock_guard lock(mutex_);
    failing_.insert(path);
  }
  void Hold(const std::string& path) {
    std::lock_guard lock(mutex_);
    held_ = path;
  }
  bool holding() {
    std::lock_guard lock(mutex_);
    return holding_;
  }
  void Release() {
    std::lock_guard lock(mutex_);
    held_.clear();
    cv_.notify_all();
  }
  int RequestsUnder(const std::string& prefix) {
    std::lock_guard lock(mutex_);
    int n = 0;
    for (const std::string& p : requests_) n += p.rfind(prefix, 0) == 0;
    return n;
  }

 private:
  HttpServer http_;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<std::string> requests_;
  std::set<std::string> failing_;
  std::string held_;
  bool holding_ = false;
};

class UpdateButtonTest : public ::testing::Test {
 public:  // the case table arranges the folder and the service
  void SetUp() override {
    ClearProxyEnvironment();
    std::string error;
    published = PublishGame(work, 12, 3000, &error);
    ASSERT_FALSE(published.content.empty()) << error;
    InstallGame(published, game.path());
    // The server's data as the update road leaves it: unpacked, its version text recorded.
    WriteFile(game.file("Custom/12/zone.cfg"), "zone 12");
    std::string version;
    ASSERT_TRUE(ReadFirstLine(published.content + "/ClientData/12.md5", version));
    WriteFile(game.file("Custom/12/12.data"), version);
    service = std::make_unique<GameService>(published.content);
    env.emplace_back("ZARN_CDN_BASE_URL", service->base() + "/");
    env.emplace_back("ZARN_STORAGE_BASE_URL", service->base() + "/");
    env.emplace_back("ZARN_ACCOUNT_URL", service->base());
    SetModulePathForTest(game.file("zarn"));
    SetExitProcessHook([this](int code) { exits.push_back(code); });
    SetPromptHandler([this](const PromptRequest& request) {
      prompts.push_back(request);
      if (onPrompt) onPrompt();
      return IDCANCEL;
    });
  }
  void TearDown() override {
    SetExitProcessHook(nullptr);
    SetPromptHandler(nullptr);
    SetModulePathForTest("");
    if (service) service->Release();
  }

  // The frame shown, its server list loaded, the server selected, the update button pressed;
  // beforePress runs once the page is up (it writes its shortcut's icon to ClientConfig.cfg).
  std::unique_ptr<CVantorDlg> OpenAndPress(const std::function<void()>& beforePress = {}) {
    auto frame = std::make_unique<CVantorDlg>("");
    EXPECT_TRUE(frame->OnInitDialog());
    frame->show();
    CDialogWork* page = frame->workPage();
    EXPECT_TRUE(QTest::qWaitFor(
        [page] {
          return page->stage() == CDialogWork::STAGE_SERVER_LIST && page->startButton()->isEnabled();
        },
        20000));
    EXPECT_TRUE(page->updateButton()->isEnabled());
    QTreeWidgetItem* zone = page->serverTree()->topLevelItem(0);
    EXPECT_TRUE(zone && zone->childCount() == 1);
    if (zone && zone->childCount() > 0) page->serverTree()->setCurrentItem(zone->child(0));
    if (beforePress) beforePress();
    QTest::mouseClick(page->updateButton(), Qt::LeftButton);
    return frame;
  }

  bool WaitForPrompt() {
    return QTest::qWaitFor([this] { return !prompts.empty(); }, 60000);
  }

  CodeSetGuard utf8{"UTF-8"};
  TempDir work, game, home;
  EnvGuard homeGuard{"HOME", home.path()};
  EnvGuard configGuard{"XDG_CONFIG_HOME", home.file(".config")};
  PublishedGame published;
  std::unique_ptr<GameService> service;
  std::deque<EnvGuard> env;
  std::vector<PromptRequest> prompts;
  std::vector<int> exits;
  std::function<void()> onPrompt;
};

struct ButtonCase {
  const char* name;
  std::function<void(UpdateButtonTest&)> arrange;
  const char* text;  // the box's text; "%s" stands for the game folder
  unsigned type;
  bool packagesFetched;
};

class UpdateButtonCaseTest : public UpdateButtonTest, public ::testing::WithParamInterface<ButtonCase> {};

TEST_P(UpdateButtonCaseTest, OneBoxTellsTheOutcome) {
  const ButtonCase& c = GetParam();
  c.arrange(*this);
  std::string save, config;
  auto frame = OpenAndPress([&] {
    save = ReadFile(game.file("saves/slot1.sav"));
    config = ReadFile(game.file("ClientConfig.cfg"));
  });
  CDialogWork* page = frame->workPage();
  ASSERT_TRUE(WaitForPrompt());
  QTest::qWait(100);  // nothing more may follow
  ASSERT_EQ(prompts.size(), 1u);

  std::string expected = c.text;
  if (const size_t at = expected.find("%s"); at != std::string::npos) expected.replace(at, 2, game.path());
  EXPECT_EQ(prompts[0].text, expected);
  EXPECT_EQ(prompts[0].caption, "更新文件");
  EXPECT_EQ(prompts[0].type, c.type);
  EXPECT_EQ(service->RequestsUnder("/public/zip/") > 0, c.packagesFetched);
  // Files no list names are never touched.
  EXPECT_EQ(ReadFile(game.file("saves/slot1.sav")), save);
  EXPECT_EQ(ReadFile(game.file("ClientConfig.cfg")), config);
  EXPECT_FALSE(page->checkRunning());
  if (c.type == (MB_OKCANCEL | MB_ICONERROR)) {
    EXPECT_EQ(service->RequestsUnder("/ClientData/12.zip"), 0);  // a failed check repairs nothing
    EXPECT_EQ(exits, std::vector<int>{0});                       // the player cancelled the retry prompt
    return;
  }
  EXPECT_TRUE(exits.empty());
  // Every published file as published, the server's data too; the buttons are back.
  for (const auto& [name, bytes] : published.files) EXPECT_EQ(ReadFile(game.file(name)), bytes) << name;
  EXPECT_EQ(ReadFile(game.file("Custom/12/zone.cfg")), "zone 12");
  EXPECT_TRUE(page->startButton()->isEnabled());
  EXPECT_TRUE(page->updateButton()->isEnabled());
  EXPECT_FALSE(page->IsTimerActive(CDialogWork::kProgressTimer));
}

const ButtonCase kCases[] = {
    {"Whole", [](UpdateButtonTest&) {}, "游戏文件完整，无需修复。", MB_OK | MB_ICONINFORMATION, false},
    {"MissingDamagedAndServerData",
     [](UpdateButtonTest& t) {
       ASSERT_EQ(std::remove(t.game.file("data/d0/f3.bin").c_str()), 0);
       WriteFile(t.game.file("bin/lib.so"), NoiseBytes(1500, 77));  // same size, other bytes
       WriteFile(t.game.file("Custom/12/zone.cfg"), "zone 13");
     },
     "已修复3个文件。", MB_OK | MB_ICONINFORMATION, true},
    {"ListNotFetched",
     [](UpdateButtonTest& t) {
       t.service->Fail("/public/index/data.zip.lst");
       WriteFile(t.game.file("bin/lib.so"), "damaged");
     },
     "下载文件失败[%s/index]错误ID[1901]", MB_OKCANCEL | MB_ICONERROR, false},
    {"ServerDataListRefused",
     [](UpdateButtonTest& t) {
       // A list that is not the one the data's ".md5" announces: nothing is repaired from it.
       WriteFile(
           t.published.content + "/ClientData/12.lst",
           ReadFile(t.published.content + "/ClientData/12.lst") + std::string(64, '0') + " 1 evil.cfg\n");
       WriteFile(t.game.file("Custom/12/zone.cfg"), "zone 13");
     },
     "下载文件失败[%s/index/server-12.zip.lst]错误ID[1901]", MB_OKCANCEL | MB_ICONERROR, false},
    {"ServerDataListNotFetched", [](UpdateButtonTest& t) { t.service->Fail("/ClientData/12.lst"); },
     "下载文件失败[%s/index/server-12.zip.lst]错误ID[1901]", MB_OKCANCEL | MB_ICONERROR, false},
};

INSTANTIATE_TEST_SUITE_P(Cases, UpdateButtonCaseTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// While the check runs both buttons are disabled and the bars move; afterwards both are back.
TEST_F(UpdateButtonTest, ButtonsAreDisabledWhileTheCheckRuns) {
  WriteFile(game.file("data/d1/f11.bin"), "damaged");  // a file of data.zip, checked second
  service->Hold("/public/index/data.zip.lst");
  bool enabledAtBox = true;
  CDialogWork* page = nullptr;
  onPrompt = [&] { enabledAtBox = page->startButton()->isEnabled() || page->updateButton()->isEnabled(); };
  auto frame = OpenAndPress();
  page = frame->workPage();
  ASSERT_TRUE(QTest::qWaitFor([&] { return service->holding(); }, 30000));
  ASSERT_TRUE(QTest::qWaitFor([&] { return page->overallDone == 1; }, 10000)) << page->overallDone;
  EXPECT_TRUE(page->checkRunning());
  EXPECT_FALSE(page->startButton()->isEnabled());
  EXPECT_FALSE(page->updateButton()->isEnabled());
  // The start command does nothing meanwhile.
  QTest::mouseClick(page->startButton(), Qt::LeftButton);
  EXPECT_EQ(page->selectedServer, nullptr);
  EXPECT_EQ(page->overallTotal, 3);  // two packages and the server's data
  EXPECT_TRUE(page->IsTimerActive(CDialogWork::kProgressTimer));
  QTest::qWait(250);  // a tick or two paints the bars
  const QImage shot = frame->grab().toImage();
  if (const char* dir = std::getenv("ZARN_SHOT_DIR")) {
    EXPECT_TRUE(shot.save(QString::fromLocal8Bit(dir) + "/update-button-check.png"));
  }
  service->Release();
  ASSERT_TRUE(WaitForPrompt());
  EXPECT_EQ(prompts[0].text, "已修复1个文件。");
  EXPECT_FALSE(enabledAtBox);
  EXPECT_TRUE(page->startButton()->isEnabled());
  EXPECT_TRUE(page->updateButton()->isEnabled());
  EXPECT_EQ(ReadFile(game.file("data/d1/f11.bin")), published.files.at("data/d1/f11.bin"));
}

// Closing the launcher during the check stops it: no box, nothing repaired, no temporary file.
TEST_F(UpdateButtonTest, ClosingDuringTheCheckStopsIt) {
  WriteFile(game.file("data/d1/f11.bin"), "damaged");
  service->Hold("/public/index/data.zip.lst");
  auto frame = OpenAndPress();
  CDialogWork* page = frame->workPage();
  ASSERT_TRUE(QTest::qWaitFor([&] { return service->holding(); }, 30000));
  ASSERT_TRUE(page->checkRunning());
  frame->close();  // the window system's close
  EXPECT_EQ(exits, std::vector<int>{0});
  service->Release();  // the list arrives after all, to a job told to stop
  ASSERT_TRUE(QTest::qWaitFor([&] { return !page->checkRunning(); }, 30000));
  QTest::qWait(200);
  EXPECT_TRUE(prompts.empty()) << prompts.front().text;
  EXPECT_EQ(ReadFile(game.file("data/d1/f11.bin")), "damaged");
  EXPECT_EQ(service->RequestsUnder("/public/zip/"), 0);
  for (const auto& entry : std::filesystem::recursive_directory_iterator(game.path()))
    EXPECT_EQ(entry.path().filename().string().rfind(".zarn-repair-", 0), std::string::npos) << entry.path();
}

}  // namespace
}  // namespace zarn::test
