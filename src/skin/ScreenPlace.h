// Where the launcher's windows go on the player's screen.
#pragma once

#include <QRect>
#include <QSize>

namespace zarn {

// The primary screen's size in device pixels: the resolutions the game can take. Under Qt's
// scaling (QT_SCALE_FACTOR, a scaled desktop) QScreen::size() is in scaled pixels and would
// hide resolutions the screen has. 800 × 600 without a screen. The toolkit keeps the scaled
// size in whole pixels, so at a fractional factor the result can be a pixel over the screen's.
QSize PrimaryScreenPixelSize();

// The top-left corner of a window of that size centred in the screen's available area (without
// the desktop's panels), moved so that its top-left corner stays inside that area when the
// window is larger: the title and the close button remain reachable on a small screen.
QPoint CentredInArea(const QSize& window, const QRect& available);

// The rectangle, in the picture's coordinates, of a window that shows a picture with a page laid
// over it at the page's offset: the picture and the page together. A broken (0 × 0) picture, or
// a page reaching past the picture's edge, then neither hides nor clips the page, which is a child
// of that window.
QRect WindowAroundPage(const QSize& picture, const QRect& page);

}  // namespace zarn
