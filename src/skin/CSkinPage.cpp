#include "skin/CSkinPage.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

namespace zarn {

void DragWindowOf(QWidget* widget) {
  QWidget* top = widget->window();
  if (QWindow* handle = top->windowHandle()) handle->startSystemMove();
}

CSkinPage::CSkinPage(QWidget* parent, const LayoutRect& rect) : QWidget(parent), pageRect(rect) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::StrongFocus);
}

CPngButton* CSkinPage::button(int controlId) const {
  const auto it = m_buttons.find(controlId);
  return it == m_buttons.end() ? nullptr : it->second;
}

CPngButton* CSkinPage::AddButton(int id, const LayoutPoint& at, const int (&pictures)[4],
                                 CPngButton::Kind kind) {
  auto* b = new CPngButton(this, id, kind);
  b->move(PagePoint(at));
  b->SetPictures(pictures);
  b->m_pPageBackground = this;
  connect(b, &QAbstractButton::clicked, this, [this, id] { OnCommand(id); });
  m_buttons[id] = b;
  return b;
}

void CSkinPage::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  DrawBackground(painter, event->rect().x(), event->rect().y(), event->rect().width(), event->rect().height(),
                 event->rect().x(), event->rect().y());
}

void CSkinPage::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) DragWindowOf(this);
  QWidget::mousePressEvent(event);
}

void CSkinPage::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      OnCommand(1);
      return;
    case Qt::Key_Escape:
      OnCommand(2);
      return;
    default:
      QWidget::keyPressEvent(event);
  }
}

QFont SongFont(int pixelSize) {
  QFont font;
  font.setFamilies(
      {QStringLiteral("SimSun"), QStringLiteral("WenQuanYi Zen Hei"), QStringLiteral("Noto Sans CJK SC")});
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(pixelSize);
  return font;
}

}  // namespace zarn
