#include "StoreTestUtil.h"

#include "base/DateTime.h"
#include "base/Formats.h"
#include "base/KalvexError.h"
#include "history/HistoryCsv.h"
#include "history/HistoryQuery.h"
#include "history/ReadingStore.h"
#include "history/TADOQuery.h"
#include "support/FakeClock.h"
#include "support/RecordingLog.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <charconv>
#include <cmath>
#include <map>
#include <tuple>

using namespace storetest;

namespace {

// A serial as another tool may have stored it: a quote and a comma need CSV quoting.
const QString oddSerial = QStringLiteral("28\"FF,00000000A1");
const QStringList serials{QStringLiteral("28FF64D1A31603C2"), QStringLiteral("10A1B2C3D4E5F6A7"), oddSerial};

QString nameOf(const QString &serial)
{
    if (serial == serials.at(0))
        return QStringLiteral("Кухня \"у окна\", север");
    if (serial == serials.at(1))
        return QStringLiteral("Улица");
    return QString();
}

double dat(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0)
{
    return datetime::fromQDateTime(QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms)));
}

// Readings with every irregularity the groups must survive: any double, a NULL now and then,
// gaps of hours and days, several readings in one second, and readings a hair before midnight
// that the engine's format() already counts to the next day.
void fill(const QString &path, quint32 seed, double from, double to)
{
    QRandomGenerator random(seed);
    QByteArray sql = "begin;";
    const auto quoted = [](const QString &s) { return "'" + QString(s).replace(QLatin1Char('\''), QStringLiteral("''")).toUtf8() + "'"; };
    for (double d = from; d < to;) {
        const QString &sn = serials.at(random.bounded(serials.size()));
        const QString t = random.bounded(40) == 0 ? QStringLiteral("NULL")
                                                  : QString::number(random.bounded(-300, 400) / 10.0, 'g', 17);
        sql += "insert into stats values (" + QByteArray::number(d, 'g', 17) + ", " + quoted(sn) + ", " + t.toUtf8() + ");";
        const int step = random.bounded(100);
        if (step < 2)
            d += random.bounded(1, 40) / 24.0;
        else if (step < 20)
            d += random.bounded(0, 900) / 86400000.0; // the same second, often
        else
            d += random.bounded(1, 1800) / 86400.0;
    }
    for (int day = 0; day < 40; ++day) {
        const double midnight = std::floor(from) + day + 1;
        for (const double edge : {midnight - 0.0004 / 86400.0, midnight - 0.001 / 86400.0, midnight})
            sql += "insert into stats values (" + QByteArray::number(edge, 'g', 17) + ", " + quoted(serials.at(day % 3))
                + ", " + QByteArray::number(day) + ");";
    }
    QVERIFY(exec(path, (sql + "commit;").constData()));
}

// Splits CSV text into its records and fields (quotes as written by the export).
QList<QStringList> parseCsv(const QByteArray &bytes)
{
    const QString text = QString::fromUtf8(bytes);
    QList<QStringList> records;
    QStringList fields;
    QString field;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c == QLatin1Char('"') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('"')) {
                field += c;
                ++i;
            } else if (c == QLatin1Char('"')) {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char(',')) {
            fields << field;
            field.clear();
        } else if (c == QLatin1Char('\n')) {
            fields << field;
            records << fields;
            fields.clear();
            field.clear();
        } else {
            field += c;
        }
    }
    return records;
}

QByteArray exportAll(const QString &path, const history::CsvRequest &request, qsizetype part = 4096)
{
    history::CsvExport csv(path, request, &nameOf);
    QString error;
    if (!csv.open(error))
        return "failed: " + error.toUtf8();
    QByteArray out;
    while (csv.next(out, out.size() + part)) {
    }
    return out;
}

using Point = std::tuple<QString, qint64>; // serial, seconds since 1899-12-30

