#pragma once

#include "sensors/TDSItem.h"

#include <QList>
#include <QString>

struct NamedColor
{
    QString name;
    TColor color;
};

// The entries of the program's colour lists, in their order: the 16 standard colours, the
// four extra colours (money green, sky blue, cream, medium grey), then the system's named
// colours (isSystemColor), which take their colour from the palette when they are painted.
QList<NamedColor> colorListEntries();

// The extra colours as stored.
inline constexpr TColor MoneyGreen = 0xC0DCC0;
inline constexpr TColor SkyBlue = 0xF0CAA6;
inline constexpr TColor Cream = 0xF0FBFF;
inline constexpr TColor MedGray = 0xA4A0A0;
