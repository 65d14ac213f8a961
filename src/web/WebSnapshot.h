#pragma once

#include "base/RequestTally.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <vector>

// What the page and the queries show, copied by the window thread after each change it makes
// and never changed afterwards: request threads read it without any lock. Texts the page
// shows are already in its code page (Windows-1251).
struct WebSnapshot
{
    struct Slot
    {
        QByteArray SN;          // the serial as UTF-8, as the slot holds it
        bool Enable = false;
        int left = 0;           // the picture's place on the panel
        int top = 0;
        QByteArray caption;     // the temperature label's caption (Windows-1251)
        QByteArray lastTime;    // LastTime as the locale's date-time text (Windows-1251)
        double lastTimeValue = 0;
        // For /metrics: the slot holds a sensor, its name (UTF-8), the last valid corrected
        // reading of this run with its time (milliseconds since the epoch), and the readings
        // that ended as "err".
        bool inUse = false;
        QByteArray name{};
        bool hasReading = false;
        double reading = 0;
        double readingTime = 0; // the same as a date-time double
        qint64 readingMs = 0;
        quint64 failures = 0;
        // For /metrics: what is known of the device (UTF-8), empty while nothing is.
        QByteArray family{};
        QByteArray power{};
        QByteArray verdict{};
        // The name of the sensor's bus, UTF-8 (metrics) and Windows-1251 (the page's tip);
        // empty while the program has one bus.
        QByteArray bus{};
        QByteArray busText{};
    };

    // Each bus while the program has more than one (for /metrics): its name (UTF-8), how its
    // last part of the cycle went and whether its port or connection is open (as portOpen).
    struct Bus
    {
        QByteArray name;
        double cycleSeconds = -1;
        int portOpen = -1;
    };
    std::vector<Bus> buses;

    // Every slot of DSItems, free ones included, in index order.
    std::vector<Slot> items;
    // Rows 0 (header) to the last row of the hourly grid, columns 0 (name) to 24 (Windows-1251).
    std::vector<std::vector<QByteArray>> hours;
    // File-name part of bkFileName: UTF-8 (what a request path holds) and Windows-1251 (the page).
    QByteArray backgroundName;
    QByteArray backgroundNameText;
    // Where the background file is read from: bkFileName itself when it names a folder, else
    // ProgramDir + bkFileName. Empty when there is no file name.
    QString backgroundPath;
    QByteArray version = QByteArrayLiteral("1.2");
    // How long the last whole monitoring cycle took; negative before the first has ended.
    double cycleSeconds = -1;
    // Whether observation holds an open port (1) or has lost it (0); -1 while observation is
    // off or there is no port.
    int portOpen = -1;
    // Failures of the reading store since the program started; -1 without a store.
    qint64 storeErrors = -1;
    // Whether the MQTT publisher is connected (1) or not (0); -1 while it is off. The
    // messages it handed to brokers since the program started.
    int mqttConnected = -1;
    quint64 mqttMessages = 0;
    // The owserver side's counters, live (the server's thread counts them); null without it.
    std::shared_ptr<const RequestTally> owserver{};
};
