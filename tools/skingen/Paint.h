// Drawing helpers shared by the pictures: blur, soft shadows, glowing text, colour mixing.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QRectF>
#include <QString>

namespace zarn::skingen {

// A fully transparent picture to draw on (premultiplied while drawing).
QImage NewImage(int width, int height);
// t = 0 gives a, t = 1 gives b; alpha is mixed too.
QColor Mix(const QColor& a, const QColor& b, double t);
QColor WithAlpha(QColor c, int alpha);
// The accent's fiery companion: its hue turned toward red, more saturated, at the given value
// (0…1). Gold gives the burnt orange of the embers and the dusk sky.
QColor Ember(const QColor& accent, double value);
// Three box passes, close to a gaussian of the radius; every channel of a premultiplied picture.
void Blur(QImage& image, int radius);
// The path filled with the colour and blurred, offset, drawn under what the painter draws next.
void DrawSoftShadow(QPainter& p, const QPainterPath& path, const QColor& color, int radius, QPointF offset);
// Text whose glyphs are filled with a brush, optionally outlined, with a soft glow behind them.
struct TextLook {
  QBrush fill;
  QColor outline = Qt::transparent;
  double outlineWidth = 0;
  QColor glow = Qt::transparent;
  int glowRadius = 0;
  QColor shadow = Qt::transparent;
  QPointF shadowOffset{0, 1};
  double letterSpacing = 0;  // extra pixels between characters
};
// The text's outline path centred in the box (by its ink, not by the font's line box).
QPainterPath CenteredTextPath(const QString& text, const QFont& font, const QRectF& box,
                              double letterSpacing = 0);
void DrawTextPath(QPainter& p, const QPainterPath& path, const TextLook& look);
// Plain anti-aliased text aligned in the box; flags are Qt::Alignment values.
void DrawLabel(QPainter& p, const QRectF& box, int flags, const QString& text, const QFont& font,
               const QColor& color, const QColor& shadow = QColor(0, 0, 0, 170));
// Grey, dim version of a picture (a disabled control), alpha kept.
QImage Disabled(const QImage& source);
// Straight alpha, ready to be written as PNG with an alpha channel.
QImage Finished(const QImage& image);
// A tiny deterministic random generator, so every run draws the same picture.
class Random {
 public:
  explicit Random(unsigned seed) : m_state(seed) {}
  double Next();  // [0, 1)
  double Range(double low, double high) { return low + (high - low) * Next(); }

 private:
  unsigned long long m_state;
};

}  // namespace zarn::skingen
