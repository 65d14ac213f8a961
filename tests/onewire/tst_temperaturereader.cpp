#include "base/Clock.h"
#include "onewire/OneWireLink.h"
#include "onewire/TemperatureReader.h"
#include "onewire/VirtualBus.h"
#include "onewire/VirtualSensor.h"
#include "support/RunTask.h"
#include "support/FakeClock.h"
#include "support/RecordingLog.h"

#include <QCoroTask>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <optional>
#include <vector>

using Scratchpad = std::array<std::uint8_t, 9>;
Q_DECLARE_METATYPE(Scratchpad)

namespace {

// A line whose one device is busy for a given number of released slots and done after it,
// slot by slot: within one batch the first slot may read busy and the last done.
class ConvertingLine final : public SerialPort
{
public:
    explicit ConvertingLine(int busySlots) : m_busy(busySlots) {}
    int releasedSlots = 0;

    bool OpenCOM(const QString &) override { return m_open = true; }
    void CloseCOM() override { m_open = false; }
    bool isOpen() const override { return m_open; }
    bool PurgeCOM() override
    {
        m_echoes.clear();
        return m_open;
    }
    bool SetModCOM(int, int, int, int, bool, bool) override { return m_open; }
    bool TxByteCOM(std::uint8_t byte) override { return TxDataCOM(&byte, 1); }
    bool TxDataCOM(const std::uint8_t *data, int count) override
    {
        for (int i = 0; i < count; ++i) {
            if (data[i] == 0xF0)
                m_echoes.push_back(0xE0); // a presence pulse
            else if (data[i] == 0xFF)
                m_echoes.push_back(++releasedSlots <= m_busy ? 0xFC : 0xFF);
            else
                m_echoes.push_back(data[i]);
        }
        return m_open;
    }
    bool RxDataCOM(std::uint8_t *buffer, int count, int &read) override
    {
        read = std::min(count, static_cast<int>(m_echoes.size()));
        std::copy_n(m_echoes.begin(), read, buffer);
        m_echoes.erase(m_echoes.begin(), m_echoes.begin() + read);
        return m_open;
    }
    bool SetComPortTimeouts() override { return true; }
    QString lastError() const override { return {}; }

private:
    int m_busy;
    bool m_open = false;
    std::vector<std::uint8_t> m_echoes;
};

} // namespace

class TestTemperatureReader : public QObject
{
    Q_OBJECT

private:
    struct Rig
    {
        Rig()
            : link(bus, log, clock)
            , reader(link, log)
        {
            clock.setTickStep(1);
            bus.OpenCOM(QStringLiteral("COM1"));
            reader.setConversionDelayMs(0);
        }
        VirtualBus bus;
        RecordingLog log;
        FakeClock clock;
        OneWireLink link;
        TemperatureReader reader;
    };

    static Scratchpad pad(std::uint8_t lsb, std::uint8_t msb, std::uint8_t remain = 0x0C, std::uint8_t perC = 0x10)
    {
        return { lsb, msb, 0x4B, 0x46, 0x7F, 0xFF, remain, perC, 0 };
    }

private slots:
    void decoding_data()
    {
        QTest::addColumn<QString>("serial");
        QTest::addColumn<Scratchpad>("scratchpad");
        QTest::addColumn<bool>("raw"); // bytes sent as given, CRC included
        QTest::addColumn<double>("expected");
        const QString b20 = QStringLiteral("28A2D984000002EA");
        const QString s20 = QStringLiteral("108739A80208006F");
        QTest::newRow("25.0625") << b20 << pad(0x91, 0x01) << false << 25.0625;
        QTest::newRow("-10.125") << b20 << pad(0x5E, 0xFF) << false << -10.125;
        QTest::newRow("85 as is") << b20 << pad(0x50, 0x05) << false << 85.0;
        QTest::newRow("FFFF") << b20 << pad(0xFF, 0xFF) << false << -0.0625;
        QTest::newRow("raw 16001 negative") << b20 << pad(0x81, 0x3E) << false << (16001 - 65536) / 16.0;
        QTest::newRow("raw 16000 positive") << b20 << pad(0x80, 0x3E) << false << 1000.0;
        QTest::newRow("family 22 as 28") << QStringLiteral("22A2D98400000261") << pad(0x91, 0x01) << false << 25.0625;
        QTest::newRow("family 3B as 28") << QStringLiteral("3BA2D98400000256") << pad(0x91, 0x01) << false << 25.0625;
        QTest::newRow("family 42 as 28") << QStringLiteral("42A2D98400000249") << pad(0x5E, 0xFF) << false << -10.125;
        QTest::newRow("family 10 25.0") << s20 << pad(0x32, 0x00, 0x0C, 0x10) << false << 25.0;
        QTest::newRow("family 10 -0.5") << s20 << pad(0xFF, 0xFF, 4, 16) << false << -0.5;
        QTest::newRow("family 10 COUNT_PER_C 0") << s20 << pad(0x32, 0x00, 0x0C, 0x00) << false << -999.0;
        QTest::newRow("vector 23.125") << b20 << Scratchpad { 0x72, 0x01, 0x4B, 0x46, 0x7F, 0xFF, 0x0E, 0x10, 0x57 } << true << 23.125;
        QTest::newRow("vector 85") << b20 << Scratchpad { 0x50, 0x05, 0x4B, 0x46, 0x7F, 0xFF, 0x0C, 0x10, 0x1C } << true << 85.0;
        QTest::newRow("vector DS18S20 85") << s20 << Scratchpad { 0xAA, 0x00, 0x4B, 0x46, 0xFF, 0xFF, 0x0C, 0x10, 0x87 } << true << 85.0;
        QTest::newRow("vector wrong CRC") << b20 << Scratchpad { 0x72, 0x01, 0x4B, 0x46, 0x7F, 0xFF, 0x0E, 0x10, 0x58 } << true << -999.0;
    }
    void decoding()
    {
        QFETCH(QString, serial);
        QFETCH(Scratchpad, scratchpad);
        QFETCH(bool, raw);
        QFETCH(double, expected);
        Rig rig;
        rig.bus.addSensor(serial)->setScratchpad(scratchpad, raw);
        QCOMPARE(runTask(rig.reader.GetTempSn(serial)), expected);
        QVERIFY(rig.log.lines.isEmpty());
    }

