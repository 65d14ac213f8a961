#include "base/Clock.h"
#include "base/Formats.h"
#include "app/ui/TForm1.h"
#include "history/ReadingStore.h"
#include "monitor/ui/LiveChart.h"
#include "monitor/ui/MonitorCycle.h"
#include "onewire/KernelBus.h"
#include "onewire/PosixSerialPort.h"
#include "onewire/PtyBusServer.h"
#include "onewire/TemperatureReader.h"
#include "onewire/VirtualBus.h"
#include "onewire/VirtualSensor.h"
#include "sensors/ui/BusDialog.h"
#include "sensors/ui/SensorSlots.h"
#include "support/FakeAppLauncher.h"
#include "support/FakeDialogBoxes.h"
#include "support/FakeSoundPlayer.h"
#include "support/SysfsTree.h"

#include <sqlite3.h>

#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <QToolButton>

#include <memory>
#include <thread>

namespace {

const QString SnA = QStringLiteral("28ECEDC7050000F6");
const QString SnB = QStringLiteral("2825EA52050000CE");
const QString SnS = QStringLiteral("108739A80208006F"); // DS18S20
const QString SnGone = QStringLiteral("28A2D984000002EA"); // on neither bus
const QString SnPowerOn = QStringLiteral("28FF4A1B020000FF"); // holds the power-on 85 °C

QStringList logMessages(const TForm1 &form)
{
    QStringList lines;
    for (QTextBlock b = form.Memo1->document()->begin(); b.isValid(); b = b.next()) {
        // Raw lines as they are, stamped ones without "08.12.2026 14:05:09 : ".
        const int cut = b.text().indexOf(QStringLiteral(" : "));
        lines << (cut < 0 || b.text().startsWith(QLatin1String("s/n")) ? b.text() : b.text().mid(cut + 3));
    }
    lines.removeAll(QString());
    return lines;
}

QStringList storedReadings(const QString &path)
{
    sqlite3 *db = nullptr;
    QStringList rows;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt *stmt = nullptr;
        if (sqlite3_prepare_v2(db, "select Sn, t from stats order by rowid", -1, &stmt, nullptr) == SQLITE_OK) {
            while (sqlite3_step(stmt) == SQLITE_ROW)
                rows << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0))) + QLatin1Char('=')
                        + QString::number(sqlite3_column_double(stmt, 1), 'g', 17);
        }
        sqlite3_finalize(stmt);
    }
    sqlite3_close_v2(db);
    return rows;
}

// The sensors of both buses and their temperatures in each of three cycles.
struct Sensor
{
    QString sn;
    double t[3];
};
const Sensor Sensors[] = {
    {SnA, {19.0, 19.5, 21.25}},
    {SnB, {-4.25, 20.04, -0.5}},
    {SnS, {55.5, -0.5, 25.0}},
};

} // namespace

class TestKernelBusCycle : public QObject
{
    Q_OBJECT

private:
    SystemClock m_clock;
    FakeDialogBoxes m_boxes;
    FakeSoundPlayer m_sound;
    FakeAppLauncher m_launcher;
    std::unique_ptr<QTemporaryDir> m_dir;

    // The window; portFactory null: a virtual bus nobody should open.
    std::unique_ptr<TForm1> makeForm(std::function<std::unique_ptr<SerialPort>()> port, VirtualBus **unused = nullptr)
    {
        if (!port) {
            port = [unused] {
                auto bus = std::make_unique<VirtualBus>();
                if (unused)
                    *unused = bus.get();
                return bus;
            };
        }
        auto form = std::make_unique<TForm1>(TForm1Context{
            .clock = m_clock,
            .boxes = m_boxes,
            .programDir = ProgramDirectory{m_dir->path() + QLatin1Char('/'), QString(), QString()},
            .programCommand = {QStringLiteral("/opt/kalvex/kalvex")},
            .autostartFile = m_dir->filePath(QStringLiteral("autostart/Kalvex.desktop")),
            .makeSerialPort = port,
            .demo = false,
            .sound = &m_sound,
            .launcher = &m_launcher,
        });
        if (form->temperatureReader())
            form->temperatureReader()->setConversionDelayMs(0);
        form->COMPort = 1;
        return form;
    }

