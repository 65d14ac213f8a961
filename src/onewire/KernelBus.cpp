#include "onewire/KernelBus.h"

#include "base/Log.h"
#include "onewire/BusWait.h"
#include "onewire/OneWireCrc.h"
#include "onewire/RomSearch.h"
#include "onewire/TemperatureReader.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

// What a job brings back of one file: its bytes, or the errno of the open, read or write.
struct FileResult
{
    QByteArray data;
    int error = 0;
};

// Plain descriptors: a sysfs read may block in the kernel for the conversion, and a FIFO
// standing in for one must be read to its end.
FileResult readWhole(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {{}, errno};
    FileResult result;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            result.error = errno;
            break;
        }
        // A page is all the kernel ever gives; more is no w1_slave.
        if (n == 0 || result.data.size() > 65536)
            break;
        result.data.append(buffer, static_cast<qsizetype>(n));
    }
    ::close(fd);
    return result;
}

int writeWhole(const QString &path, const QByteArray &text)
{
    // An attribute's write ignores the position; appending keeps the state line of a file
    // that stands in for one where it was.
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0)
        return errno;
    int error = 0;
    qsizetype done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.constData() + done, static_cast<std::size_t>(text.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = errno;
            break;
        }
        done += n;
    }
    if (::close(fd) != 0 && error == 0 && errno != EINTR)
        error = errno;
    return error;
}

bool noRights(int error)
{
    return error == EACCES || error == EPERM;
}

// A device the kernel dropped from the bus (or never had): no answer, as on the serial line.
bool deviceGone(int error)
{
    return error == ENOENT || error == ENODEV || error == ENXIO || error == EIO || error == ENOTDIR;
}

QString errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QStringList masterNames(const QString &path)
{
    return QDir(path).entryList({QStringLiteral("w1_bus_master*")}, QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
}

int hexValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

std::optional<std::array<std::uint8_t, 8>> romOfName(const QString &name)
{
    // "ff-" and twelve digits, the kernel's own lower-case spelling.
    if (name.size() != 15 || name.at(2) != QLatin1Char('-'))
        return std::nullopt;
    std::array<std::uint8_t, 8> rom {};
    const auto byteAt = [&name](int pos) {
        const int high = hexValue(name.at(pos));
        const int low = hexValue(name.at(pos + 1));
        return high < 0 || low < 0 ? -1 : high * 16 + low;
    };
    const int family = byteAt(0);
    if (family < 0)
        return std::nullopt;
    rom[0] = static_cast<std::uint8_t>(family);
    // The name holds the six serial bytes as one number, most significant first.
    for (int k = 0; k < 6; ++k) {
        const int value = byteAt(3 + 2 * k);
        if (value < 0)
            return std::nullopt;
        rom[static_cast<std::size_t>(6 - k)] = static_cast<std::uint8_t>(value);
    }
    rom[7] = OneWireCrc::of(rom.data(), 7);
    return rom;
}

quint64 searchKey(const QString &serial)
{
    // The walk takes bit 1 (the family code's lowest) first and 0 before 1: the 64 bits in
    // bus order read as one number from its most significant end.
    const auto rom = TemperatureReader::romBytes(serial);
    quint64 key = 0;
    if (!rom)
        return key;
    for (int bit = 0; bit < 64; ++bit) {
        const int b = ((*rom)[static_cast<std::size_t>(bit / 8)] >> (bit % 8)) & 1;
        key = (key << 1) | static_cast<quint64>(b);
    }
    return key;
}

// Every device of every master under path, each once, in search order.
QStringList devicesUnder(const QString &path)
{
    QStringList serials;
    for (const QString &master : masterNames(path)) {
        const QString dir = path + QLatin1Char('/') + master;
        const FileResult list = readWhole(dir + QStringLiteral("/w1_master_slaves"));
        QStringList names;
        if (list.error == 0) {
            for (const QByteArray &line : list.data.split('\n'))
                names << QString::fromLatin1(line.trimmed());
        } else {
            // The master's folder holds its devices too.
            names = QDir(dir).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        }
        for (const QString &name : std::as_const(names)) {
            const QString serial = KernelBus::serialOfName(name);
            // A family code 0xFF is no device's (the serial search drops it as well).
            if (!serial.isEmpty() && !serial.startsWith(QLatin1String("FF")) && !serials.contains(serial))
                serials << serial;
        }
    }
    KernelBus::sortInSearchOrder(serials);
    return serials;
}

} // namespace

