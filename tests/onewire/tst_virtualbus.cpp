#include "onewire/OneWireCrc.h"
#include "onewire/TemperatureReader.h"
#include "onewire/VirtualBus.h"
#include "onewire/VirtualSensor.h"
#include "onewire/OneWireLink.h"
#include "support/RunTask.h"
#include "support/FakeClock.h"
#include "support/RecordingLog.h"

#include <QCoroTask>
#include <QTest>

#include <cmath>
#include <memory>

Q_DECLARE_METATYPE(VirtualSensor::Model)

// The bus model is what later tests and the demo stand on: its encoding must be the
// hardware's, or every test built on it proves nothing.
class TestVirtualBus : public QObject
{
    Q_OBJECT

private slots:
    void scratchpadEncodingRoundTrips_data()
    {
        QTest::addColumn<bool>("ds18b20");
        QTest::addColumn<double>("resolution");
        QTest::newRow("DS18B20") << true << 1.0 / 16;
        QTest::newRow("DS18S20") << false << 1.0 / 16;
    }
    void scratchpadEncodingRoundTrips()
    {
        QFETCH(bool, ds18b20);
        QFETCH(double, resolution);
        for (double t = -55.0; t <= 125.0; t += 0.37) {
            const auto pad = VirtualSensor::scratchpadFor(t, ds18b20);
            QCOMPARE(int(OneWireCrc::of(pad.data(), 9)), 0);
            const double back = TemperatureReader::decode(pad, ds18b20);
            QVERIFY2(std::abs(back - t) <= resolution / 2 + 1e-9, qPrintable(QStringLiteral("%1 -> %2").arg(t).arg(back)));
        }
    }

    void powerOnScratchpadsArePublishedOnes()
    {
        QCOMPARE(VirtualSensor::scratchpadFor(85.0, true),
            (std::array<std::uint8_t, 9> { 0x50, 0x05, 0x4B, 0x46, 0x7F, 0xFF, 0x0C, 0x10, 0x1C }));
        QCOMPARE(VirtualSensor::scratchpadFor(85.0, false),
            (std::array<std::uint8_t, 9> { 0xAA, 0x00, 0x4B, 0x46, 0xFF, 0xFF, 0x0C, 0x10, 0x87 }));
    }

    void romCodes()
    {
        const auto rom = RomDevice::makeRomCode(0x28, { 0xA2, 0xD9, 0x84, 0x00, 0x00, 0x02 });
        QCOMPARE(int(rom[7]), 0xEA);
        QVERIFY(RomDevice::romCrcValid(rom));
        QVERIFY(RomDevice::romCrcValid(*RomDevice::parseRomText(QStringLiteral("2825EA52050000CE"))));
        QVERIFY(!RomDevice::romCrcValid(*RomDevice::parseRomText(QStringLiteral("2825EA520510F3CE"))));
        QVERIFY(!RomDevice::parseRomText(QStringLiteral("2825EA520510F3C")));
    }

    void speedDecidesResetOrSlot()
    {
        VirtualBus bus;
        bus.addSensor(QStringLiteral("28A2D984000002EA"));
        const std::uint8_t f0 = 0xF0;
        QCOMPARE(bus.exchange(&f0, 1, 9600), std::vector<std::uint8_t> { 0xE0 });
        QCOMPARE(bus.busCounters().resets, 1u);
        // At slot speed 0xF0 is a write-0 slot (low for 5 bit times): echoed as sent.
        QCOMPARE(bus.exchange(&f0, 1, 115200), std::vector<std::uint8_t> { 0xF0 });
        QCOMPARE(bus.busCounters().resets, 1u);
        QCOMPARE(bus.busCounters().slotCount, 1u);
    }

    void wiredAndOfReadSlots()
    {
        VirtualBus bus;
        auto a = bus.addSensor(QStringLiteral("2825EA52050000CE"));
        auto b = bus.addSensor(QStringLiteral("108739A80208006F"));
        const std::uint8_t f0 = 0xF0;
        bus.exchange(&f0, 1, 9600);
        const std::vector<std::uint8_t> readRom { 0xFF, 0xFF, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00 }; // 0x33
        bus.exchange(readRom.data(), 8, 115200);
        const std::vector<std::uint8_t> release(8, 0xFF);
        // Family bytes 0x28 and 0x10: their AND is 0, every read slot pulled low.
        QCOMPARE(bus.exchange(release.data(), 8, 115200), std::vector<std::uint8_t>(8, 0xFC));
        QVERIFY(bus.findSensor(QStringLiteral("2825ea52050000ce")) == a.get());
        QVERIFY(bus.removeDevice(QStringLiteral("108739A80208006F")));
        QVERIFY(!bus.findSensor(QStringLiteral("108739A80208006F")));
        QVERIFY(!bus.setTemperature(QStringLiteral("108739A80208006F"), 1.0));
        QVERIFY(bus.setTemperature(QStringLiteral("2825EA52050000CE"), 1.0));
    }

    void noiseIsRepeatableBySeed()
    {
        const auto run = [](std::uint32_t seed) {
            VirtualBus bus;
            bus.setNoise(0.3, seed);
            const std::vector<std::uint8_t> release(64, 0xFF);
            return bus.exchange(release.data(), 64, 115200);
        };
        QCOMPARE(run(7), run(7));
        QVERIFY(run(7) != run(8));
        QVERIFY(run(7) != std::vector<std::uint8_t>(64, 0xFF));
    }

