// The server tree: black, each zone and server drawn in its own colour.
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

 signals:
  // A double click anywhere on the tree, on an item or not (the page starts the game with the
  // selected server either way).
  void treeDoubleClicked();

 protected:
  void mouseDoubleClickEvent(QMouseEvent* event) override;
};

}  // namespace zarn
