#include "history/ReadingStore.h"

#include "base/Clock.h"
#include "base/DateTime.h"
#include "base/KalvexError.h"
#include "base/Log.h"
#include "history/Consolidation.h"

#include <sqlite3.h>

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
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

ReadingStore::~ReadingStore()
{
    stopRebuild();
}

void ReadingStore::stopRebuild()
{
    if (!m_rebuild.joinable())
        return;
    m_stopRebuild = true;
    m_rebuild.join();
    m_stopRebuild = false;
}

void ReadingStore::waitConsolidated()
{
    if (m_rebuild.joinable())
        m_rebuild.join();
}

void ReadingStore::prepareStore()
{
    sqlite3 *db = nullptr;
    bool complete = true;
    bool hours = true;
    if (sqlite3_open_v2(QFile::encodeName(storePath()).constData(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
        sqlite3_busy_timeout(db, 5000);
        // Readers (the history window's query) then never hold up the cycle's inserts, nor
        // the inserts the readers. The mode stays with the file.
        sqlite3_exec(db, "pragma journal_mode=wal;", nullptr, nullptr, nullptr);
        hours = consolidation::present(db);
        complete = hours && consolidation::minutesPresent(db);
    }
    sqlite3_close_v2(db);
    if (complete || consolidating())
        return;
    if (m_rebuild.joinable())
        m_rebuild.join();
    // A store of an older version, or one whose sums another tool removed: built beside the
    // running program; until then the history reads the readings themselves.
    m_rebuildDone = false;
    m_rebuild = std::thread([this, hours, path = storePath()] {
        QString message;
        if (!hours)
            consolidation::rebuild(path, m_stopRebuild, m_deletes, message);
        // The minute sums after the hourly ones: the coarse charts are the ones asked for most.
        if (!m_stopRebuild)
            consolidation::fillMinutes(path, m_stopRebuild, message);
        m_rebuildDone = true;
    });
}

void ReadingStore::attachQuery(TADOQuery *query)
{
    if (query && query != &ADOQuery1 && !m_queries.contains(query))
        m_queries << query;
}

namespace {

QString engineMessage(sqlite3 *db, int rc)
{
    return db ? QString::fromUtf8(sqlite3_errmsg(db)) : QString::fromUtf8(sqlite3_errstr(rc));
}

// Creates the table, its index and the hourly sums in one transaction: a file never holds part
// of them.
int createTable(sqlite3 *db, QString &message)
{
    char *error = nullptr;
    int rc = sqlite3_exec(db,
                          "begin;"
                          "create table stats\n(Dat DATETIME, Sn Text(16), t float);"
                          "create index stats_dat on stats(Dat);",
                          nullptr, nullptr, &error);
    if (rc != SQLITE_OK)
        message = error ? QString::fromUtf8(error) : engineMessage(db, rc);
    sqlite3_free(error);
    error = nullptr;
    if (rc == SQLITE_OK && !(consolidation::create(db, message) && consolidation::createMinutes(db, message)))
        rc = SQLITE_ERROR;
    if (rc == SQLITE_OK && (rc = sqlite3_exec(db, "commit;", nullptr, nullptr, &error)) != SQLITE_OK)
        message = error ? QString::fromUtf8(error) : engineMessage(db, rc);
    sqlite3_free(error);
    if (rc != SQLITE_OK)
        sqlite3_exec(db, "rollback;", nullptr, nullptr, nullptr);
    return rc;
}

} // namespace

QString ReadingStore::withPath(const QString &message) const
{
    return storePath() + QStringLiteral(": ") + message;
}

bool ReadingStore::createStore(QString &message)
{
    // Built beside the store and renamed into place once it holds its table: a crash or a
    // full disk never leaves a "Kalvex.st" without it.
    const QString path = storePath();
    const QString building = path + QStringLiteral("-new");
    QFile::remove(building);
    sqlite3 *db = nullptr;
    int rc = sqlite3_open_v2(QFile::encodeName(building).constData(), &db,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_EXCLUSIVE, nullptr);
    if (rc == SQLITE_OK)
        rc = createTable(db, message);
    else
        message = engineMessage(db, rc);
    sqlite3_close_v2(db);
    if (rc == SQLITE_OK && !syncPath(building, false)) {
        rc = SQLITE_IOERR;
        message = QString::fromLocal8Bit(std::strerror(errno));
    }
    if (rc == SQLITE_OK && !renameOver(building, path)) {
        rc = SQLITE_IOERR;
        message = QString::fromLocal8Bit(std::strerror(errno));
    }
    if (rc != SQLITE_OK) {
        QFile::remove(building);
        return false;
    }
    syncPath(m_programDir, true);
    return true;
}

ReadingStore::Usability ReadingStore::checkStore(QString &message)
{
    const QString path = storePath();
    const QFileInfo info(path);
    if (!info.isFile()) {
        message = QStringLiteral("not a file");
        return Usability::Unusable;
    }
    sqlite3 *db = nullptr;
    int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
    if (rc != SQLITE_OK) {
        message = engineMessage(db, rc);
        sqlite3_close_v2(db);
        // A file we may not open now (no rights, no space for its journal) may be fine later;
        // either way it is left as it is.
        return Usability::Unusable;
    }
    // Reads the schema and the last page of the table: a file that is not a database, or
    // one cut short, fails here without a scan of the whole store.
    sqlite3_stmt *stmt = nullptr;
    rc = sqlite3_prepare_v2(db, "select max(rowid) from stats", -1, &stmt, nullptr);
    if (rc == SQLITE_OK) {
        rc = sqlite3_step(stmt);
        rc = rc == SQLITE_ROW || rc == SQLITE_DONE ? SQLITE_OK : rc;
    }
    const QString prepareMessage = engineMessage(db, rc);
    sqlite3_finalize(stmt);
    Usability result = Usability::Ready;
    if (rc != SQLITE_OK) {
        // A database without the table (an empty file is one, left by a crash of an older
        // version) gets it; anything else is not ours to touch.
        bool missingTable = false;
        sqlite3_stmt *schema = nullptr;
        if (sqlite3_prepare_v2(db, "select count(*) from sqlite_master where name = 'stats'", -1, &schema, nullptr)
                == SQLITE_OK
            && sqlite3_step(schema) == SQLITE_ROW)
            missingTable = sqlite3_column_int(schema, 0) == 0;
        sqlite3_finalize(schema);
        if (missingTable) {
            result = createTable(db, message) == SQLITE_OK ? Usability::Ready : Usability::CannotCreate;
        } else {
            message = prepareMessage;
            result = Usability::Unusable;
        }
    }
    sqlite3_close_v2(db);
    return result;
}

bool ReadingStore::setLogAside(QString &message)
{
    QStringList moved;
    bool ok = true;
    for (const char *suffix : {"-wal", "-shm", "-journal"}) {
        const QString log = storePath() + QLatin1String(suffix);
        if (!fileExists(log) && !QFileInfo(log).isSymLink())
            continue;
        QString aside = log + QStringLiteral(".orphan");
        for (int n = 1; fileExists(aside) || QFileInfo(aside).isSymLink(); ++n)
            aside = log + QStringLiteral(".orphan.%1").arg(n);
        if (!renameOver(log, aside)) {
            message = QFileInfo(log).fileName() + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
            ok = false;
            break;
        }
        moved << QFileInfo(log).fileName() + QStringLiteral(" → ") + QFileInfo(aside).fileName();
    }
    if (!moved.isEmpty()) {
        syncPath(m_programDir, true);
        m_log.AddLog(QStringLiteral("Журнал базы данных без её файла отложен, чтобы не попасть в новую базу: ")
                     + moved.join(QStringLiteral(", ")) + QLatin1Char('.'));
    }
    return ok;
}

void ReadingStore::releaseConnections()
{
    stopRebuild();
    ADOQuery1.setConnectionString(QString());
    for (const QPointer<TADOQuery> &query : std::as_const(m_queries)) {
        if (query)
            query->setConnectionString(QString());
    }
    m_queries.removeAll(nullptr);
}

void ReadingStore::reopenGoneStore()
{
    const QString path = storePath();
    const bool missing = !fileExists(path);
    ++m_errors;
    m_log.AddLog(path
                 + (missing ? QStringLiteral(": файл базы данных удалён или перемещён во время работы, создаётся новый.")
                            : QStringLiteral(": файл базы данных заменён во время работы, он открывается заново.")));
    // The engine keeps writing into the file it has open, wherever it went: every connection
    // lets go of it. What it leaves beside the path is the old file's log, never the new one's.
    releaseConnections();
    QString message;
    if (!missing && !setLogAside(message)) {
        m_state = Usability::Unusable;
        m_nextRetryTick = m_clock.tickCount() + UnusableRetryMs;
        m_failure = withPath(message);
        m_loggedFailure = m_failure;
        m_log.AddLog(m_failure);
        return;
    }
    m_state = Usability::CannotCreate;
    ConnectDB();
}

bool ReadingStore::ConnectDB()
{
    const QString path = storePath();
    const bool missing = !fileExists(path);
    QString asideMessage;
    // A store deleted after a crash (or while a program had it open) leaves its log: the
    // engine would replay it into whatever file comes to have the name, a recovered copy or a
    // new store, putting deleted readings back or corrupting it.
    if (missing && !setLogAside(asideMessage)) {
        ++m_errors;
        m_state = Usability::CannotCreate;
        m_nextRetryTick = m_clock.tickCount();
        ADOQuery1.Close();
        ADOQuery1.setConnectionString(QString());
        m_failure = withPath(asideMessage);
        if (m_failure != m_loggedFailure) {
            m_loggedFailure = m_failure;
            m_log.AddLog(m_failure);
        }
        return false;
    }
    if (missing && fileExists(tempPath()) && holdsReadings(tempPath())) {
        // Left by a compaction that was cut off between writing the copy and swapping it in
        // (the swap is one rename, so the copy is complete): the readings are there.
        if (renameOver(tempPath(), path)) {
            syncPath(m_programDir, true);
            m_log.AddLog(QStringLiteral("База данных восстановлена из файла ") + tempFileName() + QLatin1Char('.'));
        }
    }
    QString message;
    Usability state = Usability::Ready;
    if (!QFileInfo(path).exists() && !QFileInfo(path).isSymLink())
        state = createStore(message) ? Usability::Ready : Usability::CannotCreate;
    else
        state = checkStore(message);
    m_nextRetryTick = m_clock.tickCount() + (state == Usability::Unusable ? UnusableRetryMs : 0);
    m_state = state;
    if (state != Usability::Ready) {
        ++m_errors;
        ADOQuery1.Close();
        ADOQuery1.setConnectionString(QString());
        m_failure = withPath(message);
        if (m_failure != m_loggedFailure) {
            m_loggedFailure = m_failure;
            m_log.AddLog(m_failure);
        }
        return false;
    }
    m_failure.clear();
    m_loggedFailure.clear();
    if (ADOQuery1.ConnectionString() != path) {
        ADOQuery1.Close();
        ADOQuery1.setConnectionString(path);
    }
    prepareStore();
    return true;
}

void ReadingStore::AddToStats(const QString &Sn, double t)
{
    // A stat of the path per insert: a store deleted or replaced by hand would otherwise take
    // every reading into a file nobody can reach any more, until the next start.
    if (m_state == Usability::Ready && (ADOQuery1.FileMoved() || !fileExists(storePath()))) {
        reopenGoneStore();
        if (m_state != Usability::Ready)
            throw KalvexError(m_failure);
    }
    if (m_state != Usability::Ready) {
        // An unusable file is looked at again every few minutes; a store that could not be
        // created (a full disk) on every reading, so it appears as soon as there is room.
        if (static_cast<qint32>(m_clock.tickCount() - m_nextRetryTick) < 0)
            return;
        if (!ConnectDB())
            throw KalvexError(m_failure);
    }
    try {
        ADOQuery1.Close();
        ADOQuery1.SQL.Clear();
        ADOQuery1.SQL.Add(QStringLiteral("insert into stats(Dat, Sn, t) values (:Dat, :Sn, :tt);"));
        ADOQuery1.setDateTime(QStringLiteral("Dat"), datetime::fromQDateTime(m_clock.now()));
        ADOQuery1.setText(QStringLiteral("Sn"), Sn.left(16));
        ADOQuery1.setFloat(QStringLiteral("tt"), t);
        ADOQuery1.ExecSQL();
        ADOQuery1.Close();
    } catch (const KalvexError &e) {
        ++m_errors;
        ADOQuery1.Close();
        throw KalvexError(withPath(e.message()));
    }
}

bool ReadingStore::compactInto()
{
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(storePath()).constData(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        sqlite3_close_v2(db);
        return false;
    }
    sqlite3_busy_timeout(db, 5000);
    // Everything of the log into the file first, so the copy holds every committed reading.
    bool ok = sqlite3_exec(db, "pragma wal_checkpoint(truncate);", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_stmt *stmt = nullptr;
    ok = ok && sqlite3_prepare_v2(db, "vacuum into ?1", -1, &stmt, nullptr) == SQLITE_OK;
    if (ok) {
        const QByteArray target = QFile::encodeName(tempPath());
        sqlite3_bind_text(stmt, 1, target.constData(), static_cast<int>(target.size()), SQLITE_TRANSIENT);
        ok = sqlite3_step(stmt) == SQLITE_DONE;
    }
    sqlite3_finalize(stmt);
    sqlite3_close_v2(db);
    // A log still beside the file belongs to a connection of another program: the renamed copy
    // would meet that log, so the store is left as it is.
    return ok && !fileExists(storePath() + QStringLiteral("-wal"));
}

void ReadingStore::CompactDB()
{
    releaseConnections();

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
