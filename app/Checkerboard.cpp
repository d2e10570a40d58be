#include "app/Checkerboard.h"

#include <QBrush>
#include <QPainter>

namespace {

constexpr int kCell = 8;

}  // namespace

QImage CheckerTile(QColor first, QColor second) {
  QImage tile(2 * kCell, 2 * kCell, QImage::Format_RGB32);
  tile.fill(first);
  QPainter painter(&tile);
  painter.fillRect(kCell, 0, kCell, kCell, second);
  painter.fillRect(0, kCell, kCell, kCell, second);
  return tile;
}

void PaintCheckerboard(QPainter& painter, const QRect& area, const QImage& tile) {
  painter.fillRect(area, QBrush(tile));
}
