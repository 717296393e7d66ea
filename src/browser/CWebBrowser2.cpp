#include "browser/CWebBrowser2.h"

#include <QUrl>
#include <QWebEngineView>
#include <atomic>

#include "util/CodePage.h"

namespace zarn {
namespace {
std::atomic<bool> g_refused{false};
}

void CWebBrowser2::SetCreationRefusedForTest(bool refused) { g_refused = refused; }

bool CWebBrowser2::Create(QWidget* parent, const QRect& rect, int controlId) {
  if (g_refused) return false;
  m_view = new QWebEngineView(parent);
  m_view->setObjectName(QStringLiteral("browser"));
  m_view->setProperty("controlId", controlId);
  m_view->setGeometry(rect);
  m_view->show();
  return true;
}

void CWebBrowser2::Navigate(const std::string& url) {
  m_lastUrl = url;
  if (!m_view) return;
  m_view->setUrl(QUrl(QString::fromStdString(AnsiToUtf8(url))));
}

void CWebBrowser2::ShowWindow(bool visible) {
  if (m_view) m_view->setVisible(visible);
}

}  // namespace zarn
