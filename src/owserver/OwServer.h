#pragma once

#include "base/ReadingFeed.h"
#include "base/RequestTally.h"
#include "owserver/OwSnapshot.h"
#include "sensors/OwServerSettings.h"

#include <QObject>
#include <QString>

#include <memory>
#include <mutex>
#include <vector>

class Log;
class QThread;

// The program as an owserver: Home Assistant's 1-Wire integration, OWFS's tools and another
// owserver read the sensors over the owserver protocol, read-only, from the readings the
// cycle already took (a client never causes bus traffic). One more consumer of the cycle's
// hand-over. The network runs on a thread of its own that sees only the latest published
// snapshot; starting, stopping and publishing happen on the window thread and never wait
// for a client.
class OwServer final : public QObject
{
    Q_OBJECT

public:
    struct Limits
    {
        // At the cap no further connection is accepted (the kernel's backlog holds them)
        // until one ends.
        int connections = 256;
        // Connections one client address may hold; more from it are closed at once. A
        // quarter of the cap: a misbehaving host leaves three quarters to the others.
        int perAddress = 64;
        // A connection with no request under way is closed after this long. A chained
        // owserver keeps its connection for the next read and opens a new one when it is gone.
        int idleSeconds = 60;
        // A request must be whole this long after its first byte.
        int requestSeconds = 5;
        // No honest request is longer (a path and, for a write, a value).
        qint32 requestBytes = 8192;
        // Replies a client has not read; a client that sends without reading is dropped.
        qint64 unreadReplyBytes = 1 << 20;
        int backlog = 128;
    };

    enum class StartResult {
        Started,
        PortBusy,   // another program listens there
        BadAddress, // not an IP address of this machine
        Failed,
    };

    OwServer(ReadingFeed &feed, Log &log, QObject *parent = nullptr);
    OwServer(ReadingFeed &feed, Log &log, Limits limits, QObject *parent = nullptr);
    ~OwServer() override;

    // Applied at once: the server listens as the settings say, or stops; the outcome is logged
    // (a port that cannot be bound as the web server's is).
    void setSettings(const OwServerSettings &settings);
    const OwServerSettings &settings() const { return m_settings; }

    // Listens on address:port (empty address: every interface, IPv6 and IPv4). A running
    // server is stopped first.
    StartResult start(const QString &address, int port);
    // Closes the listener and every connection. Never waits on a client.
    void stop();
    bool running() const;
    // The port listened on (the one the system chose when started on port 0).
    int port() const { return m_port; }

    // Requests and errors since the program started, for /metrics.
    std::shared_ptr<const RequestTally> tally() const { return m_tally; }

    // Replaces what the following requests see; the feed does it after every change.
    void publish(std::shared_ptr<const OwSnapshot> snapshot);
    std::shared_ptr<const OwSnapshot> snapshot() const;

private:
    struct Known
    {
        OwSnapshot::Sensor sensor;
        bool Enable = false;
    };

    void sensorsChanged(const std::vector<FeedSensor> &sensors);
    void accepted(const FeedReading &reading);
    void failed(const QString &SN);
    void publishKnown();

    Log &m_log;
    Limits m_limits;
    OwServerSettings m_settings;
    std::vector<FeedSensor> m_roster;
    std::vector<Known> m_known;
    std::shared_ptr<RequestTally> m_tally = std::make_shared<RequestTally>();
    QThread *m_thread = nullptr;
    int m_port = 0;
    // Held for a pointer copy only.
    mutable std::mutex m_snapshotMutex;
    std::shared_ptr<const OwSnapshot> m_snapshot;
};
