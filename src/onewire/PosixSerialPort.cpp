#include "onewire/PosixSerialPort.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using SteadyClock = std::chrono::steady_clock;

int remainingMs(SteadyClock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

speed_t speedOf(int baud)
{
    switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    default: return B0;
    }
}

} // namespace

QString resolvePortName(const QString &name, const QString &programDir)
{
    if (!name.startsWith(QLatin1String("COM")))
        return name;
    static const QRegularExpression comName(QStringLiteral("^COM([0-9]{1,3})$"));
    const QRegularExpressionMatch match = comName.match(name);
    const int number = match.hasMatch() ? match.captured(1).toInt() : 0;
    // Only COM1 to COM999 name a port: "COM-1" or "COM1000" must not open a file of that name
    // in whatever directory the program was started from.
    if (number < 1 || number > 999)
        return QString();
    const QString local = programDir + name;
    // A dangling symlink still names the port the user meant: opening it reports the reason.
    const QFileInfo info(local);
    if (info.exists() || info.isSymLink())
        return local;
    return QStringLiteral("/dev/ttyS%1").arg(number - 1);
}

PosixSerialPort::PosixSerialPort(const QString &programDir)
    : m_programDir(programDir)
{
}

PosixSerialPort::~PosixSerialPort()
{
    CloseCOM();
}

void PosixSerialPort::setError(int error, const QString &path)
{
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        m_lastError = QStringLiteral("нет такого устройства: %1").arg(path);
        break;
    case EACCES:
    case EPERM:
        m_lastError = QStringLiteral("нет прав на доступ к %1: добавьте себя в группу dialout").arg(path);
        break;
    case EBUSY:
    case EWOULDBLOCK:
        m_lastError = QStringLiteral("%1 уже открыт другой программой").arg(path);
        break;
    case ENOTTY:
    case EINVAL:
        m_lastError = QStringLiteral("%1 не последовательный порт").arg(path);
        break;
    default:
        m_lastError = QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(error)));
        break;
    }
}

bool PosixSerialPort::OpenCOM(const QString &name)
{
    CloseCOM();
    m_lastError.clear();
    m_path = resolvePortName(name, m_programDir);
    if (m_path.isEmpty()) {
        m_lastError = QStringLiteral("номер порта должен быть от 1 до 999: ") + name;
        return false;
    }
    // A link in the program folder goes when its adapter is unplugged (or the simulator
    // ends): the port is lost until the link is back, never the on-board /dev/ttyS(n-1)
    // the user did not choose.
    const QString local = m_programDir + name;
    if (m_path == local)
        m_linkedNames.insert(name);
    else if (m_linkedNames.contains(name))
        m_path = local;
    const QByteArray path = QFile::encodeName(m_path);
    // Non-blocking so that a port waiting for carrier cannot hang the open; reads and
    // writes wait through poll with their time-outs.
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        setError(errno, m_path);
        return false;
    }
    // Root passes another program's TIOCEXCL: it is asked for, and respected.
    int heldByOther = 0;
    if (::ioctl(fd, TIOCGEXCL, &heldByOther) == 0 && heldByOther != 0) {
        setError(EBUSY, m_path);
        ::close(fd);
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        setError(errno == EWOULDBLOCK ? EBUSY : errno, m_path);
        ::close(fd);
        return false;
    }
    if (::tcgetattr(fd, &m_settings) != 0) {
        setError(errno, m_path);
        ::close(fd);
        return false;
    }
    // TIOCEXCL keeps out openers that do not take the lock (other programs).
    if (::ioctl(fd, TIOCEXCL) != 0) {
        setError(errno, m_path);
        ::close(fd);
        return false;
    }
    m_exclusiveSet = true;
    m_fd = fd;
    struct stat opened {};
    if (::fstat(fd, &opened) == 0) {
        m_device = opened.st_rdev;
        m_inode = opened.st_ino;
    }
    m_lost.clear();
    setLowLatency(true);
    return true;
}

