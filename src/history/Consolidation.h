#pragma once

#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>

struct sqlite3;

// Per-hour sums of the readings beside the table of readings, so that the hour, day, month and
// year charts of years of readings never scan the readings themselves.
//
// Table stats_hours (Sn, Hk, S, N, R): per serial and hour, the sum of t, the count of t that
// are not NULL and the count of rows. Hk is the hour's number since 1899-12-30 00:00 (day * 24 +
// hour), cut exactly where HOUR() and format() cut the stored date-time double, so every group
// of the readings' statement is a union of whole hours. Triggers on stats keep the table in the
// transaction of every insert, delete and update, whatever program makes it; they use only the
// engine's own functions, so any other tool can still write the file. Readings dated before
// 1899-12-31 are not counted (their hour numbers would not be unique).
namespace consolidation {

// The hour number of a date-time double, as the triggers compute it.
std::int64_t hourKey(double dat);
// The same as SQL over `column` (engine functions only).
QString hourKeySql(const QString &column);
// The date-time double of the start of an hour number.
double hourStart(std::int64_t hk);

// Whether the table and all its triggers are in the store: they are only ever created together,
// already filled, so their presence means the sums are complete.
bool present(sqlite3 *db);
// Creates the table and its triggers, empty, inside the caller's transaction (a new store).
bool create(sqlite3 *db, QString &message);

// Builds the sums of an existing store that has none (made by an older version) on a connection
// of its own: the readings are read without holding the store, then the table and its triggers
// go in with one short write transaction that also counts the rows inserted meanwhile.
// `deletes` is bumped by every delete of this program; one during the build makes it start over.
// Returns false when `stop` was set or the engine failed (`message`).
bool rebuild(const QString &path, const std::atomic<bool> &stop, const std::atomic<int> &deletes, QString &message);

// Per-minute sums beside the hourly ones, so that the minute chart of a year reads five million
// sums instead of thirty million readings. Table stats_minutes (Sn, Mk, S, N, R) as stats_hours,
// Mk the minute's number since 1899-12-30 00:00 (day * 1440 + minute of the day), cut where
// format() cuts. Its triggers (stats_minutes_insert, _delete, _update) keep it in the
// transaction of every change of stats. A store of an older version gets it filled in short
// steps (fillMinutes); while that goes on the table stats_minutes_fill (done, upto) says which
// readings are not counted yet, and the triggers leave those to the fill.
std::int64_t minuteKey(double dat);
QString minuteKeySql(const QString &column);
double minuteStart(std::int64_t mk);
// Whether the minute sums are complete: table and triggers in, no fill under way.
bool minutesPresent(sqlite3 *db);
// The same question as one statement of the engine's own SQL, for a connection this module
// does not hold (the history's query): its one value is 1 when the sums are complete.
const char *minutesPresentSql();
// Creates the minute table and its triggers, empty, inside the caller's transaction (a new store).
bool createMinutes(sqlite3 *db, QString &message);
// Makes the minute sums of a store that has none, or goes on with a fill an earlier run left:
// the readings that were there when it began are summed a bounded number at a time, each
// step a write transaction of a fraction of a second, so that the cycle's inserts wait that
// long at most. Returns false when `stop` was set or the engine failed (`message`).
// `stepRows` readings a step (a hundred thousand: some 0.2 s of the write lock on a small
// machine); `steps` steps at most in this call (-1: until done).
bool fillMinutes(const QString &path, const std::atomic<bool> &stop, QString &message, std::int64_t stepRows = 100000,
                 int steps = -1);

} // namespace consolidation
