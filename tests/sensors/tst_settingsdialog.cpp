#include "base/Formats.h"
#include "base/KalvexError.h"
#include "sensors/SettingsTarget.h"
#include "sensors/ui/BusDialog.h"
#include "sensors/ui/TForm3.h"
#include "support/FakeDialogBoxes.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>

namespace {

// The running program as the dialog sees it; every change is journalled in order.
class FakeTarget final : public SettingsTarget
{
public:
    GeneralSettings settings;
    bool observation = false;
    bool httpStarts = true;
    bool backgroundFails = false;
    QStringList journal;

    GeneralSettings current() const override { return settings; }
    bool observationOn() const override { return observation; }
    void switchObservationOff() override
    {
        observation = false;
        journal << "observation off";
    }
    void setCOMPort(int port) override { journal << QStringLiteral("port %1").arg(port); }
    void setStartFlags(bool a, bool s, bool w) override { journal << QStringLiteral("flags %1%2%3").arg(a).arg(s).arg(w); }
    void setPollInterval(int ms) override { journal << QStringLiteral("interval %1").arg(ms); }
    void changeBackground(const QString &name) override
    {
        journal << "background " + name;
        if (backgroundFails)
            throw KalvexError("bad picture");
    }
    void SetAutoStart() override { journal << "autostart"; }
    void setCharMaxCount(int count) override { journal << QStringLiteral("divisions %1").arg(count); }
    void ResetChart() override { journal << "reset chart"; }
    void setChartBounds(bool a, int min, int max) override
    {
        journal << QStringLiteral("bounds %1 %2 %3").arg(a).arg(min).arg(max);
    }
    void setLeftAxis(int min, int max) override { journal << QStringLiteral("axis %1 %2").arg(min).arg(max); }
    bool moveHttpServer(int port, QString &reason) override
    {
        journal << QStringLiteral("http %1").arg(port);
        reason = QStringLiteral("HTTP Порт %1 занят.").arg(port);
        return httpStarts;
    }
    void httpNotStarted(const QString &reason) override { journal << "http not started: " + reason; }
};

struct Fixture
{
    FakeTarget target;
    FakeDialogBoxes boxes;
    TForm3 form{target, boxes};

    Fixture()
    {
        target.settings.CharMinMaxAuto = false;
    }
    void open()
    {
        form.LoadSettings();
        form.show();
        QApplication::setActiveWindow(&form);
        QVERIFY(QTest::qWaitForWindowActive(&form));
    }
    void type(QLineEdit *field, const QString &text)
    {
        form.PageControl1->setCurrentWidget(form.TabSheet1->isAncestorOf(field) ? form.TabSheet1 : form.TabSheet2);
        field->setFocus(Qt::TabFocusReason);
        field->clear();
        QTest::keyClicks(field, text);
    }
    void ok() { QTest::mouseClick(form.BOk, Qt::LeftButton); }
};

// The cells of one row of the bus list.
QStringList busRow(const BusDialog &dialog, int row)
{
    QStringList cells;
    for (int column = 0; column < dialog.TBuses->columnCount(); ++column)
        cells << dialog.TBuses->item(row, column)->text();
    return cells;
}

BusConfig bus(const QString &kind, const QString &name = {}, int port = 1)
{
    BusConfig b;
    b.Kind = kind;
    b.Name = name;
    b.COMPort = port;
    return b;
}

const QStringList unchanged{"port 1", "flags 000", "interval 10000", "autostart", "divisions 10", "bounds 0 -10 10",
                            "axis -10 10"};

} // namespace

