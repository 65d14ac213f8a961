#pragma once

#include <QObject>
#include <QString>

#include <vector>

// A sensor as the consumers of readings know it: its serial, its name and whether it is
// switched on, and what the diagnostics know of it. Slots not in use are not listed.
struct FeedSensor
{
    QString SN;
    QString name;
    bool Enable = false;
    // Readings that ended without a value since the program started.
    qint64 failures = 0;
    // The genuineness check's verdict in stable words ("genuine", "counterfeit", "unknown");
    // empty while the sensor was never checked.
    QString verdict{};
    // The name of the bus the sensor is read on; empty while the program has one bus. Its
    // number, from 1.
    QString bus{};
    int busNumber = 1;

    bool operator==(const FeedSensor &) const = default;
};

// A valid reading the cycle accepted: the corrected value as the store keeps it, and when
// it was taken (a date-time double).
struct FeedReading
{
    QString SN;
    QString name;
    double value = 0;
    double time = 0;
};

// The monitoring cycle's hand-over: what it accepted, what ended as "err", and the sensors
// the window holds. Consumers that live beside the program (the MQTT publisher, exports)
// connect to it; neither the cycle nor the window knows them by name. Signals are emitted on
// the window thread; a consumer that works elsewhere queues what it needs.
class ReadingFeed final : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    void handOver(const FeedReading &reading) { emit accepted(reading); }
    void handFailure(const QString &SN) { emit failed(SN); }
    // The sensors now in use, in slot order; consumers compare with what they had.
    void handSensors(const std::vector<FeedSensor> &sensors) { emit sensorsChanged(sensors); }

signals:
    void accepted(const FeedReading &reading);
    // Every attempt of this cycle failed, or the port is gone.
    void failed(const QString &SN);
    void sensorsChanged(const std::vector<FeedSensor> &sensors);
};
