// Serves a modelled 1-Wire bus on a pseudo-terminal and links COMn to it, so the program (or
// anything that opens the link) talks to virtual sensors through the real termios path.
//
//   kalvex-bussim --dir DIR [--port N] [--latency MS] [--conversion MS] [--parasite] [--ds2480b]
//                 [--model MODEL] SENSOR... [--model MODEL SENSOR...]...
//   SENSOR = SERIAL[=CELSIUS | =sine:MEAN:AMPLITUDE:PERIOD_S]
//   SERIAL = 16 hex digits (taken as given, CRC included) or 14 (the CRC byte is added), or
//            "@": a code as the model's maker numbers them
//   MODEL  = genuine (the default), clone-ff, clone-aa, clone-25c: the sensors after it behave
//            as that device (VirtualSensor::Model)
//
// --latency holds every batch of echoes back MS milliseconds, as a USB serial adapter's
// latency timer does (FTDI: 16 ms by default, 1 ms in low-latency mode).
// --conversion makes every sensor take MS milliseconds to convert (a DS18B20 at 12 bits: about
// 600, at most 750; -1: never done), answering 0 in its read slots meanwhile; 0, the default,
// converts at once. --parasite powers every sensor from the data line (Read Power Supply
// answers 0, and read slots cannot tell busy from done). A clone keeps its own conversion time.
// --ds2480b puts a DS2480B line driver (DS9097U, LinkUSB) in front of the bus instead of a
// passive adapter; a parasite sensor then converts only under the chip's strong pull-up.
//
// Ends on SIGINT or SIGTERM and prints the resets, slots and round trips it saw, and every
// EEPROM write (Copy Scratchpad) or undocumented command a sensor received.

#include "base/Clock.h"
#include "onewire/Ds2480bModel.h"
#include "onewire/OneWireCrc.h"
#include "onewire/PtyBusServer.h"
#include "onewire/RomSearch.h"
#include "onewire/VirtualBus.h"
#include "onewire/VirtualSensor.h"

#include <QDir>
#include <QStringList>

#include <array>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

PtyBusServer *g_server = nullptr; // for the signal handler only

void onSignal(int)
{
    if (g_server)
        g_server->requestStop();
}

int usage()
{
    std::fprintf(stderr,
        "usage: kalvex-bussim --dir DIR [--port N] [--latency MS] [--conversion MS] [--parasite] [--ds2480b]\n"
        "                     [--model MODEL] SENSOR... [--model MODEL SENSOR...]...\n"
        "  --latency MS: echoes come back MS milliseconds late (a USB adapter's latency timer)\n"
        "  --conversion MS: every conversion takes MS milliseconds (-1: never ends; 0: at once)\n"
        "  --parasite: every sensor is powered from the data line\n"
        "  --ds2480b: a DS2480B adapter (DS9097U, LinkUSB) instead of a passive one\n"
        "  SENSOR = SERIAL[=CELSIUS | =sine:MEAN:AMPLITUDE:PERIOD_S]\n"
        "  SERIAL = 16 hex digits, or 14 (family and serial bytes; the CRC byte is added), or @ (the model's own)\n"
        "  --model MODEL: the sensors after it are genuine (the default), clone-ff (byte 6 stuck, 30 ms),\n"
        "                 clone-aa (byte 6 stuck, 600 ms) or clone-25c (powers up at 25 C, byte 7 0x66, 11 ms)\n"
        "  example: kalvex-bussim --dir ~/.local/share/kalvex-demo 28ECEDC7050000F6=21.5 \\\n"
        "           108739A8020800=sine:20:5:600\n");
    return 2;
}

bool parseNumber(const QString &text, double &value)
{
    bool ok = false;
    value = text.toDouble(&ok);
    return ok && std::isfinite(value);
}

} // namespace

