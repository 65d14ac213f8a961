#include "base/DateTime.h"
#include "base/Formats.h"
#include "base/StringGrid.h"
#include "history/HourTable.h"
#include "history/ReadingStore.h"
#include "support/FakeClock.h"
#include "support/RecordingLog.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

const QString sA = QStringLiteral("28FF64D1A31603C2");
const QString sB = QStringLiteral("10A1B2C3D4E5F607");
const QString sC = QStringLiteral("28000000000000AA");
const QDate today(2026, 12, 8);

struct Fixture
{
    QTemporaryDir dir;
    FakeClock clock{QDateTime(today, QTime(14, 20))};
    RecordingLog log;
    StringGrid SHour{5, 5};
    ReadingStore store{dir.path() + QLatin1Char('/'), clock, log};
    HourTable table{SHour, clock};
    TDSItems items;
    int LastHour = -1;

    Fixture()
    {
        store.ConnectDB();
        table.writeHeader();
        for (const QString &sn : {sA, sB, sC}) {
            TDSItem item;
            item.SN = sn;
            item.Enable = true;
            items.push_back(item);
        }
    }
    void readingAt(const QDateTime &when, const QString &sn, double t)
    {
        const QDateTime keep = clock.now();
        clock.setNow(when);
        store.AddToStats(sn, t);
        clock.setNow(keep);
    }
    // The start-up order: Load24Hour, then ViewSHour for the enabled sensors in record order.
    void startUp()
    {
        table.Load24Hour(store.ADOQuery1, items, LastHour);
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (items[i].Enable)
                table.ViewSHour(items, static_cast<int>(i), QStringLiteral("Датчик %1").arg(i));
        }
    }
    QStringList hourCells(int row) const
    {
        QStringList cells;
        for (int col = 1; col <= 24; ++col)
            cells << SHour.Cells(col, row);
        return cells;
    }
};

QStringList emptyHours()
{
    return QStringList(24, QString());
}

} // namespace

