// The web panel's host answers, seen through a real web engine view in a launcher-like page:
// context menu, scroll bars, border, keys and new windows; and the browser window's own calls.
#include <gtest/gtest.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QKeyEvent>
#include <QMenu>
#include <QShortcut>
#include <QTest>
#include <QWebEngineView>

#include "BrowserTestSupport.h"
#include "browser/CCustomControlSite.h"
#include "platform/Process.h"
// Not TestSupport.h: its polling WaitFor would be chosen over the event-processing one above.
#include "support/Guards.h"
#include "util/CodePage.h"

namespace zarn::test {
namespace {

// A launcher page: it counts the keys and context menu requests that reach it, and carries a
// window shortcut (F5) and an application shortcut (Ctrl+R) as a launcher could.
class RecordingPage : public QWidget {
 public:
  RecordingPage() {
    auto* f5 = new QShortcut(QKeySequence(Qt::Key_F5), this);
    connect(f5, &QShortcut::activated, this, [this] { ++shortcuts; });
    auto* ctrlR = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_R), this);
    ctrlR->setContext(Qt::ApplicationShortcut);
    connect(ctrlR, &QShortcut::activated, this, [this] { ++shortcuts; });
  }
  int keys = 0, shortcuts = 0, menus = 0;
  QList<int> keyCodes;

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    ++keys;
    keyCodes << event->key();
  }
  void contextMenuEvent(QContextMenuEvent*) override { ++menus; }
};

int VisibleMenus() {
  int count = 0;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (qobject_cast<QMenu*>(w) && w->isVisible()) ++count;
  return count;
}

void CloseMenus() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (qobject_cast<QMenu*>(w) && w->isVisible()) w->close();
}

// A view as the web engine gives it, without the launcher's answers, placed like the panel.
QWebEngineView* PlainView(QWidget* page) {
  auto* view = new QWebEngineView(page);
  view->setGeometry(BrowserHarness::kRect);
  return view;
}

QString PageUrl(PageServer& server, const std::string& path) {
  return QString::fromStdString(server.Url(path));
}

TEST(HostAnswersTest, ARightClickShowsNoContextMenu) {
  PageServer server;
  server.Add("/menu.html", HtmlPage("<script>window.menus = 0; document.addEventListener('contextmenu', "
                                    "function () { window.menus++; });</script>",
                                    "<p style=\"height:200px\">Kelmar news</p>"));
  {
    // Control: the engine's own view shows its menu for the same click, so a menu would be seen.
    RecordingPage plainPage;
    plainPage.resize(600, 400);
    QWebEngineView* plain = PlainView(&plainPage);
    ASSERT_TRUE(ShowAndActivate(&plainPage));
    ASSERT_TRUE(LoadAndWait(plain, PageUrl(server, "/menu.html")));
    ASSERT_TRUE(WaitUntilPageTakesInput(plain));
    QTest::mouseClick(plain->focusProxy(), Qt::RightButton, {}, QPoint(100, 100));
    EXPECT_TRUE(WaitFor([] { return VisibleMenus() > 0; })) << "a plain view shows a menu";
    CloseMenus();
  }
  RecordingPage page;
  BrowserHarness harness(&page);
  EXPECT_EQ(harness.view()->contextMenuPolicy(), Qt::PreventContextMenu);
  ASSERT_TRUE(ShowAndActivate(&page));
  ASSERT_TRUE(LoadAndWait(harness.view(), PageUrl(server, "/menu.html")));
  ASSERT_TRUE(WaitUntilPageTakesInput(harness.view()));
  QTest::mouseClick(harness.view()->focusProxy(), Qt::RightButton, {}, QPoint(100, 100));
  // The click reached the page...
  ASSERT_TRUE(WaitFor([&] { return RunJs(harness.view()->page(), "window.menus").toInt() == 1; }));
  // ...and nobody showed a menu for it, neither the view nor the launcher's page.
  QTest::qWait(800);
  EXPECT_EQ(VisibleMenus(), 0);
  EXPECT_EQ(page.menus, 0);
}

struct ScrollCase {
  const char* name;
  const char* contentStyle;
};

void PrintTo(const ScrollCase& c, std::ostream* os) { *os << c.name; }

