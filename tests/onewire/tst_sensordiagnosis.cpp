#include "base/Clock.h"
#include "onewire/BusProbe.h"
#include "onewire/OneWireLink.h"
#include "onewire/PosixSerialPort.h"
#include "onewire/PtyBusServer.h"
#include "onewire/RomSearch.h"
#include "onewire/SensorDiagnosis.h"
#include "onewire/VirtualBus.h"
#include "onewire/VirtualSensor.h"
#include "support/DiagnosisLeftovers.h"
#include "support/RecordingLog.h"
#include "support/RunTask.h"

#include <QElapsedTimer>
#include <QMap>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <thread>

using Model = VirtualSensor::Model;
using Verdict = SensorReport::Verdict;
Q_DECLARE_METATYPE(Model)
Q_DECLARE_METATYPE(Verdict)

namespace {

// A modelled bus served on a pseudo-terminal as "COM1" of a program directory: the
// diagnosis talks to it through the real termios port. The devices are only looked at once
// the server has stopped (it runs them on its own thread).
struct ServedBus
{
    ServedBus()
        : server(bus)
    {
    }
    ~ServedBus() { stop(); }
    bool start()
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
        server.close();
    }
    QString programDir() const { return dir.path() + QLatin1Char('/'); }

    QTemporaryDir dir;
    VirtualBus bus;
    PtyBusServer server;
    std::thread serving;
};

std::shared_ptr<VirtualSensor> addModel(VirtualBus &bus, Model model, bool parasite = false, int n = 0)
{
    auto sensor = std::make_shared<VirtualSensor>(VirtualSensor::exampleRom(model, n));
    sensor->setTemperature(21.5);
    // A genuine DS18B20 takes about 600 ms at 12 bits; every clone brings its own time.
    sensor->setConversionMs(600);
    if (model != Model::Genuine)
        sensor->setModel(model);
    sensor->setParasitePower(parasite);
    bus.addDevice(sensor);
    return sensor;
}

QStringList signNames(const SensorReport &report)
{
    QStringList names;
    for (const DiagnosisSign &sign : report.signs) {
        if (sign.result == DiagnosisSign::Result::Clone)
            names << sign.name;
    }
    return names;
}

} // namespace

