#include "app/ui/TForm1.h"
#include "base/Clock.h"
#include "buses/BusSet.h"
#include "onewire/PosixSerialPort.h"
#include "onewire/PtyBusServer.h"
#include "onewire/SerialHouseBus.h"
#include "onewire/VirtualBus.h"
#include "onewire/VirtualSensor.h"
#include "sensors/ui/BusDialog.h"
#include "sensors/ui/SensorSlots.h"
#include "web/HttpServer.h"
#include "app/ui/OwServerCommand.h"
#include "app/ui/SensorInfoWindow.h"
#include "monitor/ui/MonitorCycle.h"
#include "monitor/StringGridModel.h"
#include "monitor/ui/StringGridView.h"
#include "owserver/OwServer.h"
#include "owserver/OwSnapshot.h"
#include "support/FakeAppLauncher.h"
#include "support/FakeDialogBoxes.h"
#include "support/FakeSoundPlayer.h"
#include "support/SysfsTree.h"

#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTcpServer>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTimer>

#include <qcustomplot.h>

#include <cmath>
#include <memory>
#include <thread>

namespace {

QStringList logMessages(const TForm1 &form)
{
    QStringList lines;
    for (QTextBlock b = form.Memo1->document()->begin(); b.isValid(); b = b.next()) {
        const int cut = b.text().indexOf(QStringLiteral(" : "));
        lines << (cut < 0 || b.text().startsWith(QLatin1String("s/n")) ? b.text() : b.text().mid(cut + 3));
    }
    lines.removeAll(QString());
    return lines;
}

// A virtual bus served on a pseudo-terminal linked as COMn in the program's folder; silent:
// the terminal exists and nobody answers on it.
struct PtyLine
{
    VirtualBus bus;
    PtyBusServer server{bus};
    std::unique_ptr<std::thread> serving;

    bool start(const QString &link, bool silent)
    {
        if (!server.open() || !server.linkAs(link))
            return false;
        if (!silent)
            serving = std::make_unique<std::thread>([this] { server.run(); });
        return true;
    }
    // The adapter pulled: the terminal goes away under the program.
    void pull()
    {
        if (serving) {
            server.requestStop();
            serving->join();
            serving.reset();
        }
        server.close();
    }
    ~PtyLine() { pull(); }
};

struct Sensor
{
    int bus;
    QString sn;
    double t;
    QString caption;
};

// Three serial lines (the third silent) and the kernel's bus, two sensors on each.
const Sensor Sensors[] = {
    {1, QStringLiteral("28ECEDC7050000F6"), 21.5, QStringLiteral("21,5")},
    {1, QStringLiteral("2825EA52050000CE"), -4.25, QStringLiteral("-4,3")},
    {2, QStringLiteral("28A2D984000002EA"), 55.0, QStringLiteral("55")},
    {2, QStringLiteral("108739A80208006F"), 18.5, QStringLiteral("18,5")},
    {3, QStringLiteral("28FF00112233AA8D"), 20.0, QString()},
    {3, QStringLiteral("28FF00112233447B"), 20.0, QString()},
    {4, QStringLiteral("28000000A1B2C3F8"), 12.75, QStringLiteral("12,8")},
    {4, QStringLiteral("28000000112233F3"), 7.5, QStringLiteral("7,5")},
};

} // namespace

class TestManyBuses : public QObject
{
    Q_OBJECT

private:
    SystemClock m_clock;
    FakeDialogBoxes m_boxes;
    FakeSoundPlayer m_sound;
    FakeAppLauncher m_launcher;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<PtyLine> m_lines[3];
    std::unique_ptr<SysfsTree> m_tree;

    std::unique_ptr<TForm1> makeForm(bool realConversion = false)
    {
        auto form = makeFormFromFile(realConversion);
        form->COMPort = 1;
        form->BusName = QStringLiteral("Гостиная");
        BusConfig second;
        second.COMPort = 2;
        second.Name = QStringLiteral("Котельная");
        BusConfig third;
        third.COMPort = 3;
        third.Name = QStringLiteral("Чердак");
        BusConfig kernel;
        kernel.Kind = QStringLiteral("kernel");
        kernel.KernelPath = m_tree->path();
        kernel.Name = QStringLiteral("Малина");
        form->MoreBuses = {second, third, kernel};
        if (!realConversion)
            noConversionWait(*form);
        return form;
    }

