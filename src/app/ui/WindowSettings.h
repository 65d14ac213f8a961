#pragma once

#include "sensors/BusConfig.h"
#include "sensors/MqttSettings.h"
#include "sensors/OwServerBusSettings.h"

#include <QString>

#include <vector>

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
    QString &BusName;
    std::vector<BusConfig> &MoreBuses;
    MqttSettings &MQTT;
    int &HTTPPort;
    QString &HTTPBinding;
};
