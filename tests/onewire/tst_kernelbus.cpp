#include "onewire/KernelBus.h"
#include "onewire/OneWireCrc.h"
#include "onewire/OneWireLink.h"
#include "onewire/RomSearch.h"
#include "onewire/TemperatureReader.h"
#include "onewire/VirtualBus.h"
#include "onewire/VirtualSensor.h"
#include "support/FakeClock.h"
#include "support/RecordingLog.h"
#include "support/RunTask.h"
#include "support/SysfsTree.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <QThread>

#include <QTimer>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using Scratchpad = std::array<std::uint8_t, 9>;
Q_DECLARE_METATYPE(Scratchpad)

namespace {

const QString SnA = QStringLiteral("28ECEDC7050000F6");
const QString SnB = QStringLiteral("2825EA52050000CE");
const QString SnS = QStringLiteral("108739A80208006F"); // DS18S20

Scratchpad withCrc(Scratchpad pad)
{
    pad[8] = OneWireCrc::of(pad.data(), 8);
    return pad;
}

// Every code of a serial search over the virtual bus, in the order it gives them.
QStringList serialSearch(const QStringList &serials)
{
    VirtualBus bus;
    RecordingLog log;
    FakeClock clock;
    clock.setTickStep(1);
    for (const QString &sn : serials)
        bus.addSensor(sn);
    bus.OpenCOM(QStringLiteral("COM1"));
    OneWireLink link(bus, log, clock);
    RomSearch search(link);
    QStringList found;
    for (;;) {
        const QString code = runTask(search.FindDS());
        if (code.isEmpty())
            break;
        found << code;
    }
    return found;
}

} // namespace

