// Measures the web server under load on loopback, against nginx serving the same page as a
// static file, and the monitoring cycle's timing while the page is fetched:
//
//   bench_web [seconds=10] [sensors=10] [pool-threads=2] [publish]
//     publish: only the time the window thread spends publishing one snapshot
//
// Needs wrk and nginx on the PATH (benchmark only, not program dependencies).
// 1. A main window on the virtual bus with `sensors` sensors and a day of hourly values
//    publishes its page; the page is saved as index.html for nginx.
// 2. For 16 and 64 connections, each request on a new connection (Connection: close):
//    requests per second, p99 latency and errors of nginx, of the server with a thread pool
//    and of the server with a thread per connection.
//    Then /metrics from the thread pool with 16 connections.
// 3. The window's own server runs; cycles of four sensors with the real 750 ms conversion wait
//    are timed without load and while wrk fetches the page with 64 connections.
#include "base/Clock.h"
#include "app/ui/TForm1.h"
#include "onewire/TemperatureReader.h"
#include "onewire/VirtualBus.h"
#include "sensors/ui/SensorSlots.h"
#include "web/HttpServer.h"
#include "web/WebPage.h"

#include "SilentEdges.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <memory>

namespace {

void waitForIdleBus(const TForm1 &form)
{
    // The cycle runs in the event loop, one wait after another.
    while (!form.busIdle())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
}

int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<const sockaddr *>(&where), sizeof where);
    socklen_t size = sizeof where;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&where), &size);
    ::close(fd);
    return ntohs(where.sin_port);
}

struct WrkResult
{
    double rps = 0;
    double p99ms = 0;
    QString errors;
};

double toMs(const QString &value)
{
    static const QRegularExpression number(QStringLiteral("^([0-9.]+)(us|ms|s|m)$"));
    const QRegularExpressionMatch m = number.match(value);
    if (!m.hasMatch())
        return -1;
    const double v = m.captured(1).toDouble();
    const QString unit = m.captured(2);
    return unit == QLatin1String("us") ? v / 1000 : unit == QLatin1String("ms") ? v : unit == QLatin1String("s") ? v * 1000 : v * 60000;
}

QStringList wrkArguments(int port, int connections, int seconds, const QString &path = QStringLiteral("/"))
{
    return {QStringLiteral("-t2"), QStringLiteral("-c%1").arg(connections), QStringLiteral("-d%1s").arg(seconds),
            QStringLiteral("--latency"), QStringLiteral("-H"), QStringLiteral("Connection: close"),
            QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path)};
}

WrkResult parseWrk(const QString &out)
{
    WrkResult r;
    for (const QString &line : out.split(QLatin1Char('\n'))) {
        const QStringList f = line.simplified().split(QLatin1Char(' '));
        if (line.startsWith(QLatin1String("Requests/sec:")))
            r.rps = f.value(1).toDouble();
        else if (f.value(0) == QLatin1String("99%"))
            r.p99ms = toMs(f.value(1));
        else if (line.contains(QLatin1String("Socket errors")) || line.contains(QLatin1String("Non-2xx")))
            r.errors += line.simplified() + QLatin1Char(' ');
    }
    if (r.errors.isEmpty())
        r.errors = QStringLiteral("none");
    return r;
}

WrkResult runWrk(int port, int connections, int seconds, const QString &path = QStringLiteral("/"))
{
    QProcess wrk;
    wrk.start(QStringLiteral("wrk"), wrkArguments(port, connections, seconds, path));
    wrk.waitForFinished(seconds * 1000 + 30000);
    return parseWrk(QString::fromLocal8Bit(wrk.readAllStandardOutput()));
}

void printResult(const char *name, int connections, const WrkResult &r, double nginxRps)
{
    std::printf("%-24s c=%-3d %9.0f req/s  p99 %7.2f ms  %5.2f x nginx  errors: %s\n", name, connections, r.rps, r.p99ms,
                nginxRps > 0 ? r.rps / nginxRps : 0.0, qUtf8Printable(r.errors));
    std::fflush(stdout);
}