    void modelledTemperatures_data()
    {
        QTest::addColumn<QString>("serial");
        QTest::addColumn<double>("celsius");
        QTest::addColumn<double>("expected");
        QTest::newRow("DS18B20 21.5") << QStringLiteral("2825EA52050000CE") << 21.5 << 21.5;
        QTest::newRow("DS18B20 -0.0625") << QStringLiteral("2825EA52050000CE") << -0.0625 << -0.0625;
        QTest::newRow("DS18B20 rounds to 1/16") << QStringLiteral("2825EA52050000CE") << 20.03 << 20.0;
        QTest::newRow("DS18S20 21.5") << QStringLiteral("108739A80208006F") << 21.5 << 21.5;
        QTest::newRow("DS18S20 -12.25") << QStringLiteral("108739A80208006F") << -12.25 << -12.25;
        QTest::newRow("DS18S20 22.8125") << QStringLiteral("108739A80208006F") << 22.8125 << 22.8125;
    }
    void modelledTemperatures()
    {
        QFETCH(QString, serial);
        QFETCH(double, celsius);
        QFETCH(double, expected);
        Rig rig;
        rig.bus.addSensor(serial, celsius);
        QCOMPARE(runTask(rig.reader.GetTempSn(serial)), expected);
    }

    void addressesOnlyTheNamedSensor()
    {
        Rig rig;
        rig.bus.addSensor(QStringLiteral("2825EA52050000CE"), 10.0);
        rig.bus.addSensor(QStringLiteral("28ECEDC7050000F6"), -5.0);
        rig.bus.addSensor(QStringLiteral("108739A80208006F"), 30.0);
        QCOMPARE(runTask(rig.reader.GetTempSn(QStringLiteral("28ECEDC7050000F6"))), -5.0);
        QCOMPARE(runTask(rig.reader.GetTempSn(QStringLiteral("2825EA52050000CE"))), 10.0);
        QCOMPARE(runTask(rig.reader.GetTempSn(QStringLiteral("108739A80208006F"))), 30.0);
        // A lower-case serial addresses the same ROM bytes.
        QCOMPARE(runTask(rig.reader.GetTempSn(QStringLiteral("28ecedc7050000f6"))), -5.0);
        // A sensor that is not on the bus answers nothing but the others' presence.
        QCOMPARE(runTask(rig.reader.GetTempSn(QStringLiteral("28A2D984000002EA"))), -999.0);
        QVERIFY(rig.log.lines.isEmpty());
    }