class TestKernelBus : public QObject
{
    Q_OBJECT

private slots:
    void names_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("serial"); // empty: no device's name
        QTest::newRow("DS18B20") << "28-000005c7edec" << SnA;
        QTest::newRow("DS18S20") << "10-000802a83987" << SnS;
        QTest::newRow("another family") << "3b-0c98073df4ab" << RomSearch::codeText([] {
            std::array<std::uint8_t, 8> rom {0x3B, 0xAB, 0xF4, 0x3D, 0x07, 0x98, 0x0C, 0};
            rom[7] = OneWireCrc::of(rom.data(), 7);
            return rom;
        }());
        QTest::newRow("bus master") << "w1_bus_master1" << "";
        QTest::newRow("short") << "28-000005c7ede" << "";
        QTest::newRow("no dash") << "28_000005c7edec" << "";
        QTest::newRow("not hex") << "28-000005c7edeg" << "";
    }
    void names()
    {
        QFETCH(QString, name);
        QFETCH(QString, serial);
        QCOMPARE(KernelBus::serialOfName(name), serial);
        if (!serial.isEmpty()) {
            QCOMPARE(KernelBus::nameOfSerial(serial), name);
            QCOMPARE(KernelBus::nameOfSerial(serial.toLower()), name);
        }
    }

    // A serial that no device can have (its CRC byte is wrong, it is no hex text) has no
    // folder: the reading is no answer, as Match ROM finds nobody on the line.
    void serialsWithoutFolder()
    {
        QCOMPARE(KernelBus::nameOfSerial(QStringLiteral("28ECEDC7050000F7")), QString());
        QCOMPARE(KernelBus::nameOfSerial(QStringLiteral("28ECEDC7050000F")), QString());
        QCOMPARE(KernelBus::nameOfSerial(QStringLiteral("28ECEDC7050000FX")), QString());
    }

    // The same scratchpad over the serial line and in w1_slave gives the same reading or
    // the same "no reading".
    void readingsEqualTheSerialBus_data()
    {
        QTest::addColumn<QString>("serial");
        QTest::addColumn<Scratchpad>("scratchpad"); // sent as given, CRC byte included
        QTest::addColumn<double>("expected");
        const Scratchpad p21 = withCrc({0x58, 0x01, 0x4B, 0x46, 0x7F, 0xFF, 0x08, 0x10, 0});
        QTest::newRow("21.5") << SnA << p21 << 21.5;
        QTest::newRow("-10.125") << SnA << withCrc({0x5E, 0xFF, 0x4B, 0x46, 0x7F, 0xFF, 0x02, 0x10, 0}) << -10.125;
        QTest::newRow("85000: returned, the cycle rejects it")
            << SnA << withCrc({0x50, 0x05, 0x4B, 0x46, 0x7F, 0xFF, 0x0C, 0x10, 0}) << 85.0;
        QTest::newRow("DS18S20 25.0") << SnS << withCrc({0x32, 0x00, 0x4B, 0x46, 0xFF, 0xFF, 0x0C, 0x10, 0}) << 25.0;
        Scratchpad bad = p21;
        bad[8] ^= 0x01;
        QTest::newRow("wrong CRC byte") << SnA << bad << -999.0;
        QTest::newRow("nine zero bytes") << SnA << Scratchpad {} << -999.0;
        QTest::newRow("DS18S20 COUNT_PER_C 0")
            << SnS << withCrc({0x32, 0x00, 0x4B, 0x46, 0xFF, 0xFF, 0x0C, 0x00, 0}) << -999.0;
    }
    void readingsEqualTheSerialBus()
    {
        QFETCH(QString, serial);
        QFETCH(Scratchpad, scratchpad);
        QFETCH(double, expected);

        VirtualBus bus;
        RecordingLog serialLog;
        FakeClock clock;
        clock.setTickStep(1);
        bus.addSensor(serial)->setScratchpad(scratchpad, true);
        bus.OpenCOM(QStringLiteral("COM1"));
        OneWireLink link(bus, serialLog, clock);
        TemperatureReader reader(link, serialLog);
        reader.setConversionDelayMs(0);
        const double overSerial = runTask(reader.GetTempSn(serial));

        SysfsTree tree;
        tree.addMaster(1);
        // The kernel finds the same CRC wrong and says so.
        const bool crcOk = OneWireCrc::of(scratchpad.data(), 9) == 0;
        tree.addDevice(1, serial, SysfsTree::w1SlaveText(scratchpad, serial.startsWith(QLatin1String("28")), crcOk));
        RecordingLog kernelLog;
        KernelBus kernel(kernelLog, tree.path());
        kernel.open();
        const double overKernel = runTask(kernel.GetTempSn(serial));

        QCOMPARE(overSerial, expected);
        QCOMPARE(overKernel, expected);
        QCOMPARE(kernelLog.lines, serialLog.lines);
    }

    // What else w1_slave may hold, or that it is not there: no reading, nothing logged.
    void noAnswer_data()
    {
        QTest::addColumn<QByteArray>("text");
        const Scratchpad p21 = withCrc({0x58, 0x01, 0x4B, 0x46, 0x7F, 0xFF, 0x08, 0x10, 0});
        QByteArray good = SysfsTree::w1SlaveText(p21, true);
        QTest::newRow("good") << good;
        // The bytes are right yet the kernel says NO: its word counts.
        QByteArray no = good;
        no.replace(" YES", " NO");
        QTest::newRow("crc=NO") << no;
        QTest::newRow("empty: a conversion pending") << QByteArray();
        QTest::newRow("eight bytes") << QByteArray("58 01 4b 46 7f ff 08 10 : crc=d5 YES\n");
        QTest::newRow("no colon") << QByteArray("58 01 4b 46 7f ff 08 10 d5\n");
        QTest::newRow("gone") << QByteArray("<gone>");
    }
    void noAnswer()
    {
        QFETCH(QByteArray, text);
        SysfsTree tree;
        tree.addMaster(1);
        tree.addDevice(1, SnA, text);
        if (text == "<gone>")
            tree.removeDevice(1, SnA);
        RecordingLog log;
        KernelBus kernel(log, tree.path());
        kernel.open();
        const double t = runTask(kernel.GetTempSn(SnA));
        QCOMPARE(t, QTest::currentDataTag() == QByteArray("good") ? 21.5 : -999.0);
        QVERIFY(log.lines.isEmpty());
    }

    void malformedSerialIsLogged_data()
    {
        QTest::addColumn<QString>("serial");
        QTest::newRow("15 digits") << "28ECEDC7050000F";
        QTest::newRow("not hex") << "28ECEDC7050000FX";
    }
    void malformedSerialIsLogged()
    {
        QFETCH(QString, serial);
        SysfsTree tree;
        tree.addMaster(1);
        RecordingLog log;
        KernelBus kernel(log, tree.path());
        kernel.open();
        QCOMPARE(runTask(kernel.GetTempSn(serial)), -999.0);
        QCOMPARE(log.lines, QStringList{QStringLiteral("Непавильный серийный номер датчика: ") + serial});
        // After a conversion of the whole bus the caller falls back to GetTempSn, which logs.
        log.clear();
        QCOMPARE(runTask(kernel.readConverted(serial)), -999.0);
        QVERIFY(log.lines.isEmpty());
    }

    // A w1_slave the program may not read: no reading, logged once until it reads again.
    void noRightsLoggedOnce()
    {
        if (::geteuid() == 0)
            QSKIP("root reads every file");
        SysfsTree tree;
        tree.addMaster(1);
        const Scratchpad p21 = withCrc({0x58, 0x01, 0x4B, 0x46, 0x7F, 0xFF, 0x08, 0x10, 0});
        tree.addDevice(1, SnA, SysfsTree::w1SlaveText(p21, true));
        QVERIFY(QFile::setPermissions(tree.w1Slave(SnA), QFileDevice::WriteOwner));
        RecordingLog log;
        KernelBus kernel(log, tree.path());
        kernel.open();
        QCOMPARE(runTask(kernel.GetTempSn(SnA)), -999.0);
        QCOMPARE(runTask(kernel.GetTempSn(SnA)), -999.0);
        QCOMPARE(log.messages, QStringList{QStringLiteral("Нет прав на чтение ") + tree.w1Slave(SnA) + QLatin1Char('.')});
        QVERIFY(QFile::setPermissions(tree.w1Slave(SnA), QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        QCOMPARE(runTask(kernel.GetTempSn(SnA)), 21.5);
    }

    // Every device of every master, every family, each once, in the serial search's order.
    void searchEqualsTheSerialSearch()
    {
        const QString other = KernelBus::serialOfName(QStringLiteral("3b-0c98073df4ab"));
        const QString b20 = QStringLiteral("28A2D984000002EA");
        SysfsTree tree;
        tree.addMaster(1);
        tree.addMaster(2);
        tree.addMaster(3); // "not found."
        tree.addDevice(1, SnA);
        tree.addDevice(1, SnS);
        tree.addDevice(2, b20);
        tree.addDevice(2, other);
        tree.addDevice(2, SnB);
        RecordingLog log;
        KernelBus kernel(log, tree.path());
        kernel.open();
        QStringList found;
        for (int call = 0; call < 10; ++call) {
            const QString code = runTask(kernel.FindDS());
            if (code.isEmpty())
                break;
            found << code;
        }
        const QStringList expected = serialSearch({SnA, SnS, b20, other, SnB});
        QCOMPARE(expected.size(), 5);
        QCOMPARE(found, expected);
        // The enumeration ended and cleared its state: the next call starts anew.
        QCOMPARE(runTask(kernel.FindDS()), expected.first());
        kernel.clearState();
        QCOMPARE(runTask(kernel.FindDS()), expected.first());
        QVERIFY(log.lines.isEmpty());
    }

    void searchOfNoDevice_data()
    {
        QTest::addColumn<int>("masters");
        QTest::newRow("no master") << 0;
        QTest::newRow("a master with nothing on it") << 1;
    }
    void searchOfNoDevice()
    {
        QFETCH(int, masters);
        SysfsTree tree;
        for (int m = 1; m <= masters; ++m)
            tree.addMaster(m);
        RecordingLog log;
        KernelBus kernel(log, tree.path());
        kernel.open();
        QCOMPARE(runTask(kernel.FindDS()), QString());
        QCOMPARE(runTask(kernel.GetSNForOne()), QString());
    }

    // The hidden read of a lone device: its bytes as Read ROM gives them; with several, the
    // AND of their codes, as the wired-AND of the line gives.
    void singleDeviceRead()
    {
        SysfsTree tree;
        tree.addMaster(1);
        tree.addDevice(1, QStringLiteral("28A2D984000002EA"));
        RecordingLog log;
        KernelBus kernel(log, tree.path());
        kernel.open();
        QCOMPARE(runTask(kernel.GetSNForOne()), QStringLiteral("28 A2 D9 84 00 00 02 EA "));
        tree.addDevice(1, SnA);
        QCOMPARE(runTask(kernel.GetSNForOne()), QStringLiteral("28 A0 C9 84 00 00 00 E2 "));
    }

    void driverProblem_data()
    {
        QTest::addColumn<int>("layout"); // 0: no folder, 1: a folder without masters, 2: a master
        QTest::newRow("no folder") << 0;
        QTest::newRow("no bus master") << 1;
        QTest::newRow("a bus master") << 2;
    }
    void driverProblem()
    {
        QFETCH(int, layout);
        SysfsTree tree;
        if (layout == 2)
            tree.addMaster(1);
        const QString path = layout == 0 ? tree.path() + QStringLiteral("/w1") : tree.path();
        RecordingLog log;
        KernelBus kernel(log, path);
        kernel.open();
        if (layout == 2) {
            QCOMPARE(kernel.driverProblem(), QString());
            QCOMPARE(runTask(kernel.parasitePowered()), std::optional<bool>(false));
        } else {
            QCOMPARE(kernel.driverProblem(), QStringLiteral("Драйвер 1-Wire не загружен (в ") + path
                         + QStringLiteral(" нет ни одного w1_bus_master): включите его, например dtoverlay=w1-gpio на Raspberry Pi."));
            QCOMPARE(runTask(kernel.parasitePowered()), std::optional<bool>());
            QCOMPARE(runTask(kernel.convertAll()), SensorReader::Conversion::NoPresence);
        }
    }

    // therm_bulk_read of every master gets "trigger"; the conversion is over once none reads
    // -1. No such file (an older kernel) or no right to write it: sensor by sensor, said once.
    void bulkConversion_data()
    {
        QTest::addColumn<QByteArray>("second");  // the second master's therm_bulk_read ("<none>": none)
        QTest::addColumn<int>("outcome");        // SensorReader::Conversion
        QTest::addColumn<QString>("logLine");    // with %1 for the second master's file
        const int done = static_cast<int>(SensorReader::Conversion::Done);
        QTest::newRow("nothing pending") << QByteArray("0\n") << done << QString();
        QTest::newRow("converted, not read yet") << QByteArray("1\n") << done << QString();
        QTest::newRow("still converting") << QByteArray("-1\n")
                                          << static_cast<int>(SensorReader::Conversion::TimedOut) << QString();
        QTest::newRow("an older kernel") << QByteArray("<none>")
                                         << static_cast<int>(SensorReader::Conversion::NoPresence)
                                         << QStringLiteral("Драйвер 1-Wire не умеет измерять все датчики сразу (нет %1): датчики измеряют по очереди.");
        QTest::newRow("cannot be written") << QByteArray("<dir>")
                                           << static_cast<int>(SensorReader::Conversion::NoPresence)
                                           << QStringLiteral("Ошибка записи %1: ") + QString::fromLocal8Bit(std::strerror(EISDIR))
                                                  + QStringLiteral(": датчики измеряют по очереди.");
    }
    void bulkConversion()
    {
        QFETCH(QByteArray, second);
        QFETCH(int, outcome);
        QFETCH(QString, logLine);
        SysfsTree tree;
        tree.addMaster(1);
        tree.addMaster(2, second != "<none>" && second != "<dir>", second);
        if (second == "<dir>")
            QVERIFY(QDir().mkpath(tree.bulkFile(2)));
        tree.addDevice(1, SnA);
        tree.addDevice(2, SnB);
        RecordingLog log;
        KernelBus kernel(log, tree.path());
        kernel.open();
        QElapsedTimer took;
        took.start();
        QCOMPARE(static_cast<int>(runTask(kernel.convertAll())), outcome);
        QVERIFY(took.elapsed() < 5000);
        const QStringList expectedLog = logLine.isEmpty() ? QStringList() : QStringList{logLine.arg(tree.bulkFile(2))};
        QCOMPARE(log.messages, expectedLog);
        if (outcome != static_cast<int>(SensorReader::Conversion::NoPresence)) {
            QVERIFY(SysfsTree::read(tree.bulkFile(1)).endsWith("trigger\n"));
            QVERIFY(SysfsTree::read(tree.bulkFile(2)).endsWith("trigger\n"));
        }
        // Said once: a second cycle says nothing more.
        static_cast<void>(runTask(kernel.convertAll()));
        QCOMPARE(log.messages.size(), expectedLog.size());
    }

    // One file that hangs in the kernel (a hung driver; a FIFO nobody writes stands in for
    // it): the other sensors keep being read, the hung file is not asked again while its
    // read hangs, and the bus goes away without waiting for it.
    void hungFileHoldsNoOtherSensor_data()
    {
        QTest::addColumn<bool>("hungTrigger"); // therm_bulk_read hangs, else one w1_slave
        QTest::newRow("w1_slave") << false;
        QTest::newRow("therm_bulk_read") << true;
    }
    void hungFileHoldsNoOtherSensor()
    {
        QFETCH(bool, hungTrigger);
        // A trigger let go after its FIFO's reader left gets EPIPE, not a signal.
        std::signal(SIGPIPE, SIG_IGN);
        SysfsTree tree;
        tree.addMaster(1, !hungTrigger);
        const Scratchpad p21 = withCrc({0x58, 0x01, 0x4B, 0x46, 0x7F, 0xFF, 0x08, 0x10, 0});
        for (const QString &sn : {SnA, SnB})
            tree.addDevice(1, sn, SysfsTree::w1SlaveText(p21, true));
        const QString hung = hungTrigger ? tree.bulkFile(1) : tree.w1Slave(SnA);
        QFile::remove(hung);
        QVERIFY(::mkfifo(QFile::encodeName(hung).constData(), 0600) == 0);
        // Lets the kernel go: the other end of the FIFO opened and closed again.
        const auto release = [hung, hungTrigger] {
            const int fd = ::open(QFile::encodeName(hung).constData(), (hungTrigger ? O_RDONLY : O_WRONLY) | O_NONBLOCK);
            if (fd < 0)
                return;
            // The trigger's writer is read to its end: a reader gone first would send it SIGPIPE.
            if (hungTrigger) {
                ::fcntl(fd, F_SETFL, 0);
                char buffer[64];
                while (::read(fd, buffer, sizeof buffer) > 0) {
                }
            }
            ::close(fd);
        };
        const auto hangAgain = [hung] {
            QFile::remove(hung);
            return ::mkfifo(QFile::encodeName(hung).constData(), 0600) == 0;
        };
        const auto answerAgain = [&] {
            release();
            QFile::remove(hung);
            SysfsTree::write(hung, hungTrigger ? QByteArray("0\n") : SysfsTree::w1SlaveText(p21, true));
        };
        const auto hungRead = [&](KernelBus &kernel) {
            return hungTrigger ? runTask(kernel.convertAll()) == SensorReader::Conversion::TimedOut
                               : runTask(kernel.GetTempSn(SnA)) == -999.0;
        };
        RecordingLog log;
        auto kernel = std::make_unique<KernelBus>(log, tree.path());
        kernel->setJobTimeoutMs(300);
        kernel->open();
        for (int cycle = 0; cycle < 4; ++cycle) {
            QVERIFY(hungRead(*kernel));
            if (hungTrigger)
                QCOMPARE(runTask(kernel->GetTempSnPolled(SnA)), 21.5);
            QCOMPARE(runTask(kernel->GetTempSn(SnB)), 21.5);
        }
        QCOMPARE(log.messages.filter(QStringLiteral("Драйвер 1-Wire не отвечает (") + hung).size(), 1);
        // Once the kernel answers, the file is read again.
        answerAgain();
        if (hungTrigger)
            QTRY_COMPARE(runTask(kernel->convertAll()), SensorReader::Conversion::Done);
        else
            QTRY_COMPARE(runTask(kernel->GetTempSn(SnA)), 21.5);

        // Destroyed while a worker hangs: nothing waits for the kernel. Should it wait, the
        // watchdog lets the kernel go after a while and says so.
        QVERIFY(hangAgain());
        QVERIFY(hungRead(*kernel));
        std::atomic<bool> destroyed = false;
        std::atomic<bool> hadToRelease = false;
        std::thread watchdog([&] {
            for (int i = 0; i < 300 && !destroyed; ++i)
                QThread::msleep(10);
            hadToRelease = !destroyed;
            release();
        });
        kernel.reset();
        destroyed = true;
        watchdog.join();
        QVERIFY(!hadToRelease);
    }

    // The reads block in the kernel: the event loop runs on while one is under way, and a
    // closing program's abort ends the wait at once with no reading.
    void readsRunOffTheWindowThread()
    {
        SysfsTree tree;
        tree.addMaster(1);
        tree.addDevice(1, SnA);
        // A FIFO in place of w1_slave: its read blocks until the other end writes.
        QFile::remove(tree.w1Slave(SnA));
        QVERIFY(::mkfifo(QFile::encodeName(tree.w1Slave(SnA)).constData(), 0600) == 0);
        RecordingLog log;
        KernelBus kernel(log, tree.path());
        kernel.open();
        int ticks = 0;
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, &ticker, [&] { ++ticks; });
        ticker.start(5);
        const Scratchpad p21 = withCrc({0x58, 0x01, 0x4B, 0x46, 0x7F, 0xFF, 0x08, 0x10, 0});
        std::thread writer([&] {
            QThread::msleep(300);
            SysfsTree::write(tree.w1Slave(SnA), SysfsTree::w1SlaveText(p21, true));
        });
        QCOMPARE(runTask(kernel.GetTempSn(SnA)), 21.5);
        writer.join();
        QVERIFY(ticks > 5);

        // Nobody writes now: the read hangs until abort.
        bool ended = false;
        double t = 0;
        // The closure outlives the coroutine that refers to its captures.
        const auto body = [&]() -> QCoro::Task<> {
            t = co_await kernel.GetTempSn(SnA);
            ended = true;
        };
        auto reading = body();
        QTimer::singleShot(100, &ticker, [&] { kernel.abort(); });
        QTRY_VERIFY_WITH_TIMEOUT(ended, 5000);
        QCOMPARE(t, -999.0);
        // The worker still waits in its read; the bus is joined only once it ends.
        SysfsTree::write(tree.w1Slave(SnA), QByteArray());
    }
};

QTEST_GUILESS_MAIN(TestKernelBus)
#include "tst_kernelbus.moc"
