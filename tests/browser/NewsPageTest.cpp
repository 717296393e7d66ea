// The demo start page of the web panel: it shows its news and what window.external.xxyyzz reads.
#include <gtest/gtest.h>

#include <QImage>
#include <QWebEngineView>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "BrowserTestSupport.h"

namespace zarn::test {
namespace {

std::string NewsPage() {
  std::ifstream in(std::string(ZARN_BROWSER_TEST_DIR) + "/news.html", std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

QString ExternalText(QWebEngineView* view) {
  return RunJs(view->page(), "document.getElementById('external').textContent").toString();
}

TEST(NewsPageTest, TheStartPageShowsWhatTheExternalObjectReads) {
  const std::string html = NewsPage();
  ASSERT_NE(html.find("window.external.xxyyzz"), std::string::npos);
  PageServer server;
  server.Add("/launcher/news.html", html);
  const QString url = QString::fromStdString(server.Url("/launcher/news.html"));
  {
    // Without the launcher's object the page says so; the demo therefore shows the difference.
    QWidget plainPage;
    auto* plain = new QWebEngineView(&plainPage);
    plain->setGeometry(BrowserHarness::kRect);
    plainPage.resize(600, 400);
    ASSERT_TRUE(ShowAndActivate(&plainPage));
    ASSERT_TRUE(LoadAndWait(plain, url));
    EXPECT_EQ(ExternalText(plain).toStdString(), "\xE6\x9C\xAA\xE8\xBF\x9E\xE6\x8E\xA5");  // "未连接"
  }
  BrowserHarness harness;
  ASSERT_TRUE(ShowAndActivate(&harness.page()));
  ASSERT_TRUE(LoadAndWait(harness.view(), url));
  EXPECT_EQ(ExternalText(harness.view()).toStdString(), "Dizive");
  EXPECT_EQ(RunJs(harness.view()->page(), "document.querySelectorAll('li').length").toInt(), 4);

  // A picture of the panel for a person to look at; the run names where it went.
  QImage shot;
  WaitFor([&] {
    shot = harness.browser().hostWindow()->grab().toImage();
    return !shot.isNull() && shot.pixel(5, 5) != shot.pixel(shot.width() / 2, shot.height() - 20);
  });
  const std::string path = "/tmp/zarn-news-panel.png";
  EXPECT_TRUE(shot.save(QString::fromStdString(path)));
  std::printf("web panel picture: %s\n", path.c_str());
}

}  // namespace
}  // namespace zarn::test
