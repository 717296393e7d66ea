// The work page inside the real frame, in a game folder of its own and against a content
// service on 127.0.0.1: its controls at their layout places, the start command refused while
// the start button is disabled, the keys, the two answers of the retry prompt, the display
// settings read from ClientConfig.cfg and saved by the start command, and the registration
// panel opened over it.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QWebEngineView>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/CVantorDlg.h"
#include "app/Version.h"
#include "net/NetTestSupport.h"
#include "platform/Process.h"
#include "platform/Prompt.h"
#include "register/CDialogRegisterPop.h"
#include "skin/LayoutConfig.h"
#include "skin/SkinImage.h"
#include "support/TestSupport.h"
#include "util/CodePage.h"
#include "work/AgentId.h"
#include "work/CDialogWork.h"
#include "work/CMyTreeCtrl.h"
#include "work/GameSettings.h"
#include "work/ServerList.h"

namespace zarn {
namespace {

QString Q(const char* utf8) { return QString::fromUtf8(utf8); }

// The three services the page talks to, on one local server: the version manifest, the login
// information, the server list with its start page, and the update host (whose package
// manifest is missing, so every update fails at its first download). A path can be made to
// fail a number of times first.
class ContentService {
 public:
  ContentService() {
    auto& s = http_.server();
    // One request per connection: a kept-alive one would hold the server's stop for seconds.
    s.set_keep_alive_max_count(1);
    s.Get("/PCVersion/1033/version.xml", [this](const httplib::Request& req, httplib::Response& res) {
      if (Record(req, res)) return;
      res.set_content(R"({"version":")" + GetAppVersion() + R"(","url":")" + base() + R"(/download/zarn",)" +
                          R"("titleBar":")" + base() + R"(/news.html","serverlist":")" + base() +
                          R"(/serverlist.xml","website":")" + base() + R"(/"})",
                      "application/json");
    });
    s.Get("/Interface/ClientLogonJson", [this](const httplib::Request& req, httplib::Response& res) {
      if (Record(req, res)) return;
      res.set_content(R"({"lander_id":7,"find_pwd_url":")" + base() + R"(/findpwd.html","recharge_url":")" +
                          base() + R"(/recharge.html"})",
                      "application/json");
    });
    s.Get("/serverlist.xml", [this](const httplib::Request& req, httplib::Response& res) {
      if (Record(req, res)) return;
      res.set_content(
          "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<serverlist main_page=\"" + base() +
              "/news.html\">\n"
              "  <zone name=\"电信一区\" realname=\"电信一区\" version=\"1.0\" color=\"65535\" "
              "expand=\"1\">\n"
              "    <server name=\"longcheng\" cnname=\"龙城\" ip=\"127.0.0.1\" port=\"7001\" "
              "id=\"0\" color=\"65280\"/>\n"
              "    <server name=\"fengyun\" cnname=\"风云\" ip=\"127.0.0.1\" port=\"7002\" "
              "id=\"0\" color=\"42495\"/>\n"
              "  </zone>\n"
              "  <zone name=\"网通二区\" realname=\"网通二区\" version=\"1.0\" color=\"16776960\" "
              "expand=\"0\">\n"
              "    <server name=\"changbai\" cnname=\"长白山\" ip=\"127.0.0.1\" port=\"7102\" "
              "id=\"0\" color=\"255\"/>\n"
              "  </zone>\n</serverlist>\n",
          "text/xml");
    });
    s.Get("/news.html", [this](const httplib::Request& req, httplib::Response& res) {
      if (Record(req, res)) return;
      res.set_content(
          "<!DOCTYPE html><html><head><meta charset=\"utf-8\"></head>"
          "<body style=\"margin:0;background:#20304a;color:#fff;font:16px sans-serif\">"
          "<h2 style=\"margin:12px\">Kelmar 新闻</h2><p style=\"margin:12px\">新服 龙城 "
          "今日开放</p></body></html>",
          "text/html; charset=utf-8");
    });
    s.Get("/public/update.xml", [this](const httplib::Request& req, httplib::Response& res) {
      Record(req, res);
      res.status = 404;
    });
    http_.Start();
  }

  std::string base() const { return http_.url(""); }
  // The next `times` requests of path get 404.
  void FailNext(const std::string& path, int times) {
    std::lock_guard<std::mutex> lock(mutex_);
    failures_[path] = times;
  }
  // Requests of a path so far.
  int count(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    int n = 0;
    for (const std::string& p : requests_) n += p == path;
    return n;
  }
  std::vector<std::string> requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

 private:
  // Records the request; true when it is to fail (the reply is then set).
  bool Record(const httplib::Request& req, httplib::Response& res) {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(req.path);
    int& left = failures_[req.path];
    if (left <= 0) return false;
    --left;
    res.status = 404;
    return true;
  }

  test::HttpServer http_;
  std::mutex mutex_;
  std::vector<std::string> requests_;
  std::map<std::string, int> failures_;
};

