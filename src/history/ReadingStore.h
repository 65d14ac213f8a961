#pragma once

#include "history/TADOQuery.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

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

    static QString fileName() { return QStringLiteral("Kalvex.st"); }
    static QString tempFileName() { return QStringLiteral("Kalvex.tmp"); }
    QString storePath() const { return m_programDir + fileName(); }
    QString tempPath() const { return m_programDir + tempFileName(); }

    // Opens or creates the store: a missing "Kalvex.st" next to a "Kalvex.tmp" is recovered
    // from it (logged); with neither, a new file with the table and its index is created. An
    // existing file is used unchanged. Sets ADOQuery1's connection string when it is empty.
    void ConnectDB();
    // Inserts one row: the clock's now, the first 16 characters of `Sn`, `t` as given. One
    // statement, committed when it runs.
    void AddToStats(const QString &Sn, double t);
    // Compacts the store into "Kalvex.tmp" and renames that over "Kalvex.st" in one step, with
    // every connection released meanwhile. Any failure leaves "Kalvex.st" as it was (and no
    // "Kalvex.tmp"); it is not reported. Ends with ConnectDB.
    void CompactDB();

    // The main window's connection string: the store's path, empty only inside CompactDB.
    QString ConnectionString() const { return ADOQuery1.ConnectionString(); }
    // Another query object (the history window's) whose connection CompactDB must release too.
    void attachQuery(TADOQuery *query);

    TADOQuery ADOQuery1;

private:
    bool compactInto();

    QString m_programDir;
    const Clock &m_clock;
    Log &m_log;
    QList<QPointer<TADOQuery>> m_queries;
};
