#include "history/Consolidation.h"

#include <sqlite3.h>

#include <QByteArray>
#include <QFile>
#include <QHash>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <string>
#include <unordered_map>
#include <vector>

namespace consolidation {
namespace {

constexpr double msPerDay = 86400000.0;
constexpr std::int64_t msPerHour = 3600000;

// The key of the period (of `ms` milliseconds, `perDay` to a day) holding the time `dat`, as the
// engine computes it in periodKeySql: CAST truncates, round() adds a half and truncates.
std::int64_t periodKey(double dat, std::int64_t perDay, std::int64_t ms)
{
    const auto whole = static_cast<std::int64_t>(dat);
    const double r = (dat - static_cast<double>(whole)) * msPerDay;
    const auto inDay = static_cast<std::int64_t>(r + 0.5);
    return whole * perDay + inDay / ms;
}

// The time at which the period of `key` (`perDay` to a day) begins.
double periodStart(std::int64_t key, std::int64_t perDay)
{
    return static_cast<double>(key / perDay) + static_cast<double>(key % perDay) / static_cast<double>(perDay);
}

QString periodKeySql(const QString &column, std::int64_t perDay, std::int64_t ms)
{
    return QStringLiteral("(CAST(%1 AS INTEGER) * %2 + CAST(round((%1 - CAST(%1 AS INTEGER)) * 86400000.0) AS INTEGER) "
                          "/ %3)")
        .arg(column)
        .arg(perDay)
        .arg(ms);
}
// 1899-12-31 to 9999-12-31: whole hour numbers, unique and positive.
constexpr double firstDat = 1.0;
constexpr double lastDat = 2958466.0;

const char *const triggerNames[] = {"stats_hours_insert", "stats_hours_delete", "stats_hours_update"};

QString counted(const QString &row)
{
    return QStringLiteral("typeof(%1.Dat) IN ('integer','real') AND %1.Dat >= 1 AND %1.Dat < 2958466 "
                          "AND %1.Sn IS NOT NULL")
        .arg(row);
}

QString addRow(const QString &row)
{
    const QString hk = hourKeySql(row + QStringLiteral(".Dat"));
    return QStringLiteral("INSERT OR IGNORE INTO stats_hours(Sn, Hk, S, N, R) VALUES (%1.Sn, %2, 0, 0, 0);"
                          "UPDATE stats_hours SET S = S + coalesce(%1.t, 0), N = N + (%1.t IS NOT NULL), R = R + 1 "
                          "WHERE Sn = %1.Sn AND Hk = %2;")
        .arg(row, hk);
}

QString removeRow(const QString &row)
{
    const QString hk = hourKeySql(row + QStringLiteral(".Dat"));
    return QStringLiteral("UPDATE stats_hours SET S = S - coalesce(%1.t, 0), N = N - (%1.t IS NOT NULL), R = R - 1 "
                          "WHERE Sn = %1.Sn AND Hk = %2;"
                          "DELETE FROM stats_hours WHERE Sn = %1.Sn AND Hk = %2 AND R <= 0;")
        .arg(row, hk);
}

// Statements joined by ";", in one call.
bool execAll(sqlite3 *db, const QString &sql, QString &message)
{
    char *error = nullptr;
    const int rc = sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &error);
    if (rc != SQLITE_OK)
        message = error ? QString::fromUtf8(error) : QString::fromUtf8(sqlite3_errmsg(db));
    sqlite3_free(error);
    return rc == SQLITE_OK;
}

struct Sums
{
    double s = 0;
    std::int64_t n = 0;
    std::int64_t r = 0;
};

using SerialSums = std::unordered_map<std::int64_t, Sums>;

// Reads every counted row with a rowid up to `lastRowid` into per-serial sums. The scan works on
// a read snapshot, so the cycle keeps inserting meanwhile.
bool readSums(sqlite3 *db, const std::atomic<bool> &stop, std::unordered_map<std::string, SerialSums> &sums,
              sqlite3_int64 &lastRowid, QString &message)
{
    sqlite3_stmt *stmt = nullptr;
    bool ok = sqlite3_prepare_v2(db, "select max(rowid) from stats", -1, &stmt, nullptr) == SQLITE_OK
        && sqlite3_step(stmt) == SQLITE_ROW;
    lastRowid = ok ? sqlite3_column_int64(stmt, 0) : 0;
    sqlite3_finalize(stmt);
    stmt = nullptr;
    ok = ok && sqlite3_prepare_v2(db, "select Sn, Dat, t from stats where rowid <= ?1", -1, &stmt, nullptr) == SQLITE_OK;
    if (ok)
        sqlite3_bind_int64(stmt, 1, lastRowid);
    std::string serial;
    SerialSums *current = nullptr;
    int rc = SQLITE_DONE;
    std::int64_t rows = 0;
    while (ok && (rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        if ((++rows & 0xFFFF) == 0 && stop.load(std::memory_order_relaxed)) {
            ok = false;
            break;
        }
        const int datType = sqlite3_column_type(stmt, 1);
        if (sqlite3_column_type(stmt, 0) == SQLITE_NULL || (datType != SQLITE_INTEGER && datType != SQLITE_FLOAT))
            continue;
        const double dat = sqlite3_column_double(stmt, 1);
        if (!(dat >= firstDat && dat < lastDat))
            continue;
        const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0));
        const std::size_t bytes = static_cast<std::size_t>(sqlite3_column_bytes(stmt, 0));
        if (!current || serial.size() != bytes || serial.compare(0, bytes, text, bytes) != 0) {
            serial.assign(text, bytes);
            current = &sums[serial];
        }
        Sums &hour = (*current)[hourKey(dat)];
        ++hour.r;
        if (sqlite3_column_type(stmt, 2) != SQLITE_NULL) {
            hour.s += sqlite3_column_double(stmt, 2);
            ++hour.n;
        }
    }
    if (ok && rc != SQLITE_DONE) {
        message = QString::fromUtf8(sqlite3_errmsg(db));
        ok = false;
    }
    sqlite3_finalize(stmt);
    return ok;
}