class ScrollBarTest : public ::testing::TestWithParam<ScrollCase> {};

// [innerWidth, clientWidth, innerHeight, clientHeight, scrollWidth, scrollHeight]
std::vector<int> Measure(QWebEngineView* view) {
  const QVariant v = RunJs(view->page(),
                           "JSON.stringify([innerWidth, document.documentElement.clientWidth, innerHeight, "
                           "document.documentElement.clientHeight, document.documentElement.scrollWidth, "
                           "document.documentElement.scrollHeight])");
  std::vector<int> out;
  for (const QJsonValue& x : QJsonDocument::fromJson(v.toString().toUtf8()).array()) out.push_back(x.toInt());
  return out;
}

TEST_P(ScrollBarTest, APageLargerThanThePanelShowsNoScrollBar) {
  const ScrollCase& c = GetParam();
  PageServer server;
  server.Add("/big.html", HtmlPage("<style>body { margin: 0 }</style>",
                                   std::string("<div style=\"") + c.contentStyle + "\">big</div>"));
  const bool wide = std::string(c.contentStyle).find("width") != std::string::npos;
  {
    // Control: the engine's own view gives the same page scroll bars that take room.
    QWidget plainPage;
    plainPage.resize(600, 400);
    QWebEngineView* plain = PlainView(&plainPage);
    ASSERT_TRUE(ShowAndActivate(&plainPage));
    ASSERT_TRUE(LoadAndWait(plain, PageUrl(server, "/big.html")));
    const std::vector<int> m = Measure(plain);
    ASSERT_EQ(m.size(), 6u);
    EXPECT_LT(m[1], m[0]) << "a plain view shows a vertical scroll bar";
    if (wide) {
      EXPECT_LT(m[3], m[2]) << "a plain view shows a horizontal scroll bar";
    }
  }
  BrowserHarness harness;
  ASSERT_TRUE(ShowAndActivate(&harness.page()));
  ASSERT_TRUE(LoadAndWait(harness.view(), PageUrl(server, "/big.html")));
  const std::vector<int> m = Measure(harness.view());
  ASSERT_EQ(m.size(), 6u);
  EXPECT_EQ(m[0], BrowserHarness::kRect.width());
  EXPECT_EQ(m[1], BrowserHarness::kRect.width());
  EXPECT_EQ(m[2], BrowserHarness::kRect.height());
  EXPECT_EQ(m[3], BrowserHarness::kRect.height());
  EXPECT_GE(m[5], 3000);
  if (wide) {
    EXPECT_GE(m[4], 3000);
  }
}

