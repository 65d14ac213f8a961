#include "history/HistoryQuery.h"

#include "base/DateTime.h"
#include "base/Formats.h"
#include "base/KalvexError.h"
#include "history/Consolidation.h"
#include "history/StoreFunctions.h"
#include "history/TADOQuery.h"

#include <QRegularExpression>

#include <algorithm>
#include <deque>
#include <map>
#include <tuple>
#include <unordered_map>

namespace history {
namespace {

const QDate epoch(1899, 12, 30);

QString paramName(int index)
{
    return QStringLiteral("Sn") + QString::number(index + 1);
}

[[noreturn]] void notADateTime(const QString &text)
{
    throw KalvexError(QLatin1Char('\'') + text + QStringLiteral("' is not a valid date and time"));
}

} // namespace

const std::array<LevelPatterns, 6> &levels()
{
    static const std::array<LevelPatterns, 6> table{{
        {Level::Second, QStringLiteral("Секунда"), QStringLiteral("DD.MM.YYYY HH:mm:ss"),
         QStringLiteral("YYYY.MM.DD HH:mm:ss"), false},
        {Level::Minute, QStringLiteral("Минута"), QStringLiteral("DD.MM.YYYY HH:mm:00"),
         QStringLiteral("YYYY.MM.DD HH:mm"), false},
        {Level::Hour, QStringLiteral("Час"), QStringLiteral("DD.MM.YYYY HH:00:00"), QStringLiteral("YYYY.MM.DD HH"),
         false},
        {Level::Day, QStringLiteral("День"), QStringLiteral("DD.MM.YYYY 00:00:00"), QStringLiteral("YYYY.MM.DD"),
         false},
        {Level::Month, QStringLiteral("Месяц"), QStringLiteral("YYYY-MM-01 00:00:00"), QStringLiteral("YYYY.MM"),
         true},
        {Level::Year, QStringLiteral("Год"), QStringLiteral("YYYY-01-01 00:00:00"), QStringLiteral("YYYY"), true},
    }};
    return table;
}

const LevelPatterns &patterns(Level level)
{
    return levels().at(static_cast<std::size_t>(level));
}

QStringList levelItems()
{
    QStringList items;
    for (const LevelPatterns &p : levels())
        items << p.item;
    return items;
}

Level levelOf(const QString &detalText)
{
    Level chosen = Level::Hour;
    for (const LevelPatterns &p : levels()) {
        if (detalText == p.item)
            chosen = p.level;
    }
    return chosen;
}

// Worked out from the day alone, as the date-time double counts: a local date-time object would
// ask the system's time zone, which has nothing to say about these times (and where a clock
// change falls on midnight, calls it a time that does not exist).
double rangeStart(const QDate &from)
{
    return static_cast<double>(epoch.daysTo(from));
}

double rangeEnd(const QDate &to)
{
    if (!to.isValid())
        return 0;
    const double days = static_cast<double>(epoch.daysTo(to));
    const double fraction = 86399999.0 / 86400000.0;
    // Before the epoch the fraction counts away from zero.
    return days >= 0 ? days + fraction : days - fraction;
}

QString selectionParams(int count)
{
    QStringList names;
    for (int i = 0; i < count; ++i)
        names << QLatin1Char(':') + paramName(i);
    return names.join(QLatin1Char(','));
}

QString chartStatement(Level level, int serialCount)
{
    const QString key = patterns(level).keyPattern;
    return QStringLiteral("SELECT format(dat, \"") + key
        + QStringLiteral("\"), Sn, AVG(t) FROM Stats WHERE (Dat>=:DatFrom AND Dat<=:DatTo) AND Sn IN (")
        + selectionParams(serialCount) + QStringLiteral(") GROUP BY format(dat, \"") + key
        + QStringLiteral("\"), Sn ORDER By Sn;");
}

QString deleteStatement(int serialCount)
{
    return QStringLiteral("DELETE FROM Stats WHERE (Dat>=:DatFrom AND Dat<=:DatTo) AND Sn IN (")
        + selectionParams(serialCount) + QStringLiteral(");");
}

void bindRange(TADOQuery &query, const QStringList &serials, const QDate &from, const QDate &to)
{
    query.setDateTime(QStringLiteral("DatFrom"), rangeStart(from));
    query.setDateTime(QStringLiteral("DatTo"), rangeEnd(to));
    for (int i = 0; i < serials.size(); ++i)
        query.setText(paramName(i), serials.at(i));
}

QDateTime readKey(const QString &text, Level level)
{
    static const QRegularExpression dayFirst(
        QStringLiteral("^(\\d{1,2})\\.(\\d{1,2})\\.(\\d{1,4}) (\\d{1,2}):(\\d{1,2}):(\\d{1,2})$"));
    static const QRegularExpression yearFirst(
        QStringLiteral("^(\\d{1,4})-(\\d{1,2})-(\\d{1,2})(?: (\\d{1,2}):(\\d{1,2}):(\\d{1,2}))?$"));
    const bool isoKey = patterns(level).yearFirstKey;
    const QRegularExpressionMatch m = (isoKey ? yearFirst : dayFirst).match(text);
    if (!m.hasMatch())
        notADateTime(text);
    const auto part = [&m](int n) { return m.captured(n).toInt(); };
    const QDate date = isoKey ? QDate(part(1), part(2), part(3)) : QDate(part(3), part(2), part(1));
    // The month and year keys read their time part as midnight, as written.
    const QTime time = m.captured(4).isEmpty() ? QTime(0, 0) : QTime(part(4), part(5), part(6));
    if (!date.isValid() || !time.isValid())
        notADateTime(text);
    return QDateTime(date, time);
}

qint64 secondsSinceEpoch(const QDateTime &value)
{
    return epoch.daysTo(value.date()) * 86400 + value.time().msecsSinceStartOfDay() / 1000;
}

QString pointLabel(const QDateTime &value, Level level, const QString &timeSeparator)
{
    // The store's format() speaks the same pattern letters; the key is a whole second, so no
    // rounding of the date-time double can move it.
    QString label = storefunctions::format(datetime::fromQDateTime(value), patterns(level).labelPattern);
    if (timeSeparator != QLatin1String(":"))
        label.replace(QLatin1Char(':'), timeSeparator);
    return label;
}

QString timeSeparator()
{
    const QString pattern = Formats::current().longTime;
    // The first character that is no pattern letter and no quote, after the hour.
    const qsizetype hour = pattern.indexOf(QRegularExpression(QStringLiteral("[Hh]")));
    for (qsizetype i = hour < 0 ? 0 : hour; i < pattern.size(); ++i) {
        const QChar c = pattern.at(i);
        if (!c.isLetter() && c != QLatin1Char('\''))
            return QString(c);
    }
    return QStringLiteral(":");
}

namespace {

bool isCoarse(Level level)
{
    return level == Level::Hour || level == Level::Day || level == Level::Month || level == Level::Year;
}

bool hasSums(TADOQuery &query)
{
    query.Close();
    query.SQL.Clear();
    query.SQL.Add(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE (type = 'table' AND name = 'stats_hours') "
                                 "OR (type = 'trigger' AND tbl_name = 'stats' AND name IN "
                                 "('stats_hours_insert', 'stats_hours_delete', 'stats_hours_update'))"));
    query.Open();
    const bool complete = !query.Eof() && query.Fields(0).AsInteger() == 4;
    query.Close();
    return complete;
}

// The minute sums count for a chart once they are whole: no fill under way.
bool hasMinutes(TADOQuery &query)
{
    query.Close();
    query.SQL.Clear();
    query.SQL.Add(QString::fromLatin1(consolidation::minutesPresentSql()));
    query.Open();
    const bool complete = !query.Eof() && query.Fields(0).AsInteger() == 1;
    query.Close();
    return complete;
}

void bindSerials(TADOQuery &query, const QStringList &serials)
{
    for (int i = 0; i < serials.size(); ++i)
        query.setText(paramName(i), serials.at(i));
}

enum class Source { Statement, Sums, Minutes, Readings };

Source sourceOf(TADOQuery &query, const ChartRequest &request)
{
    const double from = rangeStart(request.from);
    const double to = rangeEnd(request.to);
    // Inside these bounds every key has a four-digit year and reads back; outside them the
    // statement itself runs, with its conversion errors.
    if (!(from >= 1.0 && to < 2958465.0 && from <= to))
        return Source::Statement;
    if (request.level == Level::Minute)
        return hasMinutes(query) ? Source::Minutes : Source::Readings;
    return isCoarse(request.level) && hasSums(query) ? Source::Sums : Source::Readings;
}

constexpr qint64 secondsPerDay = 86400;

// A group's key held as the whole seconds since 1899-12-30 00:00 of the time it writes.
using GroupKey = qint64;

struct GroupSums
{
    double s = 0;
    qint64 n = 0;
    qint64 r = 0;
};

// The key of the group an hour falls in.
GroupKey groupOfHour(qint64 hk, Level level)
{
    const qint64 day = hk / 24;
    switch (level) {
    case Level::Hour:
        return day * secondsPerDay + hk % 24 * 3600;
    case Level::Month:
    case Level::Year: {
        const QDate date = epoch.addDays(day);
        const QDate first(date.year(), level == Level::Month ? date.month() : 1, 1);
        return epoch.daysTo(first) * secondsPerDay;
    }
    default:
        return day * secondsPerDay;
    }
}

// pointLabel's text, without a date-time object per point.
QString labelOf(int y, int m, int d, int second, Level level, const QString &separator)
{
    QString text;
    text.reserve(20);
    const auto two = [&text](int value) {
        text += QLatin1Char(static_cast<char>('0' + value / 10 % 10));
        text += QLatin1Char(static_cast<char>('0' + value % 10));
    };
    two(y / 100);
    two(y % 100);
    if (level != Level::Year) {
        text += QLatin1Char('.');
        two(m);
    }
    if (level <= Level::Day) {
        text += QLatin1Char('.');
        two(d);
    }
    if (level <= Level::Hour) {
        text += QLatin1Char(' ');
        two(second / 3600);
    }
    if (level <= Level::Minute) {
        text += separator;
        two(second / 60 % 60);
    }
    if (level == Level::Second) {
        text += separator;
        two(second % 60);
    }
    return text;
}

} // namespace

