#include "base/Clock.h"
#include "onewire/Ds2480bLink.h"
#include "onewire/Ds2480bModel.h"
#include "onewire/OneWireLink.h"
#include "onewire/PosixSerialPort.h"
#include "onewire/PtyBusServer.h"
#include "onewire/RomSearch.h"
#include "onewire/TemperatureReader.h"
#include "onewire/VirtualBus.h"
#include "onewire/VirtualSensor.h"
#include "support/RecordingLog.h"
#include "support/RunTask.h"

#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <thread>

namespace {

// The bus behind a modelled DS2480B on a pseudo-terminal, reached through the real termios
// port as the program reaches COM7. Devices are added before start().
struct ChipOnPty
{
    ChipOnPty()
        : chip(bus)
        , server(bus)
        , port(dir.path() + QLatin1Char('/'))
        , link(port, log, clock)
        , reader(link, log)
        , search(link)
    {
        server.setResponder([this](const std::uint8_t *data, int count, int baud) { return chip.exchange(data, count, baud); });
        link.setBusName(QStringLiteral("COM7"));
        reader.setConversionDelayMs(0);
    }
    ~ChipOnPty()
    {
        port.CloseCOM();
        server.requestStop();
        if (serving.joinable())
            serving.join();
    }
    bool start()
    {
        if (!server.open() || !server.linkAs(dir.path() + QStringLiteral("/COM7")))
            return false;
        serving = std::thread([this] { server.run(); });
        if (!port.OpenCOM(QStringLiteral("COM7")))
            return false;
        port.SetComPortTimeouts();
        return true;
    }
    QStringList searchAll()
    {
        QStringList found;
        search.clearState();
        for (QString code = runTask(search.FindDS()); !code.isEmpty(); code = runTask(search.FindDS()))
            found << code;
        return found;
    }

    QTemporaryDir dir;
    VirtualBus bus;
    Ds2480bModel chip;
    PtyBusServer server;
    std::thread serving;
    PosixSerialPort port;
    RecordingLog log;
    SystemClock clock;
    Ds2480bLink link;
    TemperatureReader reader;
    RomSearch search;
};

const QString B20 = QStringLiteral("28ECEDC7050000F6");
const QString B20E3 = QStringLiteral("28E3EDC7050000D2"); // 0xE3 in the serial: doubled in data mode
const QString S20E3 = QStringLiteral("10E3B7A802080019");

} // namespace

class TestDs2480b : public QObject
{
    Q_OBJECT

private slots:
    // Every device found with one exchange a pass, in the order and with the readings of
    // the passive bus, serials holding 0xE3 included.
    void searchAndReadingsEqualThePassiveBus()
    {
        const QList<QPair<QString, double>> sensors { { B20, 23.125 }, { B20E3, -0.5 }, { S20E3, -7.5 } };
        VirtualBus passive;
        RecordingLog passiveLog;
        SystemClock clock;
        OneWireLink passiveLink(passive, passiveLog, clock);
        TemperatureReader passiveReader(passiveLink, passiveLog);
        RomSearch passiveSearch(passiveLink);
        passiveReader.setConversionDelayMs(0);
        ChipOnPty pty;
        for (const auto &[serial, celsius] : sensors) {
            passive.addSensor(serial, celsius);
            pty.bus.addSensor(serial, celsius);
        }
        QVERIFY(pty.start());
        passive.OpenCOM(QStringLiteral("COM1"));

        QStringList expected;
        passiveSearch.clearState();
        for (QString code = runTask(passiveSearch.FindDS()); !code.isEmpty(); code = runTask(passiveSearch.FindDS()))
            expected << code;
        QCOMPARE(expected.size(), 3);
        runTask(pty.link.ResetT()); // the chip detected before counting
        pty.port.resetCounters();
        QCOMPARE(pty.searchAll(), expected);
        QCOMPARE(pty.port.counters().roundTrips, 3u);

        for (const auto &[serial, celsius] : sensors) {
            const double viaChip = runTask(pty.reader.GetTempSn(serial));
            QCOMPARE(viaChip, runTask(passiveReader.GetTempSn(serial)));
            QCOMPARE(viaChip, celsius);
        }
        QVERIFY2(pty.log.lines.isEmpty(), qPrintable(pty.log.lines.join(u'\n')));
        QCOMPARE(pty.link.revision(), Ds2480bModel::Revision);
    }

