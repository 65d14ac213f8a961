#pragma once

#include <QByteArray>
#include <QList>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

// A plain blocking HTTP/1.1 client over a real socket, for the web server's tests: what the
// server sent, byte for byte, and whether it closed the connection.
namespace httpclient {

struct Reply
{
    int status = 0;
    QByteArray head;
    QByteArray body;
    bool closed = false; // the server ended the connection after its reply

    QByteArray header(const QByteArray &name) const
    {
        for (const QByteArray &line : head.split('\n')) {
            const qsizetype colon = line.indexOf(':');
            if (colon > 0 && line.left(colon).trimmed().toLower() == name.toLower())
                return line.mid(colon + 1).trimmed();
        }
        return {};
    }
};

// A connection to the server on loopback; from `source` (another address of 127.0.0.0/8,
// as another host of the network would come) when it is given.
inline int connectTo(int port, const char *source = nullptr)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (source) {
        sockaddr_in from{};
        from.sin_family = AF_INET;
        if (::inet_pton(AF_INET, source, &from.sin_addr) != 1
            || ::bind(fd, reinterpret_cast<const sockaddr *>(&from), sizeof from) != 0) {
            ::close(fd);
            return -1;
        }
    }
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(static_cast<uint16_t>(port));
    where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&where), sizeof where) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

inline bool sendAll(int fd, const QByteArray &bytes)
{
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.constData() + sent, static_cast<size_t>(bytes.size() - sent), MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += n;
    }
    return true;
}

// Everything the server sends until it closes, or until nothing came for timeoutMs.
inline QByteArray readAll(int fd, bool &closed, int timeoutMs = 10000)
{
    QByteArray data;
    closed = false;
    char buffer[16384];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0)
            return data;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            closed = true;
            return data;
        }
        data.append(buffer, n);
    }
}

inline Reply parse(const QByteArray &data, bool closed)
{
    Reply reply;
    reply.closed = closed;
    const qsizetype end = data.indexOf("\r\n\r\n");
    if (end < 0)
        return reply;
    reply.head = data.left(end);
    reply.body = data.mid(end + 4);
    const QList<QByteArray> status = reply.head.left(reply.head.indexOf('\r')).split(' ');
    reply.status = status.size() > 1 ? status.at(1).toInt() : 0;
    return reply;
}

// Sends one raw request on a new connection and reads the reply to its end (or until the
// server has been silent for timeoutMs).
inline Reply exchange(int port, const QByteArray &request, int timeoutMs = 10000)
{
    const int fd = connectTo(port);
    if (fd < 0)
        return {};
    bool closed = false;
    QByteArray data;
    if (sendAll(fd, request))
        data = readAll(fd, closed, timeoutMs);
    ::close(fd);
    return parse(data, closed);
}

inline Reply get(int port, const QByteArray &target, const QByteArray &method = "GET")
{
    return exchange(port, method + ' ' + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
}

// A port nobody uses right now, on any address: a client socket bound to 127.0.0.2 holds its
// port there, and a server on 0.0.0.0 could not listen on it.
inline int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_addr.s_addr = htonl(INADDR_ANY);
    ::bind(fd, reinterpret_cast<const sockaddr *>(&where), sizeof where);
    socklen_t size = sizeof where;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&where), &size);
    ::close(fd);
    return ntohs(where.sin_port);
}

// A listener on 0.0.0.0:port, as another program would hold it.
inline int holdPort(int port, bool reusePort = false)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    if (reusePort)
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &on, sizeof on);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(static_cast<uint16_t>(port));
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&where), sizeof where) != 0 || ::listen(fd, 4) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace httpclient