    void demoSensorsAreReadable()
    {
        FakeClock clock;
        clock.setTickStep(1);
        VirtualBus bus;
        const QStringList serials = bus.addDemoSensors(clock);
        QCOMPARE(serials.size(), 3);
        RecordingLog log;
        OneWireLink link(bus, log, clock);
        TemperatureReader reader(link, log);
        reader.setConversionDelayMs(0);
        QVERIFY(bus.OpenCOM(QStringLiteral("COM1")));
        for (const QString &serial : serials) {
            const double t = runTask(reader.GetTempSn(serial));
            QVERIFY2(t > -30 && t < 70 && t != 85.0, qPrintable(serial));
        }
    }

    // What a diagnosis relies on: Write Scratchpad lands in RAM only, Recall E² brings the
    // EEPROM back, and only Copy Scratchpad writes the EEPROM, counted.
    void memoryCommands_data()
    {
        QTest::addColumn<VirtualSensor::Model>("model");
        QTest::addColumn<int>("configReadBack");
        QTest::newRow("genuine") << VirtualSensor::Model::Genuine << 0x3F;
        QTest::newRow("configuration stuck") << VirtualSensor::Model::Clone25c << 0x7F;
    }
    void memoryCommands()
    {
        QFETCH(VirtualSensor::Model, model);
        QFETCH(int, configReadBack);
        FakeClock clock;
        clock.setTickStep(1);
        VirtualBus bus;
        auto sensor = std::make_shared<VirtualSensor>(VirtualSensor::exampleRom(model));
        sensor->setModel(model);
        bus.addDevice(sensor);
        RecordingLog log;
        OneWireLink link(bus, log, clock);
        QVERIFY(bus.OpenCOM(QStringLiteral("COM1")));
        const auto command = [&](std::initializer_list<std::uint8_t> bytes) {
            QVERIFY(runTask(link.ResetT()));
            runTask(link.SendB(0xCC));
            for (const std::uint8_t byte : bytes)
                runTask(link.SendB(byte));
        };
        const auto eepromBefore = sensor->eeprom();
        command({0x4E, 0x19, 0xF1, 0x3F});
        QCOMPARE(int(sensor->scratchpad()[2]), 0x19);
        QCOMPARE(int(sensor->scratchpad()[3]), 0xF1);
        QCOMPARE(int(sensor->scratchpad()[4]), configReadBack);
        QCOMPARE(sensor->eeprom(), eepromBefore);
        command({0xB8});
        QCOMPARE(int(sensor->scratchpad()[2]), int(eepromBefore[0]));
        QCOMPARE(int(sensor->scratchpad()[4]), int(eepromBefore[2]));
        QCOMPARE(sensor->eepromWrites(), 0);
        command({0x4E, 0x19, 0xF1, 0x3F});
        command({0x48});
        QCOMPARE(sensor->eepromWrites(), 1);
        QCOMPARE(int(sensor->eeprom()[0]), 0x19);
        QCOMPARE(sensor->unknownCommands(), 0);
        command({0x99});
        QCOMPARE(sensor->unknownCommands(), 1);
        // Power-up takes what the EEPROM holds.
        sensor->setPlugged(false);
        sensor->setPlugged(true);
        QCOMPARE(int(sensor->scratchpad()[3]), 0xF1);
    }

    void conversionTimeFollowsResolution_data()
    {
        QTest::addColumn<VirtualSensor::Model>("model");
        QTest::addColumn<int>("config");
        QTest::addColumn<int>("ms");
        QTest::newRow("genuine 12 bits") << VirtualSensor::Model::Genuine << 0x7F << 600;
        QTest::newRow("genuine 9 bits") << VirtualSensor::Model::Genuine << 0x1F << 75;
        QTest::newRow("28 AA 10 bits") << VirtualSensor::Model::CloneAa << 0x3F << 150;
        QTest::newRow("28 FF any resolution") << VirtualSensor::Model::CloneFf << 0x1F << 30;
        QTest::newRow("25 °C clone, stuck at 12 bits") << VirtualSensor::Model::Clone25c << 0x1F << 11;
    }
    void conversionTimeFollowsResolution()
    {
        QFETCH(VirtualSensor::Model, model);
        QFETCH(int, config);
        QFETCH(int, ms);
        FakeClock clock;
        clock.setTickStep(1);
        VirtualBus bus;
        qint64 now = 1000;
        bus.setTimeSource([&now] { return now; });
        auto sensor = std::make_shared<VirtualSensor>(VirtualSensor::exampleRom(model));
        sensor->setConversionMs(600);
        sensor->setModel(model);
        bus.addDevice(sensor);
        RecordingLog log;
        OneWireLink link(bus, log, clock);
        QVERIFY(bus.OpenCOM(QStringLiteral("COM1")));
        QVERIFY(runTask(link.ResetT()));
        for (const std::uint8_t byte : {0xCC, 0x4E, 0x4B, 0x46, config})
            runTask(link.SendB(static_cast<std::uint8_t>(byte)));
        QVERIFY(runTask(link.ResetT()));
        for (const std::uint8_t byte : {0xCC, 0x44})
            runTask(link.SendB(byte));
        now += ms - 1;
        QCOMPARE(runTask(link.GetBit()), 0);
        now += 1;
        QCOMPARE(runTask(link.GetBit()), 1);
    }

    void temperatureFollowsTime()
    {
        FakeClock clock;
        auto wave = VirtualSensor::sineWave(clock, 20.0, 5.0, 60.0);
        QCOMPARE(wave(), 20.0);
        clock.advance(15000);
        QCOMPARE(wave(), 25.0);
        clock.advance(30000);
        QCOMPARE(wave(), 15.0);
    }
};

QTEST_GUILESS_MAIN(TestVirtualBus)
#include "tst_virtualbus.moc"