    static void addSensors(TForm1 &form)
    {
        SensorSlots &sensors = form.sensorSlots();
        const QString names[] = {QStringLiteral("Кухня"), QStringLiteral("Улица"), QStringLiteral("Котёл"),
                                 QStringLiteral("Чердак"), QStringLiteral("Подвал")};
        const QString serials[] = {SnA, SnB, SnS, SnGone, SnPowerOn};
        for (int k = 0; k < 5; ++k)
            sensors.AddItem(100 + 60 * k, 100, names[k], serials[k], true, k == 1 ? 0.5 : 0, false, DefaultTrayBackground,
                          DefaultTrayText, 255, CreateClearSign());
    }

    static void switchOn(TForm1 &form)
    {
        form.N3->setChecked(true);
        form.N3Click();
        QTRY_VERIFY_WITH_TIMEOUT(form.busIdle(), 20000);
    }
    static void runCycle(TForm1 &form)
    {
        form.Nabl();
        QTRY_VERIFY_WITH_TIMEOUT(form.busIdle(), 20000);
    }

    // All a user sees and keeps of the sensors after a cycle.
    static QStringList shown(TForm1 &form)
    {
        QStringList state;
        for (int row = 0; row < form.Sns.RowCount(); ++row) {
            QStringList cells;
            for (int col = 0; col < 5; ++col)
                cells << form.Sns.Cells(col, row);
            state << cells.join(QLatin1Char('|'));
        }
        for (int col = 0; col < form.SHour.ColCount(); ++col) {
            for (int row = 0; row < form.SHour.RowCount(); ++row)
                state << form.SHour.Cells(col, row);
        }
        for (const TDSItem &item : form.sensorSlots().DSItems) {
            const int last = form.liveChart().pointCount(item.Series) - 1;
            state << item.TempLabel->text() << QString::number(item.LastTemp)
                  << QString::number(form.liveChart().valueAt(item.Series, last));
            for (const double h : item.HourAvg)
                state << QString::number(h);
        }
        return state;
    }

    // Three cycles; the first sensor's device goes away before the third.
    QStringList observe(TForm1 &form, const std::function<void(int cycle)> &setTemperatures,
                        const std::function<void()> &unplugFirst)
    {
        QStringList state;
        for (int cycle = 0; cycle < 3; ++cycle) {
            setTemperatures(cycle);
            if (cycle == 2)
                unplugFirst();
            if (cycle == 0)
                switchOn(form);
            else
                runCycle(form);
            state << shown(form);
        }
        state << storedReadings(form.store()->storePath());
        state << logMessages(form);
        return state;
    }

