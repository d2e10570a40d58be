// The grey and white checkerboard that transparent pixels let through, in the texture view
// and in the entry list's thumbnails alike: 8-pixel cells, white at the painter's brush
// origin. Safe on any thread, since thumbnails are drawn on worker threads.
#pragma once

class QPainter;
class QRect;

void PaintCheckerboard(QPainter& painter, const QRect& area);
