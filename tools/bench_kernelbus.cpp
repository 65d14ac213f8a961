// Readings per second and the window thread's longest stall while the program polls ten
// sensors on the kernel's 1-Wire bus, whose reads block in the kernel:
//
//   bench_kernelbus [cycles=2]
//
// The sysfs folder is a stand-in in a temporary directory: every w1_slave is a FIFO that a
// thread of this program answers 750 ms after the read began (the conversion a kernel read
// waits for), or, after "trigger" went to therm_bulk_read, when that one conversion of the
// whole bus is over (the master reads -1 until then). Two lines: sensor by sensor, and with
// one conversion for the whole bus. A 2 ms timer ticks on the window thread all the time; the
// stall is the longest gap between two of its ticks beyond its interval. Readings per second:
// what was stored over the whole cycles.
#include "app/ui/TForm1.h"
#include "history/ReadingStore.h"
#include "monitor/ui/MonitorCycle.h"
#include "onewire/KernelBus.h"
#include "onewire/OneWireCrc.h"
#include "onewire/RomSearch.h"
#include "onewire/VirtualSensor.h"
#include "sensors/ui/SensorSlots.h"

#include "PortWindow.h"

#include <sqlite3.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using SteadyClock = std::chrono::steady_clock;
constexpr auto Conversion = std::chrono::milliseconds(750);

QString serialOf(int k)
{
    std::array<std::uint8_t, 8> rom {0x28, static_cast<std::uint8_t>(k + 1), 0xA1, 0x16, 0x03, 0x00, 0x00, 0x00};
    rom[7] = OneWireCrc::of(rom.data(), 7);
    return RomSearch::codeText(rom);
}

QByteArray w1SlaveText(double celsius)
{
    const auto pad = VirtualSensor::scratchpadFor(celsius, true);
    QByteArray bytes;
    for (const std::uint8_t b : pad)
        bytes += QByteArray::number(b, 16).rightJustified(2, '0') + ' ';
    return bytes + ": crc=" + QByteArray::number(pad[8], 16).rightJustified(2, '0') + " YES\n" + bytes + "t="
        + QByteArray::number(static_cast<int>(celsius * 1000)) + '\n';
}

void writeFile(const QString &path, const QByteArray &text)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(text);
}