// A double click as the window system delivers it: a click, then a second press that arrives
// as a double click, and its release.
void DoubleClick(QWidget* widget, QPoint at) {
  QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, at);
  QTest::mouseDClick(widget, Qt::LeftButton, Qt::NoModifier, at);
  QTest::mouseRelease(widget, Qt::LeftButton, Qt::NoModifier, at);
}

constexpr char kLoginPath[] = "/Interface/ClientLogonJson";
constexpr char kUpdatePath[] = "/public/update.xml";

class WorkPageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::ClearProxyEnvironment();
    ::unsetenv("XDG_CONFIG_HOME");
    SetModulePathForTest(game.file("zarn"));
    SetExitProcessHook([this](int code) { exits.push_back(code); });
    SetPromptHandler([this](const PromptRequest& request) -> int {
      prompts.push_back(request);
      if (answers.empty()) return IDCANCEL;
      const int answer = answers.front();
      answers.pop_front();
      return answer;
    });
    SetOpenUrlHook([this](const std::string& url) { openedUrls.push_back(url); });
  }
  void TearDown() override {
    SetExitProcessHook(nullptr);
    SetPromptHandler(nullptr);
    SetOpenUrlHook(nullptr);
    SetModulePathForTest("");
    SetAgentId("");
  }

  std::string ConfigPath() const { return game.file("ClientConfig.cfg"); }

  // The frame of an installed game: the work page initialised, the frame shown.
  std::unique_ptr<CVantorDlg> OpenFrame() {
    if (!test::Exists(ConfigPath())) test::WriteFile(ConfigPath(), "");
    auto frame = std::make_unique<CVantorDlg>("");
    EXPECT_TRUE(frame->OnInitDialog());
    return frame;
  }

  // Shows the frame and waits until the start-up chain has loaded the server list and enabled
  // the start button.
  static bool ShowAndWaitForServerList(CVantorDlg& frame) {
    frame.show();
    CDialogWork* page = frame.workPage();
    return QTest::qWaitFor(
        [page] {
          return page->stage() == CDialogWork::STAGE_SERVER_LIST && page->startButton()->isEnabled();
        },
        20000);
  }

  // The tree item of the first server of the first zone.
  static QTreeWidgetItem* FirstServerItem(CDialogWork* page) {
    QTreeWidgetItem* zone = page->serverTree()->topLevelItem(0);
    return zone && zone->childCount() > 0 ? zone->child(0) : nullptr;
  }

  // Saves a picture of a widget into $ZARN_SHOT_DIR when that is set.
  static void KeepShot(const QImage& image, const char* name) {
    const char* dir = std::getenv("ZARN_SHOT_DIR");
    if (!dir) return;
    EXPECT_TRUE(image.save(QString::fromLocal8Bit(dir) + "/" + name)) << name;
  }

  test::TempDir game;
  test::TempDir home;
  test::EnvGuard homeGuard{"HOME", home.path()};
  ContentService service;
  test::EnvGuard cdnGuard{"ZARN_CDN_BASE_URL", service.base() + "/"};
  test::EnvGuard storageGuard{"ZARN_STORAGE_BASE_URL", service.base() + "/"};
  test::EnvGuard accountGuard{"ZARN_ACCOUNT_URL", service.base()};
  std::vector<int> exits;
  std::vector<PromptRequest> prompts;
  std::deque<int> answers;
  std::vector<std::string> openedUrls;
};

