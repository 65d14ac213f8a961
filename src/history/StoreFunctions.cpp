#include "history/StoreFunctions.h"

#include <sqlite3.h>

#include <QByteArray>

#include <cmath>
#include <cstdint>
#include <string>

namespace storefunctions {
namespace {

constexpr std::int64_t msPerDay = 86400000;

struct Broken
{
    std::int64_t year;
    int month;
    int day;
    int hour;
    int minute;
    int second;
};

// Days since 1899-12-30 and the millisecond of the day, the fraction counting away from zero
// before the epoch as the date-time double does.
DaySecond wholeSeconds(double dat, double &whole)
{
    whole = std::trunc(dat);
    std::int64_t ms = std::llround(std::fabs(dat - whole) * static_cast<double>(msPerDay));
    if (ms >= msPerDay) {
        ms -= msPerDay;
        whole += dat >= 0 ? 1 : -1;
    }
    return DaySecond{static_cast<std::int64_t>(whole), static_cast<int>(ms / 1000)};
}

Broken breakDown(double dat)
{
    double whole = 0;
    const std::int64_t secs = wholeSeconds(dat, whole).second;
    // Civil-from-days on days since 1970-01-01 (date-time 25569): no QDateTime per row, since
    // the history's grouping calls this for every stored reading in its range.
    const std::int64_t z0 = static_cast<std::int64_t>(whole) - 25569; // 1970-01-01 is 25569
    const std::int64_t z = z0 + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const std::int64_t d = doy - (153 * mp + 2) / 5 + 1;
    const std::int64_t m = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t y = yoe + era * 400 + (m <= 2 ? 1 : 0);
    return Broken{y, static_cast<int>(m), static_cast<int>(d), static_cast<int>(secs / 3600),
                  static_cast<int>(secs / 60 % 60), static_cast<int>(secs % 60)};
}

void appendTwo(std::string &out, int value)
{
    out += static_cast<char>('0' + value / 10 % 10);
    out += static_cast<char>('0' + value % 10);
}

void appendYear(std::string &out, std::int64_t year)
{
    char buf[24];
    std::snprintf(buf, sizeof buf, "%04lld", static_cast<long long>(year));
    out += buf;
}

// The pattern works on bytes: every letter it knows is ASCII and every other byte is copied, so
// a UTF-8 pattern passes through whole.
std::string formatBytes(double dat, const char *pattern, std::size_t length)
{
    const Broken b = breakDown(dat);
    std::string out;
    out.reserve(length + 4);
    auto at = [&](std::size_t i, const char *token) {
        for (std::size_t k = 0; token[k]; ++k) {
            if (i + k >= length || pattern[i + k] != token[k])
                return false;
        }
        return true;
    };
    std::size_t i = 0;
    while (i < length) {
        if (at(i, "YYYY")) {
            appendYear(out, b.year);
            i += 4;
        } else if (at(i, "DD")) {
            appendTwo(out, b.day);
            i += 2;
        } else if (at(i, "MM")) {
            appendTwo(out, b.month);
            i += 2;
        } else if (at(i, "HH")) {
            appendTwo(out, b.hour);
            i += 2;
        } else if (i >= 3 && at(i, "mm") && at(i - 3, "HH:")) {
            appendTwo(out, b.minute);
            i += 2;
        } else if (at(i, "ss")) {
            appendTwo(out, b.second);
            i += 2;
        } else {
            out += pattern[i];
            ++i;
        }
    }
    return out;
}

bool readDat(sqlite3_value *value, double &dat)
{
    if (sqlite3_value_type(value) == SQLITE_NULL)
        return false;
    dat = sqlite3_value_double(value);
    return std::isfinite(dat);
}

void sqlHour(sqlite3_context *context, int, sqlite3_value **argv)
{
    double dat = 0;
    if (!readDat(argv[0], dat)) {
        sqlite3_result_null(context);
        return;
    }
    sqlite3_result_int(context, hourOf(dat));
}

void sqlFormat(sqlite3_context *context, int, sqlite3_value **argv)
{
    double dat = 0;
    if (!readDat(argv[0], dat) || sqlite3_value_type(argv[1]) == SQLITE_NULL) {
        sqlite3_result_null(context);
        return;
    }
    const auto *pattern = reinterpret_cast<const char *>(sqlite3_value_text(argv[1]));
    const int length = sqlite3_value_bytes(argv[1]);
    const std::string text = formatBytes(dat, pattern ? pattern : "", static_cast<std::size_t>(length));
    sqlite3_result_text(context, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

} // namespace

DaySecond daySecond(double dat)
{
    double whole = 0;
    return wholeSeconds(dat, whole);
}

int hourOf(double dat)
{
    return breakDown(dat).hour;
}

QString format(double dat, const QString &pattern)
{
    const QByteArray bytes = pattern.toUtf8();
    const std::string text = formatBytes(dat, bytes.constData(), static_cast<std::size_t>(bytes.size()));
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

bool registerFunctions(sqlite3 *db)
{
    const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS;
    return sqlite3_create_function_v2(db, "HOUR", 1, flags, nullptr, sqlHour, nullptr, nullptr, nullptr) == SQLITE_OK
        && sqlite3_create_function_v2(db, "format", 2, flags, nullptr, sqlFormat, nullptr, nullptr, nullptr) == SQLITE_OK;
}

} // namespace storefunctions
