#include "BrowserTestSupport.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTest>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <cstdlib>

namespace zarn::test {
namespace {

// Chromium cannot start its sandbox for root; like the launcher, the tests then run the engine
// without it. This runs before the first view of the process is made.
class WebEngineEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (::geteuid() == 0) setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
  }
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new WebEngineEnvironment);

}  // namespace

PageServer::PageServer() {
  server_.Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
    std::lock_guard lock(mutex_);
    requests_.push_back(request.path);
    const auto it = pages_.find(request.path);
    if (it == pages_.end()) {
      response.status = 404;
      response.set_content("not here", "text/plain");
      return;
    }
    response.set_content(it->second.first, it->second.second.c_str());
  });
  // One request per connection: a kept-alive connection would hold up stop() for seconds.
  server_.set_keep_alive_max_count(1);
  port_ = server_.bind_to_any_port("127.0.0.1");
  if (port_ <= 0) throw std::runtime_error("cannot bind 127.0.0.1");
  thread_ = std::thread([this] { server_.listen_after_bind(); });
  while (!server_.is_running()) std::this_thread::yield();
}

PageServer::~PageServer() {
  server_.stop();
  thread_.join();
}

void PageServer::Add(const std::string& path, const std::string& body, const std::string& contentType) {
  std::lock_guard lock(mutex_);
  pages_[path] = {body, contentType};
}

std::string PageServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<std::string> PageServer::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

bool WaitFor(const std::function<bool()>& condition, int timeoutMs) {
  QElapsedTimer timer;
  timer.start();
  while (!condition()) {
    if (timer.elapsed() > timeoutMs) return condition();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QTest::qSleep(5);
  }
  return true;
}

bool LoadAndWait(QWebEngineView* view, const QString& url, int timeoutMs) {
  bool finished = false, ok = false;
  const auto connection = QObject::connect(view, &QWebEngineView::loadFinished, [&](bool success) {
    finished = true;
    ok = success;
  });
  view->setUrl(QUrl(url));
  WaitFor([&] { return finished; }, timeoutMs);
  QObject::disconnect(connection);
  return finished && ok;
}

QVariant RunJs(QWebEnginePage* page, const QString& script, int timeoutMs) {
  auto result = std::make_shared<std::pair<bool, QVariant>>(false, QVariant());
  page->runJavaScript(script, [result](const QVariant& value) {
    result->first = true;
    result->second = value;
  });
  if (!WaitFor([&] { return result->first; }, timeoutMs)) {
    ADD_FAILURE() << "script did not answer: " << script.toStdString();
    return {};
  }
  return result->second;
}

bool WaitUntilPageTakesInput(QWebEngineView* view) {
  RunJs(view->page(),
        "window.zarnMoves = 0; document.addEventListener('mousemove', function () { window.zarnMoves++; }, "
        "true)");
  int step = 0;
  return WaitFor([&] {
    QWidget* target = view->focusProxy();
    if (!target) return false;
    ++step;
    QTest::mouseMove(target, QPoint(5 + step % 2, 5));
    QTest::qWait(50);
    return RunJs(view->page(), "window.zarnMoves").toInt() > 0;
  });
}

bool ShowAndActivate(QWidget* window) {
  window->show();
  window->raise();
  if (!QTest::qWaitForWindowExposed(window)) {
    ADD_FAILURE() << "window not exposed";
    return false;
  }
  // Without a window manager an activation asked for while a fresh web view is still setting
  // itself up can be lost; asking again is what a window manager would do.
  for (int attempt = 0; attempt < 10; ++attempt) {
    window->activateWindow();
    if (QTest::qWaitForWindowActive(window, 500)) return true;
  }
  ADD_FAILURE() << "window never became active";
  return false;
}

BrowserHarness::BrowserHarness(QWidget* page) {
  if (!page) {
    owned_ = std::make_unique<QWidget>();
    page = owned_.get();
  }
  page_ = page;
  page_->resize(600, 400);
  if (!browser_.Create(page_, kRect, kControlId)) ADD_FAILURE() << "the browser was not created";
}

std::string HtmlPage(const std::string& head, const std::string& body) {
  return "<!DOCTYPE html><html><head><meta charset=\"utf-8\">" + head + "</head><body>" + body +
         "</body></html>";
}

}  // namespace zarn::test
