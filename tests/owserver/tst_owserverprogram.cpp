#include "web/HttpClient.h"

#include "onewire/PtyBusServer.h"
#include "onewire/VirtualBus.h"
#include "owserver/OwMessage.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <poll.h>

#include <memory>
#include <thread>

using namespace OwMessage;

namespace {

constexpr int Wait = 20000;

const QByteArray Kitchen = "28.ECEDC7050000";  // 21.5 °C, corrected by +0.5
const QByteArray Boiler = "10.8739A8020800";   // DS18S20, 55 °C
const QByteArray Attic = "28.25EA52050000";    // switched on, not on the bus: never a reading

struct Run
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Run run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    Run result;
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

QStringList lines(const QByteArray &out)
{
    QStringList list = QString::fromUtf8(out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (QString &line : list)
        line = line.trimmed();
    return list;
}

// Whether the server closed the connection within timeoutMs (anything it sent is dropped).
bool closedWithin(int fd, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    char buffer[256];
    while (clock.elapsed() < timeoutMs) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(timeoutMs - clock.elapsed())) <= 0)
            return false;
        if (::recv(fd, buffer, sizeof buffer, 0) <= 0)
            return true;
    }
    return false;
}

// One request as Home Assistant's client sends it, from `source`; the reply, or nothing.
std::optional<Reply> ask(int port, const Request &request, const char *source)
{
    const int fd = httpclient::connectTo(port, source);
    if (fd < 0)
        return std::nullopt;
    const auto closeFd = qScopeGuard([fd] { ::close(fd); });
    if (!httpclient::sendAll(fd, encodeRequest(request)))
        return std::nullopt;
    ReplyParser parser;
    char buffer[4096];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 5000) <= 0)
            return std::nullopt;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return std::nullopt;
        if (parser.feed(QByteArrayView(buffer, n)) == ReplyParser::State::Ready)
            return parser.take();
    }
}

Request readOf(const QByteArray &path)
{
    Request r;
    r.type = Read;
    r.path = path;
    return r;
}

} // namespace

