// Measures how long the diagnosis of one sensor takes, and what it says, for every modelled
// device (genuine, parasite-powered genuine, DS18S20, the clones) on the real serial port: a
// pseudo-terminal serving the modelled bus, its echoes held back 1 ms or 16 ms per round trip
// as a USB adapter's latency timer does. Genuine devices convert in 600 ms at 12 bits.
//
//   bench_diagnosis [runs=3]
#include "base/Clock.h"
#include "base/Log.h"
#include "onewire/OneWireLink.h"
#include "onewire/PosixSerialPort.h"
#include "onewire/PtyBusServer.h"
#include "onewire/SensorDiagnosis.h"
#include "onewire/VirtualBus.h"
#include "onewire/VirtualSensor.h"

#include <QCoreApplication>
#include <QCoroTask>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <thread>

namespace {

class QuietLog final : public Log
{
public:
    void AddLog(const QString &message) override { std::fprintf(stderr, "log: %s\n", qPrintable(message)); }
    void addRawLine(const QString &line) override { std::fprintf(stderr, "log: %s\n", qPrintable(line)); }
};

struct Case
{
    const char *name;
    VirtualSensor::Model model;
    bool parasite;
    bool ds18s20;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const Case cases[] = {
        {"genuine DS18B20", VirtualSensor::Model::Genuine, false, false},
        {"genuine DS18B20, parasite", VirtualSensor::Model::Genuine, true, false},
        {"genuine DS18S20", VirtualSensor::Model::Genuine, false, true},
        {"clone-ff (28 FF, byte 6 stuck, 30 ms)", VirtualSensor::Model::CloneFf, false, false},
        {"clone-aa (28 AA, byte 6 stuck, 600 ms)", VirtualSensor::Model::CloneAa, false, false},
        {"clone-25c (25 C, byte 7 66, 11 ms)", VirtualSensor::Model::Clone25c, false, false},
    };
    std::printf("%-40s %8s %10s %10s  %s\n", "device", "latency", "mean ms", "worst ms", "verdict (measured 12-bit conversion)");
    for (const int latencyMs : {1, 16}) {
        for (const Case &c : cases) {
            VirtualBus bus;
            const auto rom = c.ds18s20 ? *RomDevice::parseRomText(QStringLiteral("108739A80208006F"))
                                       : VirtualSensor::exampleRom(c.model);
            auto sensor = std::make_shared<VirtualSensor>(rom);
            sensor->setTemperature(21.5);
            sensor->setConversionMs(600);
            if (c.model != VirtualSensor::Model::Genuine)
                sensor->setModel(c.model);
            sensor->setParasitePower(c.parasite);
            bus.addDevice(sensor);
            PtyBusServer server(bus);
            server.setLatencyMs(latencyMs);
            if (!server.open()) {
                std::fprintf(stderr, "bench_diagnosis: %s\n", qUtf8Printable(server.errorText()));
                return 1;
            }
            std::thread serving([&server] { server.run(); });
            PosixSerialPort port(QStringLiteral("/"));
            QuietLog log;
            SystemClock clock;
            OneWireLink link(port, log, clock);
            SensorDiagnosis diagnosis(link);
            if (!port.OpenCOM(server.slavePath())) {
                std::fprintf(stderr, "bench_diagnosis: open failed: %s\n", qUtf8Printable(port.lastError()));
                return 1;
            }
            port.SetComPortTimeouts();
            qint64 total = 0;
            qint64 worst = 0;
            SensorReport report;
            for (int r = 0; r < runs; ++r) {
                report = QCoro::waitFor(diagnosis.diagnose(sensor->serialText()));
                total += report.elapsedMs;
                worst = std::max(worst, report.elapsedMs);
            }
            port.CloseCOM();
            server.requestStop();
            serving.join();
            server.close();
            std::printf("%-40s %5d ms %10.0f %10lld  %s (%d ms)%s\n", c.name, latencyMs, double(total) / runs,
                        static_cast<long long>(worst), qUtf8Printable(report.verdictText()), report.conversionMs,
                        sensor->eepromWrites() > 0 ? " EEPROM WRITTEN" : "");
            const QStringList failing = report.cloneSigns();
            for (const QString &sign : failing)
                std::printf("%40s   - %s\n", "", qUtf8Printable(sign));
        }
    }
    return 0;
}
