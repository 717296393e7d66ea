// The large pictures: the frame background, the install illustration, the registration panel
// and the application icon.
#include <QLinearGradient>
#include <QRadialGradient>
#include <cmath>

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

// A mountain ridge from left to right: a random walk smoothed into a closed silhouette.
QPainterPath Ridge(Random& random, double left, double right, double base, double height, double roughness,
                   double bottom) {
  QPainterPath path(QPointF(left, bottom));
  double y = base - height * random.Next();
  double slope = 0;
  for (double x = left; x <= right + 8; x += 8) {
    slope = slope * 0.82 + random.Range(-roughness, roughness);
    y = std::clamp(y + slope, base - height, base);
    path.lineTo(x, y);
  }
  path.lineTo(right + 8, bottom);
  path.closeSubpath();
  return path;
}

// A keep with towers and pointed roofs, standing on the ground line at x.
QPainterPath Castle(double x, double ground, double scale) {
  QPainterPath path;
  path.setFillRule(Qt::WindingFill);
  auto tower = [&](double cx, double width, double height, double roof) {
    const double l = x + (cx - width / 2) * scale, r = x + (cx + width / 2) * scale;
    const double top = ground - height * scale;
    QPolygonF shape({QPointF(l, ground), QPointF(l, top), QPointF((l + r) / 2, top - roof * scale),
                     QPointF(r, top), QPointF(r, ground)});
    path.addPolygon(shape);
    path.closeSubpath();
  };
  tower(0, 20, 70, 34);
  tower(-26, 14, 48, 24);
  tower(26, 14, 52, 24);
  tower(-48, 11, 30, 16);
  tower(47, 10, 34, 16);
  path.addRect(QRectF(x - 52 * scale, ground - 26 * scale, 104 * scale, 26 * scale));
  // Battlements along the wall.
  for (int i = -5; i <= 4; ++i)
    path.addRect(QRectF(x + (i * 10 + 2) * scale, ground - 31 * scale, 5 * scale, 6 * scale));
  return path;
}

// Gold double frame with small corner brackets.
void OrnateFrame(QPainter& p, const QRectF& r, const QColor& gold, double radius, int strength) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(WithAlpha(kBlack, 150), 3));
  p.drawRoundedRect(r, radius, radius);
  p.setPen(QPen(WithAlpha(gold, strength), 1.2));
  p.drawRoundedRect(r, radius, radius);
  p.setPen(QPen(WithAlpha(gold, strength * 2 / 5), 1));
  p.drawRoundedRect(r.adjusted(4, 4, -4, -4), std::max(0.0, radius - 3), std::max(0.0, radius - 3));
  const double arm = 16;
  p.setPen(QPen(WithAlpha(Mix(gold, kWhite, 0.3), strength), 2, Qt::SolidLine, Qt::SquareCap));
  const QPointF corners[4] = {r.topLeft(), r.topRight(), r.bottomRight(), r.bottomLeft()};
  const QPointF dirs[4] = {{1, 1}, {-1, 1}, {-1, -1}, {1, -1}};
  for (int i = 0; i < 4; ++i) {
    const QPointF c = corners[i] + QPointF(dirs[i].x() * -1, dirs[i].y() * -1);
    p.drawLine(c, c + QPointF(dirs[i].x() * arm, 0));
    p.drawLine(c, c + QPointF(0, dirs[i].y() * arm));
    p.setPen(Qt::NoPen);
    p.setBrush(WithAlpha(Mix(gold, kWhite, 0.4), strength));
    const QPointF d = c + QPointF(dirs[i].x() * 6, dirs[i].y() * 6);
    p.drawPolygon(
        QPolygonF({d + QPointF(0, -2.5), d + QPointF(2.5, 0), d + QPointF(0, 2.5), d + QPointF(-2.5, 0)}));
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(WithAlpha(Mix(gold, kWhite, 0.3), strength), 2, Qt::SolidLine, Qt::SquareCap));
  }
  p.restore();
}

