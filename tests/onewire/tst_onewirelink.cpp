#include "onewire/OneWireCrc.h"
#include "onewire/OneWireLink.h"
#include "onewire/OneWireTransaction.h"
#include "onewire/VirtualBus.h"
#include "onewire/VirtualSensor.h"
#include "support/RunTask.h"
#include "support/FakeClock.h"
#include "support/RecordingLog.h"

#include <QCoroTask>
#include <QTest>
#include <QTimer>

using Bytes = std::vector<std::uint8_t>;
Q_DECLARE_METATYPE(Bytes)

class TestOneWireLink : public QObject
{
    Q_OBJECT

private:
    struct Rig
    {
        Rig()
            : link(bus, log, clock)
        {
            clock.setTickStep(1); // every tick read moves time, so echo deadlines pass
            bus.OpenCOM(QStringLiteral("COM1"));
            bus.setRecordSent(true);
        }
        VirtualBus bus;
        RecordingLog log;
        FakeClock clock;
        OneWireLink link;
    };

private slots:
    void resetEcho_data()
    {
        QTest::addColumn<int>("echo"); // -1: no echo at all
        QTest::addColumn<bool>("presence");
        QTest::newRow("F0 nobody") << 0xF0 << false;
        QTest::newRow("E0 presence") << 0xE0 << true;
        QTest::newRow("90 presence") << 0x90 << true;
        QTest::newRow("00 shorted bus") << 0x00 << true;
        QTest::newRow("no echo") << -1 << false;
    }
    void resetEcho()
    {
        QFETCH(int, echo);
        QFETCH(bool, presence);
        Rig rig;
        if (echo < 0)
            rig.bus.setFault(VirtualBus::EchoFault::NoEcho);
        else
            rig.bus.setFault(VirtualBus::EchoFault::FixedEcho, 0, static_cast<std::uint8_t>(echo));
        QCOMPARE(runTask(rig.link.ResetT()), presence);
        QCOMPARE(rig.bus.sentLog(), Bytes { 0xF0 });
        QCOMPARE(rig.bus.busCounters().resets, 1u);
        QCOMPARE(rig.bus.baud(), 115200);
        QVERIFY(rig.log.lines.isEmpty());
    }

    void resetSeesDevices()
    {
        Rig rig;
        QVERIFY(!runTask(rig.link.ResetT()));
        rig.bus.addSensor(QStringLiteral("28A2D984000002EA"));
        QVERIFY(runTask(rig.link.ResetT()));
    }

    void byteReadStoppingEarlyIsAllOnes_data()
    {
        QTest::addColumn<int>("echoes");
        QTest::addColumn<int>("expected");
        QTest::newRow("after third slot") << 3 << 0xFF;
        QTest::newRow("none") << 0 << 0xFF;
        QTest::newRow("all eight") << 8 << 0x00;
    }
    void byteReadStoppingEarlyIsAllOnes()
    {
        QFETCH(int, echoes);
        QFETCH(int, expected);
        Rig rig;
        rig.bus.SetModCOM(115200, 8, 0, 0, true, false);
        // Every slot that echoes reads 0, so the bits gathered so far would give 0xF8.
        rig.bus.queueEchoOverride(Bytes(8, 0xFC));
        rig.bus.setFault(VirtualBus::EchoFault::StopAfter, echoes);
        QCOMPARE(int(runTask(rig.link.GetB())), expected);
        QCOMPARE(rig.bus.sentLog(), Bytes(8, 0xFF));
        QCOMPARE(rig.bus.counters().roundTrips, 1u);
    }

    void byteReadUsesLowestBitOfEachEcho()
    {
        Rig rig;
        rig.bus.SetModCOM(115200, 8, 0, 0, true, false);
        // 0xF8 counts as 0 in a byte read; least significant bit first.
        rig.bus.queueEchoOverride({ 0xFF, 0xF8, 0xFF, 0xFF, 0xFC, 0xFF, 0xFE, 0xFF });
        QCOMPARE(int(runTask(rig.link.GetB())), 0b10101101);
        QVERIFY(rig.log.lines.isEmpty());
    }

