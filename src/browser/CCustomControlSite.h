// The host answers of the web panel.
//
// On Windows the browser control asked its container site how to behave (IDocHostUIHandler) and
// a container manager handed every control such a site. Here the view's page is that site: one
// is made for each view by CWebBrowser2::Create, so no manager is needed. Its answers:
//   - no context menu on a right click;
//   - no scroll bars, whatever the height of the page;
//   - window.external is the object of CImpIDispatch, in the main frame and in every sub-frame;
//   - a link or script that opens a new window opens its address in the user's default browser
//     (web addresses only) instead of a blank launcher window.
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

 protected:
  // New windows are never made inside the launcher.
  QWebEnginePage* createWindow(WebWindowType type) override;

 private:
  void OnNewWindowRequested(QWebEngineNewWindowRequest& request);
};

}  // namespace zarn
