#include "view/ThermometerPictures.h"

#include <QPainter>

namespace thermometer {
namespace {

struct Palette
{
    QColor fill;   // the liquid
    QColor shade;  // its dark edge
    QColor light;  // its highlight
};

Palette paletteOf(Kind kind)
{
    switch (kind) {
    case Kind::On:
        return {QColor(230, 20, 20), QColor(150, 0, 0), QColor(255, 140, 140)};
    case Kind::Off:
        return {QColor(150, 150, 150), QColor(90, 90, 90), QColor(210, 210, 210)};
    case Kind::Marker:
        return {QColor(20, 200, 40), QColor(0, 120, 20), QColor(150, 255, 160)};
    }
    return {};
}

} // namespace

QImage bitmap(Kind kind)
{
    const Palette p = paletteOf(kind);
    QImage image(Width, Height, QImage::Format_RGB32);
    image.fill(Ground);
    QPainter painter(&image);
    // No anti-aliasing: a blended edge pixel would not be the key colour and would show as a
    // pink fringe once the ground is made transparent.
    painter.setRenderHint(QPainter::Antialiasing, false);

    const QColor outline(40, 40, 40);
    const QColor glass(235, 240, 245);

    // Tube: x 5..11, y 1..39 with rounded top; bulb: a disc centred at (8, 42).
    painter.setPen(outline);
    painter.setBrush(glass);
    painter.drawRoundedRect(QRect(5, 1, 6, 40), 3, 3);
    painter.setBrush(p.fill);
    painter.drawEllipse(QRect(2, 36, 12, 12));

    // Liquid column from the bulb up to two thirds of the tube.
    painter.setPen(Qt::NoPen);
    painter.fillRect(QRect(7, 14, 3, 26), p.fill);
    painter.fillRect(QRect(7, 14, 1, 26), p.light);
    painter.fillRect(QRect(9, 14, 1, 26), p.shade);
    // Highlight on the bulb.
    painter.fillRect(QRect(5, 39, 2, 2), p.light);

    // Scale marks right of the tube.
    painter.setPen(outline);
    for (int y = 5; y <= 33; y += 4) {
        const int length = (y - 5) % 8 == 0 ? 3 : 2;
        painter.drawLine(12, y, 12 + length - 1, y);
    }
    painter.end();
    return image;
}

QImage transparentBitmap(Kind kind)
{
    QImage image = bitmap(kind).convertToFormat(QImage::Format_ARGB32);
    const QRgb key = Ground.rgb();
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if ((line[x] | 0xff000000u) == key)
                line[x] = 0;
        }
    }
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

} // namespace thermometer
