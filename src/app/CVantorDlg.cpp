#include "app/CVantorDlg.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QIcon>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>

#include "app/TimingTrace.h"
#include "install/CDialogIntall.h"
#include "platform/Process.h"
#include "skin/CSkinPage.h"
#include "skin/ScreenPlace.h"
#include "util/Paths.h"
#include "work/CDialogWork.h"

namespace zarn {

CVantorDlg::CVantorDlg(std::string commandTail, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), m_commandTail(std::move(commandTail)) {
  setObjectName(QStringLiteral("mainFrame"));
  setAttribute(Qt::WA_TranslucentBackground);
  resize(kTemplateWidth, kTemplateHeight);
}

CVantorDlg::~CVantorDlg() = default;

QWidget* CVantorDlg::page() const {
  if (m_workPage) return m_workPage;
  return m_installPage;
}

bool CVantorDlg::OnInitDialog() {
  setWindowIcon(QIcon(QStringLiteral(":/icon/128.png")));
  m_configPath = DirName(GetModulePath()) + "/ClientConfig.cfg";

  // The page is chosen once: a game folder (with its configuration) gets the work page.
  CSkinPage* page = nullptr;
  if (PathExists(m_configPath)) {
    m_workPage = new CDialogWork(this, WorkServices::OfProcess());
    page = m_workPage;
  } else {
    m_installPage = new CDialogIntall(this, m_commandTail);
    page = m_installPage;
  }

  m_pBackground = LoadSkinImage("ZOVIR-1.png");
  if (!m_pBackground) LoadResourceImage(10001, m_pBackground);
  const QSize picture = m_pBackground ? m_pBackground->size() : QSize(kTemplateWidth, kTemplateHeight);

  // The window holds the picture and the page together: a picture that did not decode (0 x 0)
  // or a page placed partly off the picture must leave the page whole and visible.
  const LayoutRect& r = page->GetPageRect();
  const QRect box = WindowAroundPage(picture, QRect(r.left, r.top, r.right - r.left, r.bottom - r.top));
  m_pictureOrigin = -box.topLeft();
  resize(box.size());

  // Centred in the screen's free area, never above or left of it (a small laptop screen).
  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(CentredInArea(size(), screen->availableGeometry()));
  setWindowTitle(QString::fromUtf8("Kelmar登陆器"));

  // The page lies over the frame at the layout offset and moves with it.
  page->move(m_pictureOrigin + QPoint(r.left, r.top));
  if (m_workPage)
    m_workPage->OnInitDialog();
  else
    m_installPage->OnInitDialog();
  page->show();
  page->setFocus();
  return true;
}

void CVantorDlg::paintEvent(QPaintEvent*) {
  static bool firstFrame = true;
  if (firstFrame && TimingTraceEnabled()) {
    // Marked once the event loop runs again: the frame and its page have then been flushed.
    QTimer::singleShot(0, [] { TraceTiming("first-frame"); });
  }
  firstFrame = false;
  if (!m_pBackground || m_pBackground->isNull()) return;
  QPainter painter(this);
  painter.setCompositionMode(QPainter::CompositionMode_Source);
  painter.drawImage(m_pictureOrigin, *m_pBackground);
}

void CVantorDlg::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) DragWindowOf(this);
  QWidget::mousePressEvent(event);
}

void CVantorDlg::closeEvent(QCloseEvent* event) {
  // The window system's close ends the launcher at once; a check under way stops first, so
  // that no repair is left half-written.
  event->accept();
  if (m_workPage) m_workPage->CancelCheck();
  ExitProcess(0);
}

}  // namespace zarn