// The CSV equals the points of the chart statement itself: the same groups, times and means,
// and every line in time order, then serial order.
void compareWithStatement(const QString &path, const history::CsvRequest &request)
{
    TADOQuery query;
    query.setConnectionString(path);
    QStringList ticked = request.serials.isEmpty() ? history::distinctSerials(query) : request.serials;
    std::map<Point, double> expected;
    for (const history::ChartLine &line :
         history::queryChartPlain(query, {ticked, request.from, request.to, request.level})) {
        for (const history::ChartPoint &p : line.points)
            expected[{line.serial, p.x}] = p.y;
    }
    QVERIFY(!expected.empty());

    const QList<QStringList> records = parseCsv(exportAll(path, request));
    QVERIFY(!records.isEmpty());
    QCOMPARE(records.first(), QStringList({"time", "serial", "name", "celsius"}));
    std::map<Point, double> found;
    std::tuple<qint64, QByteArray> previous{-1, {}};
    for (qsizetype i = 1; i < records.size(); ++i) {
        const QStringList &r = records.at(i);
        QCOMPARE(r.size(), 4);
        const QDateTime time = QDateTime::fromString(r.at(0), QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
        QVERIFY2(time.isValid(), qPrintable(r.at(0)));
        const qint64 x = history::secondsSinceEpoch(time);
        QCOMPARE(r.at(2), nameOf(r.at(1)));
        // A group of NULL readings only has no mean; the chart draws it at 0.
        double y = 0;
        if (!r.at(3).isEmpty()) {
            const QByteArray digits = r.at(3).toLatin1();
            QVERIFY2(std::from_chars(digits.constData(), digits.constData() + digits.size(), y).ec == std::errc(),
                     digits.constData());
        }
        const std::tuple<qint64, QByteArray> order{x, r.at(1).toUtf8()};
        QVERIFY2(previous < order, qPrintable(r.join(QLatin1Char(','))));
        previous = order;
        found[{r.at(1), x}] = y;
    }
    QCOMPARE(found.size(), expected.size());
    for (const auto &[point, y] : expected) {
        const auto it = found.find(point);
        QVERIFY2(it != found.end(), qPrintable(std::get<0>(point) + QLatin1Char(' ') + QString::number(std::get<1>(point))));
        QVERIFY2(std::abs(it->second - y) <= 1e-9, qPrintable(QString::number(std::get<1>(point))));
    }
}

QString hash(const QString &path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return QString::fromLatin1(QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha1).toHex());
}

} // namespace

class TestHistoryCsv : public QObject
{
    Q_OBJECT

private slots:
    void init() { Formats::setCurrent(Formats::russian()); }

    // Both kinds of store: the program's (hourly sums kept by the triggers) and an older one
    // without them, read from its readings.
    void csvEqualsTheChart_data()
    {
        QTest::addColumn<bool>("sums");
        QTest::addColumn<int>("level");
        QTest::addColumn<QDate>("from");
        QTest::addColumn<QDate>("to");
        QTest::addColumn<QStringList>("ticked");
        for (const bool sums : {true, false}) {
            const char *kind = sums ? "sums" : "readings";
            for (const history::LevelPatterns &p : history::levels()) {
                const QByteArray level = QByteArray(kind) + ", " + p.item.toUtf8();
                QTest::newRow(level + ", every serial, across the month's end")
                    << sums << int(p.level) << QDate(2026, 1, 30) << QDate(2026, 2, 2) << QStringList();
                QTest::newRow(level + ", two serials, one day")
                    << sums << int(p.level) << QDate(2026, 2, 1) << QDate(2026, 2, 1) << QStringList{oddSerial, serials.at(0)};
            }
            QTest::newRow(QByteArray(kind) + ", year, every day stored")
                << sums << int(history::Level::Year) << QDate(2025, 1, 1) << QDate(2026, 12, 31) << QStringList();
            QTest::newRow(QByteArray(kind) + ", month, every day stored")
                << sums << int(history::Level::Month) << QDate(2026, 1, 1) << QDate(2026, 12, 31) << QStringList{serials.at(1)};
        }
    }
    void csvEqualsTheChart()
    {
        QFETCH(bool, sums);
        QFETCH(int, level);
        QFETCH(QDate, from);
        QFETCH(QDate, to);
        QFETCH(QStringList, ticked);
        QTemporaryDir dir;
        const QString programDir = dir.path() + QLatin1Char('/');
        const QString path = programDir + ReadingStore::fileName();
        if (sums) {
            FakeClock clock;
            RecordingLog log;
            ReadingStore store(programDir, clock, log);
            QVERIFY(store.ConnectDB());
        } else {
            QVERIFY(exec(path, "create table stats (Dat DATETIME, Sn Text(16), t float); create index stats_dat on stats(Dat);"));
        }
        fill(path, 31, dat(2026, 1, 29, 21), dat(2026, 2, 3, 2));
        QCOMPARE(scalar(path, "select count(*) from sqlite_master where name = 'stats_hours'"), sums ? 1 : 0);
        compareWithStatement(path, {from, to, history::Level(level), ticked});
    }

