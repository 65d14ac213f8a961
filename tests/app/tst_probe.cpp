#include "base/Clock.h"
#include "onewire/OneWireLink.h"
#include "onewire/PosixSerialPort.h"
#include "onewire/PtyBusServer.h"
#include "onewire/VirtualBus.h"
#include "onewire/TemperatureReader.h"
#include "onewire/VirtualSensor.h"
#include "support/RealOwServer.h"
#include "support/RecordingLog.h"
#include "support/RunTask.h"
#include "support/SysfsTree.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>
#include <thread>

using Model = VirtualSensor::Model;

namespace {

// A bus of modelled sensors served on a pseudo-terminal as COM1 of a program folder.
struct ServedBus
{
    QTemporaryDir dir;
    VirtualBus bus;
    PtyBusServer server{bus};
    std::thread serving;

    ~ServedBus() { stop(); }
    QString programDir() const { return dir.path() + QLatin1Char('/'); }
    std::shared_ptr<VirtualSensor> add(Model model, int n = 0)
    {
        auto sensor = std::make_shared<VirtualSensor>(VirtualSensor::exampleRom(model, n));
        sensor->setTemperature(19.75);
        sensor->setConversionMs(600);
        if (model != Model::Genuine)
            sensor->setModel(model);
        bus.addDevice(sensor);
        return sensor;
    }
    bool serve()
    {
        if (!server.open() || !server.linkAs(programDir() + QStringLiteral("COM1")))
            return false;
        serving = std::thread([this] { server.run(); });
        return true;
    }
    void stop()
    {
        if (serving.joinable()) {
            server.requestStop();
            serving.join();
        }
    }
};

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

Run probe(const QString &programDir)
{
    QProcess program;
    program.start(QStringLiteral(KALVEX_PROGRAM), {QStringLiteral("--probe"), QStringLiteral("--dir"), programDir});
    Run run;
    if (!program.waitForFinished(60000)) {
        program.kill();
        program.waitForFinished();
        run.err = QStringLiteral("did not end");
        return run;
    }
    run.exitCode = program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1;
    run.out = QString::fromUtf8(program.readAllStandardOutput());
    run.err = QString::fromUtf8(program.readAllStandardError());
    return run;
}

// A model's serial and the scratchpad one 12-bit conversion leaves in it.
std::pair<QString, std::array<std::uint8_t, 9>> afterConversion(Model model)
{
    VirtualBus bus;
    auto sensor = std::make_shared<VirtualSensor>(VirtualSensor::exampleRom(model));
    if (model != Model::Genuine)
        sensor->setModel(model);
    sensor->setTemperature(21.5);
    sensor->setConversionMs(0);
    bus.addDevice(sensor);
    bus.OpenCOM(QStringLiteral("COM1"));
    RecordingLog log;
    SystemClock clock;
    OneWireLink link(bus, log, clock);
    TemperatureReader reader(link, log);
    reader.setConversionDelayMs(0);
    runTask(reader.GetTempSn(sensor->serialText()));
    return {sensor->serialText(), sensor->scratchpad()};
}

} // namespace