int main(int argc, char **argv)
{
    QString dir;
    int portNumber = 1;
    int latencyMs = 0;
    int conversionMs = 0;
    bool parasite = false;
    bool ds2480b = false;
    QStringList sensorArgs;
    // The model each sensor argument was given under.
    std::vector<VirtualSensor::Model> sensorModels;
    VirtualSensor::Model model = VirtualSensor::Model::Genuine;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg == QLatin1String("--dir") && i + 1 < argc) {
            dir = QString::fromLocal8Bit(argv[++i]);
        } else if (arg == QLatin1String("--port") && i + 1 < argc) {
            bool ok = false;
            portNumber = QString::fromLocal8Bit(argv[++i]).toInt(&ok);
            if (!ok || portNumber < 1 || portNumber > 255) {
                std::fprintf(stderr, "bad port number: %s\n", argv[i]);
                return 2;
            }
        } else if (arg == QLatin1String("--latency") && i + 1 < argc) {
            bool ok = false;
            latencyMs = QString::fromLocal8Bit(argv[++i]).toInt(&ok);
            if (!ok || latencyMs < 0 || latencyMs > 1000) {
                std::fprintf(stderr, "bad latency (0 to 1000 ms): %s\n", argv[i]);
                return 2;
            }
        } else if (arg == QLatin1String("--conversion") && i + 1 < argc) {
            bool ok = false;
            conversionMs = QString::fromLocal8Bit(argv[++i]).toInt(&ok);
            if (!ok || conversionMs < -1 || conversionMs > 10000) {
                std::fprintf(stderr, "bad conversion time (-1 to 10000 ms): %s\n", argv[i]);
                return 2;
            }
        } else if (arg == QLatin1String("--parasite")) {
            parasite = true;
        } else if (arg == QLatin1String("--ds2480b")) {
            ds2480b = true;
        } else if (arg == QLatin1String("--model") && i + 1 < argc) {
            const auto named = VirtualSensor::modelFromName(QString::fromLocal8Bit(argv[++i]));
            if (!named) {
                std::fprintf(stderr, "bad model (genuine, clone-ff, clone-aa, clone-25c): %s\n", argv[i]);
                return 2;
            }
            model = *named;
        } else if (arg == QLatin1String("--help") || arg == QLatin1String("-h") || arg.startsWith(QLatin1String("--"))) {
            return usage();
        } else {
            sensorArgs << arg;
            sensorModels.push_back(model);
        }
    }
    if (dir.isEmpty() || sensorArgs.isEmpty())
        return usage();

    VirtualBus bus;
    const SystemClock clock;
    std::vector<std::shared_ptr<VirtualSensor>> sensors;
    std::array<int, 4> ownCodes {};
    for (qsizetype k = 0; k < sensorArgs.size(); ++k) {
        const QString &arg = sensorArgs[k];
        const VirtualSensor::Model sensorModel = sensorModels[static_cast<std::size_t>(k)];
        QString serialText = arg.section(QLatin1Char('='), 0, 0).toUpper();
        const QString waveText = arg.section(QLatin1Char('='), 1);
        if (serialText == QLatin1String("@"))
            serialText = RomSearch::codeText(VirtualSensor::exampleRom(sensorModel, ownCodes[static_cast<std::size_t>(sensorModel)]++));
        auto rom = RomDevice::parseRomText(serialText.size() == 14 ? serialText + QStringLiteral("00") : serialText);
        if (!rom) {
            std::fprintf(stderr, "bad serial number (16 or 14 hex digits): %s\n", qPrintable(serialText));
            return 2;
        }
        if (serialText.size() == 14)
            (*rom)[7] = OneWireCrc::of(rom->data(), 7);
        else if (!RomDevice::romCrcValid(*rom))
            std::fprintf(stderr, "note: %s has a wrong CRC byte; a search will not report it\n", qPrintable(serialText));
        auto sensor = std::make_shared<VirtualSensor>(*rom);
        if (waveText.startsWith(QLatin1String("sine:"))) {
            const QStringList parts = waveText.split(QLatin1Char(':'));
            double mean = 0;
            double amplitude = 0;
            double period = 0;
            if (parts.size() != 4 || !parseNumber(parts[1], mean) || !parseNumber(parts[2], amplitude)
                || !parseNumber(parts[3], period) || period <= 0) {
                std::fprintf(stderr, "bad waveform (sine:MEAN:AMPLITUDE:PERIOD_S): %s\n", qPrintable(waveText));
                return 2;
            }
            sensor->setTemperatureFunction(VirtualSensor::sineWave(clock, mean, amplitude, period));
        } else if (!waveText.isEmpty()) {
            double celsius = 0;
            if (!parseNumber(waveText, celsius)) {
                std::fprintf(stderr, "bad temperature: %s\n", qPrintable(waveText));
                return 2;
            }
            sensor->setTemperature(celsius);
        }
        if (sensorModel == VirtualSensor::Model::Genuine)
            sensor->setConversionMs(conversionMs);
        else
            sensor->setModel(sensorModel);
        sensor->setParasitePower(parasite);
        bus.addDevice(sensor);
        sensors.push_back(sensor);
        std::printf("sensor %s (%s, %s)\n", qPrintable(RomSearch::codeText(*rom)), sensor->isDs18b20() ? "DS18B20" : "DS18S20",
                    qPrintable(VirtualSensor::modelName(sensorModel)));
    }

    PtyBusServer server(bus);
    server.setLatencyMs(latencyMs);
    Ds2480bModel chip(bus);
    if (ds2480b)
        server.setResponder([&chip](const std::uint8_t *data, int count, int baud) { return chip.exchange(data, count, baud); });
    if (!server.open()) {
        std::fprintf(stderr, "cannot create a pseudo-terminal: %s\n", qPrintable(server.errorText()));
        return 1;
    }
    const QString link = QDir(dir).absoluteFilePath(QStringLiteral("COM%1").arg(portNumber));
    if (!QDir().mkpath(dir) || !server.linkAs(link)) {
        std::fprintf(stderr, "cannot create %s: %s\n", qPrintable(link), qPrintable(server.errorText()));
        return 1;
    }
    std::printf("serving %s -> %s; stop with Ctrl+C\n", qPrintable(link), qPrintable(server.slavePath()));
    std::fflush(stdout);

    g_server = &server;
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    server.run();
    g_server = nullptr;
    server.close();

    const VirtualBus::Counters counters = bus.busCounters();
    if (ds2480b) {
        const Ds2480bModel::Counters c = chip.counters();
        std::printf("DS2480B: master resets: %llu, resets: %llu, slots: %llu, round trips: %llu, strong pull-ups: %llu, "
                    "brown-outs: %llu\n",
            static_cast<unsigned long long>(c.masterResets), static_cast<unsigned long long>(c.resets),
            static_cast<unsigned long long>(c.slotCount), static_cast<unsigned long long>(server.batches()),
            static_cast<unsigned long long>(c.pullUps), static_cast<unsigned long long>(c.brownOuts));
    } else {
        std::printf("resets: %llu, slots: %llu, round trips: %llu\n",
            static_cast<unsigned long long>(counters.resets), static_cast<unsigned long long>(counters.slotCount),
            static_cast<unsigned long long>(counters.roundTrips));
    }
    for (const auto &sensor : sensors) {
        if (sensor->eepromWrites() > 0 || sensor->unknownCommands() > 0)
            std::printf("%s: EEPROM writes: %d, undocumented commands: %d\n", qPrintable(sensor->serialText()),
                        sensor->eepromWrites(), sensor->unknownCommands());
    }
    return 0;
}