    void getBitEcho_data()
    {
        QTest::addColumn<int>("echo");
        QTest::addColumn<int>("bit");
        QTest::addColumn<QStringList>("log");
        QTest::newRow("252") << 252 << 0 << QStringList();
        QTest::newRow("255") << 255 << 1 << QStringList();
        QTest::newRow("254") << 254 << 1 << QStringList { QStringLiteral("Ошибка GetBit: 254") };
        QTest::newRow("248") << 248 << 1 << QStringList { QStringLiteral("Ошибка GetBit: 248") };
        QTest::newRow("no echo") << -1 << 1 << QStringList();
    }
    void getBitEcho()
    {
        QFETCH(int, echo);
        QFETCH(int, bit);
        QFETCH(QStringList, log);
        Rig rig;
        if (echo < 0)
            rig.bus.setFault(VirtualBus::EchoFault::NoEcho);
        else
            rig.bus.queueEchoOverride({ static_cast<std::uint8_t>(echo) });
        QCOMPARE(runTask(rig.link.GetBit()), bit);
        QCOMPARE(rig.log.messages, log);
        QCOMPARE(rig.bus.sentLog(), Bytes { 0xFF });
    }

    void sendBit_data()
    {
        QTest::addColumn<int>("bit");
        QTest::addColumn<int>("character");
        QTest::addColumn<QStringList>("log");
        QTest::newRow("1") << 1 << 0xFF << QStringList();
        QTest::newRow("0") << 0 << 0x00 << QStringList();
        QTest::newRow("2") << 2 << 0x00 << QStringList { QStringLiteral("Ошибка Sendbit: 2") };
        QTest::newRow("-1") << -1 << 0x00 << QStringList { QStringLiteral("Ошибка Sendbit: -1") };
    }
    void sendBit()
    {
        QFETCH(int, bit);
        QFETCH(int, character);
        QFETCH(QStringList, log);
        Rig rig;
        runTask(rig.link.SendBit(bit));
        QCOMPARE(rig.bus.sentLog(), Bytes { static_cast<std::uint8_t>(character) });
        QCOMPARE(rig.log.messages, log);
    }

    void sendByteOrderInOneWrite()
    {
        Rig rig;
        runTask(rig.link.SendB(0x55));
        QCOMPARE(rig.bus.sentLog(), (Bytes { 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00 }));
        rig.bus.clearSentLog();
        runTask(rig.link.SendB(0x01));
        QCOMPARE(rig.bus.sentLog(), (Bytes { 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00 }));
        QCOMPARE(rig.bus.counters().roundTrips, 2u);
    }

    void writeWithoutEchoIsHarmless()
    {
        Rig rig;
        rig.bus.setFault(VirtualBus::EchoFault::NoEcho);
        runTask(rig.link.SendB(0xAA));
        runTask(rig.link.SendBit(1));
        QVERIFY(rig.log.lines.isEmpty());
    }

    void closedPortBringsNothing()
    {
        Rig rig;
        rig.bus.addSensor(QStringLiteral("28A2D984000002EA"));
        rig.bus.CloseCOM();
        QVERIFY(!runTask(rig.link.ResetT()));
        QCOMPARE(int(runTask(rig.link.GetB())), 0xFF);
        QCOMPARE(runTask(rig.link.GetBit()), 1);
        runTask(rig.link.SendB(0x44));
        QVERIFY(rig.bus.sentLog().empty());
    }

    void staleEchoesArePurged()
    {
        Rig rig;
        rig.bus.SetModCOM(115200, 8, 0, 0, true, false);
        const std::uint8_t stale[] = { 0x00, 0x00 };
        rig.bus.TxDataCOM(stale, 2); // echoes nobody reads
        QCOMPARE(runTask(rig.link.GetBit()), 1);
        QVERIFY(rig.log.lines.isEmpty());
    }