    // The window as the file in the folder sets it up.
    // The serial buses read at once (the simulators' sensors convert at once).
    static void noConversionWait(TForm1 &form)
    {
        for (const std::shared_ptr<HouseBus> &bus : form.buses().all()) {
            if (auto *serial = dynamic_cast<SerialHouseBus *>(bus.get()))
                serial->temperatureReader().setConversionDelayMs(0);
        }
    }

    std::unique_ptr<TForm1> makeFormFromFile(bool realConversion = false)
    {
        const QString dir = m_dir->path() + QLatin1Char('/');
        auto form = std::make_unique<TForm1>(TForm1Context{
            .clock = m_clock,
            .boxes = m_boxes,
            .programDir = ProgramDirectory{dir, QString(), QString()},
            .programCommand = {QStringLiteral("/opt/kalvex/kalvex")},
            .autostartFile = m_dir->filePath(QStringLiteral("autostart/Kalvex.desktop")),
            .makeSerialPort = [dir] { return std::make_unique<PosixSerialPort>(dir); },
            .demo = false,
            .sound = &m_sound,
            .launcher = &m_launcher,
        });
        if (!realConversion)
            noConversionWait(*form);
        return form;
    }

    static void addSensors(TForm1 &form)
    {
        int k = 0;
        for (const Sensor &s : Sensors) {
            const int slot = form.sensorSlots().AddItem(100 + 40 * k, 100, QStringLiteral("Датчик %1").arg(k), s.sn, true, 0,
                                                         false, DefaultTrayBackground, DefaultTrayText, 255,
                                                         CreateClearSign());
            form.sensorSlots().DSItems[static_cast<std::size_t>(slot)].Bus = s.bus;
            ++k;
        }
    }

    static QString caption(const TForm1 &form, int slot)
    {
        const TDSItem &item = form.sensorSlots().DSItems[static_cast<std::size_t>(slot)];
        return item.TempLabel ? item.TempLabel->text() : QString();
    }

    // The readings grid's value for a serial (rows come in the order readings arrive).
    static QString snsValue(const TForm1 &form, const QString &sn)
    {
        for (int row = 1; row < form.Sns.RowCount(); ++row) {
            if (form.Sns.Cells(2, row) == sn)
                return form.Sns.Cells(1, row);
        }
        return {};
    }

    static void switchObservation(TForm1 &form, bool on)
    {
        form.N3->setChecked(on);
        form.N3Click();
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_tree = std::make_unique<SysfsTree>();
        m_tree->addMaster(1, false);
        for (std::unique_ptr<PtyLine> &line : m_lines)
            line = std::make_unique<PtyLine>();
        for (const Sensor &s : Sensors) {
            if (s.bus <= 2)
                m_lines[s.bus - 1]->bus.addSensor(s.sn, s.t);
            else if (s.bus == 4)
                m_tree->addDevice(1, s.sn, SysfsTree::w1SlaveText(VirtualSensor::scratchpadFor(s.t, true), true));
        }
        for (int k = 0; k < 3; ++k)
            QVERIFY(m_lines[k]->start(m_dir->filePath(QStringLiteral("COM%1").arg(k + 1)), k == 2));
    }
    void cleanup()
    {
        for (std::unique_ptr<PtyLine> &line : m_lines)
            line.reset();
        m_tree.reset();
        m_dir.reset();
    }

