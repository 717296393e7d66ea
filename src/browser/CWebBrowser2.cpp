#include "browser/CWebBrowser2.h"

#include <QEvent>
#include <QKeyEvent>
#include <QResizeEvent>
#include <QUrl>
#include <QWebEngineView>
#include <atomic>

#include "browser/CCustomControlSite.h"
#include "util/CodePage.h"

namespace zarn {
namespace {
std::atomic<bool> g_refused{false};

// The window that holds the view. Every key belongs to the page: the engine hands keys the page
// did not use to the view's parent, and a shortcut override that the view leaves open climbs to
// it as well. Ending both here keeps the launcher's page (Enter starts the game, Escape closes)
// and its shortcuts from taking a key typed into the web panel.
class BrowserWindow : public QWidget {
 public:
  explicit BrowserWindow(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("browserWindow"));
    setContextMenuPolicy(Qt::PreventContextMenu);
  }

 protected:
  bool event(QEvent* event) override {
    switch (event->type()) {
      case QEvent::ShortcutOverride:
      case QEvent::KeyPress:
      case QEvent::KeyRelease:
        event->accept();
        return true;
      default:
        return QWidget::event(event);
    }
  }
  void resizeEvent(QResizeEvent* event) override {
    for (QObject* child : children()) {
      if (auto* view = qobject_cast<QWebEngineView*>(child))
        view->setGeometry(QRect(QPoint(0, 0), event->size()));
    }
  }
};
}  // namespace

void CWebBrowser2::SetCreationRefusedForTest(bool refused) { g_refused = refused; }

bool CWebBrowser2::Create(QWidget* parent, const QRect& rect, int controlId) {
  if (g_refused) return false;
  m_window = new BrowserWindow(parent);
  m_window->setGeometry(rect);
  m_view = new QWebEngineView(m_window);
  m_view->setObjectName(QStringLiteral("browser"));
  m_view->setProperty("controlId", controlId);
  m_view->setGeometry(QRect(QPoint(0, 0), rect.size()));
  m_site = new CCustomControlSite(m_view);
  m_window->show();
  return true;
}

void CWebBrowser2::Navigate(const std::string& url) {
  m_lastUrl = url;
  if (!m_view) return;
  m_view->setUrl(QUrl(QString::fromStdString(AnsiToUtf8(url))));
}

void CWebBrowser2::ShowWindow(bool visible) {
  if (m_window) m_window->setVisible(visible);
}

}  // namespace zarn
