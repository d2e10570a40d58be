// The checkerboard that transparent pixels let through, in the texture view and in the
// entry list's thumbnails alike: 8-pixel cells, the first colour at the painter's brush
// origin. Images rather than pixmaps, so that worker threads draw it too.
#pragma once

#include <QColor>
#include <QImage>

class QPainter;
class QRect;

// Two cells each way, `first` top-left; white and light grey unless chosen otherwise.
QImage CheckerTile(QColor first = Qt::white, QColor second = QColor(192, 192, 192));

// Fills the area with the tile, tiled from the painter's brush origin.
void PaintCheckerboard(QPainter& painter, const QRect& area, const QImage& tile);