TEST_F(WorkPageTest, BuiltInLayoutPlacesEveryControl) {
  auto frame = OpenFrame();
  CDialogWork* page = frame->workPage();
  ASSERT_NE(page, nullptr);
  // Right after initialisation: waiting for the start timer, the start button disabled.
  EXPECT_EQ(page->stage(), CDialogWork::STAGE_START);
  EXPECT_TRUE(page->IsTimerActive(CDialogWork::kStartTimer));
  EXPECT_FALSE(page->startButton()->isEnabled());

  EXPECT_EQ(page->geometry(), QRect(440, 120, 808, 635));
  EXPECT_EQ(page->serverTree()->geometry(), QRect(79, 159, 253, 420));
  ASSERT_NE(page->browser().hostWindow(), nullptr);
  EXPECT_EQ(page->browser().hostWindow()->geometry(), QRect(366, 121, 422, 237));
  EXPECT_EQ(page->serverTree()->font().pixelSize(), 12);

  // Both bars start full, at their layout points, as large as their pictures.
  const SkinImage blue = LoadSkinPicture(42), green = LoadSkinPicture(43);
  ASSERT_TRUE(blue && green);
  const auto rectOf = [](const LayoutRect& r) {
    return QRect(QPoint(r.left, r.top), QPoint(r.right - 1, r.bottom - 1));
  };
  EXPECT_EQ(rectOf(page->blueBarFullRect), QRect(QPoint(433, 518), blue->size()));
  EXPECT_EQ(rectOf(page->greenBarFullRect), QRect(QPoint(433, 538), green->size()));
  EXPECT_EQ(rectOf(page->blueBarRect), rectOf(page->blueBarFullRect));
  EXPECT_EQ(rectOf(page->greenBarRect), rectOf(page->greenBarFullRect));

  // Every button at its layout point minus the page origin, the size of its normal picture.
  const CLayoutConfig& l = GetLayout();
  const struct {
    int id;
    LayoutPoint at;
    int picture;
    bool toggle;
  } buttons[] = {
      {CDialogWork::IDC_MINIMIZE, l.btn_min, 22, false},
      {CDialogWork::IDC_CLOSE, l.btn_close, 25, false},
      {CDialogWork::IDC_START, l.btn_Game, 19, false},
      {CDialogWork::IDC_WEBSITE, l.btn_web, 7, false},
      {CDialogWork::IDC_RECHARGE, l.btn_recharge, 10, false},
      {CDialogWork::IDC_REGISTER, l.btn_register, 13, false},
      {CDialogWork::IDC_PASSWORD, l.btn_password, 35, false},
      {CDialogWork::IDC_UPDATE, l.btn_update, 16, false},
      {CDialogWork::IDC_WINDOWED, l.btn_windows, 40, true},
  };
  for (const auto& b : buttons) {
    CPngButton* button = page->button(b.id);
    ASSERT_NE(button, nullptr) << b.id;
    const SkinImage normal = LoadSkinPicture(b.picture);
    ASSERT_TRUE(normal) << b.picture;
    EXPECT_EQ(button->geometry(), QRect(QPoint(b.at.x - 440, b.at.y - 120), normal->size())) << b.id;
    EXPECT_EQ(button->isToggle(), b.toggle) << b.id;
    EXPECT_FALSE(button->isHidden()) << b.id;
  }
  EXPECT_EQ(page->startButton()->currentPicture(), 3);  // the disabled picture

  // The lists at their points ("combo_quality" is given twice: the first one counts).
  EXPECT_EQ(page->resolutionCombo()->pos(), QPoint(898 - 440, 597 - 120));
  EXPECT_EQ(page->qualityCombo()->pos(), QPoint(983 - 440, 568 - 120));
  ASSERT_EQ(page->qualityCombo()->count(), 2);
  EXPECT_EQ(page->qualityCombo()->itemText(0), Q("高画质"));
  EXPECT_EQ(page->qualityCombo()->itemText(1), Q("低画质"));

  // The chain runs to the server list: tree filled, start enabled, the list's start page shown.
  bool pageLoaded = false;
  QObject::connect(page->browser().view(), &QWebEngineView::loadFinished, page,
                   [&pageLoaded](bool ok) { pageLoaded = pageLoaded || ok; });
  ASSERT_TRUE(ShowAndWaitForServerList(*frame));
  EXPECT_EQ(page->serverTree()->topLevelItemCount(), 2);
  ASSERT_NE(FirstServerItem(page), nullptr);
  EXPECT_EQ(FirstServerItem(page)->text(0), Q("龙城"));
  EXPECT_EQ(page->startButton()->currentPicture(), 0);
  // A closed zone shows its expand button on the black tree, left of its text.
  QTreeWidgetItem* closedZone = page->serverTree()->topLevelItem(1);
  ASSERT_NE(closedZone, nullptr);
  EXPECT_FALSE(closedZone->isExpanded());
  const QImage tree = page->serverTree()->viewport()->grab().toImage();
  const QRect row = page->serverTree()->visualItemRect(closedZone);
  int lit = 0;
  for (int y = row.top(); y <= row.bottom(); ++y)
    for (int x = 0; x < row.left(); ++x) lit += qGray(tree.pixel(x, y)) > 80;
  EXPECT_GT(lit, 4) << "no expand button beside " << closedZone->text(0).toStdString();
  // A double click on a zone opens it and starts nothing.
  DoubleClick(page->serverTree()->viewport(), row.center());
  EXPECT_TRUE(closedZone->isExpanded());
  EXPECT_EQ(page->selectedServer, nullptr);
  EXPECT_EQ(page->stage(), CDialogWork::STAGE_SERVER_LIST);
  EXPECT_TRUE(QTest::qWaitFor([&] { return pageLoaded; }, 20000)) << "the start page did not load";
  EXPECT_EQ(service.count("/news.html"), 1);
  EXPECT_TRUE(prompts.empty());
  EXPECT_TRUE(exits.empty());

  QTest::qWait(300);  // let the web view paint its page
  KeepShot(frame->grab().toImage(), "work-page.png");
}

