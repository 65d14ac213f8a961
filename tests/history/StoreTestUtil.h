#pragma once

#include <sqlite3.h>

#include <QByteArray>
#include <QFile>
#include <QString>

// Direct looks into a store file, past the query object under test.
namespace storetest {

inline qint64 scalar(const QString &path, const char *sql)
{
    sqlite3 *db = nullptr;
    qint64 result = -1;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        // The store's own background work may hold the log for a moment.
        sqlite3_busy_timeout(db, 5000);
        sqlite3_stmt *stmt = nullptr;
        if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW)
            result = sqlite3_column_int64(stmt, 0);
        sqlite3_finalize(stmt);
    }
    sqlite3_close_v2(db);
    return result;
}

inline qint64 rowCount(const QString &path)
{
    return scalar(path, "select count(*) from stats");
}

inline bool exec(const QString &path, const char *sql)
{
    sqlite3 *db = nullptr;
    bool ok = sqlite3_open_v2(QFile::encodeName(path).constData(), &db,
                              SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) == SQLITE_OK
        && sqlite3_busy_timeout(db, 5000) == SQLITE_OK && sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close_v2(db);
    return ok;
}

} // namespace storetest
