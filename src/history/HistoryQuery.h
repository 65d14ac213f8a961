#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <vector>

class TADOQuery;

// The statements of the history window and the reading of their results, apart from any
// widget: a chart is asked for with a plain request and comes back as plain lines, so the
// work can run wherever a query object of its own can (another thread included).
namespace history {

// Levels of detail, in the order of Detal's items.
enum class Level { Second, Minute, Hour, Day, Month, Year };

struct LevelPatterns
{
    Level level;
    QString item;         // Detal's item text
    QString keyPattern;   // the group's key as the engine's format() writes it
    QString labelPattern; // the point's label, same letters
    bool yearFirstKey;    // the key reads year-month-day instead of day.month.year
};

const std::array<LevelPatterns, 6> &levels();
const LevelPatterns &patterns(Level level);
// Detal's six items, "Секунда" to "Год".
QStringList levelItems();
// The level whose item equals `detalText` exactly; any other text is the hour.
Level levelOf(const QString &detalText);

// The first and the last instant of the days `from` and `to` (00:00:00.000, 23:59:59.999) as
// date-time doubles.
double rangeStart(const QDate &from);
double rangeEnd(const QDate &to);

// Serial numbers are bound, never written into the text: the selection list is ":Sn1,:Sn2,..."
// and a serial equal to a column name or holding a quote cannot widen a statement.
QString selectionParams(int count);
QString chartStatement(Level level, int serialCount);
QString deleteStatement(int serialCount);
// Binds DatFrom, DatTo and the selection list on a query whose text is one of the above.
void bindRange(TADOQuery &query, const QStringList &serials, const QDate &from, const QDate &to);

// A key text read back: day.month.year hour:minute:second for the finer levels, year-month-day
// and a time for month and year, whatever the system's date conventions. Throws KalvexError
// with the conversion message when the text is not such a date and time.
QDateTime readKey(const QString &text, Level level);
// Whole seconds from 1899-12-30 00:00 (local time, no zone arithmetic).
qint64 secondsSinceEpoch(const QDateTime &value);
// The label of a point: the level's label pattern, ":" written as `timeSeparator`.
QString pointLabel(const QDateTime &value, Level level, const QString &timeSeparator);
// The label of the point at x (whole seconds from 1899-12-30 00:00): the same text, made from x
// alone, so points need not carry one and only the labels an axis draws are ever written.
QString pointLabel(qint64 x, Level level, const QString &timeSeparator);
// The time separator of the system's long time format (":" when it names none).
QString timeSeparator();

// A point's label is pointLabel(x, ...) of the chart's level.
struct ChartPoint
{
    qint64 x;
    double y;
};

// The points of one serial in the order the rows came.
struct ChartLine
{
    QString serial;
    std::vector<ChartPoint> points;
};

struct ChartRequest
{
    QStringList serials; // never empty
    QDate from;
    QDate to;
    Level level = Level::Hour;
};

// maximum: the number of result rows, once the statement is open; position: 1, 2, ... per row.
struct ChartProgress
{
    std::function<void(int)> maximum;
    std::function<void(int)> position;
};

// The points of the chart statement on `query`, whose connection string the caller set; the
// query is closed after. One line per serial that has rows, in the order of the rows. The same
// points, keys and order as the statement (means equal to rounding), but worked out faster: the
// hour, day, month and year from the store's hourly sums when it has them, the minute from its
// minute sums when they are whole, the rest by summing
// the range's readings here instead of having the engine write and sort a key text for each.
// Errors of the engine and of the key texts are thrown as KalvexError.
std::vector<ChartLine> queryChart(TADOQuery &query, const ChartRequest &request,
                                  const ChartProgress &progress = {});
// The chart statement itself, whatever the store holds.
std::vector<ChartLine> queryChartPlain(TADOQuery &query, const ChartRequest &request,
                                       const ChartProgress &progress = {});
// Whether queryChart answers `request` from the hourly sums.
bool fromSums(TADOQuery &query, const ChartRequest &request);
// Whether queryChart answers `request` (the minute level) from the minute sums.
bool fromMinuteSums(TADOQuery &query, const ChartRequest &request);
// Deletes the readings of `serials` from the first instant of `from` to the last of `to`.
// Returns the number of rows deleted.
int deleteReadings(TADOQuery &query, const QStringList &serials, const QDate &from, const QDate &to);
// "SELECT DISTINCT Sn FROM Stats": the stored serials in the engine's order.
// True when the hourly sums are whole: their table and all three triggers.
bool hourSumsPresent(TADOQuery &query);
QStringList distinctSerials(TADOQuery &query);

} // namespace history
