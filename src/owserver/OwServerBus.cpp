#include "owserver/OwServerBus.h"

#include "base/Log.h"
#include "onewire/BusWait.h"
#include "onewire/OneWireCrc.h"
#include "onewire/TemperatureReader.h"

#include <QSet>
#include <QTcpSocket>

#include <algorithm>

namespace {

constexpr quint32 RequestFlags = OwMessage::Flag::OwNet | OwMessage::Flag::Persistence;

bool isThermometerFamily(const QString &serial)
{
    return serial.startsWith(QLatin1String("10")) || TemperatureReader::hasB20Format(serial);
}

QString socketProblem(const QTcpSocket &socket)
{
    switch (socket.error()) {
    case QAbstractSocket::ConnectionRefusedError:
        return QStringLiteral("соединение отвергнуто");
    case QAbstractSocket::HostNotFoundError:
        return QStringLiteral("адрес не найден");
    case QAbstractSocket::RemoteHostClosedError:
        return QStringLiteral("сервер закрыл соединение");
    case QAbstractSocket::NetworkError:
        return QStringLiteral("сеть недоступна");
    default:
        return socket.errorString();
    }
}

} // namespace

OwServerBus::OwServerBus(Log &log)
    : m_log(log)
{
}

OwServerBus::~OwServerBus()
{
    m_aborted = true;
    dropConnection();
}

void OwServerBus::setServer(const QString &host, int port, const QString &path)
{
    QString cleanPath = path.trimmed();
    while (cleanPath.endsWith(QLatin1Char('/')))
        cleanPath.chop(1);
    if (!cleanPath.isEmpty() && !cleanPath.startsWith(QLatin1Char('/')))
        cleanPath.prepend(QLatin1Char('/'));
    const QString cleanHost = host.trimmed();
    if (cleanHost == m_host && port == m_port && cleanPath == m_path)
        return;
    m_host = cleanHost;
    m_port = port;
    m_path = cleanPath;
    dropConnection();
    // An outage of the old place says nothing of the new one.
    m_down = false;
    m_failedAt.invalidate();
    m_listed = false;
    m_pending.clear();
}

QString OwServerBus::address() const
{
    // An IPv6 literal in brackets, as in a URL, so that the port stays apart.
    const QString host = m_host.contains(QLatin1Char(':')) ? QLatin1Char('[') + m_host + QLatin1Char(']') : m_host;
    return host + QLatin1Char(':') + QString::number(m_port);
}

void OwServerBus::close()
{
    m_open = false;
    dropConnection();
}

void OwServerBus::abort()
{
    m_aborted = true;
    m_stop.wake();
    dropConnection();
}

QString OwServerBus::driverProblem() const
{
    if (m_host.isEmpty())
        return QStringLiteral("Не задан адрес owserver (меню «Шина…»).");
    return QString();
}

void OwServerBus::setTimeouts(int connectMs, int silenceMs, int totalMs, int retryMs)
{
    m_connectMs = connectMs;
    m_silenceMs = silenceMs;
    m_totalMs = totalMs;
    m_retryMs = retryMs;
}

QByteArray OwServerBus::busPath() const
{
    return m_path.toUtf8();
}

bool OwServerBus::holdingOff() const
{
    return m_down && m_failedAt.isValid() && m_failedAt.elapsed() < m_retryMs;
}

void OwServerBus::dropConnection()
{
    ++m_generation;
    if (!m_socket)
        return;
    QObject::disconnect(m_socket.get(), nullptr, &m_socketNews, nullptr);
    m_socket->abort();
    m_socket.reset();
}

void OwServerBus::failed(const QString &reason)
{
    m_lastError = reason;
    m_failedAt.start();
    if (m_down)
        return;
    m_down = true;
    m_log.AddLog(m_name.isEmpty() ? QStringLiteral("Owserver %1 не отвечает: %2").arg(address(), reason)
                                  : QStringLiteral("%1: owserver %2 не отвечает: %3").arg(m_name, address(), reason));
}

void OwServerBus::answered()
{
    m_lastError.clear();
    if (!m_down)
        return;
    m_down = false;
    m_log.AddLog(m_name.isEmpty() ? QStringLiteral("Owserver %1 снова отвечает").arg(address())
                                  : QStringLiteral("%1: owserver %2 снова отвечает").arg(m_name, address()));
}