// The title's letters on one baseline, the first one a third taller like an initial, centred
// in the box.
QPainterPath TitlePath(const SkinStyle& s, double pixelSize, const QRectF& box) {
  QPainterPath path;
  double x = 0;
  for (qsizetype i = 0; i < s.title.size(); ++i) {
    const QFont font = s.TitleFont(i == 0 ? pixelSize * 1.32 : pixelSize);
    path.addText(x, 0, font, QString(s.title[i]));
    x += QFontMetricsF(font).horizontalAdvance(s.title[i]) + pixelSize * 0.03;
  }
  const QRectF ink = path.boundingRect();
  path.translate(box.center() - ink.center());
  return path;
}

// The decorative title: gold letters with a dark rim, a warm glow and a flourish beneath.
void DrawTitle(QPainter& p, const SkinStyle& s, const QRectF& box, double pixelSize, bool flourish) {
  const QColor gold = s.accent;
  QPainterPath path = TitlePath(s, pixelSize, box);
  // Shrink a long title until it fits the box.
  while (path.boundingRect().width() > box.width() && pixelSize > 12) {
    pixelSize *= 0.92;
    path = TitlePath(s, pixelSize, box);
  }
  const QRectF ink = path.boundingRect();
  QLinearGradient fill(ink.topLeft(), ink.bottomLeft());
  fill.setColorAt(0, Mix(gold, QColor(255, 248, 215), 0.8));
  fill.setColorAt(0.45, Mix(gold, QColor(255, 220, 140), 0.4));
  fill.setColorAt(0.55, gold);
  fill.setColorAt(1, Mix(gold, QColor(90, 40, 10), 0.6));
  TextLook look;
  look.fill = fill;
  look.outline = Mix(gold, kBlack, 0.85);
  look.outlineWidth = std::max(1.0, pixelSize / 38);
  look.glow = WithAlpha(Mix(gold, Ember(gold, 1.0), 0.45), 150);
  look.glowRadius = int(pixelSize / 7);
  look.shadow = QColor(0, 0, 0, 200);
  look.shadowOffset = {0, std::max(1.0, pixelSize / 30)};
  DrawTextPath(p, path, look);
  // A bright line across the upper third of the letters, like light on polished metal.
  p.save();
  p.setClipPath(path);
  QLinearGradient shine(ink.topLeft(), QPointF(ink.left(), ink.top() + ink.height() * 0.4));
  shine.setColorAt(0, QColor(255, 255, 255, 110));
  shine.setColorAt(1, QColor(255, 255, 255, 0));
  p.fillRect(QRectF(ink.left(), ink.top(), ink.width(), ink.height() * 0.4), shine);
  p.restore();
  if (!flourish) return;
  // Flourish: two tapering lines from a central diamond.
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  const double y = ink.bottom() + pixelSize * 0.16, cx = ink.center().x(),
               half = std::max(ink.width() * 0.55, 90.0);
  for (double side : {-1.0, 1.0}) {
    QLinearGradient line(QPointF(cx, y), QPointF(cx + side * half, y));
    line.setColorAt(0, WithAlpha(Mix(gold, kWhite, 0.3), 230));
    line.setColorAt(1, WithAlpha(gold, 0));
    QPainterPath taper;
    taper.moveTo(cx + side * 8, y - 1.4);
    taper.lineTo(cx + side * half, y);
    taper.lineTo(cx + side * 8, y + 1.4);
    taper.closeSubpath();
    p.fillPath(taper, line);
  }
  p.setPen(QPen(Mix(gold, kBlack, 0.6), 1));
  p.setBrush(Mix(gold, kWhite, 0.45));
  p.drawPolygon(QPolygonF({QPointF(cx, y - 6), QPointF(cx + 6, y), QPointF(cx, y + 6), QPointF(cx - 6, y)}));
  p.restore();
}

}  // namespace

