#pragma once

#include "base/ReadingFeed.h"
#include "sensors/MqttSettings.h"

#include <QObject>
#include <QSet>
#include <QString>

#include <memory>
#include <vector>

class Log;
class MqttClient;

// Readings to an MQTT broker and Home Assistant: one more consumer of the cycle's hand-over.
//
// Per sensor: "<Topic>/<SN>/state" with each accepted reading (not retained),
// "<Topic>/<SN>/availability" online/offline (retained; offline while switched off, after a
// reading that ended as "err" and while observation is off, until the next reading), its
// failures and verdict, while there are several buses "<Topic>/<SN>/attributes" with its bus
// (retained), and with Discovery the retained configurations under
// "<DiscoveryPrefix>/<component>/kalvex_<SN>…/config". The program is a device of its own
// (its bus connected or not) that every sensor's device hangs off.
//
// After every connection and whenever the hub announces itself anew, every configuration,
// availability and last state goes out again; retained configurations of this program that
// it no longer has (a sensor deleted while it was stopped, a replaced file, discovery
// switched off) are cleared, so the hub drops their entities. A renamed sensor gets its
// configuration again under the same id; a deleted one gets empty retained messages.
// Everything happens on the window thread in no time: the network is the client's thread.
class MqttPublisher final : public QObject
{
    Q_OBJECT

public:
    // What the window knows beyond the sensors.
    struct ProgramState
    {
        bool observing = true;
        int intervalMs = 10000;
        // How long the last cycle took; below 0 while none ran.
        double cycleSeconds = -1;
        bool busConnected = false;
        // The web server's port; 0 while it is not serving.
        int webPort = 0;

        bool operator==(const ProgramState &) const = default;
    };

    // programDir: the program's folder, which makes its client id and its device's id.
    MqttPublisher(ReadingFeed &feed, Log &log, QString swVersion, const QString &programDir, QObject *parent = nullptr);
    ~MqttPublisher() override;

    // Applied at once: a running connection ends cleanly (taking along the removals a new
    // topic, prefix or discovery switched off make) and a new one starts with these.
    void setSettings(const MqttSettings &settings);
    const MqttSettings &settings() const { return m_settings; }
    void setProgramState(const ProgramState &state);

    // -1 while off, 0 while not connected, 1 while connected.
    int connectedState() const;
    // Messages handed to brokers since the program started.
    quint64 messagesTotal() const;
    QString clientId() const;

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
        // Observation went off after its last reading.
        bool stale = false;
        bool hasValue = false;
        double value = 0;
        qint64 failures = 0;
        QString verdict{};
        // The bus's name while the program has several; empty with one.
        QString bus{};
    };

    void sensorsChanged(const std::vector<FeedSensor> &sensors);
    void accepted(const FeedReading &reading);
    void failed(const QString &SN);
    void connectionChanged(bool connected);
    void received(const QString &topic, const QByteArray &payload, bool retained);

    Known *find(const QString &SN);
    bool available(const Known &k) const { return k.Enable && !k.failed && !k.stale; }
    void sendConfig(const Known &k);
    void sendHubConfig();
    void sendAvailability(const Known &k);
    void sendState(const Known &k);
    void sendDiagnostics(const Known &k);
    void sendAttributes(const Known &k);
    void sendBus();
    void sendRemoval(const Known &k);
    // Removals for what the settings in effect published and `next` will not.
    void removeLeftovers(const MqttSettings &next);
    void clearGhost(const QString &topic, const QByteArray &payload);
    void republish();
    QSet<QString> ownConfigTopics() const;
    // keep: queued while not connected too (the republish after connecting does not repeat it).
    void send(const QString &topic, const QByteArray &payload, bool retain, bool keep = false);
    QString address() const;
    QString configurationUrl() const;
    QString readPassword() const;

    Log &m_log;
    QString m_version;
    QString m_instance;
    MqttSettings m_settings;
    ProgramState m_program;
    double m_longestCycle = 0;
    int m_expireAfter = 0;
    std::vector<Known> m_known;
    // The list as last handed over.
    std::vector<FeedSensor> m_roster;
    std::unique_ptr<MqttClient> m_client;
    // What clients before the current one sent.
    quint64 m_sentBefore = 0;
    bool m_wasConnected = false;
};
