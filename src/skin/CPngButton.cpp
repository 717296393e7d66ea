#include "skin/CPngButton.h"

#include <QPainter>
#include <cmath>

#include "skin/PngInterface.h"

namespace zarn {
namespace {

// Gamma 2/3 on every colour channel lightens the picture; alpha is kept.
QImage Lighten(const QImage& source) {
  if (source.isNull()) return source;
  QImage image = source.convertToFormat(QImage::Format_ARGB32);
  uchar table[256];
  for (int i = 0; i < 256; ++i)
    table[i] = static_cast<uchar>(std::lround(255.0 * std::pow(i / 255.0, 2.0 / 3.0)));
  for (int y = 0; y < image.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x) {
      const QRgb p = line[x];
      line[x] = qRgba(table[qRed(p)], table[qGreen(p)], table[qBlue(p)], qAlpha(p));
    }
  }
  return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

}  // namespace

CPngButton::CPngButton(QWidget* parent, int controlId, Kind kind)
    : QAbstractButton(parent), m_controlId(controlId), m_bToggle(kind == CheckBox) {
  setProperty("controlId", controlId);
  setObjectName(QStringLiteral("control%1").arg(controlId));
  setFocusPolicy(Qt::NoFocus);
  setAttribute(Qt::WA_Hover);
  // Connected first, so a check box has its new state when the page hears the click.
  connect(this, &QAbstractButton::clicked, this, [this] {
    if (m_bToggle) {
      m_nCheck = m_nCheck ? 0 : 1;
      update();
    }
  });
}

void CPngButton::SetImages(SkinImage normal, SkinImage pressed, SkinImage hover, SkinImage disabled) {
  SkinImage* all[4] = {&normal, &pressed, &hover, &disabled};
  for (int i = 0; i < 4; ++i) m_images[i] = *all[i] ? std::move(**all[i]) : QImage();
  m_lightened = Lighten(m_images[0]);
  m_nWidth = m_images[0].width();
  m_nHeight = m_images[0].height();
  setGeometry(x(), y(), m_nWidth, m_nHeight);
  update();
}

void CPngButton::SetResourceImages(int normal, int pressed, int hover, int disabled) {
  SkinImage images[4];
  const int ids[4] = {normal, pressed, hover, disabled};
  for (int i = 0; i < 4; ++i) LoadResourceBitmap(ids[i], images[i]);
  SetImages(std::move(images[0]), std::move(images[1]), std::move(images[2]), std::move(images[3]));
}

void CPngButton::SetPictures(const int (&pictureNumbers)[4]) {
  SkinImage images[4];
  LoadPictureSet(pictureNumbers, images);
  SetImages(std::move(images[0]), std::move(images[1]), std::move(images[2]), std::move(images[3]));
}

void CPngButton::SetCheck(int state) {
  m_nCheck = state;
  update();
}

int CPngButton::PictureFor(bool disabled, bool toggle, bool checked, bool held, bool hover) {
  if (disabled) return 3;
  if (checked || held) return 1;
  if (hover) return toggle ? 4 : 2;
  return 0;
}

int CPngButton::currentPicture() const {
  return PictureFor(!isEnabled(), m_bToggle, m_nCheck != 0, isDown(), m_bHover);
}

void CPngButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (m_pPageBackground) m_pPageBackground->DrawBackground(painter, 0, 0, m_nWidth, m_nHeight, x(), y());
  const int picture = currentPicture();
  if (picture == 4)
    painter.drawImage(QRect(0, 0, m_nWidth, m_nHeight), m_lightened);
  else
    painter.drawImage(0, 0, m_images[picture]);
}

void CPngButton::enterEvent(QEnterEvent* event) {
  m_bHover = true;
  update();
  QAbstractButton::enterEvent(event);
}

void CPngButton::leaveEvent(QEvent* event) {
  m_bHover = false;
  update();
  QAbstractButton::leaveEvent(event);
}

void CPngButton::mousePressEvent(QMouseEvent* event) {
  update();
  QAbstractButton::mousePressEvent(event);
}

void CPngButton::mouseReleaseEvent(QMouseEvent* event) {
  update();
  QAbstractButton::mouseReleaseEvent(event);
}

}  // namespace zarn

namespace zarn {

// A double click is a second press: the button clicks twice.
void CPngButton::mouseDoubleClickEvent(QMouseEvent* event) { mousePressEvent(event); }

}  // namespace zarn
