// Measures the reading store.
//
//   store_bench inserts DIR [count=10000]   cost of AddToStats, each insert its own statement,
//                                           into a new store in DIR (median, mean, 99th pct)
//   store_bench startup DIR [sensors=10] [wholeday]
//                                           the start-up store work on an existing store
//                                           (ConnectDB, Load24Hour, ViewSHour per sensor) and
//                                           the plan of Load24Hour's statement; "wholeday" runs
//                                           it at yesterday 23:59:59 (a full day of readings)
#include "base/Clock.h"
#include "base/DateTime.h"
#include "base/Log.h"
#include "base/StringGrid.h"
#include "history/HourTable.h"
#include "history/ReadingStore.h"

#include <sqlite3.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

class PrintLog final : public Log
{
public:
    void AddLog(const QString &message) override { std::printf("log: %s\n", qPrintable(message)); }
    void addRawLine(const QString &line) override { std::printf("log: %s\n", qPrintable(line)); }
};

// A clock fixed at yesterday 23:59:59, so Load24Hour reads a whole stored day.
class EndOfYesterday final : public Clock
{
public:
    QDateTime now() const override { return QDateTime(QDate::currentDate().addDays(-1), QTime(23, 59, 59)); }
    quint32 tickCount() const override { return 0; }
};

double percentile(std::vector<double> sorted, double p)
{
    std::sort(sorted.begin(), sorted.end());
    const auto i = static_cast<std::size_t>(p * static_cast<double>(sorted.size() - 1));
    return sorted[i];
}

int inserts(const QString &dir, int count)
{
    QDir().mkpath(dir);
    QFile::remove(dir + ReadingStore::fileName());
    SystemClock clock;
    PrintLog log;
    ReadingStore store(dir, clock, log);
    store.ConnectDB();
    std::vector<double> us;
    us.reserve(static_cast<std::size_t>(count));
    QElapsedTimer timer;
    for (int i = 0; i < count; ++i) {
        timer.start();
        store.AddToStats(QStringLiteral("28FF0000000000%1").arg(i % 10, 2, 10, QLatin1Char('0')), 20 + (i % 100) / 10.0);
        us.push_back(static_cast<double>(timer.nsecsElapsed()) / 1000.0);
    }
    double sum = 0;
    for (double v : us)
        sum += v;
    std::printf("inserts: %d\nmedian: %.1f us\nmean: %.1f us\np99: %.1f us\nfile: %.1f KiB\n", count,
                percentile(us, 0.5), sum / count, percentile(us, 0.99),
                static_cast<double>(QFileInfo(store.storePath()).size()) / 1024.0);
    return 0;
}

void explain(const QString &path)
{
    sqlite3 *db = nullptr;
    sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    // The plan does not depend on the functions' bodies; HOUR is declared so the text prepares.
    sqlite3_create_function_v2(db, "HOUR", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                               [](sqlite3_context *c, int, sqlite3_value **) { sqlite3_result_int(c, 0); },
                               nullptr, nullptr, nullptr);
    sqlite3_stmt *stmt = nullptr;
    sqlite3_prepare_v2(db,
                       "EXPLAIN QUERY PLAN SELECT Sn, HOUR(dat) as dd, AVG(t) FROM Stats WHERE (Dat>=:DatFrom AND "
                       "Dat<=:DatTo) GROUP BY HOUR(dat), Sn ORDER By Sn",
                       -1, &stmt, nullptr);
    while (sqlite3_step(stmt) == SQLITE_ROW)
        std::printf("plan: %s\n", reinterpret_cast<const char *>(sqlite3_column_text(stmt, 3)));
    sqlite3_finalize(stmt);
    sqlite3_close_v2(db);
}

int startup(const QString &dir, int sensors, bool wholeDay)
{
    const QString path = dir + ReadingStore::fileName();
    if (!QFileInfo::exists(path)) {
        std::fprintf(stderr, "no store in %s (run store_generate first)\n", qPrintable(dir));
        return 1;
    }
    std::printf("file: %.1f MiB\n", static_cast<double>(QFileInfo(path).size()) / (1024.0 * 1024.0));
    explain(path);
    // Run 1 starts with the store's pages out of the page cache (this file's only), as after
    // a reboot; runs 2 and 3 find them cached.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        ::fdatasync(fd);
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        ::close(fd);
    }
    SystemClock systemClock;
    EndOfYesterday yesterday;
    const Clock &clock = wholeDay ? static_cast<const Clock &>(yesterday) : systemClock;
    PrintLog log;
    for (int run = 1; run <= 3; ++run) {
        TDSItems items;
        for (int s = 0; s < sensors; ++s) {
            TDSItem item;
            item.SN = QStringLiteral("28FF0000000000%1").arg(s, 2, 16, QLatin1Char('0')).toUpper();
            item.Enable = true;
            items.push_back(item);
        }
        StringGrid SHour(26, 2);
        QElapsedTimer total;
        total.start();
        ReadingStore store(dir, clock, log);
        store.ConnectDB();
        HourTable table(SHour, clock);
        table.writeHeader();
        int LastHour = -1;
        QElapsedTimer load;
        load.start();
        table.Load24Hour(store.ADOQuery1, items, LastHour);
        const double loadMs = static_cast<double>(load.nsecsElapsed()) / 1e6;
        for (int s = 0; s < sensors; ++s)
            table.ViewSHour(items, s, QStringLiteral("Датчик %1").arg(s));
        const double totalMs = static_cast<double>(total.nsecsElapsed()) / 1e6;
        int filled = 0;
        for (const TDSItem &item : items)
            filled += static_cast<int>(std::count_if(item.HourAvg.begin(), item.HourAvg.end(), [](double v) { return v != 0.0; }));
        std::printf("run %d: Load24Hour %.1f ms, start-up store work %.1f ms, %d hour values, LastHour %d\n", run,
                    loadMs, totalMs, filled, LastHour);
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: store_bench inserts DIR [count] | store_bench startup DIR [sensors] [wholeday]\n");
        return 2;
    }
    const QString dir = QDir(args.at(2)).absolutePath() + QLatin1Char('/');
    try {
        if (args.at(1) == QLatin1String("inserts"))
            return inserts(dir, args.size() > 3 ? std::max(args.at(3).toInt(), 1) : 10000);
        if (args.at(1) == QLatin1String("startup"))
            return startup(dir, args.size() > 3 ? std::max(args.at(3).toInt(), 1) : 10,
                           args.size() > 4 && args.at(4) == QLatin1String("wholeday"));
    } catch (const std::exception &e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        return 1;
    }
    std::fprintf(stderr, "unknown command\n");
    return 2;
}
