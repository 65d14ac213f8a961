#pragma once

#include "onewire/DriverBus.h"
#include "onewire/WakeSignal.h"

#include <QCoroTask>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

class Log;

// The sensors of the kernel's own 1-Wire driver (w1-gpio on a Raspberry Pi, a DS2482 or a
// DS9490R), as sysfs shows them under one folder (/sys/bus/w1/devices): every bus master as
// w1_bus_master<n> with its w1_master_slaves, every device as <family>-<six serial bytes,
// last first> with its w1_slave (the scratchpad bytes and the kernel's CRC verdict).
//
// The same operations as the serial bus, with the same results: the search reports every
// device of every master as the program's 16-digit serial (its CRC added) in the order the
// Search ROM walk gives; a reading takes the nine scratchpad bytes and applies the serial
// bus's checks, so a sensor gives the same value or the same "no reading" over either bus. A
// device gone, a read that says crc=NO or comes back empty (a conversion still pending) are
// no reading; a file the program may not read or write is logged once until it works again.
//
// The kernel's reads block for the whole conversion (about 750 ms), so they run on worker
// threads of this object's own; the coroutines here suspend (the event loop runs on) until
// the worker's result arrives, the job time-out passes or abort() is called. A read that hangs
// in the kernel (a hung driver, a slow I2C bridge) holds only its own worker: the other
// sensors' reads go on beside it, and while it hangs the same file is not asked again (no
// reading at once, logged once), so abandoned jobs never pile up. Nothing else of the object
// leaves the window thread: a job gets the paths by value and hands back only bytes.
class KernelBus final : public DriverBus
{
public:
    explicit KernelBus(Log &log, QString path = defaultPath());
    // Joins the idle workers; one stuck in the kernel cannot be cut short and is left to end
    // by itself (it holds nothing of this object), so a closing program never waits on it.
    ~KernelBus() override;
    KernelBus(const KernelBus &) = delete;
    KernelBus &operator=(const KernelBus &) = delete;

    static QString defaultPath() { return QStringLiteral("/sys/bus/w1/devices"); }
    // The folder of the devices and bus masters; the next operation uses it.
    void setPath(const QString &path) { m_path = path; }
    QString path() const { return m_path; }

    // As the serial port is opened by switching observation on and closed by switching it
    // off: while closed, a reading (and one under way when it closes) is no reading and a
    // conversion finds no bus, as a closed port finds no presence. The search and the
    // single-device read need no opening.
    void open() override { m_open = true; }
    void close() override { m_open = false; }
    bool isOpen() const { return m_open; }

    // Why no sensor can be read: empty when the folder holds a bus master; the text for the
    // log or a box otherwise (no folder, no master: the driver is not loaded; no rights).
    QString driverProblem() const override;

    // The next device of the enumeration (empty when there is none more; the state is then
    // cleared, as after the serial bus's last device).
    QCoro::Task<QString> FindDS() override;
    void clearState() override;
    // The serial bus's Read ROM of a lone device: the 8 bytes, each as two upper-case hex
    // digits and a space; several devices give the AND of their codes (as the wired-AND of
    // the line would), none the empty text.
    QCoro::Task<QString> GetSNForOne() override;

    QCoro::Task<double> GetTempSn(QString sn) override;
    // The kernel drives parasite-powered devices itself (strong pull-up, full wait): false
    // whenever a bus master is there, nothing otherwise.
    QCoro::Task<std::optional<bool>> parasitePowered() override;
    // "trigger" written to therm_bulk_read of every master (the write may block for the whole
    // conversion), then until no master reads -1 (converting). NoPresence when there is no
    // master, no such file (an older kernel) or no right to write it.
    QCoro::Task<Conversion> convertAll() override;
    QCoro::Task<double> readConverted(QString sn) override;
    QCoro::Task<double> GetTempSnPolled(QString sn) override;

    // A closing program: no further job starts, waits under way end now, and what they
    // bring is no reading and no device.
    void abort() override;
    bool aborted() const { return m_aborted; }
    // The longest a job is awaited before it counts as no answer; the job itself runs out.
    void setJobTimeoutMs(int ms) { m_jobTimeoutMs = ms; }
    // How long convertAll() waits for a master that still reads -1 after its trigger.
    static constexpr int ConversionLimitMs = 750 + 100;
    static constexpr int BulkPollMs = 10;

    // The serial text (16 upper-case hex digits, CRC last) of a device folder's name such as
    // "28-000005c7edec"; empty for any other name.
    static QString serialOfName(const QString &name);
    // The device folder's name of a serial text; empty unless it is 16 hex digits whose last
    // byte is the CRC of the others (no device can have another code).
    static QString nameOfSerial(const QString &sn);
    // The nine scratchpad bytes of a w1_slave text; nothing when its first line does not hold
    // nine bytes or the kernel found their CRC wrong ("crc=.. NO").
    static std::optional<std::array<std::uint8_t, 9>> scratchpadOf(const QByteArray &w1Slave);
    // Serial texts in the order the Search ROM walk finds them: bit by bit from the family
    // code's least significant bit, 0 before 1.
    static void sortInSearchOrder(QStringList &serials);

    // The nine scratchpad bytes of a device as the kernel reads them; nothing when there is
    // no answer (a malformed serial, a closed bus, a device gone, crc=NO, no rights).
    QCoro::Task<std::optional<std::array<std::uint8_t, 9>>> scratchpad(QString sn);

    // Most workers at once; more jobs wait for one of them.
    static constexpr int MaxWorkers = 16;

private:
    struct Pool;
    // Runs job on a worker. key names what it touches: while an earlier job of that key
    // that was given up on still runs, nothing is queued and the answer is nothing at once.
    template <class T>
    QCoro::Task<std::optional<T>> offThread(QString key, std::function<T()> job);
    // Queues a job, starting a worker when none is free.
    void post(std::function<void()> job);
    // True while a given-up job of key still runs (logged once); forgets it once it ended.
    bool stillHanging(const QString &key);
    QCoro::Task<std::optional<std::array<std::uint8_t, 9>>> readScratchpad(QString sn, bool logBadSerial);
    QCoro::Task<double> read(QString sn, bool logBadSerial);
    QCoro::Task<QStringList> listDevices();
    QStringList masters() const;
    // Logs message once under key until cleared() for that key.
    void reportOnce(const QString &key, const QString &message);
    void cleared(const QString &key) { m_reported.remove(key); }

    Log &m_log;
    QString m_path;
    // Shared with the workers, which may outlive this object.
    std::shared_ptr<Pool> m_pool;
    std::vector<std::thread> m_workers;
    // Jobs given up on at their time-out, by key: set once each has ended.
    QHash<QString, std::shared_ptr<std::atomic<bool>>> m_hanging;
    WakeSignal m_stopped;
    bool m_aborted = false;
    bool m_open = false;
    int m_jobTimeoutMs = 5000;
    bool m_listed = false;
    QStringList m_pending;
    QSet<QString> m_reported;
};
