// The host answers of the web panel.
//
// On Windows the browser control asked its container site how to behave (IDocHostUIHandler) and
// a container manager handed every control such a site. Here the view's page is that site: one
// is made for each view by CWebBrowser2::Create, so no manager is needed. Its answers:
//   - no context menu on a right click;
//   - no scroll bars, whatever the height of the page;
//   - window.external is the object of CImpIDispatch, in the main frame and in every sub-frame;
//   - the panel goes only to web addresses (http, https): a link, form or script that would take
//     it to another scheme (file, data, mailto, a program's own scheme) is refused;
//   - a new window asked for by a click (a link with a target, window.open in a click handler)
//     opens its address in the user's default browser (web addresses only) instead of a blank
//     launcher window; one that a script opens on its own is dropped.
// The view has no border of its own; that every key stays with the page is the answer of the
// window that holds the view (CWebBrowser2).
#pragma once

#include <QWebEnginePage>

class QWebEngineNewWindowRequest;
class QWebEngineView;

namespace zarn {

class CCustomControlSite : public QWebEnginePage {
  Q_OBJECT
 public:
  // Becomes the page of the view, owned by it.
  explicit CCustomControlSite(QWebEngineView* view);

  // True for the addresses a new window may hand to the user's browser.
  static bool OpensInUserBrowser(const QUrl& url);
  // True for the addresses the panel or one of its frames may go to: web addresses, and a
  // frame's own empty document ("about:blank", "about:srcdoc").
  static bool MayNavigate(const QUrl& url, bool isMainFrame);

 protected:
  // New windows are never made inside the launcher.
  QWebEnginePage* createWindow(WebWindowType type) override;
  bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;

 private:
  void OnNewWindowRequested(QWebEngineNewWindowRequest& request);
};

}  // namespace zarn
