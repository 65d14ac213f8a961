#pragma once

#include "sensors/KalvexConfig.h"

class TForm1;

// Between the configuration as plain values and the main window that holds it: the settings
// members, the components that keep the others (Timer1, N10, HTTP_Active, the layout sizes,
// the chart's left axis) and the sensor slots.
class ConfigBinding
{
public:
    // LoadIni's effects on a window whose slot array is still empty, in their order: the
    // menu bar, the settings, the layout and Splitter3Moved, the fixed chart bounds, the web
    // server's port and binding, HTTP_Active, then every sensor through AddItem (item k lands
    // in slot k).
    static void apply(TForm1 &form, const KalvexConfig &config);

    // What SaveIni writes: the window's current state, with the slots in use only, in slot
    // order (so renumbered from 0), each at its picture's left and top.
    static KalvexConfig collect(const TForm1 &form);
};
