// The server tree: black, each zone and server drawn in its own colour, with the system tree's
// dotted connecting lines and boxed plus and minus buttons.
#pragma once

#include <QTreeWidget>

namespace zarn {

class CMyTreeCtrl : public QTreeWidget {
  Q_OBJECT
 public:
  explicit CMyTreeCtrl(QWidget* parent);

  // Appends an item (under parent, or at the root) with its text (ANSI), its colour as
  // 0x00BBGGRR and the record it stands for.
  QTreeWidgetItem* InsertItem(QTreeWidgetItem* parent, const std::string& text, int32_t color, void* record);
  static void* ItemData(const QTreeWidgetItem* item);
  // The colour of an 0x00BBGGRR value.
  static QColor ColorOf(int32_t color);
  // The colour of the connecting lines and buttons: light enough to read on the black ground.
  static QColor LineColor() { return QColor(150, 150, 150); }

 signals:
  // A double click anywhere on the tree, on an item or not (the page starts the game with the
  // selected server either way).
  void treeDoubleClicked();

 protected:
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void drawBranches(QPainter* painter, const QRect& rect, const QModelIndex& index) const override;
};

}  // namespace zarn
