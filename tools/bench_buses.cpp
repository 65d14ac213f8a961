// Several buses in one program, each a pseudo-terminal served by the bus simulator, with the
// real conversion time (750 ms, or the sensors' own when the whole bus converts at once):
//
//   bench_buses [seconds=60] [interval-ms=1000] [DIR]
//
// 1. Readings per minute of one bus of 10 sensors alone, beside a silent bus (a line nobody
//    answers on, 10 sensors), and beside two more live buses of 10 sensors; sensor by sensor
//    and with one conversion for the whole bus. Each run lasts `seconds`.
// 2. The cycle of 4 live buses of 10 sensors each, sensor by sensor: each bus's cycle alone (a
//    program of that one bus), then all four in one program (the mean of three cycles each), against the sum and the
//    maximum of the buses alone.
#include "app/ui/TForm1.h"
#include "base/Clock.h"
#include "base/ReadingFeed.h"
#include "buses/BusSet.h"
#include "monitor/ui/MonitorCycle.h"
#include "onewire/PosixSerialPort.h"
#include "onewire/PtyBusServer.h"
#include "onewire/SerialHouseBus.h"
#include "onewire/VirtualBus.h"
#include "onewire/VirtualSensor.h"
#include "sensors/ui/SensorSlots.h"

#include "SilentEdges.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <numeric>
#include <thread>

namespace {

constexpr int SensorsPerBus = 10;

QString serialOf(int bus, int k)
{
    return QStringLiteral("28%1%2").arg(bus, 2, 16, QLatin1Char('0')).arg(k + 1, 10, 16, QLatin1Char('0')).toUpper()
           + QStringLiteral("00");
}

// A line served on a pseudo-terminal linked as COMn; silent: nobody answers.
struct Line
{
    VirtualBus bus;
    PtyBusServer server{bus};
    std::unique_ptr<std::thread> serving;

    Line(const QString &link, int number, bool silent, int conversionMs)
    {
        for (int k = 0; k < SensorsPerBus; ++k)
            bus.addSensor(serialOf(number, k), 10.0 + number + k * 0.25)->setConversionMs(conversionMs);
        if (!server.open() || !server.linkAs(link)) {
            std::fprintf(stderr, "bench_buses: %s\n", qUtf8Printable(server.errorText()));
            std::exit(1);
        }
        if (!silent)
            serving = std::make_unique<std::thread>([this] { server.run(); });
    }
    ~Line()
    {
        if (serving) {
            server.requestStop();
            serving->join();
        }
        server.close();
    }
};

struct Program
{
    SystemClock clock;
    SilentBoxes boxes;
    SilentSound sound;
    SilentLauncher launcher;
    std::unique_ptr<TForm1> form;
    std::vector<std::unique_ptr<Line>> lines;
    qint64 busOneReadings = 0;

    // Buses 1..n on COM1..COMn; `silent` lists the lines nobody answers on.
    Program(const QString &dir, int buses, const std::vector<int> &silent, bool bulk, int intervalMs)
    {
        QDir(dir).removeRecursively();
        QDir().mkpath(dir);
        for (int b = 1; b <= buses; ++b) {
            const bool quiet = std::find(silent.begin(), silent.end(), b) != silent.end();
            lines.push_back(std::make_unique<Line>(dir + QStringLiteral("/COM%1").arg(b), b, quiet, bulk ? 750 : 0));
        }
        form = std::make_unique<TForm1>(TForm1Context{
            .clock = clock,
            .boxes = boxes,
            .programDir = ProgramDirectory{dir + QLatin1Char('/'), QString(), QString()},
            .programCommand = {QStringLiteral("bench_buses")},
            .autostartFile = dir + QStringLiteral("/autostart/Kalvex.desktop"),
            .makeSerialPort = [dir] { return std::make_unique<PosixSerialPort>(dir + QLatin1Char('/')); },
            .demo = false,
            .sound = &sound,
            .launcher = &launcher,
        });
        form->COMPort = 1;
        form->BulkConvert = bulk;
        for (int b = 2; b <= buses; ++b) {
            BusConfig more;
            more.COMPort = b;
            more.BulkConvert = bulk;
            form->MoreBuses.push_back(more);
        }
        for (int b = 1; b <= buses; ++b) {
            for (int k = 0; k < SensorsPerBus; ++k) {
                const int slot = form->sensorSlots().AddItem(20 + k * 40, 40 * b, QStringLiteral("Ш%1 Д%2").arg(b).arg(k),
                                                             serialOf(b, k), true, 0, false, DefaultTrayBackground,
                                                             DefaultTrayText, 255, CreateClearSign());
                form->sensorSlots().DSItems[static_cast<std::size_t>(slot)].Bus = b;
            }
        }
        form->Timer1->setInterval(intervalMs);
        QObject::connect(&form->monitorCycle().feed(), &ReadingFeed::accepted, form.get(), [this](const FeedReading &r) {
            if (r.SN.startsWith(QStringLiteral("2801")))
                ++busOneReadings;
        });
    }
    ~Program()
    {
        form->N3->setChecked(false);
        form->N3Click();
        while (!form->busIdle())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        form.reset();
    }
    void on()
    {
        form->N3->setChecked(true);
        form->N3Click();
    }
    void run(int ms)
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < ms)
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 10);
    }
};