class TestHourTable : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { Formats::setCurrent(Formats::russian()); }

    void header()
    {
        Fixture f;
        QCOMPARE(f.SHour.ColCount(), 26);
        QCOMPARE(f.SHour.RowCount(), 2);
        QCOMPARE(f.SHour.Cells(0, 0), QStringLiteral(" Имя"));
        QCOMPARE(f.SHour.Cells(1, 0), QStringLiteral(" 0 ч."));
        QCOMPARE(f.SHour.Cells(24, 0), QStringLiteral(" 23 ч."));
        QCOMPARE(f.SHour.Cells(25, 0), QStringLiteral(" Серийный номер"));
    }

    void emptyStoreGivesEmptyRowsInRecordOrder()
    {
        Fixture f;
        f.items[1].Enable = false;
        f.readingAt(QDateTime(today.addDays(-1), QTime(23, 59, 59, 999)), sA, 5);
        f.readingAt(QDateTime(today.addDays(1), QTime(0, 0)), sA, 5);
        f.startUp();
        QCOMPARE(f.LastHour, 14);
        QCOMPARE(f.SHour.RowCount(), 3);
        QCOMPARE(f.SHour.Cells(25, 1), sA);
        QCOMPARE(f.SHour.Cells(0, 1), QStringLiteral("Датчик 0"));
        QCOMPARE(f.SHour.Cells(25, 2), sC);
        QCOMPARE(f.hourCells(1), emptyHours());
        QCOMPARE(f.hourCells(2), emptyHours());
    }

    void startAt1420WithTodaysReadings()
    {
        Fixture f;
        f.readingAt(QDateTime(today, QTime(0, 0)), sA, 20.1);
        f.readingAt(QDateTime(today, QTime(0, 30)), sA, 20.2); // mean 20.15 -> 20.2
        f.readingAt(QDateTime(today, QTime(7, 10)), sA, -3.5);
        f.readingAt(QDateTime(today, QTime(7, 11)), sA, -3.6); // -3.55 -> -3.6
        f.readingAt(QDateTime(today, QTime(9, 0)), sA, 0.0);   // a mean of 0.0 shows empty
        f.readingAt(QDateTime(today, QTime(14, 19, 59, 999)), sA, 22);
        f.readingAt(QDateTime(today, QTime(14, 5)), sB, 18.3);
        f.readingAt(QDateTime(today, QTime(10, 0)), QStringLiteral("28FFFFFFFFFFFF00"), 30); // no sensor
        f.startUp();

        QStringList a = emptyHours();
        a[0] = QStringLiteral("20,2");
        a[7] = QStringLiteral("-3,6");
        a[14] = QStringLiteral("22");
        QCOMPARE(f.hourCells(1), a);
        QCOMPARE(f.items[0].HourAvg[0], 20.2);
        QStringList b = emptyHours();
        b[14] = QStringLiteral("18,3");
        QCOMPARE(f.hourCells(2), b);
        QCOMPARE(f.hourCells(3), emptyHours());
        QCOMPARE(f.SHour.RowCount(), 4); // the unknown serial has no row
        QVERIFY(f.table.cellColor(15, 1) == HourTable::windowColor());
        QVERIFY(f.table.cellColor(14, 1) == QColor(Qt::white));
    }

    // A restart late in the evening finds the readings of the day's last hour, up to its last
    // millisecond, and of the hour before.
    void startLateInTheEvening()
    {
        Fixture f;
        f.clock.setNow(QDateTime(today, QTime(23, 50)));
        f.readingAt(QDateTime(today, QTime(22, 59, 59)), sA, 19.5);
        f.readingAt(QDateTime(today, QTime(23, 0)), sA, 18.0);
        f.readingAt(QDateTime(today, QTime(23, 49, 59, 999)), sA, 18.4); // mean 18.2
        f.startUp();
        QCOMPARE(f.LastHour, 23);
        QStringList a = emptyHours();
        a[22] = QStringLiteral("19,5");
        a[23] = QStringLiteral("18,2");
        QCOMPARE(f.hourCells(1), a);
        QCOMPARE(f.items[0].HourAvg[23], 18.2);
    }

    void rowsAreFoundBySerialAndRewritten()
    {
        Fixture f;
        f.table.ViewSHour(f.items, 1, QStringLiteral("Кухня"));
        QCOMPARE(f.SHour.RowCount(), 2);
        QCOMPARE(f.SHour.Cells(25, 1), sB); // the first sensor shown takes the empty row
        f.table.ViewSHour(f.items, 0, QStringLiteral("Улица"));
        QCOMPARE(f.SHour.RowCount(), 3);
        QCOMPARE(f.SHour.Cells(25, 2), sA);

        f.items[1].HourAvg[3] = 21.25; // a first reading of an hour comes unrounded
        f.items[1].HourAvg[4] = 0.1 + 0.2;
        f.table.ViewSHour(f.items, 1, QStringLiteral("Другое имя"));
        QCOMPARE(f.SHour.RowCount(), 3);
        QCOMPARE(f.SHour.Cells(0, 1), QStringLiteral("Кухня"));
        QCOMPARE(f.SHour.Cells(4, 1), QStringLiteral("21,25"));
        QCOMPARE(f.SHour.Cells(5, 1), QStringLiteral("0,3"));
        f.items[1].HourAvg[3] = 0.0;
        f.table.ViewSHour(f.items, 1, QString());
        QCOMPARE(f.SHour.Cells(4, 1), QString());
        f.table.ViewSHour(f.items, 7, QStringLiteral("no such slot"));
        QCOMPARE(f.SHour.RowCount(), 3);
    }

    void highlight_data()
    {
        QTest::addColumn<QTime>("time");
        QTest::addColumn<int>("col");
        QTest::addColumn<int>("row");
        QTest::addColumn<bool>("painted");
        QTest::newRow("23:xx hour 23") << QTime(23, 30) << 24 << 1 << true;
        QTest::newRow("23:xx serial column") << QTime(23, 30) << 25 << 1 << false;
        QTest::newRow("23:xx header") << QTime(23, 30) << 24 << 0 << false;
        QTest::newRow("00:00 hour 0") << QTime(0, 0) << 1 << 2 << true;
        QTest::newRow("00:00 name column") << QTime(0, 0) << 0 << 2 << false;
        QTest::newRow("14:20 other hour") << QTime(14, 20) << 14 << 1 << false;
    }
    void highlight()
    {
        QFETCH(QTime, time);
        QFETCH(int, col);
        QFETCH(int, row);
        QFETCH(bool, painted);
        Fixture f;
        f.clock.setNow(QDateTime(today, time));
        QCOMPARE(HourTable::highlighted(col, row, time.hour()), painted);
        QCOMPARE(f.table.cellColor(col, row), painted ? HourTable::windowColor() : QColor(Qt::white));
    }

    void valuesKeptAcrossMidnightWithoutCycle()
    {
        Fixture f;
        // Yesterday's values, never cleared because no cycle ran in hour 0.
        f.items[0].HourAvg[20] = 18.5;
        f.items[0].HourAvg[0] = 11;
        f.clock.setNow(QDateTime(today.addDays(1), QTime(0, 30)));
        f.readingAt(QDateTime(today.addDays(1), QTime(0, 10)), sA, 12.4);
        f.readingAt(QDateTime(today, QTime(21, 0)), sA, 30); // yesterday's row: not loaded again
        f.startUp();
        QCOMPARE(f.LastHour, 0);
        QCOMPARE(f.SHour.Cells(1, 1), QStringLiteral("12,4"));
        QCOMPARE(f.SHour.Cells(21, 1), QStringLiteral("18,5"));
        QCOMPARE(f.SHour.Cells(22, 1), QString());
    }
};

QTEST_GUILESS_MAIN(TestHourTable)
#include "tst_hourtable.moc"
