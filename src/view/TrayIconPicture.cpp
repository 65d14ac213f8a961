#include "view/TrayIconPicture.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <limits>

namespace trayicon {

const std::array<QRgb, 16> &colourTable()
{
    static const std::array<QRgb, 16> table = {
        qRgb(0, 0, 0),       qRgb(128, 0, 0),     qRgb(0, 128, 0),     qRgb(128, 128, 0),
        qRgb(0, 0, 128),     qRgb(128, 0, 128),   qRgb(0, 128, 128),   qRgb(192, 192, 192),
        qRgb(192, 220, 192), qRgb(166, 202, 240), qRgb(255, 251, 240), qRgb(160, 160, 164),
        qRgb(128, 128, 128), qRgb(255, 0, 0),     qRgb(0, 255, 0),     qRgb(255, 255, 0),
    };
    return table;
}

int nearestIndex(QRgb colour)
{
    const std::array<QRgb, 16> &table = colourTable();
    int best = 0;
    int bestDistance = std::numeric_limits<int>::max();
    for (int i = 0; i < static_cast<int>(table.size()); ++i) {
        const QRgb entry = table[static_cast<std::size_t>(i)];
        const int dr = qRed(colour) - qRed(entry);
        const int dg = qGreen(colour) - qGreen(entry);
        const int db = qBlue(colour) - qBlue(entry);
        const int distance = dr * dr + dg * dg + db * db;
        if (distance < bestDistance) {
            best = i;
            bestDistance = distance;
        }
    }
    return best;
}

QRgb IconPicture::colour(int x, int y) const
{
    return colourTable()[static_cast<std::size_t>(index(x, y))];
}

QImage IconPicture::toImage() const
{
    QImage image(Size, Size, QImage::Format_ARGB32);
    for (int y = 0; y < Size; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < Size; ++x)
            line[x] = colour(x, y) | 0xff000000u;
    }
    return image;
}

namespace {

// The widest text a sensor's icon shows, in pixels: every whole degree a sensor can read.
int widestReading(const QFont &font)
{
    const QFontMetrics metrics(font);
    int widest = 0;
    for (int degrees = -55; degrees <= 125; ++degrees)
        widest = std::max(widest, metrics.horizontalAdvance(QString::number(degrees)));
    return widest;
}

QFont fittingFont()
{
    QFont font;
    font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans"),
                      QStringLiteral("Sans Serif")});
    font.setPixelSize(11);
    font.setWeight(QFont::Normal);
    font.setStyleStrategy(QFont::NoAntialias);
    if (widestReading(font) <= SourceSize)
        return font;
    // Whatever faces the machine has: a condensed one first, then smaller sizes, so that no
    // reading loses a column.
    QFont condensed = font;
    condensed.setFamilies({QStringLiteral("Arial Narrow"), QStringLiteral("Liberation Sans Narrow"),
                           QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("Sans Serif")});
    condensed.setStretch(QFont::Condensed);
    for (int pixels = 11; pixels >= 6; --pixels) {
        for (QFont *candidate : {&condensed, &font}) {
            candidate->setPixelSize(pixels);
            if (widestReading(*candidate) <= SourceSize)
                return *candidate;
        }
    }
    return condensed;
}

} // namespace

QFont defaultFont()
{
    // The machine's faces do not change while the program runs.
    static const QFont font = fittingFont();
    return font;
}

std::optional<IconPicture> draw(const QString &text, const QFont &font, QColor background, QColor textColour)
{
    QImage surface(SourceSize, SourceSize, QImage::Format_RGB32);
    if (surface.isNull())
        return std::nullopt;
    surface.fill(background);
    {
        QPainter painter;
        if (!painter.begin(&surface))
            return std::nullopt;
        QFont drawn = font;
        // A smoothed edge would fall between table colours; the text keeps its own colour.
        drawn.setStyleStrategy(QFont::NoAntialias);
        painter.setFont(drawn);
        painter.setPen(textColour);
        const QFontMetrics metrics(drawn, &surface);
        const int w = metrics.horizontalAdvance(text);
        const int h = metrics.height();
        // C++ division truncates toward zero, as the placement asks for negative offsets too.
        const int x = (SourceSize - w) / 2;
        const int y = (SourceSize - h) / 2;
        painter.setClipRect(0, 0, SourceSize, SourceSize);
        painter.drawText(QPoint(x, y + metrics.ascent()), text);
    }

    IconPicture picture;
    for (int y = 0; y < Size; ++y) {
        const auto *source = reinterpret_cast<const QRgb *>(surface.constScanLine(y / 2));
        for (int x = 0; x < Size; ++x)
            picture.pixels[static_cast<std::size_t>(y * Size + x)] =
                static_cast<std::uint8_t>(nearestIndex(source[x / 2]));
    }
    return picture;
}

QString cutTip(const QString &tip)
{
    if (tip.size() <= MaxTipLength)
        return tip;
    int length = MaxTipLength;
    if (tip.at(length - 1).isHighSurrogate())
        --length;
    return tip.left(length);
}

} // namespace trayicon
