// Shared ground of the web panel tests: a page server on 127.0.0.1, waiting on the event loop,
// running a script in a page and a window that holds a browser the way the work page does.
#pragma once

#include <httplib.h>

#include <QRect>
#include <QString>
#include <QVariant>
#include <QWidget>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "browser/CWebBrowser2.h"

class QWebEnginePage;
class QWebEngineView;

namespace zarn::test {

// Serves fixed documents by path; every other path gets 404. Records the paths asked for.
class PageServer {
 public:
  PageServer();
  ~PageServer();
  PageServer(const PageServer&) = delete;
  PageServer& operator=(const PageServer&) = delete;

  void Add(const std::string& path, const std::string& body,
           const std::string& contentType = "text/html; charset=utf-8");
  // "http://127.0.0.1:<port>" followed by the path.
  std::string Url(const std::string& path) const;
  std::vector<std::string> requests() const;

 private:
  httplib::Server server_;
  std::thread thread_;
  int port_ = 0;
  mutable std::mutex mutex_;
  std::map<std::string, std::pair<std::string, std::string>> pages_;
  std::vector<std::string> requests_;
};

// Runs the event loop until the condition holds or the time is up; the condition's last answer.
bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 15000);
// Loads an address into the view and waits for the load to end; true when it succeeded.
bool LoadAndWait(QWebEngineView* view, const QString& url, int timeoutMs = 30000);
// Runs a script in the page's main world and returns its result (invalid on time-out).
QVariant RunJs(QWebEnginePage* page, const QString& script, int timeoutMs = 15000);
// A page fresh from a new renderer drops input for a moment after its load. Moves the mouse over
// the view until the page sees it move; true when it did.
bool WaitUntilPageTakesInput(QWebEngineView* view);
// Shows a top-level window and waits until it is exposed and active.
bool ShowAndActivate(QWidget* window);

// The launcher's page as the web panel sees it: a window with a browser at the rectangle the
// work page gives it (the layout's "URL" rectangle, 422 x 237).
class BrowserHarness {
 public:
  static constexpr QRect kRect{20, 30, 422, 237};
  static constexpr int kControlId = 1001;

  explicit BrowserHarness(QWidget* page = nullptr);
  QWidget& page() { return *page_; }
  CWebBrowser2& browser() { return browser_; }
  QWebEngineView* view() const { return browser_.view(); }

 private:
  std::unique_ptr<QWidget> owned_;
  QWidget* page_;
  CWebBrowser2 browser_;
};

// A page body wrapped into a UTF-8 HTML document.
std::string HtmlPage(const std::string& head, const std::string& body);

}  // namespace zarn::test
