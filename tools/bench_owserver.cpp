// Requests per second for a sensor's temperature over the owserver protocol on loopback:
// the built program (--demo --headless, its three sensors) against Debian's owserver
// --tester serving three devices of the same families, in the same run, with 16 and 64
// connections. Each connection keeps one request under way: persistent connections as a
// chained owserver or Home Assistant keep them, and a new connection per request as owread
// makes one.
//
//   bench_owserver [--program build/src/app/kalvex] [--seconds 5]

#include "owserver/OwMessage.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

using namespace OwMessage;

namespace {

int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<const sockaddr *>(&where), sizeof where);
    socklen_t size = sizeof where;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&where), &size);
    ::close(fd);
    return ntohs(where.sin_port);
}

int connectTo(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(static_cast<quint16>(port));
    where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&where), sizeof where) != 0) {
        ::close(fd);
        return -1;
    }
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
}

struct Result
{
    double perSecond = 0;
    quint64 errors = 0;
    quint64 failures = 0; // connections that ended without a reply
};

// One client thread: `connections` sockets, each with one request under way, for `seconds`.
Result load(int port, const QByteArray &path, int connections, bool persistent, double seconds)
{
    Request request;
    request.type = Read;
    request.path = path;
    if (persistent)
        request.flags |= Flag::Persistence;
    const QByteArray bytes = encodeRequest(request);
    struct Conn
    {
        int fd = -1;
        ReplyParser parser;
    };
    std::vector<Conn> conns(static_cast<std::size_t>(connections));
    Result result;
    const auto open = [&](Conn &c) {
        c.parser.reset();
        c.fd = connectTo(port);
        if (c.fd >= 0 && ::send(c.fd, bytes.constData(), static_cast<size_t>(bytes.size()), MSG_NOSIGNAL) != bytes.size()) {
            ::close(c.fd);
            c.fd = -1;
        }
        if (c.fd < 0)
            ++result.failures;
    };
    for (Conn &c : conns)
        open(c);
    quint64 replies = 0;
    std::vector<pollfd> polls(conns.size());
    QElapsedTimer clock;
    clock.start();
    const qint64 end = static_cast<qint64>(seconds * 1000);
    char buffer[4096];
    while (clock.elapsed() < end) {
        for (std::size_t i = 0; i < conns.size(); ++i)
            polls[i] = {conns[i].fd, POLLIN, 0};
        if (::poll(polls.data(), polls.size(), 100) <= 0)
            continue;
        for (std::size_t i = 0; i < conns.size(); ++i) {
            Conn &c = conns[i];
            if (c.fd < 0 || !(polls[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const ssize_t n = ::recv(c.fd, buffer, sizeof buffer, 0);
            if (n <= 0) {
                ::close(c.fd);
                ++result.failures;
                open(c);
                continue;
            }
            if (c.parser.feed(QByteArrayView(buffer, n)) != ReplyParser::State::Ready)
                continue;
            const Reply reply = c.parser.take();
            ++replies;
            if (reply.ret < 0)
                ++result.errors;
            if (persistent) {
                ::send(c.fd, bytes.constData(), static_cast<size_t>(bytes.size()), MSG_NOSIGNAL);
            } else {
                ::close(c.fd);
                open(c);
            }
        }
    }
    const double elapsed = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    for (Conn &c : conns) {
        if (c.fd >= 0)
            ::close(c.fd);
    }
    result.perSecond = static_cast<double>(replies) / elapsed;
    return result;
}

bool answers(int port, const QByteArray &path)
{
    Request request;
    request.type = Read;
    request.path = path;
    const int fd = connectTo(port);
    if (fd < 0)
        return false;
    const QByteArray bytes = encodeRequest(request);
    ::send(fd, bytes.constData(), static_cast<size_t>(bytes.size()), MSG_NOSIGNAL);
    ReplyParser parser;
    char buffer[1024];
    bool ok = false;
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 2000) <= 0)
            break;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        if (parser.feed(QByteArrayView(buffer, n)) == ReplyParser::State::Ready) {
            ok = parser.take().ret > 0;
            break;
        }
    }
    ::close(fd);
    return ok;
}