bool writeSums(sqlite3 *db, const std::unordered_map<std::string, SerialSums> &sums, sqlite3_int64 lastRowid,
               QString &message)
{
    if (!create(db, message))
        return false;
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v2(db, "insert into stats_hours(Sn, Hk, S, N, R) values (?1, ?2, ?3, ?4, ?5)", -1, &stmt,
                           nullptr)
        != SQLITE_OK) {
        message = QString::fromUtf8(sqlite3_errmsg(db));
        return false;
    }
    bool ok = true;
    for (auto serial = sums.begin(); ok && serial != sums.end(); ++serial) {
        for (const auto &[hk, hour] : serial->second) {
            sqlite3_bind_text(stmt, 1, serial->first.data(), static_cast<int>(serial->first.size()), SQLITE_STATIC);
            sqlite3_bind_int64(stmt, 2, hk);
            sqlite3_bind_double(stmt, 3, hour.s);
            sqlite3_bind_int64(stmt, 4, hour.n);
            sqlite3_bind_int64(stmt, 5, hour.r);
            if (sqlite3_step(stmt) != SQLITE_DONE) {
                message = QString::fromUtf8(sqlite3_errmsg(db));
                ok = false;
                break;
            }
            sqlite3_reset(stmt);
        }
    }
    sqlite3_finalize(stmt);
    if (!ok)
        return false;
    // The rows the cycle inserted while the snapshot was read.
    const QString hk = hourKeySql(QStringLiteral("Dat"));
    return execAll(db,
                   QStringLiteral("insert into stats_hours(Sn, Hk, S, N, R) "
                                  "select Sn, %1, total(t), count(t), count(*) from stats as r where rowid > %2 and %3 "
                                  "group by 1, 2 "
                                  "on conflict(Sn, Hk) do update set S = S + excluded.S, N = N + excluded.N, "
                                  "R = R + excluded.R")
                       .arg(hk, QString::number(lastRowid), counted(QStringLiteral("r"))),
                   message);
}

} // namespace

std::int64_t hourKey(double dat)
{
    return periodKey(dat, 24, msPerHour);
}

QString hourKeySql(const QString &column)
{
    return periodKeySql(column, 24, msPerHour);
}

double hourStart(std::int64_t hk)
{
    return periodStart(hk, 24);
}

bool present(sqlite3 *db)
{
    sqlite3_stmt *stmt = nullptr;
    bool ok = sqlite3_prepare_v2(db,
                                 "select count(*) from sqlite_master where (type = 'table' and name = 'stats_hours') "
                                 "or (type = 'trigger' and tbl_name = 'stats' and name in "
                                 "('stats_hours_insert', 'stats_hours_delete', 'stats_hours_update'))",
                                 -1, &stmt, nullptr)
            == SQLITE_OK
        && sqlite3_step(stmt) == SQLITE_ROW && sqlite3_column_int(stmt, 0) == 4;
    sqlite3_finalize(stmt);
    return ok;
}