INSTANTIATE_TEST_SUITE_P(Pages, ScrollBarTest,
                         ::testing::Values(ScrollCase{"Tall", "height:3000px"},
                                           ScrollCase{"TallAndWide", "width:3000px;height:3000px"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(HostAnswersTest, ThePanelHasNoBorder) {
  PageServer server;
  server.Add("/red.html", HtmlPage("<style>html, body { margin: 0; background: #ff0000 }</style>", ""));
  BrowserHarness harness;
  ASSERT_TRUE(ShowAndActivate(&harness.page()));
  ASSERT_TRUE(LoadAndWait(harness.view(), PageUrl(server, "/red.html")));
  EXPECT_EQ(harness.browser().hostWindow()->geometry(), BrowserHarness::kRect);
  EXPECT_EQ(harness.view()->geometry(), QRect(QPoint(0, 0), BrowserHarness::kRect.size()));
  QImage shot;
  const auto isRed = [](QRgb p) { return qRed(p) > 240 && qGreen(p) < 16 && qBlue(p) < 16; };
  ASSERT_TRUE(WaitFor([&] {
    shot = harness.browser().hostWindow()->grab().toImage();
    return !shot.isNull() && isRed(shot.pixel(shot.width() / 2, shot.height() / 2));
  })) << "the page was never drawn";
  ASSERT_EQ(shot.size(), BrowserHarness::kRect.size());
  // Every pixel of the outermost two rings is the page's own colour: no frame is drawn.
  int notRed = 0;
  for (int ring = 0; ring < 2; ++ring) {
    for (int x = 0; x < shot.width(); ++x) {
      notRed += !isRed(shot.pixel(x, ring)) + !isRed(shot.pixel(x, shot.height() - 1 - ring));
    }
    for (int y = 0; y < shot.height(); ++y) {
      notRed += !isRed(shot.pixel(ring, y)) + !isRed(shot.pixel(shot.width() - 1 - ring, y));
    }
  }
  EXPECT_EQ(notRed, 0);
}

const char kKeyPage[] =
    "<script>window.k = []; document.addEventListener('keydown', function (e) { "
    "k.push((e.ctrlKey && e.key !== 'Control' ? 'Ctrl+' : '') + e.key); });</script>";

const char kKeyInput[] =
    "<input id=\"i\" style=\"position:absolute;left:10px;top:10px;width:200px;height:30px\">";

// Presses F5, Enter, Escape and Ctrl+R on the page, then types "abc" into its input field.
void TypeKeys(QWebEngineView* view) {
  view->setFocus();
  ASSERT_TRUE(WaitFor([&] { return QApplication::focusWidget() == view->focusProxy(); }));
  QWidget* target = view->focusProxy();
  // A page fresh from a new renderer drops input for a moment after its load; knock with Shift
  // (no shortcut, no text) until the page hears it, then start from a clean record.
  ASSERT_TRUE(WaitFor([&] {
    QTest::keyClick(target, Qt::Key_Shift);
    QTest::qWait(100);
    return RunJs(view->page(), "k.indexOf('Shift') >= 0").toBool();
  }));
  RunJs(view->page(), "k.length = 0");
  // With the page itself focused, as after a click on its text...
  QTest::keyClick(target, Qt::Key_F5);
  QTest::keyClick(target, Qt::Key_Return);
  QTest::keyClick(target, Qt::Key_Escape);
  QTest::keyClick(target, Qt::Key_R, Qt::ControlModifier);
  // ...and in its input field, once the page has dealt with those (in a plain view Ctrl+R
  // never arrives, so Escape is the last sure one).
  ASSERT_TRUE(WaitFor([&] { return RunJs(view->page(), "k.indexOf('Escape') >= 0").toBool(); }));
  QTest::qWait(200);
  RunJs(view->page(), "document.getElementById('i').focus()");
  QTest::keyClicks(target, "abc");
}

QStringList PageKeys(QWebEngineView* view) {
  QStringList out;
  for (const QJsonValue& v :
       QJsonDocument::fromJson(RunJs(view->page(), "JSON.stringify(k)").toString().toUtf8()).array())
    out << v.toString();
  return out;
}

TEST(HostAnswersTest, EveryKeyGoesToThePage) {
  PageServer server;
  server.Add("/keys.html", HtmlPage(kKeyPage, kKeyInput));
  {
    // Control: around the engine's own view the launcher's shortcut and Enter handling take keys.
    RecordingPage plainPage;
    plainPage.resize(600, 400);
    QWebEngineView* plain = PlainView(&plainPage);
    ASSERT_TRUE(ShowAndActivate(&plainPage));
    ASSERT_TRUE(LoadAndWait(plain, PageUrl(server, "/keys.html")));
    TypeKeys(plain);
    ASSERT_TRUE(WaitFor([&] { return PageKeys(plain).contains("c"); }));
    QTest::qWait(300);
    EXPECT_EQ(plainPage.shortcuts, 2) << "a plain view lets both shortcuts take their keys";
    EXPECT_TRUE(plainPage.keyCodes.contains(Qt::Key_Return)) << "a plain view hands Enter to the launcher";
  }
  RecordingPage page;
  BrowserHarness harness(&page);
  ASSERT_TRUE(ShowAndActivate(&page));
  ASSERT_TRUE(LoadAndWait(harness.view(), PageUrl(server, "/keys.html")));
  TypeKeys(harness.view());
  ASSERT_TRUE(WaitFor([&] { return PageKeys(harness.view()).contains("c"); }))
      << PageKeys(harness.view()).join(' ').toStdString();
  QTest::qWait(300);
  const QStringList keys = PageKeys(harness.view());
  for (const char* key : {"F5", "Enter", "Escape", "Ctrl+r", "a", "b", "c"}) {
    EXPECT_TRUE(keys.contains(key)) << key << " did not reach the page: " << keys.join(' ').toStdString();
  }
  EXPECT_EQ(RunJs(harness.view()->page(), "document.getElementById('i').value").toString().toStdString(),
            "abc");
  EXPECT_EQ(page.shortcuts, 0);
  EXPECT_EQ(page.keys, 0);
}

// Stands for the player's programs behind URL schemes: records every address handed to them.
class UrlRecorder : public QObject {
  Q_OBJECT
 public:
  UrlRecorder() {
    for (const char* scheme : {"mailto", "kelmar-test", "file", "data"})
      QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "open");
  }
  ~UrlRecorder() override {
    for (const char* scheme : {"mailto", "kelmar-test", "file", "data"})
      QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
  }
  QStringList urls;
 public slots:
  void open(const QUrl& url) { urls << url.toString(); }
};

class NewWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetOpenUrlHook([this](const std::string& url) { opened.push_back(url); });
  }
  void TearDown() override { SetOpenUrlHook(nullptr); }
  std::vector<std::string> opened;
};