    // Every good sensor reads as it would on a bus of its own; the silent line's sensors are
    // "err" and logged; nothing else is said of the live buses.
    void readsEveryBusAtOnce()
    {
        auto form = makeForm();
        addSensors(*form);
        form->Memo1->clear();
        switchObservation(*form, true);
        QTRY_VERIFY_WITH_TIMEOUT(!caption(*form, 6).isEmpty() && !caption(*form, 0).isEmpty(), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(form->busIdle(), 20000);
        for (int k = 0; k < 8; ++k) {
            const Sensor &s = Sensors[k];
            QCOMPARE(snsValue(*form, s.sn), s.bus == 3 ? QStringLiteral("err") : s.caption);
            QCOMPARE(caption(*form, k), s.caption);
        }
        const QStringList lines = logMessages(*form);
        QCOMPARE(lines.value(0), QStringLiteral("Отслеживание датчиков включено."));
        QStringList failures = lines.filter(QStringLiteral("Датчик не отвечает"));
        failures.sort();
        QCOMPARE(failures, (QStringList{QStringLiteral("Датчик не отвечает: 4 : -999"), QStringLiteral("Датчик не отвечает: 5 : -999")}));
        QCOMPARE(lines.size(), 3);
        // The page and /metrics know each bus: the silent one's port is open, nothing answers.
        form->publishWebSnapshot();
        const std::shared_ptr<const WebSnapshot> snapshot = form->httpServer().snapshot();
        QCOMPARE(snapshot->buses.size(), 4u);
        QCOMPARE(snapshot->buses[1].name, QByteArray("Котельная"));
        QCOMPARE(snapshot->buses[2].portOpen, 1);
        QCOMPARE(snapshot->items[6].bus, QByteArray("Малина"));
        // The readings grid tells a row's bus on hover; the owserver side serves each bus.
        const StringGridModel &model = form->snsView().gridModel();
        for (int row = 0; row < model.rowCount(); ++row) {
            if (model.data(model.index(row, 2)).toString() == Sensors[2].sn)
                QCOMPARE(model.data(model.index(row, 0), Qt::ToolTipRole).toString(), QStringLiteral("Шина «Котельная»"));
        }
        const std::shared_ptr<const OwSnapshot> served = form->owServer().server().snapshot();
        QCOMPARE(served->buses, 4);
        QCOMPARE(served->sensors[7].bus, 3);
        switchObservation(*form, false);
        QTRY_VERIFY(form->busIdle());
    }

    // A port pulled on one bus is that bus's: logged once with its name, its sensors "err",
    // while the other buses go on reading; it opens again when it is back.
    void lostPortStaysWithItsBus()
    {
        auto form = makeForm();
        addSensors(*form);
        form->Timer1->setInterval(200);
        switchObservation(*form, true);
        QTRY_VERIFY_WITH_TIMEOUT(!caption(*form, 2).isEmpty(), 10000);
        m_lines[1]->pull();
        QTRY_VERIFY_WITH_TIMEOUT(logMessages(*form).filter(QStringLiteral("Шина «Котельная»: порт COM2 потерян: ")).size() == 1,
                                 10000);
        QTRY_COMPARE_WITH_TIMEOUT(snsValue(*form, Sensors[2].sn), QStringLiteral("err"), 10000);
        // Bus 1 goes on: a new reading there after the loss.
        m_lines[0]->bus.setTemperature(Sensors[0].sn, 23.0);
        QTRY_COMPARE_WITH_TIMEOUT(caption(*form, 0), QStringLiteral("23"), 10000);
        // Said once however many cycles pass.
        QTest::qWait(600);
        QCOMPARE(logMessages(*form).filter(QStringLiteral("потерян")).size(), 1);
        // Back: opened again at its next part.
        QVERIFY(m_lines[1]->start(m_dir->filePath(QStringLiteral("COM2")), false));
        QTRY_VERIFY_WITH_TIMEOUT(logMessages(*form).contains(QStringLiteral("Шина «Котельная»: порт COM2 снова открыт.")), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(caption(*form, 2), QStringLiteral("55"), 10000);
        switchObservation(*form, false);
        QTRY_VERIFY(form->busIdle());
    }

    // The search looks on every bus at once and ties each new sensor to its bus; a known
    // sensor found elsewhere moves only when its own bus no longer sees it.
    void searchTiesSensorsToTheirBuses()
    {
        auto form = makeForm();
        // Known on bus 1 but wired to bus 2 now; known on bus 2 and still there.
        const int moved = form->sensorSlots().AddItem(10, 10, QStringLiteral("Перенесённый"), Sensors[2].sn, true, 0, false,
                                                      DefaultTrayBackground, DefaultTrayText, 255, CreateClearSign());
        m_boxes.messages.clear();
        form->N5->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(m_boxes.messages.size(), 1, 20000);
        QTRY_VERIFY(form->busIdle());
        QCOMPARE(m_boxes.messages.front(), QStringLiteral("Найдено датчиков: 6, из них новых: 5"));
        const TDSItems &items = form->sensorSlots().DSItems;
        for (const Sensor &s : Sensors) {
            if (s.bus == 3)
                continue;
            const auto found = std::find_if(items.begin(), items.end(), [&s](const TDSItem &item) { return item.SN == s.sn; });
            QVERIFY2(found != items.end(), qPrintable(s.sn));
            QCOMPARE(found->Bus, s.bus);
        }
        QCOMPARE(items[static_cast<std::size_t>(moved)].Bus, 2);
        QVERIFY(logMessages(*form).contains(QStringLiteral("Датчик ") + Sensors[2].sn
                                            + QStringLiteral(" перенесён с шины «Гостиная» на шину «Котельная».")));
    }

    // The list of buses as a hand-edited file gives it and as the dialog changes it: read,
    // polled, added to, saved and read back; a sensor of a bus the file lacks reads on bus 1.
    void busListThroughFileAndDialog()
    {
        const QString ini = m_dir->filePath(QStringLiteral("Kalvex.ini"));
        QFile file(ini);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QByteArray text = "[General]\r\nCOMPort=1\r\n[Items]\r\n";
        for (int k = 0; k < 4; ++k) {
            text += "ItemSN" + QByteArray::number(k) + "=" + Sensors[k].sn.toLatin1() + "\r\nItemEnable" + QByteArray::number(k)
                    + "=1\r\n";
        }
        text += "ItemBus2=2\r\nItemBus3=2\r\nItemBus1=7\r\nItemCount=4\r\n[Bus2]\r\nKind=serial\r\nCOMPort=2\r\n"
                "Name=\xca\xee\xf2\xe5\xeb\xfc\xed\xe0\xff\r\n";
        file.write(text);
        file.close();
        auto form = makeFormFromFile();
        QCOMPARE(form->MoreBuses.size(), 1u);
        QCOMPARE(form->buses().name(2), QStringLiteral("Котельная"));
        QCOMPARE(form->sensorSlots().DSItems[1].Bus, 1);
        QCOMPARE(form->sensorSlots().DSItems[2].Bus, 2);
        QVERIFY(logMessages(*form).filter(QStringLiteral("ItemBus1")).size() == 1);
        switchObservation(*form, true);
        QTRY_VERIFY_WITH_TIMEOUT(!caption(*form, 3).isEmpty() && !caption(*form, 1).isEmpty(), 10000);
        QCOMPARE(caption(*form, 3), Sensors[3].caption);
        QTRY_VERIFY_WITH_TIMEOUT(form->busIdle(), 20000);

        // Added in the dialog: the kernel's bus; observation goes on with it at once.
        bool shown = false;
        QTimer::singleShot(0, this, [&] {
            auto *dialog = qobject_cast<BusDialog *>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            shown = true;
            QCOMPARE(dialog->TBuses->rowCount(), 2);
            dialog->BAdd->click();
            dialog->RKernel->click();
            dialog->EKernelPath->setText(m_tree->path());
            dialog->EName->setText(QStringLiteral("Малина"));
            dialog->Buttons->button(QDialogButtonBox::Ok)->click();
        });
        form->NBus->trigger();
        QVERIFY(shown);
        QCOMPARE(form->MoreBuses.size(), 2u);
        QVERIFY(form->N3->isChecked());
        const int kernelSlot = form->sensorSlots().AddItem(10, 10, QStringLiteral("Под полом"), Sensors[6].sn, true, 0, false,
                                                           DefaultTrayBackground, DefaultTrayText, 255, CreateClearSign());
        form->sensorSlots().DSItems[static_cast<std::size_t>(kernelSlot)].Bus = 3;
        form->Nabl();
        QTRY_COMPARE_WITH_TIMEOUT(caption(*form, kernelSlot), Sensors[6].caption, 10000);
        switchObservation(*form, false);
        QTRY_VERIFY(form->busIdle());
        form.reset();

        // Saved and read back as it was left.
        form = makeFormFromFile();
        QCOMPARE(form->MoreBuses.size(), 2u);
        QCOMPARE(form->MoreBuses[1].Kind, QStringLiteral("kernel"));
        QCOMPARE(form->buses().name(3), QStringLiteral("Малина"));
        QCOMPARE(form->sensorSlots().DSItems[static_cast<std::size_t>(kernelSlot)].Bus, 3);
        form.reset();
        QFile saved(ini);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        const QByteArray written = saved.readAll();
        const QByteArray bus3 = written.mid(written.indexOf("[Bus3]"));
        QVERIFY2(bus3.startsWith("[Bus3]") && bus3.contains("Kind=kernel"), bus3.constData());
        QVERIFY2(written.contains("ItemBus4=3"), written.mid(written.indexOf("ItemBus")).constData());
        QVERIFY(!written.contains("ItemBus0="));
    }

    // Every command at the conversion waits of the buses' parts (the real 750 ms): the search
    // takes each bus once its part has run out, observation off and on again restarts the
    // parts without two on one bus, "Сведения…" waits for its sensor's bus only.
    void commandsAtEveryWait()
    {
        auto form = makeForm(true);
        addSensors(*form);
        form->Timer1->setInterval(100);
        // The search, while the parts wait.
        switchObservation(*form, true);
        QTest::qWait(300);
        QVERIFY(!form->busIdle());
        m_boxes.messages.clear();
        form->N5->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(m_boxes.messages.size(), 1, 20000);
        QCOMPARE(m_boxes.messages.front(), QStringLiteral("Найдено датчиков: 6, из них новых: 0"));
        QTRY_VERIFY_WITH_TIMEOUT(form->busIdle(), 20000);
        QVERIFY(!form->N3->isChecked());
        // (A part cut short by a switch-off reads the rest on the closed port, as one bus does:
        // those failures are logged.)

        // Off and on again while the parts wait: the old parts end, the new ones read.
        switchObservation(*form, true);
        QTest::qWait(300);
        switchObservation(*form, false);
        switchObservation(*form, true);
        form->Memo1->clear();
        m_lines[1]->bus.setTemperature(Sensors[2].sn, 41.0);
        QTRY_COMPARE_WITH_TIMEOUT(caption(*form, 2), QStringLiteral("41"), 20000);

        // "Сведения…" of a kernel sensor while the serial buses wait: its own bus answers.
        form->sensorSlots().SelectedItem = 6;
        form->NInfo->trigger();
        SensorInfoWindow *window = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT((window = form->findChild<SensorInfoWindow *>()) != nullptr
                                     && window->text().contains(QStringLiteral("драйвер не даёт слотов шины")),
                                 20000);
        // Only the silent line's sensors failed: no part read across a closed and reopened port.
        for (const QString &line : logMessages(*form).filter(QStringLiteral("не отвечает")))
            QVERIFY2(line.endsWith(QStringLiteral(": 4 : -999")) || line.endsWith(QStringLiteral(": 5 : -999")), qPrintable(line));
        switchObservation(*form, false);
        QTRY_VERIFY_WITH_TIMEOUT(form->busIdle(), 20000);
    }

    // A bus still at its part when a tick comes sits it out with a gap: every line keeps one
    // point a cycle, so a slow bus's lines and a fast one's span the same x.
    void slowBusGetsGapsNotLag()
    {
        auto form = makeForm(true);
        addSensors(*form);
        form->Timer1->setInterval(100);
        switchObservation(*form, true);
        QTest::qWait(2500);
        switchObservation(*form, false);
        QTRY_VERIFY_WITH_TIMEOUT(form->busIdle(), 20000);
        const TDSItem &slow = form->sensorSlots().DSItems[0];
        const TDSItem &fast = form->sensorSlots().DSItems[6];
        QVERIFY(slow.Series && fast.Series);
        const auto &slowData = *slow.Series->data();
        const auto &fastData = *fast.Series->data();
        QCOMPARE(slowData.size(), fastData.size());
        QCOMPARE((slowData.constEnd() - 1)->key, (fastData.constEnd() - 1)->key);
        int slowValues = 0;
        int fastValues = 0;
        for (auto it = slowData.constBegin(); it != slowData.constEnd(); ++it)
            slowValues += std::isnan(it->value) ? 0 : 1;
        for (auto it = fastData.constBegin(); it != fastData.constEnd(); ++it)
            fastValues += std::isnan(it->value) ? 0 : 1;
        // The kernel's bus reads at every tick, the serial one (1.5 s a part) far less often.
        QVERIFY2(fastValues > slowValues && slowValues >= 1, qPrintable(QStringLiteral("%1 %2").arg(fastValues).arg(slowValues)));
    }

    // A bus whose port cannot be opened when observation starts is said once and tried at each
    // of its parts without a word more (no recall, no adapter check on a port it does not have).
    void busThatCannotOpenIsTriedQuietly()
    {
        QVERIFY(QFile::link(m_dir->filePath(QStringLiteral("gone")), m_dir->filePath(QStringLiteral("COM9"))));
        auto form = makeForm();
        BusConfig adapter;
        adapter.Kind = QStringLiteral("ds2480b");
        adapter.COMPort = 9;
        adapter.Name = QStringLiteral("Гараж");
        form->MoreBuses = {adapter};
        for (int bus : {1, 2}) {
            const int slot = form->sensorSlots().AddItem(10, 10 + bus * 40, QStringLiteral("Д%1").arg(bus), Sensors[bus - 1].sn,
                                                         true, 0, false, DefaultTrayBackground, DefaultTrayText, 255,
                                                         CreateClearSign());
            form->sensorSlots().DSItems[static_cast<std::size_t>(slot)].Bus = bus;
        }
        form->Memo1->clear();
        form->Timer1->setInterval(100);
        switchObservation(*form, true);
        QTRY_COMPARE_WITH_TIMEOUT(snsValue(*form, Sensors[1].sn), QStringLiteral("err"), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(caption(*form, 0), Sensors[0].caption, 10000);
        QTest::qWait(500);
        const QStringList lines = logMessages(*form);
        QCOMPARE(lines.size(), 2);
        QVERIFY2(lines[0].startsWith(QStringLiteral("Шина «Гараж»: порт: COM9 занят: ")), qPrintable(lines[0]));
        QCOMPARE(lines[1], QStringLiteral("Отслеживание датчиков включено."));
        switchObservation(*form, false);
        QTRY_VERIFY_WITH_TIMEOUT(form->busIdle(), 20000);
    }

    // A server that is down is its bus's outage, said once with the bus's name; the serial bus
    // beside it reads on.
    void deadServerIsItsBusOnly()
    {
        QTcpServer gone;
        QVERIFY(gone.listen(QHostAddress::LocalHost));
        const quint16 port = gone.serverPort();
        gone.close();
        auto form = makeForm();
        BusConfig server;
        server.Kind = QStringLiteral("owserver");
        server.OwServer = {QStringLiteral("127.0.0.1"), port, QString()};
        server.Name = QStringLiteral("Сарай");
        form->MoreBuses = {server};
        const Sensor &live = Sensors[0];
        for (int bus : {1, 2}) {
            const int slot = form->sensorSlots().AddItem(10, 10 + bus * 40, QStringLiteral("Д%1").arg(bus),
                                                         bus == 1 ? live.sn : Sensors[6].sn, true, 0, false,
                                                         DefaultTrayBackground, DefaultTrayText, 255, CreateClearSign());
            form->sensorSlots().DSItems[static_cast<std::size_t>(slot)].Bus = bus;
        }
        form->Timer1->setInterval(200);
        switchObservation(*form, true);
        QTRY_COMPARE_WITH_TIMEOUT(snsValue(*form, Sensors[6].sn), QStringLiteral("err"), 15000);
        QTRY_COMPARE_WITH_TIMEOUT(caption(*form, 0), live.caption, 10000);
        m_lines[0]->bus.setTemperature(live.sn, 30.0);
        QTRY_COMPARE_WITH_TIMEOUT(caption(*form, 0), QStringLiteral("30"), 10000);
        const QString down = QStringLiteral("Шина «Сарай»: owserver 127.0.0.1:%1 не отвечает: ").arg(port);
        QCOMPARE(logMessages(*form).filter(down).size(), 1);
        switchObservation(*form, false);
        QTRY_VERIFY_WITH_TIMEOUT(form->busIdle(), 20000);
    }
};

QTEST_MAIN(TestManyBuses)
#include "tst_manybuses.moc"
