#include "history/HistoryQuery.h"

#include "base/DateTime.h"
#include "base/Formats.h"
#include "base/KalvexError.h"
#include "history/Consolidation.h"
#include "history/StoreFunctions.h"
#include "history/TADOQuery.h"

#include <QHash>
#include <QRegularExpression>

#include <algorithm>
#include <cstring>
#include <map>

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

double rangeStart(const QDate &from)
{
    return datetime::fromQDateTime(QDateTime(from, QTime(0, 0)));
}

double rangeEnd(const QDate &to)
{
    return datetime::fromQDateTime(QDateTime(to, QTime(23, 59, 59, 999)));
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

void bindSerials(TADOQuery &query, const QStringList &serials)
{
    for (int i = 0; i < serials.size(); ++i)
        query.setText(paramName(i), serials.at(i));
}

struct GroupSums
{
    double s = 0;
    qint64 n = 0;
    qint64 r = 0;
    qint64 hk = 0; // an hour of the group
};

// The group's key as readKey reads its text back, from one of its hours.
QDateTime keyOfHour(qint64 hk, Level level)
{
    const QDate day = epoch.addDays(hk / 24);
    switch (level) {
    case Level::Hour:
        return QDateTime(day, QTime(static_cast<int>(hk % 24), 0));
    case Level::Month:
        return QDateTime(QDate(day.year(), day.month(), 1), QTime(0, 0));
    case Level::Year:
        return QDateTime(QDate(day.year(), 1, 1), QTime(0, 0));
    default:
        return QDateTime(day, QTime(0, 0));
    }
}

// Ordered as the engine orders texts: by their UTF-8 bytes.
struct Utf8Less
{
    bool operator()(const QByteArray &a, const QByteArray &b) const
    {
        const int c = std::memcmp(a.constData(), b.constData(), static_cast<std::size_t>(std::min(a.size(), b.size())));
        return c != 0 ? c < 0 : a.size() < b.size();
    }
};

using Groups = std::map<QByteArray, std::map<QByteArray, GroupSums, Utf8Less>, Utf8Less>;

// The readings of one edge hour that the sums hold but the range does not (sign -1), or that the
// range holds in an hour the sums were not asked for (sign +1): a reading a hair before midnight
// counts to the next day's first hour.
void addEdge(TADOQuery &query, const ChartRequest &request, const QString &condition, double datBound,
             double datLimit, qint64 hk, int sign, Groups &groups, const QString &keyPattern)
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
    query.Open();
    const QByteArray key = storefunctions::format(consolidation::hourStart(hk), keyPattern).toUtf8();
    for (query.First(); !query.Eof(); query.Next()) {
        GroupSums &group = groups[query.Fields(0).AsString().toUtf8()][key];
        group.hk = hk;
        group.s += sign * query.Fields(1).AsFloat();
        group.n += sign * query.Fields(2).AsInteger();
        group.r += sign * query.Fields(3).AsInteger();
    }
    query.Close();
}