QImage DrawBackground(const SkinStyle& s) {
  const int width = 1372, height = 797;
  const QColor bg = s.background, gold = s.accent;
  const SkinLayout& l = s.layout;
  QImage image = NewImage(width, height);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);

  // The window's shape: a rounded body that covers the page area with a margin, a soft
  // shadow around it whose alpha falls to nothing at the picture's rim.
  const QRectF page(l.workClient);
  const QRectF body = QRectF(22, 100, 1244, 675).united(page.adjusted(-16, -16, 16, 16));
  const QPainterPath bodyPath = Rounded(body, 18);
  DrawSoftShadow(p, bodyPath, QColor(0, 0, 0, 210), 16, {0, 4});
  DrawSoftShadow(p, bodyPath, WithAlpha(Mix(gold, Ember(gold, 1.0), 0.5), 70), 10, {0, 0});

  p.save();
  p.setClipPath(bodyPath);
  // Sky: deep warm dusk above, an ember-lit horizon, dark ground.
  const QColor skyTop = Mix(bg, Ember(gold, 0.25), 0.55);
  const QColor horizon = Mix(Mix(bg, gold, 0.5), Ember(gold, 0.7), 0.35);
  QLinearGradient sky(0, body.top(), 0, body.bottom());
  sky.setColorAt(0, Mix(skyTop, kBlack, 0.35));
  sky.setColorAt(0.48, skyTop);
  sky.setColorAt(0.66, horizon);
  sky.setColorAt(0.8, Mix(bg, kBlack, 0.2));
  sky.setColorAt(1, Mix(bg, kBlack, 0.6));
  p.fillRect(body, sky);
  // The low sun behind the mountains, left of the page.
  const QPointF sun(262, 505);
  QRadialGradient halo(sun, 420);
  halo.setColorAt(0, WithAlpha(Mix(gold, QColor(255, 200, 120), 0.5), 170));
  halo.setColorAt(0.25, WithAlpha(Mix(gold, Ember(gold, 0.9), 0.4), 90));
  halo.setColorAt(1, WithAlpha(gold, 0));
  p.fillRect(body, halo);
  p.setPen(Qt::NoPen);
  p.setBrush(WithAlpha(Mix(gold, QColor(255, 240, 200), 0.7), 230));
  p.drawEllipse(sun, 54, 54);
  // Stars, faint, in the upper sky.
  Random random(1033);
  for (int i = 0; i < 140; ++i) {
    const QPointF at(random.Range(body.left(), body.right()), random.Range(body.top(), body.top() + 260));
    const double size = random.Range(0.4, 1.5);
    p.setBrush(WithAlpha(Mix(s.text, kWhite, 0.5), int(random.Range(40, 150))));
    p.drawEllipse(at, size, size);
  }
  // Three ranges of mountains, nearer ones darker; a castle on the middle range.
  const QColor far = Mix(horizon, bg, 0.55), mid = Mix(bg, horizon, 0.22), near = Mix(bg, kBlack, 0.55);
  p.fillPath(Ridge(random, body.left(), body.right(), 560, 120, 3.2, body.bottom()), far);
  p.fillPath(Castle(300, 574, 1.15), mid);
  p.fillPath(Ridge(random, body.left(), body.right(), 640, 90, 4.2, body.bottom()), mid);
  p.fillPath(Ridge(random, body.left(), body.right(), 735, 110, 5.5, body.bottom()), near);
  // Lights in the castle windows.
  p.setBrush(WithAlpha(Mix(Ember(gold, 1.0), QColor(255, 230, 160), 0.5), 220));
  for (const QPointF w :
       {QPointF(298, 520), QPointF(300, 540), QPointF(271, 548), QPointF(330, 546), QPointF(252, 562)})
    p.drawRect(QRectF(w, QSizeF(2.4, 4)));
  // Mist drifting over the ranges.
  QImage mist = NewImage(width, height);
  {
    QPainter mp(&mist);
    mp.setRenderHint(QPainter::Antialiasing);
    mp.setPen(Qt::NoPen);
    for (int i = 0; i < 14; ++i) {
      mp.setBrush(WithAlpha(Mix(horizon, s.text, 0.3), int(random.Range(18, 40))));
      mp.drawEllipse(QPointF(random.Range(0, width), random.Range(560, 720)), random.Range(120, 300),
                     random.Range(10, 24));
    }
  }
  Blur(mist, 24);
  p.drawImage(0, 0, mist);
  // Embers rising from the valley.
  QImage embers = NewImage(width, height);
  {
    QPainter ep(&embers);
    ep.setRenderHint(QPainter::Antialiasing);
    ep.setPen(Qt::NoPen);
    for (int i = 0; i < 90; ++i) {
      const QPointF at(random.Range(body.left() + 10, 470), random.Range(300, body.bottom() - 20));
      ep.setBrush(WithAlpha(Mix(Ember(gold, 1.0), QColor(255, 230, 160), random.Range(0.1, 0.5)),
                            int(random.Range(120, 255))));
      const double r = random.Range(0.8, 2.2);
      ep.drawEllipse(at, r, r);
    }
  }
  QImage emberGlow = embers;
  Blur(emberGlow, 6);
  p.drawImage(0, 0, emberGlow);
  p.drawImage(0, 0, embers);

  // Under the page area the scene darkens softly, with no edge, frame or slot: the install page
  // shows this part of the picture with only its illustration in front, so nothing here may
  // belong to the work page's controls (they bring their own pictures and captions).
  {
    const QRectF shade = page.adjusted(20, 60, -10, -20);
    QRadialGradient wash(shade.center(), std::max(shade.width(), shade.height()) * 0.62);
    wash.setColorAt(0, WithAlpha(Mix(bg, kBlack, 0.4), 150));
    wash.setColorAt(0.6, WithAlpha(Mix(bg, kBlack, 0.4), 110));
    wash.setColorAt(1, WithAlpha(Mix(bg, kBlack, 0.4), 0));
    p.fillRect(page.adjusted(-60, -20, 0, 0), wash);
  }

  // Title over the sky at the left, above the sun.
  DrawTitle(p, s, QRectF(body.left() + 20, body.top() + 40, page.left() - body.left() - 30, 130), 104, true);
  if (!s.subtitle.isEmpty()) {
    const QFont font = s.CjkFont(19, QFont::Medium);
    const QPainterPath sub = CenteredTextPath(
        s.subtitle, font, QRectF(body.left() + 20, body.top() + 186, page.left() - body.left() - 30, 30), 4);
    TextLook look;
    look.fill = Mix(s.text, gold, 0.25);
    look.shadow = QColor(0, 0, 0, 200);
    look.shadowOffset = {0, 1.5};
    look.glow = QColor(0, 0, 0, 160);
    look.glowRadius = 6;
    DrawTextPath(p, sub, look);
  }
  // Vignette: the corners of the window sink into shadow.
  QRadialGradient vignette(body.center(), body.width() * 0.62);
  vignette.setColorAt(0.55, QColor(0, 0, 0, 0));
  vignette.setColorAt(1, QColor(0, 0, 0, 150));
  p.fillRect(body, vignette);
  p.restore();

  // The rim: a dark edge, then a gold bead just inside it.
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(QColor(0, 0, 0, 230), 2.5));
  p.drawPath(bodyPath);
  p.setPen(QPen(WithAlpha(gold, 210), 1.3));
  p.drawPath(Rounded(body.adjusted(2.5, 2.5, -2.5, -2.5), 16));
  p.setPen(QPen(WithAlpha(gold, 70), 1));
  p.drawPath(Rounded(body.adjusted(6, 6, -6, -6), 13));
  p.end();
  return image;
}

