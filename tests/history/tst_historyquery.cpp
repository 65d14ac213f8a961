#include "StoreTestUtil.h"

#include "base/DateTime.h"
#include "base/Formats.h"
#include "base/KalvexError.h"
#include "history/HistoryQuery.h"
#include "history/ReadingStore.h"
#include "history/TADOQuery.h"
#include "support/FakeClock.h"
#include "support/RecordingLog.h"

#include <QTemporaryDir>
#include <QTest>

using namespace storetest;

namespace {

struct Row
{
    QDateTime dat;
    QString sn;
    double t;
};

// A store made by the program, filled with `rows` through bound values.
struct Store
{
    QTemporaryDir dir;
    FakeClock clock;
    RecordingLog log;
    ReadingStore store{dir.path() + QLatin1Char('/'), clock, log};
    TADOQuery query;

    explicit Store(const QList<Row> &rows)
    {
        store.ConnectDB();
        TADOQuery insert;
        insert.setConnectionString(store.storePath());
        insert.SQL.Add(QStringLiteral("insert into stats(Dat, Sn, t) values (:Dat, :Sn, :tt);"));
        for (const Row &r : rows) {
            insert.setDateTime(QStringLiteral("Dat"), datetime::fromQDateTime(r.dat));
            insert.setText(QStringLiteral("Sn"), r.sn);
            insert.setFloat(QStringLiteral("tt"), r.t);
            insert.ExecSQL();
        }
        query.setConnectionString(store.storePath());
    }
    qint64 count(const QString &sn) const
    {
        const QByteArray sql = "select count(*) from stats where Sn = '" + QString(sn).replace(QLatin1Char('\''), QStringLiteral("''")).toUtf8() + "'";
        return scalar(store.storePath(), sql.constData());
    }
};

QDateTime at(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms));
}

const QString sensorA = QStringLiteral("28FF64D1A31603C2");
const QString sensorB = QStringLiteral("10A1B2C3D4E5F6A7");

} // namespace

class TestHistoryQuery : public QObject
{
    Q_OBJECT

private slots:
    void init() { Formats::setCurrent(Formats::russian()); }
    void cleanupTestCase() { Formats::setCurrent(Formats::russian()); }

