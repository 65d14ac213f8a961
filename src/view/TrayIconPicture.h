#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>

// The picture of a sensor's tray icon: the text drawn on a 16 x 16 square, doubled to 32 x 32
// and reduced to a 16-colour table, as the notification area of the original desktop shows it.
namespace trayicon {

inline constexpr int SourceSize = 16;
inline constexpr int Size = 32;
// The notification record's tip field holds 63 characters and its terminator.
inline constexpr int MaxTipLength = 63;

// The icon's colour table: the first 16 entries of the system's default 20-colour palette
// (no pure blue, magenta, cyan or white in it).
const std::array<QRgb, 16> &colourTable();

// Index of the table colour nearest to `colour` (squared distance in RGB; the lower index on
// a tie).
int nearestIndex(QRgb colour);

// A 32 x 32 picture of table indices, every pixel opaque.
struct IconPicture
{
    std::array<std::uint8_t, Size * Size> pixels{}; // rows top-down

    int index(int x, int y) const { return pixels[static_cast<std::size_t>(y * Size + x)]; }
    QRgb colour(int x, int y) const;
    // As an ARGB32 image (alpha 255 everywhere), for the notification area.
    QImage toImage() const;
};

// The font the icons are drawn with: "Arial" at 11 pixels (a metric twin where Arial is not
// installed), regular weight, no smoothing, so that text keeps its own table colour. Where
// that face would cut a reading (-55 to 125), a condensed or smaller one that fits.
QFont defaultFont();

// Draws `text` with `font` in `textColour` on a square of `background`, centred with
// truncating division (a text larger than the square starts at a negative offset and is cut
// on both sides). Nothing when the platform gives no drawing surface.
std::optional<IconPicture> draw(const QString &text, const QFont &font, QColor background, QColor textColour);

// `tip` cut to what the tip field holds, never inside a surrogate pair.
QString cutTip(const QString &tip);

} // namespace trayicon
