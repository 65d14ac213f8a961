#pragma once

#include "onewire/DriverBus.h"
#include "onewire/SensorDiagnosis.h"
#include "onewire/WakeSignal.h"
#include "owserver/OwMessage.h"

#include <QCoroTask>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class Log;
class QTcpSocket;

// The thermometers of an owserver (OWFS's network server, which drives the adapters the
// program has no driver for, on this machine or another): the whole server, or one of its
// buses when a path such as "/bus.1" is given.
//
// One persistent connection, opened on demand by the first request and kept while the
// server grants persistence. Everything waits as a suspension of the window thread's event
// loop (a non-blocking socket); no call blocks. A request has ReplySilenceMs without a byte
// from the server (a keep-alive starts the wait anew) and ReplyTotalMs in all, so a server
// that only ever says "still working" is cut off too.
//
// The server going away (down, refusing, restarted, closing mid-reply, sending what is no
// owserver reply) is logged once with the bus's name and the server's address; until it
// answers again its sensors are no reading, and for RetryMs after a failure readings do not
// even try (a dead server costs a cycle one deadline, not one per sensor). A connection that
// served before and breaks before the reply's first byte is tried once more at once: the
// server closes idle connections, and a restarted server is not an outage.
class OwServerBus final : public DriverBus
{
public:
    explicit OwServerBus(Log &log);
    ~OwServerBus() override;
    OwServerBus(const OwServerBus &) = delete;
    OwServerBus &operator=(const OwServerBus &) = delete;

    // The server and the path of the bus on it (empty or "/" for the whole server); a change
    // drops the connection, and the next request connects to the new place.
    void setServer(const QString &host, int port, const QString &path);
    QString host() const { return m_host; }
    int port() const { return m_port; }
    QString path() const { return m_path; }
    // "host:port" as the log names the server.
    QString address() const;
    // How the log names the bus ("Шина 1").
    void setName(const QString &name) override { m_name = name; }

    void open() override { m_open = true; }
    // Observation off: the connection is closed too.
    void close() override;
    bool isOpen() const { return m_open; }
    void abort() override;
    bool aborted() const { return m_aborted; }
    // Only a missing host makes the bus unusable; a server that does not answer is an outage
    // the readings report.
    QString driverProblem() const override;

    // Asks the server for its thermometers; the text of why it could not be asked, or empty.
    // The search's FindDS() then hands them out one by one.
    QCoro::Task<QString> listThermometers();
    QCoro::Task<QString> openForSearch() override { return listThermometers(); }
    void clearState() override;
    QCoro::Task<QString> FindDS() override;
    QCoro::Task<QString> GetSNForOne() override;

    // The sensor's temperature, converted by the server now (uncached).
    QCoro::Task<double> GetTempSn(QString sn) override;
    // The server drives parasite power itself: never a reason to convert one by one.
    QCoro::Task<std::optional<bool>> parasitePowered() override;
    // One write to the bus's simultaneous/temperature; NoPresence when the server refuses
    // it or cannot be reached (the cycle then reads sensor by sensor).
    QCoro::Task<Conversion> convertAll() override;
    // The temperature the last conversion left (latesttemp), uncached.
    QCoro::Task<double> readConverted(QString sn) override;
    QCoro::Task<double> GetTempSnPolled(QString sn) override;

    // What the server tells of a sensor (family, type, power, its temperature now), for
    // "Сведения…" and --probe; the counterfeit checks need the line's slots, which an owserver
    // does not give.
    QCoro::Task<SensorReport> describe(QString sn) override;

    // Why the last request failed (empty after a success).
    QString lastError() const { return m_lastError; }
    bool down() const { return m_down; }

    static constexpr int ConnectMs = 3000;
    static constexpr int ReplySilenceMs = 5000;
    static constexpr int ReplyTotalMs = 20000;
    static constexpr int RetryMs = 2000;
    // Tests and tools shorten them.
    void setTimeouts(int connectMs, int silenceMs, int totalMs, int retryMs);

    // The device name ("28.ECEDC7050000") of a 16-digit serial whose last byte is its CRC;
    // empty for anything else.
    static QByteArray deviceOf(const QString &sn);
    // The serials of a directory listing's thermometers (families 10, 22, 28, 3B, 42), in
    // the server's order; with allFamilies every device.
    static QStringList serialsOfListing(const QByteArray &listing, bool allFamilies = false);

private:
    // One request and its reply; nothing when the server could not be asked (an outage,
    // logged) or the request was cut short (abort, close, another server). A reply with a
    // negative return value is the server's answer (no such device, say).
    QCoro::Task<std::optional<OwMessage::Reply>> transact(OwMessage::Request request);
    QCoro::Task<std::optional<OwMessage::Reply>> exchange(const OwMessage::Request &request, bool &retry);
    QCoro::Task<bool> connectSocket();
    // Waits until the socket has news, the deadline passes or abort(); false on the deadline.
    QCoro::Task<bool> waitSocket(int ms);
    void dropConnection();
    void failed(const QString &reason);
    void answered();
    QCoro::Task<std::optional<double>> readNumber(QByteArray path, bool uncached);
    QCoro::Task<std::optional<QByteArray>> readText(QByteArray path, bool uncached);
    QCoro::Task<double> readTemperature(QString sn, QByteArray property, bool logBadSerial);
    QByteArray busPath() const;
    bool holdingOff() const;

    Log &m_log;
    QString m_name = QStringLiteral("Шина 1");
    QString m_host;
    int m_port = OwMessage::DefaultPort;
    QString m_path;
    std::unique_ptr<QTcpSocket> m_socket;
    OwMessage::ReplyParser m_parser;
    // Counts dropped connections: a wait that resumes on another one has been cut short.
    quint64 m_generation = 0;
    WakeSignal m_socketNews;
    WakeSignal m_stop;
    WakeSignal m_freed;
    bool m_busy = false;
    bool m_open = false;
    bool m_aborted = false;
    bool m_down = false;
    QElapsedTimer m_failedAt;
    QString m_lastError;
    bool m_listed = false;
    QStringList m_pending;
    int m_connectMs = ConnectMs;
    int m_silenceMs = ReplySilenceMs;
    int m_totalMs = ReplyTotalMs;
    int m_retryMs = RetryMs;
};