    // A transaction must give what its steps give one by one, whatever the line does.
    void transactionEqualsStepByStep_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("byte");
        QTest::addColumn<double>("noise");
        const auto fault = [](VirtualBus::EchoFault f) { return static_cast<int>(f); };
        QTest::newRow("clean") << fault(VirtualBus::EchoFault::None) << 0 << 0 << 0.0;
        QTest::newRow("no echo") << fault(VirtualBus::EchoFault::NoEcho) << 0 << 0 << 0.0;
        // The script's steps start at slots 0, 8, 16, 24, 25, 26, 27, 28, 36, 37.
        for (const int after : { 0, 3, 8, 13, 16, 24, 25, 26, 27, 28, 31, 36, 37, 40, 44 })
            QTest::newRow(qPrintable(QStringLiteral("echoes stop after %1").arg(after)))
                << fault(VirtualBus::EchoFault::StopAfter) << after << 0 << 0.0;
        QTest::newRow("every echo 0xFE") << fault(VirtualBus::EchoFault::FixedEcho) << 0 << 0xFE << 0.0;
        QTest::newRow("every echo 0xF8") << fault(VirtualBus::EchoFault::FixedEcho) << 0 << 0xF8 << 0.0;
        QTest::newRow("held low") << fault(VirtualBus::EchoFault::HeldLow) << 0 << 0 << 0.0;
        QTest::newRow("noise") << fault(VirtualBus::EchoFault::None) << 0 << 0 << 0.3;
    }
    void transactionEqualsStepByStep()
    {
        QFETCH(int, fault);
        QFETCH(int, count);
        QFETCH(int, byte);
        QFETCH(double, noise);
        // Read ROM, then reads and writes of both widths, an invalid bit among them.
        enum Kind { WriteByte, ReadByte, WriteBit, ReadBit };
        const std::vector<std::pair<Kind, int>> script { { WriteByte, 0x33 }, { ReadByte, 0 }, { ReadByte, 0 },
            { ReadBit, 0 }, { ReadBit, 0 }, { WriteBit, 2 }, { WriteBit, 1 }, { ReadByte, 0 }, { ReadBit, 0 },
            { ReadByte, 0 } };
        struct Outcome
        {
            bool presence = false;
            Bytes bytes;
            std::vector<int> bits;
            QStringList log;
            Bytes sent;
            std::uint64_t roundTrips = 0;
        };
        const auto runScript = [&](bool batched) {
            Rig rig;
            rig.bus.addSensor(QStringLiteral("28A2D984000002EA"));
            Outcome outcome;
            outcome.presence = runTask(rig.link.ResetT());
            rig.bus.setFault(static_cast<VirtualBus::EchoFault>(fault), count, static_cast<std::uint8_t>(byte));
            rig.bus.setNoise(noise, 7);
            rig.bus.clearSentLog();
            rig.bus.resetCounters();
            OneWireTransaction transaction;
            for (const auto &[kind, value] : script) {
                if (kind == WriteByte && batched)
                    transaction.writeByte(static_cast<std::uint8_t>(value));
                else if (kind == WriteByte)
                    runTask(rig.link.SendB(static_cast<std::uint8_t>(value)));
                else if (kind == ReadByte && batched)
                    transaction.readByte();
                else if (kind == ReadByte)
                    outcome.bytes.push_back(runTask(rig.link.GetB()));
                else if (kind == WriteBit && batched)
                    transaction.writeBit(value);
                else if (kind == WriteBit)
                    runTask(rig.link.SendBit(value));
                else if (batched)
                    transaction.readBit();
                else
                    outcome.bits.push_back(runTask(rig.link.GetBit()));
            }
            if (batched) {
                runTask(rig.link.run(transaction));
                outcome.bytes = transaction.bytesRead();
                outcome.bits = transaction.bitsRead();
            }
            outcome.log = rig.log.messages;
            outcome.sent = rig.bus.sentLog();
            outcome.roundTrips = rig.bus.counters().roundTrips;
            return outcome;
        };
        const Outcome single = runScript(false);
        const Outcome batch = runScript(true);
        QVERIFY(single.presence && batch.presence);
        QCOMPARE(batch.bytes, single.bytes);
        QCOMPARE(batch.bits, single.bits);
        QCOMPARE(batch.log, single.log);
        QCOMPARE(batch.sent, single.sent);
        QCOMPARE(single.roundTrips, std::uint64_t(script.size()));
        QCOMPARE(batch.roundTrips, 1u);
    }

    void crc8_data()
    {
        QTest::addColumn<Bytes>("bytes");
        QTest::addColumn<int>("crc");
        QTest::newRow("seven bytes") << Bytes { 0x02, 0x1C, 0xB8, 0x01, 0x00, 0x00, 0x00 } << 0xA2;
        QTest::newRow("ROM 28A2D984000002EA") << Bytes { 0x28, 0xA2, 0xD9, 0x84, 0x00, 0x00, 0x02, 0xEA } << 0;
        QTest::newRow("ROM 2825EA52050000CE") << Bytes { 0x28, 0x25, 0xEA, 0x52, 0x05, 0x00, 0x00, 0xCE } << 0;
        QTest::newRow("ROM 108739A80208006F") << Bytes { 0x10, 0x87, 0x39, 0xA8, 0x02, 0x08, 0x00, 0x6F } << 0;
        QTest::newRow("ROM 28ECEDC7050000F6") << Bytes { 0x28, 0xEC, 0xED, 0xC7, 0x05, 0x00, 0x00, 0xF6 } << 0;
        QTest::newRow("scratchpad 23.125") << Bytes { 0x72, 0x01, 0x4B, 0x46, 0x7F, 0xFF, 0x0E, 0x10, 0x57 } << 0;
        QTest::newRow("scratchpad 85") << Bytes { 0x50, 0x05, 0x4B, 0x46, 0x7F, 0xFF, 0x0C, 0x10, 0x1C } << 0;
        QTest::newRow("DS18S20 85") << Bytes { 0xAA, 0x00, 0x4B, 0x46, 0xFF, 0xFF, 0x0C, 0x10, 0x87 } << 0;
        QTest::newRow("eight FF") << Bytes(8, 0xFF) << 0xC9;
    }
    void crc8()
    {
        QFETCH(Bytes, bytes);
        QFETCH(int, crc);
        Rig rig;
        rig.link.Crc8 = 0;
        for (const std::uint8_t byte : bytes)
            rig.link.UpdateCRC(byte);
        QCOMPARE(int(rig.link.Crc8), crc);
        QCOMPARE(int(OneWireCrc::of(bytes.data(), bytes.size())), crc);
    }

    void badRomCrcIsSeen()
    {
        const Bytes bad { 0x28, 0x25, 0xEA, 0x52, 0x05, 0x10, 0xF3, 0xCE };
        QVERIFY(OneWireCrc::of(bad.data(), bad.size()) != 0);
    }

    void delayHandlesEventsAtLeastOnce()
    {
        Rig rig;
        bool ran = false;
        QTimer::singleShot(0, this, [&ran] { ran = true; });
        runTask(rig.link.Delay(0));
        QVERIFY(ran);
    }

    void delayWaitsOnTheTickCounter()
    {
        Rig rig;
        const quint32 start = rig.clock.tickCount();
        runTask(rig.link.Delay(30));
        QVERIFY(rig.clock.tickCount() - start >= 30);
    }
};

QTEST_GUILESS_MAIN(TestOneWireLink)
#include "tst_onewirelink.moc"