QImage DrawInstallIllustration(const SkinStyle& s) {
  const int width = 481, height = 217;
  const QColor bg = s.background, gold = s.accent;
  const SkinLayout& l = s.layout;
  QImage image = NewImage(width, height);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF card(5, 4, width - 10, height - 10);
  DrawSoftShadow(p, Rounded(card, 10), QColor(0, 0, 0, 200), 8, {0, 3});
  QLinearGradient fill(card.topLeft(), card.bottomLeft());
  fill.setColorAt(0, Mix(bg, gold, 0.16));
  fill.setColorAt(1, Mix(bg, kBlack, 0.4));
  p.fillPath(Rounded(card, 10), fill);
  // A banner across the top: a small dusk scene with the title.
  const QRectF banner(card.left() + 6, card.top() + 6, card.width() - 12, 64);
  p.save();
  p.setClipPath(Rounded(banner, 6));
  QLinearGradient sky(banner.topLeft(), banner.bottomLeft());
  sky.setColorAt(0, Mix(bg, Ember(gold, 0.29), 0.6));
  sky.setColorAt(1, Mix(Mix(bg, gold, 0.45), Ember(gold, 0.7), 0.35));
  p.fillRect(banner, sky);
  QRadialGradient halo(QPointF(banner.right() - 70, banner.bottom() - 4), 140);
  halo.setColorAt(0, WithAlpha(Mix(gold, QColor(255, 210, 140), 0.5), 190));
  halo.setColorAt(1, WithAlpha(gold, 0));
  p.fillRect(banner, halo);
  Random random(6101);
  p.fillPath(Ridge(random, banner.left(), banner.right(), banner.bottom() - 8, 26, 2.6, banner.bottom()),
             Mix(bg, kBlack, 0.35));
  p.fillPath(Castle(banner.right() - 70, banner.bottom() - 10, 0.42), Mix(bg, kBlack, 0.35));
  p.restore();
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(WithAlpha(gold, 150), 1));
  p.drawRoundedRect(banner, 6, 6);
  // Title and heading side by side in the banner, parted by a gem.
  {
    DrawTitle(p, s, QRectF(banner.left() + 12, banner.top() + 6, 176, banner.height() - 12), 40, false);
    const double x = banner.left() + 200, y = banner.center().y();
    p.setPen(QPen(Mix(gold, kBlack, 0.6), 1));
    p.setBrush(Mix(gold, kWhite, 0.45));
    p.drawPolygon(QPolygonF({QPointF(x, y - 5), QPointF(x + 5, y), QPointF(x, y + 5), QPointF(x - 5, y)}));
    const QPainterPath heading = CenteredTextPath(s.Label("install-title"), s.CjkFont(20, QFont::Bold),
                                                  QRectF(x + 12, banner.top(), 0, banner.height()), 2);
    TextLook look;
    look.fill = Mix(s.text, gold, 0.15);
    look.shadow = QColor(0, 0, 0, 200);
    look.shadowOffset = {0, 1.5};
    look.glow = QColor(0, 0, 0, 140);
    look.glowRadius = 5;
    // CenteredTextPath centres on the box; shift so the text starts at the box's left.
    DrawTextPath(p, heading.translated(heading.boundingRect().width() / 2 + 2, 0), look);
  }
  // The folder field: the page writes the install folder in white at "text_path", 20 pixels high.
  const QPointF pathAt = QPointF(l.textPath) + QPointF(l.workClient.topLeft()) - QPointF(l.imageSetup);
  const QRectF field(pathAt.x() - 10, pathAt.y() - 5, card.right() - 22 - (pathAt.x() - 10), 30);
  DrawLabel(p, QRectF(field.left() + 2, field.top() - 20, 200, 16), Qt::AlignLeft | Qt::AlignVCenter,
            s.Label("install-path"), s.CjkFont(13), Mix(s.text, gold, 0.35));
  p.fillPath(Rounded(field, 4), Mix(bg, kBlack, 0.7));
  QLinearGradient inner(field.topLeft(), field.bottomLeft());
  inner.setColorAt(0, QColor(0, 0, 0, 150));
  inner.setColorAt(1, QColor(0, 0, 0, 0));
  p.fillPath(Rounded(field, 4), inner);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(WithAlpha(gold, 140), 1));
  p.drawRoundedRect(field, 4, 4);
  // A folder glyph at the right end of the field.
  {
    const QRectF f(field.right() - 26, field.center().y() - 6, 16, 12);
    QPainterPath folder;
    folder.moveTo(f.left(), f.bottom());
    folder.lineTo(f.left(), f.top());
    folder.lineTo(f.left() + 6, f.top());
    folder.lineTo(f.left() + 8, f.top() + 2);
    folder.lineTo(f.right(), f.top() + 2);
    folder.lineTo(f.right(), f.bottom());
    folder.closeSubpath();
    p.setPen(QPen(WithAlpha(gold, 200), 1.2));
    p.setBrush(WithAlpha(gold, 60));
    p.drawPath(folder);
  }
  // Hint between the field and the buttons.
  const double buttonsTop = std::min(l.btnSetup.y(), l.btnSetupAuto.y()) - l.imageSetup.y();
  DrawLabel(p, QRectF(field.left() + 2, field.bottom() + 4, field.width(), buttonsTop - field.bottom() - 6),
            Qt::AlignLeft | Qt::AlignVCenter, s.Label("install-hint"), s.CjkFont(12), Mix(s.text, bg, 0.4));
  OrnateFrame(p, card, gold, 10, 210);
  p.end();
  return image;
}