bool create(sqlite3 *db, QString &message)
{
    QStringList sql;
    for (const char *name : triggerNames)
        sql << QStringLiteral("drop trigger if exists %1").arg(QLatin1String(name));
    sql << QStringLiteral("drop table if exists stats_hours")
        << QStringLiteral("create table stats_hours (Sn TEXT NOT NULL, Hk INTEGER NOT NULL, S REAL NOT NULL, "
                          "N INTEGER NOT NULL, R INTEGER NOT NULL, PRIMARY KEY (Sn, Hk)) WITHOUT ROWID")
        << QStringLiteral("create trigger stats_hours_insert after insert on stats when %1 begin %2 end")
               .arg(counted(QStringLiteral("new")), addRow(QStringLiteral("new")))
        << QStringLiteral("create trigger stats_hours_delete after delete on stats when %1 begin %2 end")
               .arg(counted(QStringLiteral("old")), removeRow(QStringLiteral("old")))
        // Written as its old row going and its new row coming, each only when counted.
        << QStringLiteral("create trigger stats_hours_update after update of Dat, Sn, t on stats begin "
                          "%1 %2 end")
               .arg(QStringLiteral("UPDATE stats_hours SET S = S - coalesce(old.t, 0), N = N - (old.t IS NOT NULL), R = R - 1 "
                                   "WHERE %1 AND Sn = old.Sn AND Hk = %2;"
                                   "DELETE FROM stats_hours WHERE %1 AND Sn = old.Sn AND Hk = %2 AND R <= 0;")
                        .arg(counted(QStringLiteral("old")), hourKeySql(QStringLiteral("old.Dat"))),
                    QStringLiteral("INSERT OR IGNORE INTO stats_hours(Sn, Hk, S, N, R) SELECT new.Sn, %2, 0, 0, 0 WHERE %1;"
                                   "UPDATE stats_hours SET S = S + coalesce(new.t, 0), N = N + (new.t IS NOT NULL), R = R + 1 "
                                   "WHERE %1 AND Sn = new.Sn AND Hk = %2;")
                        .arg(counted(QStringLiteral("new")), hourKeySql(QStringLiteral("new.Dat"))));
    return execAll(db, sql.join(QStringLiteral(";\n")) + QLatin1Char(';'), message);
}

bool rebuild(const QString &path, const std::atomic<bool> &stop, const std::atomic<int> &deletes, QString &message)
{
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr)
        != SQLITE_OK) {
        message = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QStringLiteral("cannot open");
        sqlite3_close_v2(db);
        return false;
    }
    sqlite3_busy_timeout(db, 5000);
    bool done = false;
    bool failed = false;
    while (!done && !failed && !stop.load()) {
        const int deletesBefore = deletes.load();
        std::unordered_map<std::string, SerialSums> sums;
        sqlite3_int64 lastRowid = 0;
        if (!execAll(db, QStringLiteral("begin"), message))
            break;
        const bool read = readSums(db, stop, sums, lastRowid, message);
        execAll(db, QStringLiteral("commit"), message);
        if (!read) {
            failed = !stop.load();
            break;
        }
        if (!execAll(db, QStringLiteral("begin immediate"), message))
            break;
        if (present(db)) {
            // Built meanwhile by another connection.
            execAll(db, QStringLiteral("rollback"), message);
            done = true;
        } else if (deletes.load() != deletesBefore) {
            execAll(db, QStringLiteral("rollback"), message);
        } else if (writeSums(db, sums, lastRowid, message) && execAll(db, QStringLiteral("commit"), message)) {
            done = true;
        } else {
            QString ignored;
            execAll(db, QStringLiteral("rollback"), ignored);
            failed = true;
        }
    }
    sqlite3_close_v2(db);
    return done;
}

