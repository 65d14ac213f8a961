#pragma once

#include "sensors/MqttSettings.h"
#include "sensors/OwServerBusSettings.h"

#include <QString>

// The main window's settings members, as the configuration and the settings dialog read and
// change them: references into the window, which owns them.
struct WindowSettings
{
    QString &ProgramDir;
    QString &bkFileName;
    int &COMPort;
    int &CharMaxCount;
    bool &CharMinMaxAuto;
    double &CharMinY;
    double &CharMaxY;
    bool &AutoNab;
    bool &StartMin;
    bool &WinStartRun;
    bool &BulkConvert;
    QString &BusKind;
    QString &KernelPath;
    OwServerBusSettings &OwBus;
    MqttSettings &MQTT;
    int &HTTPPort;
    QString &HTTPBinding;
};
