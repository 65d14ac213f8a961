#include "onewire/PtyBusServer.h"

#include "onewire/VirtualBus.h"

#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

int baudOf(speed_t speed)
{
    switch (speed) {
    case B1200: return 1200;
    case B2400: return 2400;
    case B4800: return 4800;
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    case B230400: return 230400;
    default: return 9600;
    }
}

} // namespace

PtyBusServer::PtyBusServer(VirtualBus &bus)
    : m_bus(bus)
{
}

PtyBusServer::~PtyBusServer()
{
    close();
}

bool PtyBusServer::open()
{
    close();
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        close();
        return false;
    }
    char name[128] = {};
    if (::ptsname_r(m_master, name, sizeof name) != 0) {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        close();
        return false;
    }
    m_slavePath = QString::fromLocal8Bit(name);
    // Holding the slave open keeps the master readable while no client is connected, and
    // setting it raw keeps the line discipline from echoing the bus's answers back to it.
    m_slaveKeeper = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_slaveKeeper >= 0) {
        termios raw {};
        if (::tcgetattr(m_slaveKeeper, &raw) == 0) {
            cfmakeraw(&raw);
            cfsetispeed(&raw, B9600);
            cfsetospeed(&raw, B9600);
            ::tcsetattr(m_slaveKeeper, TCSANOW, &raw);
        }
    }
    if (::pipe2(m_stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        close();
        return false;
    }
    return true;
}

bool PtyBusServer::linkAs(const QString &linkPath)
{
    const QByteArray link = QFile::encodeName(linkPath);
    const QByteArray target = QFile::encodeName(m_slavePath);
    struct stat st {};
    if (::lstat(link.constData(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        m_error = QStringLiteral("%1 exists and is not a symlink").arg(linkPath);
        return false;
    }
    ::unlink(link.constData());
    if (::symlink(target.constData(), link.constData()) != 0) {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    m_linkPath = linkPath;
    return true;
}

void PtyBusServer::requestStop()
{
    if (m_stopPipe[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_stopPipe[1], &byte, 1);
    }
}

void PtyBusServer::run()
{
    if (m_master < 0)
        return;
    std::uint8_t buffer[256];
    for (;;) {
        pollfd fds[2] = { { m_master, POLLIN, 0 }, { m_stopPipe[0], POLLIN, 0 } };
        const int ready = ::poll(fds, 2, ExclusiveCheckMs);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (ready == 0) {
            dropOrphanedExclusiveMode();
            continue;
        }
        if (fds[1].revents)
            return;
        if (!(fds[0].revents & POLLIN)) {
            if (fds[0].revents & (POLLERR | POLLNVAL))
                return;
            continue;
        }
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n <= 0) {
            if (n < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            ::usleep(10000); // EIO while no slave is open: wait for one
            continue;
        }
        ++m_batches;
        std::vector<std::uint8_t> echoes = answer(buffer, static_cast<int>(n));
        if (m_latencyMs > 0) {
            ::usleep(static_cast<useconds_t>(m_latencyMs) * 1000);
            // What arrived while the adapter held its packet back goes out in that packet.
            for (;;) {
                pollfd more { m_master, POLLIN, 0 };
                if (::poll(&more, 1, 0) <= 0 || !(more.revents & POLLIN))
                    break;
                const ssize_t m = ::read(m_master, buffer, sizeof buffer);
                if (m <= 0)
                    break;
                const auto late = answer(buffer, static_cast<int>(m));
                echoes.insert(echoes.end(), late.begin(), late.end());
            }
        }
        std::size_t written = 0;
        while (written < echoes.size()) {
            const ssize_t w = ::write(m_master, echoes.data() + written, echoes.size() - written);
            if (w < 0) {
                if (errno == EINTR || errno == EAGAIN)
                    continue;
                break;
            }
            written += static_cast<std::size_t>(w);
        }
    }
}

void PtyBusServer::dropOrphanedExclusiveMode()
{
    // A real port forgets TIOCEXCL with its last close; this pty stays open (the keeper), so
    // a client killed while it held the port would keep every later one out. A client alive
    // holds its lock beside the mode (the program takes both).
    int exclusive = 0;
    if (m_slaveKeeper < 0 || ::ioctl(m_slaveKeeper, TIOCGEXCL, &exclusive) != 0 || exclusive == 0)
        return;
    if (::flock(m_slaveKeeper, LOCK_EX | LOCK_NB) != 0)
        return;
    ::ioctl(m_slaveKeeper, TIOCNXCL);
    ::flock(m_slaveKeeper, LOCK_UN);
}

std::vector<std::uint8_t> PtyBusServer::answer(const std::uint8_t *data, int count)
{
    termios settings {};
    int baud = 9600;
    if (::tcgetattr(m_master, &settings) == 0)
        baud = baudOf(cfgetospeed(&settings));
    if (m_responder)
        return m_responder(data, count, baud);
    return m_bus.exchange(data, count, baud);
}

void PtyBusServer::close()
{
    if (!m_linkPath.isEmpty()) {
        const QByteArray link = QFile::encodeName(m_linkPath);
        char target[256] = {};
        const ssize_t length = ::readlink(link.constData(), target, sizeof target - 1);
        if (length > 0 && QString::fromLocal8Bit(target, static_cast<int>(length)) == m_slavePath)
            ::unlink(link.constData());
        m_linkPath.clear();
    }
    for (int *fd : { &m_slaveKeeper, &m_master, &m_stopPipe[0], &m_stopPipe[1] }) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}
