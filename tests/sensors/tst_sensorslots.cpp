#include "base/ErrorGuard.h"
#include "base/StringGrid.h"
#include "monitor/SnsGrid.h"
#include "monitor/ui/LiveChart.h"
#include "sensors/ui/SensorPicture.h"
#include "sensors/ui/SensorSlots.h"
#include "support/FakeDialogBoxes.h"

#include <QLabel>
#include <QTest>
#include <QWidget>

#include <cmath>
#include <memory>

namespace {

constexpr int Points = 5;

// A panel, a chart and the two grids, as the main window holds them.
struct Fixture
{
    QWidget panel;
    LiveChart chart;
    StringGrid Sns{3, 2};
    StringGrid SHour{26, 2};
    FakeDialogBoxes boxes;
    std::unique_ptr<SensorSlots> sensors;
    QList<QPair<int, QString>> trayCreated;
    QList<int> trayDeleted;
    QList<int> edited;

    Fixture()
    {
        panel.resize(600, 400);
        sns::prepare(Sns);
        SHour.setCell(0, 0, "Имя");
        sensors = std::make_unique<SensorSlots>(&panel, chart, Sns, SHour, boxes, [] { return Points; });
        sensors->TrayCreate = [this](int id, const QString &tip, TColor, TColor) { trayCreated.append({id, tip}); };
        sensors->TrayDelete = [this](int id) { trayDeleted.append(id); };
        sensors->EditItem = [this](int index) { edited.append(index); };
    }

    int add(const QString &name, const QString &sn, bool enable = true, bool tray = false)
    {
        return sensors->AddItem(100, 80, name, sn, enable, 0.5, tray, DefaultTrayBackground, DefaultTrayText,
                              255, CreateClearSign());
    }
    // A grid row as the monitoring cycle writes it.
    void addRows(int index, const QString &name, const QString &sn)
    {
        AddToSns(Sns, name, sn, "20", QString::number(index));
        const int row = SHour.Cells(0, 1).isEmpty() ? 1 : SHour.RowCount();
        if (row == SHour.RowCount())
            SHour.setRowCount(row + 1);
        SHour.setCell(0, row, name);
        SHour.setCell(25, row, sn);
    }
    TDSItem &item(int i) { return sensors->DSItems[std::size_t(i)]; }
};

} // namespace

// The sensor slots and the objects each owns on the panel and in the chart.
class TestSensorSlots : public QObject
{
    Q_OBJECT

private slots:
    void firstItemFillsSlotZero()
    {
        Fixture f;
        TSign sign = CreateClearSign();
        sign[2].Enable = true;
        sign[2].Value = 30;
        const int index = f.sensors->AddItem(120, 90, "Кухня", "28FF0A1B2C3D4E5F", true, 0.5, true, 1, 2, 255, sign);
        QCOMPARE(index, 0);
        QCOMPARE(f.sensors->DSItems.size(), std::size_t(1));
        QVERIFY(f.sensors->inUse(0));
        QCOMPARE(f.trayCreated, (QList<QPair<int, QString>>{{1, "Кухня"}}));
        const TDSItem &item = f.item(0);
        QCOMPARE(item.Sign, sign);
        QCOMPARE(item.Correct, 0.5);
        QCOMPARE(item.CBFon, TColor(1));
        QCOMPARE(item.CBText, TColor(2));
        QCOMPARE(item.ImageCtl->geometry(), QRect(120, 90, 18, 50));
        QCOMPARE(item.ImageCtl->property("tag").toInt(), 0);
        QCOMPARE(item.NameLabel->geometry(), QRect(94, 74, 70, 16));
        QCOMPARE(item.NameLabel->text(), QStringLiteral("Кухня"));
        QCOMPARE(item.NameLabel->alignment(), Qt::AlignHCenter | Qt::AlignVCenter);
        QCOMPARE(item.NameLabel->palette().color(QPalette::WindowText), QColor(255, 0, 0));
        QCOMPARE(item.TempLabel->geometry(), QRect(80, 106, 37, 16));
        QCOMPARE(item.TempLabel->alignment(), Qt::AlignRight | Qt::AlignVCenter);
        QCOMPARE(item.TempLabel->font().pixelSize(), 15);
        QCOMPARE(item.TempLabel->palette().color(QPalette::WindowText), QColor(255, 255, 0));
        QVERIFY(!item.TempLabel->autoFillBackground());
        QCOMPARE(f.chart.lineTitle(item.Series), QStringLiteral("Кухня"));
        QCOMPARE(f.chart.lineColor(item.Series), QColor(255, 0, 0));
        QCOMPARE(f.sensors->NameBySerial("28FF0A1B2C3D4E5F"), QStringLiteral("Кухня"));
        QCOMPARE(f.sensors->NameBySerial("28ff0a1b2c3d4e5f"), QString()); // case counts
    }

