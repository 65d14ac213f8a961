#pragma once

#include <QPointer>
#include <QtGlobal>
#include <QString>

#include <array>
#include <cstdint>
#include <vector>

class QWidget;
class QLabel;
class QCPGraph;

// A colour as stored in the configuration: 0x00BBGGRR, red in the low byte.
using TColor = std::uint32_t;

// One alarm control of a sensor.
struct TSignArr
{
    bool Enable = false;
    bool bm = true;       // true: fires at or above Value; false: at or below
    double Value = 0;
    QString mp3path = QStringLiteral("warn");
    bool mp3Enable = false;
    QString AppPath;
    bool AppEnable = false;

    bool operator==(const TSignArr &) const = default;
};

// The four alarm controls, numbered 1 to 4 in the configuration and the editor; index 0 here
// is control 1.
using TSign = std::array<TSignArr, 4>;

// A cleared control set: every control off, mode "at or above", threshold 0, sound "warn".
inline TSign CreateClearSign()
{
    return TSign{};
}

// One sensor slot. The slot index is the sensor's identity for the whole run. The widgets
// belong to the main window; the slot only points at them, and a pointer turns null when its
// object is destroyed. Code without widgets only tests them for presence.
struct TDSItem
{
    QPointer<QWidget> ImageCtl;   // the thermometer picture; visible = slot in use
    QPointer<QLabel> TempLabel;
    QPointer<QLabel> NameLabel;   // its caption is the sensor's name
    QString SN;                   // at most 16 characters
    bool Enable = false;
    QPointer<QCPGraph> Series;
    double Correct = 0;
    std::array<double, 24> HourAvg{};  // 0.0 = no value for that hour
    bool Tray = false;
    TColor CBFon = 0;
    TColor CBText = 0;
    TColor CBChart = 0;
    double LastTemp = 0;
    TSign Sign{};
    double LastTime = 0;          // date-time double of the last valid reading
    // The bus the sensor is read on, from 1 ([Items] ItemBus<k>; 1 when the key is missing).
    int Bus = 1;
    // What the metrics export keeps of this run for the slot's serial: the last valid
    // corrected reading and its date-time (0 = none yet), and the readings that ended as
    // "err". A new serial in the slot starts them again.
    struct Tally
    {
        double reading = 0;
        double time = 0;
        quint64 failures = 0;
    } ReadingTally;
};

using TDSItems = std::vector<TDSItem>;

// The 16 standard colours, in the order that opens every colour list of the program.
inline constexpr std::array<TColor, 16> StandardColors = {
    0, 128, 32768, 32896, 8388608, 8388736, 8421376, 8421504,
    12632256, 255, 65280, 65535, 16711680, 16711935, 16776960, 16777215,
};
inline constexpr TColor DefaultTrayBackground = 16711680; // blue
inline constexpr TColor DefaultTrayText = 16777215;       // white