QString serialOf(int k)
{
    return QStringLiteral("28%1").arg(k + 1, 12, 16, QLatin1Char('0')).toUpper() + QStringLiteral("00");
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 10;
    const int sensors = argc > 2 ? std::max(4, QString::fromLocal8Bit(argv[2]).toInt()) : 10;
    QTemporaryDir dir;
    const QString root = dir.path() + QLatin1Char('/');

    SystemClock clock;
    SilentBoxes boxes;
    SilentSound sound;
    SilentLauncher launcher;
    VirtualBus *bus = nullptr;
    auto form = std::make_unique<TForm1>(TForm1Context{
        .clock = clock,
        .boxes = boxes,
        .programDir = ProgramDirectory{root, QString(), QString()},
        .programCommand = {QStringLiteral("bench_web")},
        .autostartFile = root + QStringLiteral("autostart/Kalvex.desktop"),
        .makeSerialPort =
            [&bus] {
                auto port = std::make_unique<VirtualBus>();
                bus = port.get();
                return port;
            },
        .demo = false,
        .sound = &sound,
        .launcher = &launcher,
    });
    for (int k = 0; k < sensors; ++k) {
        bus->addSensor(serialOf(k), 10.0 + k * 0.25);
        form->sensorSlots().AddItem(20 + (k % 10) * 60, 40 + (k / 10) * 70, QStringLiteral("Датчик %1").arg(k),
                                    serialOf(k), true, 0, false, DefaultTrayBackground, DefaultTrayText, 255,
                                    CreateClearSign());
    }
    // A day of hourly values: one cycle per hour.
    form->temperatureReader()->setConversionDelayMs(0);
    form->N3->setChecked(true);
    form->N3Click();
    waitForIdleBus(*form);
    form->Timer1->stop();
    for (int h = 0; h < 24; ++h) {
        for (int k = 0; k < sensors; ++k)
            form->SHour.setCell(h + 1, k + 1, QStringLiteral("%1,%2").arg(10 + k).arg(h % 10));
    }
    {
        QElapsedTimer timer;
        timer.start();
        constexpr int publishes = 1000;
        for (int i = 0; i < publishes; ++i)
            form->publishWebSnapshot();
        std::printf("publishing the snapshot of %d sensors: %.1f us\n", sensors,
                    static_cast<double>(timer.nsecsElapsed()) / 1000.0 / publishes);
        if (argc > 4 && qstrcmp(argv[4], "publish") == 0)
            return 0;
    }
    const std::shared_ptr<const WebSnapshot> snapshot = form->httpServer().snapshot();
    const QByteArray page = web::page(*snapshot, QByteArray());
    std::setlocale(LC_NUMERIC, "C");
    std::printf("page: %lld bytes, %d sensors, %d s per run, %d cores\n", static_cast<long long>(page.size()), sensors,
                seconds, QThread::idealThreadCount());

    // nginx with the same bytes as a static file, readable by its workers.
    QDir().mkpath(root + QStringLiteral("www"));
    QFile::setPermissions(dir.path(), QFile::permissions(dir.path()) | QFileDevice::ExeOther | QFileDevice::ExeGroup);
    QFile index(root + QStringLiteral("www/index.html"));
    index.open(QIODevice::WriteOnly);
    index.write(page);
    index.close();
    const int nginxPort = freePort();
    QFile conf(root + QStringLiteral("nginx.conf"));
    conf.open(QIODevice::WriteOnly);
    conf.write(QStringLiteral("daemon off; worker_processes auto; pid %1nginx.pid; error_log %1nginx-error.log;\n"
                              "events { worker_connections 4096; }\n"
                              "http { access_log off; default_type text/html; sendfile on;\n"
                              "  server { listen 127.0.0.1:%2; root %1www; } }\n")
                   .arg(root)
                   .arg(nginxPort)
                   .toUtf8());
    conf.close();
    QProcess nginx;
    nginx.start(QStringLiteral("nginx"), {QStringLiteral("-c"), conf.fileName(), QStringLiteral("-p"), root});
    QThread::msleep(500);

    HttpServer::Limits poolLimits;
    if (argc > 3)
        poolLimits.poolThreads = static_cast<unsigned>(std::max(1, QString::fromLocal8Bit(argv[3]).toInt()));
    HttpServer pool(HttpServer::Threading::Pool, poolLimits);
    HttpServer perConnection(HttpServer::Threading::PerConnection, HttpServer::Limits{});
    const int poolPort = freePort();
    const int perConnectionPort = freePort();
    pool.publish(snapshot);
    perConnection.publish(snapshot);
    if (pool.start(QStringLiteral("127.0.0.1"), poolPort) != HttpServer::StartResult::Started
        || perConnection.start(QStringLiteral("127.0.0.1"), perConnectionPort) != HttpServer::StartResult::Started) {
        std::fprintf(stderr, "server did not start\n");
        return 1;
    }
    for (const int connections : {16, 64}) {
        const WrkResult n = runWrk(nginxPort, connections, seconds);
        printResult("nginx (static file)", connections, n, n.rps);
        printResult("kalvex, thread pool", connections, runWrk(poolPort, connections, seconds), n.rps);
        printResult("kalvex, thread/connection", connections, runWrk(perConnectionPort, connections, seconds), n.rps);
    }
    // What a scraper fetches: the metrics text, made afresh for each request.
    printResult("kalvex /metrics, pool", 16, runWrk(poolPort, 16, seconds, QStringLiteral("/metrics")), 0);
    pool.stop();
    perConnection.stop();
    nginx.terminate();
    nginx.waitForFinished(5000);

    // The cycle with the real conversion wait, while the window's own server is loaded.
    form->temperatureReader()->setConversionDelayMs(750);
    form->HTTPPort = freePort();
    form->HTTP_Active->setChecked(true);
    form->StartHTTP(true);
    const auto cycleMs = [&form] {
        QElapsedTimer timer;
        timer.start();
        form->Nabl();
        waitForIdleBus(*form);
        form->Timer1->stop();
        return static_cast<double>(timer.nsecsElapsed()) / 1e6;
    };
    double idle = 0;
    for (int c = 0; c < 2; ++c)
        idle += cycleMs() / 2;
    QProcess wrk;
    wrk.start(QStringLiteral("wrk"), wrkArguments(form->HTTPPort, 64, seconds + 30));
    QThread::msleep(300);
    double loaded = 0;
    int loadedCycles = 0;
    QElapsedTimer during;
    during.start();
    while (during.elapsed() < seconds * 1000 || loadedCycles < 2) {
        loaded += cycleMs();
        ++loadedCycles;
    }
    wrk.kill();
    wrk.waitForFinished(5000);
    std::printf("cycle of %d sensors, 750 ms conversion: %.1f ms idle, %.1f ms while the page is fetched (c=64, %d cycles)\n",
                sensors, idle, loaded / loadedCycles, loadedCycles);
    return 0;
}