// A progress tick cuts each bar to its share of the full width and shows its left part unscaled
// over the page background; the labels follow.
TEST_F(WorkPageTest, ProgressTickPaintsTheBarsByTheirCounters) {
  auto frame = OpenFrame();
  CDialogWork* page = frame->workPage();
  ASSERT_TRUE(ShowAndWaitForServerList(*frame));
  const SkinImage blue = LoadSkinPicture(42), green = LoadSkinPicture(43);
  ASSERT_TRUE(blue && green);
  const QImage before = page->grab().toImage();

  page->fileDone = 250;
  page->fileTotal = 1000;
  page->overallDone = 3;
  page->overallTotal = 4;
  page->OnTimer(CDialogWork::kProgressTimer);
  const int greenWidth = green->width() / 4, blueWidth = blue->width() * 3 / 4;
  EXPECT_EQ(page->greenBarRect.right - page->greenBarRect.left, greenWidth);
  EXPECT_EQ(page->blueBarRect.right - page->blueBarRect.left, blueWidth);
  const QImage after = page->grab().toImage();

  // Along the middle row of each bar: the bar picture up to the cut, the background after it.
  const auto check = [&](const LayoutRect& full, const QImage& bar, int width, const char* name) {
    const int y = (bar.height() - 1) / 2;
    for (int x = 0; x < bar.width(); ++x) {
      const QPoint at(full.left + x, full.top + y);
      QImage expected(1, 1, QImage::Format_ARGB32_Premultiplied);
      expected.setPixel(0, 0, page->backgroundBitmap().pixel(at));
      if (x < width) QPainter(&expected).drawImage(QPoint(0, 0), bar, QRect(x, y, 1, 1));
      ASSERT_EQ(QColor(after.pixel(at)), QColor(expected.pixel(0, 0))) << name << " at x+" << x;
    }
  };
  check(page->greenBarFullRect, *green, greenWidth, "green");
  check(page->blueBarFullRect, *blue, blueWidth, "blue");

  // The labels right of the full bars changed ("100%" became "25%" and "75%").
  for (const LayoutRect* full : {&page->greenBarFullRect, &page->blueBarFullRect}) {
    const QRect label(full->right, full->top, 60, 16);
    bool changed = false;
    for (int y = label.top(); y <= label.bottom() && !changed; ++y)
      for (int x = label.left(); x <= label.right() && !changed; ++x)
        changed = before.pixel(x, y) != after.pixel(x, y);
    EXPECT_TRUE(changed) << "label at " << full->right << "," << full->top;
  }
}

