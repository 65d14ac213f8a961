#include "app/ui/QtDialogBoxes.h"
#include "app/ui/SensorInfoWindow.h"
#include "app/ui/TForm1.h"
#include "base/Clock.h"
#include "base/Formats.h"
#include "monitor/ui/MonitorCycle.h"
#include "monitor/ui/StringGridView.h"
#include "onewire/PosixSerialPort.h"
#include "onewire/PtyBusServer.h"
#include "onewire/SensorVerdicts.h"
#include "onewire/SerialPort.h"
#include "onewire/VirtualBus.h"
#include "onewire/VirtualSensor.h"
#include "sensors/SensorRecords.h"
#include "sensors/ui/SensorSlots.h"
#include "support/FakeAppLauncher.h"
#include "support/FakeSoundPlayer.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>
#include <thread>

using Model = VirtualSensor::Model;

namespace {

// The program's window on COM1, a pseudo-terminal serving a genuine sensor and a clone.
struct PtyProgram
{
    QTemporaryDir dir;
    QString programDir = dir.path() + QLatin1Char('/');
    VirtualBus bus;
    PtyBusServer server{bus};
    std::thread serving;
    SystemClock clock;
    QtDialogBoxes boxes;
    FakeSoundPlayer sound;
    FakeAppLauncher launcher;
    std::unique_ptr<TForm1> form;
    std::shared_ptr<VirtualSensor> genuine;
    std::shared_ptr<VirtualSensor> clone;

    PtyProgram()
    {
        for (const Model model : {Model::Genuine, Model::CloneFf}) {
            auto sensor = std::make_shared<VirtualSensor>(VirtualSensor::exampleRom(model));
            sensor->setTemperature(22.25);
            sensor->setConversionMs(600);
            if (model != Model::Genuine)
                sensor->setModel(model);
            bus.addDevice(sensor);
            (model == Model::Genuine ? genuine : clone) = sensor;
        }
    }
    ~PtyProgram() { stop(); }
    void stop()
    {
        form.reset();
        if (serving.joinable()) {
            server.requestStop();
            serving.join();
        }
        server.close();
    }
    bool start()
    {
        if (!dir.isValid() || !server.open() || !server.linkAs(programDir + QStringLiteral("COM1")))
            return false;
        serving = std::thread([this] { server.run(); });
        const QString folder = programDir;
        form = std::make_unique<TForm1>(TForm1Context{
            .clock = clock,
            .boxes = boxes,
            .programDir = ProgramDirectory{folder, QString(), QString()},
            .programCommand = {QStringLiteral("/opt/kalvex/kalvex")},
            .autostartFile = dir.filePath(QStringLiteral("autostart/Kalvex.desktop")),
            .makeSerialPort = [folder] { return std::make_unique<PosixSerialPort>(folder); },
            .demo = false,
            .sound = &sound,
            .launcher = &launcher,
        });
        form->COMPort = 1;
        return true;
    }
};

bool spinUntil(const std::function<bool()> &done, int ms)
{
    QElapsedTimer waited;
    waited.start();
    while (!done()) {
        if (waited.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    }
    return true;
}

} // namespace

// "Сведения…" on the real window and the real serial port: the diagnosis runs between the
// cycles (or on a port opened for it alone), shows its verdict, and the readings' own bytes
// give a running verdict meanwhile.
class TestSensorInfo : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { Formats::setCurrent(Formats::russian()); }

