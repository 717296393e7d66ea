// Push buttons, window glyphs, check boxes and progress bars.
#include <QLinearGradient>
#include <QRadialGradient>

#include "Paint.h"
#include "Pictures.h"

namespace zarn::skingen {
namespace {

const QColor kBlack(0, 0, 0);
const QColor kWhite(255, 255, 255);

QPainterPath Rounded(const QRectF& r, double radius) {
  QPainterPath path;
  path.addRoundedRect(r, radius, radius);
  return path;
}

// The colours of a button face for its state.
struct Face {
  QColor top, bottom, borderTop, borderBottom, text, glow;
};

Face PlainFace(const SkinStyle& s, State state) {
  const QColor bg = s.background, gold = s.accent;
  switch (state) {
    case State::Hover:
      return {Mix(bg, gold, 0.55),      Mix(bg, gold, 0.2),  Mix(gold, kWhite, 0.6), gold,
              Mix(s.text, kWhite, 0.6), WithAlpha(gold, 150)};
    case State::Pressed:
      return {Mix(bg, kBlack, 0.45),  Mix(bg, gold, 0.22),     Mix(gold, kBlack, 0.45),
              Mix(gold, kBlack, 0.1), Mix(s.text, gold, 0.35), Qt::transparent};
    default:
      return {
          Mix(bg, gold, 0.32), Mix(bg, kBlack, 0.15), Mix(gold, kWhite, 0.3), Mix(gold, kBlack, 0.4), s.text,
          Qt::transparent};
  }
}

Face PrimaryFace(const SkinStyle& s, State state) {
  const QColor gold = s.accent, ember = Mix(gold, Ember(gold, 0.54), 0.65);
  switch (state) {
    case State::Hover:
      return {Mix(gold, kWhite, 0.5),
              Mix(ember, gold, 0.35),
              Mix(gold, kWhite, 0.8),
              Mix(gold, kWhite, 0.2),
              kWhite,
              WithAlpha(Mix(gold, kWhite, 0.4), 200)};
    case State::Pressed:
      return {Mix(ember, kBlack, 0.35), Mix(gold, kBlack, 0.05), Mix(gold, kBlack, 0.35), gold,
              Mix(s.text, gold, 0.3),   Qt::transparent};
    default:
      return {Mix(gold, kWhite, 0.22),  ember,          Mix(gold, kWhite, 0.6), Mix(gold, kBlack, 0.45),
              Mix(s.text, kWhite, 0.5), Qt::transparent};
  }
}

// A bevelled face: gradient body, gold rim, dark inner rim, a highlight along the top edge.
void PaintFace(QPainter& p, const QRectF& r, double radius, const Face& f, State state) {
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient body(r.topLeft(), r.bottomLeft());
  body.setColorAt(0, f.top);
  body.setColorAt(0.5, Mix(f.top, f.bottom, 0.6));
  body.setColorAt(1, f.bottom);
  const QPainterPath outer = Rounded(r, radius);
  p.fillPath(outer, body);
  if (state == State::Pressed) {
    // Pushed in: a shadow falls from the top edge into the face.
    QLinearGradient inner(r.topLeft(), QPointF(r.left(), r.top() + r.height() * 0.45));
    inner.setColorAt(0, QColor(0, 0, 0, 150));
    inner.setColorAt(1, QColor(0, 0, 0, 0));
    p.fillPath(outer, inner);
  } else {
    // Gloss over the upper half.
    QLinearGradient gloss(r.topLeft(), QPointF(r.left(), r.center().y()));
    gloss.setColorAt(0, QColor(255, 255, 255, state == State::Hover ? 70 : 45));
    gloss.setColorAt(1, QColor(255, 255, 255, 0));
    p.fillPath(Rounded(r.adjusted(1.5, 1.5, -1.5, -r.height() / 2), radius - 1), gloss);
  }
  QLinearGradient rim(r.topLeft(), r.bottomLeft());
  rim.setColorAt(0, f.borderTop);
  rim.setColorAt(1, f.borderBottom);
  p.setPen(QPen(QBrush(rim), 1.2));
  p.setBrush(Qt::NoBrush);
  p.drawPath(outer);
  p.setPen(QPen(QColor(0, 0, 0, 110), 1));
  p.drawPath(Rounded(r.adjusted(1.5, 1.5, -1.5, -1.5), radius - 1.5));
}

}  // namespace

QImage DrawButton(const SkinStyle& s, QSize size, const QString& label, Look look, State state) {
  if (state == State::Disabled) return Disabled(DrawButton(s, size, label, look, State::Normal));
  QImage image = NewImage(size.width(), size.height());
  QPainter p(&image);
  const QPointF shift = state == State::Pressed ? QPointF(1, 1) : QPointF(0, 0);
  const QRectF r = QRectF(0.5, 0.5, size.width() - 1.0, size.height() - 1.0).translated(shift * 0.5);
  const Face face = look == Look::Primary ? PrimaryFace(s, state) : PlainFace(s, state);
  PaintFace(p, r.adjusted(0, 0, -shift.x() * 0.5, -shift.y() * 0.5), 5, face, state);
  // Small diamonds at both ends mark the gold buttons.
  if (look == Look::Primary) {
    p.setPen(Qt::NoPen);
    p.setBrush(WithAlpha(Mix(face.borderTop, kWhite, 0.3), 200));
    for (double x : {7.0, size.width() - 7.0}) {
      const QPointF c = QPointF(x, size.height() / 2.0) + shift;
      p.drawPolygon(
          QPolygonF({c + QPointF(0, -3), c + QPointF(2.5, 0), c + QPointF(0, 3), c + QPointF(-2.5, 0)}));
    }
  }
  const double px = std::min(14.5, (size.width() - 18.0) / std::max<qsizetype>(4, label.size()));
  const QFont font = s.CjkFont(px, look == Look::Primary ? QFont::Bold : QFont::Medium);
  const QPainterPath text =
      CenteredTextPath(label, font, QRectF(QPointF(0, 0), QSizeF(size)).translated(shift), 1);
  TextLook t;
  t.fill = face.text;
  t.shadow = look == Look::Primary ? WithAlpha(Mix(s.accent, kBlack, 0.75), 220) : QColor(0, 0, 0, 190);
  t.shadowOffset = {0, 1};
  t.glow = face.glow;
  t.glowRadius = face.glow.alpha() ? 4 : 0;
  DrawTextPath(p, text, t);
  return image;
}

QImage DrawStartButton(const SkinStyle& s, State state) {
  const QSize size(156, 56);
  if (state == State::Disabled) {
    QImage image = Disabled(DrawStartButton(s, State::Normal));
    return image;
  }
  QImage image = NewImage(size.width(), size.height());
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  const QPointF shift = state == State::Pressed ? QPointF(0, 1.5) : QPointF(0, 0);
  const QRectF r = QRectF(4, 4, 148, 47).translated(shift);
  const QColor gold = s.accent, ember = Mix(gold, Ember(gold, 0.6), 0.7);
  // Glow around the button: wider on hover.
  const int glowAlpha = state == State::Hover ? 210 : state == State::Pressed ? 60 : 120;
  DrawSoftShadow(p, Rounded(r, 9), WithAlpha(Mix(gold, Ember(gold, 1.0), 0.4), glowAlpha),
                 state == State::Hover ? 8 : 6, {0, 0});
  QLinearGradient body(r.topLeft(), r.bottomLeft());
  if (state == State::Pressed) {
    body.setColorAt(0, Mix(ember, kBlack, 0.4));
    body.setColorAt(0.6, Mix(ember, gold, 0.3));
    body.setColorAt(1, Mix(gold, kBlack, 0.1));
  } else {
    const double lift = state == State::Hover ? 0.25 : 0;
    body.setColorAt(0, Mix(Mix(gold, QColor(255, 236, 170), 0.55), kWhite, lift));
    body.setColorAt(0.45, Mix(Mix(gold, Ember(gold, 0.95), 0.35), kWhite, lift));
    body.setColorAt(0.55, Mix(Mix(ember, gold, 0.35), kWhite, lift * 0.6));
    body.setColorAt(1, Mix(ember, Ember(gold, 1.0), lift));
  }
  const QPainterPath outer = Rounded(r, 9);
  p.fillPath(outer, body);
  if (state != State::Pressed) {
    QLinearGradient gloss(r.topLeft(), QPointF(r.left(), r.top() + r.height() * 0.5));
    gloss.setColorAt(0, QColor(255, 255, 255, 120));
    gloss.setColorAt(1, QColor(255, 255, 255, 10));
    p.fillPath(Rounded(r.adjusted(3, 2, -3, -r.height() * 0.5), 7), gloss);
  } else {
    QLinearGradient inner(r.topLeft(), QPointF(r.left(), r.top() + 14));
    inner.setColorAt(0, QColor(0, 0, 0, 150));
    inner.setColorAt(1, QColor(0, 0, 0, 0));
    p.fillPath(outer, inner);
  }
  // Double rim: dark outside, bright gold inside.
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(Mix(gold, kBlack, 0.7), 2));
  p.drawPath(outer);
  p.setPen(QPen(WithAlpha(Mix(gold, kWhite, 0.7), state == State::Pressed ? 120 : 220), 1));
  p.drawPath(Rounded(r.adjusted(2.5, 2.5, -2.5, -2.5), 7));
  // Ornaments: a diamond at each end joined to the rim by a short bar.
  p.setPen(Qt::NoPen);
  p.setBrush(Mix(gold, kWhite, state == State::Hover ? 0.85 : 0.6));
  for (double side : {-1.0, 1.0}) {
    const QPointF c = QPointF(r.center().x() + side * (r.width() / 2 - 11), r.center().y());
    p.drawPolygon(QPolygonF({c + QPointF(0, -5), c + QPointF(4, 0), c + QPointF(0, 5), c + QPointF(-4, 0)}));
  }
  const QFont font = s.CjkFont(23, QFont::Bold);
  const QPainterPath text = CenteredTextPath(s.Label("start"), font, r.translated(0, -0.5), 3);
  TextLook t;
  t.fill = state == State::Pressed ? Mix(s.text, gold, 0.2) : QColor(255, 250, 236);
  t.outline = Mix(ember, kBlack, 0.55);
  t.outlineWidth = 1.6;
  t.shadow = QColor(40, 10, 0, 150);
  t.shadowOffset = {0, 1.5};
  if (state == State::Hover) {
    t.glow = QColor(255, 240, 190, 200);
    t.glowRadius = 6;
  }
  DrawTextPath(p, text, t);
  return image;
}