double readingsPerMinute(const QString &dir, int buses, const std::vector<int> &silent, bool bulk, int seconds,
                         int intervalMs)
{
    Program program(dir, buses, silent, bulk, intervalMs);
    program.on();
    // The first cycle opens the ports and recalls the sensors: not counted.
    program.run(3000);
    const qint64 before = program.busOneReadings;
    program.run(seconds * 1000);
    return static_cast<double>(program.busOneReadings - before) * 60.0 / seconds;
}

// Mean milliseconds of `count` cycles after the first, Timer1 left out (each cycle started by
// hand once the one before has ended).
double cycleMs(const QString &dir, int buses, int count)
{
    Program program(dir, buses, {}, false, 1000000);
    program.on();
    const auto idle = [&program] {
        while (!program.form->busIdle())
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
    };
    idle();
    double total = 0;
    for (int c = 0; c < count; ++c) {
        program.form->Timer1->stop();
        program.form->Nabl();
        idle();
        total += static_cast<double>(program.form->monitorCycle().lastCycleMs());
    }
    return total / count;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(5, QString::fromLocal8Bit(argv[1]).toInt()) : 60;
    const int intervalMs = argc > 2 ? std::max(1, QString::fromLocal8Bit(argv[2]).toInt()) : 1000;
    QTemporaryDir temporary;
    const QString dir = argc > 3 ? QString::fromLocal8Bit(argv[3]) : temporary.path() + QStringLiteral("/bench");

    std::printf("readings per minute of bus 1 (10 sensors), %d s each, Timer1 %d ms\n", seconds, intervalMs);
    std::printf("%-28s %12s %12s\n", "", "one by one", "whole bus");
    struct Case
    {
        const char *name;
        int buses;
        std::vector<int> silent;
    };
    const Case cases[] = {
        {"alone", 1, {}},
        {"beside a silent bus", 2, {2}},
        {"beside two live buses", 3, {}},
    };
    for (const Case &c : cases) {
        const double single = readingsPerMinute(dir, c.buses, c.silent, false, seconds, intervalMs);
        const double bulk = readingsPerMinute(dir, c.buses, c.silent, true, seconds, intervalMs);
        std::printf("%-28s %12.1f %12.1f\n", c.name, single, bulk);
        std::fflush(stdout);
    }

    std::printf("\ncycle of 4 buses x 10 sensors, sensor by sensor (mean of 3 cycles)\n");
    std::vector<double> alone;
    // Each bus alone is a program of its own with that one bus.
    for (int b = 1; b <= 4; ++b) {
        alone.push_back(cycleMs(dir, 1, 3));
        std::printf("bus %d alone: %8.0f ms\n", b, alone.back());
        std::fflush(stdout);
    }
    const double together = cycleMs(dir, 4, 3);
    const double sum = std::accumulate(alone.begin(), alone.end(), 0.0);
    const double most = *std::max_element(alone.begin(), alone.end());
    std::printf("all four:     %8.0f ms   sum %0.0f ms, maximum %0.0f ms: %+.1f %% of the maximum\n", together, sum, most,
                (together / most - 1.0) * 100.0);
    return 0;
}
