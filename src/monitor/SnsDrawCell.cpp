#include "monitor/SnsDrawCell.h"

#include "base/StringGrid.h"
#include "monitor/SnsGrid.h"
#include "view/TrendPictures.h"

#include <QFontMetrics>
#include <QPainter>

namespace {

const QImage &trendImage(sns::Trend trend)
{
    static const QImage up = trendpictures::up();
    static const QImage down = trendpictures::down();
    static const QImage same = trendpictures::same();
    switch (trend) {
    case sns::Trend::Up:
        return up;
    case sns::Trend::Down:
        return down;
    default:
        return same;
    }
}

} // namespace

void SnsDrawCell(QPainter &painter, const StringGrid &grid, int col, int row, const QRect &rect)
{
    if (row < 1)
        return;
    painter.save();
    painter.setClipRect(rect);
    painter.fillRect(rect, Qt::white);
    painter.setPen(Qt::black);
    if (col == sns::ColValue) {
        const sns::Trend trend = sns::rowTrend(grid, row);
        if (trend == sns::Trend::Same)
            painter.drawImage(QPoint(rect.left() + 32, rect.top()), trendImage(trend));
        else if (trend != sns::Trend::None)
            painter.drawImage(QPoint(rect.left() + 34, rect.top() + 1), trendImage(trend));
    }
    // The text's top edge at top + 2, as a grid's TextOut places it.
    const QFontMetrics metrics(painter.font());
    painter.drawText(QPoint(rect.left() + 2, rect.top() + 2 + metrics.ascent()), grid.Cells(col, row));
    painter.restore();
}
