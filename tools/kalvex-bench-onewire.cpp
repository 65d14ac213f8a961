// Measures the 1-Wire link over a pseudo-terminal: serial round trips (writes that wait for
// echoes) per byte, per reading and per search pass, and the time they take, against one raw
// pty round trip; then the same with the echoes held back 1 and 16 ms per round trip, as a
// USB serial adapter's latency timer does (FTDI: 16 ms by default, 1 ms in low-latency mode).
// The conversion wait is left out: the times are the bus time a reading adds to its 750 ms.
//
//   kalvex-bench-onewire [ITERATIONS]

#include "base/Clock.h"
#include "base/Log.h"
#include "onewire/OneWireLink.h"
#include "onewire/PosixSerialPort.h"
#include "onewire/PtyBusServer.h"
#include "onewire/RomSearch.h"
#include "onewire/TemperatureReader.h"
#include "onewire/VirtualBus.h"
#include "onewire/VirtualSensor.h"

#include <QCoroTask>
#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace {

class QuietLog final : public Log
{
public:
    void AddLog(const QString &message) override { std::fprintf(stderr, "log: %s\n", qPrintable(message)); }
    void addRawLine(const QString &line) override { std::fprintf(stderr, "log: %s\n", qPrintable(line)); }
};

// One character out and its echo back through a pty whose far end only echoes.
double rawRoundTripMicroseconds(int iterations)
{
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
        return -1;
    char name[128] = {};
    ::ptsname_r(master, name, sizeof name);
    int stop[2];
    if (::pipe(stop) != 0)
        return -1;
    std::thread echo([master, stop] {
        unsigned char buffer[64];
        for (;;) {
            pollfd fds[2] = { { master, POLLIN, 0 }, { stop[0], POLLIN, 0 } };
            if (::poll(fds, 2, -1) < 0 || fds[1].revents)
                return;
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n > 0 && ::write(master, buffer, static_cast<size_t>(n)) < 0)
                return;
        }
    });
    PosixSerialPort port(QStringLiteral("/"));
    double result = -1;
    if (port.OpenCOM(QString::fromLocal8Bit(name))) {
        port.SetComPortTimeouts();
        port.SetModCOM(115200, 8, 0, 0, true, false);
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < iterations; ++i) {
            std::uint8_t byte = 0xFF;
            int read = 0;
            port.TxByteCOM(byte);
            port.RxDataCOM(&byte, 1, read);
        }
        result = timer.nsecsElapsed() / 1000.0 / iterations;
        port.CloseCOM();
    }
    [[maybe_unused]] const ssize_t w = ::write(stop[1], "x", 1);
    echo.join();
    ::close(stop[0]);
    ::close(stop[1]);
    ::close(master);
    return result;
}

struct BusFigures
{
    double tripsPerReading = 0;
    double msPerReading = 0;
    int wrongReadings = 0;
    int readings = 0;
    double tripsPerPass = 0;
    double msPerPass = 0;
    int found = 0;
};

const QString b20 = QStringLiteral("28ECEDC7050000F6");
const QString s20 = QStringLiteral("108739A80208006F");
const QString b20b = QStringLiteral("2825EA52050000CE");

double expectedFor(const QString &serial)
{
    return serial == s20 ? -3.5 : serial == b20 ? 21.5 : 4.0;
}

