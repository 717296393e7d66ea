#include "register/CDialogRegisterPop.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>

#include "platform/Prompt.h"
#include "skin/ScreenPlace.h"

namespace zarn {

CDialogRegisterPop::CDialogRegisterPop(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), m_dlgRegister(this) {
  setObjectName(QStringLiteral("registerPanel"));
  setModal(true);
  resize(kTemplateWidth, kTemplateHeight);
  OnInitDialog();
}

void CDialogRegisterPop::OnInitDialog() {
  m_dlgRegister.OnInitDialog();
  m_dlgRegister.m_pOwnerPanel = this;

  m_pImage = LoadSkinImage("ZOVIR-59.png");
  if (!m_pImage) LoadResourceImage(10051, m_pImage);
  // The picture's own alpha gives the panel its shape.
  if (m_pImage) setAttribute(Qt::WA_TranslucentBackground);
  // The panel holds the picture and the form together: a picture that did not decode (0 x 0)
  // must not leave an invisible modal panel over the launcher.
  const LayoutRect& r = m_dlgRegister.GetPageRect();
  const QSize picture = m_pImage ? m_pImage->size() : QSize(kTemplateWidth, kTemplateHeight);
  const QRect box = WindowAroundPage(picture, QRect(r.left, r.top, r.right - r.left, r.bottom - r.top));
  m_pictureOrigin = -box.topLeft();
  setFixedSize(box.size());
  CenterOnMainWindow();

  // The form is a child lying over the picture at its offset, so it moves with the panel.
  m_dlgRegister.move(m_pictureOrigin + QPoint(r.left, r.top));
  m_dlgRegister.show();
  m_dlgRegister.edit(RegisterField::Account)->setFocus();
}

void CDialogRegisterPop::CenterOnMainWindow() {
  QRect area;
  if (QWidget* owner = parentWidget())
    area = owner->window()->frameGeometry();
  else if (QScreen* screen = QGuiApplication::primaryScreen())
    area = screen->availableGeometry();
  if (area.isEmpty()) return;
  move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
}

int CDialogRegisterPop::Exec() { return exec(); }

void CDialogRegisterPop::reject() { done(IDCANCEL); }

void CDialogRegisterPop::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setCompositionMode(QPainter::CompositionMode_Source);
  if (m_pImage && !m_pImage->isNull())
    painter.drawImage(m_pictureOrigin, *m_pImage);
  else
    painter.fillRect(rect(), Qt::black);
}

void CDialogRegisterPop::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) DragWindowOf(this);
  QDialog::mousePressEvent(event);
}

void CDialogRegisterPop::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    done(IDCANCEL);
    return;
  }
  // Enter on the panel itself has no default button to press.
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) return;
  QDialog::keyPressEvent(event);
}

}  // namespace zarn
