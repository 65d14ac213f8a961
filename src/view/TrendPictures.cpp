#include "view/TrendPictures.h"

#include <QPainter>
#include <QPolygon>

namespace trendpictures {
namespace {

QImage blank()
{
    QImage image(Width, Height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

// An arrow pointing up; `down` mirrors it vertically.
QImage arrow(const QColor &color, bool pointsDown)
{
    QImage image = blank();
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QPen(color.darker(140), 1));
    painter.setBrush(color);
    QPolygon shape;
    // Head 11 wide and 6 high, shaft 5 wide.
    shape << QPoint(5, 0) << QPoint(10, 6) << QPoint(7, 6) << QPoint(7, 13) << QPoint(3, 13)
          << QPoint(3, 6) << QPoint(0, 6);
    if (pointsDown) {
        for (QPoint &point : shape)
            point.setY(Height - 1 - point.y());
    }
    painter.drawPolygon(shape);
    painter.end();
    return image;
}

} // namespace

QImage up()
{
    return arrow(QColor(0, 170, 0), false);
}

QImage down()
{
    return arrow(QColor(220, 0, 0), true);
}

QImage same()
{
    QImage image = blank();
    QPainter painter(&image);
    painter.fillRect(QRect(1, 4, 9, 2), Qt::black);
    painter.fillRect(QRect(1, 8, 9, 2), Qt::black);
    painter.end();
    return image;
}

} // namespace trendpictures
