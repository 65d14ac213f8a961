#include "dialogs/ui/DialogPictures.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

namespace dialogpictures {

QPixmap thermometer()
{
    QPixmap pixmap(18, 50);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    // Glass tube and bulb as one outline.
    QPainterPath glass;
    glass.addRoundedRect(QRectF(5.5, 1.5, 7, 38), 3.5, 3.5);
    glass.addEllipse(QRectF(2.5, 34.5, 13, 13));
    glass = glass.simplified();
    p.fillPath(glass, Qt::white);
    p.setPen(QPen(QColor(70, 70, 70), 1));
    p.drawPath(glass);
    // The red column.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(215, 25, 25));
    p.drawRect(QRectF(7.5, 14, 3, 24));
    p.drawEllipse(QRectF(4.5, 36.5, 9, 9));
    // The scale.
    p.setPen(QPen(QColor(70, 70, 70), 1));
    for (int y = 6; y <= 32; y += 4)
        p.drawLine(QPointF(13, y + 0.5), QPointF(15, y + 0.5));
    return pixmap;
}

QPixmap ok()
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(30, 140, 50), 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(QPolygonF{QPointF(7, 17), QPointF(13, 24), QPointF(25, 8)});
    return pixmap;
}

} // namespace dialogpictures
