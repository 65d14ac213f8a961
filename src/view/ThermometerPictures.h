#pragma once

#include <QColor>
#include <QImage>

// The thermometer pictures of the sensor panel: 17 x 50 bitmaps on a magenta ground that is
// drawn transparent, shown stretched to the picture controls' 18 x 50.
namespace thermometer {

enum class Kind {
    On,     // red: a switched-on sensor
    Off,    // grey: a switched-off sensor
    Marker, // green: the reading marker over the sensor being read
};

inline constexpr int Width = 17;
inline constexpr int Height = 50;
inline constexpr int ControlWidth = 18;
inline constexpr int ControlHeight = 50;
inline const QColor Ground = QColor(255, 0, 255);

// The bitmap as drawn, magenta ground included (RGB32).
QImage bitmap(Kind kind);
// The bitmap with its magenta ground made transparent (ARGB32 premultiplied).
QImage transparentBitmap(Kind kind);

} // namespace thermometer
