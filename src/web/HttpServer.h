#pragma once

#include "web/WebSnapshot.h"

#include <QString>

#include <cstddef>
#include <memory>
#include <mutex>

struct MHD_Daemon;

// The embedded web server (IdHTTPServer1): listens on one address and port, answers every
// request from the latest published snapshot on a worker thread, closes the connection after
// each reply. Started, stopped and fed on the window thread; the workers only read.
class HttpServer
{
public:
    enum class Threading {
        PerConnection, // one thread per connection
        Pool,          // a fixed pool of threads, each polling many connections
    };

    struct Limits
    {
        unsigned connections = 512;          // more are accepted and closed at once
        unsigned idleSeconds = 10;           // a connection silent this long is closed
        std::size_t requestMemory = 32768;   // request line and headers must fit (else 431)
        std::size_t bodyBytes = 65536;       // a larger body gets 413 or a closed connection
        unsigned poolThreads = 2;
        int backlog = 256;
    };

    enum class StartResult {
        Started,
        PortBusy, // the address and port are bound by someone else
        Failed,   // any other reason
    };

    // A pool of two threads: on loopback with a new connection per request it answers about
    // twice the requests of a thread per connection (tools/bench_web).
    HttpServer();
    HttpServer(Threading threading, Limits limits);
    ~HttpServer();
    HttpServer(const HttpServer &) = delete;
    HttpServer &operator=(const HttpServer &) = delete;

    // Listens on address:port (an IPv4 address such as "0.0.0.0"). A running server is
    // stopped first. The port is never shared: another listener on it means PortBusy.
    StartResult start(const QString &address, int port);
    // Closes the listener and every connection; joins the workers.
    void stop();
    bool running() const { return m_daemon != nullptr; }

    // Replaces what the following requests see. Requests under way keep the one they took.
    void publish(std::shared_ptr<const WebSnapshot> snapshot);
    std::shared_ptr<const WebSnapshot> snapshot() const;

    const Limits &limits() const { return m_limits; }

private:
    struct Callbacks;
    friend struct Callbacks;

    Threading m_threading;
    Limits m_limits;
    MHD_Daemon *m_daemon = nullptr;
    // Held for a pointer copy only. (libstdc++ 12's atomic shared_ptr hides its lock from the
    // thread sanitizer, which then reports every publish.)
    mutable std::mutex m_snapshotMutex;
    std::shared_ptr<const WebSnapshot> m_snapshot;
};
