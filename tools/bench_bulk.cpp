// Measures a monitoring cycle's bus time with one conversion per sensor (the 750 ms wait each)
// and with one conversion for the whole bus (the wait ends when the slowest sensor is done),
// on the real serial port: a pseudo-terminal serving a modelled bus whose sensors take 600 ms
// to convert, its echoes held back 1 ms or 16 ms per round trip as a USB adapter's latency
// timer does.
//
//   bench_bulk [cycles=3]
//
// "bus": the link's work of one cycle alone (conversions, waits and readings of every sensor,
// as the cycle runs them; the power question of the first bulk cycle counted apart).
// "whole cycle": the program's monitoring cycle on the same bus, from its start to its end
// (lastCycleMs: store, grids, chart included), with the setting BulkConvert on.
#include "app/ui/TForm1.h"
#include "base/Clock.h"
#include "base/Log.h"
#include "monitor/ui/MonitorCycle.h"
#include "onewire/OneWireCrc.h"
#include "onewire/OneWireLink.h"
#include "onewire/PosixSerialPort.h"
#include "onewire/PtyBusServer.h"
#include "onewire/RomSearch.h"
#include "onewire/TemperatureReader.h"
#include "onewire/VirtualBus.h"
#include "onewire/VirtualSensor.h"
#include "sensors/ui/SensorSlots.h"

#include "PortWindow.h"

#include <QAction>
#include <QApplication>
#include <QCoroTask>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