TEST_F(WorkPageTest, StartIsRefusedWhileTheButtonIsDisabledAndEscapeKeepsThePage) {
  auto frame = OpenFrame();
  CDialogWork* page = frame->workPage();
  ASSERT_TRUE(ShowAndWaitForServerList(*frame));
  QTreeWidgetItem* server = FirstServerItem(page);
  ASSERT_NE(server, nullptr);
  page->serverTree()->setCurrentItem(server);
  const std::string configBefore = test::ReadFile(ConfigPath());
  const QPoint onServer = page->serverTree()->visualItemRect(server).center();

  // A package step disables the button: neither Enter nor a double click on the server starts.
  page->startButton()->setEnabled(false);
  page->setFocus();
  QTest::keyClick(page, Qt::Key_Return);
  QTest::keyClick(page->serverTree(), Qt::Key_Enter);
  DoubleClick(page->serverTree()->viewport(), onServer);
  QTest::qWait(200);
  EXPECT_EQ(page->selectedServer, nullptr);
  EXPECT_EQ(page->stage(), CDialogWork::STAGE_SERVER_LIST);
  EXPECT_EQ(test::ReadFile(ConfigPath()), configBefore);
  EXPECT_EQ(service.count(kUpdatePath), 0);

  // Escape does nothing: the page stays open and the launcher runs on.
  QTest::keyClick(page, Qt::Key_Escape);
  QTest::qWait(100);
  EXPECT_TRUE(page->isVisible());
  EXPECT_TRUE(frame->isVisible());
  EXPECT_TRUE(exits.empty());
  EXPECT_TRUE(prompts.empty());

  // Enabled again, a double click on the tree starts the update for the selected server, even
  // one on the empty part below the items; its first download fails and Cancel in the retry
  // prompt ends the launcher.
  page->startButton()->setEnabled(true);
  QWidget* viewport = page->serverTree()->viewport();
  const QPoint belowItems(viewport->width() / 2, viewport->height() - 4);
  ASSERT_EQ(page->serverTree()->itemAt(belowItems), nullptr);
  DoubleClick(viewport, belowItems);
  ASSERT_NE(page->selectedServer, nullptr);
  EXPECT_EQ(page->selectedServer->name, "longcheng");
  EXPECT_EQ(page->stage(), CDialogWork::STAGE_MANIFEST);
  EXPECT_FALSE(page->startButton()->isEnabled());
  ASSERT_TRUE(QTest::qWaitFor([&] { return !exits.empty(); }, 20000));
  EXPECT_EQ(exits, std::vector<int>{0});
  EXPECT_EQ(service.count(kUpdatePath), 1);
  ASSERT_EQ(prompts.size(), 1u);
  EXPECT_EQ(prompts[0].caption, Utf8ToAnsi("更新文件"));
  EXPECT_EQ(prompts[0].type, unsigned(MB_OKCANCEL | MB_ICONERROR));
  EXPECT_EQ(prompts[0].text, Utf8ToAnsi("下载文件失败[" + game.file("update.down") + "]错误ID[404]"));
  // Nothing more is asked for after the Cancel.
  QTest::qWait(300);
  EXPECT_EQ(service.count(kLoginPath), 1);
}