QImage DrawRegisterPanel(const SkinStyle& s) {
  const int width = 321, height = 420;
  const QColor bg = s.background, gold = s.accent;
  const SkinLayout& l = s.layout;
  QImage image = NewImage(width, height);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  // The form window covers "RegisterClient" and shows this picture there without its alpha:
  // that part is opaque; only the panel's own margins are rounded.
  const QRectF form(l.registerClient);
  const QRectF body = QRectF(2, 0, width - 4, height).united(form);
  const QPainterPath bodyPath = Rounded(body, std::min(12.0, std::max(0.0, form.left() - body.left() - 1)));
  QLinearGradient fill(body.topLeft(), body.bottomLeft());
  fill.setColorAt(0, Mix(bg, gold, 0.12));
  fill.setColorAt(0.5, bg);
  fill.setColorAt(1, Mix(bg, kBlack, 0.35));
  p.fillPath(bodyPath, fill);
  // A warm glow behind the heading.
  const double headerBottom = std::min(60.0, l.edits[0].top() - 12.0);
  QRadialGradient glow(QPointF(width / 2.0, 10), 170);
  glow.setColorAt(0, WithAlpha(Mix(gold, Ember(gold, 0.9), 0.4), 110));
  glow.setColorAt(1, WithAlpha(gold, 0));
  p.fillRect(QRectF(body.left(), body.top(), body.width(), headerBottom), glow);
  // Engraved diamonds, faint.
  p.save();
  p.setClipPath(bodyPath);
  p.setPen(QPen(WithAlpha(gold, 9), 1));
  for (double d = -height; d < width; d += 22) {
    p.drawLine(QPointF(d, height), QPointF(d + height, 0));
    p.drawLine(QPointF(d, 0), QPointF(d + height, height));
  }
  p.restore();
  // Heading, centred, with a divider under it.
  {
    const QFont font = s.CjkFont(20, QFont::Bold);
    const QPainterPath title = CenteredTextPath(s.Label("reg-title"), font, QRectF(0, 16, width, 30), 3);
    const QRectF ink = title.boundingRect();
    QLinearGradient gfill(ink.topLeft(), ink.bottomLeft());
    gfill.setColorAt(0, Mix(gold, QColor(255, 246, 210), 0.75));
    gfill.setColorAt(1, Mix(gold, QColor(120, 50, 10), 0.3));
    TextLook look;
    look.fill = gfill;
    look.outline = Mix(gold, kBlack, 0.85);
    look.outlineWidth = 1;
    look.shadow = QColor(0, 0, 0, 200);
    look.shadowOffset = {0, 1.5};
    look.glow = WithAlpha(Ember(gold, 1.0), 90);
    look.glowRadius = 6;
    DrawTextPath(p, title, look);
    for (double side : {-1.0, 1.0}) {
      QLinearGradient line(QPointF(width / 2.0, 0), QPointF(width / 2.0 + side * 120, 0));
      line.setColorAt(0, WithAlpha(Mix(gold, kWhite, 0.3), 220));
      line.setColorAt(1, WithAlpha(gold, 0));
      p.fillRect(QRectF(side < 0 ? width / 2.0 - 120 : width / 2.0 + 6, headerBottom - 6, 114, 1.2), line);
    }
    p.setPen(Qt::NoPen);
    p.setBrush(Mix(gold, kWhite, 0.4));
    const QPointF c(width / 2.0, headerBottom - 5.4);
    p.drawPolygon(QPolygonF({c + QPointF(0, -4), c + QPointF(4, 0), c + QPointF(0, 4), c + QPointF(-4, 0)}));
  }
  // Field labels, right-aligned just left of each edit, and a recessed frame around each edit.
  static const char* const kLabelKeys[9] = {"account", "password1", "password2", "realname", "id",
                                            "ask",     "ans",       "email",     "phone"};
  const QFont labelFont = s.CjkFont(13);
  for (int i = 0; i < 9; ++i) {
    const QRectF edit(l.edits[i]);
    DrawLabel(p, QRectF(form.left(), edit.top() - 2, edit.left() - 8 - form.left(), edit.height() + 4),
              Qt::AlignRight | Qt::AlignVCenter, s.Label(QString::fromLatin1(kLabelKeys[i])), labelFont,
              Mix(s.text, gold, 0.15));
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0, 0, 0, 200), 1));
    p.drawRoundedRect(edit.adjusted(-1.5, -1.5, 1.5, 1.5), 2, 2);
    p.setPen(QPen(WithAlpha(gold, 130), 1));
    p.drawRoundedRect(edit.adjusted(-2.5, -2.5, 2.5, 2.5), 3, 3);
  }
  // The agreement sentence: its lead text sits between the check box and the link button.
  {
    const QRectF box(QPointF(l.btnRegAgreement), QSizeF(15, 12));
    const QRectF link(QPointF(l.btnRegAgreementText), QSizeF(115, 14));
    const double left = box.right() + 4, right = link.left() - 1;
    if (right - left > 20) {
      // The largest size up to 12 pixels at which the lead text fits between box and link.
      QFont font = s.CjkFont(12);
      for (double px = 12;
           px > 8 && QFontMetricsF(font).horizontalAdvance(s.Label("agreement-lead")) > right - left;
           px -= 0.5)
        font = s.CjkFont(px);
      DrawLabel(p, QRectF(left, link.top(), right - left, 13), Qt::AlignRight | Qt::AlignVCenter,
                s.Label("agreement-lead"), font, Mix(s.text, bg, 0.15));
    }
    // A divider above the agreement line.
    const double y = (l.edits[8].bottom() + box.top()) / 2.0;
    QLinearGradient line(form.left(), 0, form.right(), 0);
    line.setColorAt(0, WithAlpha(gold, 0));
    line.setColorAt(0.5, WithAlpha(gold, 130));
    line.setColorAt(1, WithAlpha(gold, 0));
    p.fillRect(QRectF(form.left() + 20, y, form.width() - 40, 1), line);
  }
  // The rim.
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(QColor(0, 0, 0, 220), 2));
  p.drawPath(bodyPath);
  p.setPen(QPen(WithAlpha(gold, 210), 1.2));
  p.drawRoundedRect(body.adjusted(3, 3, -3, -3), 9, 9);
  p.setPen(QPen(WithAlpha(gold, 70), 1));
  p.drawRoundedRect(body.adjusted(7, 7, -7, -7), 6, 6);
  p.end();
  return image;
}

