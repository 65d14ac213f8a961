#include "base/StringGrid.h"
#include "sensors/SensorRecords.h"

#include <QTest>

// Widget-free record logic: grid row removal, colour pick, serial cut, free slot.
class TestSensorRecords : public QObject
{
    Q_OBJECT

    static void fill(StringGrid &g, const QStringList &names)
    {
        g.setRowCount(names.size() + 1);
        g.setCell(0, 0, "header");
        for (int r = 0; r < names.size(); ++r) {
            g.setCell(0, r + 1, names[r]);
            g.setCell(4, r + 1, QString::number(r)); // beyond the visible columns
        }
    }
    static QStringList column(const StringGrid &g, int col)
    {
        QStringList cells;
        for (int r = 0; r < g.RowCount(); ++r)
            cells << g.Cells(col, r);
        return cells;
    }

private slots:
    void deleteGridRow_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<int>("row");
        QTest::addColumn<QStringList>("after");
        QTest::addColumn<QStringList>("keys");
        QTest::newRow("middle") << QStringList{"a", "b", "c"} << 2 << QStringList{"header", "a", "c"}
                                << QStringList{"", "0", "2"};
        QTest::newRow("last") << QStringList{"a", "b", "c"} << 3 << QStringList{"header", "a", "b"}
                              << QStringList{"", "0", "1"};
        QTest::newRow("first") << QStringList{"a", "b"} << 1 << QStringList{"header", "b"}
                               << QStringList{"", "1"};
        QTest::newRow("only row stays as an empty row") << QStringList{"a"} << 1 << QStringList{"header", ""}
                                                        << QStringList{"", ""};
        QTest::newRow("row beyond the grid") << QStringList{"a", "b"} << 5
                                             << QStringList{"header", "a", "b"} << QStringList{"", "0", "1"};
        QTest::newRow("negative row") << QStringList{"a", "b"} << -1 << QStringList{"header", "a", "b"}
                                      << QStringList{"", "0", "1"};
    }
    void deleteGridRow()
    {
        QFETCH(QStringList, names);
        QFETCH(int, row);
        QFETCH(QStringList, after);
        QFETCH(QStringList, keys);
        StringGrid g(3, 2);
        fill(g, names);
        DeleteGridRow(g, row);
        QCOMPARE(column(g, 0), after);
        QCOMPARE(column(g, 4), keys); // hidden cells move with their row
    }

    void deletedRowLeavesNoStaleCells()
    {
        StringGrid g(3, 2);
        fill(g, {"a", "b", "c"});
        DeleteGridRow(g, 1);
        g.setRowCount(4); // the row that was cut off comes back empty
        QCOMPARE(g.Cells(0, 3), QString());
        QCOMPARE(g.Cells(4, 3), QString());
    }

    void randomColour()
    {
        for (int i = 0; i < 16; ++i) {
            int askedBound = 0;
            const TColor c = sensorrecords::randomStandardColor([&](int bound) {
                askedBound = bound;
                return i;
            });
            QCOMPARE(askedBound, 16);
            QCOMPARE(c, StandardColors[std::size_t(i)]);
        }
        QCOMPARE(sensorrecords::randomStandardColor([](int) { return 99; }), TColor(16777215));
        QCOMPARE(sensorrecords::randomStandardColor([](int) { return -3; }), TColor(0));
        // The real source stays in the table.
        for (int i = 0; i < 200; ++i) {
            const TColor c = sensorrecords::randomStandardColor();
            QVERIFY(std::find(StandardColors.begin(), StandardColors.end(), c) != StandardColors.end());
        }
    }

    void cutSerial()
    {
        QCOMPARE(sensorrecords::cutSerial("28FF0A1B2C3D4E5F6677"), QStringLiteral("28FF0A1B2C3D4E5F"));
        QCOMPARE(sensorrecords::cutSerial("28FF"), QStringLiteral("28FF"));
        QCOMPARE(sensorrecords::cutSerial(""), QString());
    }

    void firstFreeSlot()
    {
        TDSItems items(3);
        items[0].SN = "used";
        items[1].SN = "";
        items[2].SN = "used";
        auto inUse = [](const TDSItem &item) { return !item.SN.isEmpty(); };
        QCOMPARE(sensorrecords::firstFreeSlot(items, inUse), 1);
        items[1].SN = "used";
        QCOMPARE(sensorrecords::firstFreeSlot(items, inUse), 3);
        QCOMPARE(sensorrecords::firstFreeSlot(TDSItems{}, inUse), 0);
    }
};

QTEST_GUILESS_MAIN(TestSensorRecords)
#include "tst_sensorrecords.moc"