QString pointLabel(qint64 x, Level level, const QString &timeSeparator)
{
    const qint64 day = x >= 0 ? x / secondsPerDay : -((-x + secondsPerDay - 1) / secondsPerDay);
    int y = 0;
    int m = 0;
    int d = 0;
    epoch.addDays(day).getDate(&y, &m, &d);
    return labelOf(y, m, d, static_cast<int>(x - day * secondsPerDay), level, timeSeparator);
}

namespace {

// The groups of a chart by serial and key, summed as they come in any order, and then given
// out as the statement gives its rows: serials in the order of their bytes, each serial's groups
// in the order of their key texts. Keys are numbers here, so no text is written per reading.
class Groups
{
public:
    explicit Groups(const QStringList &serials)
    {
        for (const QString &serial : serials)
            m_serials.push_back(Serial{serial.toUtf8(), {}});
    }

    GroupSums &at(QByteArrayView serial, GroupKey key)
    {
        // Readings come mostly in time order: often the same group as the row before.
        if (m_lastGroup && key == m_lastKey && m_lastSerial->utf8 == serial)
            return *m_lastGroup;
        m_lastSerial = &serialOf(serial);
        m_lastKey = key;
        m_lastGroup = &m_lastSerial->groups[key];
        return *m_lastGroup;
    }

