#pragma once

#include "history/HourTable.h"

#include <QFont>
#include <QPalette>
#include <QWidget>

namespace historylook {

// The history windows' face: the hourly table's light blue behind, 11-pixel text.
inline void apply(QWidget &window)
{
    QPalette pal = window.palette();
    pal.setColor(QPalette::Window, HourTable::windowColor());
    window.setPalette(pal);
    window.setAutoFillBackground(true);
    QFont f = window.font();
    f.setPixelSize(11);
    window.setFont(f);
}

} // namespace historylook
