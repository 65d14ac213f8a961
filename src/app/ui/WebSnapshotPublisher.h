#pragma once

#include "app/ui/WindowSettings.h"
#include "web/WebSnapshot.h"

#include <QObject>
#include <QStringList>
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
    struct BusesView
    {
        // Bus 1's port or connection: 1 open, 0 lost, -1 observation off or nothing to open.
        int portOpen = -1;
        // No bus lost.
        bool connected = true;
        // Each bus while there are several (empty with one), and their names by number.
        std::vector<WebSnapshot::Bus> buses;
        QStringList names;
    };

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
        // The buses as the page, /metrics and MQTT show them.
        std::function<BusesView()> buses;
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