// The built program as an owserver on a loopback port, polling a bus simulator on a pseudo
// terminal, read by Debian's own owserver clients: owdir, owread, owwrite, and owserver
// itself chained behind it.
class TestOwServerProgram : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        for (const char *tool : {"owdir", "owread", "owwrite", "owserver"})
            QVERIFY2(!QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty()
                         || !QStandardPaths::findExecutable(QLatin1String(tool), {QStringLiteral("/usr/sbin")}).isEmpty(),
                     qPrintable(QStringLiteral("%1 is missing: scripts/install-deps.sh --tests installs it").arg(QLatin1String(tool))));
        QVERIFY(m_dir.isValid());
        m_bus.addSensor(QStringLiteral("28ECEDC7050000F6"), 21.5);
        m_bus.addSensor(QStringLiteral("108739A80208006F"), 55.0);
        m_pty = std::make_unique<PtyBusServer>(m_bus);
        QVERIFY(m_pty->open());
        QVERIFY(m_pty->linkAs(m_dir.filePath(QStringLiteral("COM1"))));
        m_serving = std::thread([this] { m_pty->run(); });

        m_port = httpclient::freePort();
        m_http = httpclient::freePort();
        QFile ini(m_dir.filePath(QStringLiteral("Kalvex.ini")));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[General]\nCOMPort=1\nTimeOut=1000\nAutoNab=1\nHTTPActive=1\nHTTPPort=" + QByteArray::number(m_http)
                  + "\n[Items]\nItemName0=Кухня\nItemSN0=28ECEDC7050000F6\nItemEnable0=1\nItemCorrect0=0,5\n"
                    "ItemName1=Котёл\nItemSN1=108739A80208006F\nItemEnable1=1\n"
                    "ItemName2=Чердак\nItemSN2=2825EA52050000CE\nItemEnable2=1\nItemCount=3\n"
                    "[OwServer]\nActive=1\nAddress=127.0.0.1\nPort="
                  + QByteArray::number(m_port) + "\n");
        ini.close();

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral("config")));
        m_program.setProcessEnvironment(env);
        m_program.setProcessChannelMode(QProcess::ForwardedChannels);
        m_program.start(QStringLiteral(KALVEX_PROGRAM), {QStringLiteral("--headless"), QStringLiteral("--dir"), m_dir.path()});
        QVERIFY(m_program.waitForStarted());
        // Served once the cycle has read both sensors.
        QTRY_VERIFY_WITH_TIMEOUT(run(QStringLiteral("owread"), {server(), QStringLiteral("/10.8739A8020800/temperature")}).exitCode == 0,
                                 Wait);
    }

    void cleanupTestCase()
    {
        if (m_program.state() != QProcess::NotRunning) {
            m_program.terminate();
            if (!m_program.waitForFinished(5000)) {
                m_program.kill();
                m_program.waitForFinished();
            }
        }
        if (m_pty) {
            m_pty->requestStop();
            if (m_serving.joinable())
                m_serving.join();
        }
    }

    // owdir lists every sensor in use and the bus; owread reads each one's files; the sensor
    // that never gave a reading answers with an error, as a failed sensor on owserver does.
    void owClientsListAndRead()
    {
        const Run root = run(QStringLiteral("owdir"), {server(), QStringLiteral("/")});
        QCOMPARE(root.exitCode, 0);
        QCOMPARE(lines(root.out), QStringList({QLatin1Char('/') + QString::fromLatin1(Kitchen), QLatin1Char('/') + QString::fromLatin1(Boiler),
                                               QLatin1Char('/') + QString::fromLatin1(Attic),
                                               QStringLiteral("/bus.0"), QStringLiteral("/uncached")}));
        const Run bus = run(QStringLiteral("owdir"), {server(), QStringLiteral("/bus.0")});
        QCOMPARE(lines(bus.out).size(), 3);

        const auto read = [this](const QByteArray &path, const QStringList &options = {}) {
            return run(QStringLiteral("owread"), QStringList{server()} + options + QStringList{QString::fromLatin1(path)});
        };
        QCOMPARE(read("/" + Kitchen + "/temperature").out, QByteArray("          22"));
        QCOMPARE(read("/uncached/bus.0/" + Kitchen + "/temperature", {QStringLiteral("-F")}).out, QByteArray("        71.6"));
        QCOMPARE(read("/" + Boiler + "/temperature").out, QByteArray("          55"));
        QCOMPARE(read("/" + Boiler + "/type").out, QByteArray("DS18S20"));
        QCOMPARE(QString::fromUtf8(read("/" + Kitchen + "/alias").out), QStringLiteral("Кухня"));
        QCOMPARE(read("/" + Kitchen + "/address").out, QByteArray("28ECEDC7050000F6"));
        const Run attic = read("/" + Attic + "/temperature");
        QVERIFY(attic.exitCode != 0);
        QVERIFY2(attic.out.isEmpty() && !attic.err.isEmpty(), attic.err.constData());
        QVERIFY(read("/" + Attic + "/type").exitCode == 0);
        QVERIFY(read("/28.AAAAAAAAAAAA/temperature").exitCode != 0);

        const QByteArray metrics = httpclient::get(m_http, "/metrics").body;
        QVERIFY2(metrics.contains("\nkalvex_owserver_listening 1\n"), metrics.constData());
        QVERIFY(!metrics.contains("\nkalvex_owserver_requests_total 0\n"));
        QVERIFY(!metrics.contains("\nkalvex_owserver_errors_total 0\n"));
    }

    // Another Kalvex with an owserver bus pointed at this one shows the same sensors with the
    // same values: what this one serves is what an owserver client of its own reads.
    void secondKalvexReadsTheFirst()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const int http = httpclient::freePort();
        QFile ini(dir.filePath(QStringLiteral("Kalvex.ini")));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[General]\nCOMPort=1\nTimeOut=1000\nAutoNab=1\nHTTPActive=1\nHTTPPort=" + QByteArray::number(http)
                  + "\n[Items]\nItemName0=Кухня\nItemSN0=28ECEDC7050000F6\nItemEnable0=1\n"
                    "ItemName1=Котёл\nItemSN1=108739A80208006F\nItemEnable1=1\n"
                    "ItemName2=Чердак\nItemSN2=2825EA52050000CE\nItemEnable2=1\nItemCount=3\n"
                    "[Bus]\nKind=owserver\nHost=127.0.0.1\nPort="
                  + QByteArray::number(m_port) + "\n");
        ini.close();
        QProcess second;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
        second.setProcessEnvironment(env);
        second.setProcessChannelMode(QProcess::ForwardedChannels);
        second.start(QStringLiteral(KALVEX_PROGRAM), {QStringLiteral("--headless"), QStringLiteral("--dir"), dir.path()});
        QVERIFY(second.waitForStarted());
        const auto stop = qScopeGuard([&second] {
            second.terminate();
            if (!second.waitForFinished(5000)) {
                second.kill();
                second.waitForFinished();
            }
        });
        const auto temperatures = [](int port) {
            QStringList found;
            for (const QByteArray &line : httpclient::get(port, "/metrics").body.split('\n')) {
                if (line.startsWith("kalvex_temperature_celsius{"))
                    found << QString::fromUtf8(line);
            }
            return found;
        };
        QTRY_COMPARE_WITH_TIMEOUT(temperatures(http).size(), 2, Wait);
        QCOMPARE(temperatures(http), temperatures(m_http));
        QCOMPARE(temperatures(http).first(), QStringLiteral("kalvex_temperature_celsius{serial=\"28ECEDC7050000F6\",name=\"Кухня\"} 22"));
    }

    // Every write is refused, whatever it names; the values stay as they were.
    void writesRefused_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("alias") << QStringLiteral("/28.ECEDC7050000/alias");
        QTest::newRow("temperature") << QStringLiteral("/28.ECEDC7050000/temperature");
        QTest::newRow("directory") << QStringLiteral("/bus.0");
        QTest::newRow("nothing") << QStringLiteral("/28.ECEDC7050000/templow");
    }
    void writesRefused()
    {
        QFETCH(QString, path);
        QVERIFY(run(QStringLiteral("owwrite"), {server(), path, QStringLiteral("5")}).exitCode != 0);
        QCOMPARE(QString::fromUtf8(run(QStringLiteral("owread"), {server(), QStringLiteral("/28.ECEDC7050000/alias")}).out),
                 QStringLiteral("Кухня"));
    }

    // Debian's owserver with Kalvex as its server bus: it lists the sensors and reads them
    // through, the values Kalvex itself gives.
    void chainedOwserver()
    {
        const int port = httpclient::freePort();
        QProcess chained;
        chained.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        chained.start(QStringLiteral("owserver"),
                      {QStringLiteral("-s"), QStringLiteral("127.0.0.1:%1").arg(m_port), QStringLiteral("-p"),
                       QStringLiteral("127.0.0.1:%1").arg(port), QStringLiteral("--foreground"), QStringLiteral("--error_level=0")});
        QVERIFY(chained.waitForStarted());
        const auto stop = qScopeGuard([&chained] {
            chained.terminate();
            if (!chained.waitForFinished(5000)) {
                chained.kill();
                chained.waitForFinished();
            }
        });
        const QString through = QStringLiteral("127.0.0.1:%1").arg(port);
        QTRY_VERIFY_WITH_TIMEOUT(run(QStringLiteral("owdir"), {QStringLiteral("-s"), through, QStringLiteral("/")}).exitCode == 0, Wait);
        const QStringList root = lines(run(QStringLiteral("owdir"), {QStringLiteral("-s"), through, QStringLiteral("/")}).out);
        for (const QByteArray &sensor : {Kitchen, Boiler, Attic})
            QVERIFY2(root.contains(QLatin1Char('/') + QString::fromLatin1(sensor)), qPrintable(root.join(QLatin1Char(' '))));
        for (const QByteArray &path : {"/uncached/" + Kitchen + "/temperature", "/" + Boiler + "/temperature"}) {
            const Run chainedRead = run(QStringLiteral("owread"), {QStringLiteral("-s"), through, QString::fromLatin1(path)});
            QCOMPARE(chainedRead.exitCode, 0);
            const Run direct = run(QStringLiteral("owread"), {server(), QString::fromLatin1(path)});
            QCOMPARE(chainedRead.out.trimmed().toDouble(), direct.out.trimmed().toDouble());
        }
        QVERIFY(run(QStringLiteral("owread"), {QStringLiteral("-s"), through, QString::fromLatin1("/uncached/" + Attic + "/temperature")}).exitCode != 0);
    }

    // Clients that misbehave (600 idle connections, a 2 GB length, garbage, a request that
    // trickles in) while an honest one from another host is answered at once; each of them is
    // closed when its kind of fault shows, the trickle at the request deadline.
    void hostileClients()
    {
        std::vector<int> idle;
        const auto closeAll = qScopeGuard([&idle] {
            for (const int fd : idle)
                ::close(fd);
        });
        for (int i = 0; i < 600; ++i) {
            const int fd = httpclient::connectTo(m_port, "127.0.0.1");
            QVERIFY(fd >= 0);
            idle.push_back(fd);
        }
        Request honest = readOf("/" + Kitchen + "/temperature");
        const std::optional<Reply> answered = ask(m_port, honest, "127.0.0.2");
        QVERIFY(answered);
        QCOMPARE(answered->payload, QByteArray("          22"));
        // Beyond one address's share, the idle ones were closed at once.
        int closed = 0;
        for (const int fd : idle)
            closed += closedWithin(fd, 10) ? 1 : 0;
        QVERIFY2(closed >= 500, qPrintable(QString::number(closed)));

        const int huge = httpclient::connectTo(m_port, "127.0.0.3");
        idle.push_back(huge);
        QVERIFY(httpclient::sendAll(huge, encodeHeader({0, 0x7fffffff, Read, ClientFlags, DefaultDataSize, 0})));
        QVERIFY(closedWithin(huge, 2000));
        const int garbage = httpclient::connectTo(m_port, "127.0.0.4");
        idle.push_back(garbage);
        QVERIFY(httpclient::sendAll(garbage, QByteArray("GET / HTTP/1.1\r\nHost: kalvex\r\n\r\n")));
        QVERIFY(closedWithin(garbage, 2000));

        const int trickle = httpclient::connectTo(m_port, "127.0.0.5");
        idle.push_back(trickle);
        const QByteArray request = encodeRequest(honest);
        QElapsedTimer clock;
        clock.start();
        bool dropped = false;
        for (qsizetype i = 0; i < request.size() && !dropped; ++i) {
            if (!httpclient::sendAll(trickle, request.sliced(i, 1)))
                break;
            dropped = closedWithin(trickle, 400);
            // Meanwhile others are served.
            if (i == 3)
                QVERIFY(ask(m_port, honest, "127.0.0.2"));
        }
        QVERIFY(dropped || closedWithin(trickle, 3000));
        QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(ask(m_port, honest, "127.0.0.2"));

        const QByteArray metrics = httpclient::get(m_http, "/metrics").body;
        QVERIFY2(!metrics.contains("\nkalvex_owserver_refused_total 0\n"), metrics.constData());
    }

private:
    QString server() const { return QStringLiteral("--server=127.0.0.1:%1").arg(m_port); }

    QTemporaryDir m_dir;
    VirtualBus m_bus;
    std::unique_ptr<PtyBusServer> m_pty;
    std::thread m_serving;
    QProcess m_program;
    int m_port = 0;
    int m_http = 0;
};

QTEST_MAIN(TestOwServerProgram)
#include "tst_owserverprogram.moc"