    static std::array<std::uint8_t, 9> powerOnScratchpad() { return VirtualSensor::scratchpadFor(85.0, true); }

private slots:
    void initTestCase() { Formats::setCurrent(Formats::russian()); }
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        QImage background(8, 8, QImage::Format_RGB32);
        background.fill(Qt::darkGray);
        QVERIFY(background.save(m_dir->filePath(QStringLiteral("bk.jpg"))));
        m_boxes = FakeDialogBoxes();
    }
    void cleanup() { m_dir.reset(); }

    // The same sensors on the serial line (the termios port on the bus simulator) and on the
    // kernel's bus give the same labels, grids, hourly values, chart, store and log: the
    // power-on 85 °C, a sensor on neither bus and one unplugged are no answer on both.
    void sameAsThePtySimulator_data()
    {
        QTest::addColumn<bool>("bulk");
        QTest::newRow("sensor by sensor") << false;
        QTest::newRow("all sensors at once") << true;
    }
    void sameAsThePtySimulator()
    {
        QFETCH(bool, bulk);
        QStringList overSerial;
        {
            VirtualBus bus;
            for (const Sensor &s : Sensors)
                bus.addSensor(s.sn, s.t[0]);
            bus.addSensor(SnPowerOn)->setScratchpad(powerOnScratchpad());
            PtyBusServer server(bus);
            QVERIFY2(server.open(), qPrintable(server.errorText()));
            QVERIFY(server.linkAs(m_dir->filePath(QStringLiteral("COM1"))));
            std::thread serving([&server] { server.run(); });
            const QString dir = m_dir->path() + QLatin1Char('/');
            auto form = makeForm([dir] { return std::make_unique<PosixSerialPort>(dir); });
            form->BulkConvert = bulk;
            addSensors(*form);
            // Between cycles the simulator waits for the next character: the bus is the test's.
            overSerial = observe(
                *form,
                [&bus](int cycle) {
                    for (const Sensor &s : Sensors)
                        bus.setTemperature(s.sn, s.t[cycle]);
                },
                [&bus] { bus.removeDevice(SnA); });
            form.reset();
            server.requestStop();
            serving.join();
            server.close();
        }
        QFile::remove(m_dir->filePath(QStringLiteral("COM1")));
        QFile::remove(m_dir->filePath(QStringLiteral("Kalvex.st")));
        QFile::remove(m_dir->filePath(QStringLiteral("Kalvex.ini")));

        SysfsTree tree;
        tree.addMaster(1);
        tree.addMaster(2);
        VirtualBus *port = nullptr;
        auto form = makeForm({}, &port);
        form->BusKind = QStringLiteral("kernel");
        form->KernelPath = tree.path();
        form->BulkConvert = bulk;
        addSensors(*form);
        tree.addDevice(2, SnPowerOn, SysfsTree::w1SlaveText(powerOnScratchpad(), true));
        const QStringList overKernel = observe(
            *form,
            [&tree](int cycle) {
                for (const Sensor &s : Sensors) {
                    const bool b20 = s.sn.startsWith(QLatin1String("28"));
                    const QByteArray text = SysfsTree::w1SlaveText(VirtualSensor::scratchpadFor(s.t[cycle], b20), b20);
                    if (cycle == 0)
                        tree.addDevice(s.sn == SnS ? 2 : 1, s.sn, text);
                    else
                        tree.setReading(s.sn, text);
                }
            },
            [&tree] { tree.removeDevice(1, SnA); });
        QVERIFY(!port->isOpen());
        QCOMPARE(overKernel, overSerial);
        if (bulk) {
            QVERIFY(SysfsTree::read(tree.bulkFile(1)).endsWith("trigger\n"));
            QVERIFY(SysfsTree::read(tree.bulkFile(2)).endsWith("trigger\n"));
        }
        // What the comparison covers: a reading, a correction, the rejected ones.
        QVERIFY(overKernel.contains(QStringLiteral("Улица|20,6|2825EA52050000CE|-3,8|1")));
        QCOMPARE(overKernel.filter(QStringLiteral("Датчик не отвечает: ")),
                 (QStringList{QStringLiteral("Датчик не отвечает: 3 : -999"), QStringLiteral("Датчик не отвечает: 4 : 85"),
                              QStringLiteral("Датчик не отвечает: 3 : -999"), QStringLiteral("Датчик не отвечает: 4 : 85"),
                              QStringLiteral("Датчик не отвечает: 0 : -999"), QStringLiteral("Датчик не отвечает: 3 : -999"),
                              QStringLiteral("Датчик не отвечает: 4 : 85")}));
    }

    // Observation switched off while a cycle reads: as on the closed serial port, the reading
    // under way and the rest of the cycle give no answer, and nothing is stored.
    void switchedOffDuringACycle()
    {
        SysfsTree tree;
        tree.addMaster(1);
        VirtualBus *port = nullptr;
        auto form = makeForm({}, &port);
        form->BusKind = QStringLiteral("kernel");
        form->KernelPath = tree.path();
        for (const QString &sn : {SnA, SnB}) {
            tree.addDevice(1, sn, SysfsTree::w1SlaveText(VirtualSensor::scratchpadFor(21.5, true), true));
            form->sensorSlots().AddItem(100, 100, sn.left(4), sn, true, 0, false, DefaultTrayBackground, DefaultTrayText,
                                        255, CreateClearSign());
        }
        // Inside the first reading's wait.
        QTimer::singleShot(0, form.get(), [&form] {
            form->N3->setChecked(false);
            form->N3Click();
        });
        switchOn(*form);
        QCOMPARE(logMessages(*form).filter(QStringLiteral("Датчик не отвечает: ")),
                 (QStringList{QStringLiteral("Датчик не отвечает: 0 : -999"), QStringLiteral("Датчик не отвечает: 1 : -999")}));
        QCOMPARE(storedReadings(form->store()->storePath()), QStringList());
        // On again, it reads.
        switchOn(*form);
        QCOMPARE(form->Sns.Cells(1, 1), QStringLiteral("21,5"));
        QCOMPARE(storedReadings(form->store()->storePath()).size(), 2);
    }

    // The search and the hidden single-device read find the same on both buses: the same new
    // sensors at the same places, the same log lines and summary.
    void searchSameAsThePtySimulator()
    {
        const QStringList onBus = {SnA, SnS, SnB, SnPowerOn};
        QStringList seen[2];
        for (int kernel = 0; kernel <= 1; ++kernel) {
            init();
            VirtualBus bus;
            for (const QString &sn : onBus)
                bus.addSensor(sn);
            PtyBusServer server(bus);
            QVERIFY2(server.open(), qPrintable(server.errorText()));
            QVERIFY(server.linkAs(m_dir->filePath(QStringLiteral("COM1"))));
            std::thread serving([&server] { server.run(); });
            SysfsTree tree;
            tree.addMaster(1);
            tree.addMaster(2);
            for (int k = 0; k < onBus.size(); ++k)
                tree.addDevice(1 + k % 2, onBus.at(k));

            const QString dir = m_dir->path() + QLatin1Char('/');
            auto form = makeForm([dir] { return std::make_unique<PosixSerialPort>(dir); });
            if (kernel) {
                form->BusKind = QStringLiteral("kernel");
                form->KernelPath = tree.path();
            }
            // One known already, in lower case.
            form->sensorSlots().AddItem(10, 10, QStringLiteral("Кухня"), SnS.toLower(), true, 0, false,
                                        DefaultTrayBackground, DefaultTrayText, 255, CreateClearSign());
            form->BSearch->click();
            QTRY_VERIFY_WITH_TIMEOUT(form->busIdle() && !m_boxes.messages.isEmpty(), 20000);
            QStringList &state = seen[kernel];
            for (const TDSItem &item : form->sensorSlots().DSItems)
                state << item.SN << form->sensorSlots().name(static_cast<int>(&item - form->sensorSlots().DSItems.data()))
                      << QString::number(item.ImageCtl->x()) << QString::number(item.ImageCtl->y());
            state << m_boxes.messages << logMessages(*form);
            // The lone device's code; with several, what the wired-AND gives.
            bus.removeAllDevices();
            bus.addSensor(SnB);
            tree.removeDevice(1, SnA);
            tree.removeDevice(2, SnS);
            tree.removeDevice(2, SnPowerOn);
            form->Button1->click();
            QTRY_VERIFY_WITH_TIMEOUT(logMessages(*form).filter(QStringLiteral("s/n : ")).size() == 1, 20000);
            QTRY_VERIFY(form->busIdle());
            state << logMessages(*form).filter(QStringLiteral("s/n : "));
            form.reset();
            server.requestStop();
            serving.join();
            server.close();
        }
        QCOMPARE(seen[1], seen[0]);
        QVERIFY(seen[1].contains(QStringLiteral("Найдено датчиков: 4, из них новых: 3")));
        QVERIFY(seen[1].contains(QStringLiteral("s/n : 28 25 EA 52 05 00 00 CE ")));
    }

    // The driver not loaded (no folder, no bus master): observation does not come on and
    // says why; the search says it in its box. A bus without devices finds none.
    void driverNotLoaded_data()
    {
        QTest::addColumn<int>("masters"); // -1: no folder at all
        QTest::newRow("no KernelPath") << -1;
        QTest::newRow("no bus master") << 0;
        QTest::newRow("a master, no device") << 1;
    }
    void driverNotLoaded()
    {
        QFETCH(int, masters);
        SysfsTree tree;
        for (int m = 1; m <= masters; ++m)
            tree.addMaster(m);
        VirtualBus *port = nullptr;
        auto form = makeForm({}, &port);
        form->BusKind = QStringLiteral("kernel");
        form->KernelPath = masters < 0 ? tree.path() + QStringLiteral("/none") : tree.path();
        const QString why = QStringLiteral("Драйвер 1-Wire не загружен (в ") + form->KernelPath
            + QStringLiteral(" нет ни одного w1_bus_master): включите его, например dtoverlay=w1-gpio на Raspberry Pi.");
        form->N3->setChecked(true);
        form->N3Click();
        QTRY_VERIFY(form->busIdle());
        form->BSearch->click();
        QTRY_VERIFY_WITH_TIMEOUT(form->busIdle() && !m_boxes.messages.isEmpty(), 20000);
        if (masters > 0) {
            QCOMPARE(logMessages(*form).first(), QStringLiteral("Отслеживание датчиков включено."));
            QCOMPARE(m_boxes.messages, QStringList{QStringLiteral("Найдено датчиков: 0, из них новых: 0")});
        } else {
            QCOMPARE(logMessages(*form), QStringList{why});
            QCOMPARE(m_boxes.messages, QStringList{why});
        }
        QVERIFY(!form->N3->isChecked());
        QVERIFY(!port->isOpen());
        QVERIFY(!port->busCounters().resets);
    }

    // [Bus] Kind and KernelPath: read at start-up (the port is then never opened), written
    // back only when they differ from the defaults, chosen in the dialog "Шина", where the
    // change moves observation under way onto the chosen bus.
    void kindInKalvexIniAndDialog()
    {
        SysfsTree tree;
        tree.addMaster(1);
        const bool b20 = true;
        tree.addDevice(1, SnA, SysfsTree::w1SlaveText(VirtualSensor::scratchpadFor(21.5, b20), b20));
        const QString ini = m_dir->filePath(QStringLiteral("Kalvex.ini"));
        SysfsTree::write(ini, "[General]\r\nCOMPort=1\r\n[Items]\r\nItemCount=1\r\nItemName0=Kitchen\r\nItemSN0="
                                  + SnA.toLatin1() + "\r\nItemEnable0=1\r\n[Bus]\r\nKind=kernel\r\nKernelPath="
                                  + QFile::encodeName(tree.path()) + "\r\n");
        VirtualBus *port = nullptr;
        auto form = makeForm({}, &port);
        QCOMPARE(form->BusKind, QStringLiteral("kernel"));
        QCOMPARE(form->KernelPath, tree.path());
        port->addSensor(SnA, 30.0);
        switchOn(*form);
        QVERIFY(!port->isOpen());
        QCOMPARE(form->Sns.Cells(1, 1), QStringLiteral("21,5"));

        // The dialog: back to the serial port while observing.
        bool shown = false;
        QTimer::singleShot(0, this, [&] {
            auto *dialog = qobject_cast<BusDialog *>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            shown = true;
            QVERIFY(dialog->RKernel->isChecked());
            QCOMPARE(dialog->EKernelPath->text(), tree.path());
            QVERIFY(dialog->EKernelPath->isEnabled());
            dialog->RSerial->click();
            QVERIFY(!dialog->EKernelPath->isEnabled());
            dialog->Buttons->button(QDialogButtonBox::Ok)->click();
        });
        form->NBus->trigger();
        QVERIFY(shown);
        QTRY_VERIFY_WITH_TIMEOUT(form->busIdle(), 20000);
        QCOMPARE(form->BusKind, QStringLiteral("serial"));
        QVERIFY(form->N3->isChecked());
        QVERIFY(port->isOpen());
        QCOMPARE(form->Sns.Cells(1, 1), QStringLiteral("30"));
        form.reset();
        QByteArray text = SysfsTree::read(ini);
        QVERIFY(!text.contains("Kind="));
        QVERIFY(text.contains("KernelPath=" + QFile::encodeName(tree.path())));

        // Chosen in the dialog, written, read back.
        form = makeForm({}, &port);
        QTimer::singleShot(0, this, [&] {
            auto *dialog = qobject_cast<BusDialog *>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            dialog->RKernel->click();
            dialog->EKernelPath->clear();
            dialog->Buttons->button(QDialogButtonBox::Ok)->click();
        });
        form->NBus->trigger();
        QCOMPARE(form->BusKind, QStringLiteral("kernel"));
        QCOMPARE(form->KernelPath, KernelBus::defaultPath());
        form.reset();
        text = SysfsTree::read(ini);
        QVERIFY(text.contains("Kind=kernel"));
        QVERIFY(!text.contains("KernelPath="));
        form = makeForm({}, &port);
        QCOMPARE(form->BusKind, QStringLiteral("kernel"));
        QCOMPARE(form->KernelPath, KernelBus::defaultPath());
    }
};

QTEST_MAIN(TestKernelBusCycle)
#include "tst_kernelbuscycle.moc"
