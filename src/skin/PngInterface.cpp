#include "skin/PngInterface.h"

#include <QPainter>

namespace zarn {

void PngInterface::DrawBackground(QPainter& painter, int x, int y, int cx, int cy, int xSrc, int ySrc) const {
  if (m_backgroundBitmap.isNull()) return;
  const QPainter::CompositionMode mode = painter.compositionMode();
  painter.setCompositionMode(QPainter::CompositionMode_Source);
  painter.drawImage(QRect(x, y, cx, cy), m_backgroundBitmap, QRect(xSrc, ySrc, cx, cy));
  painter.setCompositionMode(mode);
}

void PngInterface::RenderBackground(const QImage* picture) {
  const LayoutRect& r = GetPageRect();
  const int width = r.right - r.left, height = r.bottom - r.top;
  if (width <= 0 || height <= 0) {
    m_backgroundBitmap = QImage();
    return;
  }
  m_backgroundBitmap = QImage(width, height, QImage::Format_ARGB32_Premultiplied);
  m_backgroundBitmap.fill(Qt::black);
  if (picture && !picture->isNull()) {
    // The page is opaque: whatever the picture leaves transparent shows black.
    QPainter p(&m_backgroundBitmap);
    p.drawImage(-r.left, -r.top, *picture);
  }
}

}  // namespace zarn
