#pragma once

#include "app/ui/WindowSettings.h"
#include "sensors/KalvexConfig.h"

#include <functional>

class LiveChart;
class Log;
class OwServerCommand;
class SensorSlots;
class TForm1Ui;

// Between Kalvex.ini and the main window that holds what it says: the settings members, the
// components that keep the others (Timer1, N10, HTTP_Active, the layout sizes, the chart's
// left axis) and the sensor slots.
class ConfigBinding
{
public:
    struct Parts
    {
        WindowSettings settings;
        TForm1Ui &ui;
        LiveChart &chart;
        SensorSlots &sensorSlots;
        OwServerCommand &owServer;
        Log &log;
        // The menu bar after N10, and Sns's last column after Panel3's width.
        std::function<void()> VisibleUpPanel;
        std::function<void()> Splitter3Moved;
    };

    explicit ConfigBinding(Parts parts);

    QString iniPath() const;
    // Reads Kalvex.ini: the settings and the sensors. A missing file or key gives its default;
    // a file not read (or read in part) is logged and kept under another name by the next save.
    void LoadIni();
    // Writes Kalvex.ini in one atomic replace; false on a write error, the old file then intact.
    bool SaveIni();
    // SaveIni at shutdown, tried a few times; what still fails is said on standard error, as
    // the window says nothing any more.
    void saveAtExit();

    // LoadIni's effects on a window whose slot array is still empty, in their order: the
    // menu bar, the settings, the layout and Splitter3Moved, the fixed chart bounds, the web
    // server's port and binding, HTTP_Active, then every sensor through AddItem (item k lands
    // in slot k).
    void apply(const KalvexConfig &config);

    // What SaveIni writes: the window's current state, with the slots in use only, in slot
    // order (so renumbered from 0), each at its picture's left and top.
    KalvexConfig collect() const;

private:
    Parts m_parts;
    // Kalvex.ini exists but could not be read: the save keeps it under another name first.
    bool m_iniUnreadable = false;
};
