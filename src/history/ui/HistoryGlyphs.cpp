#include "history/ui/HistoryGlyphs.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include <cmath>

namespace historyglyphs {
namespace {

QPixmap blank(int width, int height)
{
    QPixmap pixmap(width, height);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

void arrowHead(QPainter &p, QPointF tip, double dx)
{
    // dx: +1 points right, -1 points left.
    p.drawPolygon(QPolygonF{tip, tip + QPointF(-4 * dx, -3), tip + QPointF(-4 * dx, 3)});
}

} // namespace

QPixmap button(Button kind)
{
    QPixmap pixmap = blank(32, 32);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    switch (kind) {
    case Button::Refresh: {
        // A green circular arrow.
        const QColor green(30, 140, 50);
        p.setPen(QPen(green, 4, Qt::SolidLine, Qt::FlatCap));
        p.drawArc(QRectF(6, 6, 20, 20), 60 * 16, 280 * 16);
        p.setPen(Qt::NoPen);
        p.setBrush(green);
        const double a = 60 * M_PI / 180;
        const QPointF end(16 + 10 * std::cos(a), 16 - 10 * std::sin(a));
        p.drawPolygon(QPolygonF{end + QPointF(-7, -3), end + QPointF(4, -6), end + QPointF(1, 6)});
        break;
    }
    case Button::Help: {
        p.setPen(QPen(QColor(20, 60, 160), 2));
        p.setBrush(QColor(225, 235, 255));
        p.drawEllipse(QRectF(3, 3, 26, 26));
        QFont font;
        font.setPixelSize(20);
        font.setBold(true);
        p.setFont(font);
        p.drawText(QRectF(3, 3, 26, 26), Qt::AlignCenter, QStringLiteral("?"));
        break;
    }
    case Button::Delete: {
        // A red cross over a sheet of paper.
        p.setPen(QPen(QColor(90, 90, 90), 1.5));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(7, 3, 18, 24));
        p.setPen(QPen(QColor(150, 150, 150), 1));
        for (int y = 8; y <= 22; y += 4)
            p.drawLine(QPointF(10, y), QPointF(22, y));
        p.setPen(QPen(QColor(210, 30, 30), 4, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(14, 14), QPointF(27, 27));
        p.drawLine(QPointF(27, 14), QPointF(14, 27));
        break;
    }
    case Button::Ok: {
        p.setPen(QPen(QColor(30, 140, 50), 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPolyline(QPolygonF{QPointF(7, 17), QPointF(13, 24), QPointF(25, 8)});
        break;
    }
    }
    return pixmap;
}

QPixmap tick()
{
    QPixmap pixmap = blank(16, 16);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 2.2, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
    p.drawPolyline(QPolygonF{QPointF(3, 8), QPointF(6.5, 11.5), QPointF(13, 4)});
    return pixmap;
}

QPixmap mouse(MouseButton marked)
{
    QPixmap pixmap = blank(25, 33);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF body(2.5, 4.5, 20, 27);
    QPainterPath outline;
    outline.addRoundedRect(body, 9, 9);
    p.fillPath(outline, QColor(245, 245, 245));
    // The marked button: the upper left or right quarter of the body.
    QPainterPath half;
    const double midX = body.center().x();
    const double buttonBottom = body.top() + 11;
    half.addRect(marked == MouseButton::Left ? QRectF(body.left(), body.top(), midX - body.left(), 11)
                                             : QRectF(midX, body.top(), body.right() - midX, 11));
    p.fillPath(outline.intersected(half), QColor(220, 40, 40));
    p.setPen(QPen(QColor(60, 60, 60), 1));
    p.drawPath(outline);
    p.drawLine(QPointF(body.left(), buttonBottom), QPointF(body.right(), buttonBottom));
    p.drawLine(QPointF(midX, body.top()), QPointF(midX, buttonBottom));
    // The cable.
    p.drawLine(QPointF(midX, 0), QPointF(midX, body.top()));
    return pixmap;
}

QPixmap gesture(Gesture kind)
{
    QPixmap pixmap = blank(21, 25);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QPen solid(Qt::black, 1.5);
    p.setBrush(Qt::black);
    if (kind == Gesture::Pan) {
        p.setPen(solid);
        p.drawLine(QPointF(3, 12.5), QPointF(18, 12.5));
        p.setPen(Qt::NoPen);
        arrowHead(p, QPointF(20, 12.5), 1);
        arrowHead(p, QPointF(1, 12.5), -1);
        return pixmap;
    }
    const QRectF box(2.5, 5.5, 15, 14);
    p.setPen(QPen(Qt::black, 1, Qt::DashLine));
    p.setBrush(Qt::NoBrush);
    // The dashed sides; the arrow edge is drawn solid over its side.
    p.drawLine(box.topLeft(), box.bottomLeft());
    p.drawLine(box.topRight(), box.bottomRight());
    const bool zoom = kind == Gesture::ZoomIn;
    p.drawLine(zoom ? box.topLeft() : box.bottomLeft(), zoom ? box.topRight() : box.bottomRight());
    const double y = zoom ? box.bottom() : box.top();
    p.setPen(solid);
    p.drawLine(QPointF(box.left() + (zoom ? 0 : 3), y), QPointF(box.right() - (zoom ? 3 : 0), y));
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    arrowHead(p, QPointF(zoom ? box.right() + 2 : box.left() - 2, y), zoom ? 1 : -1);
    return pixmap;
}

} // namespace historyglyphs