namespace {

constexpr std::int64_t msPerMinute = 60000;

const char *const minuteTriggerNames[] = {"stats_minutes_insert", "stats_minutes_delete", "stats_minutes_update"};

// While a fill is under way the readings of (done, upto] are the fill's: no trigger counts them.
QString minuteCounted(const QString &row, bool filling)
{
    QString condition = counted(row);
    if (filling)
        condition += QStringLiteral(" AND NOT (%1.rowid > (SELECT done FROM stats_minutes_fill) AND %1.rowid <= "
                                    "(SELECT upto FROM stats_minutes_fill))")
                         .arg(row);
    return condition;
}

QString minuteTriggers(bool filling)
{
    const auto add = [](const QString &row) {
        const QString mk = minuteKeySql(row + QStringLiteral(".Dat"));
        return QStringLiteral("INSERT OR IGNORE INTO stats_minutes(Sn, Mk, S, N, R) VALUES (%1.Sn, %2, 0, 0, 0);"
                              "UPDATE stats_minutes SET S = S + coalesce(%1.t, 0), N = N + (%1.t IS NOT NULL), R = R + 1 "
                              "WHERE Sn = %1.Sn AND Mk = %2;")
            .arg(row, mk);
    };
    const auto remove = [](const QString &row) {
        const QString mk = minuteKeySql(row + QStringLiteral(".Dat"));
        return QStringLiteral("UPDATE stats_minutes SET S = S - coalesce(%1.t, 0), N = N - (%1.t IS NOT NULL), R = R - 1 "
                              "WHERE Sn = %1.Sn AND Mk = %2;"
                              "DELETE FROM stats_minutes WHERE Sn = %1.Sn AND Mk = %2 AND R <= 0;")
            .arg(row, mk);
    };
    const QString oldRow = QStringLiteral("old");
    const QString newRow = QStringLiteral("new");
    // The update's two halves each under its own condition, as WHERE clauses.
    const auto guarded = [](const QString &statements, const QString &condition) {
        QString out;
        for (const QString &statement : statements.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            if (statement.startsWith(QLatin1String("INSERT OR IGNORE")))
                out += QString(statement).replace(QStringLiteral(" VALUES ("), QStringLiteral(" SELECT "))
                           .replace(QStringLiteral(", 0, 0, 0)"), QStringLiteral(", 0, 0, 0 WHERE ") + condition)
                    + QLatin1Char(';');
            else
                out += statement + QStringLiteral(" AND ") + condition + QLatin1Char(';');
        }
        return out;
    };
    QStringList sql;
    for (const char *name : minuteTriggerNames)
        sql << QStringLiteral("drop trigger if exists %1").arg(QLatin1String(name));
    sql << QStringLiteral("create trigger stats_minutes_insert after insert on stats when %1 begin %2 end")
               .arg(minuteCounted(newRow, filling), add(newRow))
        << QStringLiteral("create trigger stats_minutes_delete after delete on stats when %1 begin %2 end")
               .arg(minuteCounted(oldRow, filling), remove(oldRow))
        << QStringLiteral("create trigger stats_minutes_update after update of Dat, Sn, t on stats begin %1 %2 end")
               .arg(guarded(remove(oldRow), minuteCounted(oldRow, filling)), guarded(add(newRow), minuteCounted(newRow, filling)));
    return sql.join(QStringLiteral(";\n")) + QLatin1Char(';');
}

QString createMinutesTable()
{
    return QStringLiteral("drop table if exists stats_minutes;"
                          "create table stats_minutes (Sn TEXT NOT NULL, Mk INTEGER NOT NULL, S REAL NOT NULL, "
                          "N INTEGER NOT NULL, R INTEGER NOT NULL, PRIMARY KEY (Sn, Mk)) WITHOUT ROWID;");
}

bool scalarOf(sqlite3 *db, const char *sql, std::int64_t &value)
{
    sqlite3_stmt *stmt = nullptr;
    const bool ok = sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW;
    value = ok ? sqlite3_column_int64(stmt, 0) : 0;
    sqlite3_finalize(stmt);
    return ok;
}

// The minute sums' table and its three triggers (4 when whole), and whether a fill is under way.
struct MinuteObjects
{
    std::int64_t counting = 0;
    bool filling = false;
};

bool minuteObjects(sqlite3 *db, MinuteObjects &objects)
{
    std::int64_t fill = 0;
    const bool ok = scalarOf(db,
                             "select count(*) from sqlite_master where (type = 'table' and name = 'stats_minutes') "
                             "or (type = 'trigger' and tbl_name = 'stats' and name in "
                             "('stats_minutes_insert', 'stats_minutes_delete', 'stats_minutes_update'))",
                             objects.counting)
        && scalarOf(db, "select count(*) from sqlite_master where type = 'table' and name = 'stats_minutes_fill'", fill);
    objects.filling = fill != 0;
    return ok;
}

} // namespace

std::int64_t minuteKey(double dat)
{
    return periodKey(dat, 1440, msPerMinute);
}

QString minuteKeySql(const QString &column)
{
    return periodKeySql(column, 1440, msPerMinute);
}

double minuteStart(std::int64_t mk)
{
    return periodStart(mk, 1440);
}