struct KernelBus::Pool
{
    std::mutex mutex;
    std::condition_variable queued;
    std::deque<std::function<void()>> jobs;
    int idle = 0;
    bool quit = false;
    // The workers inside a job.
    std::set<std::thread::id> busy;

    static void work(const std::shared_ptr<Pool> &pool)
    {
        std::unique_lock lock(pool->mutex);
        for (;;) {
            ++pool->idle;
            pool->queued.wait(lock, [&pool] { return pool->quit || !pool->jobs.empty(); });
            --pool->idle;
            if (pool->quit)
                return;
            std::function<void()> job = std::move(pool->jobs.front());
            pool->jobs.pop_front();
            pool->busy.insert(std::this_thread::get_id());
            lock.unlock();
            job();
            job = nullptr;
            lock.lock();
            pool->busy.erase(std::this_thread::get_id());
        }
    }
};

KernelBus::KernelBus(Log &log, QString path)
    : m_log(log)
    , m_path(std::move(path))
    , m_pool(std::make_shared<Pool>())
{
}

KernelBus::~KernelBus()
{
    abort();
    std::set<std::thread::id> busy;
    {
        const std::lock_guard lock(m_pool->mutex);
        m_pool->quit = true;
        // Nobody waits for what has not started.
        m_pool->jobs.clear();
        busy = m_pool->busy;
    }
    m_pool->queued.notify_all();
    for (std::thread &worker : m_workers) {
        if (busy.count(worker.get_id()) != 0)
            worker.detach(); // in the kernel: it ends when the kernel lets it, then sees quit
        else
            worker.join();
    }
}

void KernelBus::abort()
{
    m_aborted = true;
    m_stopped.wake();
}

QString KernelBus::serialOfName(const QString &name)
{
    const auto rom = romOfName(name);
    return rom ? RomSearch::codeText(*rom) : QString();
}

QString KernelBus::nameOfSerial(const QString &sn)
{
    const auto rom = TemperatureReader::romBytes(sn);
    if (!rom || OneWireCrc::of(rom->data(), 8) != 0)
        return {};
    QString name = QStringLiteral("%1-").arg((*rom)[0], 2, 16, QLatin1Char('0'));
    for (int k = 6; k >= 1; --k)
        name += QStringLiteral("%1").arg((*rom)[static_cast<std::size_t>(k)], 2, 16, QLatin1Char('0'));
    return name;
}

std::optional<std::array<std::uint8_t, 9>> KernelBus::scratchpadOf(const QByteArray &w1Slave)
{
    const qsizetype end = w1Slave.indexOf('\n');
    const QByteArray first = end < 0 ? w1Slave : w1Slave.left(end);
    const qsizetype colon = first.indexOf(':');
    if (colon < 0)
        return std::nullopt;
    // "72 01 4b 46 7f ff 0e 10 57 : crc=57 YES"
    if (first.mid(colon + 1).trimmed().endsWith("NO"))
        return std::nullopt;
    const QList<QByteArray> bytes = first.left(colon).simplified().split(' ');
    if (bytes.size() != 9)
        return std::nullopt;
    std::array<std::uint8_t, 9> scratchpad {};
    for (int i = 0; i < 9; ++i) {
        const QByteArray &text = bytes.at(i);
        bool ok = false;
        const uint value = text.toUInt(&ok, 16);
        if (!ok || text.size() != 2 || value > 0xFF)
            return std::nullopt;
        scratchpad[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value);
    }
    return scratchpad;
}

void KernelBus::sortInSearchOrder(QStringList &serials)
{
    std::stable_sort(serials.begin(), serials.end(),
                     [](const QString &a, const QString &b) { return searchKey(a) < searchKey(b); });
}

QStringList KernelBus::masters() const
{
    return masterNames(m_path);
}

QString KernelBus::driverProblem() const
{
    const QFileInfo folder(m_path);
    if (!m_path.isEmpty() && folder.isDir() && (!folder.isReadable() || !folder.isExecutable()))
        return QStringLiteral("Нет прав на чтение ") + m_path + QStringLiteral(".");
    if (m_path.isEmpty() || !folder.isDir() || masters().isEmpty())
        return QStringLiteral("Драйвер 1-Wire не загружен (в ") + (m_path.isEmpty() ? QStringLiteral("\"\"") : m_path)
            + QStringLiteral(" нет ни одного w1_bus_master): включите его, например dtoverlay=w1-gpio на Raspberry Pi.");
    return {};
}

void KernelBus::reportOnce(const QString &key, const QString &message)
{
    if (m_reported.contains(key))
        return;
    m_reported.insert(key);
    m_log.AddLog(message);
}