// Readings and search passes over three sensors behind a pty that answers after latencyMs.
bool measureBus(int latencyMs, int readings, int enumerations, BusFigures &figures)
{
    VirtualBus bus;
    bus.addSensor(b20, expectedFor(b20));
    bus.addSensor(s20, expectedFor(s20));
    bus.addSensor(b20b, expectedFor(b20b));
    PtyBusServer server(bus);
    server.setLatencyMs(latencyMs);
    if (!server.open()) {
        std::fprintf(stderr, "no pty: %s\n", qPrintable(server.errorText()));
        return false;
    }
    std::thread serving([&server] { server.run(); });
    PosixSerialPort port(QStringLiteral("/"));
    QuietLog log;
    SystemClock clock;
    OneWireLink link(port, log, clock);
    TemperatureReader reader(link, log);
    RomSearch search(link);
    reader.setConversionDelayMs(0);
    const bool opened = port.OpenCOM(server.slavePath());
    if (!opened) {
        std::fprintf(stderr, "open failed: %s\n", qPrintable(port.lastError()));
    } else {
        port.SetComPortTimeouts();
        QCoro::waitFor(link.ResetT());
        const QString serials[] = { b20, s20, b20b };
        port.resetCounters();
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < readings; ++i) {
            const QString &serial = serials[i % 3];
            if (QCoro::waitFor(reader.GetTempSn(serial)) != expectedFor(serial))
                ++figures.wrongReadings;
        }
        figures.readings = readings;
        figures.msPerReading = timer.nsecsElapsed() / 1e6 / readings;
        figures.tripsPerReading = double(port.counters().roundTrips) / readings;

        // Only passes that walk the bus count; the call after the last device sends nothing.
        int passes = 0;
        qint64 passNs = 0;
        std::uint64_t passTrips = 0;
        figures.found = 0;
        for (int e = 0; e < enumerations; ++e) {
            search.clearState();
            for (;;) {
                const bool walks = !search.LastDeviceFlag;
                port.resetCounters();
                timer.restart();
                const QString code = QCoro::waitFor(search.FindDS());
                if (walks) {
                    passNs += timer.nsecsElapsed();
                    passTrips += port.counters().roundTrips;
                    ++passes;
                }
                if (code.isEmpty())
                    break;
                if (e == 0)
                    ++figures.found;
            }
        }
        figures.msPerPass = passes ? passNs / 1e6 / passes : 0;
        figures.tripsPerPass = passes ? double(passTrips) / passes : 0;
        port.CloseCOM();
    }
    server.requestStop();
    serving.join();
    return opened;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int iterations = argc > 1 ? std::max(10, std::atoi(argv[1])) : 2000;

    // The best of three runs: the machine's other load only ever adds time.
    double raw = rawRoundTripMicroseconds(iterations);
    for (int i = 0; i < 2; ++i)
        raw = std::min(raw, rawRoundTripMicroseconds(iterations));
    std::printf("raw pty round trip (1 character and its echo): %.1f us\n", raw);

    {
        VirtualBus bus;
        bus.addSensor(b20, 21.5);
        PtyBusServer server(bus);
        if (!server.open()) {
            std::fprintf(stderr, "no pty: %s\n", qPrintable(server.errorText()));
            return 1;
        }
        std::thread serving([&server] { server.run(); });
        PosixSerialPort port(QStringLiteral("/"));
        QuietLog log;
        SystemClock clock;
        OneWireLink link(port, log, clock);
        if (port.OpenCOM(server.slavePath())) {
            port.SetComPortTimeouts();
            QCoro::waitFor(link.ResetT());
            port.resetCounters();
            QElapsedTimer timer;
            timer.start();
            for (int i = 0; i < iterations; ++i)
                QCoro::waitFor(link.SendB(static_cast<std::uint8_t>(i)));
            const double sendUs = timer.nsecsElapsed() / 1000.0 / iterations;
            const double sendTrips = double(port.counters().roundTrips) / iterations;
            port.resetCounters();
            timer.restart();
            for (int i = 0; i < iterations; ++i)
                QCoro::waitFor(link.GetB());
            const double getUs = timer.nsecsElapsed() / 1000.0 / iterations;
            const double getTrips = double(port.counters().roundTrips) / iterations;
            std::printf("SendB: %.2f round trips/byte, %.1f us/byte (%.2f raw round trips)\n", sendTrips, sendUs, sendUs / raw);
            std::printf("GetB:  %.2f round trips/byte, %.1f us/byte (%.2f raw round trips)\n", getTrips, getUs, getUs / raw);
            port.CloseCOM();
        }
        server.requestStop();
        serving.join();
    }

    std::printf("\nthree sensors on the bus; the conversion wait left out of every reading\n");
    std::printf("latency/round trip  round trips/reading  ms/reading  round trips/pass  ms/pass  wrong readings  found\n");
    int status = 0;
    for (const int latency : { 0, 1, 16 }) {
        // Fewer repetitions where each round trip costs milliseconds.
        const int readings = latency == 0 ? std::max(30, iterations / 10) : latency == 1 ? 30 : 15;
        const int enumerations = latency == 0 ? std::max(3, iterations / 200) : latency == 1 ? 3 : 2;
        BusFigures figures;
        if (!measureBus(latency, readings, enumerations, figures)) {
            status = 1;
            continue;
        }
        std::printf("%5d ms            %10.2f          %9.1f   %10.1f        %8.1f   %4d of %-4d      %d\n",
            latency, figures.tripsPerReading, figures.msPerReading, figures.tripsPerPass, figures.msPerPass,
            figures.wrongReadings, figures.readings, figures.found);
        if (figures.wrongReadings != 0 || figures.found != 3)
            status = 1;
    }
    return status;
}