const char *minutesPresentSql()
{
    return "select (select count(*) from sqlite_master where (type = 'table' and name = 'stats_minutes') "
           "or (type = 'trigger' and tbl_name = 'stats' and name in "
           "('stats_minutes_insert', 'stats_minutes_delete', 'stats_minutes_update'))) = 4 "
           "and not exists (select 1 from sqlite_master where type = 'table' and name = 'stats_minutes_fill')";
}

bool minutesPresent(sqlite3 *db)
{
    std::int64_t whole = 0;
    return scalarOf(db, minutesPresentSql(), whole) && whole == 1;
}

bool createMinutes(sqlite3 *db, QString &message)
{
    return execAll(db, QStringLiteral("drop table if exists stats_minutes_fill;") + createMinutesTable() + minuteTriggers(false),
                   message);
}

bool fillMinutes(const QString &path, const std::atomic<bool> &stop, QString &message, std::int64_t stepRows, int steps)
{
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr)
        != SQLITE_OK) {
        message = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QStringLiteral("cannot open");
        sqlite3_close_v2(db);
        return false;
    }
    sqlite3_busy_timeout(db, 5000);
    bool ok = execAll(db, QStringLiteral("begin immediate"), message);
    if (ok) {
        MinuteObjects objects;
        minuteObjects(db, objects);
        if (objects.counting == 4 && !objects.filling) {
            execAll(db, QStringLiteral("rollback"), message);
            sqlite3_close_v2(db);
            return true;
        }
        // A fill left by an earlier run goes on where it stopped; else (or when a trigger has
        // gone meanwhile, so changes went uncounted) one begins with the readings there are
        // now, the triggers counting every later change.
        if (!objects.filling || objects.counting != 4) {
            ok = execAll(db,
                         QStringLiteral("drop table if exists stats_minutes_fill;") + createMinutesTable()
                             + QStringLiteral("create table stats_minutes_fill (done INTEGER NOT NULL, upto INTEGER NOT NULL);"
                                              "insert into stats_minutes_fill select 0, coalesce(max(rowid), 0) from stats;")
                             + minuteTriggers(true),
                         message);
        }
        ok = ok && execAll(db, QStringLiteral("commit"), message);
        if (!ok)
            execAll(db, QStringLiteral("rollback"), message);
    }
    const QString mk = minuteKeySql(QStringLiteral("Dat"));
    const QByteArray step = QStringLiteral("insert into stats_minutes(Sn, Mk, S, N, R) "
                                           "select Sn, %1, total(t), count(t), count(*) from stats as r "
                                           "where rowid > ?1 and rowid <= ?2 and %2 group by 1, 2 "
                                           "on conflict(Sn, Mk) do update set S = S + excluded.S, N = N + excluded.N, "
                                           "R = R + excluded.R")
                                .arg(mk, counted(QStringLiteral("r")))
                                .toUtf8();
    bool done = false;
    while (ok && !done && !stop.load() && steps-- != 0) {
        ok = execAll(db, QStringLiteral("begin immediate"), message);
        if (!ok)
            break;
        std::int64_t from = 0;
        std::int64_t upto = 0;
        ok = scalarOf(db, "select done from stats_minutes_fill", from) && scalarOf(db, "select upto from stats_minutes_fill", upto);
        if (!ok)
            message = QString::fromUtf8(sqlite3_errmsg(db));
        const std::int64_t to = std::min(from + stepRows, upto);
        if (ok && from < upto) {
            sqlite3_stmt *stmt = nullptr;
            ok = sqlite3_prepare_v2(db, step.constData(), -1, &stmt, nullptr) == SQLITE_OK;
            if (ok) {
                sqlite3_bind_int64(stmt, 1, from);
                sqlite3_bind_int64(stmt, 2, to);
                ok = sqlite3_step(stmt) == SQLITE_DONE;
            }
            if (!ok)
                message = QString::fromUtf8(sqlite3_errmsg(db));
            sqlite3_finalize(stmt);
            ok = ok && execAll(db, QStringLiteral("update stats_minutes_fill set done = %1").arg(to), message);
        }
        if (ok && to >= upto) {
            // Counted whole: the triggers count everything from now on.
            ok = execAll(db, minuteTriggers(false) + QStringLiteral("drop table stats_minutes_fill;"), message);
            done = ok;
        }
        if (ok)
            ok = execAll(db, QStringLiteral("commit"), message);
        if (!ok) {
            QString ignored;
            execAll(db, QStringLiteral("rollback"), ignored);
        }
    }
    sqlite3_close_v2(db);
    return done;
}

} // namespace consolidation
