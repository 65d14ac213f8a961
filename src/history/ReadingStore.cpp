#include "history/ReadingStore.h"

#include "base/Clock.h"
#include "base/DateTime.h"
#include "base/KalvexError.h"
#include "base/Log.h"

#include <sqlite3.h>

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

bool fileExists(const QString &path)
{
    return QFileInfo::exists(path);
}

// Flushes a file or a directory to the disk; false if it cannot be opened or synced.
bool syncPath(const QString &path, bool directory)
{
    const int fd = ::open(QFile::encodeName(path).constData(),
                          (directory ? O_RDONLY | O_DIRECTORY : O_RDWR) | O_CLOEXEC);
    if (fd < 0)
        return false;
    int rc;
    do {
        rc = ::fsync(fd);
    } while (rc != 0 && errno == EINTR);
    ::close(fd);
    return rc == 0;
}

// Whether a file is a store with the readings table (a copy worth recovering).
bool holdsReadings(const QString &path)
{
    sqlite3 *db = nullptr;
    bool ok = sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK;
    sqlite3_stmt *stmt = nullptr;
    ok = ok && sqlite3_prepare_v2(db, "select 1 from stats limit 1", -1, &stmt, nullptr) == SQLITE_OK;
    if (ok) {
        const int rc = sqlite3_step(stmt);
        ok = rc == SQLITE_ROW || rc == SQLITE_DONE;
    }
    sqlite3_finalize(stmt);
    sqlite3_close_v2(db);
    return ok;
}

bool renameOver(const QString &from, const QString &to)
{
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

} // namespace

ReadingStore::ReadingStore(const QString &programDir, const Clock &clock, Log &log, QObject *parent)
    : QObject(parent)
    , m_programDir(programDir)
    , m_clock(clock)
    , m_log(log)
{
}

void ReadingStore::attachQuery(TADOQuery *query)
{
    if (query && query != &ADOQuery1 && !m_queries.contains(query))
        m_queries << query;
}

void ReadingStore::ConnectDB()
{
    const QString path = storePath();
    if (!fileExists(path) && fileExists(tempPath()) && holdsReadings(tempPath())) {
        // Left by a compaction that was cut off between writing the copy and swapping it in
        // (the swap is one rename, so the copy is complete): the readings are there.
        if (renameOver(tempPath(), path)) {
            syncPath(m_programDir, true);
            m_log.AddLog(QStringLiteral("База данных восстановлена из файла ") + tempFileName() + QLatin1Char('.'));
        }
    }
    if (!fileExists(path)) {
        sqlite3 *db = nullptr;
        const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &db,
                                       SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_EXCLUSIVE,
                                       nullptr);
        if (rc != SQLITE_OK) {
            const QString message = db ? QString::fromUtf8(sqlite3_errmsg(db))
                                       : QString::fromUtf8(sqlite3_errstr(rc));
            sqlite3_close_v2(db);
            throw KalvexError(message);
        }
        // One transaction for the table and its index: the file never holds half of them.
        char *error = nullptr;
        const int created = sqlite3_exec(db,
                                         "begin;"
                                         "create table stats\n(Dat DATETIME, Sn Text(16), t float);"
                                         "create index stats_dat on stats(Dat);"
                                         "commit;",
                                         nullptr, nullptr, &error);
        if (created != SQLITE_OK) {
            const QString message = error ? QString::fromUtf8(error) : QString::fromUtf8(sqlite3_errmsg(db));
            sqlite3_free(error);
            sqlite3_close_v2(db);
            QFile::remove(path);
            throw KalvexError(message);
        }
        sqlite3_close_v2(db);
        ADOQuery1.Close();
        ADOQuery1.setConnectionString(path);
    }
    if (ADOQuery1.ConnectionString().isEmpty())
        ADOQuery1.setConnectionString(path);
}

void ReadingStore::AddToStats(const QString &Sn, double t)
{
    ADOQuery1.Close();
    ADOQuery1.SQL.Clear();
    ADOQuery1.SQL.Add(QStringLiteral("insert into stats(Dat, Sn, t) values (:Dat, :Sn, :tt);"));
    ADOQuery1.setDateTime(QStringLiteral("Dat"), datetime::fromQDateTime(m_clock.now()));
    ADOQuery1.setText(QStringLiteral("Sn"), Sn.left(16));
    ADOQuery1.setFloat(QStringLiteral("tt"), t);
    ADOQuery1.ExecSQL();
    ADOQuery1.Close();
}

bool ReadingStore::compactInto()
{
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(storePath()).constData(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        sqlite3_close_v2(db);
        return false;
    }
    sqlite3_busy_timeout(db, 5000);
    sqlite3_stmt *stmt = nullptr;
    bool ok = sqlite3_prepare_v2(db, "vacuum into ?1", -1, &stmt, nullptr) == SQLITE_OK;
    if (ok) {
        const QByteArray target = QFile::encodeName(tempPath());
        sqlite3_bind_text(stmt, 1, target.constData(), static_cast<int>(target.size()), SQLITE_TRANSIENT);
        ok = sqlite3_step(stmt) == SQLITE_DONE;
    }
    sqlite3_finalize(stmt);
    sqlite3_close_v2(db);
    return ok;
}

void ReadingStore::CompactDB()
{
    ADOQuery1.setConnectionString(QString());
    for (const QPointer<TADOQuery> &query : std::as_const(m_queries)) {
        if (query)
            query->setConnectionString(QString());
    }
    m_queries.removeAll(nullptr);

    QFile::remove(tempPath());
    // "Kalvex.st" stays whole until the one rename that replaces it by a complete, synced copy;
    // a copy that failed is removed, so a later start never takes it for a recovery.
    if (fileExists(storePath())) {
        if (compactInto() && syncPath(tempPath(), false) && renameOver(tempPath(), storePath()))
            syncPath(m_programDir, true);
        else
            QFile::remove(tempPath());
    }
    ConnectDB();
}
