#include "StoreTestUtil.h"

#include "base/DateTime.h"
#include "base/Formats.h"
#include "base/KalvexError.h"
#include "history/Consolidation.h"
#include "history/HistoryQuery.h"
#include "history/ReadingStore.h"
#include "history/StoreFunctions.h"
#include "history/TADOQuery.h"
#include "support/FakeClock.h"
#include "support/RecordingLog.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>

using namespace storetest;

namespace {

const QStringList serials{QStringLiteral("28FF64D1A31603C2"), QStringLiteral("10A1B2C3D4E5F6A7"),
                          QStringLiteral("28000000000000AA")};

double dat(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0)
{
    return datetime::fromQDateTime(QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms)));
}

// Readings as another program writes them: any double, a NULL now and then, gaps of whole
// hours and days, and readings a hair before midnight that the engine's format() already
// counts to the next day.
void fill(const QString &path, quint32 seed, double from, double to)
{
    QRandomGenerator random(seed);
    QByteArray sql = "begin;";
    for (double d = from; d < to;) {
        const QString &sn = serials.at(random.bounded(serials.size()));
        const QString t = random.bounded(40) == 0 ? QStringLiteral("NULL")
                                                  : QString::number(random.bounded(-300, 400) / 10.0, 'g', 17);
        sql += "insert into stats values (" + QByteArray::number(d, 'g', 17) + ", '" + sn.toUtf8() + "', "
            + t.toUtf8() + ");";
        const int step = random.bounded(100);
        if (step < 2)
            d += random.bounded(1, 40) / 24.0; // a gap of hours
        else
            d += random.bounded(1, 1800) / 86400.0;
    }
    for (int day = 0; day < 40; ++day) {
        const double midnight = from + day + 1 - std::fmod(from, 1.0);
        for (const double edge : {midnight - 0.0004 / 86400.0, midnight - 0.001 / 86400.0, midnight})
            sql += "insert into stats values (" + QByteArray::number(edge, 'g', 17) + ", '" + serials.at(day % 3).toUtf8()
                + "', " + QByteArray::number(day) + ");";
    }
    QVERIFY(exec(path, (sql + "commit;").constData()));
}

// `summed`: whether the chart comes from the hourly sums or from the readings.
void compareCharts(TADOQuery &query, const history::ChartRequest &request, bool summed)
{
    QCOMPARE(history::fromSums(query, request), summed);
    const auto sums = history::queryChart(query, request);
    const auto plain = history::queryChartPlain(query, request);
    QVERIFY(!plain.empty());
    QCOMPARE(sums.size(), plain.size());
    for (std::size_t l = 0; l < plain.size(); ++l) {
        QCOMPARE(sums[l].serial, plain[l].serial);
        QCOMPARE(sums[l].points.size(), plain[l].points.size());
        for (std::size_t p = 0; p < plain[l].points.size(); ++p) {
            QCOMPARE(sums[l].points[p].x, plain[l].points[p].x);
            QVERIFY2(std::abs(sums[l].points[p].y - plain[l].points[p].y) <= 1e-9,
                     qPrintable(history::pointLabel(plain[l].points[p].x, request.level, QStringLiteral(":"))));
        }
    }
}

} // namespace

class TestConsolidation : public QObject
{
    Q_OBJECT

private slots:
    void init() { Formats::setCurrent(Formats::russian()); }