template <class T>
QCoro::Task<std::optional<T>> KernelBus::offThread(QString key, std::function<T()> job)
{
    if (m_aborted || stillHanging(key))
        co_return std::nullopt;
    // The worker fills value, then makes the descriptor readable; the wait listens to it. The
    // descriptor lives as long as either side still holds the job (a wait that timed out
    // leaves it to the worker).
    struct Shared
    {
        std::mutex mutex;
        std::optional<T> value;
        int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        ~Shared()
        {
            if (fd >= 0)
                ::close(fd);
        }
    };
    auto shared = std::make_shared<Shared>();
    if (shared->fd < 0)
        co_return std::nullopt;
    auto ended = std::make_shared<std::atomic<bool>>(false);
    auto givenUp = std::make_shared<std::atomic<bool>>(false);
    post([shared, ended, givenUp, job = std::move(job)] {
        // Given up on before a worker was free: not run at all.
        if (!givenUp->load()) {
            T value = job();
            {
                const std::lock_guard lock(shared->mutex);
                shared->value = std::move(value);
            }
            const std::uint64_t one = 1;
            const ssize_t written = ::write(shared->fd, &one, sizeof one);
            static_cast<void>(written);
        }
        ended->store(true);
    });
    co_await BusWait(m_jobTimeoutMs, shared->fd, &m_stopped);
    if (m_aborted)
        co_return std::nullopt;
    {
        const std::lock_guard lock(shared->mutex);
        if (shared->value)
            co_return std::move(shared->value);
    }
    givenUp->store(true);
    if (!ended->load())
        m_hanging.insert(key, ended);
    co_return std::nullopt;
}

bool KernelBus::stillHanging(const QString &key)
{
    const auto found = m_hanging.constFind(key);
    if (found == m_hanging.cend())
        return false;
    if (!found.value()->load()) {
        reportOnce(QStringLiteral("hang:") + key,
                   QStringLiteral("Драйвер 1-Wire не отвечает (") + key + QStringLiteral(": нет ответа за ")
                       + QLocale().toString(m_jobTimeoutMs / 1000.0) + QStringLiteral(" с): пропускается, пока ядро не ответит."));
        return true;
    }
    m_hanging.erase(found);
    cleared(QStringLiteral("hang:") + key);
    return false;
}

void KernelBus::post(std::function<void()> job)
{
    bool start = false;
    {
        const std::lock_guard lock(m_pool->mutex);
        m_pool->jobs.push_back(std::move(job));
        start = static_cast<int>(m_pool->jobs.size()) > m_pool->idle && static_cast<int>(m_workers.size()) < MaxWorkers;
    }
    m_pool->queued.notify_one();
    if (start)
        m_workers.emplace_back([pool = m_pool] { Pool::work(pool); });
}

QCoro::Task<QStringList> KernelBus::listDevices()
{
    const QString path = m_path;
    // Each job is a named local: g++ 12 destroys a lambda's captures twice when the closure
    // is a temporary of the co_await expression.
    std::function<QStringList()> job = [path] { return devicesUnder(path); };
    const std::optional<QStringList> found = co_await offThread<QStringList>(path + QStringLiteral("/w1_master_slaves"), std::move(job));
    co_return found.value_or(QStringList());
}

void KernelBus::clearState()
{
    m_listed = false;
    m_pending.clear();
}

QCoro::Task<QString> KernelBus::FindDS()
{
    if (!m_listed) {
        m_pending = co_await listDevices();
        m_listed = true;
    }
    if (m_pending.isEmpty() || m_aborted) {
        // The call after the last device ends the enumeration; the next one starts anew.
        clearState();
        co_return QString();
    }
    co_return m_pending.takeFirst();
}

QCoro::Task<QString> KernelBus::GetSNForOne()
{
    const QStringList serials = co_await listDevices();
    if (serials.isEmpty() || m_aborted)
        co_return QString();
    co_return readRomText(serials);
}

