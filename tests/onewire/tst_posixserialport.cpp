#include "base/Clock.h"
#include "onewire/OneWireLink.h"
#include "onewire/PosixSerialPort.h"
#include "onewire/PtyBusServer.h"
#include "onewire/RomSearch.h"
#include "onewire/TemperatureReader.h"
#include "onewire/VirtualBus.h"
#include "onewire/VirtualSensor.h"
#include "support/FakeClock.h"
#include "support/RunTask.h"
#include "support/RecordingLog.h"

#include <QCoroTask>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

// A bare pseudo-terminal: the test plays the other end of the line itself.
struct Pty
{
    Pty()
    {
        master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0) {
            char name[128] = {};
            if (::ptsname_r(master, name, sizeof name) == 0)
                slave = QString::fromLocal8Bit(name);
        }
    }
    ~Pty()
    {
        if (master >= 0)
            ::close(master);
    }
    speed_t speed() const
    {
        termios t {};
        ::tcgetattr(master, &t);
        return cfgetospeed(&t);
    }
    int master = -1;
    QString slave;
};

} // namespace

class TestPosixSerialPort : public QObject
{
    Q_OBJECT

private slots:
    void resolveNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("localFile");
        QTest::addColumn<QString>("expected"); // "@" stands for the program directory
        QTest::newRow("COM1 system") << "COM1" << false << "/dev/ttyS0";
        QTest::newRow("COM12 system") << "COM12" << false << "/dev/ttyS11";
        QTest::newRow("COM3 local link") << "COM3" << true << "@COM3";
        QTest::newRow("COM999 system") << "COM999" << false << "/dev/ttyS998";
        // Outside 1..999 nothing is opened, not even a file of that name.
        QTest::newRow("COM0") << "COM0" << true << "";
        QTest::newRow("COM-1") << "COM-1" << true << "";
        QTest::newRow("COM1000") << "COM1000" << true << "";
        QTest::newRow("path as is") << "/dev/ttyUSB0" << false << "/dev/ttyUSB0";
    }
    void resolveNames()
    {
        QFETCH(QString, name);
        QFETCH(bool, localFile);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        const QString programDir = dir.path() + QLatin1Char('/');
        if (localFile) {
            QFile file(programDir + name);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        expected.replace(QLatin1Char('@'), programDir);
        QCOMPARE(resolvePortName(name, programDir), expected);
    }

    void danglingLocalLinkIsStillTheUsersChoice()
    {
        QTemporaryDir dir;
        const QString programDir = dir.path() + QLatin1Char('/');
        QVERIFY(QFile::link(programDir + "missing-device", programDir + "COM2"));
        PosixSerialPort port(programDir);
        QVERIFY(!port.OpenCOM(QStringLiteral("COM2")));
        QCOMPARE(port.devicePath(), programDir + "COM2");
        QVERIFY2(port.lastError().startsWith(QStringLiteral("нет такого устройства")), qPrintable(port.lastError()));
    }

    void openIsExclusive()
    {
        Pty pty;
        QVERIFY(!pty.slave.isEmpty());
        QTemporaryDir dir;
        const QString programDir = dir.path() + QLatin1Char('/');
        QVERIFY(QFile::link(pty.slave, programDir + "COM4"));
        PosixSerialPort first(programDir);
        PosixSerialPort second(programDir);
        QVERIFY(first.OpenCOM(QStringLiteral("COM4")));
        QVERIFY(first.isOpen());
        // Through the link and through the device path alike.
        QVERIFY(!second.OpenCOM(QStringLiteral("COM4")));
        QVERIFY(!second.lastError().isEmpty());
        QVERIFY(!second.OpenCOM(pty.slave));
        first.CloseCOM();
        QVERIFY(!first.isOpen());
        QVERIFY(second.OpenCOM(QStringLiteral("COM4")));
    }

    // An adapter's link goes when it is unplugged: the name is lost until the link is back,
    // and then it is wherever the link points now.
    void vanishedLinkIsLostNotTheOnBoardPort()
    {
        Pty before;
        Pty after;
        QVERIFY(!before.slave.isEmpty() && !after.slave.isEmpty());
        QTemporaryDir dir;
        const QString programDir = dir.path() + QLatin1Char('/');
        const QString link = programDir + "COM1";
        QVERIFY(QFile::link(before.slave, link));
        PosixSerialPort port(programDir);
        QVERIFY(port.OpenCOM(QStringLiteral("COM1")));
        QVERIFY(QFile::remove(link));
        QVERIFY(!port.lostReason().isEmpty());
        QVERIFY(!port.OpenCOM(QStringLiteral("COM1")));
        QCOMPARE(port.devicePath(), link);
        QVERIFY2(port.lastError().startsWith(QStringLiteral("нет такого устройства")), qPrintable(port.lastError()));
        QVERIFY(QFile::link(after.slave, link));
        QVERIFY2(port.OpenCOM(QStringLiteral("COM1")), qPrintable(port.lastError()));
        QCOMPARE(QFileInfo(port.devicePath()).canonicalFilePath(), QFileInfo(after.slave).canonicalFilePath());
        // Another port of a folder that never had the link still means the on-board one.
        QCOMPARE(resolvePortName(QStringLiteral("COM2"), programDir), QStringLiteral("/dev/ttyS1"));
    }

    // TIOCEXCL keeps out everyone but root; root respects it too, and never clears it.
    void anotherProgramsExclusiveModeIsLeftAlone_data()
    {
        QTest::addColumn<bool>("heldByOther");
        QTest::newRow("held by another") << true;
        QTest::newRow("free") << false;
    }
    void anotherProgramsExclusiveModeIsLeftAlone()
    {
        QFETCH(bool, heldByOther);
        Pty pty;
        QVERIFY(!pty.slave.isEmpty());
        QTemporaryDir dir;
        const QString programDir = dir.path() + QLatin1Char('/');
        QVERIFY(QFile::link(pty.slave, programDir + "COM4"));
        const int other = ::open(QFile::encodeName(pty.slave).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        QVERIFY(other >= 0);
        if (heldByOther)
            QCOMPARE(::ioctl(other, TIOCEXCL), 0);
        PosixSerialPort port(programDir);
        QCOMPARE(port.OpenCOM(QStringLiteral("COM4")), !heldByOther);
        if (heldByOther)
            QVERIFY2(port.lastError().contains(QStringLiteral("уже открыт другой программой")), qPrintable(port.lastError()));
        port.CloseCOM();
        int exclusive = -1;
        QCOMPARE(::ioctl(other, TIOCGEXCL, &exclusive), 0);
        QCOMPARE(exclusive != 0, heldByOther);
        ::close(other);
    }

    void notAPort()
    {
        QTemporaryDir dir;
        const QString programDir = dir.path() + QLatin1Char('/');
        QFile file(programDir + "COM5");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        PosixSerialPort port(programDir);
        QVERIFY(!port.OpenCOM(QStringLiteral("COM5")));
        QVERIFY(port.lastError().contains(QStringLiteral("не последовательный порт")));
    }

    void speedSeenByTheOtherSide()
    {
        Pty pty;
        PosixSerialPort port(QStringLiteral("/nonexistent/"));
        QVERIFY(port.OpenCOM(pty.slave));
        // The modem-line ioctls fail on a pty; that must not fail the call.
        QVERIFY(port.SetModCOM(9600, 8, 0, 0, true, false));
        QCOMPARE(pty.speed(), speed_t(B9600));
        QVERIFY(port.SetModCOM(115200, 8, 0, 0, true, false));
        QCOMPARE(pty.speed(), speed_t(B115200));
        QVERIFY(!port.SetModCOM(12345, 8, 0, 0, true, false));
    }

    void charactersPassBothWays()
    {
        Pty pty;
        PosixSerialPort port(QStringLiteral("/nonexistent/"));
        QVERIFY(port.OpenCOM(pty.slave));
        QVERIFY(port.SetComPortTimeouts());
        QVERIFY(port.SetModCOM(115200, 8, 0, 0, true, false));
        const std::uint8_t out[] = { 0x00, 0xFF, 0x0A, 0x0D, 0x11, 0x13 }; // no mapping, no flow control
        QVERIFY(port.TxDataCOM(out, 6));
        std::uint8_t seen[6] = {};
        int got = 0;
        while (got < 6) {
            const ssize_t n = ::read(pty.master, seen + got, static_cast<size_t>(6 - got));
            QVERIFY(n > 0);
            got += static_cast<int>(n);
        }
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(seen), 6), QByteArray(reinterpret_cast<const char *>(out), 6));
        QCOMPARE(::write(pty.master, seen, 6), ssize_t(6));
        std::uint8_t back[6] = {};
        int read = 0;
        QVERIFY(port.RxDataCOM(back, 6, read));
        QCOMPARE(read, 6);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(back), 6), QByteArray(reinterpret_cast<const char *>(out), 6));
        QCOMPARE(port.counters().roundTrips, 1u);
    }

    void purgeDropsStaleInput()
    {
        Pty pty;
        PosixSerialPort port(QStringLiteral("/nonexistent/"));
        QVERIFY(port.OpenCOM(pty.slave));
        QVERIFY(port.SetComPortTimeouts());
        QVERIFY(port.SetModCOM(115200, 8, 0, 0, true, false));
        const std::uint8_t stale[] = { 1, 2, 3 };
        QCOMPARE(::write(pty.master, stale, 3), ssize_t(3));
        QTest::qWait(20);
        QVERIFY(port.PurgeCOM());
        const std::uint8_t fresh = 9;
        QCOMPARE(::write(pty.master, &fresh, 1), ssize_t(1));
        std::uint8_t buffer[4] = {};
        int read = 0;
        QVERIFY(port.RxDataCOM(buffer, 4, read));
        QCOMPARE(read, 1);
        QCOMPARE(int(buffer[0]), 9);
    }

    void missingEchoCostsAboutOneReadTimeout()
    {
        Pty pty;
        PosixSerialPort port(QStringLiteral("/nonexistent/"));
        QVERIFY(port.OpenCOM(pty.slave));
        QVERIFY(port.SetComPortTimeouts());
        RecordingLog log;
        SystemClock clock;
        OneWireLink link(port, log, clock);
        QElapsedTimer elapsed;
        elapsed.start();
        QVERIFY(!runTask(link.ResetT()));
        // Loose bounds: one 1000 ms read time-out, not 50 ms and not several seconds.
        QVERIFY2(elapsed.elapsed() >= 500 && elapsed.elapsed() < 5000, qPrintable(QString::number(elapsed.elapsed())));
        QCOMPARE(pty.speed(), speed_t(B115200));
        QVERIFY(log.lines.isEmpty());
    }

    // A bad bit is said as it goes out; closing the port ends the wait for its echo at once
    // and leaves nothing watching the closed descriptor.
    void closingThePortEndsTheWaitOnIt()
    {
        QTest::failOnWarning(QRegularExpression(QStringLiteral("QSocketNotifier|socket notifier")));
        Pty pty;
        PosixSerialPort port(QStringLiteral("/nonexistent/"));
        QVERIFY(port.OpenCOM(pty.slave));
        QVERIFY(port.SetComPortTimeouts());
        RecordingLog log;
        SystemClock clock;
        OneWireLink link(port, log, clock);
        bool done = false;
        const auto send = [&]() -> QCoro::Task<> {
            co_await link.SendBit(2);
            done = true;
        };
        QCoro::Task<> sending = send();
        QVERIFY(!done);
        QCOMPARE(log.lines.size(), 1);
        QVERIFY2(log.lines.front().endsWith(QStringLiteral("Ошибка Sendbit: 2")), qPrintable(log.lines.front()));
        QElapsedTimer closed;
        closed.start();
        port.CloseCOM();
        QTRY_VERIFY_WITH_TIMEOUT(done, 5000);
        QVERIFY2(closed.elapsed() < 500, qPrintable(QString::number(closed.elapsed())));
        QTest::qWait(50);
    }

    // Near the wrap of the 32-bit tick counter (49.7 days of uptime) the echo deadline lies
    // past zero: an echo that takes a moment still counts.
    void echoDeadlineAcrossTheTickWrap()
    {
        Pty pty;
        PosixSerialPort port(QStringLiteral("/nonexistent/"));
        QVERIFY(port.OpenCOM(pty.slave));
        QVERIFY(port.SetComPortTimeouts());
        std::thread farEnd([&pty] {
            std::uint8_t reset = 0;
            if (::read(pty.master, &reset, 1) != 1)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            const std::uint8_t presence = 0xE0;
            [[maybe_unused]] const ssize_t w = ::write(pty.master, &presence, 1);
        });
        RecordingLog log;
        FakeClock clock;
        clock.advance(0xFFFFFF00LL);
        OneWireLink link(port, log, clock);
        const bool presence = runTask(link.ResetT());
        farEnd.join();
        QVERIFY(presence);
    }

    // The device behind the port's name replaced by another node of the same device number
    // (udev recreating it after a replug): the open descriptor is lost.
    void nameOnANewNodeIsALoss()
    {
        Pty pty;
        QTemporaryDir dir;
        const QString programDir = dir.path() + QLatin1Char('/');
        QVERIFY(QFile::link(pty.slave, programDir + QStringLiteral("COM1")));
        PosixSerialPort port(programDir);
        QVERIFY2(port.OpenCOM(QStringLiteral("COM1")), qPrintable(port.lastError()));
        QVERIFY(port.lostReason().isEmpty());
        struct stat slave {};
        QCOMPARE(::stat(QFile::encodeName(pty.slave).constData(), &slave), 0);
        const QByteArray node = QFile::encodeName(programDir + QStringLiteral("node"));
        if (::mknod(node.constData(), S_IFCHR | 0600, slave.st_rdev) != 0)
            QSKIP("device nodes cannot be made here");
        QVERIFY(QFile::link(QString::fromLocal8Bit(node), programDir + QStringLiteral("next")));
        QCOMPARE(::rename(QFile::encodeName(programDir + QStringLiteral("next")).constData(),
                          QFile::encodeName(programDir + QStringLiteral("COM1")).constData()),
                 0);
        QVERIFY2(!port.lostReason().isEmpty(), "a new node of the same device number went unnoticed");
    }

    void byteReadWhoseEchoesStopOverPty()
    {
        Pty pty;
        PosixSerialPort port(QStringLiteral("/nonexistent/"));
        QVERIFY(port.OpenCOM(pty.slave));
        QVERIFY(port.SetComPortTimeouts());
        QVERIFY(port.SetModCOM(115200, 8, 0, 0, true, false));
        // The far end answers the first three slots with 0 bits, then falls silent.
        std::thread farEnd([&pty] {
            std::uint8_t sent[8];
            int got = 0;
            while (got < 8) {
                const ssize_t n = ::read(pty.master, sent + got, static_cast<size_t>(8 - got));
                if (n <= 0)
                    return;
                got += static_cast<int>(n);
            }
            const std::uint8_t zeros[3] = { 0xFC, 0xFC, 0xFC };
            [[maybe_unused]] const ssize_t w = ::write(pty.master, zeros, 3);
        });
        RecordingLog log;
        SystemClock clock;
        OneWireLink link(port, log, clock);
        const int value = runTask(link.GetB());
        farEnd.join();
        QCOMPARE(value, 0xFF);
    }

    void measurementEndToEndOverPty()
    {
        VirtualBus bus;
        bus.addSensor(QStringLiteral("28ECEDC7050000F6"), 23.125);
        bus.addSensor(QStringLiteral("108739A80208006F"), -7.5);
        PtyBusServer server(bus);
        QVERIFY2(server.open(), qPrintable(server.errorText()));
        QTemporaryDir dir;
        const QString programDir = dir.path() + QLatin1Char('/');
        QVERIFY(server.linkAs(programDir + "COM7"));
        std::thread serving([&server] { server.run(); });

        PosixSerialPort port(programDir);
        RecordingLog log;
        SystemClock clock;
        OneWireLink link(port, log, clock);
        TemperatureReader reader(link, log);
        RomSearch search(link);
        reader.setConversionDelayMs(0);
        const bool opened = port.OpenCOM(QStringLiteral("COM7"));
        double b20 = 0;
        double s20 = 0;
        QStringList found;
        std::uint64_t roundTrips = 0;
        if (opened) {
            port.SetComPortTimeouts();
            port.resetCounters();
            b20 = runTask(reader.GetTempSn(QStringLiteral("28ECEDC7050000F6")));
            roundTrips = port.counters().roundTrips;
            s20 = runTask(reader.GetTempSn(QStringLiteral("108739A80208006F")));
            search.clearState();
            for (QString code = runTask(search.FindDS()); !code.isEmpty(); code = runTask(search.FindDS()))
                found << code;
            port.CloseCOM();
        }
        server.requestStop();
        serving.join();
        QVERIFY2(opened, qPrintable(port.lastError()));
        QCOMPARE(b20, 23.125);
        QCOMPARE(s20, -7.5);
        QCOMPARE(roundTrips, 4u);
        QCOMPARE(found, (QStringList { QStringLiteral("108739A80208006F"), QStringLiteral("28ECEDC7050000F6") }));
        QVERIFY(log.lines.isEmpty());
        QCOMPARE(bus.busCounters().resets, 4u + 2u); // the call after the last device does not reset
        server.close();
        QVERIFY(!QFileInfo::exists(programDir + "COM7") && !QFileInfo(programDir + "COM7").isSymLink());
    }
};

QTEST_GUILESS_MAIN(TestPosixSerialPort)
#include "tst_posixserialport.moc"