    // The key of the triggers and of the program are one and the same, and cut the hours where
    // format() does.
    void hourKeyMatchesEngineAndFormat()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("k.st"));
        QVERIFY(exec(path, "create table v (d REAL)"));
        QRandomGenerator random(7);
        QByteArray sql = "begin;";
        QList<double> values;
        for (int i = 0; i < 2000; ++i) {
            const double base = dat(2026, 1, 1) + random.bounded(800);
            const double v = i % 2 ? base + random.bounded(1.0) : base + random.bounded(24) / 24.0 - (i % 4) * 0.0004 / 86400.0;
            values << v;
            sql += "insert into v values (" + QByteArray::number(v, 'g', 17) + ");";
        }
        QVERIFY(exec(path, (sql + "commit;").constData()));
        TADOQuery query;
        query.setConnectionString(path);
        query.SQL.Add(QStringLiteral("select d, ") + consolidation::hourKeySql(QStringLiteral("d")) + QStringLiteral(" from v"));
        query.Open();
        for (; !query.Eof(); query.Next()) {
            const double d = query.Fields(0).AsFloat();
            const qint64 hk = query.Fields(1).AsInteger();
            QCOMPARE(hk, consolidation::hourKey(d));
            QCOMPARE(QDateTime(QDate(1899, 12, 30), QTime(0, 0)).addSecs(hk * 3600).toString(QStringLiteral("dd.MM.yyyy HH")),
                     storefunctions::format(d, QStringLiteral("DD.MM.YYYY HH")));
        }
    }

    // A store of an older version is summed at start-up; then readings come and go through
    // the program and through other tools, and every coarse chart still equals the statement's.
    void sumsEqualTheStatement_data()
    {
        QTest::addColumn<int>("level");
        QTest::addColumn<QDate>("from");
        QTest::addColumn<QDate>("to");
        QTest::newRow("hour, whole store") << int(history::Level::Hour) << QDate(2026, 1, 1) << QDate(2026, 12, 31);
        QTest::newRow("hour, one day") << int(history::Level::Hour) << QDate(2026, 2, 10) << QDate(2026, 2, 10);
        QTest::newRow("day, across a month") << int(history::Level::Day) << QDate(2026, 1, 31) << QDate(2026, 2, 2);
        QTest::newRow("day, whole store") << int(history::Level::Day) << QDate(2026, 1, 1) << QDate(2026, 12, 31);
        QTest::newRow("month") << int(history::Level::Month) << QDate(2026, 1, 15) << QDate(2026, 3, 1);
        QTest::newRow("year") << int(history::Level::Year) << QDate(2025, 1, 1) << QDate(2027, 1, 1);
        // The finer levels beside the sums, after the same changes.
        QTest::newRow("second, across midnight") << int(history::Level::Second) << QDate(2026, 2, 4) << QDate(2026, 2, 7);
        QTest::newRow("minute, across a month") << int(history::Level::Minute) << QDate(2026, 1, 1) << QDate(2026, 3, 31);
    }
    void sumsEqualTheStatement()
    {
        QFETCH(int, level);
        QFETCH(QDate, from);
        QFETCH(QDate, to);
        QTemporaryDir dir;
        const QString programDir = dir.path() + QLatin1Char('/');
        const QString path = programDir + ReadingStore::fileName();
        QVERIFY(exec(path, "create table stats (Dat DATETIME, Sn Text(16), t float); create index stats_dat on stats(Dat);"));
        fill(path, 11, dat(2026, 1, 28, 22), dat(2026, 2, 12));

        FakeClock clock;
        RecordingLog log;
        ReadingStore store(programDir, clock, log);
        QVERIFY(store.ConnectDB());
        store.waitConsolidated();
        // Later readings through the triggers, across the end of February.
        fill(path, 12, dat(2026, 2, 27, 20), dat(2026, 3, 2, 3));
        clock.setNow(QDateTime(QDate(2026, 2, 11), QTime(12, 0)));
        store.AddToStats(serials.at(0), 21.5);

        TADOQuery query;
        query.setConnectionString(path);
        // The window's deletion of a day, another tool's deletion and change inside an hour.
        store.readingsDeleting();
        QVERIFY(history::deleteReadings(query, {serials.at(1)}, QDate(2026, 2, 1), QDate(2026, 2, 1)) > 0);
        QVERIFY(exec(path, QByteArray("delete from stats where Dat > " + QByteArray::number(dat(2026, 2, 5, 10, 15), 'g', 17)
                                      + " and Dat < " + QByteArray::number(dat(2026, 2, 5, 10, 40), 'g', 17))
                               .constData()));
        QVERIFY(exec(path, QByteArray("update stats set t = t + 1, Dat = Dat + 0.3 where Dat > "
                                      + QByteArray::number(dat(2026, 2, 6, 3, 10), 'g', 17) + " and Dat < "
                                      + QByteArray::number(dat(2026, 2, 6, 3, 20), 'g', 17))
                               .constData()));
        store.CompactDB();
        QVERIFY(store.ready());

        const bool summed = history::Level(level) >= history::Level::Hour;
        // The minutes come from their own sums, filled beside the hourly ones.
        QCOMPARE(history::fromMinuteSums(query, {serials, from, to, history::Level(level)}),
                 history::Level(level) == history::Level::Minute);
        compareCharts(query, {serials, from, to, history::Level(level)}, summed);
        compareCharts(query, {{serials.at(2), serials.at(1)}, from, to, history::Level(level)}, summed);
    }

    // A store without sums yet (an older version's, still being summed) gets every level from
    // its readings, equal to the statement's, labels written with the system's time separator.
    void readingsEqualTheStatement_data()
    {
        QTest::addColumn<int>("level");
        QTest::addColumn<QString>("longTime");
        for (const history::LevelPatterns &p : history::levels())
            QTest::newRow(qPrintable(p.item)) << int(p.level) << QString();
        QTest::newRow("second, dots in the time") << int(history::Level::Second) << QStringLiteral("h.mm.ss AP");
        QTest::newRow("minute, dots in the time") << int(history::Level::Minute) << QStringLiteral("HH.mm.ss");
    }
    void readingsEqualTheStatement()
    {
        QFETCH(int, level);
        QFETCH(QString, longTime);
        if (!longTime.isEmpty()) {
            Formats formats = Formats::russian();
            formats.longTime = longTime;
            Formats::setCurrent(formats);
        }
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("old.st"));
        QVERIFY(exec(path, "create table stats (Dat DATETIME, Sn Text(16), t float); create index stats_dat on stats(Dat);"));
        fill(path, 21, dat(2026, 1, 29, 21), dat(2026, 2, 3, 2));
        TADOQuery query;
        query.setConnectionString(path);
        compareCharts(query, {serials, QDate(2026, 1, 30), QDate(2026, 2, 2), history::Level(level)}, false);
        compareCharts(query, {{serials.at(2)}, QDate(2026, 1, 1), QDate(2026, 12, 31), history::Level(level)}, false);
    }

    // A fill of the minute sums that stops half-way and goes on at the next start: readings
    // inserted, deleted and changed meanwhile, before and after the fill's mark, by the program
    // and by other tools, are each counted once.
    void minuteFillGoesOnWhereItStopped_data()
    {
        QTest::addColumn<QDate>("from");
        QTest::addColumn<QDate>("to");
        // Another tool dropped a trigger while the fill was stopped, then changed readings.
        QTest::addColumn<bool>("triggerLost");
        QTest::newRow("across midnights and a month's end") << QDate(2026, 1, 29) << QDate(2026, 2, 3) << false;
        QTest::newRow("one day") << QDate(2026, 2, 1) << QDate(2026, 2, 1) << false;
        QTest::newRow("the day of the changes") << QDate(2026, 2, 5) << QDate(2026, 2, 5) << false;
        QTest::newRow("the day of the changes, a trigger lost") << QDate(2026, 2, 5) << QDate(2026, 2, 5) << true;
    }
    void minuteFillGoesOnWhereItStopped()
    {
        QFETCH(QDate, from);
        QFETCH(QDate, to);
        QFETCH(bool, triggerLost);
        QTemporaryDir dir;
        const QString path = dir.filePath(ReadingStore::fileName());
        QVERIFY(exec(path, "create table stats (Dat DATETIME, Sn Text(16), t float); create index stats_dat on stats(Dat);"));
        fill(path, 41, dat(2026, 1, 29, 21), dat(2026, 2, 6));
        const std::atomic<bool> go{false};
        QString message;
        // Three steps of forty readings, then the program ends.
        QVERIFY(!consolidation::fillMinutes(path, go, message, 40, 3));
        QCOMPARE(scalar(path, "select done from stats_minutes_fill"), 120);
        QVERIFY(scalar(path, "select upto from stats_minutes_fill") > 350);
        // Another tool's changes on readings the fill has counted, on readings it has not
        // reached and across its mark, and new readings.
        QVERIFY(exec(path, "delete from stats where rowid between 100 and 140"));
        QVERIFY(exec(path, "update stats set t = t + 1, Dat = Dat + 0.0004 where rowid between 20 and 60 or rowid between 250 and 300"));
        QVERIFY(exec(path, "update stats set Sn = 'X' where rowid between 70 and 75 or rowid between 310 and 315"));
        fill(path, 42, dat(2026, 2, 5, 20), dat(2026, 2, 5, 23));
        if (triggerLost)
            QVERIFY(exec(path, "drop trigger stats_minutes_update"));
        QVERIFY(exec(path, QByteArray("update stats set t = 5 where Dat > " + QByteArray::number(dat(2026, 2, 5, 21), 'g', 17)
                                      + " and Dat < " + QByteArray::number(dat(2026, 2, 5, 22), 'g', 17))
                               .constData()));
        // Until the fill has gone on, the chart reads the readings, trigger lost or not.
        {
            TADOQuery stopped;
            stopped.setConnectionString(path);
            const history::ChartRequest request{serials, from, to, history::Level::Minute};
            QVERIFY(!history::fromMinuteSums(stopped, request));
            compareCharts(stopped, request, false);
        }
        QVERIFY2(consolidation::fillMinutes(path, go, message), qPrintable(message));
        QCOMPARE(scalar(path, "select count(*) from sqlite_master where name = 'stats_minutes_fill'"), 0);
        QCOMPARE(scalar(path, "select count(*) from sqlite_master where type = 'trigger' and name like 'stats_minutes_%'"), 3);
        // After the fill the triggers count on their own.
        fill(path, 43, dat(2026, 2, 1, 12), dat(2026, 2, 1, 13));
        QVERIFY(exec(path, QByteArray("delete from stats where Dat > " + QByteArray::number(dat(2026, 2, 1, 12, 30), 'g', 17)
                                      + " and Dat < " + QByteArray::number(dat(2026, 2, 1, 12, 31), 'g', 17))
                               .constData()));
        TADOQuery query;
        query.setConnectionString(path);
        const history::ChartRequest request{serials, from, to, history::Level::Minute};
        QVERIFY(history::fromMinuteSums(query, request));
        compareCharts(query, request, false);
        compareCharts(query, {{serials.at(1), QStringLiteral("X")}, from, to, history::Level::Minute}, false);
        // The sums table equals the readings, minute by minute.
        QCOMPARE(scalar(path, "select sum(R) from stats_minutes"),
                 scalar(path, "select count(*) from stats where typeof(Dat) in ('integer','real') and Dat >= 1"));
    }

    // The program's deletion recomputes the minutes it touched.
    void deletionKeepsTheMinutes()
    {
        QTemporaryDir dir;
        FakeClock clock;
        RecordingLog log;
        ReadingStore store(dir.path() + QLatin1Char('/'), clock, log);
        QVERIFY(store.ConnectDB());
        fill(store.storePath(), 51, dat(2026, 3, 30, 20), dat(2026, 4, 2, 3));
        TADOQuery query;
        query.setConnectionString(store.storePath());
        QVERIFY(history::deleteReadings(query, {serials.at(0), serials.at(2)}, QDate(2026, 3, 31), QDate(2026, 3, 31)) > 0);
        const history::ChartRequest request{serials, QDate(2026, 3, 30), QDate(2026, 4, 2), history::Level::Minute};
        QVERIFY(history::fromMinuteSums(query, request));
        compareCharts(query, request, false);
    }

    // The reading and its hour's sum are one statement: when the sum cannot be written, the
    // reading is not stored either, so no crash can leave one without the other.
    void readingAndItsSumAreOneTransaction()
    {
        QTemporaryDir dir;
        FakeClock clock;
        RecordingLog log;
        ReadingStore store(dir.path() + QLatin1Char('/'), clock, log);
        QVERIFY(store.ConnectDB());
        store.AddToStats(serials.at(0), 20.0);
        QVERIFY(exec(store.storePath(),
                     "create trigger fail_sum before update on stats_hours begin select raise(abort, 'no room'); end;"));
        QVERIFY_THROWS_EXCEPTION(KalvexError, store.AddToStats(serials.at(0), 21.0));
        QCOMPARE(rowCount(store.storePath()), 1);
        QCOMPARE(scalar(store.storePath(), "select sum(R) from stats_hours"), 1);
    }
};

QTEST_GUILESS_MAIN(TestConsolidation)
#include "tst_consolidation.moc"
