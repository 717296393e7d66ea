#include "browser/CCustomControlSite.h"

#include <QWebEngineNewWindowRequest>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include "browser/CImpIDispatch.h"
#include "platform/Process.h"
#include "util/Debug.h"

namespace zarn {

CCustomControlSite::CCustomControlSite(QWebEngineView* view) : QWebEnginePage(view) {
  settings()->setAttribute(QWebEngineSettings::ShowScrollBars, false);
  scripts().insert(CImpIDispatch::Script());
  connect(this, &QWebEnginePage::newWindowRequested, this, &CCustomControlSite::OnNewWindowRequested);
  // PreventContextMenu rather than NoContextMenu: the right click must not reach the launcher's
  // page behind the view either.
  view->setContextMenuPolicy(Qt::PreventContextMenu);
  view->setPage(this);
}

bool CCustomControlSite::OpensInUserBrowser(const QUrl& url) {
  if (!url.isValid() || url.host().isEmpty()) return false;
  const QString scheme = url.scheme();
  return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

bool CCustomControlSite::MayNavigate(const QUrl& url, bool isMainFrame) {
  if (OpensInUserBrowser(url)) return true;
  // A sub-frame's empty or inline document is the page's own, not a place to go.
  return !isMainFrame && url.scheme() == QLatin1String("about") &&
         (url.path() == QLatin1String("blank") || url.path() == QLatin1String("srcdoc"));
}

QWebEnginePage* CCustomControlSite::createWindow(WebWindowType) { return nullptr; }

bool CCustomControlSite::acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) {
  // Another scheme could hand the address to a program of the player's (a URL handler) or show
  // local files in the panel.
  if (!MayNavigate(url, isMainFrame)) {
    DebugOutput("navigation refused: " + url.toEncoded().toStdString());
    return false;
  }
  return QWebEnginePage::acceptNavigationRequest(url, type, isMainFrame);
}

void CCustomControlSite::OnNewWindowRequested(QWebEngineNewWindowRequest& request) {
  // The request is left unanswered, so the engine drops the new window it had prepared.
  const QUrl url = request.requestedUrl();
  const std::string address = url.toEncoded().toStdString();
  // A page may not open the player's browser on its own (pop-ups at load, on a timer).
  if (!request.isUserInitiated()) {
    DebugOutput("new window not asked for by the player: " + address);
    return;
  }
  if (!OpensInUserBrowser(url)) {
    DebugOutput("new window not opened: " + address);
    return;
  }
  OpenUrl(address);
}

}  // namespace zarn