bool waitUntilAnswered(int port, const QByteArray &path)
{
    for (int i = 0; i < 300; ++i) {
        if (answers(port, path))
            return true;
        QThread::msleep(100);
    }
    return false;
}

void stopProcess(QProcess &process)
{
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished();
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption programOption(QStringLiteral("program"), QStringLiteral("The kalvex binary."),
                                           QStringLiteral("path"),
                                           QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("../src/app/kalvex")));
    const QCommandLineOption secondsOption(QStringLiteral("seconds"), QStringLiteral("Seconds per measurement."),
                                           QStringLiteral("s"), QStringLiteral("5"));
    parser.addOptions({programOption, secondsOption});
    parser.process(app);
    const double seconds = parser.value(secondsOption).toDouble();

    QTemporaryDir dir;
    const int kalvexPort = freePort();
    QFile ini(dir.filePath(QStringLiteral("Kalvex.ini")));
    if (!ini.open(QIODevice::WriteOnly))
        return 1;
    // The web server stays off (HTTPActive=0 in the file keeps the demo's page away).
    ini.write("[General]\nHTTPActive=0\n[OwServer]\nActive=1\nAddress=127.0.0.1\nPort="
              + QByteArray::number(kalvexPort) + "\n");
    ini.close();
    QProcess kalvex;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    kalvex.setProcessEnvironment(env);
    kalvex.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    kalvex.setStandardOutputFile(QProcess::nullDevice());
    kalvex.start(parser.value(programOption),
                 {QStringLiteral("--demo"), QStringLiteral("--headless"), QStringLiteral("--dir"), dir.path()});
    const int testerPort = freePort();
    QProcess tester;
    tester.setProcessChannelMode(QProcess::ForwardedChannels);
    tester.start(QStringLiteral("owserver"), {QStringLiteral("--tester=28,28,10"), QStringLiteral("-p"),
                                              QStringLiteral("127.0.0.1:%1").arg(testerPort), QStringLiteral("--foreground"),
                                              QStringLiteral("--error_level=0")});
    const QByteArray kalvexPath = "/28.ECEDC7050000/temperature";
    const QByteArray testerPath = "/28.000028D70000/temperature";
    if (!kalvex.waitForStarted() || !tester.waitForStarted() || !waitUntilAnswered(kalvexPort, kalvexPath)
        || !waitUntilAnswered(testerPort, testerPath)) {
        std::fprintf(stderr, "a server did not answer\n");
        stopProcess(kalvex);
        stopProcess(tester);
        return 1;
    }

    std::printf("temperature reads per second over loopback, %.0f s each, 3 devices\n", seconds);
    std::printf("%-12s %-11s %12s %12s\n", "connections", "mode", "kalvex", "owserver");
    for (const bool persistent : {true, false}) {
        for (const int connections : {16, 64}) {
            const Result k = load(kalvexPort, kalvexPath, connections, persistent, seconds);
            const Result t = load(testerPort, testerPath, connections, persistent, seconds);
            std::printf("%-12d %-11s %12.0f %12.0f", connections, persistent ? "persistent" : "per request",
                        k.perSecond, t.perSecond);
            if (k.errors || k.failures || t.errors || t.failures)
                std::printf("   (errors %llu/%llu, dropped %llu/%llu)", static_cast<unsigned long long>(k.errors),
                            static_cast<unsigned long long>(t.errors), static_cast<unsigned long long>(k.failures),
                            static_cast<unsigned long long>(t.failures));
            std::printf("\n");
            std::fflush(stdout);
        }
    }
    stopProcess(kalvex);
    stopProcess(tester);
    return 0;
}
