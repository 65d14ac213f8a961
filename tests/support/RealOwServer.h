#pragma once

// Debian's owserver on a free loopback port, started and stopped by the test, with simulated
// devices (--tester: fixed codes and readings; --fake: random ones).

#include <QDeadlineTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QTcpSocket>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace owtest {

inline int freeLoopbackPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<const sockaddr *>(&where), sizeof where);
    socklen_t size = sizeof where;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&where), &size);
    ::close(fd);
    return ntohs(where.sin_port);
}

class RealOwServer
{
public:
    explicit RealOwServer(QStringList devices, int port = freeLoopbackPort())
        : m_devices(std::move(devices))
        , m_port(port)
    {
    }
    ~RealOwServer() { stop(); }
    RealOwServer(const RealOwServer &) = delete;
    RealOwServer &operator=(const RealOwServer &) = delete;

    static bool available() { return !QStandardPaths::findExecutable(QStringLiteral("owserver")).isEmpty(); }
    int port() const { return m_port; }
    QString error() const { return m_error; }

    // Started and accepting connections on its port (a port just let go may take a moment).
    bool start()
    {
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(QStringLiteral("owserver"),
                        m_devices + QStringList{QStringLiteral("-p"), QStringLiteral("127.0.0.1:%1").arg(m_port),
                                                QStringLiteral("--foreground")});
        if (!m_process.waitForStarted()) {
            m_error = m_process.errorString();
            return false;
        }
        const QDeadlineTimer deadline(10000);
        while (!deadline.hasExpired()) {
            QTcpSocket probe;
            probe.connectToHost(QStringLiteral("127.0.0.1"), static_cast<quint16>(m_port));
            if (probe.waitForConnected(200))
                return true;
            if (m_process.state() == QProcess::NotRunning) {
                m_error = QString::fromLocal8Bit(m_process.readAll());
                return false;
            }
            QTest::qWait(20);
        }
        m_error = QStringLiteral("owserver does not accept on port %1").arg(m_port);
        return false;
    }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.kill();
        m_process.waitForFinished(5000);
    }

private:
    QStringList m_devices;
    int m_port;
    QString m_error;
    QProcess m_process;
};

} // namespace owtest
