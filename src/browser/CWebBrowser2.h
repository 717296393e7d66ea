// The embedded web page of the work page.
#pragma once

#include <QRect>
#include <string>

class QWebEngineView;
class QWidget;

namespace zarn {

class CWebBrowser2 {
 public:
  CWebBrowser2() = default;
  CWebBrowser2(const CWebBrowser2&) = delete;
  CWebBrowser2& operator=(const CWebBrowser2&) = delete;

  // Creates the view as a child of the page at the given rectangle. False when the web engine
  // cannot give one (the page then runs without its web panel).
  bool Create(QWidget* parent, const QRect& rect, int controlId);
  // Opens an address (ANSI text).
  void Navigate(const std::string& url);
  void ShowWindow(bool visible);

  QWebEngineView* view() const { return m_view; }
  const std::string& lastUrl() const { return m_lastUrl; }

  // Lets a test stand for a machine on which the web engine cannot be created.
  static void SetCreationRefusedForTest(bool refused);

 private:
  QWebEngineView* m_view = nullptr;
  std::string m_lastUrl;
};

}  // namespace zarn
