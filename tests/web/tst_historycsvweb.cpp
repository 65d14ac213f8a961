#include "HttpClient.h"

#include "app/ui/HistoryCsvRoute.h"
#include "base/DateTime.h"
#include "base/Formats.h"
#include "history/HistoryCsv.h"
#include "history/ReadingStore.h"
#include "support/FakeClock.h"
#include "support/RecordingLog.h"
#include "web/HttpServer.h"

#include <sqlite3.h>

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <memory>
#include <mutex>

namespace {

double dat(int y, int mo, int d, int h = 0, int mi = 0, int s = 0)
{
    return datetime::fromQDateTime(QDateTime(QDate(y, mo, d), QTime(h, mi, s)));
}

// `days` days from 2026-01-01 of two sensors read every `step` seconds, one a quote in its
// name, through the program's own store (hourly sums included).
struct Store
{
    QTemporaryDir dir;
    QString path = dir.path() + QLatin1Char('/') + ReadingStore::fileName();

    Store(int days, int step)
    {
        FakeClock clock;
        RecordingLog log;
        ReadingStore store(dir.path() + QLatin1Char('/'), clock, log);
        store.ConnectDB();
        sqlite3 *db = nullptr;
        sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
        sqlite3_exec(db, "begin", nullptr, nullptr, nullptr);
        sqlite3_stmt *stmt = nullptr;
        sqlite3_prepare_v2(db, "insert into stats values (?1, ?2, ?3)", -1, &stmt, nullptr);
        for (qint64 s = 0; s < qint64(days) * 86400; s += step) {
            for (const char *sn : {"28FF000000000001", "28FF000000000002"}) {
                sqlite3_bind_double(stmt, 1, dat(2026, 1, 1) + double(s) / 86400.0);
                sqlite3_bind_text(stmt, 2, sn, -1, SQLITE_STATIC);
                sqlite3_bind_double(stmt, 3, double(s % 400) / 10.0);
                sqlite3_step(stmt);
                sqlite3_reset(stmt);
            }
        }
        sqlite3_finalize(stmt);
        sqlite3_exec(db, "commit", nullptr, nullptr, nullptr);
        sqlite3_close_v2(db);
    }
};

std::shared_ptr<const WebSnapshot> namedSnapshot()
{
    auto state = std::make_shared<WebSnapshot>();
    WebSnapshot::Slot kitchen;
    kitchen.SN = "28FF000000000001";
    kitchen.inUse = true;
    kitchen.name = QStringLiteral("Кухня \"у окна\"").toUtf8();
    state->items.push_back(kitchen);
    return state;
}

QString nameOf(const QString &serial)
{
    return serial == QLatin1String("28FF000000000001") ? QStringLiteral("Кухня \"у окна\"") : QString();
}

// The export as the command line writes it, for comparison.
QByteArray exported(const QString &path, const history::CsvRequest &request)
{
    history::CsvExport csv(path, request, &nameOf);
    QString error;
    if (!csv.open(error))
        return {};
    QByteArray out;
    while (csv.next(out, out.size() + 65536)) {
    }
    return out;
}

// A body sent in chunks, joined.
QByteArray unchunked(const httpclient::Reply &reply)
{
    if (reply.header("Transfer-Encoding").toLower() != "chunked")
        return reply.body;
    QByteArray body;
    qsizetype at = 0;
    for (;;) {
        const qsizetype line = reply.body.indexOf("\r\n", at);
        if (line < 0)
            return "bad chunks";
        bool ok = false;
        const qsizetype size = reply.body.mid(at, line - at).toLongLong(&ok, 16);
        if (!ok)
            return "bad chunks";
        if (size == 0)
            return body;
        body += reply.body.mid(line + 2, size);
        at = line + 2 + size + 2;
    }
}

// Counts what the real stream of the route made, and whether it was cancelled.
struct Watch
{
    std::atomic<qint64> bytes{0};
    std::atomic<bool> cancelled{false};
    std::atomic<bool> ended{false};
};

class WatchedStream final : public ReplyStream
{
public:
    WatchedStream(std::unique_ptr<ReplyStream> inner, std::shared_ptr<Watch> watch)
        : m_inner(std::move(inner)), m_watch(std::move(watch))
    {
    }
    ~WatchedStream() override { m_watch->ended = true; }
    bool next(QByteArray &out, qsizetype wanted) override
    {
        const qsizetype before = out.size();
        const bool more = m_inner->next(out, wanted);
        m_watch->bytes += out.size() - before;
        return more;
    }
    void cancel() override
    {
        m_watch->cancelled = true;
        m_inner->cancel();
    }

private:
    std::unique_ptr<ReplyStream> m_inner;
    std::shared_ptr<Watch> m_watch;
};

} // namespace

