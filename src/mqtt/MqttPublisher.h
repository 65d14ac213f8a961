#pragma once

#include "base/ReadingFeed.h"
#include "sensors/MqttSettings.h"

#include <QObject>
#include <QString>

#include <memory>
#include <vector>

class Log;
class MqttClient;

// Readings to an MQTT broker and Home Assistant: one more consumer of the cycle's hand-over.
//
// Per sensor: "<Topic>/<SN>/state" with each accepted reading (not retained),
// "<Topic>/<SN>/availability" online/offline (retained; offline while switched off or after a
// reading that ended as "err"), and with Discovery the retained configuration under
// "<DiscoveryPrefix>/sensor/kalvex_<SN>/config". After every connection and whenever the hub
// announces itself, every configuration, availability and last state goes out again. A
// renamed sensor gets its configuration again under the same id; a deleted one gets empty
// retained messages on its configuration and availability, so the hub drops the entity.
// Everything happens on the window thread in no time: the network is the client's thread.
class MqttPublisher final : public QObject
{
    Q_OBJECT

public:
    MqttPublisher(ReadingFeed &feed, Log &log, QString swVersion, QObject *parent = nullptr);
    ~MqttPublisher() override;

    // Applied at once: a running connection ends cleanly and a new one starts with these.
    void setSettings(const MqttSettings &settings);
    const MqttSettings &settings() const { return m_settings; }

    // -1 while off, 0 while not connected, 1 while connected.
    int connectedState() const;
    // Messages handed to brokers since the program started.
    quint64 messagesTotal() const;

signals:
    // The connection came or went.
    void stateChanged();

private:
    struct Known
    {
        QString SN;
        QString name;
        bool Enable = false;
        bool failed = false;
        bool hasValue = false;
        double value = 0;
    };

    void sensorsChanged(const std::vector<FeedSensor> &sensors);
    void accepted(const FeedReading &reading);
    void failed(const QString &SN);
    void connectionChanged(bool connected);
    void received(const QByteArray &payload);

    Known *find(const QString &SN);
    bool available(const Known &k) const { return k.Enable && !k.failed; }
    void sendConfig(const Known &k);
    void sendAvailability(const Known &k);
    void sendState(const Known &k);
    void sendRemoval(const QString &SN);
    void republish();
    // keep: queued while not connected too (the republish after connecting does not repeat it).
    void send(const QString &topic, const QByteArray &payload, bool retain, bool keep = false);
    QString address() const;

    Log &m_log;
    QString m_version;
    MqttSettings m_settings;
    std::vector<Known> m_known;
    // The list as last handed over.
    std::vector<FeedSensor> m_roster;
    std::unique_ptr<MqttClient> m_client;
    // What clients before the current one sent.
    quint64 m_sentBefore = 0;
    bool m_wasConnected = false;
};
