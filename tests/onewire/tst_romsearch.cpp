#include "onewire/OneWireLink.h"
#include "onewire/RomSearch.h"
#include "onewire/VirtualBus.h"
#include "onewire/VirtualSensor.h"
#include "support/RunTask.h"
#include "support/FakeClock.h"
#include "support/RecordingLog.h"

#include <QCoroTask>
#include <QSet>
#include <QTest>

namespace {
QString text(const RomDevice::RomCode &rom)
{
    return RomSearch::codeText(rom);
}
} // namespace

class TestRomSearch : public QObject
{
    Q_OBJECT

private:
    struct Rig
    {
        Rig()
            : link(bus, log, clock)
            , search(link)
        {
            clock.setTickStep(1);
            bus.OpenCOM(QStringLiteral("COM1"));
        }
        QStringList enumerate(int maxCalls = 20)
        {
            QStringList found;
            search.clearState();
            for (int i = 0; i < maxCalls; ++i) {
                const QString code = runTask(search.FindDS());
                if (code.isEmpty())
                    return found;
                found << code;
            }
            found << QStringLiteral("<no end>");
            return found;
        }
        VirtualBus bus;
        RecordingLog log;
        FakeClock clock;
        OneWireLink link;
        RomSearch search;
    };

private slots:
    void emptyBus()
    {
        Rig rig;
        rig.search.LastDiscrepancy = 5;
        rig.search.LastDeviceFlag = false;
        QCOMPARE(runTask(rig.search.FindDS()), QString());
        QCOMPARE(rig.search.LastDiscrepancy, 0);
        QVERIFY(!rig.search.LastDeviceFlag);
    }

    void oneDevice()
    {
        Rig rig;
        rig.bus.addSensor(QStringLiteral("28A2D984000002EA"));
        rig.search.clearState();
        QCOMPARE(runTask(rig.search.FindDS()), QStringLiteral("28A2D984000002EA"));
        QVERIFY(rig.search.LastDeviceFlag);
        QCOMPARE(rig.search.LastDiscrepancy, 0);
        QCOMPARE(runTask(rig.search.FindDS()), QString());
        QVERIFY(!rig.search.LastDeviceFlag);
        QCOMPARE(rig.search.LastDiscrepancy, 0);
        // A finished enumeration starts over on the next call.
        QCOMPARE(runTask(rig.search.FindDS()), QStringLiteral("28A2D984000002EA"));
        QVERIFY(rig.log.lines.isEmpty());
    }

    void threeDevicesInCodeOrder()
    {
        Rig rig;
        // D1 and D2: bit 3 = 0 (family 0x28), they split at bit 10 (bit 1 of byte 1); D3: bit 3 = 1.
        const auto d1 = RomDevice::makeRomCode(0x28, { 0x00, 0x11, 0x22, 0x33, 0x44, 0x55 });
        const auto d2 = RomDevice::makeRomCode(0x28, { 0x02, 0x11, 0x22, 0x33, 0x44, 0x55 });
        const auto d3 = RomDevice::makeRomCode(0x2C, { 0x00, 0x11, 0x22, 0x33, 0x44, 0x55 });
        rig.bus.addSensor(text(d3));
        rig.bus.addSensor(text(d1));
        rig.bus.addSensor(text(d2));
        rig.search.clearState();
        QCOMPARE(runTask(rig.search.FindDS()), text(d1));
        QCOMPARE(rig.search.LastDiscrepancy, 10);
        QCOMPARE(runTask(rig.search.FindDS()), text(d2));
        QCOMPARE(rig.search.LastDiscrepancy, 3);
        QCOMPARE(runTask(rig.search.FindDS()), text(d3));
        QVERIFY(rig.search.LastDeviceFlag);
        QCOMPARE(runTask(rig.search.FindDS()), QString());
        QCOMPARE(rig.search.LastDiscrepancy, 0);
        QVERIFY(!rig.search.LastDeviceFlag);
    }

    void manyDevicesAllFoundOnce()
    {
        Rig rig;
        QStringList expected;
        for (int i = 0; i < 12; ++i) {
            const auto rom = RomDevice::makeRomCode(i % 2 ? 0x10 : 0x28,
                { static_cast<std::uint8_t>(i * 37), static_cast<std::uint8_t>(i), 0, 0, 0, 0 });
            rig.bus.addSensor(text(rom));
            expected << text(rom);
        }
        QStringList found = rig.enumerate();
        QCOMPARE(found.size(), expected.size());
        found.sort();
        expected.sort();
        QCOMPARE(found, expected);
    }

    void familyFFIsNotReported()
    {
        Rig rig;
        rig.bus.addSensor(text(RomDevice::makeRomCode(0xFF, { 1, 2, 3, 4, 5, 6 })));
        rig.search.LastDiscrepancy = 0;
        QCOMPARE(runTask(rig.search.FindDS()), QString());
        QCOMPARE(rig.search.LastDiscrepancy, 0);
        QVERIFY(!rig.search.LastDeviceFlag);
    }