class TestHistoryCsvWeb : public QObject
{
    Q_OBJECT

private slots:
    void init() { Formats::setCurrent(Formats::russian()); }

    void csvOverHttp_data()
    {
        QTest::addColumn<HttpServer::Threading>("threading");
        QTest::addColumn<QByteArray>("query");
        QTest::addColumn<int>("level");
        QTest::addColumn<QStringList>("serials");
        QTest::newRow("pool, minutes, every serial") << HttpServer::Threading::Pool
                                                    << QByteArray("from=2026-01-01&to=2026-01-02&level=minute")
                                                    << int(history::Level::Minute) << QStringList();
        QTest::newRow("pool, seconds, one serial") << HttpServer::Threading::Pool
                                                  << QByteArray("level=second&sn=28FF000000000001&from=2026-01-02&to=2026-01-02")
                                                  << int(history::Level::Second) << QStringList{"28FF000000000001"};
        QTest::newRow("pool, days, both serials") << HttpServer::Threading::Pool
                                                 << QByteArray("from=2026-01-01&to=2026-01-03&level=day&sn=28FF000000000002&sn=28FF000000000001")
                                                 << int(history::Level::Day) << QStringList{"28FF000000000002", "28FF000000000001"};
        QTest::newRow("thread per connection, hours") << HttpServer::Threading::PerConnection
                                                     << QByteArray("from=2026-01-01&to=2026-01-03&level=hour")
                                                     << int(history::Level::Hour) << QStringList();
    }
    void csvOverHttp()
    {
        QFETCH(HttpServer::Threading, threading);
        QFETCH(QByteArray, query);
        QFETCH(int, level);
        QFETCH(QStringList, serials);
        Store store(3, 10);
        HttpServer server(threading, HttpServer::Limits{});
        server.setStreamPath(historycsv::Path, historycsv::webHandler(store.path));
        server.publish(namedSnapshot());
        const int port = httpclient::freePort();
        QCOMPARE(server.start(QStringLiteral("0.0.0.0"), port), HttpServer::StartResult::Started);

        const httpclient::Reply reply = httpclient::get(port, "/history.csv?" + query);
        QCOMPARE(reply.status, 200);
        QCOMPARE(reply.header("Content-Type"), QByteArray("text/csv; charset=utf-8"));
        const QByteArray body = unchunked(reply);
        const QByteArray expected = exported(store.path, {QDate::fromString(QString::fromLatin1(query).section(QStringLiteral("from="), 1).left(10), Qt::ISODate),
                                                          QDate::fromString(QString::fromLatin1(query).section(QStringLiteral("to="), 1).left(10), Qt::ISODate),
                                                          history::Level(level), serials});
        QVERIFY(expected.count('\n') > 5);
        QCOMPARE(body, expected);
        QVERIFY(body.contains(",28FF000000000001,\"Кухня \"\"у окна\"\"\","));
        QVERIFY(body.contains(",28FF000000000002,,") == serials.isEmpty() || serials.contains("28FF000000000002"));
        // Only the exact path: another spelling is the page.
        QCOMPARE(httpclient::get(port, "/History.csv?" + query).header("Content-Type"), QByteArray("text/html"));
    }

    void refusals_data()
    {
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<bool>("storeThere");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("no parameters") << QByteArray("/history.csv") << true << 400 << QByteArray("нет параметра from\n");
        QTest::newRow("bad level") << QByteArray("/history.csv?from=2026-01-01&to=2026-01-01&level=week") << true << 400
                                   << QByteArray("неверная детализация level=week: нужна одна из second, minute, hour, day, month, year\n");
        QTest::newRow("escaped date") << QByteArray("/history.csv?from=2026%2D01%2D01&to=2026-01-01&level=xx") << true << 400
                                      << QByteArray("неверная детализация level=xx: нужна одна из second, minute, hour, day, month, year\n");
        QTest::newRow("store missing") << QByteArray("/history.csv?from=2026-01-01&to=2026-01-01&level=day") << false << 503
                                       << QByteArray("хранилище не читается: unable to open database file\n");
    }
    void refusals()
    {
        QFETCH(QByteArray, target);
        QFETCH(bool, storeThere);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        Store store(1, 3600);
        HttpServer server;
        server.setStreamPath(historycsv::Path,
                             historycsv::webHandler(storeThere ? store.path : store.dir.filePath(QStringLiteral("gone/Kalvex.st"))));
        server.publish(namedSnapshot());
        const int port = httpclient::freePort();
        QCOMPARE(server.start(QStringLiteral("0.0.0.0"), port), HttpServer::StartResult::Started);
        const httpclient::Reply reply = httpclient::get(port, target);
        QCOMPARE(reply.status, status);
        QCOMPARE(reply.header("Content-Type"), QByteArray("text/plain; charset=utf-8"));
        QCOMPARE(reply.body, body);
    }