void PosixSerialPort::setLowLatency(bool on)
{
    // A USB serial adapter holds received bytes back until its latency timer runs out (16 ms
    // on FTDI chips), and every bus transaction waits for its echoes; in low-latency mode it
    // answers in about 1 ms. An unprivileged user may set the flag. A port that refuses it
    // (a pty, an on-board UART) runs as it is: nothing to report.
    if (!on && !m_lowLatencySet)
        return; // only what this port set is undone: a flag the user set stays
    m_lowLatencySet = false;
    serial_struct serial {};
    if (::ioctl(m_fd, TIOCGSERIAL, &serial) != 0)
        return;
    const int flag = static_cast<int>(ASYNC_LOW_LATENCY);
    if (on && (serial.flags & flag))
        return;
    serial.flags = on ? serial.flags | flag : serial.flags & ~flag;
    m_lowLatencySet = ::ioctl(m_fd, TIOCSSERIAL, &serial) == 0 && on;
}

void PosixSerialPort::CloseCOM()
{
    if (m_fd < 0)
        return;
    m_closing.wake();
    // The adapter is left as it was found for the next program.
    setLowLatency(false);
    if (m_exclusiveSet)
        ::ioctl(m_fd, TIOCNXCL);
    m_exclusiveSet = false;
    ::close(m_fd); // drops the flock as well
    m_fd = -1;
    m_lost.clear();
}

void PosixSerialPort::noteLoss(int error)
{
    if (m_lost.isEmpty())
        m_lost = error == 0 ? QStringLiteral("линия оборвана (устройство отключено)")
                            : QString::fromLocal8Bit(std::strerror(error));
}

QString PosixSerialPort::lostReason() const
{
    if (m_fd < 0)
        return {};
    if (!m_lost.isEmpty())
        return m_lost;
    // A USB adapter plugged back in is a new device under the old name (the link in the
    // program directory, /dev/serial/by-id/...): the open descriptor still names the old one.
    struct stat now {};
    if (::stat(QFile::encodeName(m_path).constData(), &now) != 0)
        return QStringLiteral("нет такого устройства: %1").arg(m_path);
    if (now.st_rdev != m_device || now.st_ino != m_inode)
        return QStringLiteral("%1 теперь другое устройство").arg(m_path);
    return {};
}

bool PosixSerialPort::PurgeCOM()
{
    if (m_fd < 0)
        return false;
    // Input only: characters written and not yet sent belong to an exchange under way (on a
    // pseudo-terminal even those the other side has not read yet would go).
    return ::tcflush(m_fd, TCIFLUSH) == 0;
}

bool PosixSerialPort::SetModCOM(int baud, int dataBits, int parity, int stopBits, bool dtrOn, bool rtsOn)
{
    if (m_fd < 0)
        return false;
    const speed_t speed = speedOf(baud);
    if (speed == B0)
        return false;
    // Start from what the driver reported at opening and replace the whole flag word: binary
    // (raw), no parity checking, no flow control of either kind, no stripping or mapping.
    termios settings = m_settings;
    settings.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY | INPCK | IGNPAR);
    settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    settings.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    settings.c_cflag |= CREAD | CLOCAL;
    switch (dataBits) {
    case 5: settings.c_cflag |= CS5; break;
    case 6: settings.c_cflag |= CS6; break;
    case 7: settings.c_cflag |= CS7; break;
    default: settings.c_cflag |= CS8; break;
    }
    if (parity == 1 || parity == 2) { // odd, even
        settings.c_cflag |= PARENB;
        if (parity == 1)
            settings.c_cflag |= PARODD;
    }
    if (stopBits != 0)
        settings.c_cflag |= CSTOPB;
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    cfsetispeed(&settings, speed);
    cfsetospeed(&settings, speed);
    if (::tcsetattr(m_fd, TCSANOW, &settings) != 0)
        return false;
    // A pseudo-terminal refuses the modem lines: not an error.
    int dtr = TIOCM_DTR;
    int rts = TIOCM_RTS;
    ::ioctl(m_fd, dtrOn ? TIOCMBIS : TIOCMBIC, &dtr);
    ::ioctl(m_fd, rtsOn ? TIOCMBIS : TIOCMBIC, &rts);
    return true;
}