QCoro::Task<bool> OwServerBus::waitSocket(int ms)
{
    co_return co_await BusWait(ms, -1, &m_socketNews, &m_stop);
}

QCoro::Task<bool> OwServerBus::connectSocket()
{
    dropConnection();
    const quint64 generation = m_generation;
    m_socket = std::make_unique<QTcpSocket>();
    QTcpSocket *socket = m_socket.get();
    QObject::connect(socket, &QTcpSocket::readyRead, &m_socketNews, &WakeSignal::wake);
    QObject::connect(socket, &QTcpSocket::connected, &m_socketNews, &WakeSignal::wake);
    QObject::connect(socket, &QTcpSocket::disconnected, &m_socketNews, &WakeSignal::wake);
    QObject::connect(socket, &QTcpSocket::errorOccurred, &m_socketNews, &WakeSignal::wake);
    socket->connectToHost(m_host, static_cast<quint16>(m_port));
    QElapsedTimer waited;
    waited.start();
    while (socket->state() != QAbstractSocket::ConnectedState) {
        if (socket->state() == QAbstractSocket::UnconnectedState) {
            failed(socketProblem(*socket));
            dropConnection();
            co_return false;
        }
        const qint64 left = m_connectMs - waited.elapsed();
        if (left <= 0) {
            failed(QStringLiteral("соединения нет %1 мс").arg(m_connectMs));
            dropConnection();
            co_return false;
        }
        co_await waitSocket(static_cast<int>(left));
        if (m_aborted || generation != m_generation)
            co_return false;
    }
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    co_return true;
}

QCoro::Task<std::optional<OwMessage::Reply>> OwServerBus::exchange(const OwMessage::Request &request, bool &retry)
{
    const bool fresh = !m_socket || m_socket->state() != QAbstractSocket::ConnectedState;
    if (fresh && !co_await connectSocket())
        co_return std::nullopt;
    const quint64 generation = m_generation;
    QTcpSocket *socket = m_socket.get();
    m_parser.reset();
    socket->write(OwMessage::encodeRequest(request));
    QElapsedTimer total;
    total.start();
    QElapsedTimer silence;
    silence.start();
    bool anyByte = false;
    for (;;) {
        const QByteArray bytes = socket->readAll();
        if (!bytes.isEmpty()) {
            anyByte = true;
            silence.restart();
            switch (m_parser.feed(bytes)) {
            case OwMessage::ReplyParser::State::Ready: {
                OwMessage::Reply reply = m_parser.take();
                // Without persistence granted the server closes now; the next request connects anew.
                if (!(reply.flags & OwMessage::Flag::Persistence))
                    dropConnection();
                answered();
                co_return reply;
            }
            case OwMessage::ReplyParser::State::Bad:
                failed(QStringLiteral("ответ не по протоколу owserver (%1)").arg(m_parser.error()));
                dropConnection();
                co_return std::nullopt;
            case OwMessage::ReplyParser::State::NeedMore:
                break;
            }
        }
        if (socket->state() != QAbstractSocket::ConnectedState) {
            const QString problem = socketProblem(*socket);
            dropConnection();
            // A kept connection the server let go meanwhile: once more on a new one.
            if (!fresh && !anyByte) {
                retry = true;
                co_return std::nullopt;
            }
            failed(anyByte ? QStringLiteral("соединение оборвалось посреди ответа") : problem);
            co_return std::nullopt;
        }
        const qint64 left = std::min(m_silenceMs - silence.elapsed(), m_totalMs - total.elapsed());
        if (left <= 0) {
            failed(total.elapsed() >= m_totalMs
                       ? QStringLiteral("ответа нет %1 мс, сервер только просит подождать").arg(m_totalMs)
                       : QStringLiteral("ответа нет %1 мс").arg(m_silenceMs));
            // A reply that comes late must not be taken for the next request's.
            dropConnection();
            co_return std::nullopt;
        }
        co_await waitSocket(static_cast<int>(left));
        // Closed, aborted or moved to another server meanwhile: cut short, no outage.
        if (m_aborted || generation != m_generation)
            co_return std::nullopt;
    }
}