    void powerOnValueUntilFirstConversion()
    {
        Rig rig;
        auto sensor = rig.bus.addSensor(QStringLiteral("28A2D984000002EA"), 19.0);
        const auto readWithoutConversion = [&rig] {
            runTask(rig.link.ResetT());
            runTask(rig.link.SendB(0xCC)); // Skip ROM
            runTask(rig.link.SendB(0xBE));
            Scratchpad bytes {};
            for (auto &byte : bytes)
                byte = runTask(rig.link.GetB());
            return bytes;
        };
        QCOMPARE(readWithoutConversion(), (Scratchpad { 0x50, 0x05, 0x4B, 0x46, 0x7F, 0xFF, 0x0C, 0x10, 0x1C }));
        QCOMPARE(runTask(rig.reader.GetTempSn(QStringLiteral("28A2D984000002EA"))), 19.0);
        QCOMPARE(sensor->conversions(), 1);
        sensor->setPlugged(false);
        QCOMPARE(runTask(rig.reader.GetTempSn(QStringLiteral("28A2D984000002EA"))), -999.0);
        sensor->setPlugged(true);
        QCOMPARE(readWithoutConversion()[0], std::uint8_t(0x50));
    }

    void temperatureChangesOverTime()
    {
        Rig rig;
        int calls = 0;
        rig.bus.addSensor(QStringLiteral("28A2D984000002EA"))->setTemperatureFunction([&calls] { return 20.0 + calls++; });
        QCOMPARE(runTask(rig.reader.GetTempSn(QStringLiteral("28A2D984000002EA"))), 20.0);
        QCOMPARE(runTask(rig.reader.GetTempSn(QStringLiteral("28A2D984000002EA"))), 21.0);
    }

    void faults_data()
    {
        QTest::addColumn<QString>("serial");
        QTest::addColumn<int>("fault"); // 0 corrupt CRC, 1 absent, 2 held low, 3 no echo
        QTest::addColumn<double>("expected");
        QTest::newRow("wrong CRC") << QStringLiteral("28A2D984000002EA") << 0 << -999.0;
        QTest::newRow("absent") << QStringLiteral("28A2D984000002EA") << 1 << -999.0;
        // Nine zero bytes pass the CRC but are no reading.
        QTest::newRow("held low family 28") << QStringLiteral("28A2D984000002EA") << 2 << -999.0;
        QTest::newRow("held low family 10") << QStringLiteral("108739A80208006F") << 2 << -999.0;
        QTest::newRow("no echo") << QStringLiteral("28A2D984000002EA") << 3 << -999.0;
    }
    void faults()
    {
        QFETCH(QString, serial);
        QFETCH(int, fault);
        QFETCH(double, expected);
        Rig rig;
        auto sensor = rig.bus.addSensor(serial, 22.0);
        switch (fault) {
        case 0: sensor->setCorruptCrc(true); break;
        case 1: rig.bus.removeDevice(serial); break;
        case 2: rig.bus.setFault(VirtualBus::EchoFault::HeldLow); break;
        default: rig.bus.setFault(VirtualBus::EchoFault::NoEcho); break;
        }
        QCOMPARE(runTask(rig.reader.GetTempSn(serial)), expected);
        QVERIFY(rig.log.lines.isEmpty());
    }

    void badSerialIsLoggedWithoutBusTraffic_data()
    {
        QTest::addColumn<QString>("serial");
        QTest::newRow("15 characters") << QStringLiteral("28A2D984000002E");
        QTest::newRow("17 characters") << QStringLiteral("28A2D984000002EA0");
        QTest::newRow("empty") << QString();
        QTest::newRow("16 not hex") << QStringLiteral("28A2D98400000GEA");
        QTest::newRow("16 with blanks") << QStringLiteral("28 A2D984000002E");
        QTest::newRow("16 with sign") << QStringLiteral("28A2D98400000-EA");
    }
    void badSerialIsLoggedWithoutBusTraffic()
    {
        QFETCH(QString, serial);
        Rig rig;
        rig.bus.addSensor(QStringLiteral("28A2D984000002EA"));
        QCOMPARE(runTask(rig.reader.GetTempSn(serial)), -999.0);
        QCOMPARE(rig.log.rawLines, QStringList { QStringLiteral("Непавильный серийный номер датчика: ") + serial });
        QVERIFY(rig.log.messages.isEmpty());
        QCOMPARE(rig.bus.busCounters().characters, 0u);
    }

    void familyIsTheFirstTwoCharacters()
    {
        // "28" decodes as DS18B20 whatever the device is; the model answers with its own
        // family's scratchpad layout, fixed here so the decoding alone decides.
        Rig rig;
        const QString serial = QStringLiteral("28A2D984000002EA");
        rig.bus.addSensor(serial)->setScratchpad(pad(0x32, 0x00, 0x0C, 0x10));
        QCOMPARE(runTask(rig.reader.GetTempSn(serial)), 50 / 16.0);
        QCOMPARE(TemperatureReader::decode(pad(0x32, 0x00, 0x0C, 0x10), false), 25.0);
    }

