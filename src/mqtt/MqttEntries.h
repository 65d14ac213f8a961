#pragma once

#include "sensors/MqttSettings.h"

#include <QString>

// The fields of the dialog "MQTT" as texts and ticks, and the checks OK makes before
// anything is applied (a refused entry changes nothing).
namespace mqttentries {

struct Entries
{
    bool Active = false;
    QString Host;
    QString Port;
    QString User;
    QString Password;
    QString Topic;
    bool Discovery = true;
    QString DiscoveryPrefix;
    QString CAFile;
    // A CA file means TLS too.
    bool TLS = false;
    QString CertFile;
    QString KeyFile;
};

Entries entriesOf(const MqttSettings &settings);
// The message of the first entry that cannot be applied; empty when all can.
QString check(const Entries &entries);
// The settings the entries give (check() has passed).
MqttSettings settingsOf(const Entries &entries);

} // namespace mqttentries