QCoro::Task<std::optional<std::array<std::uint8_t, 9>>> KernelBus::readScratchpad(QString sn, bool logBadSerial)
{
    const auto rom = TemperatureReader::romBytes(sn);
    if (!rom) {
        if (logBadSerial)
            m_log.addRawLine(QStringLiteral("Непавильный серийный номер датчика: ") + sn);
        co_return std::nullopt;
    }
    // A code whose CRC byte is wrong matches no device, as Match ROM on the line would.
    const QString name = nameOfSerial(sn);
    if (name.isEmpty() || !m_open)
        co_return std::nullopt;
    const QString file = m_path + QLatin1Char('/') + name + QStringLiteral("/w1_slave");
    std::function<FileResult()> job = [file] { return readWhole(file); };
    const std::optional<FileResult> got = co_await offThread<FileResult>(file, std::move(job));
    if (!got || !m_open)
        co_return std::nullopt;
    if (got->error != 0) {
        if (noRights(got->error))
            reportOnce(file, QStringLiteral("Нет прав на чтение ") + file + QStringLiteral("."));
        else if (!deviceGone(got->error))
            reportOnce(file, QStringLiteral("Ошибка чтения ") + file + QStringLiteral(": ") + errorText(got->error));
        co_return std::nullopt;
    }
    cleared(file);
    co_return scratchpadOf(got->data);
}

QCoro::Task<double> KernelBus::read(QString sn, bool logBadSerial)
{
    const bool family28 = TemperatureReader::hasB20Format(sn);
    const auto bytes = co_await readScratchpad(std::move(sn), logBadSerial);
    co_return bytes ? TemperatureReader::checkedReading(*bytes, family28) : NoReading;
}

QCoro::Task<std::optional<std::array<std::uint8_t, 9>>> KernelBus::scratchpad(QString sn)
{
    return readScratchpad(std::move(sn), false);
}

QCoro::Task<double> KernelBus::GetTempSn(QString sn)
{
    return read(std::move(sn), true);
}

QCoro::Task<double> KernelBus::readConverted(QString sn)
{
    return read(std::move(sn), false);
}

QCoro::Task<double> KernelBus::GetTempSnPolled(QString sn)
{
    // The kernel's own read converts and waits for that sensor.
    return read(std::move(sn), true);
}

QCoro::Task<std::optional<bool>> KernelBus::parasitePowered()
{
    if (!m_open || !driverProblem().isEmpty())
        co_return std::nullopt;
    co_return std::optional<bool>(false);
}

QCoro::Task<SensorReader::Conversion> KernelBus::convertAll()
{
    QStringList files;
    if (!m_open)
        co_return Conversion::NoPresence;
    for (const QString &master : masters()) {
        const QString file = m_path + QLatin1Char('/') + master + QStringLiteral("/therm_bulk_read");
        if (!QFileInfo::exists(file)) {
            reportOnce(QStringLiteral("bulk:") + file,
                       QStringLiteral("Драйвер 1-Wire не умеет измерять все датчики сразу (нет ") + file
                           + QStringLiteral("): датчики измеряют по очереди."));
            co_return Conversion::NoPresence;
        }
        files << file;
    }
    if (files.isEmpty())
        co_return Conversion::NoPresence;

    struct Written
    {
        QString file;
        int error = 0;
    };
    std::function<Written()> trigger = [files] {
        for (const QString &file : files) {
            if (const int error = writeWhole(file, QByteArrayLiteral("trigger\n")))
                return Written{file, error};
        }
        return Written{};
    };
    const std::optional<Written> written = co_await offThread<Written>(files.join(QLatin1Char(' ')), std::move(trigger));
    if (!written || !m_open)
        co_return Conversion::TimedOut;
    if (written->error != 0) {
        const QString key = QStringLiteral("bulk:") + written->file;
        if (noRights(written->error))
            reportOnce(key, QStringLiteral("Нет прав на запись ") + written->file
                                + QStringLiteral(": датчики измеряют по очереди."));
        else
            reportOnce(key, QStringLiteral("Ошибка записи ") + written->file + QStringLiteral(": ")
                                + errorText(written->error) + QStringLiteral(": датчики измеряют по очереди."));
        co_return Conversion::NoPresence;
    }
    for (const QString &file : std::as_const(files))
        cleared(QStringLiteral("bulk:") + file);

    // A write that did not wait for the conversion leaves a master at -1 until it is done.
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        std::function<bool()> ask = [files] {
            for (const QString &file : files) {
                const QByteArray state = readWhole(file).data;
                if (state.left(state.indexOf('\n')).trimmed() == "-1")
                    return true;
            }
            return false;
        };
        const std::optional<bool> converting = co_await offThread<bool>(files.join(QLatin1Char(' ')), std::move(ask));
        if (!converting)
            co_return Conversion::TimedOut;
        if (!*converting)
            co_return Conversion::Done;
        if (waited.elapsed() >= ConversionLimitMs)
            co_return Conversion::TimedOut;
        co_await BusWait(BulkPollMs, -1, &m_stopped);
        if (m_aborted)
            co_return Conversion::TimedOut;
    }
}
