#include "base/Formats.h"
#include "base/StringGrid.h"
#include "monitor/SnsGrid.h"
#include "monitor/ui/LiveChart.h"
#include "sensors/ColorList.h"
#include "sensors/ui/ColorBox.h"
#include "sensors/ui/SensorSlots.h"
#include "sensors/ui/TForm2.h"
#include "support/FakeDialogBoxes.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>
#include <QScopeGuard>
#include <QLineEdit>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>

#include <memory>

namespace {

struct TrayCall
{
    QString what;
    int id;
    QString text;
    QString tip;
    TColor background;
    TColor foreground;
};

// The editor over a panel, a chart, the two grids and the sensor slots, as the main window
// holds them; tray calls are recorded.
struct Fixture
{
    QWidget panel;
    LiveChart chart;
    StringGrid Sns{3, 2};
    StringGrid SHour{26, 2};
    FakeDialogBoxes boxes;
    std::unique_ptr<SensorSlots> sensors;
    std::unique_ptr<TForm2> form;
    QList<TrayCall> tray;

    Fixture()
    {
        sns::prepare(Sns);
        sensors = std::make_unique<SensorSlots>(&panel, chart, Sns, SHour, boxes, [] { return 5; });
        sensors->TrayCreate = [this](int id, const QString &tip, TColor b, TColor t) {
            tray.append({"create", id, {}, tip, b, t});
        };
        sensors->TrayDelete = [this](int id) { tray.append({"delete", id, {}, {}, 0, 0}); };
        sensors->TrayModify = [this](int id, const QString &text, const QString &tip, TColor b, TColor t) {
            tray.append({"modify", id, text, tip, b, t});
        };
        form = std::make_unique<TForm2>(*sensors, boxes, [](int) { return 5; });
        form->setProgramFolder(QStringLiteral("/opt/kalvex/"));
    }

    // Slot 0: "Кухня", on, tray, correction -2.5, control 2 at or below 0.5 with its track on.
    int addKitchen(bool enable = true, bool trayIcon = true)
    {
        TSign sign = CreateClearSign();
        sign[1] = {true, false, 0.5, QStringLiteral("/snd/a.wav"), true, QStringLiteral("/bin/x"), false};
        const int i = sensors->AddItem(100, 80, "Кухня", "28FF0A1B2C3D4E5F", enable, -2.5, trayIcon, DefaultTrayBackground,
                                       DefaultTrayText, 255, sign);
        item(i).LastTemp = 21.4;
        item(i).TempLabel->setText("21,4");
        tray.clear();
        return i;
    }
    TDSItem &item(int i) { return sensors->DSItems[std::size_t(i)]; }

    // Opens the dialog for `index` as the commands do, without a nested event loop.
    void open(int index)
    {
        form->EditItem(index);
        form->show();
        QApplication::setActiveWindow(form.get());
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
    }
};

QLineEdit *editField(TForm2 &form, const QString &name)
{
    return form.findChild<QLineEdit *>(name);
}

} // namespace

