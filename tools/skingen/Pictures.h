// The pictures of the built-in skin, drawn at the sizes the launcher's pages are laid out for.
#pragma once

#include <QImage>
#include <vector>

#include "SkinStyle.h"

namespace zarn::skingen {

enum class State { Normal, Pressed, Hover, Disabled };

// Kinds of push buttons: the ordinary brown-and-gold one and the gold call to action.
enum class Look { Plain, Primary };

struct Picture {
  int number;      // picture number: the skin file is "ZOVIR-<number>.png"
  int resourceId;  // built-in resource id: the file res/png/<resourceId>.png
  QImage image;    // straight-alpha ARGB32
};

// The built-in resource paired with a picture number: 1 → 10001, 7…43 → n + 9995,
// 51…65 → n + 9992; 0 for numbers without a resource.
int ResourceIdOf(int number);

// Every picture of the skin, ordered by picture number.
std::vector<Picture> DrawSkin(const SkinStyle& style);
// The 64 × 64 application icon.
QImage DrawIcon(const SkinStyle& style);

// The single pictures, exposed for the preview.
QImage DrawButton(const SkinStyle& style, QSize size, const QString& label, Look look, State state);
QImage DrawStartButton(const SkinStyle& style, State state);
QImage DrawWindowGlyph(const SkinStyle& style, bool close, State state);
QImage DrawCheckBox(const SkinStyle& style, QSize size, bool checked);
// The work page's windowed-mode check box (84 x 19): the box in the left 23 pixels and its
// caption after it, so that the caption belongs to the control rather than to the frame's
// picture, which the install page shows as well. A click on the caption ticks the box.
inline constexpr int kWindowedBoxWidth = 84, kWindowedBoxHeight = 19;
QImage DrawCaptionedCheckBox(const SkinStyle& style, bool checked);
QImage DrawBar(const SkinStyle& style, const QColor& color);
QImage DrawLinkButton(const SkinStyle& style, State state);
QImage DrawSmallClose(const SkinStyle& style, State state);
QImage DrawBackground(const SkinStyle& style);
QImage DrawInstallIllustration(const SkinStyle& style);
QImage DrawRegisterPanel(const SkinStyle& style);

}  // namespace zarn::skingen