QImage DrawWindowGlyph(const SkinStyle& s, bool close, State state) {
  QImage image = NewImage(49, 49);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  // The close button reaches past the page's right edge; its glyph keeps to the left 45 pixels.
  const QPointF shift = state == State::Pressed ? QPointF(0.5, 1) : QPointF(0, 0);
  const QPointF c = QPointF(23, 24) + shift;
  const double radius = 15.5;
  const QColor gold = s.accent;
  const QColor hot = close ? QColor(0xb8, 0x32, 0x1e) : Mix(gold, s.background, 0.35);
  if (state == State::Hover)
    DrawSoftShadow(p,
                   [&] {
                     QPainterPath path;
                     path.addEllipse(c, radius + 1, radius + 1);
                     return path;
                   }(),
                   WithAlpha(close ? QColor(255, 90, 50) : gold, 170), 6, {0, 0});
  else
    DrawSoftShadow(p,
                   [&] {
                     QPainterPath path;
                     path.addEllipse(c, radius, radius);
                     return path;
                   }(),
                   QColor(0, 0, 0, 160), 4, {0, 1.5});
  QRadialGradient face(c - QPointF(0, radius * 0.5), radius * 1.6);
  if (state == State::Hover) {
    face.setColorAt(0, Mix(hot, kWhite, 0.3));
    face.setColorAt(1, Mix(hot, kBlack, 0.35));
  } else if (state == State::Pressed) {
    face.setColorAt(0, Mix(hot, kBlack, 0.55));
    face.setColorAt(1, Mix(s.background, kBlack, 0.5));
  } else {
    face.setColorAt(0, Mix(s.background, gold, 0.3));
    face.setColorAt(1, Mix(s.background, kBlack, 0.35));
  }
  p.setBrush(face);
  p.setPen(QPen(state == State::Hover     ? Mix(gold, kWhite, 0.55)
                : state == State::Pressed ? Mix(gold, kBlack, 0.3)
                                          : gold,
                1.6));
  p.drawEllipse(c, radius, radius);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(QColor(0, 0, 0, 120), 1));
  p.drawEllipse(c, radius - 2, radius - 2);
  const QColor ink = state == State::Hover     ? kWhite
                     : state == State::Pressed ? Mix(s.text, gold, 0.4)
                                               : s.text;
  QPainterPath glyph;
  if (close) {
    glyph.moveTo(c + QPointF(-5.5, -5.5));
    glyph.lineTo(c + QPointF(5.5, 5.5));
    glyph.moveTo(c + QPointF(5.5, -5.5));
    glyph.lineTo(c + QPointF(-5.5, 5.5));
  } else {
    glyph.moveTo(c + QPointF(-6.5, 2.5));
    glyph.lineTo(c + QPointF(6.5, 2.5));
  }
  p.setPen(QPen(QColor(0, 0, 0, 170), 3.4, Qt::SolidLine, Qt::RoundCap));
  p.drawPath(glyph.translated(0, 1));
  p.setPen(QPen(ink, 2.3, Qt::SolidLine, Qt::RoundCap));
  p.drawPath(glyph);
  return image;
}

