#include "app/ui/Glyphs.h"

#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>
#include <functional>
#include <numbers>

namespace glyphs {
namespace {

QPixmap paint(int size, const std::function<void(QPainter &)> &draw)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    draw(p);
    p.end();
    return QPixmap::fromImage(image);
}

// A shaded round button face: light at the upper left, dark rim.
void roundFace(QPainter &p, const QColor &light, const QColor &dark)
{
    QRadialGradient face(QPointF(12, 10), 20);
    face.setColorAt(0, light);
    face.setColorAt(1, dark);
    p.setPen(QPen(dark.darker(140), 1.2));
    p.setBrush(face);
    p.drawEllipse(QRectF(2, 2, 28, 28));
    // A soft highlight makes it read as a button at this size.
    QLinearGradient shine(QPointF(0, 4), QPointF(0, 16));
    shine.setColorAt(0, QColor(255, 255, 255, 150));
    shine.setColorAt(1, QColor(255, 255, 255, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(shine);
    p.drawEllipse(QRectF(7, 4, 18, 11));
}

// The thermometer of the application icon, on a 128 x 128 design grid.
void thermometer(QPainter &p, qreal size)
{
    p.scale(size / 128.0, size / 128.0);
    const QColor outline(70, 20, 20);
    const QColor red(220, 30, 30);
    QPainterPath glass;
    glass.addRoundedRect(QRectF(50, 6, 28, 90), 14, 14);
    glass.addEllipse(QPointF(64, 100), 23, 23);
    glass = glass.simplified();
    p.setPen(QPen(outline, 5));
    p.setBrush(QColor(245, 245, 250));
    p.drawPath(glass);
    p.setPen(Qt::NoPen);
    QRadialGradient bulb(QPointF(57, 93), 24);
    bulb.setColorAt(0, QColor(255, 120, 110));
    bulb.setColorAt(1, red);
    p.setBrush(bulb);
    p.drawEllipse(QPointF(64, 100), 16, 16);
    p.setBrush(red);
    p.drawRoundedRect(QRectF(58, 34, 12, 60), 6, 6);
    p.setPen(QPen(outline, 4, Qt::SolidLine, Qt::RoundCap));
    for (int y = 22; y <= 78; y += 14)
        p.drawLine(QPointF(84, y), QPointF(98, y));
}

} // namespace

QPixmap start()
{
    return paint(32, [](QPainter &p) {
        roundFace(p, QColor(120, 220, 110), QColor(20, 120, 30));
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawPolygon(QPolygonF({QPointF(12.5, 9), QPointF(24, 16), QPointF(12.5, 23)}));
    });
}

QPixmap stop()
{
    return paint(32, [](QPainter &p) {
        roundFace(p, QColor(255, 120, 100), QColor(160, 20, 15));
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawRoundedRect(QRectF(11, 11, 10, 10), 1.5, 1.5);
    });
}

QPixmap tool(Tool kind)
{
    return paint(32, [kind](QPainter &p) {
        switch (kind) {
        case Tool::Http: {
            QRadialGradient sea(QPointF(12, 10), 22);
            sea.setColorAt(0, QColor(130, 190, 255));
            sea.setColorAt(1, QColor(20, 80, 170));
            p.setPen(QPen(QColor(10, 50, 120), 1.2));
            p.setBrush(sea);
            p.drawEllipse(QRectF(3, 3, 26, 26));
            p.setPen(QPen(QColor(235, 245, 255), 1.2));
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(QRectF(10, 3.5, 12, 25));
            p.drawLine(QPointF(16, 3.5), QPointF(16, 28.5));
            p.drawLine(QPointF(3.5, 16), QPointF(28.5, 16));
            p.drawLine(QPointF(6, 9.5), QPointF(26, 9.5));
            p.drawLine(QPointF(6, 22.5), QPointF(26, 22.5));
            break;
        }
        case Tool::History: {
            p.setPen(QPen(QColor(90, 90, 100), 1));
            p.setBrush(Qt::white);
            p.drawRect(QRectF(3.5, 4.5, 25, 23));
            p.setPen(QPen(QColor(60, 60, 60), 1.5));
            p.drawLine(QPointF(7, 8), QPointF(7, 24));
            p.drawLine(QPointF(7, 24), QPointF(26, 24));
            p.setPen(QPen(QColor(220, 40, 30), 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            p.drawPolyline(QPolygonF({QPointF(8, 19), QPointF(12, 14), QPointF(16, 17),
                                      QPointF(20, 10), QPointF(25, 13)}));
            p.setPen(QPen(QColor(30, 90, 200), 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            p.drawPolyline(QPolygonF({QPointF(8, 22), QPointF(13, 20), QPointF(17, 21),
                                      QPointF(21, 17), QPointF(25, 19)}));
            break;
        }
        case Tool::Settings: {
            QPainterPath gear;
            const QPointF c(16, 16);
            const int teeth = 8;
            for (int i = 0; i < teeth * 2; ++i) {
                const double a0 = (i - 0.5) * std::numbers::pi / teeth;
                const double a1 = (i + 0.5) * std::numbers::pi / teeth;
                const double r = (i % 2 == 0) ? 13.5 : 10.0;
                const QPointF p0 = c + QPointF(r * std::cos(a0), r * std::sin(a0));
                const QPointF p1 = c + QPointF(r * std::cos(a1), r * std::sin(a1));
                if (i == 0)
                    gear.moveTo(p0);
                else
                    gear.lineTo(p0);
                gear.lineTo(p1);
            }
            gear.closeSubpath();
            gear.addEllipse(c, 4.5, 4.5);
            QLinearGradient metal(QPointF(0, 2), QPointF(0, 30));
            metal.setColorAt(0, QColor(200, 205, 215));
            metal.setColorAt(1, QColor(100, 105, 120));
            p.setPen(QPen(QColor(60, 60, 70), 1));
            p.setBrush(metal);
            p.setBrush(metal);
            gear.setFillRule(Qt::OddEvenFill);
            p.drawPath(gear);
            break;
        }
        case Tool::AddSensor: {
            p.save();
            p.translate(1, 1);
            thermometer(p, 28);
            p.restore();
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(30, 150, 40));
            p.drawEllipse(QRectF(16, 16, 15, 15));
            p.setBrush(Qt::white);
            p.drawRect(QRectF(22.5, 19, 2, 9));
            p.drawRect(QRectF(19, 22.5, 9, 2));
            break;
        }
        case Tool::Search: {
            p.setPen(QPen(QColor(90, 60, 30), 4.5, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(19.5, 19.5), QPointF(28, 28));
            QRadialGradient lens(QPointF(10, 10), 12);
            lens.setColorAt(0, QColor(240, 250, 255));
            lens.setColorAt(1, QColor(150, 200, 235));
            p.setPen(QPen(QColor(60, 70, 90), 2.5));
            p.setBrush(lens);
            p.drawEllipse(QRectF(3, 3, 18, 18));
            break;
        }
        case Tool::About: {
            roundFace(p, QColor(120, 170, 255), QColor(20, 60, 170));
            p.setPen(Qt::NoPen);
            p.setBrush(Qt::white);
            p.drawEllipse(QRectF(14, 7, 4, 4));
            p.drawRoundedRect(QRectF(14, 13, 4, 12), 1, 1);
            break;
        }
        case Tool::Exit: {
            p.setPen(QPen(QColor(80, 50, 20), 1));
            QLinearGradient wood(QPointF(4, 0), QPointF(18, 0));
            wood.setColorAt(0, QColor(190, 130, 70));
            wood.setColorAt(1, QColor(130, 80, 35));
            p.setBrush(wood);
            p.drawRect(QRectF(4.5, 3.5, 14, 25));
            p.setBrush(QColor(240, 210, 90));
            p.drawEllipse(QRectF(14, 15, 2.5, 2.5));
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(210, 35, 30));
            p.drawPolygon(QPolygonF({QPointF(14, 13.5), QPointF(22, 13.5), QPointF(22, 9),
                                     QPointF(30, 16), QPointF(22, 23), QPointF(22, 18.5),
                                     QPointF(14, 18.5)}));
            break;
        }
        }
    });
}

QIcon applicationIcon()
{
    QIcon icon;
    for (const int size : {128, 96, 64, 48, 32})
        icon.addPixmap(paint(size, [size](QPainter &p) { thermometer(p, size); }));
    return icon;
}

QPixmap separator()
{
    QImage image(2, 30, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < 30; ++y) {
        image.setPixelColor(0, y, QColor(128, 128, 128));
        image.setPixelColor(1, y, QColor(255, 255, 255));
    }
    return QPixmap::fromImage(image);
}

} // namespace glyphs
