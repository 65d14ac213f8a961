#pragma once

#include "app/ui/WindowSettings.h"

#include <QObject>
#include <QTimer>

#include <functional>

class HttpServer;
class MonitorCycle;
class MqttPublisher;
class OwServer;
class ReadingStore;
class SensorSlots;
class SensorVerdicts;
class StringGrid;
class TForm1Ui;

// Hands the web server (and the MQTT publisher and the reading feed) a copy of what the
// window shows: the sensor slots, their pictures and captions, the hourly grid, the
// background and the program's state.
class WebSnapshotPublisher final : public QObject
{
public:
    struct Parts
    {
        HttpServer &server;
        SensorSlots &sensorSlots;
        SensorVerdicts &verdicts;
        MonitorCycle &cycle;
        MqttPublisher &mqtt;
        OwServer &owServer;
        const StringGrid &SHour;
        // bkFileName, ProgramDir and HTTPPort.
        WindowSettings settings;
        // The check mark of N3 and Timer1's interval.
        const TForm1Ui &ui;
        // Null until the store is connected.
        std::function<ReadingStore *()> store;
        // Whether the window has a port, and whether observation lost it.
        std::function<bool()> hasPort;
        std::function<bool()> portLost;
    };

    explicit WebSnapshotPublisher(Parts parts, QObject *parent = nullptr);

    // Now. Call after every change to the sensor slots, their pictures, captions, the hourly
    // grid or bkFileName.
    void publish();
    // Once the event loop is back: several changes in one go (a grid rewritten cell by cell)
    // give one snapshot.
    void schedule();

private:
    Parts m_parts;
    QTimer m_timer;
};
