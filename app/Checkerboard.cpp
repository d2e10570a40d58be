#include "app/Checkerboard.h"

#include <QBrush>
#include <QColor>
#include <QImage>
#include <QPainter>

namespace {

constexpr int kCell = 8;

// Two cells each way. A QImage rather than a QPixmap: pixmaps belong to the GUI thread.
const QImage& Tile() {
  static const QImage tile = [] {
    QImage image(2 * kCell, 2 * kCell, QImage::Format_RGB32);
    image.fill(Qt::white);
    const QColor lightGrey(192, 192, 192);
    QPainter painter(&image);
    painter.fillRect(kCell, 0, kCell, kCell, lightGrey);
    painter.fillRect(0, kCell, kCell, kCell, lightGrey);
    return image;
  }();
  return tile;
}

}  // namespace

void PaintCheckerboard(QPainter& painter, const QRect& area) { painter.fillRect(area, QBrush(Tile())); }