    void oneReadingCostsFourRoundTrips()
    {
        Rig rig;
        rig.bus.addSensor(QStringLiteral("28A2D984000002EA"));
        rig.bus.resetCounters();
        QCOMPARE(runTask(rig.reader.GetTempSn(QStringLiteral("28A2D984000002EA"))), 20.0);
        QCOMPARE(rig.bus.counters().roundTrips, 4u); // 2 resets, 2 transactions
        QCOMPARE(rig.bus.busCounters().resets, 2u);
        QCOMPARE(rig.bus.busCounters().slotCount, 29u * 8u);
    }

    // One conversion for the whole bus, on the bus's own clock (the test's): the wait ends
    // when the slowest sensor with its own supply is done, or at the limit when one never is.
    void wholeBusConversion_data()
    {
        QTest::addColumn<QList<int>>("conversionMs"); // per sensor; -1: never done
        QTest::addColumn<int>("outcome");             // TemperatureReader::Conversion
        QTest::addColumn<int>("atLeastMs");           // the wait on the clock, at least
        QTest::addColumn<int>("belowMs");             // and below
        const int done = static_cast<int>(TemperatureReader::Conversion::Done);
        const int timedOut = static_cast<int>(TemperatureReader::Conversion::TimedOut);
        QTest::newRow("instantaneous") << QList<int>{0, 0} << done << 0 << 100;
        QTest::newRow("the slowest decides") << QList<int>{200, 600} << done << 600 << 750;
        QTest::newRow("one never done") << QList<int>{200, VirtualSensor::NeverDone} << timedOut << 850 << 1000;
    }
    void wholeBusConversion()
    {
        QFETCH(QList<int>, conversionMs);
        QFETCH(int, outcome);
        QFETCH(int, atLeastMs);
        QFETCH(int, belowMs);
        Rig rig;
        rig.clock.setTickStep(5);
        rig.bus.setTimeSource([&rig] { return static_cast<qint64>(rig.clock.tickCount()); });
        rig.reader.setConversionDelayMs(750);
        const QStringList serials = {QStringLiteral("28A2D984000002EA"), QStringLiteral("108739A80208006F")};
        for (int i = 0; i < serials.size(); ++i) {
            auto sensor = rig.bus.addSensor(serials[i], 20.0 + i);
            sensor->setConversionMs(conversionMs[i]);
        }
        rig.bus.resetCounters();
        const quint32 start = rig.clock.tickCount();
        const auto result = runTask(rig.reader.convertAll());
        const quint32 waited = rig.clock.tickCount() - start;
        QCOMPARE(static_cast<int>(result), outcome);
        QVERIFY2(waited >= static_cast<quint32>(atLeastMs) && waited < static_cast<quint32>(belowMs),
                 qPrintable(QString::number(waited)));
        // One reset, then one round trip per batch of read slots (the first rides with Convert T).
        const auto bus = rig.bus.busCounters();
        QCOMPARE(bus.resets, 1u);
        QCOMPARE(bus.slotCount, 16u + std::uint64_t(TemperatureReader::PollSlots) * (bus.roundTrips - 1));
        for (int i = 0; i < serials.size(); ++i) {
            const double expected = conversionMs[i] == VirtualSensor::NeverDone ? 85.0 : 20.0 + i;
            QCOMPARE(runTask(rig.reader.readConverted(serials[i])), expected);
            QCOMPARE(rig.bus.findSensor(serials[i])->conversions(), 1);
        }
        // Alone, the sensor that hangs gives no answer rather than an old reading.
        for (int i = 0; i < serials.size(); ++i) {
            const double expected = conversionMs[i] == VirtualSensor::NeverDone ? -999.0 : 20.0 + i;
            QCOMPARE(runTask(rig.reader.GetTempSnPolled(serials[i])), expected);
        }
        QVERIFY(rig.log.lines.isEmpty());
    }

    // The conversion ends in the middle of a batch of read slots: the batch's last slot is
    // the latest word, so that batch ends the wait.
    void wholeBusPollEndsOnTheBatchTheConversionEnds()
    {
        // Skip ROM and Convert T release six slots; then the batch that rides with Convert T
        // reads busy, and the first poll busy for four slots and done for the other four.
        ConvertingLine line(6 + TemperatureReader::PollSlots + 4);
        FakeClock clock;
        clock.setTickStep(1);
        RecordingLog log;
        OneWireLink link(line, log, clock);
        TemperatureReader reader(link, log);
        reader.setConversionDelayMs(750);
        line.OpenCOM(QStringLiteral("COM1"));
        QCOMPARE(runTask(reader.convertAll()), TemperatureReader::Conversion::Done);
        QCOMPARE(line.releasedSlots, 6 + 2 * TemperatureReader::PollSlots);
    }