TEST_F(WorkPageTest, RetryPromptOkRestartsAtTheLoginInformation) {
  service.FailNext(kLoginPath, 1);
  answers = {IDOK};
  auto frame = OpenFrame();
  CDialogWork* page = frame->workPage();
  // The first login information download fails; OK asks for it again and the chain goes on
  // to the server list.
  ASSERT_TRUE(ShowAndWaitForServerList(*frame));
  ASSERT_EQ(prompts.size(), 1u);
  EXPECT_EQ(prompts[0].text, Utf8ToAnsi("下载文件失败[" + game.file("temp.down") + "]错误ID[404]"));
  EXPECT_EQ(prompts[0].caption, Utf8ToAnsi("更新文件"));
  EXPECT_EQ(prompts[0].type, unsigned(MB_OKCANCEL | MB_ICONERROR));
  EXPECT_EQ(service.count(kLoginPath), 2);
  EXPECT_EQ(service.count("/PCVersion/1033/version.xml"), 1)
      << "the launcher information is not fetched again";
  EXPECT_EQ(service.count("/serverlist.xml"), 1);
  EXPECT_TRUE(exits.empty());

  // A failure of the update after a start goes through the same prompt: OK again reloads the
  // login information and the server list, forgets the chosen server and enables start.
  answers = {IDOK};
  page->serverTree()->setCurrentItem(FirstServerItem(page));
  QTest::mouseClick(page->startButton(), Qt::LeftButton);
  ASSERT_NE(page->selectedServer, nullptr);
  ASSERT_TRUE(QTest::qWaitFor([&] { return service.count("/serverlist.xml") == 2; }, 20000));
  ASSERT_TRUE(QTest::qWaitFor([&] { return page->startButton()->isEnabled(); }, 20000));
  EXPECT_EQ(prompts.size(), 2u);
  EXPECT_EQ(service.count(kUpdatePath), 1);
  EXPECT_EQ(service.count(kLoginPath), 3);
  EXPECT_EQ(page->selectedServer, nullptr);
  EXPECT_TRUE(exits.empty());
}

