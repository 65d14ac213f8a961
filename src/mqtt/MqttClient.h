#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

// One connection to an MQTT broker on libmosquitto, driven by a thread of its own: the window
// thread only hands it messages and hears back through queued signals, so a broker that is
// down, slow or never reads costs the window nothing.
//
// What waits to be sent is the latest message per topic: a newer one replaces the one not yet
// handed to the library, and the library is handed only a bounded number at a time, so nothing
// grows while the broker is away or stalled. After every connection the client publishes
// "online" (retained) on its status topic, whose "offline" (retained) is the connection's last
// will and is sent at a clean stop too. It reconnects by itself, waiting 1 s after the first
// failure and twice as long after each further one, up to 60 s; each cause of failure is
// reported once until the connection has worked again.
class MqttClient final : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        QString host;
        int port = 1883;
        QString user;
        QString password;
        // TLS: against this CA certificate when not empty, else against the system's CA store.
        bool tls = false;
        QString caFile;
        // A client certificate and its key, both or neither.
        QString certFile;
        QString keyFile;
        // Empty: one the library makes up (and the broker forgets the session with it).
        QString clientId;
        // "online"/"offline" go here; the last will too.
        QString statusTopic;
        // Subscribed to after each connection.
        QStringList subscriptions;
        // A broker silent this long (and as long again for the ping) counts as gone; the
        // library takes no less than 5.
        int keepAliveSeconds = 30;
    };

    // Starts connecting at once.
    explicit MqttClient(Options options, QObject *parent = nullptr);
    // A clean stop: "offline", the disconnect, the thread joined. Bounded (a connect stuck on
    // an unreachable host is left to end by itself).
    ~MqttClient() override;
    MqttClient(const MqttClient &) = delete;
    MqttClient &operator=(const MqttClient &) = delete;

    // Queues the message, replacing one for the same topic that has not gone out yet. Sent
    // once connected; what is queued at a clean stop still goes out before "offline". Any thread.
    void publish(const QString &topic, const QByteArray &payload, bool retain);
    // True from the broker's acceptance until the connection ends.
    bool connected() const;
    // Messages the broker was given (written out, or acknowledged) since the start.
    quint64 messagesSent() const;

    // Bounds of the reconnect wait, in seconds.
    static constexpr int FirstRetrySeconds = 1;
    static constexpr int LastRetrySeconds = 60;

signals:
    // The broker accepted the connection (true) or it ended (false).
    void connectedChanged(bool connected);
    // Why connecting failed or the connection ended: the library's text, once per cause.
    void failure(const QString &reason);
    // A message arrived on a subscribed topic; retained: the broker kept it from before the
    // subscription (a live one is never flagged).
    void received(const QString &topic, const QByteArray &payload, bool retained);

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
};