    // Read before its conversion ends, a sensor gives the reading before (as a real one does).
    void readingBeforeTheEndIsTheOldOne()
    {
        Rig rig;
        rig.bus.setTimeSource([&rig] { return static_cast<qint64>(rig.clock.tickCount()); });
        const QString serial = QStringLiteral("28A2D984000002EA");
        auto sensor = rig.bus.addSensor(serial, 20.0);
        QCOMPARE(runTask(rig.reader.GetTempSn(serial)), 20.0);
        sensor->setConversionMs(600);
        sensor->setTemperature(30.0);
        QCOMPARE(runTask(rig.reader.GetTempSn(serial)), 20.0);
        QVERIFY(sensor->converting());
        rig.clock.advance(600);
        QCOMPARE(runTask(rig.reader.readConverted(serial)), 30.0);
    }

    void powerSupply_data()
    {
        QTest::addColumn<QList<bool>>("parasite"); // per device
        QTest::addColumn<int>("answer");            // -1: no device answered, else 0/1
        QTest::newRow("no device") << QList<bool>{} << -1;
        QTest::newRow("all on their own supply") << QList<bool>{false, false} << 0;
        QTest::newRow("one on the data line") << QList<bool>{false, true} << 1;
    }
    void powerSupply()
    {
        QFETCH(QList<bool>, parasite);
        QFETCH(int, answer);
        Rig rig;
        for (int i = 0; i < parasite.size(); ++i)
            rig.bus.addSensor(QStringLiteral("28A2D98400000%1EA").arg(i))->setParasitePower(parasite[i]);
        rig.bus.resetCounters();
        const std::optional<bool> result = runTask(rig.reader.parasitePowered());
        QCOMPARE(result.has_value() ? int(*result) : -1, answer);
        QCOMPARE(rig.bus.counters().roundTrips, parasite.isEmpty() ? 1u : 2u);
    }

    // A parasite-powered sensor cannot say it is busy: a poll would end at once and read the
    // old scratchpad; this is why the cycle asks first.
    void parasiteSensorCannotBePolled()
    {
        Rig rig;
        rig.bus.setTimeSource([&rig] { return static_cast<qint64>(rig.clock.tickCount()); });
        const QString serial = QStringLiteral("28A2D984000002EA");
        auto sensor = rig.bus.addSensor(serial, 20.0);
        QCOMPARE(runTask(rig.reader.GetTempSn(serial)), 20.0);
        sensor->setParasitePower(true);
        sensor->setConversionMs(600);
        sensor->setTemperature(30.0);
        QCOMPARE(runTask(rig.reader.convertAll()), TemperatureReader::Conversion::Done);
        QCOMPARE(runTask(rig.reader.readConverted(serial)), 20.0);
    }

    void portClosedDuringConversionWait()
    {
        VirtualBus bus;
        RecordingLog log;
        SystemClock clock;
        OneWireLink link(bus, log, clock);
        TemperatureReader reader(link, log);
        reader.setConversionDelayMs(30);
        bus.OpenCOM(QStringLiteral("COM1"));
        bus.addSensor(QStringLiteral("28A2D984000002EA"));
        QTimer::singleShot(0, this, [&bus] { bus.CloseCOM(); });
        QCOMPARE(runTask(reader.GetTempSn(QStringLiteral("28A2D984000002EA"))), -999.0);
        QVERIFY(log.lines.isEmpty());
    }

    void conversionWaitKeepsEventsRunning()
    {
        VirtualBus bus;
        RecordingLog log;
        SystemClock clock;
        OneWireLink link(bus, log, clock);
        TemperatureReader reader(link, log);
        QCOMPARE(reader.conversionDelayMs(), 750);
        reader.setConversionDelayMs(40);
        bus.OpenCOM(QStringLiteral("COM1"));
        bus.addSensor(QStringLiteral("28A2D984000002EA"), 18.5);
        int ticks = 0;
        QTimer timer;
        connect(&timer, &QTimer::timeout, this, [&ticks] { ++ticks; });
        timer.start(5);
        const quint32 start = clock.tickCount();
        QCOMPARE(runTask(reader.GetTempSn(QStringLiteral("28A2D984000002EA"))), 18.5);
        QVERIFY(clock.tickCount() - start >= 40);
        QVERIFY(ticks >= 1);
    }
};

QTEST_GUILESS_MAIN(TestTemperatureReader)
#include "tst_temperaturereader.moc"
