// Paints an entry of the list: its thumbnail (ArchiveModel's Qt::DecorationRole) centred in
// a square box, and beside it the name with the size and formats on a second line; or, in
// the grid, the box with the name below it. Without thumbnails (a box of side 0) the rows
// hold the two lines alone.
#pragma once

#include <QStyledItemDelegate>

class EntryDelegate : public QStyledItemDelegate {
  Q_OBJECT

 public:
  enum class Layout { List, Grid };

  using QStyledItemDelegate::QStyledItemDelegate;

  // The views using the delegate must be laid out again after a change.
  void setLayout(Layout layout, int box);
  Layout layout() const { return layout_; }
  int box() const { return box_; }

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

 private:
  Layout layout_ = Layout::List;
  int box_ = 64;
};
