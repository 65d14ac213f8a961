// Measures the web server against stuck and hostile clients on loopback:
//
//   bench_web_clients [program]
//
// 1. With 0, 512 and 1000 connections open (idle, then each sending a header byte every
//    second), spread over hosts of 127.0.0.0/8 within each host's share: how long the window
//    thread is held by a port change (stop and start on another port) and by a stop.
// 2. While 127.0.0.2 holds 520 connections, each sending a header byte every 4 s and renewed
//    as the server closes them: the answer time of a normal client from 127.0.0.1.
// 3. With `program` (the built kalvex): started headless with the server on, the same open
//    connections, then SIGTERM: the time until it has ended.
#include "web/HttpServer.h"
#include "web/WebSnapshot.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_addr.s_addr = htonl(INADDR_ANY); // clients bound to other addresses hold ports too
    ::bind(fd, reinterpret_cast<const sockaddr *>(&where), sizeof where);
    socklen_t size = sizeof where;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&where), &size);
    ::close(fd);
    return ntohs(where.sin_port);
}

int connectFrom(int port, const QByteArray &source)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    ::inet_pton(AF_INET, source.constData(), &from.sin_addr);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(static_cast<uint16_t>(port));
    where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&from), sizeof from) != 0
        || ::connect(fd, reinterpret_cast<const sockaddr *>(&where), sizeof where) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// `count` connections, `perHost` from each of 127.0.0.10, .11, …
std::vector<int> openConnections(int port, int count, int perHost)
{
    std::vector<int> fds;
    for (int host = 10; static_cast<int>(fds.size()) < count; ++host) {
        const QByteArray source = "127.0.0." + QByteArray::number(host);
        for (int i = 0; i < perHost && static_cast<int>(fds.size()) < count; ++i) {
            const int fd = connectFrom(port, source);
            if (fd >= 0)
                fds.push_back(fd);
        }
    }
    return fds;
}

void closeAll(std::vector<int> &fds)
{
    for (int fd : fds)
        ::close(fd);
    fds.clear();
}

// Sends one byte on each connection every second while it lives.
struct Trickle
{
    std::atomic<bool> stop{false};
    std::thread thread;
    explicit Trickle(std::vector<int> &fds)
        : thread([this, &fds] {
            while (!stop) {
                for (int fd : fds)
                    ::send(fd, "G", 1, MSG_NOSIGNAL | MSG_DONTWAIT);
                for (int i = 0; i < 10 && !stop; ++i)
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        })
    {
    }
    ~Trickle()
    {
        stop = true;
        thread.join();
    }
};

// Milliseconds from connecting to the end of the reply; -1 when none came within 15 s.
double answerMs(int port)
{
    QElapsedTimer timer;
    timer.start();
    const int fd = connectFrom(port, "127.0.0.1");
    if (fd < 0)
        return -1;
    const char request[] = "GET /sn= HTTP/1.1\r\nHost: x\r\n\r\n";
    ::send(fd, request, sizeof request - 1, MSG_NOSIGNAL);
    QByteArray reply;
    char buffer[4096];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 15000) <= 0)
            break;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        reply.append(buffer, n);
    }
    ::close(fd);
    return reply.startsWith("HTTP/1.1 200") ? static_cast<double>(timer.nsecsElapsed()) / 1e6 : -1;
}

// Milliseconds the window thread spends in a port change (stop, start elsewhere) and in a
// stop, each with `connections` open.
void stalls(int connections, bool trickle)
{
    HttpServer server;
    server.publish(std::make_shared<const WebSnapshot>());
    int port = freePort();
    server.start(QStringLiteral("0.0.0.0"), port);
    double ms[2] = {0, 0};
    for (double &result : ms) {
        std::vector<int> fds = openConnections(port, connections, static_cast<int>(server.limits().perAddress));
        {
            std::unique_ptr<Trickle> trickling = trickle ? std::make_unique<Trickle>(fds) : nullptr;
            std::this_thread::sleep_for(std::chrono::milliseconds(1500));
            QElapsedTimer timer;
            timer.start();
            if (&result == &ms[0])
                server.start(QStringLiteral("0.0.0.0"), port = freePort());
            else
                server.stop();
            result = static_cast<double>(timer.nsecsElapsed()) / 1e6;
        }
        closeAll(fds);
    }
    std::printf("%4d connections %-9s port change holds the window thread %8.2f ms, stop %8.2f ms\n", connections,
                trickle ? "trickling" : "idle", ms[0], ms[1]);
    std::fflush(stdout);
}

void lockOut()
{
    HttpServer server;
    server.publish(std::make_shared<const WebSnapshot>());
    const int port = freePort();
    server.start(QStringLiteral("0.0.0.0"), port);
    std::atomic<bool> stop{false};
    std::thread host([&] {
        std::vector<int> fds(520, -1);
        while (!stop) {
            for (int &fd : fds) {
                char c = 0;
                if (fd >= 0 && ::recv(fd, &c, 1, MSG_DONTWAIT) == 0) {
                    ::close(fd);
                    fd = -1;
                }
                if (fd < 0)
                    fd = connectFrom(port, "127.0.0.2");
                if (fd >= 0)
                    ::send(fd, "G", 1, MSG_NOSIGNAL | MSG_DONTWAIT);
            }
            for (int i = 0; i < 40 && !stop; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        for (int fd : fds) {
            if (fd >= 0)
                ::close(fd);
        }
    });
    std::this_thread::sleep_for(std::chrono::seconds(2));
    std::vector<double> times;
    for (int i = 0; i < 20; ++i) {
        times.push_back(answerMs(port));
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    stop = true;
    host.join();
    const int failed = static_cast<int>(std::count(times.begin(), times.end(), -1.0));
    std::sort(times.begin(), times.end());
    std::printf("127.0.0.2 trickling 520 connections: a client of 127.0.0.1 answered in median %.2f ms, "
                "max %.2f ms, %d of 20 unanswered\n",
                times[times.size() / 2], times.back(), failed);
    std::fflush(stdout);
}

void programExit(const QString &program, int connections)
{
    QTemporaryDir dir;
    const int port = freePort();
    QFile ini(dir.filePath(QStringLiteral("Kalvex.ini")));
    ini.open(QIODevice::WriteOnly);
    ini.write("[General]\nAutoNab=0\nHTTPActive=1\nHTTPPort=" + QByteArray::number(port) + "\n");
    ini.close();
    QProcess kalvex;
    kalvex.setStandardErrorFile(dir.filePath(QStringLiteral("log")));
    kalvex.start(program, {QStringLiteral("--headless"), QStringLiteral("--dir"), dir.path()});
    kalvex.waitForStarted();
    // Up once it answers.
    for (int i = 0; i < 200 && answerMs(port) < 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::vector<int> fds = openConnections(port, connections, 64);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    QElapsedTimer timer;
    timer.start();
    ::kill(static_cast<pid_t>(kalvex.processId()), SIGTERM);
    const bool ended = kalvex.waitForFinished(30000);
    const double ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    closeAll(fds);
    std::printf("program with %4d open connections: SIGTERM to exit %8.1f ms%s\n", connections, ms,
                ended ? "" : " (not ended)");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    for (bool trickle : {false, true}) {
        for (int connections : {0, 512, 1000})
            stalls(connections, trickle);
    }
    lockOut();
    if (argc > 1) {
        for (int connections : {0, 512, 1000})
            programExit(QString::fromLocal8Bit(argv[1]), connections);
    }
    return 0;
}
