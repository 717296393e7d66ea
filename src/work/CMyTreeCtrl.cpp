#include "work/CMyTreeCtrl.h"

#include <QHeaderView>
#include <QMouseEvent>

#include "util/CodePage.h"

namespace zarn {

CMyTreeCtrl::CMyTreeCtrl(QWidget* parent) : QTreeWidget(parent) {
  setObjectName(QStringLiteral("serverTree"));
  setProperty("controlId", 1010);
  setHeaderHidden(true);
  setColumnCount(1);
  setRootIsDecorated(true);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setFrameShape(QFrame::NoFrame);
  setSelectionMode(QAbstractItemView::SingleSelection);
  // A double click opens or closes a zone, as the system tree does after the page's own
  // double-click handling.
  setExpandsOnDoubleClick(true);
  QPalette p = palette();
  p.setColor(QPalette::Base, Qt::black);
  p.setColor(QPalette::Window, Qt::black);
  p.setColor(QPalette::Text, Qt::black);
  // The expand buttons are drawn in this colour: grey, as the system draws a tree's buttons and
  // lines, so that a closed zone still shows that it holds servers.
  p.setColor(QPalette::WindowText, QColor(160, 160, 160));
  setPalette(p);
  setAutoFillBackground(true);
}

QColor CMyTreeCtrl::ColorOf(int32_t color) {
  const uint32_t c = static_cast<uint32_t>(color);
  return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
}

QTreeWidgetItem* CMyTreeCtrl::InsertItem(QTreeWidgetItem* parent, const std::string& text, int32_t color,
                                         void* record) {
  auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(this);
  item->setText(0, QString::fromStdString(AnsiToUtf8(text)));
  item->setForeground(0, ColorOf(color));
  item->setData(0, Qt::UserRole, QVariant::fromValue(reinterpret_cast<quintptr>(record)));
  return item;
}

void* CMyTreeCtrl::ItemData(const QTreeWidgetItem* item) {
  if (!item) return nullptr;
  return reinterpret_cast<void*>(item->data(0, Qt::UserRole).value<quintptr>());
}

void CMyTreeCtrl::mouseDoubleClickEvent(QMouseEvent* event) {
  QTreeWidget::mouseDoubleClickEvent(event);
  if (event->button() == Qt::LeftButton) emit treeDoubleClicked();
}

}  // namespace zarn
