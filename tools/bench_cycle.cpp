// Measures the monitoring cycle in a real main window on the virtual bus, with the conversion
// wait at zero:
//
//   bench_cycle [memory-cycles=10000] [DIR] [memory|memory-hidden|hidden]
//     memory: part 2 only; memory-hidden: part 2 with the window never shown;
//     hidden: part 1 with the window never shown (no painting)
//
// 1. For 1, 10 and 100 sensors: the time of a whole cycle per sensor, the time the
//    measurements alone take (the link and the bus model: GetTempSn), and the difference,
//    which is what the program spends per sensor beyond the bus (label, chart, store insert,
//    grids, hourly value, alarms, the event processing of the wait).
// 2. Resident memory (VmRSS) of 100 sensors after 100 cycles and after memory-cycles cycles.
//
// The store goes into DIR (default: a new folder under /dev/shm when it exists, so the disk's
// sync time does not hide the program's own; give a disk folder to include it).
#include "base/Clock.h"
#include "app/ui/TForm1.h"
#include "monitor/ui/MonitorCycle.h"
#include "onewire/TemperatureReader.h"
#include "onewire/VirtualBus.h"
#include "sensors/ui/SensorSlots.h"

#include "SilentEdges.h"

#include <QCoroTask>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace {

void waitForIdleBus(const TForm1 &form)
{
    // The cycle runs in the event loop, one wait after another.
    while (!form.busIdle())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
}

QString serialOf(int k)
{
    return QStringLiteral("28%1").arg(k + 1, 12, 16, QLatin1Char('0')).toUpper() + QStringLiteral("00");
}

struct Bench
{
    SystemClock clock;
    SilentBoxes boxes;
    SilentSound sound;
    SilentLauncher launcher;
    VirtualBus *bus = nullptr;
    std::unique_ptr<TForm1> form;

    Bench(const QString &dir, int sensors, bool shown = true)
    {
        QDir().mkpath(dir);
        QFile::remove(dir + QStringLiteral("/Kalvex.st"));
        form = std::make_unique<TForm1>(TForm1Context{
            .clock = clock,
            .boxes = boxes,
            .programDir = ProgramDirectory{dir + QLatin1Char('/'), QString(), QString()},
            .programCommand = {QStringLiteral("bench_cycle")},
            .autostartFile = dir + QStringLiteral("/autostart/Kalvex.desktop"),
            .makeSerialPort =
                [this] {
                    auto port = std::make_unique<VirtualBus>();
                    bus = port.get();
                    return port;
                },
            .demo = false,
            .sound = &sound,
            .launcher = &launcher,
        });
        form->temperatureReader()->setConversionDelayMs(0);
        for (int k = 0; k < sensors; ++k) {
            const QString sn = serialOf(k);
            bus->addSensor(sn, 10.0 + k * 0.25);
            form->sensorSlots().AddItem(20 + (k % 20) * 40, 40 + (k / 20) * 60, QStringLiteral("Д%1").arg(k), sn, true,
                                        0, false, DefaultTrayBackground, DefaultTrayText, 255, CreateClearSign());
        }
        if (shown)
            form->show();
        form->N3->setChecked(true);
        form->N3Click(); // the port opens and the first cycle runs
        waitForIdleBus(*form);
        form->Timer1->stop();
    }
    ~Bench() { form.reset(); }

    void cycles(int count)
    {
        for (int c = 0; c < count; ++c) {
            form->Nabl();
            waitForIdleBus(*form);
            form->Timer1->stop(); // only the cycles the bench runs
        }
    }
};

void timing(const QString &dir, int sensors, bool shown)
{
    Bench bench(dir, sensors, shown);
    const int count = std::max(20, 3000 / sensors);
    bench.cycles(5);
    QElapsedTimer timer;
    timer.start();
    bench.cycles(count);
    const double cycleUs = static_cast<double>(timer.nsecsElapsed()) / 1000.0 / count;

    // The measurements alone, the same number of times.
    TemperatureReader &reader = *bench.form->temperatureReader();
    timer.restart();
    for (int c = 0; c < count; ++c) {
        for (int k = 0; k < sensors; ++k)
            QCoro::waitFor(reader.GetTempSn(serialOf(k)));
    }
    const double busUs = static_cast<double>(timer.nsecsElapsed()) / 1000.0 / count;
    std::printf("%3d sensors: cycle %9.1f us = %7.1f us/sensor; measurement (link + bus model) %7.1f us/sensor; "
                "program beyond the bus %7.1f us/sensor (%d cycles)\n",
                sensors, cycleUs, cycleUs / sensors, busUs / sensors, (cycleUs - busUs) / sensors, count);
    std::fflush(stdout);
}

void memory(const QString &dir, int total, bool shown)
{
    Bench bench(dir, 100, shown);
    bench.cycles(99); // with the first one: 100
    const long after100 = residentKb();
    std::printf("100 sensors: VmRSS after %6d cycles: %ld kB\n", 100, after100);
    std::fflush(stdout);
    QElapsedTimer timer;
    timer.start();
    for (int done = 100; done < total;) {
        const int step = std::min(200 - done % 200, total - done);
        bench.cycles(step);
        done += step;
        std::printf("100 sensors: VmRSS after %6d cycles: %ld kB (%.0f s)\n", done, residentKb(),
                    static_cast<double>(timer.elapsed()) / 1000.0);
        std::fflush(stdout);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int memoryCycles = argc > 1 ? std::max(100, QString::fromLocal8Bit(argv[1]).toInt()) : 10000;
    std::unique_ptr<QTemporaryDir> temp;
    QString dir;
    if (argc > 2) {
        dir = QString::fromLocal8Bit(argv[2]);
    } else {
        const QString base = QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm/bench_cycle-XXXXXX")
                                                                       : QDir::tempPath() + QStringLiteral("/bench_cycle-XXXXXX");
        temp = std::make_unique<QTemporaryDir>(base);
        dir = temp->path();
    }
    std::printf("store in %s\n", qUtf8Printable(dir));
    const bool hidden = argc > 3 && qstrcmp(argv[3], "hidden") == 0;
    const bool memoryHidden = argc > 3 && qstrcmp(argv[3], "memory-hidden") == 0;
    if (argc <= 3 || (qstrcmp(argv[3], "memory") != 0 && !memoryHidden)) {
        for (const int sensors : {1, 10, 100})
            timing(dir, sensors, !hidden);
    }
    if (hidden)
        return 0;
    memory(dir, memoryCycles, !memoryHidden);
    return 0;
}