QImage DrawCheckBox(const SkinStyle& s, QSize size, bool checked) {
  QImage image = NewImage(size.width(), size.height());
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  const double side = std::min(size.width(), size.height()) - 2.0;
  const QRectF box(std::floor((size.width() - side) / 2) + 0.5, std::floor((size.height() - side) / 2) + 0.5,
                   side - 1, side - 1);
  const double radius = side > 13 ? 3 : 2;
  QLinearGradient well(box.topLeft(), box.bottomLeft());
  well.setColorAt(0, Mix(s.background, kBlack, 0.6));
  well.setColorAt(1, Mix(s.background, s.accent, checked ? 0.3 : 0.15));
  p.setBrush(well);
  p.setPen(QPen(checked ? Mix(s.accent, kWhite, 0.35) : s.accent, 1));
  p.drawRoundedRect(box, radius, radius);
  if (checked) {
    const double u = box.width() / 12.0;
    QPainterPath tick;
    tick.moveTo(box.left() + 2.6 * u, box.top() + 6.2 * u);
    tick.lineTo(box.left() + 5.0 * u, box.top() + 8.8 * u);
    tick.lineTo(box.left() + 9.6 * u, box.top() + 2.8 * u);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0, 0, 0, 160), std::max(2.2, 2.6 * u), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(tick.translated(0, 0.8));
    p.setPen(QPen(Mix(s.accent, kWhite, 0.55), std::max(1.6, 1.9 * u), Qt::SolidLine, Qt::RoundCap,
                  Qt::RoundJoin));
    p.drawPath(tick);
  }
  return image;
}