    // Ends with KalvexError "interrupted" when the query's interrupt check says so.
    std::vector<ChartLine> lines(const TADOQuery &query, Level level, const ChartProgress &progress) const;

private:
    struct Serial
    {
        QByteArray utf8;
        std::unordered_map<GroupKey, GroupSums> groups;
    };

    Serial &serialOf(QByteArrayView utf8)
    {
        for (Serial &serial : m_serials) {
            if (serial.utf8 == utf8)
                return serial;
        }
        // Only a collation of another tool's making could match a serial not asked for.
        m_serials.push_back(Serial{utf8.toByteArray(), {}});
        return m_serials.back();
    }

    std::deque<Serial> m_serials; // never moves a serial, so the pointers below stay good
    Serial *m_lastSerial = nullptr;
    GroupKey m_lastKey = 0;
    GroupSums *m_lastGroup = nullptr;
};

// Millions of points take seconds to make: a cancel is heard every so many.
constexpr int checkEvery = 4096;

[[noreturn]] void interrupted()
{
    throw KalvexError(QStringLiteral("interrupted"));
}

std::vector<ChartLine> Groups::lines(const TADOQuery &query, Level level, const ChartProgress &progress) const
{
    std::vector<const Serial *> serials;
    int rows = 0;
    for (const Serial &serial : m_serials) {
        const auto groups = std::count_if(serial.groups.begin(), serial.groups.end(),
                                          [](const auto &group) { return group.second.r > 0; });
        if (groups > 0)
            serials.push_back(&serial);
        rows += static_cast<int>(groups);
    }
    std::sort(serials.begin(), serials.end(), [](const Serial *a, const Serial *b) { return a->utf8 < b->utf8; });
    if (progress.maximum)
        progress.maximum(rows);

    const bool yearFirst = patterns(level).yearFirstKey;
    struct Point
    {
        qint64 order;
        GroupKey key;
        int year;
        int month;
        int day;
        const GroupSums *sums;
    };
    std::vector<ChartLine> lines;
    std::vector<Point> points;
    int row = 0;
    for (const Serial *serial : serials) {
        points.clear();
        for (const auto &[key, sums] : serial->groups) {
            if (sums.r <= 0)
                continue;
            int y = 0;
            int m = 0;
            int d = 0;
            epoch.addDays(key / secondsPerDay).getDate(&y, &m, &d);
            const qint64 second = key % secondsPerDay;
            // The key text's order: day.month.year or year-month-day, then the time; every year
            // has four digits here.
            const qint64 order = yearFirst ? ((qint64(y) * 13 + m) * 32 + d) * secondsPerDay + second
                                           : ((qint64(d) * 13 + m) * 10000 + y) * secondsPerDay + second;
            points.push_back(Point{order, key, y, m, d, &sums});
        }
        std::sort(points.begin(), points.end(), [](const Point &a, const Point &b) { return a.order < b.order; });
        ChartLine line{QString::fromUtf8(serial->utf8), {}};
        line.points.reserve(points.size());
        for (const Point &p : points) {
            if (++row % checkEvery == 1 && query.Interrupted())
                interrupted();
            if (progress.position)
                progress.position(row);
            // A group of NULL readings only: the engine's mean is NULL, read as 0.
            const double mean = p.sums->n > 0 ? p.sums->s / static_cast<double>(p.sums->n) : 0.0;
            line.points.push_back(ChartPoint{p.key, mean});
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

// The readings of one edge hour that the sums hold but the range does not (sign -1), or that the
// range holds in an hour the sums were not asked for (sign +1): a reading a hair before midnight
// counts to the next day's first hour.
void addEdge(TADOQuery &query, const ChartRequest &request, const QString &condition, double datBound,
             double datLimit, qint64 hk, int sign, Groups &groups)
{
    query.Close();
    query.SQL.Clear();
    query.SQL.Add(QStringLiteral("SELECT Sn, total(t), count(t), count(*) FROM Stats WHERE ") + condition
                  + QStringLiteral(" AND Sn IN (") + selectionParams(static_cast<int>(request.serials.size()))
                  + QStringLiteral(") AND ") + consolidation::hourKeySql(QStringLiteral("Dat"))
                  + QStringLiteral(" = :Hk GROUP BY Sn"));
    query.setDateTime(QStringLiteral("Bound"), datBound);
    query.setDateTime(QStringLiteral("Limit"), datLimit);
    query.setFloat(QStringLiteral("Hk"), static_cast<double>(hk));
    bindSerials(query, request.serials);
    const GroupKey key = groupOfHour(hk, request.level);
    query.Scan([&](const TRowView &row) {
        GroupSums &group = groups.at(row.AsUtf8(0), key);
        group.s += sign * row.AsFloat(1);
        group.n += sign * row.AsInteger(2);
        group.r += sign * row.AsInteger(3);
    });
}

std::vector<ChartLine> chartFromSums(TADOQuery &query, const ChartRequest &request, const ChartProgress &progress)
{
    const double from = rangeStart(request.from);
    const double to = rangeEnd(request.to);
    const qint64 first = consolidation::hourKey(from);
    const qint64 last = consolidation::hourKey(to);

    Groups groups(request.serials);
    query.Close();
    query.SQL.Clear();
    // Coarser than the hour, the days are summed by the engine: a year is then a few thousand
    // rows instead of a hundred thousand.
    const bool hours = request.level == Level::Hour;
    query.SQL.Add(QStringLiteral("SELECT Sn, ")
                  + (hours ? QStringLiteral("Hk, S, N, R") : QStringLiteral("Hk / 24 * 24, total(S), total(N), total(R)"))
                  + QStringLiteral(" FROM stats_hours WHERE Sn IN (")
                  + selectionParams(static_cast<int>(request.serials.size()))
                  + QStringLiteral(") AND Hk >= :HkFrom AND Hk <= :HkTo")
                  + (hours ? QString() : QStringLiteral(" GROUP BY Sn, Hk / 24")));
    query.setFloat(QStringLiteral("HkFrom"), static_cast<double>(first));
    query.setFloat(QStringLiteral("HkTo"), static_cast<double>(last));
    bindSerials(query, request.serials);
    query.Scan([&](const TRowView &row) {
        GroupSums &group = groups.at(row.AsUtf8(0), groupOfHour(row.AsInteger(1), request.level));
        group.s += row.AsFloat(2);
        group.n += row.AsInteger(3);
        group.r += row.AsInteger(4);
    });
    const double oneSecond = 1.0 / 86400.0;
    addEdge(query, request, QStringLiteral("Dat >= :Bound AND Dat < :Limit"), from - oneSecond, from, first, -1, groups);
    addEdge(query, request, QStringLiteral("Dat > :Bound AND Dat <= :Limit"), to - oneSecond, to, last + 1, +1, groups);
    return groups.lines(query, request.level, progress);
}

// The statement's groups summed here from the readings themselves: the same rows by the same
// condition, each cut where format() cuts it, without a text per reading and without the
// engine sorting every reading by its key.
std::vector<ChartLine> chartFromReadings(TADOQuery &query, const ChartRequest &request, const ChartProgress &progress)
{
    query.Close();
    query.SQL.Clear();
    query.SQL.Add(QStringLiteral("SELECT Dat, Sn, t FROM Stats WHERE (Dat>=:DatFrom AND Dat<=:DatTo) AND Sn IN (")
                  + selectionParams(static_cast<int>(request.serials.size())) + QStringLiteral(")"));
    bindRange(query, request.serials, request.from, request.to);
    Groups groups(request.serials);
    const Level level = request.level;
    const qint64 width = level == Level::Second ? 1 : level == Level::Minute ? 60 : level == Level::Hour ? 3600 : secondsPerDay;
    // Months and years from the day, worked out once a day.
    qint64 lastDay = -1;
    GroupKey lastDayGroup = 0;
    query.Scan([&](const TRowView &row) {
        const storefunctions::DaySecond at = storefunctions::daySecond(row.AsFloat(0));
        GroupKey key = 0;
        if (level == Level::Month || level == Level::Year) {
            if (at.day != lastDay) {
                lastDay = at.day;
                lastDayGroup = groupOfHour(at.day * 24, level);
            }
            key = lastDayGroup;
        } else {
            key = at.day * secondsPerDay + at.second / width * width;
        }
        GroupSums &group = groups.at(row.AsUtf8(1), key);
        ++group.r;
        if (!row.IsNull(2)) {
            group.s += row.AsFloat(2);
            ++group.n;
        }
    });
    return groups.lines(query, level, progress);
}

// A group's sums in a line being built: `key` counts units (seconds or minutes) since
// 1899-12-30 00:00.
struct UnitSum
{
    qint64 key;
    double s;
    qint64 n;
    qint64 r;
};

// Lines of the second or the minute level made from each serial's sums in the order of their
// keys, lean: a month at seconds or a year at minutes is millions of points, so nothing is kept
// per group beyond the point itself.
class LeanLines
{
public:
    LeanLines(Level level, const TADOQuery &query, const ChartProgress &progress)
        : m_unit(level == Level::Second ? 1 : 60)
        , m_query(query)
        , m_progress(progress)
    {
    }

    // The line of one serial from its sums (the keys ascending); groups without rows are left
    // out. Ends with KalvexError "interrupted" when the query's interrupt check says so.
    void finish(const QByteArray &serial, std::vector<UnitSum> &sums)
    {
        sums.erase(std::remove_if(sums.begin(), sums.end(), [](const UnitSum &sum) { return sum.r <= 0; }), sums.end());
        if (sums.empty())
            return;
        const qint64 perDay = secondsPerDay / m_unit;
        // The statement's order within a serial is its key texts', day.month.year first; within
        // a day the keys are in order already, so whole days are sorted.
        std::vector<std::pair<qint64, std::size_t>> days;
        for (std::size_t i = 0; i < sums.size(); ++i) {
            if (i == 0 || sums[i].key / perDay != sums[i - 1].key / perDay) {
                int y = 0;
                int m = 0;
                int d = 0;
                epoch.addDays(sums[i].key / perDay).getDate(&y, &m, &d);
                days.emplace_back((qint64(d) * 13 + m) * 10000 + y, i);
            }
        }
        std::sort(days.begin(), days.end());
        ChartLine out{QString::fromUtf8(serial), {}};
        out.points.reserve(sums.size());
        for (const auto &[dayOrder, start] : days) {
            const qint64 day = sums[start].key / perDay;
            for (std::size_t i = start; i < sums.size() && sums[i].key / perDay == day; ++i) {
                if (++m_row % checkEvery == 1 && m_query.Interrupted())
                    interrupted();
                if (m_progress.position)
                    m_progress.position(m_row);
                const UnitSum &sum = sums[i];
                const double mean = sum.n > 0 ? sum.s / static_cast<double>(sum.n) : 0.0;
                out.points.push_back(ChartPoint{sum.key * m_unit, mean});
            }
        }
        lines.push_back(std::move(out));
    }

    std::vector<ChartLine> lines;

private:
    const qint64 m_unit;
    const TADOQuery &m_query;
    const ChartProgress &m_progress;
    int m_row = 0;
};

// The minute chart from the minute sums.
std::vector<ChartLine> chartFromMinutes(TADOQuery &query, const ChartRequest &request, const ChartProgress &progress)
{
    const double from = rangeStart(request.from);
    const double to = rangeEnd(request.to);
    const qint64 first = consolidation::minuteKey(from);
    const qint64 last = consolidation::minuteKey(to);
    const QString serialList = selectionParams(static_cast<int>(request.serials.size()));

    struct Edge
    {
        QByteArray serial;
        UnitSum sum;
    };
    // The readings of the two edge minutes that the sums hold but the range does not, or the
    // other way round (as for the hours: see addEdge).
    std::vector<Edge> edges;
    const double oneSecond = 1.0 / 86400.0;
    const QString mkSql = consolidation::minuteKeySql(QStringLiteral("Dat"));
    for (const auto &[condition, bound, limit, mk, sign] :
         {std::tuple{QStringLiteral("Dat >= :Bound AND Dat < :Limit"), from - oneSecond, from, first, -1},
          std::tuple{QStringLiteral("Dat > :Bound AND Dat <= :Limit"), to - oneSecond, to, last + 1, +1}}) {
        query.Close();
        query.SQL.Clear();
        query.SQL.Add(QStringLiteral("SELECT Sn, total(t), count(t), count(*) FROM Stats WHERE ") + condition
                      + QStringLiteral(" AND Sn IN (") + serialList + QStringLiteral(") AND ") + mkSql
                      + QStringLiteral(" = :Mk GROUP BY Sn"));
        query.setDateTime(QStringLiteral("Bound"), bound);
        query.setDateTime(QStringLiteral("Limit"), limit);
        query.setFloat(QStringLiteral("Mk"), static_cast<double>(mk));
        bindSerials(query, request.serials);
        query.Scan([&, mk = mk, sign = sign](const TRowView &row) {
            edges.push_back(Edge{row.AsUtf8(0).toByteArray(),
                                 UnitSum{mk, sign * row.AsFloat(1), sign * row.AsInteger(2), sign * row.AsInteger(3)}});
        });
    }

    LeanLines lines(Level::Minute, query, progress);
    std::sort(edges.begin(), edges.end(), [](const Edge &a, const Edge &b) { return a.serial < b.serial; });
    std::size_t nextEdge = 0;
    // One serial's sums with its edges.
    const auto finish = [&](const QByteArray &serial, std::vector<UnitSum> &line) {
        for (; nextEdge < edges.size() && edges[nextEdge].serial == serial; ++nextEdge) {
            const UnitSum &edge = edges[nextEdge].sum;
            const auto at = std::lower_bound(line.begin(), line.end(), edge.key,
                                             [](const UnitSum &a, qint64 key) { return a.key < key; });
            if (at != line.end() && at->key == edge.key) {
                at->s += edge.s;
                at->n += edge.n;
                at->r += edge.r;
            } else {
                line.insert(at, edge);
            }
        }
        lines.finish(serial, line);
    };
    // Serials of the edges alone, before `serial` in byte order (or all that are left).
    const auto finishEdgesBefore = [&](const QByteArray *serial) {
        while (nextEdge < edges.size() && (!serial || edges[nextEdge].serial < *serial)) {
            std::vector<UnitSum> none;
            finish(QByteArray(edges[nextEdge].serial), none);
        }
    };

    // The bar's end: the sums in the range, and the minutes that only an edge's readings give.
    if (progress.maximum) {
        query.Close();
        query.SQL.Clear();
        query.SQL.Add(QStringLiteral("SELECT count(*) FROM stats_minutes WHERE Sn IN (") + serialList
                      + QStringLiteral(") AND Mk >= :MkFrom AND Mk <= :MkTo"));
        query.setFloat(QStringLiteral("MkFrom"), static_cast<double>(first));
        query.setFloat(QStringLiteral("MkTo"), static_cast<double>(last));
        bindSerials(query, request.serials);
        query.Open();
        const qint64 sums = query.Fields(0).AsInteger();
        query.Close();
        const auto beyond = std::count_if(edges.begin(), edges.end(), [last](const Edge &e) { return e.sum.key > last; });
        progress.maximum(static_cast<int>(sums + beyond));
    }
    query.Close();
    query.SQL.Clear();
    query.SQL.Add(QStringLiteral("SELECT Sn, Mk, S, N, R FROM stats_minutes WHERE Sn IN (") + serialList
                  + QStringLiteral(") AND Mk >= :MkFrom AND Mk <= :MkTo ORDER BY Sn, Mk"));
    query.setFloat(QStringLiteral("MkFrom"), static_cast<double>(first));
    query.setFloat(QStringLiteral("MkTo"), static_cast<double>(last));
    bindSerials(query, request.serials);
    std::vector<UnitSum> current;
    QByteArray currentSerial;
    bool any = false;
    query.Scan([&](const TRowView &row) {
        const QByteArrayView serial = row.AsUtf8(0);
        if (!any || currentSerial != serial) {
            if (any)
                finish(currentSerial, current);
            current.clear();
            currentSerial = serial.toByteArray();
            finishEdgesBefore(&currentSerial);
            any = true;
        }
        current.push_back(UnitSum{row.AsInteger(1), row.AsFloat(2), row.AsInteger(3), row.AsInteger(4)});
    });
    if (any)
        finish(currentSerial, current);
    finishEdgesBefore(nullptr);
    return std::move(lines.lines);
}

// The second and minute charts from the readings: in the order of their times each serial's
// groups come one after the other, so a group is summed into the last sum of its serial.
std::vector<ChartLine> leanChartFromReadings(TADOQuery &query, const ChartRequest &request, const ChartProgress &progress)
{
    const Level level = request.level;
    const qint64 unit = level == Level::Second ? 1 : 60;
    const qint64 perDay = secondsPerDay / unit;
    const auto keyOf = [&](double dat) {
        const storefunctions::DaySecond at = storefunctions::daySecond(dat);
        return at.day * perDay + at.second / unit;
    };
    query.Close();
    query.SQL.Clear();
    query.SQL.Add(QStringLiteral("SELECT Dat, Sn, t FROM Stats WHERE (Dat>=:DatFrom AND Dat<=:DatTo) AND Sn IN (")
                  + selectionParams(static_cast<int>(request.serials.size())) + QStringLiteral(") ORDER BY Dat"));
    bindRange(query, request.serials, request.from, request.to);
    struct Serial
    {
        QByteArray utf8;
        std::vector<UnitSum> sums;
    };
    std::deque<Serial> serials;
    Serial *last = nullptr;
    query.Scan([&](const TRowView &row) {
        const QByteArrayView utf8 = row.AsUtf8(1);
        if (!last || last->utf8 != utf8) {
            last = nullptr;
            for (Serial &serial : serials) {
                if (serial.utf8 == utf8) {
                    last = &serial;
                    break;
                }
            }
            if (!last)
                last = &serials.emplace_back(Serial{utf8.toByteArray(), {}});
        }
        const qint64 key = keyOf(row.AsFloat(0));
        if (last->sums.empty() || last->sums.back().key != key)
            last->sums.push_back(UnitSum{key, 0, 0, 0});
        UnitSum &sum = last->sums.back();
        ++sum.r;
        if (!row.IsNull(2)) {
            sum.s += row.AsFloat(2);
            ++sum.n;
        }
    });
    std::vector<Serial *> ordered;
    qint64 rows = 0;
    for (Serial &serial : serials) {
        ordered.push_back(&serial);
        rows += static_cast<qint64>(serial.sums.size());
    }
    std::sort(ordered.begin(), ordered.end(), [](const Serial *a, const Serial *b) { return a->utf8 < b->utf8; });
    if (progress.maximum)
        progress.maximum(static_cast<int>(rows));
    LeanLines lines(level, query, progress);
    for (Serial *serial : ordered) {
        lines.finish(serial->utf8, serial->sums);
        std::vector<UnitSum>().swap(serial->sums);
    }
    return std::move(lines.lines);
}

} // namespace

bool fromSums(TADOQuery &query, const ChartRequest &request)
{
    return sourceOf(query, request) == Source::Sums;
}

bool fromMinuteSums(TADOQuery &query, const ChartRequest &request)
{
    return sourceOf(query, request) == Source::Minutes;
}

std::vector<ChartLine> queryChart(TADOQuery &query, const ChartRequest &request, const ChartProgress &progress)
{
    switch (sourceOf(query, request)) {
    case Source::Sums:
        return chartFromSums(query, request, progress);
    case Source::Minutes:
        return chartFromMinutes(query, request, progress);
    case Source::Readings:
        if (request.level == Level::Second || request.level == Level::Minute)
            return leanChartFromReadings(query, request, progress);
        return chartFromReadings(query, request, progress);
    case Source::Statement:
        break;
    }
    return queryChartPlain(query, request, progress);
}

std::vector<ChartLine> queryChartPlain(TADOQuery &query, const ChartRequest &request, const ChartProgress &progress)
{
    const LevelPatterns &level = patterns(request.level);
    query.Close();
    query.SQL.Clear();
    query.SQL.Add(chartStatement(request.level, static_cast<int>(request.serials.size())));
    bindRange(query, request.serials, request.from, request.to);
    query.Open();

    query.Last();
    if (progress.maximum)
        progress.maximum(query.RecordCount());
    query.First();

    std::vector<ChartLine> lines;
    // A text no serial number equals, so the first row always starts a line.
    QString previous = QStringLiteral("_ -_1-!_a");
    int row = 0;
    while (!query.Eof()) {
        if (++row % checkEvery == 1 && query.Interrupted())
            interrupted();
        if (progress.position)
            progress.position(row);
        const QString serial = query.Fields(1).AsString();
        if (serial != previous || lines.empty()) {
            lines.push_back(ChartLine{serial, {}});
            previous = serial;
        }
        const QDateTime key = readKey(query.Fields(0).AsString(), level.level);
        lines.back().points.push_back(ChartPoint{secondsSinceEpoch(key), query.Fields(2).AsFloat()});
        query.Next();
    }
    query.Close();
    return lines;
}

namespace {

void execText(TADOQuery &query, const QString &text)
{
    query.Close();
    query.SQL.Clear();
    query.SQL.Add(text);
    query.ExecSQL();
}

// Sums of the hours a deletion touched, read again from the readings left: exact, where taking
// each deleted reading off its sum would leave rounding behind.
void recomputeHours(TADOQuery &query, const QStringList &serials, const QDate &from, const QDate &to)
{
    const qint64 first = consolidation::hourKey(rangeStart(from));
    const qint64 last = consolidation::hourKey(rangeEnd(to)) + 1;
    const QString serialList = selectionParams(static_cast<int>(serials.size()));
    query.Close();
    query.SQL.Clear();
    query.SQL.Add(QStringLiteral("DELETE FROM stats_hours WHERE Sn IN (") + serialList
                  + QStringLiteral(") AND Hk >= :HkFrom AND Hk <= :HkTo"));
    query.setFloat(QStringLiteral("HkFrom"), static_cast<double>(first));
    query.setFloat(QStringLiteral("HkTo"), static_cast<double>(last));
    bindSerials(query, serials);
    query.ExecSQL();
    const QString hk = consolidation::hourKeySql(QStringLiteral("Dat"));
    query.SQL.Clear();
    query.SQL.Add(QStringLiteral("INSERT INTO stats_hours(Sn, Hk, S, N, R) SELECT Sn, ") + hk
                  + QStringLiteral(", total(t), count(t), count(*) FROM Stats WHERE Dat >= :Lo AND Dat < :Hi AND Sn IN (")
                  + serialList
                  + QStringLiteral(") AND typeof(Dat) IN ('integer', 'real') AND Dat >= 1 AND Dat < 2958466 AND ") + hk
                  + QStringLiteral(" >= :HkFrom AND ") + hk + QStringLiteral(" <= :HkTo GROUP BY 1, 2"));
    const double oneSecond = 1.0 / 86400.0;
    query.setDateTime(QStringLiteral("Lo"), consolidation::hourStart(first) - oneSecond);
    query.setDateTime(QStringLiteral("Hi"), consolidation::hourStart(last + 1) + oneSecond);
    query.setFloat(QStringLiteral("HkFrom"), static_cast<double>(first));
    query.setFloat(QStringLiteral("HkTo"), static_cast<double>(last));
    bindSerials(query, serials);
    query.ExecSQL();
}

// The same for the minutes the deletion touched.
void recomputeMinutes(TADOQuery &query, const QStringList &serials, const QDate &from, const QDate &to)
{
    const qint64 first = consolidation::minuteKey(rangeStart(from));
    const qint64 last = consolidation::minuteKey(rangeEnd(to)) + 1;
    const QString serialList = selectionParams(static_cast<int>(serials.size()));
    query.Close();
    query.SQL.Clear();
    query.SQL.Add(QStringLiteral("DELETE FROM stats_minutes WHERE Sn IN (") + serialList
                  + QStringLiteral(") AND Mk >= :MkFrom AND Mk <= :MkTo"));
    query.setFloat(QStringLiteral("MkFrom"), static_cast<double>(first));
    query.setFloat(QStringLiteral("MkTo"), static_cast<double>(last));
    bindSerials(query, serials);
    query.ExecSQL();
    const QString mk = consolidation::minuteKeySql(QStringLiteral("Dat"));
    query.SQL.Clear();
    query.SQL.Add(QStringLiteral("INSERT INTO stats_minutes(Sn, Mk, S, N, R) SELECT Sn, ") + mk
                  + QStringLiteral(", total(t), count(t), count(*) FROM Stats WHERE Dat >= :Lo AND Dat < :Hi AND Sn IN (")
                  + serialList
                  + QStringLiteral(") AND typeof(Dat) IN ('integer', 'real') AND Dat >= 1 AND Dat < 2958466 AND ") + mk
                  + QStringLiteral(" >= :MkFrom AND ") + mk + QStringLiteral(" <= :MkTo GROUP BY 1, 2"));
    const double oneSecond = 1.0 / 86400.0;
    query.setDateTime(QStringLiteral("Lo"), consolidation::minuteStart(first) - oneSecond);
    query.setDateTime(QStringLiteral("Hi"), consolidation::minuteStart(last + 1) + oneSecond);
    query.setFloat(QStringLiteral("MkFrom"), static_cast<double>(first));
    query.setFloat(QStringLiteral("MkTo"), static_cast<double>(last));
    bindSerials(query, serials);
    query.ExecSQL();
}

} // namespace

int deleteReadings(TADOQuery &query, const QStringList &serials, const QDate &from, const QDate &to)
{
    const bool inBounds = from <= to && rangeStart(from) >= 1.0 && rangeEnd(to) < 2958465.0;
    const bool sums = hasSums(query) && inBounds;
    const bool minutes = hasMinutes(query) && inBounds;
    execText(query, QStringLiteral("BEGIN IMMEDIATE"));
    int deleted = 0;
    try {
        query.Close();
        query.SQL.Clear();
        query.SQL.Add(deleteStatement(static_cast<int>(serials.size())));
        bindRange(query, serials, from, to);
        deleted = query.ExecSQL();
        if (sums)
            recomputeHours(query, serials, from, to);
        if (minutes)
            recomputeMinutes(query, serials, from, to);
        execText(query, QStringLiteral("COMMIT"));
    } catch (...) {
        try {
            execText(query, QStringLiteral("ROLLBACK"));
        } catch (...) {
        }
        throw;
    }
    query.Close();
    return deleted;
}

bool hourSumsPresent(TADOQuery &query)
{
    return hasSums(query);
}

QStringList distinctSerials(TADOQuery &query)
{
    // The hourly sums list every serial in a fraction of the readings; serials in the order
    // they first appear.
    const bool sums = hasSums(query);
    query.Close();
    query.SQL.Clear();
    query.SQL.Add(sums ? QStringLiteral("SELECT Sn FROM stats_hours GROUP BY Sn ORDER BY min(Hk), Sn")
                       : QStringLiteral("SELECT DISTINCT Sn FROM Stats"));
    query.Open();
    QStringList serials;
    for (query.First(); !query.Eof(); query.Next())
        serials << query.Fields(0).AsString();
    query.Close();
    return serials;
}

} // namespace history
