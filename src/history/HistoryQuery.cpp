#include "history/HistoryQuery.h"

#include "base/DateTime.h"
#include "base/Formats.h"
#include "base/KalvexError.h"
#include "history/StoreFunctions.h"
#include "history/TADOQuery.h"

#include <QRegularExpression>

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

std::vector<ChartLine> queryChart(TADOQuery &query, const ChartRequest &request, const ChartProgress &progress)
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

int deleteReadings(TADOQuery &query, const QStringList &serials, const QDate &from, const QDate &to)
{
    query.Close();
    query.SQL.Clear();
    query.SQL.Add(deleteStatement(static_cast<int>(serials.size())));
    bindRange(query, serials, from, to);
    const int deleted = query.ExecSQL();
    query.Close();
    return deleted;
}

QStringList distinctSerials(TADOQuery &query)
{
    query.Close();
    query.SQL.Clear();
    query.SQL.Add(QStringLiteral("SELECT DISTINCT Sn FROM Stats"));
    query.Open();
    QStringList serials;
    for (query.First(); !query.Eof(); query.Next())
        serials << query.Fields(0).AsString();
    query.Close();
    return serials;
}

} // namespace history
