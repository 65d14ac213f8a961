// The owserver bus, measured against Debian's own owserver and its own client:
//
//   bench_owserverbus [rounds=5] [seconds=15]
//
// Readings per second: owserver --tester with 100 simulated DS18B20 on a free loopback port;
// the program's owserver bus reads every sensor's uncached temperature `rounds` times over
// its one connection, and `owread` is given the same 100 uncached paths in one process,
// `rounds` times. Stall: the whole program polling 10 sensors of a server that accepts
// connections and never answers (a listening socket nobody serves), with the real deadlines,
// and for comparison the same with the live server;
// a 2 ms timer ticks all the time and the stall is the longest gap between two ticks beyond
// its interval, over `seconds` of cycles back to back (each try waits out the reply deadline).
#include "app/ui/TForm1.h"
#include "base/Log.h"
#include "owserver/OwServerBus.h"
#include "sensors/ui/SensorSlots.h"

#include "PortWindow.h"

#include <QAction>
#include <QApplication>
#include <QCoroTask>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

class NoLog final : public Log
{
public:
    void AddLog(const QString &) override {}
    void addRawLine(const QString &) override {}
};

// A loopback socket that listens and is never served: the kernel completes the handshake,
// nothing ever answers. Gives the port; the descriptor stays open to the end.
int blackHole(int &fd)
{
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<const sockaddr *>(&where), sizeof where);
    ::listen(fd, 64);
    socklen_t size = sizeof where;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&where), &size);
    return ntohs(where.sin_port);
}

int freePort()
{
    int fd = -1;
    const int port = blackHole(fd);
    ::close(fd);
    return port;
}

QString serialOf(int k)
{
    // The tester's k-th DS18B20 is 28.000028D7kk00; its CRC from the bus's own naming.
    const QString device = QStringLiteral("28.000028D7%1%2").arg(k, 2, 16, QLatin1Char('0')).arg(QStringLiteral("00")).toUpper();
    return OwMessage::serialOfDeviceName(device.toLatin1()).value_or(QString());
}

template<typename T>
T wait(QCoro::Task<T> &&task)
{
    return QCoro::waitFor(std::move(task));
}

// owserver --tester with `count` DS18B20 on the port, accepting connections.
void startTester(QProcess &server, int port, int count)
{
    QStringList tester;
    for (int k = 0; k < count; ++k)
        tester << QStringLiteral("28");
    server.start(QStringLiteral("owserver"), {QStringLiteral("--tester=") + tester.join(QLatin1Char(',')), QStringLiteral("-p"),
                                              QStringLiteral("127.0.0.1:%1").arg(port), QStringLiteral("--foreground")});
    if (!server.waitForStarted()) {
        std::fprintf(stderr, "bench_owserverbus: owserver does not start\n");
        std::exit(1);
    }
    for (int i = 0; i < 200; ++i) {
        QTcpSocket probe;
        probe.connectToHost(QStringLiteral("127.0.0.1"), static_cast<quint16>(port));
        if (probe.waitForConnected(100))
            break;
        QThread::msleep(20);
    }
}