QImage DrawIcon(const SkinStyle& s) {
  QImage image = NewImage(64, 64);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  const QColor gold = s.accent;
  // A shield of dark red-brown with a gold rim and the title's initial.
  QPainterPath shield;
  shield.moveTo(32, 3);
  shield.cubicTo(42, 8, 50, 9, 58, 9);
  shield.cubicTo(58, 36, 50, 52, 32, 61);
  shield.cubicTo(14, 52, 6, 36, 6, 9);
  shield.cubicTo(14, 9, 22, 8, 32, 3);
  shield.closeSubpath();
  DrawSoftShadow(p, shield, QColor(0, 0, 0, 160), 3, {0, 1});
  QLinearGradient fill(0, 3, 0, 61);
  fill.setColorAt(0, Mix(s.background, Ember(gold, 0.54), 0.7));
  fill.setColorAt(1, Mix(s.background, kBlack, 0.3));
  p.fillPath(shield, fill);
  p.setPen(QPen(Mix(gold, kBlack, 0.6), 3.2));
  p.drawPath(shield);
  p.setPen(QPen(Mix(gold, kWhite, 0.25), 1.8));
  p.drawPath(shield);
  const QString initial = s.title.isEmpty() ? QStringLiteral("K") : s.title.left(1).toUpper();
  const QPainterPath letter = CenteredTextPath(initial, s.TitleFont(36), QRectF(6, 6, 52, 50));
  QLinearGradient lfill(0, 14, 0, 50);
  lfill.setColorAt(0, Mix(gold, QColor(255, 248, 215), 0.8));
  lfill.setColorAt(0.5, gold);
  lfill.setColorAt(1, Mix(gold, QColor(90, 40, 10), 0.5));
  TextLook look;
  look.fill = lfill;
  look.outline = Mix(gold, kBlack, 0.85);
  look.outlineWidth = 1.2;
  look.shadow = QColor(0, 0, 0, 180);
  DrawTextPath(p, letter, look);
  p.end();
  return image;
}

}  // namespace zarn::skingen
