// Fills a reading store with `sensors` sensors read every `interval` seconds for `days` days,
// ending at the current time, as the monitoring cycle would have written them (rows of one
// cycle a few milliseconds apart). One transaction, one prepared statement.
//
//   store_generate DIR [sensors=10] [days=365] [interval=10]
#include "base/Clock.h"
#include "base/DateTime.h"
#include "base/Log.h"
#include "history/ReadingStore.h"

#include <sqlite3.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>

#include <cmath>
#include <cstdio>

namespace {

class PrintLog final : public Log
{
public:
    void AddLog(const QString &message) override { std::printf("%s\n", qPrintable(message)); }
    void addRawLine(const QString &line) override { std::printf("%s\n", qPrintable(line)); }
};

bool check(sqlite3 *db, int rc)
{
    if (rc == SQLITE_OK || rc == SQLITE_DONE)
        return true;
    std::fprintf(stderr, "sqlite: %s\n", sqlite3_errmsg(db));
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: store_generate DIR [sensors=10] [days=365] [interval=10]\n");
        return 2;
    }
    const QString dir = QDir(args.at(1)).absolutePath() + QLatin1Char('/');
    const int sensors = args.size() > 2 ? args.at(2).toInt() : 10;
    const int days = args.size() > 3 ? args.at(3).toInt() : 365;
    const int interval = args.size() > 4 ? args.at(4).toInt() : 10;
    if (sensors <= 0 || days <= 0 || interval <= 0) {
        std::fprintf(stderr, "sensors, days and interval must be positive\n");
        return 2;
    }
    QDir().mkpath(dir);
    QFile::remove(dir + ReadingStore::fileName());

    SystemClock clock;
    PrintLog log;
    ReadingStore store(dir, clock, log);
    store.ConnectDB(); // the real schema: table and index

    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(store.storePath()).constData(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
        return check(db, SQLITE_ERROR) ? 0 : 1;
    sqlite3_exec(db, "pragma journal_mode=off; pragma synchronous=off; pragma cache_size=-262144;", nullptr, nullptr, nullptr);

    QVector<QByteArray> serials;
    for (int s = 0; s < sensors; ++s)
        serials << QByteArray("28FF00000000").append(QByteArray::number(s, 16).rightJustified(4, '0').toUpper());

    const double end = datetime::fromQDateTime(clock.now());
    const qint64 cycles = static_cast<qint64>(days) * 86400 / interval;
    const double step = interval / 86400.0;
    const double start = end - static_cast<double>(cycles) * step;

    QElapsedTimer timer;
    timer.start();
    sqlite3_stmt *stmt = nullptr;
    if (!check(db, sqlite3_exec(db, "begin", nullptr, nullptr, nullptr))
        || !check(db, sqlite3_prepare_v2(db, "insert into stats(Dat, Sn, t) values (?1, ?2, ?3)", -1, &stmt, nullptr)))
        return 1;
    for (qint64 c = 0; c < cycles; ++c) {
        const double cycleTime = start + static_cast<double>(c) * step;
        for (int s = 0; s < sensors; ++s) {
            // A daily swing and a per-sensor offset, one decimal as stored by the cycle.
            const double t = std::round((15.0 + s + 8.0 * std::sin(cycleTime * 2 * M_PI)) * 10) / 10;
            // To the millisecond, as the clock stamps a reading (plain arithmetic: the dates are
            // after the epoch, and a QDateTime per row would cost more than the insert).
            sqlite3_bind_double(stmt, 1, std::round((cycleTime + s * 0.001 / 86400) * 86400000.0) / 86400000.0);
            sqlite3_bind_text(stmt, 2, serials[s].constData(), 16, SQLITE_STATIC);
            sqlite3_bind_double(stmt, 3, t);
            if (!check(db, sqlite3_step(stmt)))
                return 1;
            sqlite3_reset(stmt);
        }
    }
    sqlite3_finalize(stmt);
    if (!check(db, sqlite3_exec(db, "commit", nullptr, nullptr, nullptr)))
        return 1;
    sqlite3_close_v2(db);
    const qint64 rows = cycles * sensors;
    std::printf("rows: %lld in %.1f s (%.0f rows/s)\n", static_cast<long long>(rows), timer.elapsed() / 1000.0,
                static_cast<double>(rows) * 1000.0 / static_cast<double>(std::max<qint64>(timer.elapsed(), 1)));
    std::printf("file: %s, %.1f MiB\n", qPrintable(store.storePath()),
                static_cast<double>(QFileInfo(store.storePath()).size()) / (1024.0 * 1024.0));
    return 0;
}