class TestProbe : public QObject
{
    Q_OBJECT

private slots:
    void everyDeviceOneLine()
    {
        ServedBus served;
        const QString genuine = served.add(Model::Genuine)->serialText();
        const QString ff = served.add(Model::CloneFf)->serialText();
        const QString aa = served.add(Model::CloneAa)->serialText();
        const QString warm = served.add(Model::Clone25c)->serialText();
        auto leaving = served.add(Model::Genuine, 1);
        leaving->setStopAfterCommands(3);
        const QString gone = leaving->serialText();
        QVERIFY(served.serve());
        const Run run = probe(served.programDir());
        QCOMPARE(run.exitCode, 0);
        const QStringList lines = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 5);
        const auto lineOf = [&lines](const QString &serial) {
            for (const QString &line : lines) {
                if (line.startsWith(serial))
                    return line;
            }
            return QString();
        };
        QCOMPARE(lineOf(genuine), genuine + QStringLiteral("  DS18B20  питание своё  12 бит  ")
                                      + lineOf(genuine).section(QStringLiteral("  "), 4, 4) + QStringLiteral("  подлинный"));
        QVERIFY(lineOf(genuine).section(QStringLiteral("  "), 4, 4).endsWith(QStringLiteral(" мс")));
        for (const QString &clone : {ff, aa, warm}) {
            QVERIFY2(lineOf(clone).contains(QStringLiteral("  вероятно, подделка: байты 5 и 6 ПЗУ: ")), qPrintable(lineOf(clone)));
        }
        QVERIFY2(lineOf(ff).contains(QStringLiteral("байт 6 после преобразования: 0C вместо")), qPrintable(lineOf(ff)));
        QVERIFY2(lineOf(warm).contains(QStringLiteral("байты 5 и 7: FF и 66 вместо FF и 10")), qPrintable(lineOf(warm)));
        QVERIFY2(lineOf(gone).endsWith(QStringLiteral("не отвечает")), qPrintable(lineOf(gone)));
        // The port is free again once the probe has ended.
        PosixSerialPort port(served.programDir());
        QVERIFY2(port.OpenCOM(QStringLiteral("COM1")), qPrintable(port.lastError()));
        port.CloseCOM();
        served.stop();
        for (const auto &device : served.bus.devices())
            QCOMPARE(static_cast<VirtualSensor *>(device.get())->eepromWrites(), 0);
    }

    void portCannotBeHad_data()
    {
        QTest::addColumn<bool>("held");
        QTest::addColumn<QString>("reason");
        QTest::newRow("no device") << false << QStringLiteral("нет такого устройства");
        QTest::newRow("held by another program") << true << QStringLiteral("уже открыт другой программой");
    }
    void portCannotBeHad()
    {
        QFETCH(bool, held);
        QFETCH(QString, reason);
        ServedBus served;
        served.add(Model::Genuine);
        PosixSerialPort other(served.programDir());
        if (held) {
            QVERIFY(served.serve());
            QVERIFY(other.OpenCOM(QStringLiteral("COM1")));
        } else {
            // COM1 names an adapter that is unplugged.
            QVERIFY(QFile::link(served.programDir() + QStringLiteral("ttyUSB9"), served.programDir() + QStringLiteral("COM1")));
        }
        const Run run = probe(served.programDir());
        other.CloseCOM();
        QCOMPARE(run.exitCode, 1);
        QVERIFY(run.out.isEmpty());
        QVERIFY2(run.err.contains(QStringLiteral("порт COM1 недоступен: ")) && run.err.contains(reason), qPrintable(run.err));
    }

    // A probe killed midway (kill -9, no chance to tidy up) may leave its test values in a
    // sensor's RAM: the next probe still finds it genuine at 12 bits, and the EEPROM was
    // never written. A stop signal ends the probe saying so, with a failing exit code.
    void interruptedProbe_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<int>("afterMs");
        for (const int ms : {150, 300, 450, 600}) {
            QTest::addRow("SIGKILL after %d ms", ms) << int(SIGKILL) << ms;
            QTest::addRow("SIGINT after %d ms", ms) << int(SIGINT) << ms;
        }
        QTest::addRow("SIGTERM after %d ms", 450) << int(SIGTERM) << 450;
    }
    void interruptedProbe()
    {
        QFETCH(int, signalNumber);
        QFETCH(int, afterMs);
        ServedBus served;
        auto sensor = served.add(Model::Genuine);
        QVERIFY(served.serve());
        QProcess program;
        program.start(QStringLiteral(KALVEX_PROGRAM), {QStringLiteral("--probe"), QStringLiteral("--dir"), served.programDir()});
        QVERIFY(program.waitForStarted());
        QTest::qWait(afterMs);
        const qint64 pid = program.processId(); // 0 once it has ended
        if (pid > 0)
            ::kill(static_cast<pid_t>(pid), signalNumber);
        if (program.state() != QProcess::NotRunning)
            QVERIFY(program.waitForFinished(10000));
        if (signalNumber != SIGKILL) {
            const QString err = QString::fromUtf8(program.readAllStandardError());
            const QString out = QString::fromUtf8(program.readAllStandardOutput());
            // Stopped before or during the one diagnosis: nothing printed for it.
            QVERIFY2(!out.contains(QStringLiteral("не отвечает")), qPrintable(out));
            if (out.isEmpty()) {
                QCOMPARE(program.exitStatus(), QProcess::NormalExit);
                QCOMPARE(program.exitCode(), 3);
                QVERIFY2(err.contains(QStringLiteral("проверка прервана")), qPrintable(err));
            }
        }
        const Run run = probe(served.programDir());
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.out.startsWith(sensor->serialText() + QStringLiteral("  DS18B20  питание своё  12 бит  ")), qPrintable(run.out));
        QVERIFY2(run.out.trimmed().endsWith(QStringLiteral("  подлинный")), qPrintable(run.out));
        served.stop();
        QCOMPARE(sensor->eepromWrites(), 0);
        QCOMPARE(sensor->scratchpad()[4], std::uint8_t(0x7F));
    }

    // [Bus] Kind=kernel: the kernel's devices, not COM1.
    void kernelBusIsProbed()
    {
        QTemporaryDir dir;
        SysfsTree tree;
        tree.addMaster(1);
        const auto [genuine, genuinePad] = afterConversion(Model::Genuine);
        const auto [clone, clonePad] = afterConversion(Model::CloneFf);
        const QString gone = QStringLiteral("2825EA52050000CE");
        tree.addDevice(1, genuine, SysfsTree::w1SlaveText(genuinePad, true));
        tree.addDevice(1, clone, SysfsTree::w1SlaveText(clonePad, true));
        tree.addDevice(1, gone);
        SysfsTree::write(dir.filePath(QStringLiteral("Kalvex.ini")),
                         "[General]\r\nCOMPort=1\r\n[Bus]\r\nKind=kernel\r\nKernelPath=" + QFile::encodeName(tree.path()) + "\r\n");
        const Run run = probe(dir.path());
        QCOMPARE(run.exitCode, 0);
        const QStringList lines = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3);
        const auto lineOf = [&lines](const QString &serial) { return lines.filter(serial).value(0); };
        QCOMPARE(lineOf(genuine), genuine + QStringLiteral("  DS18B20  питание ?  12 бит  ? мс  подлинный"));
        QCOMPARE(lineOf(clone), clone + QStringLiteral("  DS18B20  питание ?  12 бит  ? мс  вероятно, подделка"));
        QCOMPARE(lineOf(gone), gone + QStringLiteral("  DS18B20  питание ?  ? бит  ? мс  не отвечает"));

        // No driver: the reason, and a failure.
        SysfsTree::write(dir.filePath(QStringLiteral("Kalvex.ini")),
                         "[Bus]\r\nKind=kernel\r\nKernelPath=" + QFile::encodeName(dir.filePath(QStringLiteral("none"))) + "\r\n");
        const Run none = probe(dir.path());
        QCOMPARE(none.exitCode, 1);
        QVERIFY2(none.err.contains(QStringLiteral("Драйвер 1-Wire не загружен")), qPrintable(none.err));
    }

    void emptyBusIsNoFailure()
    {
        ServedBus served;
        QVERIFY(served.serve());
        const Run run = probe(served.programDir());
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.out.isEmpty());
        QVERIFY2(run.err.contains(QStringLiteral("устройств не найдено")), qPrintable(run.err));
    }

    // An owserver bus: a line of what the server tells for each thermometer, and a word that
    // the counterfeit checks need the program's own bus; a server away is a failure.
    void owserverBus()
    {
        if (!owtest::RealOwServer::available())
            QSKIP("owserver is not installed");
        owtest::RealOwServer server({QStringLiteral("--tester=28,10")});
        QVERIFY2(server.start(), qPrintable(server.error()));
        QTemporaryDir dir;
        QFile ini(dir.filePath(QStringLiteral("Kalvex.ini")));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[Bus]\r\nKind=owserver\r\nHost=127.0.0.1\r\nPort=" + QByteArray::number(server.port()) + "\r\n");
        ini.close();
        Run run = probe(dir.path() + QLatin1Char('/'));
        QCOMPARE(run.exitCode, 0);
        const QStringList lines = run.out.trimmed().split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 2);
        QVERIFY2(lines[0].startsWith(QStringLiteral("28000028D7000011  DS18B20  питание")), qPrintable(lines[0]));
        QVERIFY2(lines[1].startsWith(QStringLiteral("10000010EF01009F  DS18S20")), qPrintable(lines[1]));
        QVERIFY2(run.err.contains(QStringLiteral("нужна шина самой программы")), qPrintable(run.err));

        server.stop();
        run = probe(dir.path() + QLatin1Char('/'));
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains(QStringLiteral("owserver 127.0.0.1:%1 не отвечает").arg(server.port())), qPrintable(run.err));
    }
};

QTEST_MAIN(TestProbe)
#include "tst_probe.moc"