QCoro::Task<std::optional<OwMessage::Reply>> OwServerBus::transact(OwMessage::Request request)
{
    while (m_busy && !m_aborted)
        co_await BusWait(-1, -1, &m_freed, &m_stop);
    if (m_aborted || m_host.isEmpty())
        co_return std::nullopt;
    m_busy = true;
    struct Turn
    {
        OwServerBus &bus;
        ~Turn()
        {
            bus.m_busy = false;
            bus.m_freed.wake();
        }
    } turn{*this};
    bool retry = false;
    std::optional<OwMessage::Reply> reply = co_await exchange(request, retry);
    if (!reply && retry && !m_aborted) {
        bool again = false;
        reply = co_await exchange(request, again);
    }
    co_return reply;
}

QCoro::Task<std::optional<QByteArray>> OwServerBus::readText(QByteArray path, bool uncached)
{
    OwMessage::Request request;
    request.type = OwMessage::Read;
    request.flags = RequestFlags | (uncached ? OwMessage::Flag::Uncached : 0);
    request.path = std::move(path);
    const std::optional<OwMessage::Reply> reply = co_await transact(std::move(request));
    if (!reply || reply->ret < 0)
        co_return std::nullopt;
    co_return reply->payload.left(std::clamp<qsizetype>(reply->size, 0, reply->payload.size()));
}

QCoro::Task<std::optional<double>> OwServerBus::readNumber(QByteArray path, bool uncached)
{
    const std::optional<QByteArray> text = co_await readText(std::move(path), uncached);
    if (!text)
        co_return std::nullopt;
    // The server writes a C locale number ("     21.5"); QByteArray reads one in any locale.
    bool ok = false;
    const double value = text->trimmed().toDouble(&ok);
    if (!ok)
        co_return std::nullopt;
    co_return value;
}

QByteArray OwServerBus::deviceOf(const QString &sn)
{
    const auto rom = TemperatureReader::romBytes(sn);
    if (!rom || OneWireCrc::of(rom->data(), 7) != (*rom)[7])
        return QByteArray();
    return OwMessage::deviceName(sn, OwMessage::NameFormat::FDI).value_or(QByteArray());
}

QStringList OwServerBus::serialsOfListing(const QByteArray &listing, bool allFamilies)
{
    QStringList serials;
    QSet<QString> seen;
    for (QByteArray entry : listing.split(',')) {
        entry = entry.trimmed();
        while (entry.endsWith('\0') || entry.endsWith('/'))
            entry.chop(1);
        const QByteArray name = entry.mid(entry.lastIndexOf('/') + 1);
        // Only device names: "bus.0", "settings", "simultaneous" and the like are no devices.
        if (name.size() != 15 || name[2] != '.')
            continue;
        const std::optional<QString> serial = OwMessage::serialOfDeviceName(name);
        if (!serial || seen.contains(*serial) || (!allFamilies && !isThermometerFamily(*serial)))
            continue;
        seen.insert(*serial);
        serials << *serial;
    }
    return serials;
}

QCoro::Task<QString> OwServerBus::listThermometers()
{
    m_listed = true;
    m_pending.clear();
    OwMessage::Request request;
    request.type = OwMessage::DirAll;
    request.flags = RequestFlags;
    request.path = m_path.isEmpty() ? QByteArray("/") : busPath();
    const QString path = QString::fromUtf8(request.path);
    const std::optional<OwMessage::Reply> reply = co_await transact(std::move(request));
    if (!reply) {
        if (m_aborted)
            co_return QString();
        const QString problem = driverProblem();
        co_return problem.isEmpty() ? QStringLiteral("owserver %1 не отвечает: %2").arg(address(), m_lastError) : problem;
    }
    if (reply->ret < 0)
        co_return QStringLiteral("owserver %1: нет пути %2 (ошибка %3)").arg(address(), path).arg(-reply->ret);
    m_pending = serialsOfListing(reply->payload.left(std::clamp<qsizetype>(reply->size, 0, reply->payload.size())));
    co_return QString();
}

void OwServerBus::clearState()
{
    m_listed = false;
    m_pending.clear();
}

QCoro::Task<QString> OwServerBus::FindDS()
{
    if (!m_listed)
        co_await listThermometers();
    if (m_pending.isEmpty() || m_aborted)
        co_return QString();
    co_return m_pending.takeFirst();
}

