#pragma once

#include <QString>

#include <cstdint>

struct sqlite3;

// The SQL functions the store's statements rely on, HOUR(dat) and format(dat, pattern), on the
// date-time doubles held in Dat. Both round the stored double to the millisecond first, so a
// stored 14:05:09.000 that comes back as 14:05:08.99999... still counts as 09 seconds.
namespace storefunctions {

struct DaySecond
{
    std::int64_t day; // since 1899-12-30
    int second;       // of that day, 0 to 86399
};
// The day and the whole second that format() writes for a date-time double.
DaySecond daySecond(double dat);
// The hour of the day, 0 to 23, of a date-time double.
int hourOf(double dat);
// The date-time written after `pattern`: DD day, MM month, YYYY year, HH hour 00-23, mm the
// minutes where it directly follows "HH:", ss seconds; every other character copied.
QString format(double dat, const QString &pattern);

// Registers HOUR(x) and format(x, pattern) on a connection. False when the engine refused.
bool registerFunctions(sqlite3 *db);

} // namespace storefunctions
