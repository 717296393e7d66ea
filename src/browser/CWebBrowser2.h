// The embedded web page of the work page.
#pragma once

#include <QPointer>
#include <QRect>
#include <QWebEngineView>
#include <QWidget>
#include <string>

namespace zarn {

class CCustomControlSite;

class CWebBrowser2 {
 public:
  CWebBrowser2() = default;
  CWebBrowser2(const CWebBrowser2&) = delete;
  CWebBrowser2& operator=(const CWebBrowser2&) = delete;

  // Creates the browser window as a child of the page at the given rectangle, with the view
  // filling it and answering as the launcher's host (CCustomControlSite). False when the web
  // engine cannot give one (the page then runs without its web panel).
  bool Create(QWidget* parent, const QRect& rect, int controlId);
  // Opens an address (ANSI text).
  void Navigate(const std::string& url);
  void ShowWindow(bool visible);

  // The window placed on the page, and the view inside it.
  QWidget* hostWindow() const { return m_window; }
  QWebEngineView* view() const { return m_view; }
  CCustomControlSite* site() const { return m_view ? m_site : nullptr; }
  const std::string& lastUrl() const { return m_lastUrl; }

  // Lets a test stand for a machine on which the web engine cannot be created.
  static void SetCreationRefusedForTest(bool refused);

 private:
  // The page owns the window; these clear themselves when it goes first.
  QPointer<QWidget> m_window;
  QPointer<QWebEngineView> m_view;
  CCustomControlSite* m_site = nullptr;
  std::string m_lastUrl;
};

}  // namespace zarn
