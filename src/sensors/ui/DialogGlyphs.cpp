#include "sensors/ui/DialogGlyphs.h"

#include <QFont>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace dialogglyphs {
namespace {

// Every glyph is drawn on a 32 x 32 design grid and scaled to the size asked for.
constexpr qreal Grid = 32;

void switchOff(QPainter &p)
{
    QPen pen(QColor(170, 20, 20), 3.6, Qt::SolidLine, Qt::RoundCap);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(6, 7, 20, 20), 125 * 16, -250 * 16);
    p.drawLine(QPointF(16, 4), QPointF(16, 16));
}

void bin(QPainter &p)
{
    const QColor dark(60, 60, 70);
    p.setPen(QPen(dark, 1.6));
    QLinearGradient body(QPointF(8, 0), QPointF(24, 0));
    body.setColorAt(0, QColor(200, 205, 215));
    body.setColorAt(1, QColor(140, 145, 160));
    p.setBrush(body);
    p.drawRoundedRect(QRectF(9, 10, 14, 18), 2, 2);
    p.drawRoundedRect(QRectF(6, 6.5, 20, 3.5), 1, 1);
    p.drawRect(QRectF(13, 3.5, 6, 3));
    p.setPen(QPen(dark, 1.4));
    for (qreal x : {13.0, 16.0, 19.0})
        p.drawLine(QPointF(x, 13), QPointF(x, 25));
}

void tray(QPainter &p)
{
    // A task bar strip with a small square icon that shows digits.
    p.setPen(QPen(QColor(40, 40, 60), 1.2));
    p.setBrush(QColor(90, 110, 150));
    p.drawRect(QRectF(2, 21, 28, 8));
    p.setBrush(QColor(0, 0, 255));
    p.drawRect(QRectF(10, 5, 17, 15));
    QFont font;
    font.setPixelSize(10);
    font.setBold(true);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRectF(10, 5, 17, 15), Qt::AlignCenter, QStringLiteral("21"));
    p.setPen(QPen(QColor(40, 40, 60), 1.6));
    p.drawLine(QPointF(18, 20), QPointF(18, 23));
}

void tick(QPainter &p)
{
    p.setPen(QPen(QColor(20, 140, 40), 4.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(QPolygonF({QPointF(6, 17), QPointF(13, 24), QPointF(26, 8)}));
}

void cross(QPainter &p)
{
    p.setPen(QPen(QColor(200, 30, 30), 4.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(8, 8), QPointF(24, 24));
    p.drawLine(QPointF(24, 8), QPointF(8, 24));
}

void bell(QPainter &p)
{
    QPainterPath shape;
    shape.moveTo(6, 24);
    shape.cubicTo(9, 21, 9, 18, 9, 14);
    shape.cubicTo(9, 5, 23, 5, 23, 14);
    shape.cubicTo(23, 18, 23, 21, 26, 24);
    shape.closeSubpath();
    p.setPen(QPen(QColor(120, 80, 0), 1.6));
    QLinearGradient fill(QPointF(6, 0), QPointF(26, 0));
    fill.setColorAt(0, QColor(255, 225, 90));
    fill.setColorAt(1, QColor(220, 160, 10));
    p.setBrush(fill);
    p.drawPath(shape);
    p.drawEllipse(QPointF(16, 26.5), 2.8, 2.8);
    p.drawLine(QPointF(16, 3), QPointF(16, 6));
}

void note(QPainter &p)
{
    const QColor ink(30, 60, 160);
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    p.drawEllipse(QPointF(10, 24), 4.5, 3.5);
    p.drawEllipse(QPointF(23, 21), 4.5, 3.5);
    p.setPen(QPen(ink, 2.2));
    p.drawLine(QPointF(14, 24), QPointF(14, 7));
    p.drawLine(QPointF(27, 21), QPointF(27, 4));
    p.setPen(QPen(ink, 4));
    p.drawLine(QPointF(14, 8), QPointF(27, 5));
}

void application(QPainter &p)
{
    p.setPen(QPen(QColor(40, 50, 70), 1.6));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(4, 6, 24, 20));
    p.setBrush(QColor(40, 90, 190));
    p.drawRect(QRectF(4, 6, 24, 5));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(20, 150, 40));
    p.drawPolygon(QPolygonF({QPointF(12, 14), QPointF(22, 19), QPointF(12, 24)}));
}

void folder(QPainter &p)
{
    p.setPen(QPen(QColor(130, 90, 10), 1.4));
    p.setBrush(QColor(235, 190, 80));
    p.drawPolygon(QPolygonF({QPointF(3, 8), QPointF(12, 8), QPointF(14, 11), QPointF(26, 11), QPointF(26, 26),
                             QPointF(3, 26)}));
    p.setBrush(QColor(250, 215, 110));
    p.drawPolygon(QPolygonF({QPointF(7, 15), QPointF(30, 15), QPointF(26, 26), QPointF(3, 26)}));
}

void comparison(QPainter &p, bool greater)
{
    p.setPen(QPen(QColor(20, 20, 20), 3.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    if (greater)
        p.drawPolyline(QPolygonF({QPointF(9, 5), QPointF(23, 12.5), QPointF(9, 20)}));
    else
        p.drawPolyline(QPolygonF({QPointF(23, 5), QPointF(9, 12.5), QPointF(23, 20)}));
    p.drawLine(QPointF(9, 26), QPointF(23, 26));
}

} // namespace

QPixmap glyph(Glyph kind, int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.scale(size / Grid, size / Grid);
    switch (kind) {
    case Glyph::SwitchOff:
        switchOff(p);
        break;
    case Glyph::Delete:
        bin(p);
        break;
    case Glyph::Tray:
        tray(p);
        break;
    case Glyph::Ok:
        tick(p);
        break;
    case Glyph::Cancel:
        cross(p);
        break;
    case Glyph::Control:
        bell(p);
        break;
    case Glyph::Track:
        note(p);
        break;
    case Glyph::Application:
        application(p);
        break;
    case Glyph::Browse:
        folder(p);
        break;
    case Glyph::GreaterEqual:
        comparison(p, true);
        break;
    case Glyph::LessEqual:
        comparison(p, false);
        break;
    }
    p.end();
    return QPixmap::fromImage(image);
}

} // namespace dialogglyphs
