// A passive adapter against a DS2480B line driver, both on the real serial port: a
// pseudo-terminal serving a modelled bus (and, for the DS2480B, the modelled chip), its
// answers held back 1 ms or 16 ms per round trip as a USB adapter's latency timer does.
//
//   bench_ds2480b [readings=30]
//
// Per reading (the conversion wait left out) and per search pass: serial round trips, the
// time measured on the pty (the latency included; a pty does not time characters by their
// rate) and the line time the characters take on a real line: a passive adapter's resets at
// 9600 baud and slots at 115200, every character to and from a DS2480B at 9600 (the chip's
// 1-Wire slots fit inside its serial characters' time).
// Then a cycle of 10 sensors with the whole-bus conversion, one DS18S20 on the bus powered
// from the data line, run as the monitoring cycle runs it: the power question, then on the
// passive bus sensor by sensor (750 ms each), through the DS2480B one conversion under the
// strong pull-up and ten readings.
#include "base/Clock.h"
#include "base/Log.h"
#include "onewire/Ds2480bLink.h"
#include "onewire/Ds2480bModel.h"
#include "onewire/OneWireCrc.h"
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
#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

namespace {

constexpr double PassiveResetMs = 10.0 / 9600 * 1000;
constexpr double PassiveSlotMs = 10.0 / 115200 * 1000;
constexpr double ChipCharacterMs = 10.0 / 9600 * 1000;

class QuietLog final : public Log
{
public:
    void AddLog(const QString &message) override { std::fprintf(stderr, "log: %s\n", qPrintable(message)); }
    void addRawLine(const QString &line) override { std::fprintf(stderr, "log: %s\n", qPrintable(line)); }
};

QString serialOf(int k, std::uint8_t family)
{
    std::array<std::uint8_t, 8> rom { family, static_cast<std::uint8_t>(0x10 + k), 0xE3, 0x16, 0x03, 0x00, 0x00, 0x00 };
    rom[7] = OneWireCrc::of(rom.data(), 7);
    return RomSearch::codeText(rom);
}

double celsiusOf(int k)
{
    return 18.0 + k * 0.5;
}

// A bus with its sensors served on a pty, passive or behind the chip, and the host's side.
struct Rig
{
    Rig(bool chipped, int latencyMs, int sensors, bool parasiteFirst)
        : chip(bus)
        , server(bus)
        , port(QStringLiteral("/"))
        , passiveLink(port, log, clock)
        , chipLink(port, log, clock)
        , link(chipped ? static_cast<OneWireLink &>(chipLink) : passiveLink)
        , reader(link, log)
        , search(link)
        , chipped(chipped)
    {
        for (int k = 0; k < sensors; ++k) {
            const bool s20 = parasiteFirst && k == 0;
            auto sensor = bus.addSensor(serialOf(k, s20 ? 0x10 : 0x28), celsiusOf(k));
            sensor->setParasitePower(s20);
            serials << sensor->serialText();
        }
        if (chipped)
            server.setResponder([this](const std::uint8_t *data, int count, int baud) { return chip.exchange(data, count, baud); });
        server.setLatencyMs(latencyMs);
        chipLink.setBusName(QStringLiteral("pty"));
        reader.setConversionDelayMs(0);
    }
    ~Rig()
    {
        port.CloseCOM();
        server.requestStop();
        if (serving.joinable())
            serving.join();
    }
    bool start()
    {
        if (!server.open())
            return false;
        serving = std::thread([this] { server.run(); });
        if (!port.OpenCOM(server.slavePath()))
            return false;
        port.SetComPortTimeouts();
        QCoro::waitFor(link.ResetT()); // the chip detected before anything is counted
        return true;
    }
    void resetCounters()
    {
        port.resetCounters();
        bus.resetBusCounters();
    }
    double lineMs() const
    {
        if (chipped) {
            const SerialCounters c = port.counters();
            return static_cast<double>(c.charactersSent + c.charactersReceived) / 2 * ChipCharacterMs;
        }
        const VirtualBus::Counters c = bus.busCounters();
        return static_cast<double>(c.resets) * PassiveResetMs + static_cast<double>(c.slotCount) * PassiveSlotMs;
    }

