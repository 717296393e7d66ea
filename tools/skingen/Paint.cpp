#include "Paint.h"

#include <QFontMetricsF>
#include <algorithm>
#include <cmath>
#include <vector>

namespace zarn::skingen {

QImage NewImage(int width, int height) {
  QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  return image;
}

QColor Mix(const QColor& a, const QColor& b, double t) {
  t = std::clamp(t, 0.0, 1.0);
  auto m = [t](double x, double y) { return x + (y - x) * t; };
  return QColor::fromRgbF(float(m(a.redF(), b.redF())), float(m(a.greenF(), b.greenF())),
                          float(m(a.blueF(), b.blueF())), float(m(a.alphaF(), b.alphaF())));
}

QColor WithAlpha(QColor c, int alpha) {
  c.setAlpha(std::clamp(alpha, 0, 255));
  return c;
}

QColor Ember(const QColor& accent, double value) {
  const QColor hsv = accent.toHsv();
  const float hue = hsv.hsvHueF() < 0 ? 0.f : float(std::fmod(hsv.hsvHueF() + 1.0 - 26.0 / 360.0, 1.0));
  return QColor::fromHsvF(hue, float(std::min(1.0, hsv.hsvSaturationF() * 1.35)),
                          float(std::clamp(value, 0.0, 1.0)));
}

namespace {

// One box pass along rows (horizontal) or columns, with edge pixels repeated.
void BoxPass(QImage& image, int radius, bool horizontal) {
  const int w = image.width(), h = image.height();
  const int lines = horizontal ? h : w, length = horizontal ? w : h;
  const int window = 2 * radius + 1;
  std::vector<unsigned> buffer(size_t(length) * 4);
  for (int line = 0; line < lines; ++line) {
    auto pixel = [&](int i) -> QRgb& {
      i = std::clamp(i, 0, length - 1);
      return horizontal ? reinterpret_cast<QRgb*>(image.scanLine(line))[i]
                        : reinterpret_cast<QRgb*>(image.scanLine(i))[line];
    };
    unsigned sum[4] = {0, 0, 0, 0};
    for (int i = -radius; i <= radius; ++i) {
      const QRgb c = pixel(i);
      sum[0] += qAlpha(c), sum[1] += qRed(c), sum[2] += qGreen(c), sum[3] += qBlue(c);
    }
    for (int i = 0; i < length; ++i) {
      for (int k = 0; k < 4; ++k) buffer[size_t(i) * 4 + k] = sum[k];
      const QRgb out = pixel(i - radius), in = pixel(i + radius + 1);
      sum[0] += qAlpha(in) - qAlpha(out), sum[1] += qRed(in) - qRed(out);
      sum[2] += qGreen(in) - qGreen(out), sum[3] += qBlue(in) - qBlue(out);
    }
    for (int i = 0; i < length; ++i) {
      const unsigned* s = &buffer[size_t(i) * 4];
      pixel(i) = qRgba(int(s[1] / window), int(s[2] / window), int(s[3] / window), int(s[0] / window));
    }
  }
}

}  // namespace

void Blur(QImage& image, int radius) {
  if (radius <= 0 || image.isNull()) return;
  if (image.format() != QImage::Format_ARGB32_Premultiplied)
    image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  const int r = std::max(1, radius / 2);
  for (int pass = 0; pass < 3; ++pass) {
    BoxPass(image, r, true);
    BoxPass(image, r, false);
  }
}

void DrawSoftShadow(QPainter& p, const QPainterPath& path, const QColor& color, int radius, QPointF offset) {
  const QRectF bounds = path.boundingRect().adjusted(-2 * radius, -2 * radius, 2 * radius, 2 * radius);
  QImage layer = NewImage(int(bounds.width()) + 2, int(bounds.height()) + 2);
  {
    QPainter lp(&layer);
    lp.setRenderHint(QPainter::Antialiasing);
    lp.translate(-bounds.topLeft());
    lp.fillPath(path, color);
  }
  Blur(layer, radius);
  p.drawImage(bounds.topLeft() + offset, layer);
}

QPainterPath CenteredTextPath(const QString& text, const QFont& font, const QRectF& box,
                              double letterSpacing) {
  QPainterPath path;
  const QFontMetricsF metrics(font);
  double x = 0;
  for (const QChar ch : text) {
    path.addText(x, 0, font, QString(ch));
    x += metrics.horizontalAdvance(ch) + letterSpacing;
  }
  const QRectF ink = path.boundingRect();
  // Centre horizontally by the advance (the ink of some glyphs leans), vertically by the ink.
  const double width = x - letterSpacing;
  path.translate(box.center().x() - width / 2, box.center().y() - ink.center().y());
  return path;
}

void DrawTextPath(QPainter& p, const QPainterPath& path, const TextLook& look) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  if (look.glow.alpha() > 0 && look.glowRadius > 0) {
    QPainterPathStroker stroker;
    stroker.setWidth(look.glowRadius);
    DrawSoftShadow(p, stroker.createStroke(path).united(path), look.glow, look.glowRadius, {0, 0});
  }
  if (look.shadow.alpha() > 0) {
    QPainterPath shadow = path;
    if (look.outlineWidth > 0) {
      QPainterPathStroker stroker;
      stroker.setWidth(look.outlineWidth * 2);
      shadow = stroker.createStroke(path).united(path);
    }
    p.fillPath(shadow.translated(look.shadowOffset), look.shadow);
  }
  if (look.outlineWidth > 0 && look.outline.alpha() > 0) {
    p.setPen(QPen(look.outline, look.outlineWidth * 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(path);
  }
  p.fillPath(path, look.fill);
  p.restore();
}

void DrawLabel(QPainter& p, const QRectF& box, int flags, const QString& text, const QFont& font,
               const QColor& color, const QColor& shadow) {
  p.save();
  p.setFont(font);
  if (shadow.alpha() > 0) {
    p.setPen(shadow);
    p.drawText(box.translated(0, 1), flags, text);
  }
  p.setPen(color);
  p.drawText(box, flags, text);
  p.restore();
}

QImage Disabled(const QImage& source) {
  QImage image = source.convertToFormat(QImage::Format_ARGB32);
  for (int y = 0; y < image.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x) {
      const QRgb c = line[x];
      const int grey = qGray(c);
      // Greyed, pulled toward a dull middle and dimmed: no colour, little contrast.
      const int v = int(38 + grey * 0.55);
      line[x] = qRgba(v, v, int(v * 1.02) > 255 ? 255 : int(v * 1.02), int(qAlpha(c) * 0.85));
    }
  }
  return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

QImage Finished(const QImage& image) { return image.convertToFormat(QImage::Format_ARGB32); }

double Random::Next() {
  m_state = m_state * 6364136223846793005ULL + 1442695040888963407ULL;
  return double(m_state >> 11) / double(1ULL << 53);
}

}  // namespace zarn::skingen