TEST_F(WorkPageTest, DisplaySettingsPresetFromTheConfigurationAndSavedOnStart) {
  test::WriteFile(ConfigPath(),
                  "; written by hand\n"
                  "[GameSetup]\nHuaWeiCDN=0\n"
                  "[Game_Data_Set]\nDef_CurScreenResolution_X=800\nDef_CurScreenResolution_Y=600\n"
                  "TextrueCompressed=2\nisWindows=0\nOther_Key=kept\n"
                  "[agent]\n1033=agent42\n");
  test::WriteFile(home.file("Desktop/notes.txt"), "");
  auto frame = OpenFrame();
  CDialogWork* page = frame->workPage();
  ASSERT_TRUE(ShowAndWaitForServerList(*frame));
  // The initialisation made the desktop entry and noted it.
  EXPECT_TRUE(test::Exists(home.file("Desktop/Kelmar.desktop")));

  // As stored: 800 X 600, low quality, full screen, the agent identifier.
  EXPECT_EQ(page->resolutionCombo()->currentText(), Q("800 X 600"));
  EXPECT_EQ(page->qualityCombo()->currentIndex(), 1);
  EXPECT_EQ(page->windowedCheck()->GetCheck(), 0);
  EXPECT_EQ(GetAgentId(), "agent42");
  // The list holds what the primary screen can show, "屏幕分辨率" last.
  const QSize screen = QGuiApplication::primaryScreen()->size();
  const std::vector<ScreenResolution> expected = BuildResolutionList(screen.width(), screen.height());
  ASSERT_EQ(page->resolutionCombo()->count(), int(expected.size()));
  for (size_t i = 0; i < expected.size(); ++i)
    EXPECT_EQ(page->resolutionCombo()->itemText(int(i)).toStdString(),
              AnsiToUtf8(ResolutionItemText(expected[i])));
  EXPECT_EQ(page->resolutionCombo()->itemText(page->resolutionCombo()->count() - 1), Q("屏幕分辨率"));

  // The player picks the screen's own resolution, high quality, windowed, and starts.
  page->resolutionCombo()->setCurrentIndex(page->resolutionCombo()->count() - 1);
  page->qualityCombo()->setCurrentIndex(0);
  QTest::mouseClick(page->windowedCheck(), Qt::LeftButton);
  EXPECT_EQ(page->windowedCheck()->GetCheck(), 1);
  // Nothing is written before the start command.
  EXPECT_NE(test::ReadFile(ConfigPath()).find("isWindows=0"), std::string::npos);
  // Enter in the tree, where the player chose the server, starts as the button does.
  page->serverTree()->setCurrentItem(FirstServerItem(page));
  QTest::keyClick(page->serverTree(), Qt::Key_Return);
  EXPECT_NE(page->selectedServer, nullptr);

  // Saved before the update begins, every other line kept; the update then fails and Cancel
  // ends the launcher, the settings staying saved.
  EXPECT_EQ(test::ReadFile(ConfigPath()),
            "; written by hand\n"
            "[GameSetup]\nHuaWeiCDN=0\nicon=" +
                game.file("zarn") +
                "\n"
                "[Game_Data_Set]\nDef_CurScreenResolution_X=0\nDef_CurScreenResolution_Y=0\n"
                "TextrueCompressed=0\nisWindows=1\nOther_Key=kept\n"
                "[agent]\n1033=agent42\n");
  ASSERT_TRUE(QTest::qWaitFor([&] { return !exits.empty(); }, 20000));
  EXPECT_EQ(prompts.size(), 1u);
  EXPECT_NE(test::ReadFile(ConfigPath()).find("isWindows=1"), std::string::npos);
}

TEST_F(WorkPageTest, RegisterCommandOpensThePanelModallyOverTheFrame) {
  auto frame = OpenFrame();
  CDialogWork* page = frame->workPage();
  ASSERT_TRUE(ShowAndWaitForServerList(*frame));
  QTest::qWait(300);

  bool seen = false;
  QTimer::singleShot(0, page, [&] {
    auto* pop = qobject_cast<CDialogRegisterPop*>(QApplication::activeModalWidget());
    ASSERT_NE(pop, nullptr) << "no modal registration panel";
    seen = true;
    EXPECT_TRUE(pop->isVisible());
    // Centred on the frame.
    const QRect f = frame->frameGeometry();
    EXPECT_EQ(pop->pos(),
              QPoint(f.x() + (f.width() - pop->width()) / 2, f.y() + (f.height() - pop->height()) / 2));
    // The frame and the panel as the player sees them, over a dark desktop.
    QImage shot(frame->size(), QImage::Format_ARGB32_Premultiplied);
    shot.fill(QColor(40, 40, 48));
    {
      QPainter painter(&shot);
      painter.drawImage(0, 0, frame->grab().toImage());
      painter.drawImage(pop->pos() - frame->pos(), pop->grab().toImage());
    }
    KeepShot(shot, "register-panel.png");
    QTest::mouseClick(pop->form().button(1023), Qt::LeftButton);
  });
  // A panel that stays open would hang the command: fail instead.
  QTimer::singleShot(10000, page, [] {
    if (auto* pop = qobject_cast<CDialogRegisterPop*>(QApplication::activeModalWidget())) pop->done(99);
  });
  QTest::mouseClick(page->button(CDialogWork::IDC_REGISTER), Qt::LeftButton);
  EXPECT_TRUE(seen);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  EXPECT_TRUE(page->isVisible());
  EXPECT_TRUE(exits.empty());
}

}  // namespace
}  // namespace zarn
