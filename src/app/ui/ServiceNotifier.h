#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

#include <atomic>
#include <sys/socket.h>
#include <sys/un.h>

// Tells the service manager how the program is doing, over the datagram socket it names in
// NOTIFY_SOCKET: ready, stopping, a status line, and the watchdog's keep-alive. Does nothing
// when the program was not started as a notifying service. The variables are taken out of the
// environment, so that applications started by alarms do not talk to the manager in our name.
class ServiceNotifier
{
public:
    ServiceNotifier();
    ~ServiceNotifier();
    ServiceNotifier(const ServiceNotifier &) = delete;
    ServiceNotifier &operator=(const ServiceNotifier &) = delete;

    bool active() const { return m_fd >= 0; }
    // Milliseconds between keep-alives the manager expects at the latest (half its watchdog
    // time-out); 0 without a watchdog.
    qint64 keepAliveIntervalMs() const { return m_keepAliveMs; }

    // READY=1 (with the status line, if any), once.
    void ready(const QString &status = {});
    void status(const QString &text);
    void stopping();
    // WATCHDOG=1, at most once per keep-alive interval whoever calls; safe from any thread.
    void keepAlive();

private:
    bool send(const QByteArray &message);

    int m_fd = -1;
    sockaddr_un m_address{};
    socklen_t m_addressLength = 0;
    qint64 m_keepAliveMs = 0;
    QElapsedTimer m_started;
    std::atomic<qint64> m_lastKeepAlive{-1};
    std::atomic<bool> m_ready{false};
};
