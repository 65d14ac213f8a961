#pragma once

#include "sensors/TDSItem.h"

#include <QString>

// A sensor as the editor hands it over: the arguments of AddItem without the position, every
// number already converted.
struct SensorEntry
{
    QString Name;
    QString SN;
    bool Enable = true;
    double Correct = 0;
    bool Tray = false;
    TColor CBFon = DefaultTrayBackground;
    TColor CBText = DefaultTrayText;
    TColor CBChart = 0;
    TSign Sign = CreateClearSign();

    bool operator==(const SensorEntry &) const = default;
};
