#include "app/ui/ServiceNotifier.h"

#include <QtGlobal>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

ServiceNotifier::ServiceNotifier()
{
    const QByteArray socketPath = qgetenv("NOTIFY_SOCKET");
    const QByteArray watchdogUsec = qgetenv("WATCHDOG_USEC");
    const QByteArray watchdogPid = qgetenv("WATCHDOG_PID");
    qunsetenv("NOTIFY_SOCKET");
    qunsetenv("WATCHDOG_USEC");
    qunsetenv("WATCHDOG_PID");
    m_started.start();

    // "/path" or "@name" (an abstract address), and it must fit.
    if (socketPath.size() < 2 || (socketPath[0] != '/' && socketPath[0] != '@')
        || static_cast<std::size_t>(socketPath.size()) >= sizeof m_address.sun_path)
        return;
    m_address.sun_family = AF_UNIX;
    std::memcpy(m_address.sun_path, socketPath.constData(), static_cast<std::size_t>(socketPath.size()));
    if (socketPath[0] == '@')
        m_address.sun_path[0] = '\0';
    m_addressLength = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + static_cast<std::size_t>(socketPath.size()));
    // Never blocking: a manager that reads nothing costs a lost message, not a frozen window thread.
    m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_fd < 0)
        return;

    // The watchdog is ours unless the manager named another process.
    bool pidOk = true;
    const qint64 pid = watchdogPid.isEmpty() ? 0 : watchdogPid.toLongLong(&pidOk);
    bool usecOk = false;
    const qint64 usec = watchdogUsec.toLongLong(&usecOk);
    if (usecOk && usec > 0 && pidOk && (pid == 0 || pid == ::getpid()))
        m_keepAliveMs = std::max<qint64>(usec / 2000, 1);
}

ServiceNotifier::~ServiceNotifier()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool ServiceNotifier::send(const QByteArray &message)
{
    if (m_fd < 0)
        return false;
    const ssize_t sent = ::sendto(m_fd, message.constData(), static_cast<std::size_t>(message.size()), MSG_NOSIGNAL,
                                  reinterpret_cast<const sockaddr *>(&m_address), m_addressLength);
    return sent == message.size();
}

void ServiceNotifier::ready(const QString &status)
{
    if (m_fd < 0 || m_ready.exchange(true))
        return;
    QByteArray message = "READY=1";
    if (!status.isEmpty())
        message += "\nSTATUS=" + status.toUtf8().replace('\n', ' ');
    send(message);
}

void ServiceNotifier::status(const QString &text)
{
    send("STATUS=" + text.toUtf8().replace('\n', ' '));
}

void ServiceNotifier::stopping()
{
    send("STOPPING=1");
}

void ServiceNotifier::keepAlive()
{
    if (m_fd < 0 || m_keepAliveMs == 0)
        return;
    const qint64 now = m_started.elapsed();
    qint64 last = m_lastKeepAlive.load();
    // The window thread's timer sends one every quarter of the manager's time-out; a long bus
    // wait that runs no event loop calls in between. At most one per eighth goes out.
    if (last >= 0 && now - last < m_keepAliveMs / 4)
        return;
    if (m_lastKeepAlive.compare_exchange_strong(last, now))
        send("WATCHDOG=1");
}