// The sensor editor as a user drives it: typed keys, clicks, Enter and Esc.
class TestSensorEditor : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { Formats::setCurrent(Formats::russian()); }

    void okOnEmptyNewSensor()
    {
        Fixture f;
        f.open(-1);
        QCOMPARE(f.form->windowTitle(), QStringLiteral("Новый датчик"));
        QCOMPARE(f.form->size(), QSize(382, 401));
        QCOMPARE(QApplication::focusWidget(), f.form->Edit1);
        QTest::keyClick(f.form->Edit1, Qt::Key_Return);
        QVERIFY(!f.form->isVisible());
        QCOMPARE(f.form->result(), int(QDialog::Accepted));

        QVERIFY(f.sensors->inUse(0));
        const TDSItem &item = f.item(0);
        QCOMPARE(f.sensors->name(0), QString());
        QCOMPARE(item.SN, QString());
        QVERIFY(item.Enable);
        QCOMPARE(item.ImageCtl->pos(), QPoint(450, 450));
        QCOMPARE(item.CBFon, DefaultTrayBackground);
        QCOMPARE(item.CBText, DefaultTrayText);
        QCOMPARE(item.CBChart, StandardColors[5]);
        QVERIFY(!item.Tray);
        QVERIFY(f.tray.isEmpty());
        QCOMPARE(item.Correct, 0.0);
        QCOMPARE(item.Sign, CreateClearSign());
    }

    void colourListsHoldTheStandardColoursFirst()
    {
        Fixture f;
        const QList<NamedColor> entries = colorListEntries();
        QCOMPARE(f.form->CBChart->count(), entries.size());
        for (int i = 0; i < 16; ++i)
            QCOMPARE(f.form->CBFon->colorAt(i), StandardColors[std::size_t(i)]);
        QCOMPARE(f.form->CBFon->colorAt(16), MoneyGreen);
        QCOMPARE(f.form->CBFon->colorAt(19), MedGray);
        QVERIFY(entries.size() > 20);
        // A colour the list does not hold survives an edit.
        f.addKitchen();
        f.item(0).CBChart = 0x123456;
        f.open(0);
        QTest::keyClick(f.form->Edit1, Qt::Key_Enter);
        QCOMPARE(f.item(0).CBChart, TColor(0x123456));
    }

    // The list ends with the system's named colours: chosen by name, stored as the system
    // colour (negative in the file), painted with the palette's colour in the list, the
    // preview and the chart; a stored one comes back under its name.
    void systemColoursByName()
    {
        QPalette palette = QGuiApplication::palette();
        const QPalette original = palette;
        const auto restore = qScopeGuard([&] { QApplication::setPalette(original); });
        palette.setColor(QPalette::Active, QPalette::Button, QColor(10, 120, 30));
        palette.setColor(QPalette::Active, QPalette::ToolTipText, QColor(200, 20, 90));
        QApplication::setPalette(palette);
        Fixture f;
        const TColor buttonFace = 0xFF00000Fu;
        const TColor hintText = 0xFF000017u;
        QCOMPARE(static_cast<qint32>(buttonFace), -16777201);
        const int face = f.form->CBFon->findText(QStringLiteral("Кнопка"));
        QVERIFY(face >= 20);
        QCOMPARE(f.form->CBFon->colorAt(face), buttonFace);
        const QImage swatch = f.form->CBFon->itemIcon(face).pixmap(f.form->CBFon->iconSize()).toImage();
        QCOMPARE(swatch.pixelColor(swatch.rect().center()), QColor(10, 120, 30));

        f.addKitchen();
        f.open(0);
        for (ColorBox *box : {f.form->CBFon, f.form->CBChart})
            box->setCurrentIndex(box->findText(QStringLiteral("Кнопка")));
        f.form->CBText->setCurrentIndex(f.form->CBText->findText(QStringLiteral("Текст подсказки")));
        QCOMPARE(f.form->LDemo->palette().color(QPalette::Window), QColor(10, 120, 30));
        QCOMPARE(f.form->LDemo->palette().color(QPalette::WindowText), QColor(200, 20, 90));
        QTest::keyClick(f.form->Edit1, Qt::Key_Return);
        QCOMPARE(f.item(0).CBFon, buttonFace);
        QCOMPARE(f.item(0).CBText, hintText);
        QCOMPARE(f.item(0).CBChart, buttonFace);
        QCOMPARE(f.chart.lineColor(f.item(0).Series), QColor(10, 120, 30));

        const int entries = f.form->CBText->count();
        f.open(0);
        QCOMPARE(f.form->CBFon->currentText(), QStringLiteral("Кнопка"));
        QCOMPARE(f.form->CBText->currentText(), QStringLiteral("Текст подсказки"));
        QCOMPARE(f.form->CBText->count(), entries);
    }

    // Enter and Esc in a dropped-down colour list choose and close the list; the editor stays.
    void keysOfADroppedDownColourList_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("chosen");
        QTest::newRow("Enter") << int(Qt::Key_Return) << true;
        QTest::newRow("Esc") << int(Qt::Key_Escape) << false;
    }
    void keysOfADroppedDownColourList()
    {
        QFETCH(int, key);
        QFETCH(bool, chosen);
        Fixture f;
        f.open(-1);
        ColorBox *box = f.form->CBFon;
        const int before = box->currentIndex();
        box->setFocus();
        QTest::keyClick(box, Qt::Key_Down, Qt::AltModifier);
        QTRY_VERIFY(box->view()->isVisible());
        QWidget *list = QApplication::focusWidget();
        QVERIFY(list && list->window()->windowType() == Qt::Popup);
        QTest::keyClick(list, Qt::Key_Down);
        QTest::keyClick(list, Qt::Key(key));
        QTRY_VERIFY(!box->view()->isVisible());
        QVERIFY(f.form->isVisible());
        QCOMPARE(box->currentIndex(), chosen ? before + 1 : before);
        QVERIFY(!f.sensors->inUse(0));
        // The editor's own keys work again once the list is closed.
        QTest::keyClick(box, Qt::Key_Escape);
        QVERIFY(!f.form->isVisible());
    }

    void enterAndEscFromAnyTab_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("confirmed");
        for (const char *field : {"Edit1", "Edit3", "CBFon", "EValue3", "Emp3path4", "EAppPath1"}) {
            QTest::addRow("Enter in %s", field) << QString(field) << int(Qt::Key_Return) << true;
            QTest::addRow("Esc in %s", field) << QString(field) << int(Qt::Key_Escape) << false;
        }
    }
    void enterAndEscFromAnyTab()
    {
        QFETCH(QString, field);
        QFETCH(int, key);
        QFETCH(bool, confirmed);
        Fixture f;
        f.open(-1);
        auto *widget = f.form->findChild<QWidget *>(field);
        f.form->PageControl1->setCurrentWidget(f.form->TabSheet1->isAncestorOf(widget) ? f.form->TabSheet1
                                                                                        : f.form->TabSheet2);
        widget->setFocus();
        QTest::keyClick(widget, Qt::Key(key));
        QVERIFY(!f.form->isVisible());
        QCOMPARE(f.sensors->inUse(0), confirmed);
    }

    void numberFieldTyping_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("left");
        QTest::newRow("point shows as comma") << "Edit3" << "1.50" << "1,50" << "1,5";
        QTest::newRow("second comma refused") << "Edit3" << "1,2,3" << "1,23" << "1,23";
        QTest::newRow("second minus refused") << "Edit3" << "-1-2" << "-12" << "-12";
        QTest::newRow("letters and blanks refused") << "Edit3" << "a1 b+e" << "1" << "1";
        QTest::newRow("empty becomes 0") << "Edit3" << "" << "" << "0";
        QTest::newRow("misplaced minus becomes 0") << "Edit3" << "5-" << "5-" << "0";
        QTest::newRow("leading comma") << "Edit3" << ",5" << ",5" << "0,5";
        QTest::newRow("-9,5 fits a threshold") << "EValue1" << "-9.5" << "-9,5" << "-9,5";
        QTest::newRow("-12,5 does not") << "EValue4" << "-12.5" << "-12," << "-12";
    }
    void numberFieldTyping()
    {
        QFETCH(QString, field);
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        QFETCH(QString, left);
        Fixture f;
        f.open(-1);
        QLineEdit *edit = editField(*f.form, field);
        f.form->PageControl1->setCurrentWidget(f.form->TabSheet1->isAncestorOf(edit) ? f.form->TabSheet1
                                                                                      : f.form->TabSheet2);
        edit->setFocus();
        edit->clear();
        QTest::keyClicks(edit, typed);
        QCOMPARE(edit->text(), shown);
        // Into another field of the same tab.
        (edit == f.form->Edit3 ? f.form->Edit1 : f.form->Emp3path[0])->setFocus(Qt::TabFocusReason);
        QCOMPARE(edit->text(), left);
    }

    // The buttons take no focus, so OK reads a field that was never left. Every number is
    // converted before anything is applied: the error shows and nothing changes.
    void unconvertibleFieldAtOk_data()
    {
        QTest::addColumn<bool>("existing");
        QTest::addColumn<QString>("field");
        QTest::newRow("new sensor, correction") << false << "Edit3";
        QTest::newRow("existing sensor, correction") << true << "Edit3";
        QTest::newRow("existing sensor, threshold 2") << true << "EValue2";
    }
    void unconvertibleFieldAtOk()
    {
        QFETCH(bool, existing);
        QFETCH(QString, field);
        Fixture f;
        if (existing)
            f.addKitchen();
        f.open(existing ? 0 : -1);
        QTest::keyClicks(f.form->Edit1, "Garage");
        QTest::mouseClick(f.form->BOnOff, Qt::LeftButton);
        QLineEdit *edit = editField(*f.form, field);
        f.form->PageControl1->setCurrentWidget(f.form->TabSheet1->isAncestorOf(edit) ? f.form->TabSheet1
                                                                                      : f.form->TabSheet2);
        edit->setFocus();
        edit->clear();
        QTest::keyClick(edit, '-');
        QTest::mouseClick(f.form->BOk, Qt::LeftButton);

        QCOMPARE(QApplication::focusWidget(), edit);
        QCOMPARE(f.boxes.errors, QStringList{"'-' не является допустимым числом с плавающей точкой"});
        QVERIFY(f.form->isVisible());
        if (!existing) {
            QVERIFY(f.sensors->DSItems.empty());
            return;
        }
        QCOMPARE(f.sensors->name(0), QStringLiteral("Кухня"));
        QVERIFY(f.item(0).Enable);
        QCOMPARE(f.item(0).Correct, -2.5);
        QVERIFY(f.tray.isEmpty());
    }

    void existingSensorShownAndKeptUnchanged()
    {
        Fixture f;
        f.addKitchen(false, true);
        const TSign before = f.item(0).Sign;
        f.open(0);
        QCOMPARE(f.form->windowTitle(), QStringLiteral("Редактирование датчика"));
        QCOMPARE(f.form->Edit3->text(), QStringLiteral("-2,5"));
        QCOMPARE(f.form->EValue[1]->text(), QStringLiteral("0,5"));
        QCOMPARE(f.form->Sbm[1]->property("tag").toInt(), 0);
        QCOMPARE(f.form->Sbm[1]->icon().pixmap(16).toImage(), f.form->imgMen->pixmap().toImage());
        QCOMPARE(f.form->Sbm[0]->property("tag").toInt(), 1);
        QVERIFY(f.form->BOnOff->isChecked());
        QVERIFY(f.form->BTray->isChecked());

        QTest::keyClick(f.form->Edit1, Qt::Key_Return);
        QVERIFY(!f.item(0).Enable);
        QVERIFY(f.item(0).Tray);
        QCOMPARE(f.item(0).Sign, before);
        QCOMPARE(f.item(0).Correct, -2.5);
        QCOMPARE(f.item(0).TempLabel->text(), QString());
        QCOMPARE(f.item(0).LastTemp, 0.0);
        QCOMPARE(qobject_cast<QLabel *>(f.item(0).ImageCtl.data())->pixmap().toImage(),
                 f.sensors->offPicture().toImage());
        QCOMPARE(f.tray.size(), 1);
        QCOMPARE(f.tray[0].what, QStringLiteral("modify"));
        QCOMPARE(f.tray[0].text, QStringLiteral("21"));
        QCOMPARE(f.tray[0].tip, QStringLiteral("Кухня 21,4°"));
    }

    // The bus choice: below the buttons only with more than one bus; a new sensor takes the
    // chosen bus, an existing one shows its own and moves with the choice, and keeps a bus the
    // list does not hold.
    void busChoice_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<int>("bus");      // the existing sensor's bus; 0: a new sensor
        QTest::addColumn<int>("shown");    // the choice the editor opens with
        QTest::addColumn<int>("choose");   // -1: left as shown
        QTest::addColumn<int>("expected"); // the sensor's bus after OK
        const QStringList one{"Шина 1"};
        const QStringList three{"Шина 1", "Дача", "Шина 3"};
        QTest::newRow("one bus, new sensor") << one << 0 << 0 << -1 << 1;
        QTest::newRow("new sensor on bus 2") << three << 0 << 0 << 1 << 2;
        QTest::newRow("existing sensor moved to bus 1") << three << 3 << 2 << 0 << 1;
        QTest::newRow("existing sensor stays") << three << 2 << 1 << -1 << 2;
        QTest::newRow("bus not in the list kept") << one << 3 << -1 << -1 << 3;
    }
    void busChoice()
    {
        QFETCH(QStringList, names);
        QFETCH(int, bus);
        QFETCH(int, shown);
        QFETCH(int, choose);
        QFETCH(int, expected);
        Fixture f;
        int index = -1;
        if (bus > 0) {
            index = f.addKitchen();
            f.item(index).Bus = bus;
        }
        f.form->setBusNames(names);
        f.open(index);
        const bool many = names.size() > 1;
        QCOMPARE(f.form->CBBus->isVisible(), many);
        QCOMPARE(f.form->LBus->text(), QStringLiteral("Шина:"));
        QCOMPARE(f.form->size(), QSize(382, many ? 433 : 401));
        QCOMPARE(f.form->BOk->geometry(), QRect(307, 4, 34, 34));
        QCOMPARE(f.form->CBBus->currentIndex(), shown);
        if (choose >= 0)
            f.form->CBBus->setCurrentIndex(choose);
        QTest::keyClick(f.form->Edit1, Qt::Key_Return);
        QVERIFY(!f.form->isVisible());
        QCOMPARE(f.item(bus > 0 ? index : 0).Bus, expected);
    }

    void trayFollowsTheEditor_data()
    {
        QTest::addColumn<bool>("hadIcon");
        QTest::addColumn<bool>("pressTray");
        QTest::addColumn<QStringList>("calls");
        QTest::newRow("recoloured") << true << false << QStringList{"modify 1"};
        QTest::newRow("switched on") << false << true << QStringList{"create 1", "modify 1"};
        QTest::newRow("switched off") << true << true << QStringList{"delete 1"};
    }
    void trayFollowsTheEditor()
    {
        QFETCH(bool, hadIcon);
        QFETCH(bool, pressTray);
        QFETCH(QStringList, calls);
        Fixture f;
        f.addKitchen(true, hadIcon);
        f.open(0);
        if (pressTray)
            QTest::mouseClick(f.form->BTray, Qt::LeftButton);
        f.form->CBFon->setSelected(StandardColors[9]);
        f.form->CBText->setSelected(StandardColors[0]);
        QCOMPARE(f.form->LDemo->palette().color(QPalette::Window), QColor(255, 0, 0));
        QCOMPARE(f.form->LDemo->palette().color(QPalette::WindowText), QColor(0, 0, 0));
        QTest::mouseClick(f.form->BOk, Qt::LeftButton);
        QStringList seen;
        for (const TrayCall &call : f.tray) {
            seen << call.what + ' ' + QString::number(call.id);
            if (call.what != "delete")
                QCOMPARE((QPair<TColor, TColor>(call.background, call.foreground)),
                         (QPair<TColor, TColor>(StandardColors[9], StandardColors[0])));
        }
        QCOMPARE(seen, calls);
    }

    void serialChangeRewritesBothGrids()
    {
        Fixture f;
        f.addKitchen();
        AddToSns(f.Sns, "Кухня", "28FF0A1B2C3D4E5F", "21,4", "0");
        f.SHour.setCell(0, 1, "Кухня");
        f.SHour.setCell(25, 1, "28FF0A1B2C3D4E5F");
        f.open(0);
        f.form->Edit2->selectAll();
        QTest::keyClicks(f.form->Edit2, "10AA000801020304");
        f.form->CBChart->setSelected(StandardColors[12]);
        QTest::keyClick(f.form->Edit2, Qt::Key_Return);

        QCOMPARE(f.Sns.Cells(0, 1), QStringLiteral("Кухня"));
        QCOMPARE(f.Sns.Cells(2, 1), QStringLiteral("10AA000801020304"));
        QCOMPARE(f.SHour.Cells(25, 1), QStringLiteral("10AA000801020304"));
        QCOMPARE(f.item(0).SN, QStringLiteral("10AA000801020304"));
        QCOMPARE(f.item(0).ImageCtl->toolTip(), QStringLiteral("28FF0A1B2C3D4E5F"));
        QCOMPARE(f.chart.lineColor(f.item(0).Series), QColor(0, 0, 255));
    }

    void deleteAnsweredNoClosesAndKeepsTheSensor()
    {
        Fixture f;
        f.addKitchen();
        f.open(0);
        QTest::mouseClick(f.form->BDelete, Qt::LeftButton);
        QCOMPARE(f.boxes.questions, QStringList{"Удалить датчик?"});
        QVERIFY(!f.form->isVisible());
        QVERIFY(f.sensors->inUse(0));
        QVERIFY(f.tray.isEmpty());
    }

    void tabAndTogglesKeptForTheNextNewSensor()
    {
        Fixture f;
        f.addKitchen();
        f.open(0);
        QVERIFY(f.form->Smp3Enable[1]->isChecked());
        QTest::mouseClick(f.form->SAppEnable[3], Qt::LeftButton);
        f.form->PageControl1->setCurrentWidget(f.form->TabSheet2);
        QTest::keyClick(f.form->EValue[0], Qt::Key_Escape);

        f.open(-1);
        QCOMPARE(f.form->PageControl1->currentWidget(), f.form->TabSheet2);
        QVERIFY(f.form->Smp3Enable[1]->isChecked());
        QVERIFY(f.form->SAppEnable[3]->isChecked());
        QVERIFY(!f.form->SEnable[1]->isChecked());
        QCOMPARE(f.form->Sbm[1]->property("tag").toInt(), 1);
        QCOMPARE(f.form->Emp3path[1]->text(), QStringLiteral("warn"));
    }

    void browseButtons_data()
    {
        QTest::addColumn<int>("button");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("filter");
        QTest::newRow("track") << 1 << "/home/u/sounds/bell.wav" << "/home/u/sounds/" << "*.wav (*.wav)";
        QTest::newRow("application") << 8 << "C:\\Apps\\x.exe" << "C:\\Apps\\" << "*.* (*)";
        QTest::newRow("bare name: the program's folder") << 3 << "warn" << "/opt/kalvex/" << "*.wav (*.wav)";
        QTest::newRow("empty: the program's folder") << 4 << "" << "/opt/kalvex/" << "*.* (*)";
    }
    void browseButtons()
    {
        QFETCH(int, button);
        QFETCH(QString, text);
        QFETCH(QString, folder);
        QFETCH(QString, filter);
        Fixture f;
        f.open(-1);
        const auto n = std::size_t((button - 1) / 2);
        QLineEdit *edit = button % 2 ? f.form->Emp3path[n] : f.form->EAppPath[n];
        edit->setText(text);
        f.boxes.fileAnswers.enqueue("/srv/chosen.wav");
        QTest::mouseClick(f.form->SpeedButton[std::size_t(button - 1)], Qt::LeftButton);
        QCOMPARE(f.boxes.fileTitles, QStringList{"Выбор"});
        QCOMPARE(f.boxes.fileDirectories, QStringList{folder});
        QCOMPARE(f.boxes.fileFilters, QStringList{filter});
        QCOMPARE(edit->text(), QStringLiteral("/srv/chosen.wav"));
        // Cancelled: the field keeps its text.
        QTest::mouseClick(f.form->SpeedButton[std::size_t(button - 1)], Qt::LeftButton);
        QCOMPARE(edit->text(), QStringLiteral("/srv/chosen.wav"));
    }
};

QTEST_MAIN(TestSensorEditor)
#include "tst_sensoreditor.moc"
