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

QWebEnginePage* CCustomControlSite::createWindow(WebWindowType) { return nullptr; }

void CCustomControlSite::OnNewWindowRequested(QWebEngineNewWindowRequest& request) {
  // The request is left unanswered, so the engine drops the new window it had prepared.
  const QUrl url = request.requestedUrl();
  const std::string address = url.toEncoded().toStdString();
  if (!OpensInUserBrowser(url)) {
    DebugOutput("new window not opened: " + address);
    return;
  }
  OpenUrl(address);
}

}  // namespace zarn
