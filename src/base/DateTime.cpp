#include "base/DateTime.h"

#include "base/Formats.h"

#include <cmath>

namespace datetime {
namespace {
constexpr qint64 msPerDay = 86400000;
const QDate epoch(1899, 12, 30);
} // namespace

double fromQDateTime(const QDateTime &value)
{
    const QDateTime local = value.toLocalTime();
    const double days = static_cast<double>(epoch.daysTo(local.date()));
    const double fraction = static_cast<double>(local.time().msecsSinceStartOfDay()) / msPerDay;
    // Before the epoch the fraction counts away from zero, as the date-time double does.
    return days >= 0 ? days + fraction : days - fraction;
}

QDateTime toQDateTime(double value)
{
    double whole = std::trunc(value);
    qint64 ms = std::llround(std::fabs(value - whole) * msPerDay);
    if (ms >= msPerDay) {
        ms -= msPerDay;
        whole += value >= 0 ? 1 : -1;
    }
    const QDate date = epoch.addDays(static_cast<qint64>(whole));
    return QDateTime(date, QTime::fromMSecsSinceStartOfDay(static_cast<int>(ms)));
}

double roundToMillisecond(double value)
{
    return fromQDateTime(toQDateTime(value));
}

QString text(const QDateTime &value)
{
    const Formats &f = Formats::current();
    QString result = value.date().toString(f.shortDate);
    if (value.time().msecsSinceStartOfDay() != 0)
        result += QLatin1Char(' ') + value.time().toString(f.longTime);
    return result;
}

QString text(double value)
{
    return text(toQDateTime(value));
}

} // namespace datetime
