// Measures how long the window thread's event loop stands still during monitoring cycles of
// ten sensors on the real serial port (a pseudo-terminal serving a modelled bus), with the
// real 750 ms conversion wait:
//
//   bench_stall [cycles=2]
//
// Two lines: a live bus, and a silent line (the adapter is there, nothing echoes: every
// transaction waits out the port's read time-out). A 2 ms timer ticks all the time; the stall
// is the longest gap between two of its ticks beyond its interval, over whole cycles. Readings
// per minute: what the live bus stored in a minute of cycles.
#include "app/ui/TForm1.h"
#include "base/Clock.h"
#include "monitor/ui/MonitorCycle.h"
#include "onewire/OneWireCrc.h"
#include "onewire/PosixSerialPort.h"
#include "onewire/PtyBusServer.h"
#include "onewire/RomSearch.h"
#include "onewire/VirtualBus.h"
#include "sensors/ui/SensorSlots.h"

#include "PortWindow.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <thread>

namespace {

QString serialOf(int k)
{
    // Family 28, a running number, its CRC byte last.
    std::array<std::uint8_t, 8> rom {0x28, static_cast<std::uint8_t>(k + 1), 0xA1, 0x16, 0x03, 0x00, 0x00, 0x00};
    rom[7] = OneWireCrc::of(rom.data(), 7);
    return RomSearch::codeText(rom);
}

struct Result
{
    double longestStallMs = 0;
    double cycleMs = 0;
};

Result run(bool silent, int cycles)
{
    QTemporaryDir dir;
    const QString programDir = dir.path() + QLatin1Char('/');
    VirtualBus bus;
    QStringList serials;
    for (int k = 0; k < 10; ++k)
    {
        serials << serialOf(k);
        bus.addSensor(serials.back(), 20.0 + k);
    }
    if (silent)
        bus.setFault(VirtualBus::EchoFault::NoEcho);
    PtyBusServer server(bus);
    if (!server.open() || !server.linkAs(programDir + QStringLiteral("COM1"))) {
        std::fprintf(stderr, "bench_stall: %s\n", qUtf8Printable(server.errorText()));
        std::exit(1);
    }
    std::thread serving([&server] { server.run(); });

    PortWindow window(programDir, QStringLiteral("bench_stall"));
    std::unique_ptr<TForm1> &form = window.form;
    form->Timer1->setInterval(1);
    for (const QString &sn : serials)
        form->sensorSlots().AddItem(100, 100, sn.left(6), sn, true, 0, false, 0, 0, 255, CreateClearSign());
    form->show();

    Result result;
    QElapsedTimer clockOfTicks;
    clockOfTicks.start();
    qint64 lastTick = -1;
    int cyclesSeen = 0;
    qint64 lastCycleMs = -1;
    QElapsedTimer cyclesTime;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(2);
    QObject::connect(&ticker, &QTimer::timeout, form.get(), [&] {
        const qint64 now = clockOfTicks.nsecsElapsed();
        // The first cycle's start-up (port opening) is counted as well.
        result.longestStallMs = std::max(result.longestStallMs, static_cast<double>(now - lastTick) / 1e6 - 2.0);
        lastTick = now;
        const qint64 cycleMs = form->monitorCycle().lastCycleMs();
        if (cycleMs != lastCycleMs) {
            ++cyclesSeen;
            lastCycleMs = cycleMs;
        }
        if (cyclesSeen >= cycles)
            QCoreApplication::quit();
    });
    QTimer::singleShot(0, form.get(), [&] {
        lastTick = clockOfTicks.nsecsElapsed();
        ticker.start();
        cyclesTime.start();
        form->N3->setChecked(true);
        form->N3Click();
    });
    QCoreApplication::exec();
    result.cycleMs = static_cast<double>(cyclesTime.elapsed()) / cycles;
    form.reset();
    server.requestStop();
    serving.join();
    server.close();
    return result;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const int cycles = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 2;
    for (const bool silent : {false, true}) {
        const Result r = run(silent, cycles);
        std::printf("%-12s 10 sensors, %d cycles: longest window-thread stall %7.1f ms, %8.0f ms a cycle\n",
                    silent ? "silent line:" : "live bus:", cycles, r.longestStallMs, r.cycleMs);
        std::fflush(stdout);
    }
    return 0;
}