TEST_F(NewWindowTest, ALinkToANewWindowOpensInTheUsersBrowser) {
  PageServer server;
  const std::string target = server.Url("/elsewhere.html?from=news");
  server.Add("/elsewhere.html", HtmlPage("", "<p>elsewhere</p>"));
  server.Add("/links.html", HtmlPage("<style>body { margin: 0 }</style>",
                                     "<a id=\"l\" target=\"_blank\" href=\"" + target +
                                         "\" style=\"display:block;width:400px;height:200px\">news</a>"));
  BrowserHarness harness;
  ASSERT_TRUE(ShowAndActivate(&harness.page()));
  const QString pageUrl = PageUrl(server, "/links.html");
  ASSERT_TRUE(LoadAndWait(harness.view(), pageUrl));
  ASSERT_TRUE(WaitUntilPageTakesInput(harness.view()));
  const int windowsBefore = QApplication::topLevelWidgets().size();
  QTest::mouseClick(harness.view()->focusProxy(), Qt::LeftButton, {}, QPoint(100, 100));
  ASSERT_TRUE(WaitFor([&] { return !opened.empty(); }));
  QTest::qWait(500);
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0], target);
  // The panel stays on its page and the launcher made no window of its own for the link.
  EXPECT_EQ(harness.view()->url().toString(), pageUrl);
  EXPECT_EQ(QApplication::topLevelWidgets().size(), windowsBefore);
  for (const std::string& path : server.requests()) EXPECT_NE(path, "/elsewhere.html");
}

// window.open from a click handler opens the user's browser; a script that opens windows on its
// own (at load, on a timer) opens nothing at all, web addresses included.
TEST_F(NewWindowTest, OnlyAClickOpensTheUsersBrowser) {
  PageServer server;
  const std::string first = server.Url("/first.html"), last = server.Url("/last.html");
  server.Add("/open.html", HtmlPage("<style>body { margin: 0 }</style>",
                                    "<div style=\"width:400px;height:200px\" onclick=\"window.open('" + last +
                                        "')\">open</div>"));
  BrowserHarness harness;
  ASSERT_TRUE(ShowAndActivate(&harness.page()));
  ASSERT_TRUE(LoadAndWait(harness.view(), PageUrl(server, "/open.html")));
  RunJs(
      harness.view()->page(),
      QString::fromStdString("window.open('about:blank'); window.open('file:///etc/passwd'); window.open('" +
                             first + "'); setTimeout(function () { window.open('" + first + "'); }, 0);"));
  QTest::qWait(500);
  EXPECT_TRUE(opened.empty()) << opened.front();

  ASSERT_TRUE(WaitUntilPageTakesInput(harness.view()));
  QTest::mouseClick(harness.view()->focusProxy(), Qt::LeftButton, {}, QPoint(100, 100));
  ASSERT_TRUE(WaitFor([&] { return !opened.empty(); }));
  QTest::qWait(300);
  EXPECT_EQ(opened, std::vector<std::string>{last});
}