    VirtualBus bus;
    Ds2480bModel chip;
    PtyBusServer server;
    std::thread serving;
    PosixSerialPort port;
    QuietLog log;
    SystemClock clock;
    OneWireLink passiveLink;
    Ds2480bLink chipLink;
    OneWireLink &link;
    TemperatureReader reader;
    RomSearch search;
    QStringList serials;
    bool chipped;
};

void readingsAndPasses(bool chipped, int latencyMs, int readings)
{
    Rig rig(chipped, latencyMs, 3, false);
    if (!rig.start()) {
        std::fprintf(stderr, "no pty\n");
        return;
    }
    int wrong = 0;
    rig.resetCounters();
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < readings; ++i) {
        if (QCoro::waitFor(rig.reader.GetTempSn(rig.serials[i % 3])) != celsiusOf(i % 3))
            ++wrong;
    }
    const double msReading = timer.nsecsElapsed() / 1e6 / readings;
    const double tripsReading = double(rig.port.counters().roundTrips) / readings;
    const double lineReading = rig.lineMs() / readings;

    int passes = 0;
    int found = 0;
    double passMs = 0;
    double passLine = 0;
    std::uint64_t passTrips = 0;
    for (int e = 0; e < 2; ++e) {
        rig.search.clearState();
        for (;;) {
            const bool walks = !rig.search.LastDeviceFlag;
            rig.resetCounters();
            timer.restart();
            const QString code = QCoro::waitFor(rig.search.FindDS());
            if (walks) {
                passMs += timer.nsecsElapsed() / 1e6;
                passTrips += rig.port.counters().roundTrips;
                passLine += rig.lineMs();
                ++passes;
            }
            if (code.isEmpty())
                break;
            if (e == 0)
                ++found;
        }
    }
    std::printf("%-8s %5d ms   %6.1f   %8.1f %8.1f   %8.1f %8.1f %8.1f   %2d of %-3d %d\n", chipped ? "DS2480B" : "passive",
                latencyMs, tripsReading, msReading, lineReading, double(passTrips) / passes, passMs / passes, passLine / passes,
                wrong, readings, found);
}

void cycle(bool chipped, int latencyMs)
{
    Rig rig(chipped, latencyMs, 10, true);
    for (const auto &device : rig.bus.devices())
        static_cast<VirtualSensor *>(device.get())->setConversionMs(600);
    rig.reader.setConversionDelayMs(750);
    if (!rig.start()) {
        std::fprintf(stderr, "no pty\n");
        return;
    }
    rig.resetCounters();
    QElapsedTimer timer;
    timer.start();
    int wrong = 0;
    const std::optional<bool> parasite = QCoro::waitFor(rig.reader.parasitePowered());
    const bool bulk = parasite && (!*parasite || rig.reader.convertsParasiteBus());
    if (bulk && QCoro::waitFor(rig.reader.convertAll()) == SensorReader::Conversion::Done) {
        for (int k = 0; k < rig.serials.size(); ++k)
            wrong += QCoro::waitFor(rig.reader.readConverted(rig.serials[k])) != celsiusOf(k);
    } else {
        for (int k = 0; k < rig.serials.size(); ++k)
            wrong += QCoro::waitFor(rig.reader.GetTempSn(rig.serials[k])) != celsiusOf(k);
    }
    std::printf("%-8s %5d ms   %-22s %6llu   %8.0f   %8.1f   %d of 10\n", chipped ? "DS2480B" : "passive", latencyMs,
                bulk ? "whole bus, pull-up" : "sensor by sensor", static_cast<unsigned long long>(rig.port.counters().roundTrips),
                timer.nsecsElapsed() / 1e6, rig.lineMs(), wrong);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int readings = argc > 1 ? std::max(6, std::atoi(argv[1])) : 30;
    std::printf("three sensors; per reading the conversion wait left out\n");
    std::printf("adapter  latency   trips/reading ms/reading line ms  trips/pass ms/pass line ms   wrong     found\n");
    for (const int latency : { 1, 16 }) {
        for (const bool chipped : { false, true })
            readingsAndPasses(chipped, latency, latency == 16 ? std::max(6, readings / 2) : readings);
    }
    std::printf("\na cycle of 10 sensors (600 ms conversions, 750 ms wait), whole-bus conversion on, one parasite DS18S20\n");
    std::printf("adapter  latency   conversion             trips    cycle ms   line ms   wrong\n");
    for (const int latency : { 1, 16 }) {
        for (const bool chipped : { false, true })
            cycle(chipped, latency);
    }
    return 0;
}
