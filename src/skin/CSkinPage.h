// Common ground of the skinned pages: the page rectangle, the pre-rendered background, the
// four-picture buttons placed from the layout, dragging the main window, Enter and Escape.
#pragma once

#include <QFont>
#include <QWidget>
#include <map>

#include "skin/CPngButton.h"
#include "skin/LayoutConfig.h"
#include "skin/PngInterface.h"

namespace zarn {

class CSkinPage : public QWidget, public PngInterface {
  Q_OBJECT
 public:
  CSkinPage(QWidget* parent, const LayoutRect& rect);

  const LayoutRect& GetPageRect() const override { return pageRect; }
  // The button with that control id, or null.
  CPngButton* button(int controlId) const;

  // Runs a command as its button or key would.
  virtual void OnCommand(int id) = 0;

 protected:
  // Creates a button with the given id and pictures at a layout point of the picture the page
  // sits on; its clicks run OnCommand(id).
  CPngButton* AddButton(int id, const LayoutPoint& at, const int (&pictures)[4],
                        CPngButton::Kind kind = CPngButton::PushButton);
  // The page's position for a layout point.
  QPoint PagePoint(const LayoutPoint& at) const { return {at.x - pageRect.left, at.y - pageRect.top}; }
  QSize PageSize() const { return {pageRect.right - pageRect.left, pageRect.bottom - pageRect.top}; }

  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent*) override;
  void keyPressEvent(QKeyEvent*) override;

  LayoutRect pageRect;
  std::map<int, CPngButton*> m_buttons;
};

// Starts a system move of the window that holds a widget (the frame or the panel).
void DragWindowOf(QWidget* widget);

// The pages' "宋体" at a size in pixels, or this system's CJK sans-serif fonts when it is
// missing.
QFont SongFont(int pixelSize);

}  // namespace zarn
