#pragma once

#include "sensors/TDSItem.h"

#include <QColor>

// Stored colours are 0x00BBGGRR, red in the low byte.
inline QColor toQColor(TColor color)
{
    return QColor(static_cast<int>(color & 0xffu), static_cast<int>((color >> 8) & 0xffu),
                  static_cast<int>((color >> 16) & 0xffu));
}

inline TColor fromQColor(const QColor &color)
{
    return static_cast<TColor>(color.red()) | (static_cast<TColor>(color.green()) << 8)
           | (static_cast<TColor>(color.blue()) << 16);
}