QCoro::Task<QString> OwServerBus::GetSNForOne()
{
    OwMessage::Request request;
    request.type = OwMessage::DirAll;
    request.flags = RequestFlags;
    request.path = m_path.isEmpty() ? QByteArray("/") : busPath();
    const std::optional<OwMessage::Reply> reply = co_await transact(std::move(request));
    if (!reply || reply->ret < 0)
        co_return QString();
    const QStringList serials = serialsOfListing(reply->payload, true);
    if (serials.isEmpty())
        co_return QString();
    co_return readRomText(serials);
}

QCoro::Task<double> OwServerBus::readTemperature(QString sn, QByteArray property, bool logBadSerial)
{
    if (!TemperatureReader::romBytes(sn)) {
        if (logBadSerial)
            m_log.addRawLine(QStringLiteral("Непавильный серийный номер датчика: ") + sn);
        co_return NoReading;
    }
    // A code whose CRC byte is wrong names no device, as Match ROM on the line would find none.
    const QByteArray device = deviceOf(sn);
    if (device.isEmpty() || !m_open || m_aborted || holdingOff())
        co_return NoReading;
    const std::optional<double> value = co_await readNumber(busPath() + '/' + device + '/' + property, true);
    if (!value || !m_open)
        co_return NoReading;
    co_return *value;
}

QCoro::Task<double> OwServerBus::GetTempSn(QString sn)
{
    return readTemperature(std::move(sn), QByteArrayLiteral("temperature"), true);
}

QCoro::Task<std::optional<bool>> OwServerBus::parasitePowered()
{
    co_return false;
}

QCoro::Task<SensorReader::Conversion> OwServerBus::convertAll()
{
    if (!m_open || m_aborted || holdingOff())
        co_return Conversion::NoPresence;
    OwMessage::Request request;
    request.type = OwMessage::Write;
    request.flags = RequestFlags;
    request.path = busPath() + "/simultaneous/temperature";
    request.data = QByteArrayLiteral("1");
    request.size = static_cast<qint32>(request.data.size());
    const std::optional<OwMessage::Reply> reply = co_await transact(std::move(request));
    co_return reply && reply->ret >= 0 ? Conversion::Done : Conversion::NoPresence;
}

QCoro::Task<double> OwServerBus::readConverted(QString sn)
{
    return readTemperature(std::move(sn), QByteArrayLiteral("latesttemp"), false);
}

QCoro::Task<double> OwServerBus::GetTempSnPolled(QString sn)
{
    return readTemperature(std::move(sn), QByteArrayLiteral("temperature"), true);
}

QCoro::Task<SensorReport> OwServerBus::describe(QString sn)
{
    bool wellFormed = false;
    SensorReport report = reportOf(sn, &wellFormed);
    if (!wellFormed)
        co_return report;
    const QByteArray device = deviceOf(report.serial);
    if (device.isEmpty())
        co_return report;
    const QByteArray base = busPath() + '/' + device + '/';
    const std::optional<QByteArray> type = co_await readText(base + "type", false);
    if (!type) {
        report.signs.push_back({QStringLiteral("owserver"), DiagnosisSign::Result::Unmeasured,
                                m_lastError.isEmpty() ? QStringLiteral("устройства нет на сервере %1").arg(address())
                                                      : QStringLiteral("%1 не отвечает: %2").arg(address(), m_lastError)});
        co_return report;
    }
    report.verdict = SensorReport::Verdict::Undetermined;
    report.signs.push_back({QStringLiteral("тип по owserver"), DiagnosisSign::Result::Hint, QString::fromUtf8(type->trimmed())});
    if (const std::optional<QByteArray> power = co_await readText(base + "power", false))
        report.parasite = power->trimmed() == "0";
    if (const std::optional<double> t = co_await readNumber(base + "temperature", true))
        report.temperature = *t;
    report.signs.push_back({QStringLiteral("подлинность"), DiagnosisSign::Result::Unmeasured,
                            QStringLiteral("owserver не даёт слотов шины: проверкам на подделку нужна шина самой "
                                           "программы (адаптер на последовательном порту)")});
    co_return report;
}