// The settings dialog as a user drives it: typed keys, OK, Cancel and Esc.
class TestSettingsDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { Formats::setCurrent(Formats::russian()); }

    void showsTheSettings()
    {
        Fixture f;
        f.target.settings = {3, 2500, 8080, "/srv/plan.jpg", true, false, true, true, 25.5, -10, 50};
        f.open();
        QCOMPARE(f.form.windowTitle(), QStringLiteral("Настройки"));
        QCOMPARE(f.form.size(), QSize(351, 231));
        QCOMPARE(f.form.EComPort->text(), QStringLiteral("3"));
        QCOMPARE(f.form.EInterval->text(), QStringLiteral("2")); // a half goes to the even second
        QCOMPARE(f.form.EHTTPPort->text(), QStringLiteral("8080"));
        QCOMPARE(f.form.EChar1MaxY->text(), QStringLiteral("25,5"));
        QVERIFY(f.form.CAutoNab->isChecked() && !f.form.CStartMin->isChecked() && f.form.CWinStartRun->isChecked());
        QCOMPARE(f.form.CWinStartRun->text(), QStringLiteral("Запускать при загрузке Windows"));
        QVERIFY(!f.form.EChar1MaxY->isEnabled() && !f.form.LMinY->isEnabled());
        QTest::mouseClick(f.form.cChar1MinMaxAuto, Qt::LeftButton);
        QVERIFY(f.form.EChar1MaxY->isEnabled() && f.form.LMinY->isEnabled());
    }

    void refusedEntries_data()
    {
        QTest::addColumn<QString>("interval");
        QTest::addColumn<QString>("maximum");
        QTest::addColumn<QString>("minimum");
        QTest::addColumn<QString>("divisions");
        QTest::addColumn<QString>("message");
        const QString interval = "Интервал обновления не может быть меньше 1 секунды.";
        const QString bounds = "Минимальное значение шкалы не может быть больше или равно максимального.";
        const QString divisions = "Количество делений шкалы не может быть меньше 3.";
        QTest::newRow("interval empty") << "" << "10" << "-10" << "10" << interval;
        QTest::newRow("interval 0") << "0" << "10" << "-10" << "10" << interval;
        QTest::newRow("interval 00") << "00" << "10" << "-10" << "10" << interval;
        QTest::newRow("interval beyond the timer") << "2147484" << "10" << "-10" << "10"
                                                   << "Интервал обновления не может быть больше 2147483 секунд.";
        QTest::newRow("equal bounds") << "10" << "10" << "10" << "10" << bounds;
        QTest::newRow("both bounds empty") << "10" << "" << "" << "10" << bounds;
        QTest::newRow("interval before bounds") << "0" << "" << "" << "2" << interval;
        QTest::newRow("divisions 2") << "10" << "10" << "-10" << "2" << divisions;
        QTest::newRow("divisions beyond memory") << "10" << "10" << "-10" << "1000001"
                                                 << "Количество делений шкалы не может быть больше 1000000.";
    }
    void refusedEntries()
    {
        QFETCH(QString, interval);
        QFETCH(QString, maximum);
        QFETCH(QString, minimum);
        QFETCH(QString, divisions);
        QFETCH(QString, message);
        Fixture f;
        f.open();
        f.type(f.form.EInterval, interval);
        f.type(f.form.EChar1MaxY, maximum);
        f.type(f.form.EChar1MinY, minimum);
        f.type(f.form.EChar1MaxCount, divisions);
        f.ok();
        QCOMPARE(f.boxes.messages, QStringList{message});
        QVERIFY(f.form.isVisible());
        QVERIFY(f.target.journal.isEmpty());
    }

    void acceptedBoundsAndDivisions()
    {
        Fixture f;
        f.open();
        f.type(f.form.EChar1MaxY, "10");
        f.type(f.form.EChar1MinY, "-10");
        f.type(f.form.EChar1MaxCount, "3");
        f.ok();
        QVERIFY(f.boxes.messages.isEmpty());
        QVERIFY(!f.form.isVisible());
        QVERIFY(f.target.journal.contains("divisions 3"));
        QVERIFY(f.target.journal.contains("reset chart"));
    }

    void typing_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("left");
        QTest::newRow("second minus dropped") << "EChar1MaxY" << "-5-" << "-5" << "-5";
        QTest::newRow("minus after a digit") << "EChar1MinY" << "5-" << "5-" << "0";
        QTest::newRow("no comma in a bound") << "EChar1MaxY" << "2,5" << "25" << "25";
        QTest::newRow("digits only") << "EInterval" << "1a-2" << "12" << "12";
        QTest::newRow("empty port") << "EComPort" << "" << "" << "0";
        QTest::newRow("leading zeros") << "EHTTPPort" << "0080" << "0080" << "80";
    }
    void typing()
    {
        QFETCH(QString, field);
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        QFETCH(QString, left);
        Fixture f;
        f.open();
        auto *edit = f.form.findChild<QLineEdit *>(field);
        f.type(edit, typed);
        QCOMPARE(edit->text(), shown);
        // Into another field of the same tab.
        QLineEdit *other = f.form.TabSheet1->isAncestorOf(edit)
                               ? (edit == f.form.EComPort ? f.form.EInterval : f.form.EComPort)
                               : f.form.EChar1MaxCount;
        other->setFocus(Qt::TabFocusReason);
        QCOMPARE(edit->text(), left);
    }

    void fractionalBoundCountsAsZero()
    {
        Fixture f;
        f.target.settings.CharMaxY = 25.5;
        f.open();
        QCOMPARE(f.form.EChar1MaxY->text(), QStringLiteral("25,5"));
        f.ok();
        QVERIFY(f.target.journal.contains("bounds 0 -10 0"));
        QVERIFY(f.target.journal.contains("axis -10 0"));
    }

    void okWithoutChangeStillSetsAutostartAndAxis()
    {
        Fixture f;
        f.open();
        f.ok();
        QCOMPARE(f.target.journal, unchanged);
        QCOMPARE(f.form.result(), int(QDialog::Accepted));
    }

    void stepsInTheirOrder()
    {
        Fixture f;
        f.target.observation = true;
        f.open();
        f.type(f.form.EComPort, "4");
        f.type(f.form.EInterval, "5");
        f.type(f.form.EHTTPPort, "8080");
        f.type(f.form.EBkFileName, "plan.bmp");
        QTest::mouseClick(f.form.CStartMin, Qt::LeftButton);
        f.type(f.form.EChar1MaxCount, "20");
        f.ok();
        QCOMPARE(f.target.journal,
                 (QStringList{"observation off", "port 4", "flags 010", "interval 5000", "background plan.bmp",
                              "autostart", "divisions 20", "reset chart", "bounds 0 -10 10", "axis -10 10",
                              "http 8080"}));
        QVERIFY(!f.form.isVisible());
    }

    void portChangeWithObservationOffLeavesItOff()
    {
        Fixture f;
        f.open();
        f.type(f.form.EComPort, "4");
        f.ok();
        QVERIFY(!f.target.journal.contains("observation off"));
        QVERIFY(!f.target.observation);
    }

    void failedWebServerRestartIsReported()
    {
        Fixture f;
        f.target.httpStarts = false;
        f.open();
        f.type(f.form.EHTTPPort, "81");
        f.ok();
        QCOMPARE(f.target.journal.mid(f.target.journal.size() - 2),
                 (QStringList{"http 81", "http not started: HTTP Порт 81 занят."}));
        QVERIFY(!f.form.isVisible());
    }

    void unreadableBackgroundStopsTheLaterSteps()
    {
        Fixture f;
        f.target.backgroundFails = true;
        f.open();
        f.type(f.form.EBkFileName, "broken.jpg");
        f.ok();
        QCOMPARE(f.boxes.errors, QStringList{"bad picture"});
        QCOMPARE(f.target.journal.last(), QStringLiteral("background broken.jpg"));
        QVERIFY(f.form.isVisible());
    }

    void escAndCancelApplyNothing()
    {
        Fixture f;
        f.open();
        f.type(f.form.EComPort, "7");
        QTest::keyClick(f.form.EComPort, Qt::Key_Escape);
        QVERIFY(!f.form.isVisible());
        f.open();
        QCOMPARE(f.form.EComPort->text(), QStringLiteral("1"));
        QTest::mouseClick(f.form.BCancel, Qt::LeftButton);
        QVERIFY(!f.form.isVisible());
        QVERIFY(f.target.journal.isEmpty());
    }

    void backgroundChooser()
    {
        Fixture f;
        f.target.settings.bkFileName = "/home/u/pics/bk.jpg";
        f.open();
        f.boxes.fileAnswers.enqueue("/home/u/pics/house.bmp");
        QTest::mouseClick(f.form.SpeedButton2, Qt::LeftButton);
        QCOMPARE(f.boxes.fileTitles, QStringList{"Выбор фона"});
        QCOMPARE(f.boxes.fileDirectories, QStringList{"/home/u/pics/"});
        QCOMPARE(f.boxes.fileFilters, QStringList{"*.jpg, *.bmp (*.jpg *.bmp)"});
        QCOMPARE(f.form.EBkFileName->text(), QStringLiteral("/home/u/pics/house.bmp"));
        QTest::mouseClick(f.form.SpeedButton2, Qt::LeftButton);
        QCOMPARE(f.form.EBkFileName->text(), QStringLiteral("/home/u/pics/house.bmp"));
    }

    // The buses dialog: the list and the editor of the selected bus.
    void addRenameAndChangeKind()
    {
        FakeDialogBoxes boxes;
        BusDialog dialog(boxes);
        // Bus 1 on a port the box cannot show: kept while nobody picks another.
        dialog.setBuses({bus("serial", {}, 0), bus("kernel", "Дача")}, {2, 0});
        QCOMPARE(dialog.TBuses->rowCount(), 2);
        QCOMPARE(busRow(dialog, 0), (QStringList{"1", "Шина 1", "Последовательный порт", "COM0"}));
        QCOMPARE(busRow(dialog, 1), (QStringList{"2", "Дача", "Драйвер ядра", "/sys/bus/w1/devices"}));
        QVERIFY(!dialog.CActive->isEnabled());
        QVERIFY(dialog.CActive->isChecked());
        QVERIFY(!dialog.BRemove->isEnabled());
        QVERIFY(dialog.SComPort->isEnabled());

        dialog.TBuses->setCurrentCell(1, 0);
        QVERIFY(dialog.RKernel->isChecked());
        QCOMPARE(dialog.EName->text(), QStringLiteral("Дача"));
        QVERIFY(!dialog.SComPort->isEnabled());
        QVERIFY(dialog.CActive->isEnabled());
        QVERIFY(dialog.BRemove->isEnabled());
        dialog.CActive->click();

        dialog.BAdd->click();
        QCOMPARE(dialog.TBuses->currentRow(), 2);
        QCOMPARE(dialog.EName->placeholderText(), QStringLiteral("Шина 3"));
        QVERIFY(dialog.RSerial->isChecked());
        dialog.EName->setText(QStringLiteral("Сарай"));
        dialog.RDs2480b->click();
        dialog.SComPort->setValue(4);
        QCOMPARE(busRow(dialog, 2), (QStringList{"3", "Сарай", "Адаптер DS2480B", "COM4"}));
        dialog.ROwServer->click();
        dialog.EOwHost->setText(QStringLiteral("dacha.lan"));
        QCOMPARE(busRow(dialog, 2), (QStringList{"3", "Сарай", "Сервер owserver", "dacha.lan:4304"}));
        QCOMPARE(busRow(dialog, 1), (QStringList{"2", "Дача", "Драйвер ядра (выключена)", "/sys/bus/w1/devices"}));

        BusConfig off = bus("kernel", "Дача");
        off.Active = false;
        BusConfig shed = bus("owserver", "Сарай", 4);
        shed.OwServer.Host = QStringLiteral("dacha.lan");
        QCOMPARE(dialog.buses(), (std::vector<BusConfig>{bus("serial", {}, 0), off, shed}));
        QCOMPARE(dialog.busRenumbering(), (std::vector<int>{0, 1, 2}));
        QVERIFY(boxes.questions.isEmpty());
    }

    // Removing bus 2 of three: with sensors on it only after a yes; bus 3 becomes bus 2.
    void removeBus_data()
    {
        QTest::addColumn<int>("sensors");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<bool>("removed");
        QTest::newRow("no sensors: no question") << 0 << false << true;
        QTest::newRow("sensors, yes") << 3 << true << true;
        QTest::newRow("sensors, no") << 3 << false << false;
    }
    void removeBus()
    {
        QFETCH(int, sensors);
        QFETCH(bool, answer);
        QFETCH(bool, removed);
        FakeDialogBoxes boxes;
        boxes.confirmAnswers.enqueue(answer);
        BusDialog dialog(boxes);
        dialog.setBuses({bus("serial"), bus("kernel"), bus("serial", {}, 2)}, {1, sensors, 5});
        dialog.TBuses->setCurrentCell(1, 0);
        dialog.BRemove->click();
        QCOMPARE(boxes.questions,
                 sensors ? QStringList{"На шине «Шина 2» датчиков: 3. Удалить шину? Её датчики перейдут на шину 1."}
                         : QStringList{});
        QCOMPARE(dialog.TBuses->rowCount(), removed ? 2 : 3);
        QCOMPARE(dialog.busRenumbering(), removed ? (std::vector<int>{0, 1, 1, 2}) : (std::vector<int>{0, 1, 2, 3}));
        if (removed) {
            QCOMPARE(busRow(dialog, 1), (QStringList{"2", "Шина 2", "Последовательный порт", "COM2"}));
            QCOMPARE(dialog.buses(), (std::vector<BusConfig>{bus("serial"), bus("serial", {}, 2)}));
        }
        // Bus 1 stays, whatever is asked.
        dialog.TBuses->setCurrentCell(0, 0);
        dialog.removeBus();
        QCOMPARE(dialog.buses().size(), removed ? size_t(2) : size_t(3));
    }

    void atMostSixteenBuses()
    {
        FakeDialogBoxes boxes;
        BusDialog dialog(boxes);
        dialog.setBuses(std::vector<BusConfig>(MaxBuses - 1));
        QVERIFY(dialog.BAdd->isEnabled());
        dialog.BAdd->click();
        QCOMPARE(dialog.TBuses->rowCount(), MaxBuses);
        QVERIFY(!dialog.BAdd->isEnabled());
        dialog.addBus();
        QCOMPARE(dialog.buses().size(), size_t(MaxBuses));
        dialog.BRemove->click();
        QVERIFY(dialog.BAdd->isEnabled());
    }
};

QTEST_MAIN(TestSettingsDialog)
#include "tst_settingsdialog.moc"