class TestSensorDiagnosis : public QObject
{
    Q_OBJECT

private:
    // Diagnoses one serial through the real port; the server keeps running.
    static SensorReport diagnoseOver(ServedBus &served, const QString &serial)
    {
        PosixSerialPort port(served.programDir());
        RecordingLog log;
        SystemClock clock;
        OneWireLink link(port, log, clock);
        SensorDiagnosis diagnosis(link);
        SensorReport report;
        if (!port.OpenCOM(QStringLiteral("COM1")))
            return report;
        port.SetComPortTimeouts();
        report = runTask(diagnosis.diagnose(serial));
        port.CloseCOM();
        return report;
    }

private slots:
    void eachModelIsTold_data()
    {
        QTest::addColumn<Model>("model");
        QTest::addColumn<bool>("parasite");
        QTest::addColumn<Verdict>("verdict");
        QTest::addColumn<QStringList>("cloneSigns");
        QTest::newRow("genuine") << Model::Genuine << false << Verdict::Genuine << QStringList{};
        QTest::newRow("28 FF, byte 6 stuck, 30 ms")
            << Model::CloneFf << false << Verdict::LikelyClone
            << QStringList{QStringLiteral("байты 5 и 6 ПЗУ"), QStringLiteral("байт 6 после преобразования"),
                           QStringLiteral("время преобразования")};
        QTest::newRow("28 AA, byte 6 stuck, 600 ms")
            << Model::CloneAa << false << Verdict::LikelyClone
            << QStringList{QStringLiteral("байты 5 и 6 ПЗУ"), QStringLiteral("байт 6 после преобразования")};
        QTest::newRow("25 °C at power-up, byte 7 66, 11 ms")
            << Model::Clone25c << false << Verdict::LikelyClone
            << QStringList{QStringLiteral("байты 5 и 6 ПЗУ"), QStringLiteral("байты 5 и 7"),
                           QStringLiteral("запись в ОЗУ и возврат из ЭСППЗУ"), QStringLiteral("время преобразования")};
        // Without its own supply the time cannot be measured, and nothing else decides.
        QTest::newRow("genuine, parasite") << Model::Genuine << true << Verdict::Undetermined << QStringList{};
        // The clone's other signs still give it away.
        QTest::newRow("28 AA, parasite")
            << Model::CloneAa << true << Verdict::LikelyClone
            << QStringList{QStringLiteral("байты 5 и 6 ПЗУ"), QStringLiteral("байт 6 после преобразования")};
    }
    void eachModelIsTold()
    {
        QFETCH(Model, model);
        QFETCH(bool, parasite);
        QFETCH(Verdict, verdict);
        QFETCH(QStringList, cloneSigns);
        ServedBus served;
        auto sensor = addModel(served.bus, model, parasite);
        // Another device on the line, so Match ROM has to pick the right one.
        auto other = addModel(served.bus, Model::CloneFf, false, 7);
        const auto before = sensor->scratchpad();
        QVERIFY(served.start());
        const SensorReport report = diagnoseOver(served, sensor->serialText());
        served.stop();
        QCOMPARE(report.verdict, verdict);
        QCOMPARE(signNames(report), cloneSigns);
        QCOMPARE(report.parasite, std::optional<bool>(parasite));
        QCOMPARE(report.resolutionBits, 12);
        QCOMPARE(report.temperature, 21.5);
        // Only documented commands, no EEPROM write, and RAM as it was: TH, TL, configuration.
        QCOMPARE(sensor->eepromWrites() + other->eepromWrites(), 0);
        QCOMPARE(sensor->unknownCommands() + other->unknownCommands(), 0);
        const auto after = sensor->scratchpad();
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(after.data()) + 2, 3),
                 QByteArray(reinterpret_cast<const char *>(before.data()) + 2, 3));
        QVERIFY(report.line().startsWith(sensor->serialText() + QStringLiteral("  DS18B20  ")));
        QVERIFY2(report.line().contains(report.verdictText()), qPrintable(report.line()));
    }

    // A sensor that looks genuine in every other way is told by its 12-bit conversion time.
    void conversionTimeDecides_data()
    {
        QTest::addColumn<int>("ms");
        QTest::addColumn<Verdict>("verdict");
        QTest::newRow("600 ms") << 600 << Verdict::Genuine;
        QTest::newRow("700 ms") << 700 << Verdict::LikelyClone;
    }
    void conversionTimeDecides()
    {
        QFETCH(int, ms);
        QFETCH(Verdict, verdict);
        ServedBus served;
        auto sensor = addModel(served.bus, Model::Genuine);
        sensor->setConversionMs(ms);
        QVERIFY(served.start());
        const SensorReport report = diagnoseOver(served, sensor->serialText());
        served.stop();
        QCOMPARE(report.verdict, verdict);
        QCOMPARE(signNames(report), verdict == Verdict::Genuine ? QStringList{} : QStringList{QStringLiteral("время преобразования")});
    }

    // A user's own alarm limits and resolution survive the diagnosis, and the resolution is
    // the one found.
    void userSettingsStay_data()
    {
        QTest::addColumn<QString>("serial");
        QTest::addColumn<int>("bits");
        QTest::newRow("DS18B20 at 10 bits") << QStringLiteral("28ECEDC7050000F6") << 10;
        QTest::newRow("DS18S20") << QStringLiteral("108739A80208006F") << 9;
    }
    void userSettingsStay()
    {
        QFETCH(QString, serial);
        QFETCH(int, bits);
        ServedBus served;
        auto sensor = served.bus.addSensor(serial, -3.25);
        sensor->setConversionMs(600);
        const std::array<std::uint8_t, 3> eeprom{0x1E, 0xF6, 0x3F};
        sensor->setEeprom(eeprom);
        const auto before = sensor->scratchpad();
        QVERIFY(served.start());
        const SensorReport report = diagnoseOver(served, serial);
        served.stop();
        QCOMPARE(report.verdict, Verdict::Genuine);
        QCOMPARE(report.resolutionBits, bits);
        QCOMPARE(report.TH, 30);
        QCOMPARE(report.TL, -10);
        QCOMPARE(sensor->eeprom(), eeprom);
        QCOMPARE(sensor->eepromWrites(), 0);
        QCOMPARE(sensor->unknownCommands(), 0);
        const auto after = sensor->scratchpad();
        QVERIFY(std::equal(before.begin() + 2, before.begin() + 5, after.begin() + 2));
    }

    // A diagnosis cut short before left its test values in RAM: what it judges is the
    // EEPROM, so a genuine sensor stays genuine, at its own resolution and limits.
    void leftoversOfAnInterruptedDiagnosis_data()
    {
        QTest::addColumn<QString>("serial");
        QTest::newRow("DS18B20") << QStringLiteral("28ECEDC7050000F6");
        QTest::newRow("DS18S20") << QStringLiteral("108739A80208006F");
    }
    void leftoversOfAnInterruptedDiagnosis()
    {
        QFETCH(QString, serial);
        ServedBus served;
        auto sensor = served.bus.addSensor(serial, -3.3125);
        sensor->setConversionMs(600);
        const std::array<std::uint8_t, 3> eeprom{0x1E, 0xF6, 0x7F};
        sensor->setEeprom(eeprom);
        SystemClock clock;
        QVERIFY(leaveDiagnosisValues(served.bus, clock, serial));
        QVERIFY(served.start());
        const SensorReport report = diagnoseOver(served, serial);
        served.stop();
        QVERIFY2(report.cloneSigns().isEmpty(), qPrintable(report.cloneSigns().join(QLatin1Char(';'))));
        QCOMPARE(report.verdict, Verdict::Genuine);
        QCOMPARE(report.resolutionBits, serial.startsWith(QLatin1String("28")) ? 12 : 9);
        QCOMPARE(report.TH, 30);
        QCOMPARE(report.TL, -10);
        const auto ram = sensor->scratchpad();
        QCOMPARE(ram[2], eeprom[0]);
        QCOMPARE(ram[3], eeprom[1]);
    }

    // A sensor whose line breaks in the middle of the talk: a clear answer, soon, and the bus
    // goes on for the others.
    void stopsAnsweringMidway_data()
    {
        QTest::addColumn<int>("commands");
        QTest::newRow("after the power question") << 1;
        QTest::newRow("after the first recall") << 2;
        QTest::newRow("after the first write") << 4;
        QTest::newRow("while converting") << 5;
        QTest::newRow("at the recall") << 10;
    }
    void stopsAnsweringMidway()
    {
        QFETCH(int, commands);
        ServedBus served;
        auto sensor = addModel(served.bus, Model::Genuine);
        auto other = addModel(served.bus, Model::Genuine, false, 1);
        sensor->setStopAfterCommands(commands);
        QVERIFY(served.start());
        QElapsedTimer timer;
        timer.start();
        const SensorReport report = diagnoseOver(served, sensor->serialText());
        QVERIFY(timer.elapsed() < 5000);
        QCOMPARE(report.verdict, Verdict::NoAnswer);
        QCOMPARE(report.verdictText(), QStringLiteral("не отвечает"));
        QVERIFY(report.line().endsWith(QStringLiteral("не отвечает")));
        // The port was given back: the next diagnosis opens it and the other one answers.
        const SensorReport next = diagnoseOver(served, other->serialText());
        served.stop();
        QCOMPARE(next.verdict, Verdict::Genuine);
        QCOMPARE(sensor->eepromWrites() + other->eepromWrites(), 0);
        QCOMPARE(other->scratchpad()[4], std::uint8_t(0x7F));
    }

    void probeListsEveryDevice()
    {
        ServedBus served;
        const QString genuine = addModel(served.bus, Model::Genuine)->serialText();
        const QString ff = addModel(served.bus, Model::CloneFf)->serialText();
        const QString warm = addModel(served.bus, Model::Clone25c)->serialText();
        QVERIFY(served.start());
        PosixSerialPort port(served.programDir());
        RecordingLog log;
        SystemClock clock;
        const ProbeResult result = runTask(probeBus(port, QStringLiteral("COM1"), log, clock));
        QVERIFY(!port.isOpen());
        served.stop();
        QVERIFY(result.opened);
        QCOMPARE(result.reports.size(), std::size_t(3));
        QMap<QString, QString> verdicts;
        for (const SensorReport &report : result.reports)
            verdicts.insert(report.serial, report.verdictText());
        const QMap<QString, QString> expected{{genuine, QStringLiteral("подлинный")},
                                              {ff, QStringLiteral("вероятно, подделка")},
                                              {warm, QStringLiteral("вероятно, подделка")}};
        QCOMPARE(verdicts, expected);
    }

    void runningVerdict_data()
    {
        using Pad = std::array<std::uint8_t, 9>;
        QTest::addColumn<QString>("serial");
        QTest::addColumn<QByteArray>("pad");
        QTest::addColumn<Verdict>("verdict");
        const auto bytes = [](const Pad &pad) { return QByteArray(reinterpret_cast<const char *>(pad.data()), 9); };
        const QString genuine = QStringLiteral("28ECEDC7050000F6");
        QTest::newRow("genuine 21.5") << genuine << bytes({0x58, 0x01, 0x4B, 0x46, 0x7F, 0xFF, 0x08, 0x10, 0}) << Verdict::Genuine;
        QTest::newRow("byte 6 stuck") << genuine << bytes({0x58, 0x01, 0x4B, 0x46, 0x7F, 0xFF, 0x0C, 0x10, 0}) << Verdict::LikelyClone;
        QTest::newRow("byte 7 66") << genuine << bytes({0x58, 0x01, 0x4B, 0x46, 0x7F, 0xFF, 0x08, 0x66, 0}) << Verdict::LikelyClone;
        QTest::newRow("byte 5 not FF") << genuine << bytes({0x58, 0x01, 0x4B, 0x46, 0x7F, 0x0C, 0x08, 0x10, 0}) << Verdict::LikelyClone;
        QTest::newRow("ROM bytes 5, 6") << QStringLiteral("28FF641E158C3C00") << bytes({0x58, 0x01, 0x4B, 0x46, 0x7F, 0xFF, 0x08, 0x10, 0}) << Verdict::LikelyClone;
        QTest::newRow("10 bits: byte 6 says nothing") << genuine << bytes({0x58, 0x01, 0x4B, 0x46, 0x3F, 0xFF, 0x0C, 0x10, 0}) << Verdict::Undetermined;
        QTest::newRow("power-up 85") << genuine << bytes({0x50, 0x05, 0x4B, 0x46, 0x7F, 0xFF, 0x0C, 0x10, 0}) << Verdict::Undetermined;
        QTest::newRow("DS18S20") << QStringLiteral("108739A80208006F") << bytes({0x2B, 0x00, 0x4B, 0x46, 0xFF, 0xFF, 0x0C, 0x10, 0}) << Verdict::Genuine;
        QTest::newRow("DS18S20 remain 20") << QStringLiteral("108739A80208006F") << bytes({0x2B, 0x00, 0x4B, 0x46, 0xFF, 0xFF, 0x14, 0x10, 0}) << Verdict::LikelyClone;
    }
    void runningVerdict()
    {
        QFETCH(QString, serial);
        QFETCH(QByteArray, pad);
        QFETCH(Verdict, verdict);
        std::array<std::uint8_t, 9> scratchpad{};
        std::copy(pad.begin(), pad.end(), scratchpad.begin());
        QCOMPARE(SensorDiagnosis::runningVerdict(*RomDevice::parseRomText(serial), scratchpad), verdict);
    }
};

QTEST_GUILESS_MAIN(TestSensorDiagnosis)
#include "tst_sensordiagnosis.moc"