    // However the output is cut into parts, the text is the same.
    void partsDoNotChangeTheText()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("k.st"));
        QVERIFY(exec(path, "create table stats (Dat DATETIME, Sn Text(16), t float);"));
        fill(path, 5, dat(2026, 3, 28, 22), dat(2026, 4, 1, 2));
        const history::CsvRequest request{QDate(2026, 3, 28), QDate(2026, 4, 1), history::Level::Second, {}};
        const QByteArray whole = exportAll(path, request, 1 << 30);
        QVERIFY(whole.count('\n') > 100);
        QCOMPARE(exportAll(path, request, 1), whole);
        QCOMPARE(exportAll(path, request, 777), whole);
    }

    void badParameters_data()
    {
        QTest::addColumn<QList<QByteArray>>("query"); // name, value, name, value, ...
        QTest::addColumn<QString>("reason");
        const auto q = [](std::initializer_list<const char *> parts) {
            QList<QByteArray> list;
            for (const char *p : parts)
                list << QByteArray(p);
            return list;
        };
        QTest::newRow("no level") << q({"from", "2026-01-01", "to", "2026-01-02"}) << "нет параметра level";
        QTest::newRow("no from") << q({"to", "2026-01-02", "level", "hour"}) << "нет параметра from";
        QTest::newRow("unknown level") << q({"from", "2026-01-01", "to", "2026-01-02", "level", "Час"})
                                       << "неверная детализация level=Час: нужна одна из second, minute, hour, day, month, year";
        QTest::newRow("level in capitals") << q({"from", "2026-01-01", "to", "2026-01-02", "level", "HOUR"})
                                           << "неверная детализация level=HOUR: нужна одна из second, minute, hour, day, month, year";
        QTest::newRow("no such day") << q({"from", "2026-02-30", "to", "2026-03-02", "level", "day"})
                                     << "неверная дата from=2026-02-30: нужен день ГГГГ-ММ-ДД от 1900-01-01 до 9999-12-30";
        QTest::newRow("Russian date") << q({"from", "01.02.2026", "to", "2026-03-02", "level", "day"})
                                      << "неверная дата from=01.02.2026: нужен день ГГГГ-ММ-ДД от 1900-01-01 до 9999-12-30";
        QTest::newRow("before the store's days") << q({"from", "1899-12-30", "to", "2026-03-02", "level", "day"})
                                                 << "неверная дата from=1899-12-30: нужен день ГГГГ-ММ-ДД от 1900-01-01 до 9999-12-30";
        QTest::newRow("from after to") << q({"from", "2026-03-03", "to", "2026-03-02", "level", "day"}) << "from позже to";
        QTest::newRow("twice") << q({"from", "2026-03-01", "to", "2026-03-02", "level", "day", "level", "hour"})
                               << "параметр level задан дважды";
        QTest::newRow("empty serial") << q({"from", "2026-03-01", "to", "2026-03-02", "level", "day", "sn", ""})
                                      << "пустой серийный номер sn";
        QTest::newRow("unknown name") << q({"from", "2026-03-01", "to", "2026-03-02", "level", "day", "serial", "28FF"})
                                      << "неизвестный параметр serial";
    }
    void badParameters()
    {
        QFETCH(QList<QByteArray>, query);
        QFETCH(QString, reason);
        std::vector<std::pair<QByteArray, QByteArray>> pairs;
        for (qsizetype i = 0; i + 1 < query.size(); i += 2)
            pairs.emplace_back(query.at(i), query.at(i + 1));
        QString found;
        QVERIFY(!history::csvRequest(pairs, found));
        QCOMPARE(found, reason);
    }

    void goodParameters()
    {
        QString reason;
        const auto request = history::csvRequest({{"sn", "B"}, {"from", "2026-03-01"}, {"level", "minute"},
                                                  {"to", "2026-03-02"}, {"sn", "A"}, {"sn", "B"}},
                                                 reason);
        QVERIFY2(request, qPrintable(reason));
        QCOMPARE(request->from, QDate(2026, 3, 1));
        QCOMPARE(request->to, QDate(2026, 3, 2));
        QCOMPARE(request->level, history::Level::Minute);
        QCOMPARE(request->serials, QStringList({"B", "A"}));
    }

    // The export reads only: a read-only store serves and stays as it was; a missing one is an
    // error with the engine's reason, and no store is made in its place.
    void storeReadOnlyOrMissing()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(ReadingStore::fileName());
        {
            FakeClock clock;
            RecordingLog log;
            ReadingStore store(dir.path() + QLatin1Char('/'), clock, log);
            QVERIFY(store.ConnectDB());
            clock.setNow(QDateTime(QDate(2026, 5, 1), QTime(10, 0, 5)));
            store.AddToStats(serials.at(0), 21.5);
            clock.setNow(QDateTime(QDate(2026, 5, 1), QTime(10, 30, 5)));
            store.AddToStats(serials.at(0), 22.0);
        }
        QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther));
        const QString before = hash(path);
        const QByteArray csv = exportAll(path, {QDate(2026, 5, 1), QDate(2026, 5, 1), history::Level::Hour, {}});
        QCOMPARE(csv, QByteArray("time,serial,name,celsius\n2026-05-01T10:00:00,28FF64D1A31603C2,"
                                 "\"Кухня \"\"у окна\"\", север\",21.75\n"));
        QCOMPARE(hash(path), before);

        const QString missing = dir.filePath(QStringLiteral("none/Kalvex.st"));
        history::CsvExport csvOfNothing(missing, {QDate(2026, 5, 1), QDate(2026, 5, 1), history::Level::Hour, {}}, {});
        QString error;
        QVERIFY(!csvOfNothing.open(error));
        QCOMPARE(error, QStringLiteral("unable to open database file"));
        QVERIFY(!QFile::exists(missing));

        // A file that is no store: the table's absence is the reason.
        const QString empty = dir.filePath(QStringLiteral("empty.st"));
        QVERIFY(exec(empty, "create table other (x)"));
        history::CsvExport csvOfOther(empty, {QDate(2026, 5, 1), QDate(2026, 5, 1), history::Level::Second, {}}, {});
        QVERIFY(!csvOfOther.open(error));
        QCOMPARE(error, QStringLiteral("no such table: Stats"));
    }

    // An export under way holds a read snapshot only: the cycle's inserts go on meanwhile
    // (write-ahead log), and the export gives the readings of the moment it started.
    void insertsGoOnDuringAnExport()
    {
        QTemporaryDir dir;
        FakeClock clock;
        RecordingLog log;
        ReadingStore store(dir.path() + QLatin1Char('/'), clock, log);
        QVERIFY(store.ConnectDB());
        QByteArray sql = "begin;";
        for (int i = 0; i < 20000; ++i)
            sql += "insert into stats values (" + QByteArray::number(dat(2026, 6, 1) + i / 86400.0, 'g', 17) + ", 'A', 1);";
        QVERIFY(exec(store.storePath(), (sql + "commit;").constData()));

        history::CsvExport csv(store.storePath(), {QDate(2026, 6, 1), QDate(2026, 6, 1), history::Level::Second, {}}, {});
        QString error;
        QVERIFY(csv.open(error));
        QByteArray out;
        QVERIFY(csv.next(out, 1000));
        clock.setNow(QDateTime(QDate(2026, 6, 1), QTime(23, 0)));
        for (int i = 0; i < 5; ++i)
            store.AddToStats(QStringLiteral("A"), 2);
        QCOMPARE(rowCount(store.storePath()), 20005);
        while (csv.next(out, out.size() + 65536)) {
        }
        QCOMPARE(out.count('\n'), 20001);
    }

    // A cancel from another thread ends the export at its next step.
    void cancelStopsTheExport()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("k.st"));
        QVERIFY(exec(path, "create table stats (Dat DATETIME, Sn Text(16), t float);"));
        fill(path, 9, dat(2026, 3, 1), dat(2026, 3, 3));
        history::CsvExport csv(path, {QDate(2026, 3, 1), QDate(2026, 3, 3), history::Level::Second, {}}, {});
        QString error;
        QVERIFY(csv.open(error));
        QByteArray out;
        QVERIFY(csv.next(out, 100));
        csv.cancel();
        QVERIFY_THROWS_EXCEPTION(KalvexError, csv.next(out, 1 << 30));
    }
};

QTEST_GUILESS_MAIN(TestHistoryCsv)
#include "tst_historycsv.moc"
