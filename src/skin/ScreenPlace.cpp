#include "skin/ScreenPlace.h"

#include <QGuiApplication>
#include <QScreen>
#include <algorithm>

namespace zarn {

QSize PrimaryScreenPixelSize() {
  QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return {800, 600};
  const qreal ratio = screen->devicePixelRatio();
  return {qRound(screen->size().width() * ratio), qRound(screen->size().height() * ratio)};
}

QPoint CentredInArea(const QSize& window, const QRect& available) {
  const int x = available.x() + (available.width() - window.width()) / 2;
  const int y = available.y() + (available.height() - window.height()) / 2;
  return {std::max(x, available.x()), std::max(y, available.y())};
}

QRect WindowAroundPage(const QSize& picture, const QRect& page) {
  return QRect(QPoint(0, 0), picture).united(page);
}

}  // namespace zarn