// The panel itself goes to web addresses only: a link, a form or a script that would take it to
// another scheme leaves it on its page and hands nothing to a program of the player's.
TEST(HostAnswersTest, ThePanelGoesOnlyToWebAddresses) {
  UrlRecorder recorder;
  PageServer server;
  server.Add("/next.html", HtmlPage("", "<p>next</p>"));
  const struct {
    const char* name;
    std::string body;  // the page; a click at (100, 100) or its script asks to go
    bool click;
  } cases[] = {
      {"a link to mailto",
       "<a href=\"mailto:a@kelmar-game.com\" style=\"display:block;width:400px;height:200px\">m</a>", true},
      {"a link to a program's scheme",
       "<a href=\"kelmar-test:run\" style=\"display:block;width:400px;height:200px\">k</a>", true},
      {"a script to a program's scheme", "<script>location.href = 'kelmar-test:script';</script>", false},
      {"a form to mailto",
       "<form id=\"f\" "
       "action=\"mailto:a@kelmar-game.com\"></form><script>document.getElementById('f').submit();"
       "</script>",
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    server.Add("/go.html", HtmlPage("<style>body { margin: 0 }</style>", c.body));
    BrowserHarness harness;
    ASSERT_TRUE(ShowAndActivate(&harness.page()));
    const QString pageUrl = PageUrl(server, "/go.html");
    // A script that asks to go while the page loads ends that load unfinished.
    const bool loaded = LoadAndWait(harness.view(), pageUrl);
    if (c.click) {
      ASSERT_TRUE(loaded);
      ASSERT_TRUE(WaitUntilPageTakesInput(harness.view()));
      QTest::mouseClick(harness.view()->focusProxy(), Qt::LeftButton, {}, QPoint(100, 100));
    }
    QTest::qWait(800);
    EXPECT_TRUE(recorder.urls.isEmpty()) << recorder.urls.join(' ').toStdString();
    EXPECT_EQ(harness.view()->url().toString(), pageUrl);
    recorder.urls.clear();
  }
  // A web address still goes.
  server.Add("/go.html", HtmlPage("", "<script>location.href = '/next.html';</script>"));
  BrowserHarness harness;
  ASSERT_TRUE(LoadAndWait(harness.view(), PageUrl(server, "/go.html")));
  EXPECT_TRUE(WaitFor([&] { return harness.view()->url().path() == "/next.html"; }));
}

TEST(HostAnswersTest, OnlyWebAddressesMayBeShown) {
  const struct {
    const char* url;
    bool mainFrame, subFrame;
  } cases[] = {
      {"http://www.kelmar-game.com/news", true, true},
      {"https://www.kelmar-game.com/pay?Lid=1", true, true},
      {"about:blank", false, true},
      {"about:srcdoc", false, true},
      {"about:version", false, false},
      {"file:///etc/passwd", false, false},
      {"data:text/html,x", false, false},
      {"mailto:someone@kelmar-game.com", false, false},
      {"kelmar-test:run", false, false},
      {"ftp://127.0.0.1/file", false, false},
      {"", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    const QUrl url(QString::fromLatin1(c.url));
    EXPECT_EQ(CCustomControlSite::MayNavigate(url, true), c.mainFrame);
    EXPECT_EQ(CCustomControlSite::MayNavigate(url, false), c.subFrame);
  }
}

TEST(HostAnswersTest, OnlyWebAddressesGoToTheUsersBrowser) {
  const struct {
    const char* url;
    bool opens;
  } cases[] = {
      {"http://www.kelmar-game.com/news", true},
      {"https://www.kelmar-game.com/pay?Lid=1", true},
      {"HTTP://WWW.KELMAR-GAME.COM/", true},
      {"http://", false},
      {"file:///etc/passwd", false},
      {"javascript:alert(1)", false},
      {"data:text/html,x", false},
      {"about:blank", false},
      {"mailto:someone@kelmar-game.com", false},
      {"ftp://127.0.0.1/file", false},
      {"", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    EXPECT_EQ(CCustomControlSite::OpensInUserBrowser(QUrl(QString::fromLatin1(c.url))), c.opens);
  }
}

TEST(BrowserWindowTest, CreatesTheViewAtTheRectangleAndNavigatesToAnAnsiAddress) {
  CodeSetGuard gbk("GBK");
  PageServer server;
  server.Add("/\xE6\x96\xB0\xE9\x97\xBB.html", HtmlPage("", "<p>news</p>"));  // "/新闻.html"
  BrowserHarness harness;
  CWebBrowser2& browser = harness.browser();
  ASSERT_NE(browser.view(), nullptr);
  EXPECT_EQ(browser.hostWindow()->parentWidget(), &harness.page());
  EXPECT_EQ(browser.view()->parentWidget(), browser.hostWindow());
  EXPECT_EQ(browser.hostWindow()->geometry(), BrowserHarness::kRect);
  EXPECT_EQ(browser.view()->objectName().toStdString(), "browser");
  EXPECT_EQ(browser.view()->property("controlId").toInt(), BrowserHarness::kControlId);
  EXPECT_EQ(harness.page().findChild<QWebEngineView*>("browser"), browser.view());
  ASSERT_NE(browser.site(), nullptr);
  EXPECT_EQ(browser.view()->page(), browser.site());
  ASSERT_TRUE(ShowAndActivate(&harness.page()));

  bool finished = false, ok = false;
  QObject::connect(browser.view(), &QWebEngineView::loadFinished, [&](bool success) {
    finished = true;
    ok = success;
  });
  const std::string ansiUrl = Utf8ToAnsi(server.Url("/\xE6\x96\xB0\xE9\x97\xBB.html"));
  ASSERT_NE(ansiUrl, server.Url("/\xE6\x96\xB0\xE9\x97\xBB.html"));  // it really is GBK text
  browser.Navigate(ansiUrl);
  EXPECT_EQ(browser.lastUrl(), ansiUrl);
  ASSERT_TRUE(WaitFor([&] { return finished; }));
  EXPECT_TRUE(ok);
  const std::vector<std::string> requests = server.requests();
  EXPECT_NE(std::find(requests.begin(), requests.end(), "/\xE6\x96\xB0\xE9\x97\xBB.html"), requests.end());

  browser.ShowWindow(false);
  EXPECT_FALSE(browser.hostWindow()->isVisible());
  browser.ShowWindow(true);
  EXPECT_TRUE(browser.hostWindow()->isVisible());
  EXPECT_TRUE(browser.view()->isVisible());

  // The view fills its window whatever size the page gives it.
  browser.hostWindow()->resize(300, 180);
  EXPECT_EQ(browser.view()->geometry(), QRect(0, 0, 300, 180));
}

TEST(BrowserWindowTest, ARefusedCreationLeavesAnEmptyBrowser) {
  CWebBrowser2::SetCreationRefusedForTest(true);
  CWebBrowser2 browser;
  QWidget page;
  EXPECT_FALSE(browser.Create(&page, BrowserHarness::kRect, BrowserHarness::kControlId));
  CWebBrowser2::SetCreationRefusedForTest(false);
  EXPECT_EQ(browser.view(), nullptr);
  EXPECT_EQ(browser.hostWindow(), nullptr);
  EXPECT_EQ(browser.site(), nullptr);
  EXPECT_EQ(page.findChild<QWidget*>(), nullptr);
  browser.Navigate("http://127.0.0.1:9/news.html");
  browser.ShowWindow(true);
  EXPECT_EQ(browser.lastUrl(), "http://127.0.0.1:9/news.html");
}

TEST(BrowserWindowTest, ThePageMayGoBeforeTheBrowser) {
  CWebBrowser2 browser;
  {
    QWidget page;
    ASSERT_TRUE(browser.Create(&page, BrowserHarness::kRect, BrowserHarness::kControlId));
    ASSERT_NE(browser.view(), nullptr);
  }
  EXPECT_EQ(browser.view(), nullptr);
  EXPECT_EQ(browser.hostWindow(), nullptr);
  EXPECT_EQ(browser.site(), nullptr);
  browser.Navigate("http://127.0.0.1:9/news.html");
  browser.ShowWindow(false);
  EXPECT_EQ(browser.lastUrl(), "http://127.0.0.1:9/news.html");
}

}  // namespace
}  // namespace zarn::test

#include "HostAnswersTest.moc"
