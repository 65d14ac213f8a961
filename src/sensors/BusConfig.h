#pragma once

#include "sensors/OwServerBusSettings.h"

#include <QString>

// One bus of the house as Kalvex.ini keeps it. Bus 1 is [General] COMPort with [Bus]; buses 2
// to MaxBuses are the sections [Bus2] ... [Bus16].
struct BusConfig
{
    // "serial" (the port COMPort drives the line), "kernel" (the kernel's 1-Wire driver, its
    // devices under KernelPath), "owserver" (an OWFS server at OwServer) or "ds2480b" (the port
    // COMPort through a DS2480B line driver).
    QString Kind = QStringLiteral("serial");
    int COMPort = 1;
    QString KernelPath = QStringLiteral("/sys/bus/w1/devices");
    bool BulkConvert = false;
    OwServerBusSettings OwServer;
    // The name the user gave the bus; empty: "Шина N".
    QString Name;
    // An inactive bus is kept with its sensors but never opened, searched or read.
    bool Active = true;

    bool operator==(const BusConfig &) const = default;
};

inline constexpr int MaxBuses = 16;

// The name a bus is shown under: its own, or "Шина N" (number from 1).
inline QString busName(const BusConfig &bus, int number)
{
    const QString own = bus.Name.trimmed();
    return own.isEmpty() ? QStringLiteral("Шина ") + QString::number(number) : own;
}
