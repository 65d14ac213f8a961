#include "StoreTestUtil.h"

#include "base/DateTime.h"
#include "base/Formats.h"
#include "base/KalvexError.h"
#include "history/ReadingStore.h"
#include "history/StoreFunctions.h"
#include "history/TADOQuery.h"
#include "support/FakeClock.h"
#include "support/RecordingLog.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstdio>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace storetest;

namespace {

const QString serial = QStringLiteral("28FF64D1A31603C2");

struct Fixture
{
    QTemporaryDir dir;
    FakeClock clock;
    RecordingLog log;
    QString programDir() const { return dir.path() + QLatin1Char('/'); }
    QString st() const { return programDir() + QStringLiteral("Kalvex.st"); }
    QString tmp() const { return programDir() + QStringLiteral("Kalvex.tmp"); }
};

// A store of `rows` readings written in one transaction, for the compaction tests.
void fillStore(const QString &path, int rows)
{
    QVERIFY(exec(path, "create table stats (Dat DATETIME, Sn Text(16), t float);"
                       "create index stats_dat on stats(Dat);"));
    sqlite3 *db = nullptr;
    QCOMPARE(sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    sqlite3_exec(db, "begin", nullptr, nullptr, nullptr);
    sqlite3_stmt *stmt = nullptr;
    sqlite3_prepare_v2(db, "insert into stats values (?1, ?2, ?3)", -1, &stmt, nullptr);
    for (int i = 0; i < rows; ++i) {
        sqlite3_bind_double(stmt, 1, 46000.0 + i / 8640.0);
        sqlite3_bind_text(stmt, 2, "28FF64D1A31603C2", 16, SQLITE_STATIC);
        sqlite3_bind_double(stmt, 3, 20.0 + (i % 50) / 10.0);
        sqlite3_step(stmt);
        sqlite3_reset(stmt);
    }
    sqlite3_finalize(stmt);
    QCOMPARE(sqlite3_exec(db, "commit", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close_v2(db);
}

// Runs `body` in a child that drops root (so directory permissions apply) and returns what it
// wrote to the pipe.
template <typename Body>
QString inUnprivilegedChild(Body body)
{
    int fds[2];
    if (::pipe(fds) != 0)
        return QStringLiteral("pipe failed");
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(2);
        const QByteArray text = body().toUtf8();
        const ssize_t written = ::write(fds[1], text.constData(), static_cast<size_t>(text.size()));
        ::_exit(written == text.size() ? 0 : 3);
    }
    ::close(fds[1]);
    QByteArray out;
    char buf[512];
    ssize_t n;
    while ((n = ::read(fds[0], buf, sizeof buf)) > 0)
        out.append(buf, n);
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return QStringLiteral("child failed");
    return QString::fromUtf8(out);
}

} // namespace

class TestReadingStore : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { Formats::setCurrent(Formats::russian()); }

    void firstStartCreatesStoreAndKeepsFirstReading()
    {
        Fixture f;
        ReadingStore store(f.programDir(), f.clock, f.log);
        store.ConnectDB();
        QVERIFY(QFile::exists(f.st()));
        QCOMPARE(store.ConnectionString(), f.st());
        QCOMPARE(rowCount(f.st()), 0);
        QCOMPARE(scalar(f.st(), "select count(*) from sqlite_master where type='index' and tbl_name='stats'"), 1);

        store.AddToStats(serial, 21.5);
        QCOMPARE(rowCount(f.st()), 1);
        TADOQuery q;
        q.setConnectionString(f.st());
        q.SQL.Add(QStringLiteral("select Dat, Sn, t from stats"));
        q.Open();
        QCOMPARE(q.Fields(0).AsDateTime(), datetime::fromQDateTime(f.clock.now()));
        QCOMPARE(q.Fields(1).AsString(), serial);
        QCOMPARE(q.Fields(2).AsFloat(), 21.5);
        QVERIFY(f.log.messages.isEmpty());
    }

    void laterStartKeepsRows()
    {
        Fixture f;
        {
            ReadingStore store(f.programDir(), f.clock, f.log);
            store.ConnectDB();
            for (int i = 0; i < 3; ++i)
                store.AddToStats(serial, 20 + i);
        }
        ReadingStore again(f.programDir(), f.clock, f.log);
        again.ConnectDB();
        again.AddToStats(serial, 23);
        QCOMPARE(rowCount(f.st()), 4);
    }

    void storedAsGiven_data()
    {
        QTest::addColumn<QString>("sn");
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("storedSn");
        QTest::newRow("20-char serial cut to 16") << "28FF64D1A31603C2ABCD" << 21.5 << "28FF64D1A31603C2";
        QTest::newRow("zero") << serial << 0.0 << serial;
        QTest::newRow("negative") << serial << -12.5 << serial;
        QTest::newRow("unrounded") << serial << 21.0625 << serial;
        QTest::newRow("quote in serial") << "28'\"); drop --" << 1.0 << "28'\"); drop --";
    }
    void storedAsGiven()
    {
        QFETCH(QString, sn);
        QFETCH(double, value);
        QFETCH(QString, storedSn);
        Fixture f;
        ReadingStore store(f.programDir(), f.clock, f.log);
        store.ConnectDB();
        store.AddToStats(sn, value);
        TADOQuery q;
        q.setConnectionString(f.st());
        q.SQL.Add(QStringLiteral("select Sn, t from stats"));
        q.Open();
        QCOMPARE(q.RecordCount(), 1);
        QCOMPARE(q.Fields(0).AsString(), storedSn);
        QCOMPARE(q.Fields(1).AsFloat(), value);
    }

    // What ConnectDB finds on the disk at start-up and what it makes of it.
    void startUpStates_data()
    {
        QTest::addColumn<bool>("withStore");
        QTest::addColumn<bool>("withTemp");
        QTest::addColumn<int>("rows");
        QTest::addColumn<bool>("logged");
        QTest::newRow("neither: new store") << false << false << 0 << false;
        QTest::newRow("store only") << true << false << 5 << false;
        QTest::newRow("copy only: recovered") << false << true << 7 << true;
        QTest::newRow("both: store wins") << true << true << 5 << false;
        QTest::newRow("broken copy only: not taken") << false << true << 0 << false;
    }
    void startUpStates()
    {
        QFETCH(bool, withStore);
        QFETCH(bool, withTemp);
        QFETCH(int, rows);
        QFETCH(bool, logged);
        Fixture f;
        if (withStore)
            fillStore(f.st(), 5);
        const bool brokenCopy = withTemp && rows == 0;
        if (withTemp && !brokenCopy)
            fillStore(f.tmp(), 7);
        if (brokenCopy) {
            QFile copy(f.tmp());
            QVERIFY(copy.open(QIODevice::WriteOnly));
            copy.write("half a copy");
        }
        ReadingStore store(f.programDir(), f.clock, f.log);
        store.ConnectDB();
        QCOMPARE(rowCount(f.st()), rows);
        QCOMPARE(f.log.messages.size(), logged ? 1 : 0);
        if (logged) {
            QCOMPARE(f.log.messages.first(), QStringLiteral("База данных восстановлена из файла Kalvex.tmp."));
            QVERIFY(!QFile::exists(f.tmp()));
        }
    }

    void compactionReplacesStaleCopyAndKeepsRows()
    {
        Fixture f;
        fillStore(f.st(), 2000);
        QFile stale(f.tmp());
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.write("left over from a failed compaction");
        stale.close();

        ReadingStore store(f.programDir(), f.clock, f.log);
        store.ConnectDB();
        TADOQuery history;
        history.setConnectionString(store.ConnectionString());
        store.attachQuery(&history);
        store.AddToStats(serial, 1);
        QVERIFY(exec(f.st(), "delete from stats where rowid % 2 = 0"));
        const qint64 before = rowCount(f.st());
        const qint64 sizeBefore = QFileInfo(f.st()).size();

        store.CompactDB();
        QVERIFY(!QFile::exists(f.tmp()));
        QCOMPARE(rowCount(f.st()), before);
        QVERIFY(QFileInfo(f.st()).size() < sizeBefore);
        QCOMPARE(scalar(f.st(), "select count(*) from sqlite_master where type='index'"), 1);
        QCOMPARE(store.ConnectionString(), f.st());
        QVERIFY(history.ConnectionString().isEmpty());
        store.AddToStats(serial, 2);
        QCOMPARE(rowCount(f.st()), before + 1);
    }

    // Whatever a crash or another tool left: a database without the table gets it; a file
    // that is not a usable database is never touched, logged with its path and tried again.
    void unusableOrIncompleteStore_data()
    {
        QTest::addColumn<QByteArray>("content"); // "<dir>" for a directory
        QTest::addColumn<bool>("usable");
        QTest::newRow("0 bytes") << QByteArray() << true;
        QTest::newRow("random bytes") << QByteArray(4096, '\x5a') << false;
        QTest::newRow("text") << QByteArray("ItemCount=3\n") << false;
        QTest::newRow("directory") << QByteArray("<dir>") << false;
    }
    void unusableOrIncompleteStore()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, usable);
        Fixture f;
        if (content == "<dir>") {
            QVERIFY(QDir().mkpath(f.st()));
        } else {
            QFile file(f.st());
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        }
        ReadingStore store(f.programDir(), f.clock, f.log);
        QCOMPARE(store.ConnectDB(), usable);
        store.AddToStats(serial, 20); // dropped quietly while the store is unusable
        if (usable) {
            QCOMPARE(rowCount(f.st()), 1);
            return;
        }
        QCOMPARE(f.log.messages.size(), 1);
        QVERIFY2(f.log.messages.first().startsWith(f.st() + QStringLiteral(": ")), qPrintable(f.log.messages.first()));
        if (content != "<dir>") {
            QFile file(f.st());
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), content);
        }
        // Looked at again only after a few minutes; then the same reason is not logged twice.
        f.clock.advance(ReadingStore::UnusableRetryMs + 1);
        QVERIFY_THROWS_EXCEPTION(KalvexError, store.AddToStats(serial, 20));
        QCOMPARE(f.log.messages.size(), 1);
    }

    // Creating the store fails half-way (a kill or a full disk between the file and its
    // table): no store without its table is left, and the next reading creates it.
    void storeCreatedWhole()
    {
        Fixture f;
        QVERIFY(QDir().mkpath(f.st() + QStringLiteral("-new")));
        QVERIFY(QFile::exists(f.st() + QStringLiteral("-new")));
        ReadingStore store(f.programDir(), f.clock, f.log);
        QVERIFY(!store.ConnectDB());
        QVERIFY(!QFile::exists(f.st()));
        QVERIFY(QDir().rmdir(f.st() + QStringLiteral("-new")));
        store.AddToStats(serial, 20);
        QCOMPARE(rowCount(f.st()), 1);
        QVERIFY(!QFile::exists(f.st() + QStringLiteral("-new")));
    }

    void readOnlyDirectory_data()
    {
        QTest::addColumn<bool>("existing");
        QTest::addColumn<QString>("error");
        QTest::newRow("no store yet") << false << ": unable to open database file";
        QTest::newRow("existing store") << true << ": attempt to write a readonly database";
    }
    void readOnlyDirectory()
    {
        QFETCH(bool, existing);
        QFETCH(QString, error);
        Fixture f;
        if (existing) {
            fillStore(f.st(), 3);
            QVERIFY(::chmod(QFile::encodeName(f.st()).constData(), 0666) == 0);
        }
        QVERIFY(::chmod(QFile::encodeName(f.dir.path()).constData(), 0555) == 0);
        const QString programDir = f.programDir();
        const QString result = inUnprivilegedChild([&] {
            FakeClock clock;
            RecordingLog log;
            ReadingStore store(programDir, clock, log);
            try {
                store.ConnectDB();
                store.AddToStats(serial, 20);
            } catch (const KalvexError &e) {
                return e.message();
            }
            return QStringLiteral("no error");
        });
        QVERIFY(::chmod(QFile::encodeName(f.dir.path()).constData(), 0700) == 0);
        QCOMPARE(result, f.st() + error);
        QCOMPARE(rowCount(f.st()), existing ? 3 : -1);
    }

    void fullDiskKeepsCommittedRows()
    {
        Fixture f;
        ReadingStore store(f.programDir(), f.clock, f.log);
        store.ConnectDB();
        for (int i = 0; i < 50; ++i)
            store.AddToStats(serial, i);
        QCOMPARE(rowCount(f.st()), 50);

        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &old) == 0);
        rlimit limited = old;
        limited.rlim_cur = static_cast<rlim_t>(QFileInfo(f.st()).size());
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &limited) == 0);
        int stored = 0;
        QString message;
        for (int i = 0; i < 5000 && message.isEmpty(); ++i) {
            try {
                store.AddToStats(serial, 100 + i);
                ++stored;
            } catch (const KalvexError &e) {
                message = e.message();
            }
        }
        ::setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);

        QVERIFY2(message == f.st() + QLatin1String(": database or disk is full")
                     || message == f.st() + QLatin1String(": disk I/O error"),
                 qPrintable(message));
        QCOMPARE(rowCount(f.st()), 50 + stored);
        QCOMPARE(scalar(f.st(), "select count(*) from pragma_integrity_check where integrity_check = 'ok'"), 1);
        store.AddToStats(serial, 1);
        QCOMPARE(rowCount(f.st()), 51 + stored);
    }

    void killedCompactionLosesNothing_data()
    {
        QTest::addColumn<int>("delayUs");
        for (int us : {0, 500, 2000, 5000, 10000, 20000, 40000, 80000, 160000})
            QTest::newRow(qPrintable(QStringLiteral("%1 us").arg(us))) << us;
    }
    void killedCompactionLosesNothing()
    {
        QFETCH(int, delayUs);
        Fixture f;
        fillStore(f.st(), 100000);
        const qint64 rows = rowCount(f.st());
        const QString programDir = f.programDir();
        const pid_t pid = ::fork();
        if (pid == 0) {
            FakeClock clock;
            RecordingLog log;
            ReadingStore store(programDir, clock, log);
            for (;;) {
                try {
                    store.ConnectDB();
                    store.CompactDB();
                } catch (...) {
                    ::_exit(1);
                }
            }
        }
        ::usleep(static_cast<useconds_t>(delayUs));
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        QVERIFY(WIFSIGNALED(status));

        ReadingStore store(f.programDir(), f.clock, f.log);
        store.ConnectDB();
        QCOMPARE(rowCount(f.st()), rows);
        QCOMPARE(scalar(f.st(), "select count(*) from pragma_integrity_check where integrity_check = 'ok'"), 1);
        store.CompactDB();
        QVERIFY(!QFile::exists(f.tmp()));
        QCOMPARE(rowCount(f.st()), rows);
    }

    // A store deleted after a crash while its log stays (the user discarding the history):
    // the new store must not take that log for its own, whatever the log holds.
    void missingStoreNeverReplaysItsOldLog_data()
    {
        QTest::addColumn<int>("checkpointedRows");
        QTest::addColumn<int>("loggedRows");
        QTest::newRow("readings only in the log") << 0 << 20000;
        QTest::newRow("a big store and its log") << 100000 << 2000;
    }
    void missingStoreNeverReplaysItsOldLog()
    {
        QFETCH(int, checkpointedRows);
        QFETCH(int, loggedRows);
        Fixture f;
        {
            ReadingStore store(f.programDir(), f.clock, f.log);
            QVERIFY(store.ConnectDB());
        }
        // A program that dies with its readings still in the write-ahead log.
        const QString path = f.st();
        const pid_t pid = ::fork();
        if (pid == 0) {
            sqlite3 *db = nullptr;
            if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
                ::_exit(2);
            sqlite3_exec(db, "pragma wal_autocheckpoint=0;", nullptr, nullptr, nullptr);
            const auto insert = [db](int rows) {
                sqlite3_exec(db, "begin", nullptr, nullptr, nullptr);
                sqlite3_stmt *stmt = nullptr;
                sqlite3_prepare_v2(db, "insert into stats values (?1, ?2, ?3)", -1, &stmt, nullptr);
                for (int i = 0; i < rows; ++i) {
                    sqlite3_bind_double(stmt, 1, 46000.0 + i / 8640.0);
                    sqlite3_bind_text(stmt, 2, "28FF64D1A31603C2", 16, SQLITE_STATIC);
                    sqlite3_bind_double(stmt, 3, 20.0);
                    sqlite3_step(stmt);
                    sqlite3_reset(stmt);
                }
                sqlite3_finalize(stmt);
                return sqlite3_exec(db, "commit", nullptr, nullptr, nullptr) == SQLITE_OK;
            };
            if (checkpointedRows > 0
                && (!insert(checkpointedRows)
                    || sqlite3_exec(db, "pragma wal_checkpoint(truncate);", nullptr, nullptr, nullptr) != SQLITE_OK))
                ::_exit(3);
            ::_exit(insert(loggedRows) ? 0 : 4);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        QVERIFY(QFileInfo(f.st() + QStringLiteral("-wal")).size() > 0);
        QVERIFY(QFile::remove(f.st()));

        ReadingStore store(f.programDir(), f.clock, f.log);
        QVERIFY(store.ConnectDB());
        store.AddToStats(serial, 21.5);
        QCOMPARE(rowCount(f.st()), 1);
        QCOMPARE(scalar(f.st(), "select count(*) from stats_hours"), 1);
        QCOMPARE(scalar(f.st(), "select count(*) from pragma_integrity_check where integrity_check = 'ok'"), 1);
        // The log is kept aside, whole, for whoever wants the readings back.
        QVERIFY(QFileInfo(f.st() + QStringLiteral("-wal.orphan")).size() > 0);
        QCOMPARE(f.log.messages.filter(QStringLiteral("Kalvex.st-wal → Kalvex.st-wal.orphan")).size(), 1);
    }

    // A store deleted, moved or replaced while the program runs: the next reading goes to the
    // file at the path, never into the one that is gone.
    void storeGoneWhileRunning_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("rowsAfter");
        QTest::newRow("deleted") << QStringLiteral("delete") << 1;
        QTest::newRow("moved away") << QStringLiteral("move") << 1;
        QTest::newRow("replaced by another store") << QStringLiteral("replace") << 6;
    }
    void storeGoneWhileRunning()
    {
        QFETCH(QString, change);
        QFETCH(int, rowsAfter);
        Fixture f;
        ReadingStore store(f.programDir(), f.clock, f.log);
        QVERIFY(store.ConnectDB());
        store.AddToStats(serial, 20.0);
        store.AddToStats(serial, 20.5);
        QCOMPARE(store.errorCount(), quint64(0));
        const QString other = f.programDir() + QStringLiteral("other.st");
        if (change == QLatin1String("delete")) {
            QVERIFY(QFile::remove(f.st()));
        } else if (change == QLatin1String("move")) {
            QVERIFY(QFile::rename(f.st(), f.programDir() + QStringLiteral("moved.st")));
        } else {
            fillStore(other, 5);
            QVERIFY(std::rename(QFile::encodeName(other).constData(), QFile::encodeName(f.st()).constData()) == 0);
        }
        f.log.clear();

        store.AddToStats(serial, 21.5);
        store.AddToStats(serial, 22.0);
        QCOMPARE(rowCount(f.st()), rowsAfter + 1);
        QCOMPARE(scalar(f.st(), "select count(*) from stats where t = 22"), 1);
        QCOMPARE(scalar(f.st(), "select count(*) from pragma_integrity_check where integrity_check = 'ok'"), 1);
        QCOMPARE(f.log.messages.filter(QStringLiteral("во время работы")).size(), 1);
        QVERIFY(f.log.messages.first().startsWith(f.st()));
        QCOMPARE(store.errorCount(), quint64(1));
    }

    // What the web's /metrics counts: a store that cannot be opened is an error each time it
    // is tried.
    void storeErrorsCounted()
    {
        Fixture f;
        QVERIFY(QDir().mkdir(f.st()));
        ReadingStore store(f.programDir(), f.clock, f.log);
        QVERIFY(!store.ConnectDB());
        QCOMPARE(store.errorCount(), quint64(1));
        f.clock.advance(ReadingStore::UnusableRetryMs);
        QVERIFY_THROWS_EXCEPTION(KalvexError, store.AddToStats(serial, 20.0));
        QCOMPARE(store.errorCount(), quint64(2));
    }

    void formatAndHour_data()
    {
        QTest::addColumn<QDateTime>("when");
        QTest::addColumn<double>("nudge");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("text");
        const QDateTime last(QDate(2026, 12, 8), QTime(23, 59, 59, 999));
        const QDateTime whole(QDate(2026, 3, 5), QTime(14, 5, 9));
        const double hair = -1e-10; // well under a millisecond, in days
        const QStringList patterns = {"DD.MM.YYYY HH:mm:ss", "DD.MM.YYYY HH:mm:00", "DD.MM.YYYY HH:00:00",
                                      "DD.MM.YYYY 00:00:00", "YYYY-MM-01 00:00:00", "YYYY-01-01 00:00:00"};
        const QStringList lastTexts = {"08.12.2026 23:59:59", "08.12.2026 23:59:00", "08.12.2026 23:00:00",
                                       "08.12.2026 00:00:00", "2026-12-01 00:00:00", "2026-01-01 00:00:00"};
        const QStringList wholeTexts = {"05.03.2026 14:05:09", "05.03.2026 14:05:00", "05.03.2026 14:00:00",
                                        "05.03.2026 00:00:00", "2026-03-01 00:00:00", "2026-01-01 00:00:00"};
        for (int i = 0; i < patterns.size(); ++i) {
            QTest::newRow(qPrintable(QStringLiteral("23:59:59.999 ") + patterns[i])) << last << 0.0 << patterns[i] << lastTexts[i];
            QTest::newRow(qPrintable(QStringLiteral("hair below 14:05:09 ") + patterns[i])) << whole << hair << patterns[i] << wholeTexts[i];
        }
        QTest::newRow("mm not after HH: is copied") << whole << 0.0 << "mm ss HH" << "mm 09 14";
        QTest::newRow("other text copied") << whole << 0.0 << "Год YYYY, день DD" << "Год 2026, день 05";
    }
    void formatAndHour()
    {
        QFETCH(QDateTime, when);
        QFETCH(double, nudge);
        QFETCH(QString, pattern);
        QFETCH(QString, text);
        Fixture f;
        ReadingStore store(f.programDir(), f.clock, f.log);
        store.ConnectDB();
        TADOQuery &q = store.ADOQuery1;
        q.SQL.Clear();
        // The pattern goes in the way the history statements write it: a double-quoted literal.
        q.SQL.Add(QStringLiteral("SELECT format(:d, \"%1\"), HOUR(:d)").arg(pattern));
        q.setDateTime(QStringLiteral("d"), datetime::fromQDateTime(when) + nudge);
        q.Open();
        QCOMPARE(q.Fields(0).AsString(), text);
        QCOMPARE(q.Fields(1).AsInteger(), when.time().hour());
    }

    void hourAtDayEdges_data()
    {
        QTest::addColumn<QTime>("time");
        QTest::addColumn<int>("hour");
        QTest::newRow("00:00:00.000") << QTime(0, 0) << 0;
        QTest::newRow("23:59:59.999") << QTime(23, 59, 59, 999) << 23;
        QTest::newRow("hair below 15:00") << QTime(15, 0) << 15;
    }
    void hourAtDayEdges()
    {
        QFETCH(QTime, time);
        QFETCH(int, hour);
        const double dat = datetime::fromQDateTime(QDateTime(QDate(2026, 12, 8), time));
        QCOMPARE(storefunctions::hourOf(dat), hour);
        // Less than half a millisecond off stays in the same hour, on either side.
        QCOMPARE(storefunctions::hourOf(dat - 1e-10), hour);
        QCOMPARE(storefunctions::format(datetime::fromQDateTime(QDateTime(QDate(1899, 12, 29), time)),
                                        QStringLiteral("DD.MM.YYYY")),
                 QStringLiteral("29.12.1899"));
    }

    void queryObject()
    {
        Fixture f;
        ReadingStore store(f.programDir(), f.clock, f.log);
        store.ConnectDB();
        for (int i = 1; i <= 3; ++i)
            store.AddToStats(QStringLiteral("S%1").arg(i), i * 1.5);
        TADOQuery q;
        q.setConnectionString(store.ConnectionString());
        q.SQL.Add(QStringLiteral("select Sn, t from stats"));
        q.SQL.Add(QStringLiteral("where t >= :Low and Sn <> ':NotAParam' order by t"));
        QCOMPARE(q.ParamNames(), QStringList{QStringLiteral("Low")});
        q.setFloat(QStringLiteral("low"), 3.0);
        QVERIFY_THROWS_EXCEPTION(KalvexError, q.setFloat(QStringLiteral("High"), 1));
        q.Open();
        QCOMPARE(q.RecordCount(), 2);
        QCOMPARE(q.Fields(0).AsString(), QStringLiteral("S2"));
        q.Last();
        QCOMPARE(q.Fields(1).AsString(), QStringLiteral("4,5"));
        q.Next();
        QVERIFY(q.Eof());
        QVERIFY_THROWS_EXCEPTION(KalvexError, q.Fields(0));
        q.First();
        QVERIFY_THROWS_EXCEPTION(KalvexError, q.Fields(2));

        q.SQL.Clear();
        q.SQL.Add(QStringLiteral("delete from stats where Sn = :Sn"));
        QVERIFY_THROWS_EXCEPTION(KalvexError, q.ExecSQL()); // no value set
        q.setText(QStringLiteral("Sn"), QStringLiteral("S1"));
        QCOMPARE(q.ExecSQL(), 1);
        q.SQL.Clear();
        q.SQL.Add(QStringLiteral("selec nothing"));
        try {
            q.Open();
            QFAIL("a broken statement ran");
        } catch (const KalvexError &e) {
            QCOMPARE(e.message(), QStringLiteral("near \"selec\": syntax error"));
        }
        q.setConnectionString(QString());
        QVERIFY_THROWS_EXCEPTION(KalvexError, q.Open());
    }

    // The history window's statements as it sends them, the serials bound as parameters.
    void historyStatements()
    {
        Fixture f;
        ReadingStore store(f.programDir(), f.clock, f.log);
        store.ConnectDB();
        const QDateTime base(QDate(2026, 12, 8), QTime(10, 15, 30));
        const QList<QPair<qint64, double>> readings = {{0, 20.0}, {20, 21.0}, {3600, 25.0}};
        for (const auto &[secs, t] : readings) {
            f.clock.setNow(base.addSecs(secs));
            store.AddToStats(serial, t);
            store.AddToStats(QStringLiteral("OTHER"), 99);
        }
        TADOQuery q;
        q.setConnectionString(store.ConnectionString());
        q.SQL.Add(QStringLiteral("SELECT DISTINCT Sn FROM Stats"));
        q.Open();
        QCOMPARE(q.RecordCount(), 2);

        const QString key = QStringLiteral("DD.MM.YYYY HH:00:00");
        q.SQL.Clear();
        q.SQL.Add(QStringLiteral("SELECT format(dat, \"") + key
                  + QStringLiteral("\"), Sn, AVG(t) FROM Stats WHERE (Dat>=:DatFrom AND Dat<=:DatTo) AND Sn IN (:s0) "
                                   "GROUP BY format(dat, \"")
                  + key + QStringLiteral("\"), Sn ORDER By Sn;"));
        q.setDateTime(QStringLiteral("DatFrom"), datetime::fromQDateTime(QDateTime(base.date(), QTime(0, 0))));
        q.setDateTime(QStringLiteral("DatTo"), datetime::fromQDateTime(QDateTime(base.date(), QTime(23, 59, 59, 999))));
        q.setText(QStringLiteral("s0"), serial);
        q.Open();
        QCOMPARE(q.RecordCount(), 2);
        QStringList rows;
        for (q.First(); !q.Eof(); q.Next())
            rows << q.Fields(0).AsString() + QLatin1Char(' ') + q.Fields(1).AsString() + QLatin1Char(' ') + q.Fields(2).AsString();
        rows.sort();
        QCOMPARE(rows, (QStringList{QStringLiteral("08.12.2026 10:00:00 28FF64D1A31603C2 20,5"),
                                    QStringLiteral("08.12.2026 11:00:00 28FF64D1A31603C2 25")}));

        q.SQL.Clear();
        q.SQL.Add(QStringLiteral("DELETE FROM Stats WHERE (Dat>=:DatFrom AND Dat<=:DatTo) AND Sn IN (:s0);"));
        q.setDateTime(QStringLiteral("DatFrom"), datetime::fromQDateTime(QDateTime(base.date(), QTime(0, 0))));
        q.setDateTime(QStringLiteral("DatTo"), datetime::fromQDateTime(QDateTime(base.date(), QTime(23, 59, 59, 999))));
        q.setText(QStringLiteral("s0"), serial);
        QCOMPARE(q.ExecSQL(), 3);
        QCOMPARE(rowCount(f.st()), 3);
    }

    void engineText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("sent");
        QTest::newRow("double-quoted literal") << "format(dat, \"DD.MM\")" << "format(dat, 'DD.MM')";
        QTest::newRow("single quote inside") << "x = \"it's\"" << "x = 'it''s'";
        QTest::newRow("single-quoted kept") << "x = 'a\"b'" << "x = 'a\"b'";
    }
    void engineText()
    {
        QFETCH(QString, text);
        QFETCH(QString, sent);
        QCOMPARE(TADOQuery::engineText(text), sent);
    }
};

QTEST_GUILESS_MAIN(TestReadingStore)
#include "tst_readingstore.moc"
