// What a page lends to the buttons on it: its rectangle on the picture it sits on, and its
// pre-rendered background, painted under the buttons' transparent pixels.
#pragma once

#include <QImage>

#include "skin/LayoutConfig.h"

class QPainter;

namespace zarn {

class PngInterface {
 public:
  virtual ~PngInterface() = default;
  virtual const LayoutRect& GetPageRect() const = 0;
  // Copies the cx × cy part of the background at (xSrc, ySrc) to (x, y); nothing without one.
  virtual void DrawBackground(QPainter& painter, int x, int y, int cx, int cy, int xSrc, int ySrc) const;

  const QImage& backgroundBitmap() const { return m_backgroundBitmap; }

 protected:
  // Renders the part of a picture that lies under the page: the picture drawn at
  // (−left, −top) of a page-sized bitmap.
  void RenderBackground(const QImage* picture);

  QImage m_backgroundBitmap;
};

}  // namespace zarn
