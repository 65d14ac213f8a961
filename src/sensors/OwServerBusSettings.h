#pragma once

#include <QString>

// Where an owserver bus is: the server's host and port and, optionally, one of its buses
// ("/bus.1"; empty: the whole server). Host, Port and Path of [Bus] in Kalvex.ini.
struct OwServerBusSettings
{
    QString Host = QStringLiteral("localhost");
    int Port = 4304;
    QString Path;

    bool operator==(const OwServerBusSettings &) const = default;
};