    void diagnosisFromEitherMenu_data()
    {
        QTest::addColumn<bool>("observing");
        QTest::addColumn<bool>("fromGrid");
        QTest::addColumn<bool>("breaksOff"); // the clone stops answering after the power question
        QTest::newRow("picture menu, observation off") << false << false << false;
        QTest::newRow("picture menu, observation on") << true << false << false;
        QTest::newRow("readings grid, observation on") << true << true << false;
        QTest::newRow("stops answering, observation off") << false << false << true;
        QTest::newRow("stops answering, observation on") << true << true << true;
    }
    void diagnosisFromEitherMenu()
    {
        QFETCH(bool, observing);
        QFETCH(bool, fromGrid);
        QFETCH(bool, breaksOff);
        PtyProgram program;
        // Set before the line is served: once it is, the device is the server thread's. With
        // observation on, the first cycle's reading (Convert T, Read Scratchpad) still passes.
        if (breaksOff)
            program.clone->setStopAfterCommands(observing ? 2 : 1);
        QVERIFY(program.start());
        TForm1 &form = *program.form;
        const QString genuine = program.genuine->serialText();
        const QString clone = program.clone->serialText();
        form.Timer1->setInterval(100);
        form.show();
        form.sensorSlots().AddItem(100, 100, QStringLiteral("Кухня"), genuine, true, 0, false, 0, 0, 255, CreateClearSign());
        const int cloneIndex =
            form.sensorSlots().AddItem(200, 100, QStringLiteral("Улица"), clone, true, 0, false, 0, 0, 255, CreateClearSign());
        if (observing) {
            form.N3->setChecked(true);
            form.N3Click();
            // Both sensors read once: the grid has their rows and the readings their bytes.
            QVERIFY(spinUntil([&] { return form.monitorCycle().lastCycleMs() >= 0 && !form.monitorCycle().running(); }, 30000));
        }

        if (fromGrid) {
            int row = -1;
            for (int r = 0; r < form.Sns.RowCount(); ++r) {
                if (form.Sns.Cells(2, r) == clone)
                    row = r;
            }
            QVERIFY(row >= 0);
            form.snsView().setCurrentGridRow(row);
            form.NSnsInfo->trigger();
        } else {
            form.sensorSlots().SelectedItem = cloneIndex;
            form.NInfo->trigger();
        }
        QPointer<SensorInfoWindow> window = form.findChild<SensorInfoWindow *>();
        QVERIFY(window);
        QVERIFY(window->isVisible());
        QCOMPARE(window->windowTitle(), QStringLiteral("Сведения о датчике"));
        // The hourglass while it runs. A sensor gone answers nothing at once, and on a quick
        // line its diagnosis may be over before the command returns.
        if (!breaksOff || !window->text().contains(QStringLiteral("Вывод:"))) {
            QVERIFY(QGuiApplication::overrideCursor());
            QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
        }
        // A cycle due meanwhile waits for the bus with its busy cursor on top; the diagnosis
        // ends first and takes only its hourglass away.
        if (observing)
            form.Nabl();
        QVERIFY(spinUntil([&] { return !window || window->text().contains(QStringLiteral("Вывод:")); }, 10000));
        QVERIFY(window);
        if (observing) {
            QVERIFY(form.monitorCycle().running());
            QVERIFY(QGuiApplication::overrideCursor());
            QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::BusyCursor);
            QVERIFY(spinUntil([&] { return !form.monitorCycle().running(); }, 30000));
        }
        QVERIFY(!QGuiApplication::overrideCursor());
        const QString text = window->text();
        QVERIFY2(text.contains(QStringLiteral("ПЗУ: ") + clone), qPrintable(text));
        if (breaksOff) {
            QVERIFY2(text.endsWith(QStringLiteral("Вывод: не отвечает")), qPrintable(text));
        } else {
            QVERIFY2(text.contains(QStringLiteral("Питание: своё")), qPrintable(text));
            QVERIFY2(text.contains(QStringLiteral("Вывод: вероятно, подделка")), qPrintable(text));
            const auto known = form.sensorVerdicts().find(clone);
            QVERIFY(known && known->diagnosed);
            QCOMPARE(known->verdict, SensorReport::Verdict::LikelyClone);
        }
        // Observation keeps its port and goes on polling; otherwise the port is free again.
        QCOMPARE(form.serialPort()->isOpen(), observing);
        if (observing) {
            // The genuine one was never diagnosed: what its readings carry says it.
            const auto running = form.sensorVerdicts().find(genuine);
            QVERIFY(running && !running->diagnosed);
            QCOMPARE(running->verdict, SensorReport::Verdict::Genuine);
        } else {
            PosixSerialPort other(program.programDir);
            QVERIFY2(other.OpenCOM(QStringLiteral("COM1")), qPrintable(other.lastError()));
            other.CloseCOM();
        }
        program.stop();
        QCOMPARE(program.genuine->eepromWrites() + program.clone->eepromWrites(), 0);
        QCOMPARE(program.clone->scratchpad()[4], std::uint8_t(0x7F));
    }
};

QTEST_MAIN(TestSensorInfo)
#include "tst_sensorinfo.moc"