    void levelFromDetal_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("level");
        QTest::newRow("second") << QStringLiteral("Секунда") << int(history::Level::Second);
        QTest::newRow("year") << QStringLiteral("Год") << int(history::Level::Year);
        QTest::newRow("typed, no item") << QStringLiteral("Неделя") << int(history::Level::Hour);
        QTest::newRow("item in other case") << QStringLiteral("месяц") << int(history::Level::Hour);
        QTest::newRow("item with a blank") << QStringLiteral("День ") << int(history::Level::Hour);
    }
    void levelFromDetal()
    {
        QFETCH(QString, text);
        QFETCH(int, level);
        QCOMPARE(int(history::levelOf(text)), level);
    }

    // One point per group: its time, its whole-second x, its label and the mean of the group.
    void pointsOfEachLevel_data()
    {
        QTest::addColumn<int>("level");
        QTest::addColumn<QDateTime>("key");
        QTest::addColumn<QString>("label");
        QTest::newRow("second") << int(history::Level::Second) << at(2026, 3, 15, 10, 20, 30)
                                << QStringLiteral("2026.03.15 10:20:30");
        QTest::newRow("minute") << int(history::Level::Minute) << at(2026, 3, 15, 10, 20)
                                << QStringLiteral("2026.03.15 10:20");
        QTest::newRow("hour") << int(history::Level::Hour) << at(2026, 3, 15, 10) << QStringLiteral("2026.03.15 10");
        QTest::newRow("day") << int(history::Level::Day) << at(2026, 3, 15) << QStringLiteral("2026.03.15");
        QTest::newRow("month: the first") << int(history::Level::Month) << at(2026, 3, 1) << QStringLiteral("2026.03");
        QTest::newRow("year: January 1st") << int(history::Level::Year) << at(2026, 1, 1) << QStringLiteral("2026");
    }
    void pointsOfEachLevel()
    {
        QFETCH(int, level);
        QFETCH(QDateTime, key);
        QFETCH(QString, label);
        // Two readings in the same second; the fraction of a second never reaches x.
        Store s({{at(2026, 3, 15, 10, 20, 30, 100), sensorA, 20.0}, {at(2026, 3, 15, 10, 20, 30, 900), sensorA, 21.0}});
        const auto lines = history::queryChart(
            s.query, {{sensorA}, QDate(2026, 1, 1), QDate(2026, 12, 31), history::Level(level)});
        QCOMPARE(lines.size(), std::size_t(1));
        QCOMPARE(lines[0].serial, sensorA);
        QCOMPARE(lines[0].points.size(), std::size_t(1));
        const history::ChartPoint &p = lines[0].points[0];
        QCOMPARE(p.x, QDate(1899, 12, 30).daysTo(key.date()) * 86400 + key.time().msecsSinceStartOfDay() / 1000);
        QCOMPARE(history::pointLabel(p.x, history::Level(level), QStringLiteral(":")), label);
        QCOMPARE(p.y, 20.5);
    }

    // The key texts are read the same whatever the system writes dates like.
    void keysReadWhateverTheConventions()
    {
        Formats us;
        us.shortDate = QStringLiteral("M/d/yyyy");
        us.longTime = QStringLiteral("h.mm.ss AP");
        Formats::setCurrent(us);
        QCOMPARE(history::readKey(QStringLiteral("05.04.2026 07:08:09"), history::Level::Second),
                 at(2026, 4, 5, 7, 8, 9));
        QCOMPARE(history::readKey(QStringLiteral("2026-04-01 00:00:00"), history::Level::Month), at(2026, 4, 1));
        // The label takes the system's time separator.
        QCOMPARE(history::pointLabel(at(2026, 4, 5, 7, 8, 9), history::Level::Second, history::timeSeparator()),
                 QStringLiteral("2026.04.05 07.08.09"));
    }

    // A point's label made from its x alone reads as the store's format() writes its time, at
    // every level, on the edges of days, months, years and leap days.
    void labelOfXIsTheLabelOfItsTime_data()
    {
        QTest::addColumn<QDateTime>("time");
        QTest::newRow("midnight") << at(2026, 1, 1);
        QTest::newRow("last second of a year") << at(2025, 12, 31, 23, 59, 59);
        QTest::newRow("leap day") << at(2024, 2, 29, 12, 34, 56);
        QTest::newRow("the epoch itself") << at(1899, 12, 30);
        QTest::newRow("before the epoch") << at(1899, 12, 29, 23, 59, 58);
        QTest::newRow("far on") << at(2199, 11, 30, 1, 2, 3);
    }
    void labelOfXIsTheLabelOfItsTime()
    {
        QFETCH(QDateTime, time);
        for (const QString &separator : {QStringLiteral(":"), QStringLiteral(".")}) {
            for (const history::LevelPatterns &p : history::levels()) {
                const qint64 x = history::secondsSinceEpoch(time);
                QCOMPARE(history::pointLabel(x, p.level, separator), history::pointLabel(time, p.level, separator));
            }
        }
    }

    void unreadableKeyIsAConversionError_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("level");
        QTest::newRow("year first at a fine level") << QStringLiteral("2026-04-05 07:08:09") << int(history::Level::Hour);
        QTest::newRow("no such day") << QStringLiteral("31.02.2026 00:00:00") << int(history::Level::Day);
        QTest::newRow("empty") << QString() << int(history::Level::Month);
    }
    void unreadableKeyIsAConversionError()
    {
        QFETCH(QString, text);
        QFETCH(int, level);
        try {
            history::readKey(text, history::Level(level));
            QFAIL("no error");
        } catch (const KalvexError &e) {
            QCOMPARE(e.message(), QLatin1Char('\'') + text + QStringLiteral("' is not a valid date and time"));
        }
    }

    // A range of one day holds that day from 00:00:00.000 to 23:59:59.999, nothing next to it.
    void oneDayRange()
    {
        Store s({{at(2026, 5, 9, 23, 59, 59, 999), sensorA, 1},
                 {at(2026, 5, 10, 0, 0, 0, 0), sensorA, 2},
                 {at(2026, 5, 10, 23, 59, 59, 999), sensorA, 3},
                 {at(2026, 5, 11, 0, 0, 0, 0), sensorA, 4}});
        const auto lines =
            history::queryChart(s.query, {{sensorA}, QDate(2026, 5, 10), QDate(2026, 5, 10), history::Level::Day});
        QCOMPARE(lines.size(), std::size_t(1));
        QCOMPARE(lines[0].points.size(), std::size_t(1));
        QCOMPARE(lines[0].points[0].y, 2.5);
        QCOMPARE(history::deleteReadings(s.query, {sensorA}, QDate(2026, 5, 10), QDate(2026, 5, 10)), 2);
        QCOMPARE(s.count(sensorA), 2);
    }

    void fromAfterToFindsNothing()
    {
        Store s({{at(2026, 5, 10, 12), sensorA, 1}});
        QVERIFY(history::queryChart(s.query, {{sensorA}, QDate(2026, 5, 11), QDate(2026, 5, 10), history::Level::Hour})
                    .empty());
        QCOMPARE(history::deleteReadings(s.query, {sensorA}, QDate(2026, 5, 11), QDate(2026, 5, 10)), 0);
        QCOMPARE(s.count(sensorA), 1);
    }

    // Serials are bound: one named like a column or holding a quote selects itself only.
    void deleteRemovesExactlyTheTickedSerialsInRange_data()
    {
        QTest::addColumn<QStringList>("ticked");
        QTest::newRow("column names") << QStringList{QStringLiteral("Sn"), QStringLiteral("t"), QStringLiteral("Dat")};
        QTest::newRow("double quote") << QStringList{QStringLiteral("A\"B")};
        QTest::newRow("single quote") << QStringList{QStringLiteral("C'D")};
        QTest::newRow("quote that closes a list") << QStringList{QStringLiteral("\") OR 1=1 --")};
        QTest::newRow("all odd ones") << QStringList{QStringLiteral("Sn"), QStringLiteral("t"), QStringLiteral("Dat"),
                                                    QStringLiteral("A\"B"), QStringLiteral("C'D")};
    }
    void deleteRemovesExactlyTheTickedSerialsInRange()
    {
        QFETCH(QStringList, ticked);
        const QStringList serials{sensorA, QStringLiteral("Sn"), QStringLiteral("t"), QStringLiteral("Dat"),
                                  QStringLiteral("A\"B"), QStringLiteral("C'D"), QStringLiteral("\") OR 1=1 --")};
        QList<Row> rows;
        for (const QString &sn : serials) {
            rows << Row{at(2026, 5, 9, 12), sn, 1} << Row{at(2026, 5, 10, 12), sn, 2} << Row{at(2026, 5, 11, 12), sn, 3};
        }
        Store s(rows);
        QCOMPARE(history::deleteReadings(s.query, ticked, QDate(2026, 5, 10), QDate(2026, 5, 10)), ticked.size());
        for (const QString &sn : serials)
            QCOMPARE(s.count(sn), ticked.contains(sn) ? 2 : 3);
        // The chart statement binds them alike.
        const auto lines = history::queryChart(s.query, {ticked, QDate(2026, 5, 9), QDate(2026, 5, 11), history::Level::Day});
        QCOMPARE(lines.size(), std::size_t(ticked.size()));
        for (const auto &line : lines)
            QVERIFY(ticked.contains(line.serial));
    }

    // A cancel that comes once the rows are read still stops the making of the points, at
    // every source of them.
    void cancelAfterTheStatementStopsThePoints_data()
    {
        QTest::addColumn<int>("level");
        QTest::addColumn<QDate>("from");
        QTest::newRow("from the readings") << int(history::Level::Minute) << QDate(2026, 5, 1);
        QTest::newRow("from the hourly sums") << int(history::Level::Hour) << QDate(2026, 5, 1);
        QTest::newRow("from the statement") << int(history::Level::Minute) << QDate(1899, 1, 1);
    }
    void cancelAfterTheStatementStopsThePoints()
    {
        QFETCH(int, level);
        QFETCH(QDate, from);
        Store s({{at(2026, 5, 10, 9), sensorA, 1}, {at(2026, 5, 10, 10), sensorA, 2}});
        TADOQuery query;
        bool cancelled = false;
        query.setInterruptCheck([&cancelled] { return cancelled; });
        query.setConnectionString(s.store.storePath());
        int points = 0;
        try {
            history::queryChart(query, {{sensorA}, from, QDate(2026, 5, 31), history::Level(level)},
                                {[&](int) { cancelled = true; }, [&](int) { ++points; }});
            QFAIL("not stopped");
        } catch (const KalvexError &e) {
            QCOMPARE(e.message(), QStringLiteral("interrupted"));
        }
        QCOMPARE(points, 0);
    }

    // The rows of one serial make one line, whatever order the engine returns the groups in.
    void oneLinePerSerialInRowOrder()
    {
        Store s({{at(2026, 5, 10, 14), sensorA, 1}, {at(2026, 5, 10, 9), sensorB, 5}, {at(2026, 5, 10, 10), sensorA, 2},
                 {at(2026, 5, 10, 11), sensorB, 6}});
        int maximum = -1;
        QList<int> positions;
        const auto lines = history::queryChart(s.query, {{sensorB, sensorA}, QDate(2026, 5, 10), QDate(2026, 5, 10),
                                                         history::Level::Hour},
                                               {[&](int m) { maximum = m; }, [&](int p) { positions << p; }});
        QCOMPARE(maximum, 4);
        QCOMPARE(positions, (QList<int>{1, 2, 3, 4}));
        // Ordered by the serial's text.
        QCOMPARE(lines.size(), std::size_t(2));
        QCOMPARE(lines[0].serial, sensorB);
        QCOMPARE(lines[1].serial, sensorA);
        QCOMPARE(lines[1].points.size(), std::size_t(2));
    }
};

QTEST_GUILESS_MAIN(TestHistoryQuery)
#include "tst_historyquery.moc"