namespace {

constexpr int ConversionMs = 600;

class QuietLog final : public Log
{
public:
    void AddLog(const QString &message) override { std::fprintf(stderr, "log: %s\n", qPrintable(message)); }
    void addRawLine(const QString &line) override { std::fprintf(stderr, "log: %s\n", qPrintable(line)); }
};

QString serialOf(int k)
{
    std::array<std::uint8_t, 8> rom {0x28, static_cast<std::uint8_t>(k + 1), 0xB7, 0x16, 0x03, 0x00, 0x00, 0x00};
    rom[7] = OneWireCrc::of(rom.data(), 7);
    return RomSearch::codeText(rom);
}

double expectedFor(int k)
{
    return 18.0 + 0.25 * k;
}

// A bus of `count` sensors served on a pty until the object dies.
struct ServedBus
{
    ServedBus(int count, int latencyMs)
        : server(bus)
    {
        for (int k = 0; k < count; ++k) {
            serials << serialOf(k);
            bus.addSensor(serials.back(), expectedFor(k))->setConversionMs(ConversionMs);
        }
        server.setLatencyMs(latencyMs);
        if (!server.open()) {
            std::fprintf(stderr, "bench_bulk: %s\n", qUtf8Printable(server.errorText()));
            std::exit(1);
        }
        serving = std::thread([this] { server.run(); });
    }
    ~ServedBus()
    {
        server.requestStop();
        serving.join();
        server.close();
    }
    VirtualBus bus;
    PtyBusServer server;
    std::thread serving;
    QStringList serials;
};

struct BusFigures
{
    double powerMs = 0;   // the power question (bulk only, once after the port opened)
    double cycleMs = 0;   // the mean of the cycles
    double worstMs = 0;
    int wrong = 0;
};

BusFigures measureBus(int count, int latencyMs, bool bulk, int cycles)
{
    ServedBus served(count, latencyMs);
    PosixSerialPort port(QStringLiteral("/"));
    QuietLog log;
    SystemClock clock;
    OneWireLink link(port, log, clock);
    TemperatureReader reader(link, log);
    BusFigures figures;
    if (!port.OpenCOM(served.server.slavePath())) {
        std::fprintf(stderr, "bench_bulk: open failed: %s\n", qUtf8Printable(port.lastError()));
        std::exit(1);
    }
    port.SetComPortTimeouts();
    QElapsedTimer timer;
    if (bulk) {
        timer.start();
        const std::optional<bool> parasite = QCoro::waitFor(reader.parasitePowered());
        figures.powerMs = timer.nsecsElapsed() / 1e6;
        if (!parasite || *parasite)
            std::fprintf(stderr, "bench_bulk: the power question went wrong\n");
    }
    double total = 0;
    for (int c = 0; c < cycles; ++c) {
        timer.restart();
        std::vector<double> readings;
        if (bulk) {
            if (QCoro::waitFor(reader.convertAll()) != TemperatureReader::Conversion::Done)
                ++figures.wrong;
            for (const QString &sn : served.serials)
                readings.push_back(QCoro::waitFor(reader.readConverted(sn)));
        } else {
            for (const QString &sn : served.serials)
                readings.push_back(QCoro::waitFor(reader.GetTempSn(sn)));
        }
        const double ms = timer.nsecsElapsed() / 1e6;
        total += ms;
        figures.worstMs = std::max(figures.worstMs, ms);
        for (int k = 0; k < count; ++k) {
            if (readings[static_cast<std::size_t>(k)] != expectedFor(k))
                ++figures.wrong;
        }
    }
    figures.cycleMs = total / cycles;
    port.CloseCOM();
    return figures;
}

// The program's own cycles with BulkConvert on: the mean of lastCycleMs after the first.
double measureProgramCycle(int count, int latencyMs, int cycles, int &failures)
{
    ServedBus served(count, latencyMs);
    QTemporaryDir dir;
    const QString programDir = dir.path() + QLatin1Char('/');
    if (!served.server.linkAs(programDir + QStringLiteral("COM1"))) {
        std::fprintf(stderr, "bench_bulk: %s\n", qUtf8Printable(served.server.errorText()));
        std::exit(1);
    }
    PortWindow window(programDir, QStringLiteral("bench_bulk"));
    std::unique_ptr<TForm1> &form = window.form;
    form->BulkConvert = true;
    // Between cycles long enough that the watcher below never misses an end.
    form->Timer1->setInterval(50);
    for (const QString &sn : served.serials)
        form->sensorSlots().AddItem(100, 100, sn.left(6), sn, true, 0, false, 0, 0, 255, CreateClearSign());

    std::vector<qint64> ends;
    bool wasRunning = false;
    QTimer watcher;
    watcher.setInterval(5);
    QObject::connect(&watcher, &QTimer::timeout, form.get(), [&] {
        const bool running = form->monitorCycle().running();
        if (wasRunning && !running)
            ends.push_back(form->monitorCycle().lastCycleMs());
        wasRunning = running;
        if (static_cast<int>(ends.size()) > cycles)
            QCoreApplication::quit();
    });
    QTimer::singleShot(0, form.get(), [&] {
        watcher.start();
        form->N3->setChecked(true);
        form->N3Click();
        wasRunning = form->monitorCycle().running();
    });
    QCoreApplication::exec();
    failures = 0;
    for (int k = 0; k < count; ++k) {
        if (form->sensorSlots().DSItems[static_cast<std::size_t>(k)].LastTemp != expectedFor(k))
            ++failures;
    }
    form.reset();
    // The first cycle asks how the bus is powered as well.
    double total = 0;
    for (std::size_t i = 1; i < ends.size(); ++i)
        total += static_cast<double>(ends[i]);
    return ends.size() > 1 ? total / static_cast<double>(ends.size() - 1) : -1;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const int cycles = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 3;
    std::printf("conversion %d ms per sensor; bus time of one cycle (mean of %d, worst), ms\n", ConversionMs, cycles);
    std::printf("sensors  latency  sensor by sensor     whole bus at once    power question  whole cycle (bulk)\n");
    int status = 0;
    for (const int count : {10, 50}) {
        for (const int latency : {1, 16}) {
            // One cycle sensor by sensor is enough: it is the 750 ms waits.
            const BusFigures one = measureBus(count, latency, false, 1);
            const BusFigures all = measureBus(count, latency, true, cycles);
            int failures = 0;
            const double program = measureProgramCycle(count, latency, cycles, failures);
            std::printf("%7d  %4d ms  %8.0f (%6.0f)    %8.0f (%6.0f)    %8.1f        %8.0f\n", count, latency, one.cycleMs,
                        one.worstMs, all.cycleMs, all.worstMs, all.powerMs, program);
            std::fflush(stdout);
            if (one.wrong || all.wrong || failures) {
                std::fprintf(stderr, "bench_bulk: wrong readings: %d sensor by sensor, %d at once, %d in the program\n",
                             one.wrong, all.wrong, failures);
                status = 1;
            }
        }
    }
    return status;
}
