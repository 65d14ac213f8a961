#pragma once

#include "web/ReplyStream.h"
#include "web/WebSnapshot.h"

#include <QString>

#include <cstddef>
#include <memory>
#include <mutex>

struct MHD_Daemon;
class RequestDeadlines;
class StreamPipes;

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
        // At the cap the library stops accepting: further clients wait in the listen backlog
        // (up to `backlog` of them; beyond it the kernel drops their connection attempts)
        // until a connection ends.
        unsigned connections = 512;
        // Connections one client address may hold at a time (0: no limit); more from it are
        // closed at once. A quarter of the cap: a host that misbehaves leaves three quarters
        // to everyone else, while a reverse proxy on the same machine (all its clients from
        // one address) keeps 64 requests going: the library counts a connection until it has
        // cleaned it up, after the client saw it closed, so a client that reconnects at once
        // overshoots (at a limit of 64, 64 such clients lost 1 % of their requests).
        unsigned perAddress = 128;
        unsigned idleSeconds = 10;           // a connection silent this long is closed
        // The request line and headers must be whole this long after the connection was
        // accepted (0: no deadline). Browsers send them in one packet; a header that fits
        // `requestMemory` crosses even a slow link in well under a second, so this leaves
        // room for a few lost packets' retransmissions, and no more.
        unsigned requestSeconds = 5;
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
    // Closes the listener and every connection; joins the workers. Never waits on a client:
    // the workers are woken at once, also while the cap has taken the listener out of their
    // wait.
    void stop();
    bool running() const { return m_daemon != nullptr; }

    // Replaces what the following requests see. Requests under way keep the one they took.
    void publish(std::shared_ptr<const WebSnapshot> snapshot);
    std::shared_ptr<const WebSnapshot> snapshot() const;

    const Limits &limits() const { return m_limits; }

    // Answers the exact path `path` (a request path, "/history.csv") with `handler`, whose
    // body is streamed from a thread of its own. Set while the server is stopped.
    void setStreamPath(const QByteArray &path, StreamHandler handler);

private:
    struct Callbacks;
    friend struct Callbacks;

    Threading m_threading;
    Limits m_limits;
    MHD_Daemon *m_daemon = nullptr;
    std::unique_ptr<RequestDeadlines> m_deadlines;
    QByteArray m_streamPath;
    StreamHandler m_streamHandler;
    std::unique_ptr<StreamPipes> m_streams;
    // Held for a pointer copy only. (libstdc++ 12's atomic shared_ptr hides its lock from the
    // thread sanitizer, which then reports every publish.)
    mutable std::mutex m_snapshotMutex;
    std::shared_ptr<const WebSnapshot> m_snapshot;
};
