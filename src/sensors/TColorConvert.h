#pragma once

#include "sensors/TDSItem.h"

#include <QColor>
#include <QGuiApplication>
#include <QPalette>

#include <array>

// Stored colours are 0x00BBGGRR, red in the low byte. A value with the high byte 0xFF (negative
// as the configuration stores it) names a colour of the system by its index in the low byte:
// it follows the desktop's palette instead of holding a colour of its own.
inline constexpr TColor SystemColorFlag = 0xFF000000u;

inline constexpr bool isSystemColor(TColor color)
{
    return (color & 0xFF000000u) == SystemColorFlag;
}

inline constexpr TColor systemColor(int index)
{
    return SystemColorFlag | static_cast<TColor>(index);
}

// The palette role that stands for each system colour index (0 = scroll bar ... 30 = menu
// bar); an index the system does not name has none.
struct SystemColorRole
{
    bool named = false;
    QPalette::ColorGroup group = QPalette::Active;
    QPalette::ColorRole role = QPalette::Window;
};

inline constexpr std::array<SystemColorRole, 31> SystemColorRoles = {{
    {true, QPalette::Active, QPalette::Button},          // 0 scroll bar
    {true, QPalette::Active, QPalette::Dark},            // 1 desktop
    {true, QPalette::Active, QPalette::Highlight},       // 2 active caption
    {true, QPalette::Inactive, QPalette::Mid},           // 3 inactive caption
    {true, QPalette::Active, QPalette::Window},          // 4 menu
    {true, QPalette::Active, QPalette::Base},            // 5 window
    {true, QPalette::Active, QPalette::Shadow},          // 6 window frame
    {true, QPalette::Active, QPalette::WindowText},      // 7 menu text
    {true, QPalette::Active, QPalette::Text},            // 8 window text
    {true, QPalette::Active, QPalette::HighlightedText}, // 9 caption text
    {true, QPalette::Active, QPalette::Window},          // 10 active border
    {true, QPalette::Inactive, QPalette::Window},        // 11 inactive border
    {true, QPalette::Active, QPalette::Mid},             // 12 application work space
    {true, QPalette::Active, QPalette::Highlight},       // 13 highlight
    {true, QPalette::Active, QPalette::HighlightedText}, // 14 highlighted text
    {true, QPalette::Active, QPalette::Button},          // 15 button face
    {true, QPalette::Active, QPalette::Dark},            // 16 button shadow
    {true, QPalette::Disabled, QPalette::Text},          // 17 grey text
    {true, QPalette::Active, QPalette::ButtonText},      // 18 button text
    {true, QPalette::Inactive, QPalette::WindowText},    // 19 inactive caption text
    {true, QPalette::Active, QPalette::Light},           // 20 button highlight
    {true, QPalette::Active, QPalette::Shadow},          // 21 3-D dark shadow
    {true, QPalette::Active, QPalette::Midlight},        // 22 3-D light
    {true, QPalette::Active, QPalette::ToolTipText},     // 23 hint text
    {true, QPalette::Active, QPalette::ToolTipBase},     // 24 hint background
    {false, QPalette::Active, QPalette::Window},         // 25 not a system colour
    {true, QPalette::Active, QPalette::Link},            // 26 hot light
    {true, QPalette::Active, QPalette::Highlight},       // 27 gradient of the active caption
    {true, QPalette::Inactive, QPalette::Window},        // 28 gradient of the inactive caption
    {true, QPalette::Active, QPalette::Highlight},       // 29 menu highlight
    {true, QPalette::Active, QPalette::Window},          // 30 menu bar
}};

// The colour to paint `color` with: a system colour as `palette` has it now (black for an
// index the system does not name), any other as it is stored.
inline QColor toQColor(TColor color, const QPalette &palette)
{
    if (isSystemColor(color)) {
        const TColor index = color & 0xFFu;
        if (index >= SystemColorRoles.size() || !SystemColorRoles[index].named)
            return QColor(Qt::black);
        const SystemColorRole &r = SystemColorRoles[index];
        return palette.color(r.group, r.role);
    }
    return QColor(static_cast<int>(color & 0xffu), static_cast<int>((color >> 8) & 0xffu),
                  static_cast<int>((color >> 16) & 0xffu));
}

// The same with the application's palette.
inline QColor toQColor(TColor color)
{
    return toQColor(color, QGuiApplication::palette());
}

inline TColor fromQColor(const QColor &color)
{
    return static_cast<TColor>(color.red()) | (static_cast<TColor>(color.green()) << 8)
           | (static_cast<TColor>(color.blue()) << 16);
}
