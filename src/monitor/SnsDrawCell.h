#pragma once

#include <QRect>

class QPainter;
class StringGrid;

// Paints body cell (col, row) of Sns into `rect`: white ground, black text at (left + 2,
// top + 2), and in column 1 the trend against the previous value: the down arrow or the up
// arrow at (left + 34, top + 1), the equals sign at (left + 32, top). The header row is the
// view's.
void SnsDrawCell(QPainter &painter, const StringGrid &grid, int col, int row, const QRect &rect);
