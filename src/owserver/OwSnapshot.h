#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

// What the owserver side of the program serves: the sensors in use with their latest reading,
// copied on the window thread after each change and never changed afterwards, so the server's
// thread reads it without a lock.
struct OwSnapshot
{
    struct Sensor
    {
        QString SN;          // 16 hex digits, family first, CRC last, as the slot holds it
        QByteArray alias;    // the sensor's name, UTF-8
        // The last reading the cycle accepted, corrected, in °C; none after a failed one.
        bool valid = false;
        double celsius = 0;
        int bus = 0;         // served under /bus.<bus>
    };

    // In slot order; one entry per serial.
    std::vector<Sensor> sensors;
    // Buses /bus.0 … /bus.<buses - 1>.
    int buses = 1;
};