    // A DS18S20 on two wires converts under the strong pull-up, alone and with the whole bus;
    // without the pull-up it would come back with its power-up 85.
    void parasiteConvertsUnderThePullUp()
    {
        ChipOnPty pty;
        auto parasite = pty.bus.addSensor(S20E3, 31.25);
        parasite->setParasitePower(true);
        parasite->setConversionMs(30);
        auto powered = pty.bus.addSensor(B20, 18.5);
        pty.reader.setConversionDelayMs(60);
        QVERIFY(pty.start());

        QCOMPARE(runTask(pty.reader.GetTempSn(S20E3)), 31.25);
        QCOMPARE(runTask(pty.reader.parasitePowered()), std::optional<bool>(true));
        QVERIFY(pty.reader.convertsParasiteBus());
        QCOMPARE(runTask(pty.reader.convertAll()), SensorReader::Conversion::Done);
        QCOMPARE(runTask(pty.reader.readConverted(S20E3)), 31.25);
        QCOMPARE(runTask(pty.reader.readConverted(B20)), 18.5);
        QCOMPARE(parasite->conversions(), 2);
        QCOMPARE(pty.chip.counters().pullUps, 2u);
        QCOMPARE(pty.chip.counters().brownOuts, 0u);
    }

    void shortCircuitIsLoggedOnceAndReadsNothing()
    {
        ChipOnPty pty;
        pty.bus.addSensor(B20, 21.0);
        QVERIFY(pty.start());
        pty.chip.setShorted(true);
        QCOMPARE(runTask(pty.reader.GetTempSn(B20)), SensorReader::NoReading);
        QCOMPARE(runTask(pty.reader.GetTempSn(B20)), SensorReader::NoReading);
        QVERIFY(pty.link.lastLine() == Ds2480bLink::Line::Shorted);
        QVERIFY(pty.searchAll().isEmpty());
        QCOMPARE(pty.log.messages, QStringList { QStringLiteral("Короткое замыкание на шине COM7") });
        pty.chip.setShorted(false);
        QCOMPARE(runTask(pty.reader.GetTempSn(B20)), 21.0);
        QVERIFY(pty.link.lastLine() == Ds2480bLink::Line::Presence);
    }

    // Unplugged, the adapter answers nothing (logged once); plugged back it powers up waiting
    // for its calibration, and the next reading detects it again and succeeds.
    void silentAdapterIsDetectedAgainWhenBack()
    {
        ChipOnPty pty;
        pty.bus.addSensor(B20E3, 12.5);
        QVERIFY(pty.start());
        QCOMPARE(runTask(pty.reader.GetTempSn(B20E3)), 12.5);
        pty.chip.setSilent(true);
        QCOMPARE(runTask(pty.reader.GetTempSn(B20E3)), SensorReader::NoReading);
        QCOMPARE(runTask(pty.reader.GetTempSn(B20E3)), SensorReader::NoReading);
        QCOMPARE(pty.log.messages, QStringList { QStringLiteral("Адаптер DS2480B на шине COM7 не отвечает") });
        pty.chip.setSilent(false);
        QCOMPARE(runTask(pty.reader.GetTempSn(B20E3)), 12.5);
        QVERIFY(pty.chip.calibrated());
        // The long-line settings are the host's again, not the power-up ones.
        QCOMPARE(pty.chip.setting(1), 3);
        QCOMPARE(pty.chip.setting(4), 2);
        QCOMPARE(pty.chip.setting(5), 5);
        QCOMPARE(pty.log.messages.size(), 1);
    }

    // Nothing a DS2480B would answer: the chip is not detected and nothing is read.
    void bareLineIsNoChip()
    {
        VirtualBus bus;
        bus.addSensor(B20, 20.0);
        PtyBusServer server(bus);
        QTemporaryDir dir;
        QVERIFY(server.open() && server.linkAs(dir.path() + QStringLiteral("/COM7")));
        std::thread serving([&server] { server.run(); });
        PosixSerialPort port(dir.path() + QLatin1Char('/'));
        RecordingLog log;
        SystemClock clock;
        Ds2480bLink link(port, log, clock);
        bool detected = true;
        if (port.OpenCOM(QStringLiteral("COM7"))) {
            port.SetComPortTimeouts();
            detected = runTask(link.detect());
            port.CloseCOM();
        }
        server.requestStop();
        serving.join();
        QVERIFY(!detected);
    }
};

QTEST_GUILESS_MAIN(TestDs2480b)
#include "tst_ds2480b.moc"
