#pragma once

#include <QDateTime>
#include <QString>

// Date-times are doubles: days since 1899-12-30, the fraction is the time of day, local time.
namespace datetime {

// The double of a local date-time, to the millisecond.
double fromQDateTime(const QDateTime &value);
// The local date-time of a double, rounded to the nearest millisecond first (a stored
// 14:05:09.000 may come back as 14:05:08.99999...).
QDateTime toQDateTime(double value);
// The double rounded to the nearest millisecond (as days).
double roundToMillisecond(double value);
// The locale's default text: short date, a blank, long time; the time is left out when it is
// exactly 00:00:00.
QString text(double value);
QString text(const QDateTime &value);

} // namespace datetime