    // A client that reads a little and goes away ends the export: its stream is cancelled and
    // made no more than a few parts beyond what the socket held. Meanwhile, and while another
    // client stalls its own export, the server answers everybody else.
    void clientGoingAwayStopsTheExport_data()
    {
        QTest::addColumn<HttpServer::Threading>("threading");
        QTest::newRow("pool") << HttpServer::Threading::Pool;
        QTest::newRow("thread per connection") << HttpServer::Threading::PerConnection;
    }
    void clientGoingAwayStopsTheExport()
    {
        QFETCH(HttpServer::Threading, threading);
        Store store(30, 10); // 518,400 readings: about 30 MB of CSV at seconds
        std::vector<std::shared_ptr<Watch>> watches;
        std::mutex watchesMutex;
        const StreamHandler route = historycsv::webHandler(store.path);
        // The stalled client is held however slow the machine: only its going or the stop ends it.
        HttpServer::Limits limits;
        limits.idleSeconds = 600;
        HttpServer server(threading, limits);
        server.setStreamPath(historycsv::Path, [&](const QueryPairs &query, const WebSnapshot &state) {
            StreamedReply reply = route(query, state);
            auto watch = std::make_shared<Watch>();
            {
                std::lock_guard lock(watchesMutex);
                watches.push_back(watch);
            }
            reply.stream = std::make_unique<WatchedStream>(std::move(reply.stream), watch);
            return reply;
        });
        const auto watch = [&](std::size_t i) {
            std::lock_guard lock(watchesMutex);
            return i < watches.size() ? watches.at(i) : nullptr;
        };
        server.publish(namedSnapshot());
        const int port = httpclient::freePort();
        QCOMPARE(server.start(QStringLiteral("0.0.0.0"), port), HttpServer::StartResult::Started);
        const QByteArray request = "GET /history.csv?from=2026-01-01&to=2026-01-30&level=second HTTP/1.1\r\nHost: x\r\n\r\n";

        // One client asks and never reads; a second reads 100 KB and leaves.
        const int stalled = httpclient::connectTo(port);
        QVERIFY(httpclient::sendAll(stalled, request));
        QTRY_VERIFY_WITH_TIMEOUT(watch(0) != nullptr, 5000);
        const int leaving = httpclient::connectTo(port);
        QVERIFY(httpclient::sendAll(leaving, request));
        QByteArray got;
        char buffer[16384];
        while (got.size() < 100000) {
            const ssize_t n = ::recv(leaving, buffer, sizeof buffer, 0);
            QVERIFY(n > 0);
            got.append(buffer, n);
        }
        QVERIFY(got.startsWith("HTTP/1.1 200"));
        ::close(leaving);

        // Its stream (and the store connection in it) goes at once, with nobody else asking.
        const std::shared_ptr<Watch> left = watch(1);
        const std::shared_ptr<Watch> waiting = watch(0);
        QVERIFY(left && waiting);
        QTRY_VERIFY_WITH_TIMEOUT(left->cancelled.load(), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(left->ended.load(), 10000);
        const qint64 made = left->bytes;
        // The whole body is some 30 MB; the one left behind had made a few parts past what
        // the sockets held when its client went.
        QVERIFY2(made < 12 * 1024 * 1024, qPrintable(QString::number(made)));

        // Everybody else is answered meanwhile.
        for (int i = 0; i < 5; ++i) {
            const httpclient::Reply page = httpclient::get(port, "/history.csv?from=2026-01-01&to=2026-01-01&level=day");
            QCOMPARE(page.status, 200);
            QCOMPARE(unchunked(page).count('\n'), 3);
        }
        QTRY_VERIFY_WITH_TIMEOUT(watch(6) != nullptr, 5000);
        QVERIFY(!waiting->ended);

        // A stop with a stalled client waiting on a full queue ends at once.
        QElapsedTimer stopping;
        stopping.start();
        server.stop();
        QVERIFY(stopping.elapsed() < 5000);
        QVERIFY(waiting->cancelled);
        QVERIFY(waiting->ended);
        ::close(stalled);
    }
};

QTEST_GUILESS_MAIN(TestHistoryCsvWeb)
#include "tst_historycsvweb.moc"
