// Measures the 1-Wire link over a pseudo-terminal: serial round trips (writes that wait for
// echoes) per byte and per reading, and the time they take, against one raw pty round trip.
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

    VirtualBus bus;
    const QString b20 = QStringLiteral("28ECEDC7050000F6");
    const QString s20 = QStringLiteral("108739A80208006F");
    bus.addSensor(b20, 21.5);
    bus.addSensor(s20, -3.5);
    bus.addSensor(QStringLiteral("2825EA52050000CE"), 4.0);
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
    TemperatureReader reader(link, log);
    RomSearch search(link);
    reader.setConversionDelayMs(0);
    int status = 0;
    if (!port.OpenCOM(server.slavePath())) {
        std::fprintf(stderr, "open failed: %s\n", qPrintable(port.lastError()));
        status = 1;
    } else {
        port.SetComPortTimeouts();
        link.ResetT();

        port.resetCounters();
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < iterations; ++i)
            link.SendB(static_cast<std::uint8_t>(i));
        const double sendUs = timer.nsecsElapsed() / 1000.0 / iterations;
        const double sendTrips = double(port.counters().roundTrips) / iterations;

        port.resetCounters();
        timer.restart();
        for (int i = 0; i < iterations; ++i)
            link.GetB();
        const double getUs = timer.nsecsElapsed() / 1000.0 / iterations;
        const double getTrips = double(port.counters().roundTrips) / iterations;
        std::printf("SendB: %.2f round trips/byte, %.1f us/byte (%.2f raw round trips)\n", sendTrips, sendUs, sendUs / raw);
        std::printf("GetB:  %.2f round trips/byte, %.1f us/byte (%.2f raw round trips)\n", getTrips, getUs, getUs / raw);
        std::printf("slot by slot a byte would cost 8 round trips, about %.1f us\n", 8 * raw);

        const int readings = std::max(10, iterations / 10);
        port.resetCounters();
        timer.restart();
        int bad = 0;
        for (int i = 0; i < readings; ++i) {
            const double t = reader.GetTempSn(i % 2 ? s20 : b20);
            if (t != (i % 2 ? -3.5 : 21.5))
                ++bad;
        }
        const double readingUs = timer.nsecsElapsed() / 1000.0 / readings;
        std::printf("GetTempSn: %.2f round trips/reading (slot by slot: 234), %.0f us bus time/reading "
                    "(conversion wait excluded), %d wrong of %d\n",
            double(port.counters().roundTrips) / readings, readingUs, bad, readings);

        port.resetCounters();
        search.clearState();
        const QString first = search.FindDS();
        const auto passTrips = port.counters().roundTrips;
        int found = first.isEmpty() ? 0 : 1;
        while (!search.FindDS().isEmpty())
            ++found;
        std::printf("FindDS: %llu round trips for one pass (3 devices on the bus), %llu for the whole "
                    "enumeration of %d devices\n",
            static_cast<unsigned long long>(passTrips), static_cast<unsigned long long>(port.counters().roundTrips), found);
        port.CloseCOM();
    }
    server.requestStop();
    serving.join();
    return status;
}