std::vector<ChartLine> chartFromSums(TADOQuery &query, const ChartRequest &request, const ChartProgress &progress)
{
    const LevelPatterns &level = patterns(request.level);
    const QString separator = timeSeparator();
    const double from = rangeStart(request.from);
    const double to = rangeEnd(request.to);
    const qint64 first = consolidation::hourKey(from);
    const qint64 last = consolidation::hourKey(to);
    const QString serialList = selectionParams(static_cast<int>(request.serials.size()));

    Groups groups;
    query.Close();
    query.SQL.Clear();
    // Coarser than the hour, the days are summed by the engine: a year is then a few thousand
    // rows instead of a hundred thousand.
    const bool hours = request.level == Level::Hour;
    query.SQL.Add(QStringLiteral("SELECT Sn, ") + (hours ? QStringLiteral("Hk, S, N, R") : QStringLiteral("Hk / 24 * 24, total(S), total(N), total(R)"))
                  + QStringLiteral(" FROM stats_hours WHERE Sn IN (") + serialList
                  + QStringLiteral(") AND Hk >= :HkFrom AND Hk <= :HkTo") + (hours ? QString() : QStringLiteral(" GROUP BY Sn, Hk / 24")));
    query.setFloat(QStringLiteral("HkFrom"), static_cast<double>(first));
    query.setFloat(QStringLiteral("HkTo"), static_cast<double>(last));
    bindSerials(query, request.serials);
    query.Open();
    // Hours of one day share the key of the coarser levels: formatted once per day.
    QHash<qint64, QByteArray> dayKeys;
    for (query.First(); !query.Eof(); query.Next()) {
        const qint64 hk = query.Fields(1).AsInteger();
        QByteArray key;
        if (request.level == Level::Hour) {
            key = storefunctions::format(consolidation::hourStart(hk), level.keyPattern).toUtf8();
        } else {
            auto it = dayKeys.find(hk / 24);
            if (it == dayKeys.end())
                it = dayKeys.insert(hk / 24, storefunctions::format(consolidation::hourStart(hk), level.keyPattern).toUtf8());
            key = *it;
        }
        GroupSums &group = groups[query.Fields(0).AsString().toUtf8()][key];
        group.hk = hk;
        group.s += query.Fields(2).AsFloat();
        group.n += query.Fields(3).AsInteger();
        group.r += query.Fields(4).AsInteger();
    }
    query.Close();
    const double oneSecond = 1.0 / 86400.0;
    addEdge(query, request, QStringLiteral("Dat >= :Bound AND Dat < :Limit"), from - oneSecond, from, first, -1,
            groups, level.keyPattern);
    addEdge(query, request, QStringLiteral("Dat > :Bound AND Dat <= :Limit"), to - oneSecond, to, last + 1, +1, groups,
            level.keyPattern);

    int rows = 0;
    for (const auto &serial : groups) {
        for (const auto &group : serial.second)
            rows += group.second.r > 0 ? 1 : 0;
    }
    if (progress.maximum)
        progress.maximum(rows);
    std::vector<ChartLine> lines;
    int row = 0;
    for (const auto &[serial, keys] : groups) {
        ChartLine line{QString::fromUtf8(serial), {}};
        for (const auto &entry : keys) {
            const GroupSums &sums = entry.second;
            if (sums.r <= 0)
                continue;
            if (progress.position)
                progress.position(++row);
            const QDateTime key = keyOfHour(sums.hk, level.level);
            // A group of NULL readings only: the engine's mean is NULL, read as 0.
            const double mean = sums.n > 0 ? sums.s / static_cast<double>(sums.n) : 0.0;
            line.points.push_back(ChartPoint{secondsSinceEpoch(key), mean, pointLabel(key, level.level, separator)});
        }
        if (!line.points.empty())
            lines.push_back(std::move(line));
    }
    return lines;
}

} // namespace

bool fromSums(TADOQuery &query, const ChartRequest &request)
{
    const double from = rangeStart(request.from);
    const double to = rangeEnd(request.to);
    return isCoarse(request.level) && from >= 1.0 && to < 2958465.0 && from <= to && hasSums(query);
}

std::vector<ChartLine> queryChart(TADOQuery &query, const ChartRequest &request, const ChartProgress &progress)
{
    if (fromSums(query, request))
        return chartFromSums(query, request, progress);
    return queryChartPlain(query, request, progress);
}

std::vector<ChartLine> queryChartPlain(TADOQuery &query, const ChartRequest &request, const ChartProgress &progress)
{
    const LevelPatterns &level = patterns(request.level);
    const QString separator = timeSeparator();
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
        ++row;
        if (progress.position)
            progress.position(row);
        const QString serial = query.Fields(1).AsString();
        if (serial != previous || lines.empty()) {
            lines.push_back(ChartLine{serial, {}});
            previous = serial;
        }
        const QDateTime key = readKey(query.Fields(0).AsString(), level.level);
        lines.back().points.push_back(
            ChartPoint{secondsSinceEpoch(key), query.Fields(2).AsFloat(), pointLabel(key, level.level, separator)});
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

} // namespace

int deleteReadings(TADOQuery &query, const QStringList &serials, const QDate &from, const QDate &to)
{
    const bool sums = hasSums(query) && from <= to && rangeStart(from) >= 1.0 && rangeEnd(to) < 2958465.0;
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