QImage DrawCaptionedCheckBox(const SkinStyle& s, bool checked) {
  QImage image = NewImage(kWindowedBoxWidth, kWindowedBoxHeight);
  QPainter p(&image);
  p.drawImage(0, 0, DrawCheckBox(s, QSize(23, kWindowedBoxHeight), checked));
  p.setRenderHint(QPainter::Antialiasing);
  DrawLabel(p, QRectF(26, 0, kWindowedBoxWidth - 26, kWindowedBoxHeight), Qt::AlignLeft | Qt::AlignVCenter,
            s.Label("windowed"), s.CjkFont(13), Mix(s.text, s.background, 0.2));
  return image;
}

QImage DrawBar(const SkinStyle&, const QColor& color) {
  QImage image = NewImage(300, 13);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF r(0.5, 0.5, 299, 12);
  QLinearGradient body(r.topLeft(), r.bottomLeft());
  body.setColorAt(0, Mix(color, kWhite, 0.55));
  body.setColorAt(0.48, Mix(color, kWhite, 0.15));
  body.setColorAt(0.52, color);
  body.setColorAt(1, Mix(color, kBlack, 0.45));
  const QPainterPath outer = Rounded(r, 6);
  p.fillPath(outer, body);
  // Slanted light stripes across the bar.
  p.save();
  p.setClipPath(outer);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(255, 255, 255, 28));
  for (double x = -12; x < 310; x += 12)
    p.drawPolygon(QPolygonF({QPointF(x, 13), QPointF(x + 6, 13), QPointF(x + 12, 0), QPointF(x + 6, 0)}));
  p.restore();
  QLinearGradient gloss(r.topLeft(), QPointF(r.left(), r.top() + 6));
  gloss.setColorAt(0, QColor(255, 255, 255, 150));
  gloss.setColorAt(1, QColor(255, 255, 255, 20));
  p.fillPath(Rounded(QRectF(2, 1.2, 296, 5), 2.5), gloss);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(Mix(color, kBlack, 0.6), 1));
  p.drawPath(outer);
  return image;
}