qint64 sinceEpochMs(SteadyClock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

// The kernel's side of the stand-in folder.
class StandIn
{
public:
    StandIn(const QString &root, const QStringList &serials)
        : m_bulkFile(root + QStringLiteral("/w1_bus_master1/therm_bulk_read"))
    {
        QDir().mkpath(root + QStringLiteral("/w1_bus_master1"));
        QStringList names;
        for (const QString &sn : serials)
            names << KernelBus::nameOfSerial(sn);
        writeFile(root + QStringLiteral("/w1_bus_master1/w1_master_slaves"), (names.join(QLatin1Char('\n')) + QLatin1Char('\n')).toLatin1());
        writeFile(m_bulkFile, "0\n");
        m_bulkSize = 2;
        for (int k = 0; k < serials.size(); ++k) {
            QDir().mkpath(root + QLatin1Char('/') + names.at(k));
            const QByteArray fifo = QFile::encodeName(root + QLatin1Char('/') + names.at(k) + QStringLiteral("/w1_slave"));
            ::mkfifo(fifo.constData(), 0600);
            m_fifos.push_back(fifo);
        }
        m_threads.emplace_back([this] { watchBulk(); });
        for (std::size_t k = 0; k < m_fifos.size(); ++k)
            m_threads.emplace_back([this, k] { serve(k, w1SlaveText(20.0 + static_cast<double>(k))); });
    }
    ~StandIn()
    {
        m_stop = true;
        // A writer waits in its open for a reader: give it one so it sees the stop.
        for (const QByteArray &fifo : m_fifos) {
            const int fd = ::open(fifo.constData(), O_RDONLY | O_NONBLOCK);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            if (fd >= 0)
                ::close(fd);
        }
        for (std::thread &t : m_threads)
            t.join();
    }

private:
    // "trigger" appended to therm_bulk_read starts a conversion of the whole bus: -1 until it
    // is over, then 1 (converted, not yet read).
    void watchBulk()
    {
        const QByteArray file = QFile::encodeName(m_bulkFile);
        while (!m_stop) {
            struct stat st {};
            if (::stat(file.constData(), &st) == 0 && st.st_size > m_bulkSize) {
                const auto end = SteadyClock::now() + Conversion;
                m_conversionEndMs = sinceEpochMs(end);
                writeFile(m_bulkFile, "-1\n");
                m_bulkSize = 3;
                std::this_thread::sleep_until(end);
                writeFile(m_bulkFile, "1\n");
                m_bulkSize = 2;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    void serve(std::size_t k, const QByteArray text)
    {
        qint64 lastServedMs = 0;
        while (!m_stop) {
            const int fd = ::open(m_fifos[k].constData(), O_WRONLY);
            if (fd < 0)
                return;
            const auto opened = SteadyClock::now();
            // A conversion of the whole bus since this sensor's last read: its end; else the
            // read converts on its own.
            const qint64 bulkEnd = m_conversionEndMs;
            auto ready = opened + Conversion;
            if (bulkEnd > lastServedMs)
                ready = SteadyClock::time_point(std::chrono::milliseconds(bulkEnd));
            while (!m_stop && SteadyClock::now() < ready)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (!m_stop) {
                const ssize_t written = ::write(fd, text.constData(), static_cast<std::size_t>(text.size()));
                static_cast<void>(written);
            }
            ::close(fd);
            lastServedMs = sinceEpochMs(SteadyClock::now());
            // The reader still holds the FIFO open until it has seen the end: an open at once
            // would pass for the next read and hold that one back.
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }

    QString m_bulkFile;
    std::atomic<qint64> m_bulkSize {0};
    std::atomic<qint64> m_conversionEndMs {0};
    std::vector<QByteArray> m_fifos;
    std::vector<std::thread> m_threads;
    std::atomic<bool> m_stop {false};
};

int statsRows(const QString &path)
{
    sqlite3 *db = nullptr;
    int rows = -1;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt *stmt = nullptr;
        if (sqlite3_prepare_v2(db, "select count(*) from stats", -1, &stmt, nullptr) == SQLITE_OK
            && sqlite3_step(stmt) == SQLITE_ROW)
            rows = sqlite3_column_int(stmt, 0);
        sqlite3_finalize(stmt);
    }
    sqlite3_close_v2(db);
    return rows;
}

struct Result
{
    double longestStallMs = 0;
    double cycleMs = 0;
    double readingsPerSecond = 0;
};

Result run(bool bulk, int cycles)
{
    QTemporaryDir dir;
    const QString programDir = dir.path() + QLatin1Char('/');
    const QString root = dir.path() + QStringLiteral("/devices");
    QStringList serials;
    for (int k = 0; k < 10; ++k)
        serials << serialOf(k);
    auto standIn = std::make_unique<StandIn>(root, serials);

    PortWindow window(programDir, QStringLiteral("bench_kernelbus"));
    std::unique_ptr<TForm1> &form = window.form;
    form->BusKind = QStringLiteral("kernel");
    form->KernelPath = root;
    form->BulkConvert = bulk;
    form->Timer1->setInterval(1);
    for (const QString &sn : serials)
        form->sensorSlots().AddItem(100, 100, sn.left(6), sn, true, 0, false, 0, 0, 255, CreateClearSign());
    form->show();

    Result result;
    QElapsedTimer clockOfTicks;
    clockOfTicks.start();
    qint64 lastTick = -1;
    int cyclesSeen = 0;
    bool wasRunning = false;
    QElapsedTimer cyclesTime;
    qint64 elapsedMs = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(2);
    QObject::connect(&ticker, &QTimer::timeout, form.get(), [&] {
        const qint64 now = clockOfTicks.nsecsElapsed();
        result.longestStallMs = std::max(result.longestStallMs, static_cast<double>(now - lastTick) / 1e6 - 2.0);
        lastTick = now;
        // Cycles of the stand-in last the same to the millisecond: counted by their ends.
        const bool running = form->monitorCycle().running();
        if (wasRunning && !running)
            ++cyclesSeen;
        wasRunning = running;
        if (cyclesSeen >= cycles) {
            elapsedMs = cyclesTime.elapsed();
            form->N3->setChecked(false);
            form->N3Click();
            QCoreApplication::quit();
        }
    });
    QTimer::singleShot(0, form.get(), [&] {
        lastTick = clockOfTicks.nsecsElapsed();
        ticker.start();
        cyclesTime.start();
        form->N3->setChecked(true);
        form->N3Click();
    });
    QCoreApplication::exec();
    const QString store = form->store() ? form->store()->storePath() : QString();
    form.reset();
    // A cycle whose successor starts within a tick goes uncounted: the cycles are the store's.
    const int rows = std::max(statsRows(store), 1);
    result.cycleMs = static_cast<double>(elapsedMs) * 10.0 / rows;
    result.readingsPerSecond = rows * 1000.0 / static_cast<double>(std::max<qint64>(elapsedMs, 1));
    standIn.reset();
    return result;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const int cycles = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 2;
    for (const bool bulk : {false, true}) {
        const Result r = run(bulk, cycles);
        std::printf("%-21s 10 sensors, at least %d cycles: %5.2f readings/s, %7.0f ms a cycle, longest window-thread stall %6.1f ms\n",
                    bulk ? "all sensors at once:" : "sensor by sensor:", cycles, r.readingsPerSecond, r.cycleMs,
                    r.longestStallMs);
        std::fflush(stdout);
    }
    return 0;
}