    void freedSlotIsReused()
    {
        Fixture f;
        f.add("a", "SA");
        f.add("b", "SB", true, true);
        f.add("c", "SC");
        f.item(1).HourAvg[5] = 21.5;
        f.item(1).LastTime = 46000;
        QPointer<QWidget> oldLabel = f.item(1).NameLabel.data();
        f.boxes.confirmAnswers.enqueue(true);
        f.sensors->DeleteItem(1);
        QVERIFY(!f.sensors->inUse(1));
        QCOMPARE(f.trayDeleted, QList<int>{2});
        QVERIFY(oldLabel.isNull());
        QCOMPARE(f.chart.lineCount(), 2);
        QCOMPARE(f.sensors->NameBySerial("SB"), QString());

        const int index = f.add("d", "SD", true, true);
        QCOMPARE(index, 1);
        QCOMPARE(f.sensors->DSItems.size(), std::size_t(3));
        QCOMPARE(f.trayCreated.last(), (QPair<int, QString>{2, "d"}));
        QCOMPARE(f.item(1).HourAvg, (std::array<double, 24>{}));
        QCOMPARE(f.item(1).LastTime, 0.0);
        QCOMPARE(f.item(1).ImageCtl->property("tag").toInt(), 1);
        QCOMPARE(f.chart.pointCount(f.item(1).Series), Points);
        QCOMPARE(f.chart.lineCount(), 3);
    }

    void deletingOnlySensorLeavesEmptyRow()
    {
        Fixture f;
        f.add("a", "SA");
        f.addRows(0, "a", "SA");
        f.boxes.confirmAnswers.enqueue(true);
        f.sensors->DeleteItem(0);
        QCOMPARE(f.boxes.questions, QStringList{"Удалить датчик?"});
        for (StringGrid *g : {&f.Sns, &f.SHour}) {
            QCOMPARE(g->RowCount(), 2);
            QVERIFY(g->Cells(0, 0) != QString());
            QCOMPARE(g->Cells(0, 1), QString());
            QCOMPARE(g->Cells(4, 1), QString());
        }
        QCOMPARE(f.Sns.Cells(2, 1), QString());
        QCOMPARE(f.SHour.Cells(25, 1), QString());
        QCOMPARE(f.item(0).SN, QString());
        QVERIFY(!f.item(0).Enable);
        QVERIFY(f.item(0).Series.isNull());
        QVERIFY(f.item(0).TempLabel.isNull());
        QVERIFY(f.item(0).ImageCtl); // hidden, still on the panel
    }

    void duplicateRowsLoseOnlyTheFirst()
    {
        Fixture f;
        f.add("a", "SA");
        f.add("b", "SB");
        f.addRows(1, "b", "SB");
        f.addRows(0, "a", "SA");
        f.addRows(7, "a", "SA"); // a stale row with the same name and serial
        f.boxes.confirmAnswers.enqueue(true);
        f.sensors->DeleteItem(0);
        QCOMPARE(f.Sns.RowCount(), 3);
        QCOMPARE(f.Sns.Cells(4, 1), QStringLiteral("1"));
        QCOMPARE(f.Sns.Cells(4, 2), QStringLiteral("7"));
        QCOMPARE(f.SHour.RowCount(), 3);
        QCOMPARE(f.SHour.Cells(0, 1), QStringLiteral("b"));
        QCOMPARE(f.SHour.Cells(0, 2), QStringLiteral("a"));
    }

    void declinedDeletionChangesNothing()
    {
        Fixture f;
        f.add("a", "SA", true, true);
        f.addRows(0, "a", "SA");
        f.boxes.confirmAnswers.enqueue(false);
        f.sensors->SelectedItem = 0;
        f.sensors->N16Click();
        QCOMPARE(f.boxes.questions.size(), 1);
        QVERIFY(f.sensors->inUse(0));
        QCOMPARE(f.item(0).SN, QStringLiteral("SA"));
        QVERIFY(f.item(0).NameLabel);
        QVERIFY(!f.item(0).Series.isNull());
        QVERIFY(f.trayDeleted.isEmpty());
        QCOMPARE(f.Sns.Cells(0, 1), QStringLiteral("a"));
        QCOMPARE(f.SHour.Cells(0, 1), QStringLiteral("a"));
    }