void throughput(int rounds)
{
    const int port = freePort();
    QProcess server;
    startTester(server, port, 100);
    NoLog log;
    OwServerBus bus(log);
    bus.setServer(QStringLiteral("127.0.0.1"), port, QString());
    bus.open();
    QStringList serials;
    QStringList paths;
    for (int k = 0; k < 100; ++k) {
        serials << serialOf(k);
        paths << QStringLiteral("/uncached/") + QString::fromLatin1(OwServerBus::deviceOf(serials.back())) + QStringLiteral("/temperature");
    }
    wait(bus.GetTempSn(serials[0])); // the connection, as a cycle after the first has it
    int good = 0;
    QElapsedTimer timer;
    timer.start();
    for (int r = 0; r < rounds; ++r) {
        for (const QString &sn : std::as_const(serials))
            good += wait(bus.GetTempSn(sn)) != SensorReader::NoReading ? 1 : 0;
    }
    const double ours = 100.0 * rounds * 1000.0 / static_cast<double>(timer.elapsed());

    int owreadGood = 0;
    timer.restart();
    for (int r = 0; r < rounds; ++r) {
        QProcess owread;
        owread.start(QStringLiteral("owread"), QStringList{QStringLiteral("-s"), QStringLiteral("127.0.0.1:%1").arg(port)} + paths);
        owread.waitForFinished(60000);
        // The values one after the other, each right-aligned in 12 characters.
        owreadGood += static_cast<int>(QString::fromLatin1(owread.readAllStandardOutput())
                                           .split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts)
                                           .size());
    }
    const double theirs = 100.0 * rounds * 1000.0 / static_cast<double>(timer.elapsed());
    std::printf("100 sensors x %d rounds over loopback: owserver bus %8.0f readings/s (%d of %d answered), "
                "owread %8.0f readings/s (%d of %d)\n",
                rounds, ours, good, 100 * rounds, theirs, owreadGood, 100 * rounds);
    std::fflush(stdout);
    server.kill();
    server.waitForFinished();
}

// With silent, the server is a socket that listens and never answers; else owserver --tester.
void stall(int seconds, bool silent)
{
    int fd = -1;
    const int port = blackHole(fd);
    QProcess server;
    if (!silent) {
        ::close(fd);
        fd = -1;
        startTester(server, port, 10);
    }
    QTemporaryDir dir;
    const QString programDir = dir.path() + QLatin1Char('/');
    PortWindow window(programDir, QStringLiteral("bench_owserverbus"));
    std::unique_ptr<TForm1> &form = window.form;
    form->BusKind = QStringLiteral("owserver");
    form->OwBus = OwServerBusSettings{QStringLiteral("127.0.0.1"), port, QString()};
    // The shortest interval the settings allow: a cycle waits out one reply deadline, the
    // ones within RetryMs after it do not try.
    form->Timer1->setInterval(1000);
    for (int k = 0; k < 10; ++k)
        form->sensorSlots().AddItem(100, 100, QStringLiteral("T%1").arg(k), serialOf(k), true, 0, false, 0, 0, 255, CreateClearSign());
    form->show();

    double longest = 0;
    QElapsedTimer ticks;
    ticks.start();
    qint64 lastTick = -1;
    QElapsedTimer total;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(2);
    QObject::connect(&ticker, &QTimer::timeout, form.get(), [&] {
        const qint64 now = ticks.nsecsElapsed();
        longest = std::max(longest, static_cast<double>(now - lastTick) / 1e6 - 2.0);
        lastTick = now;
        if (total.elapsed() >= seconds * 1000)
            QCoreApplication::quit();
    });
    QTimer::singleShot(0, form.get(), [&] {
        lastTick = ticks.nsecsElapsed();
        ticker.start();
        total.start();
        form->N3->setChecked(true);
        form->N3Click();
    });
    QCoreApplication::exec();
    int outages = 0;
    for (const QString &line : form->Memo1->toPlainText().split(QLatin1Char('\n')))
        outages += line.contains(QStringLiteral("Шина 1: owserver")) ? 1 : 0;
    std::printf("%-28s 10 sensors, %lld ms of cycles (%d outage line): longest window-thread stall %.1f ms\n",
                silent ? "server that never answers:" : "live server:", static_cast<long long>(total.elapsed()), outages,
                longest);
    std::fflush(stdout);
    form.reset();
    if (fd >= 0)
        ::close(fd);
    server.kill();
    server.waitForFinished();
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 5;
    const int seconds = argc > 2 ? std::max(1, QString::fromLocal8Bit(argv[2]).toInt()) : 15;
    throughput(rounds);
    stall(seconds, false);
    stall(seconds, true);
    return 0;
}
