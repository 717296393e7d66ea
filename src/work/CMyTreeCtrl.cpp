#include "work/CMyTreeCtrl.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>

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
  // Buttons and lines are grey, as the system draws them, so that a closed zone still shows that
  // it holds servers.
  p.setColor(QPalette::WindowText, LineColor());
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

namespace {
// One-pixel dots on every other pixel, as the system tree draws its lines; the phase follows the
// view's coordinates so that the dots of neighbouring rows join up.
void DottedVertical(QPainter* painter, int x, int y0, int y1) {
  for (int y = y0 + ((y0 & 1) ^ (x & 1)); y <= y1; y += 2) painter->drawPoint(x, y);
}
void DottedHorizontal(QPainter* painter, int y, int x0, int x1) {
  for (int x = x0 + ((x0 & 1) ^ (y & 1)); x <= x1; x += 2) painter->drawPoint(x, y);
}
}  // namespace

void CMyTreeCtrl::drawBranches(QPainter* painter, const QRect& rect, const QModelIndex& index) const {
  // With lines at the root every level, the root included, owns one indentation column.
  const int step = indentation();
  painter->save();
  painter->fillRect(rect, palette().color(QPalette::Base));
  painter->setPen(LineColor());
  const int midY = rect.top() + rect.height() / 2;
  // The item's own column, the rightmost one: a line from its parent's line to the item, the
  // vertical line on to the next sibling, and the button of an item that holds others.
  int column = rect.right() - step + 1;
  const int midX = column + step / 2;
  const QModelIndex parentIndex = index.parent();
  const bool hasNext = index.row() + 1 < model()->rowCount(parentIndex);
  const bool firstAtRoot = !parentIndex.isValid() && index.row() == 0;
  DottedVertical(painter, midX, firstAtRoot ? midY : rect.top(), hasNext ? rect.bottom() : midY);
  DottedHorizontal(painter, midY, midX, column + step - 2);
  if (model()->hasChildren(index)) {
    const QRect box(midX - 4, midY - 4, 8, 8);
    painter->fillRect(box, palette().color(QPalette::Base));
    painter->drawRect(box);
    painter->drawLine(midX - 2, midY, midX + 2, midY);
    if (!isExpanded(index)) painter->drawLine(midX, midY - 2, midX, midY + 2);
  }
  // The columns of the ancestors: a vertical line goes on where an ancestor has a next sibling.
  for (QModelIndex ancestor = parentIndex; ancestor.isValid(); ancestor = ancestor.parent()) {
    column -= step;
    if (ancestor.row() + 1 < model()->rowCount(ancestor.parent()))
      DottedVertical(painter, column + step / 2, rect.top(), rect.bottom());
  }
  painter->restore();
}

}  // namespace zarn