    void commandsOnNoSlotDoNothing()
    {
        Fixture f;
        f.add("a", "SA");
        f.sensors->SelectedItem = -1;
        f.sensors->N16Click();
        f.sensors->N18Click();
        f.sensors->NImgOffClick();
        f.sensors->SelectedItem = 9;
        f.sensors->NImgOnClick();
        f.sensors->DeleteItem(9);
        QVERIFY(f.boxes.questions.isEmpty());
        QVERIFY(f.edited.isEmpty());
        QVERIFY(f.item(0).Enable);
    }

    void longSerialCutWithFullHint()
    {
        Fixture f;
        f.add("a", "28FF0A1B2C3D4E5F6677");
        QCOMPARE(f.item(0).SN, QStringLiteral("28FF0A1B2C3D4E5F"));
        QCOMPARE(f.item(0).ImageCtl->toolTip(), QStringLiteral("28FF0A1B2C3D4E5F6677"));
    }

    void switchOffAndOn()
    {
        Fixture f;
        f.add("a", "SA", true, true);
        f.item(0).TempLabel->setText("21,5");
        f.item(0).LastTemp = 21.5;
        auto *picture = f.sensors->picture(0);
        f.sensors->SelectedItem = 0;
        f.sensors->NImgOffClick();
        QVERIFY(!f.item(0).Enable);
        QCOMPARE(f.item(0).TempLabel->text(), QString());
        QCOMPARE(f.item(0).LastTemp, 0.0);
        QCOMPARE(picture->pixmap().toImage(), f.sensors->offPicture().toImage());
        QVERIFY(f.trayDeleted.isEmpty());
        f.sensors->NImgOnClick();
        QVERIFY(f.item(0).Enable);
        QCOMPARE(picture->pixmap().toImage(), f.sensors->onPicture().toImage());
    }

    void disabledNewSensor()
    {
        Fixture f;
        f.add("a", "SA", false);
        QCOMPARE(f.sensors->picture(0)->pixmap().toImage(), f.sensors->offPicture().toImage());
        QCOMPARE(f.item(0).TempLabel->text(), QString());
        const QPointer<QCPGraph> line = f.item(0).Series;
        QCOMPARE(f.chart.pointCount(line), Points);
        for (int i = 0; i < Points; ++i)
            QVERIFY(std::isnan(f.chart.valueAt(line, i)));
    }

    void editCommands()
    {
        Fixture f;
        f.add("a", "SA");
        f.add("b", "SB");
        f.sensors->SelectedItem = 1;
        f.sensors->N18Click();
        f.addRows(1, "b", "SB");
        f.Sns.setRow(1);
        QVERIFY(guarded(f.boxes, [&] { f.sensors->SnsDblClick(); }));
        QCOMPARE(f.edited, (QList<int>{1, 1}));
    }

    void doubleClickOnRowWithoutIndex_data()
    {
        QTest::addColumn<QString>("key");
        QTest::newRow("empty first row") << "";
        QTest::newRow("text") << "x1";
        QTest::newRow("fraction") << "1,5";
    }
    void doubleClickOnRowWithoutIndex()
    {
        QFETCH(QString, key);
        Fixture f;
        f.add("a", "SA");
        f.Sns.setCell(4, 1, key);
        f.Sns.setRow(1);
        QVERIFY(!guarded(f.boxes, [&] { f.sensors->SnsDblClick(); }));
        // The conversion's own message, with the text in quotes (an empty one as '').
        QCOMPARE(f.boxes.errors, QStringList{QStringLiteral("'%1' не является допустимым целым числом").arg(key)});
        QVERIFY(f.edited.isEmpty());
    }

    void markerAndPlacement()
    {
        Fixture f;
        f.add("a", "SA");
        QCOMPARE(f.sensors->ImgItemRef()->geometry(), QRect(-100, -100, 18, 50));
        f.sensors->moveMarkerTo(0);
        QCOMPARE(f.sensors->ImgItemRef()->pos(), QPoint(100, 80));
        f.sensors->parkMarker();
        QCOMPARE(f.sensors->ImgItemRef()->pos(), QPoint(-100, -100));
        f.sensors->placeItem(0, 200, 150);
        QCOMPARE(f.item(0).ImageCtl->pos(), QPoint(200, 150));
        QCOMPARE(f.item(0).NameLabel->pos(), QPoint(174, 134));
        QCOMPARE(f.item(0).TempLabel->pos(), QPoint(160, 166));
    }
};

QTEST_MAIN(TestSensorSlots)
#include "tst_sensorslots.moc"
