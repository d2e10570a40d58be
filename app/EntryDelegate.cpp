#include "app/EntryDelegate.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QStyle>
#include <algorithm>

#include "app/ArchiveModel.h"

namespace {

constexpr int kPadding = 4;

// The text's colour on the row's background, the second line's a little fainter.
QColor TextColour(const QStyleOptionViewItem& option, bool faint) {
  const bool selected = option.state & QStyle::State_Selected;
  QColor colour = option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
  if (faint) colour.setAlphaF(0.65f);
  return colour;
}

}  // namespace

void EntryDelegate::setLayout(Layout layout, int box) {
  layout_ = layout;
  box_ = std::max(0, box);
}

QSize EntryDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
  const int line = option.fontMetrics.lineSpacing();
  if (layout_ == Layout::Grid) {
    const int side = std::max(box_, 4 * line);  // room for a name of a few letters
    return {side + 2 * kPadding, box_ + line + 3 * kPadding};
  }
  return {box_ + 12 * line, std::max(box_, 2 * line) + 2 * kPadding};
}

void EntryDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  QStyleOptionViewItem panel = option;
  initStyleOption(&panel, index);
  panel.text.clear();
  panel.icon = QIcon();
  panel.features &= ~QStyleOptionViewItem::HasDecoration;
  // The whole cell shows the selection, the thumbnail's box too, in the grid as in the list.
  panel.showDecorationSelected = true;
  const QWidget* widget = option.widget;
  QStyle* style = widget ? widget->style() : QApplication::style();
  style->drawPrimitive(QStyle::PE_PanelItemViewItem, &panel, painter, widget);

  const QRect cell = option.rect.adjusted(kPadding, kPadding, -kPadding, -kPadding);
  const int line = option.fontMetrics.lineSpacing();
  QRect box, text;
  if (layout_ == Layout::Grid) {
    box = QRect(cell.left() + (cell.width() - box_) / 2, cell.top(), box_, box_);
    text = QRect(cell.left(), box.bottom() + 1 + kPadding, cell.width(), line);
  } else {
    box = QRect(cell.left(), cell.top() + (cell.height() - box_) / 2, box_, box_);
    const int left = box_ > 0 ? box.right() + 1 + 2 * kPadding : cell.left();
    text = QRect(left, cell.top() + (cell.height() - 2 * line) / 2, cell.right() + 1 - left, 2 * line);
  }

  painter->save();
  const QImage thumbnail = index.data(Qt::DecorationRole).value<QImage>();
  if (!thumbnail.isNull()) {
    const QSize size = thumbnail.size().boundedTo(box.size());
    const QRect at(box.left() + (box.width() - size.width()) / 2, box.top() + (box.height() - size.height()) / 2,
                   size.width(), size.height());
    painter->drawImage(at, thumbnail);
  }
  const QString name = index.data(Qt::DisplayRole).toString();
  const QFontMetrics& metrics = option.fontMetrics;
  painter->setFont(option.font);
  painter->setPen(TextColour(option, false));
  if (layout_ == Layout::Grid) {
    painter->drawText(text, Qt::AlignHCenter | Qt::AlignTop, metrics.elidedText(name, Qt::ElideRight, text.width()));
  } else {
    const QRect first(text.left(), text.top(), text.width(), line);
    painter->drawText(first, Qt::AlignLeft | Qt::AlignVCenter, metrics.elidedText(name, Qt::ElideRight, text.width()));
    const QString details = index.data(ArchiveModel::DetailsRole).toString();
    painter->setPen(TextColour(option, true));
    painter->drawText(first.translated(0, line), Qt::AlignLeft | Qt::AlignVCenter,
                      metrics.elidedText(details, Qt::ElideRight, text.width()));
  }
  painter->restore();
}