    void badCrcFailsThePass()
    {
        Rig rig;
        rig.bus.addSensor(QStringLiteral("2825EA520510F3CE"));
        QCOMPARE(rig.enumerate(), QStringList());
    }

    void noisyPassEndsCleanly_data()
    {
        QTest::addColumn<uint>("seed");
        for (uint seed = 1; seed <= 8; ++seed)
            QTest::newRow(qPrintable(QString::number(seed))) << seed;
    }
    void noisyPassEndsCleanly()
    {
        QFETCH(uint, seed);
        Rig rig;
        QSet<QString> codes;
        for (int i = 0; i < 4; ++i) {
            const auto rom = RomDevice::makeRomCode(0x28, { static_cast<std::uint8_t>(i * 64 + 3), 9, 8, 7, 6, 5 });
            rig.bus.addSensor(text(rom));
            codes.insert(text(rom));
        }
        rig.bus.setNoise(0.01, seed);
        const QStringList found = rig.enumerate();
        QVERIFY(!found.contains(QStringLiteral("<no end>")));
        for (const QString &code : found)
            QVERIFY2(codes.contains(code), qPrintable(code));
        QCOMPARE(rig.search.LastDiscrepancy, 0);
        QVERIFY(!rig.search.LastDeviceFlag);
    }

    // A line that echoes the same nine characters over and over (found by fuzzing) once made
    // every pass succeed, so the enumeration, and the sensor search with it, never ended.
    void repeatingLineEndsTheEnumeration()
    {
        Rig rig;
        const std::vector<std::uint8_t> cycle{0xFC, 0xE0, 0xE0, 0xFC, 0xFC, 0xE0, 0xFC, 0x00, 0xFF};
        std::vector<std::uint8_t> echoes;
        for (int i = 0; i < 40000; ++i)
            echoes.insert(echoes.end(), cycle.begin(), cycle.end());
        rig.bus.queueEchoOverride(echoes);
        const QStringList found = rig.enumerate(RomSearch::MaxDevices + 10);
        QVERIFY(!found.contains(QStringLiteral("<no end>")));
        QCOMPARE(QSet<QString>(found.begin(), found.end()).size(), found.size());
    }

    void noEchoEndsAtOnce()
    {
        Rig rig;
        rig.bus.addSensor(QStringLiteral("28A2D984000002EA"));
        rig.bus.setFault(VirtualBus::EchoFault::NoEcho);
        QCOMPARE(runTask(rig.search.FindDS()), QString());
    }

    void onePassCosts66RoundTrips()
    {
        Rig rig;
        rig.bus.addSensor(QStringLiteral("2825EA52050000CE"));
        rig.bus.addSensor(QStringLiteral("28ECEDC7050000F6"));
        rig.bus.addSensor(QStringLiteral("108739A80208006F"));
        rig.search.clearState();
        rig.bus.resetCounters();
        QCOMPARE(runTask(rig.search.FindDS()), QStringLiteral("108739A80208006F"));
        // The reset, Search ROM with the first pair, each direction bit with the next pair,
        // the last direction bit: the bus still sees 8 + 64 x 3 slots.
        QCOMPARE(rig.bus.counters().roundTrips, 66u);
        QCOMPARE(rig.bus.busCounters().slotCount, 8u + 64u * 3u);
    }

    void singleDeviceRead()
    {
        Rig rig;
        QCOMPARE(runTask(rig.search.GetSNForOne()), QString());
        rig.bus.addSensor(QStringLiteral("28A2D984000002EA"));
        QCOMPARE(runTask(rig.search.GetSNForOne()), QStringLiteral("28 A2 D9 84 00 00 02 EA "));
    }

    void singleDeviceReadOfTwoIsTheirAnd()
    {
        Rig rig;
        rig.bus.addSensor(QStringLiteral("2825EA52050000CE"));
        rig.bus.addSensor(QStringLiteral("108739A80208006F"));
        QCOMPARE(runTask(rig.search.GetSNForOne()), QStringLiteral("00 05 28 00 00 00 00 4E "));
    }

    void unpluggedDeviceDropsOut()
    {
        Rig rig;
        auto a = rig.bus.addSensor(QStringLiteral("2825EA52050000CE"));
        rig.bus.addSensor(QStringLiteral("28ECEDC7050000F6"));
        QCOMPARE(rig.enumerate().size(), 2);
        a->setPlugged(false);
        QCOMPARE(rig.enumerate(), QStringList { QStringLiteral("28ECEDC7050000F6") });
        a->setPlugged(true);
        QCOMPARE(rig.enumerate().size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestRomSearch)
#include "tst_romsearch.moc"
