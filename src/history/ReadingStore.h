#pragma once

#include "history/TADOQuery.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <atomic>
#include <thread>

class Clock;
class Log;

// The reading store "Kalvex.st" in the program directory: one table
// stats (Dat DATETIME, Sn Text(16), t float) with Dat the insert's date-time double, and an
// index on Dat. The main window owns one ReadingStore; its query object ADOQuery1 is the main
// window's. Errors of the engine are thrown as KalvexError carrying the engine's message.
class ReadingStore : public QObject
{
    Q_OBJECT

public:
    // `programDir` ends with a separator (ProgramDir). The clock stamps inserts; the log gets
    // the line of a recovery from "Kalvex.tmp". Both must outlive the store.
    ReadingStore(const QString &programDir, const Clock &clock, Log &log, QObject *parent = nullptr);
    ~ReadingStore() override;

    static QString fileName() { return QStringLiteral("Kalvex.st"); }
    static QString tempFileName() { return QStringLiteral("Kalvex.tmp"); }
    QString storePath() const { return m_programDir + fileName(); }
    QString tempPath() const { return m_programDir + tempFileName(); }

    // Opens or creates the store: a missing "Kalvex.st" next to a "Kalvex.tmp" is recovered
    // from it (logged); with neither, a new file with the table and its index is built beside
    // it and renamed into place. A log of a missing store ("-wal", "-shm", "-journal") is first
    // renamed aside (logged): the engine would replay it into the new file. A database without the table gets it. A file that is not a
    // usable database is never modified: the engine's reason is logged with the path (once
    // per distinct reason), ADOQuery1 is left without a connection, and false comes back.
    bool ConnectDB();
    // True while the store is open for readings.
    bool ready() const { return m_state == Usability::Ready; }
    // The last failure to open or create the store, with its path; empty when ready.
    QString failure() const { return m_failure; }
    // Inserts one row: the clock's now, the first 16 characters of `Sn`, `t` as given. One
    // statement, committed when it runs. Without a store it first tries to open or create it
    // again (an unusable file every few minutes, an uncreated store every time) and drops the
    // reading meanwhile; a failure throws KalvexError naming the file. A store deleted, moved
    // or replaced since it was opened is noticed here (logged): every connection is released,
    // the log left of the old file set aside, and the store opened or made again as at
    // start-up before the row goes in.
    void AddToStats(const QString &Sn, double t);
    // Failures of the store since start: opens and creations that failed, inserts that failed,
    // a store found gone or replaced. Read from any thread (the web's /metrics).
    quint64 errorCount() const { return m_errors.load(std::memory_order_relaxed); }
    // Compacts the store into "Kalvex.tmp" and renames that over "Kalvex.st" in one step, with
    // every connection released meanwhile. Any failure leaves "Kalvex.st" as it was (and no
    // "Kalvex.tmp"); it is not reported. Ends with ConnectDB.
    void CompactDB();

    // The main window's connection string: the store's path, empty only inside CompactDB.
    QString ConnectionString() const { return ADOQuery1.ConnectionString(); }
    // Another query object (the history window's) whose connection CompactDB must release too.
    void attachQuery(TADOQuery *query);

    // Called before this program deletes readings: a build of the hourly sums running meanwhile
    // starts over instead of putting back sums of deleted rows.
    void readingsDeleting() { ++m_deletes; }
    // Whether a build of the hourly sums of an older store is running.
    bool consolidating() const { return m_rebuild.joinable() && !m_rebuildDone.load(); }
    // Waits for the build of the hourly sums to end (tests, tools).
    void waitConsolidated();

    TADOQuery ADOQuery1;

    // How long an unusable file is left alone before it is looked at again.
    static constexpr quint32 UnusableRetryMs = 3 * 60 * 1000;

private:
    enum class Usability { Ready, CannotCreate, Unusable };

    bool compactInto();
    // Write-ahead logging and the hourly sums, on a store found usable.
    void prepareStore();
    void stopRebuild();
    bool createStore(QString &message);
    Usability checkStore(QString &message);
    QString withPath(const QString &message) const;
    // Renames the log files beside the store to "<name>.orphan" (numbered past older ones);
    // false, with the reason, when one stays in place.
    bool setLogAside(QString &message);
    void releaseConnections();
    void reopenGoneStore();

    QString m_programDir;
    const Clock &m_clock;
    Log &m_log;
    QList<QPointer<TADOQuery>> m_queries;
    Usability m_state = Usability::CannotCreate;
    quint32 m_nextRetryTick = 0;
    QString m_failure;
    QString m_loggedFailure;
    std::thread m_rebuild;
    std::atomic<bool> m_stopRebuild{false};
    std::atomic<bool> m_rebuildDone{false};
    std::atomic<int> m_deletes{0};
    std::atomic<quint64> m_errors{0};
};