bool PosixSerialPort::TxByteCOM(std::uint8_t byte)
{
    return TxDataCOM(&byte, 1);
}

bool PosixSerialPort::TxDataCOM(const std::uint8_t *data, int count)
{
    if (m_fd < 0 || count < 0)
        return false;
    ++m_counters.roundTrips;
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(m_writeTotalMs);
    int sent = 0;
    while (sent < count) {
        const ssize_t n = ::write(m_fd, data + sent, static_cast<size_t>(count - sent));
        if (n > 0) {
            sent += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN) {
            if (errno == EIO || errno == ENXIO || errno == ENODEV || errno == EPIPE)
                noteLoss(errno);
            break;
        }
        pollfd p { m_fd, POLLOUT, 0 };
        const int wait = remainingMs(deadline);
        if (wait <= 0 || ::poll(&p, 1, wait) <= 0)
            break;
    }
    m_counters.charactersSent += static_cast<std::uint64_t>(sent);
    return sent == count;
}

bool PosixSerialPort::RxDataCOM(std::uint8_t *buffer, int count, int &read)
{
    read = 0;
    if (m_fd < 0 || count < 0)
        return false;
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(m_readTotalMs);
    while (read < count) {
        const ssize_t n = ::read(m_fd, buffer + read, static_cast<size_t>(count - read));
        if (n > 0) {
            read += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN) {
            m_counters.charactersReceived += static_cast<std::uint64_t>(read);
            return false;
        }
        int wait = remainingMs(deadline);
        if (read > 0 && m_readIntervalMs > 0)
            wait = std::min(wait, m_readIntervalMs);
        if (wait <= 0)
            break;
        pollfd p { m_fd, POLLIN, 0 };
        const int ready = ::poll(&p, 1, wait);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        if (p.revents & (POLLERR | POLLNVAL)) {
            m_counters.charactersReceived += static_cast<std::uint64_t>(read);
            return false;
        }
        if ((p.revents & POLLHUP) && !(p.revents & POLLIN)) {
            // The other end is gone: no echo will come; wait out the time-out like a
            // silent line would, without spinning.
            break;
        }
    }
    m_counters.charactersReceived += static_cast<std::uint64_t>(read);
    return true;
}

bool PosixSerialPort::readAvailable(std::uint8_t *buffer, int count, int &read)
{
    read = 0;
    if (m_fd < 0 || count < 0)
        return false;
    while (read < count) {
        const ssize_t n = ::read(m_fd, buffer + read, static_cast<size_t>(count - read));
        if (n > 0) {
            read += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0 || errno == EAGAIN) {
            // Nothing there now (a raw line without VMIN reads 0). A line that hung up (an
            // adapter unplugged) reads the same, and only poll tells them apart.
            pollfd p { m_fd, POLLIN, 0 };
            if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) {
                noteLoss(0);
                m_counters.charactersReceived += static_cast<std::uint64_t>(read);
                return false;
            }
            break;
        }
        // EIO, ENXIO: the device behind the descriptor is gone.
        noteLoss(errno);
        m_counters.charactersReceived += static_cast<std::uint64_t>(read);
        return false;
    }
    m_counters.charactersReceived += static_cast<std::uint64_t>(read);
    return true;
}

bool PosixSerialPort::SetComPortTimeouts()
{
    m_readIntervalMs = 1000;
    m_readTotalMs = 1000;
    m_writeTotalMs = 1000;
    return true;
}