QImage DrawLinkButton(const SkinStyle& s, State state) {
  QImage image = NewImage(115, 14);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  const QColor color = state == State::Hover     ? Mix(s.accent, kWhite, 0.55)
                       : state == State::Pressed ? Mix(s.accent, kBlack, 0.25)
                                                 : Mix(s.accent, kWhite, 0.2);
  const QFont font = s.CjkFont(12);
  const QPointF shift = state == State::Pressed ? QPointF(1, 1) : QPointF(0, 0);
  const QRectF box = QRectF(0, 0, 115, 13).translated(shift);
  DrawLabel(p, box, Qt::AlignLeft | Qt::AlignVCenter, s.Label("agreement"), font, color,
            QColor(0, 0, 0, 150));
  if (state != State::Normal) {
    const double width = QFontMetricsF(font).horizontalAdvance(s.Label("agreement"));
    p.setPen(QPen(color, 1));
    p.drawLine(QPointF(shift.x() + 1, 13.0), QPointF(shift.x() + std::min(114.0, width - 1), 13.0));
  }
  return image;
}

QImage DrawSmallClose(const SkinStyle& s, State state) {
  QImage image = NewImage(25, 25);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  const QPointF c = QPointF(12.5, 12.5) + (state == State::Pressed ? QPointF(0.5, 0.8) : QPointF(0, 0));
  const QColor hot(0xb8, 0x32, 0x1e);
  QRadialGradient face(c - QPointF(0, 5), 16);
  face.setColorAt(0, state == State::Hover     ? Mix(hot, kWhite, 0.3)
                     : state == State::Pressed ? Mix(hot, kBlack, 0.55)
                                               : Mix(s.background, s.accent, 0.3));
  face.setColorAt(1, state == State::Hover ? Mix(hot, kBlack, 0.3) : Mix(s.background, kBlack, 0.4));
  p.setBrush(face);
  p.setPen(QPen(state == State::Hover ? Mix(s.accent, kWhite, 0.5) : s.accent, 1.2));
  p.drawEllipse(c, 10.5, 10.5);
  QPainterPath glyph;
  glyph.moveTo(c + QPointF(-4, -4));
  glyph.lineTo(c + QPointF(4, 4));
  glyph.moveTo(c + QPointF(4, -4));
  glyph.lineTo(c + QPointF(-4, 4));
  p.setPen(QPen(state == State::Hover ? kWhite : s.text, 1.9, Qt::SolidLine, Qt::RoundCap));
  p.drawPath(glyph);
  return image;
}

}  // namespace zarn::skingen
