#include "owserver/OwServer.h"

#include "base/Log.h"
#include "owserver/OwMessage.h"
#include "owserver/OwTree.h"

#include <QHash>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <future>
#include <unordered_map>

namespace {

// What one connection holds: a request under way, and the one timer that closes it when it
// is silent too long or a request takes too long to arrive.
struct Connection
{
    QTcpSocket *socket = nullptr;
    QHostAddress address;
    OwMessage::RequestParser parser;
    QTimer *timer = nullptr;
    // A request has begun arriving: the request deadline runs, not the idle one.
    bool receiving = false;
    // The last reply is on its way and the connection ends after it.
    bool closing = false;
};

} // namespace

// The network side, living on the server's thread: the listener and every connection.
class OwConnections final : public QObject
{
public:
    using SnapshotSource = std::function<std::shared_ptr<const OwSnapshot>()>;

    OwConnections(int listener, OwServer::Limits limits, SnapshotSource source, std::shared_ptr<RequestTally> tally)
        : m_listener(listener)
        , m_limits(limits)
        , m_source(std::move(source))
        , m_tally(std::move(tally))
    {
    }

    ~OwConnections() override
    {
        // On the server's thread: nothing here waits for a client.
        while (!m_connections.empty())
            drop(m_connections.begin()->first, false);
        m_tally->listening = false;
    }

    // On the server's thread: takes over the bound listener.
    bool begin()
    {
        m_server = new QTcpServer(this);
        if (!m_server->setSocketDescriptor(m_listener)) {
            ::close(m_listener);
            return false;
        }
        m_server->setMaxPendingConnections(m_limits.backlog);
        connect(m_server, &QTcpServer::newConnection, this, &OwConnections::accept);
        m_tally->listening = true;
        return true;
    }

private:
    void accept()
    {
        // Qt goes on taking connections in and announcing each while the listener is paused:
        // those beyond the cap wait in its queue.
        while (static_cast<int>(m_connections.size()) < m_limits.connections && m_server->hasPendingConnections()) {
            QTcpSocket *socket = m_server->nextPendingConnection();
            const QHostAddress address = socket->peerAddress();
            int &share = m_perAddress[address];
            if (share >= m_limits.perAddress) {
                ++m_tally->refused;
                socket->abort();
                socket->deleteLater();
                continue;
            }
            ++share;
            auto connection = std::make_unique<Connection>();
            connection->socket = socket;
            connection->address = address;
            connection->parser = OwMessage::RequestParser(m_limits.requestBytes);
            connection->timer = new QTimer(socket);
            connection->timer->setSingleShot(true);
            connection->timer->start(m_limits.idleSeconds * 1000);
            // Replies are small and a request smaller still: whatever more a client sends
            // stays in the kernel until the parser has judged what came before.
            socket->setReadBufferSize(4 * m_limits.requestBytes);
            connect(connection->timer, &QTimer::timeout, this, [this, socket] {
                const auto it = m_connections.find(socket);
                // A request that did not arrive whole in time is refused; silence is not.
                if (it != m_connections.end())
                    drop(socket, it->second->receiving);
            });
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
            connect(socket, &QTcpSocket::disconnected, this, [this, socket] { drop(socket, false); });
            m_connections.emplace(socket, std::move(connection));
            // One that waited in the queue may have sent its request, or gone, meanwhile.
            if (socket->bytesAvailable() > 0 || socket->state() != QAbstractSocket::ConnectedState)
                QMetaObject::invokeMethod(socket, [this, socket] {
                    readFrom(socket);
                    if (m_connections.count(socket) != 0 && socket->state() != QAbstractSocket::ConnectedState)
                        drop(socket, false);
                }, Qt::QueuedConnection);
        }
        if (static_cast<int>(m_connections.size()) >= m_limits.connections)
            m_server->pauseAccepting();
    }

    void readFrom(QTcpSocket *socket)
    {
        const auto it = m_connections.find(socket);
        if (it == m_connections.end())
            return;
        Connection &c = *it->second;
        if (c.closing) {
            socket->readAll();
            return;
        }
        const QByteArray bytes = socket->readAll();
        if (bytes.isEmpty())
            return;
        if (!c.receiving) {
            c.receiving = true;
            c.timer->start(m_limits.requestSeconds * 1000);
        }
        OwMessage::RequestParser::State state = c.parser.feed(bytes);
        bool answered = false;
        while (state == OwMessage::RequestParser::State::Ready) {
            if (!answer(c, c.parser.take()))
                return;
            answered = true;
            if (c.closing) {
                c.timer->start(m_limits.idleSeconds * 1000);
                return;
            }
            state = c.parser.feed({});
        }
        if (state == OwMessage::RequestParser::State::Bad) {
            drop(socket, true);
            return;
        }
        // Waiting for the next request, or for the rest of one whose first bytes just came:
        // its deadline counts from them.
        const bool underWay = c.parser.buffered() > 0;
        if (answered || !underWay) {
            c.receiving = underWay;
            c.timer->start((underWay ? m_limits.requestSeconds : m_limits.idleSeconds) * 1000);
        }
    }

    // False when the connection is gone.
    bool answer(Connection &c, const OwMessage::Request &request)
    {
        const std::shared_ptr<const OwSnapshot> snapshot = m_source();
        std::vector<OwMessage::Reply> replies = owtree::answer(request, snapshot ? *snapshot : OwSnapshot{});
        ++m_tally->requests;
        if (!replies.empty() && replies.back().ret < 0)
            ++m_tally->errors;
        // Persistence is granted to whoever asks, as owserver does: the reply says so and
        // the connection stays for the next request.
        const bool persistent = (request.flags & OwMessage::Flag::Persistence) != 0;
        QByteArray out;
        for (OwMessage::Reply &reply : replies) {
            if (persistent)
                reply.flags |= OwMessage::Flag::Persistence;
            out += OwMessage::encodeReply(reply);
        }
        c.socket->write(out);
        if (c.socket->bytesToWrite() > m_limits.unreadReplyBytes) {
            drop(c.socket, true);
            return false;
        }
        if (!persistent) {
            c.closing = true;
            // Ends the connection once the reply is out; at once (and `c` with it) if the
            // client is gone already.
            QTcpSocket *socket = c.socket;
            socket->disconnectFromHost();
            return m_connections.count(socket) != 0;
        }
        return true;
    }

    void drop(QTcpSocket *socket, bool refused)
    {
        const auto it = m_connections.find(socket);
        if (it == m_connections.end())
            return;
        const std::unique_ptr<Connection> connection = std::move(it->second);
        m_connections.erase(it);
        if (refused)
            ++m_tally->refused;
        if (int &share = m_perAddress[connection->address]; --share <= 0)
            m_perAddress.remove(connection->address);
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
        if (m_server && static_cast<int>(m_connections.size()) < m_limits.connections) {
            m_server->resumeAccepting();
            // Connections taken in while the cap was reached wait in the listener's queue
            // and announce themselves no more.
            if (m_server->hasPendingConnections())
                QMetaObject::invokeMethod(this, &OwConnections::accept, Qt::QueuedConnection);
        }
    }

    int m_listener;
    OwServer::Limits m_limits;
    SnapshotSource m_source;
    std::shared_ptr<RequestTally> m_tally;
    QTcpServer *m_server = nullptr;
    std::unordered_map<QTcpSocket *, std::unique_ptr<Connection>> m_connections;
    QHash<QHostAddress, int> m_perAddress;
};

// The server's thread: the connections are made, served and ended on it, each step in
// order on one thread, so what the window thread hands over at the start (the listener,
// the limits) is all it shares besides the snapshot and the counters.
class OwServerThread final : public QThread
{
public:
    OwServerThread(int listener, OwServer::Limits limits, OwConnections::SnapshotSource source,
                   std::shared_ptr<RequestTally> tally)
        : m_listener(listener)
        , m_limits(limits)
        , m_source(std::move(source))
        , m_tally(std::move(tally))
    {
    }

    // Whether the listener was taken over; set once the thread has started.
    std::promise<bool> listening;

protected:
    void run() override
    {
        auto connections = std::make_unique<OwConnections>(m_listener, m_limits, m_source, m_tally);
        const bool ok = connections->begin();
        listening.set_value(ok);
        if (ok)
            exec();
    }

private:
    int m_listener;
    OwServer::Limits m_limits;
    OwConnections::SnapshotSource m_source;
    std::shared_ptr<RequestTally> m_tally;
};

namespace {

// A listening socket bound here rather than by Qt, so that the outcome is known at once on
// the window thread and a port in use is told from other failures. SO_REUSEADDR only lets a
// restart bind while old connections linger; it never admits a second listener.
int bindListener(const QString &address, int port, int backlog, OwServer::StartResult &result)
{
    sockaddr_storage where{};
    socklen_t size = 0;
    int family = AF_INET6;
    QHostAddress host;
    if (!address.isEmpty() && !host.setAddress(address)) {
        result = OwServer::StartResult::BadAddress;
        return -1;
    }
    const auto v4 = [&](quint32 ip) {
        auto *in = reinterpret_cast<sockaddr_in *>(&where);
        in->sin_family = AF_INET;
        in->sin_addr.s_addr = htonl(ip);
        in->sin_port = htons(static_cast<quint16>(port));
        size = sizeof(sockaddr_in);
        family = AF_INET;
    };
    const auto v6 = [&](const Q_IPV6ADDR &ip) {
        auto *in = reinterpret_cast<sockaddr_in6 *>(&where);
        in->sin6_family = AF_INET6;
        std::copy(std::begin(ip.c), std::end(ip.c), in->sin6_addr.s6_addr);
        in->sin6_port = htons(static_cast<quint16>(port));
        size = sizeof(sockaddr_in6);
        family = AF_INET6;
    };
    int fd = -1;
    if (address.isEmpty()) {
        // Every interface: IPv6 with IPv4 on the same socket, or IPv4 alone on a machine
        // without IPv6.
        fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd >= 0) {
            const int off = 0;
            ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
            v6(Q_IPV6ADDR{});
        } else {
            v4(INADDR_ANY);
        }
    } else if (host.protocol() == QAbstractSocket::IPv4Protocol) {
        v4(host.toIPv4Address());
    } else {
        v6(host.toIPv6Address());
    }
    if (fd < 0)
        fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        result = OwServer::StartResult::Failed;
        return -1;
    }
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&where), size) != 0 || ::listen(fd, backlog) != 0) {
        const int error = errno;
        ::close(fd);
        result = error == EADDRINUSE                               ? OwServer::StartResult::PortBusy
            : error == EADDRNOTAVAIL || error == EAFNOSUPPORT ? OwServer::StartResult::BadAddress
                                                                   : OwServer::StartResult::Failed;
        return -1;
    }
    result = OwServer::StartResult::Started;
    return fd;
}

int boundPort(int fd)
{
    sockaddr_storage where{};
    socklen_t size = sizeof where;
    if (::getsockname(fd, reinterpret_cast<sockaddr *>(&where), &size) != 0)
        return 0;
    if (where.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in *>(&where)->sin_port);
    return ntohs(reinterpret_cast<const sockaddr_in6 *>(&where)->sin6_port);
}

} // namespace

OwServer::OwServer(ReadingFeed &feed, Log &log, QObject *parent)
    : OwServer(feed, log, Limits{}, parent)
{
}

OwServer::OwServer(ReadingFeed &feed, Log &log, Limits limits, QObject *parent)
    : QObject(parent)
    , m_log(log)
    , m_limits(limits)
    , m_snapshot(std::make_shared<const OwSnapshot>())
{
    connect(&feed, &ReadingFeed::sensorsChanged, this, &OwServer::sensorsChanged);
    connect(&feed, &ReadingFeed::accepted, this, &OwServer::accepted);
    connect(&feed, &ReadingFeed::failed, this, &OwServer::failed);
}

OwServer::~OwServer()
{
    stop();
}

void OwServer::setSettings(const OwServerSettings &settings)
{
    if (settings == m_settings && running() == settings.Active)
        return;
    const bool wasRunning = running();
    m_settings = settings;
    if (!m_settings.Active) {
        stop();
        if (wasRunning)
            m_log.AddLog(QStringLiteral("Сервер owserver выключен."));
        return;
    }
    const QString where = m_settings.Address.isEmpty() ? QString() : m_settings.Address + QLatin1Char(':');
    switch (start(m_settings.Address, m_settings.Port)) {
    case StartResult::Started:
        m_log.AddLog(QStringLiteral("Сервер owserver включен: ") + where + QString::number(m_port) + QLatin1Char('.'));
        return;
    case StartResult::PortBusy:
        m_log.AddLog(QStringLiteral("Сервер owserver не запущен: порт ") + QString::number(m_settings.Port)
                     + QStringLiteral(" занят."));
        return;
    case StartResult::BadAddress:
        m_log.AddLog(QStringLiteral("Сервер owserver не запущен: адрес «") + m_settings.Address
                     + QStringLiteral("» не адрес этой машины."));
        return;
    case StartResult::Failed:
        m_log.AddLog(QStringLiteral("Сервер owserver не запущен: порт ") + QString::number(m_settings.Port)
                     + QStringLiteral(" не открыт."));
        return;
    }
}

OwServer::StartResult OwServer::start(const QString &address, int port)
{
    stop();
    if (port < 0 || port > 65535)
        return StartResult::Failed;
    StartResult result = StartResult::Failed;
    const int fd = bindListener(address, port, m_limits.backlog, result);
    if (fd < 0)
        return result;
    m_port = boundPort(fd);
    auto *thread = new OwServerThread(fd, m_limits, [this] { return snapshot(); }, m_tally);
    thread->setObjectName(QStringLiteral("owserver"));
    std::future<bool> listening = thread->listening.get_future();
    m_thread = thread;
    m_thread->start();
    // The new thread has no client yet: this waits for nothing but its start.
    if (!listening.get()) {
        stop();
        return StartResult::Failed;
    }
    return StartResult::Started;
}

void OwServer::stop()
{
    if (!m_thread)
        return;
    // The connections end on their own thread, which never waits on a client, so the join
    // is as short as the request being answered.
    m_thread->quit();
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
    m_port = 0;
}

bool OwServer::running() const
{
    return m_thread != nullptr;
}

void OwServer::publish(std::shared_ptr<const OwSnapshot> snapshot)
{
    // The old snapshot is released outside the lock (a request may still hold it).
    std::lock_guard lock(m_snapshotMutex);
    m_snapshot.swap(snapshot);
}

std::shared_ptr<const OwSnapshot> OwServer::snapshot() const
{
    std::lock_guard lock(m_snapshotMutex);
    return m_snapshot;
}

void OwServer::sensorsChanged(const std::vector<FeedSensor> &sensors)
{
    if (sensors == m_roster)
        return;
    m_roster = sensors;
    std::vector<Known> known;
    for (const FeedSensor &s : sensors) {
        // One directory per serial: the first slot stands.
        if (std::any_of(known.begin(), known.end(), [&](const Known &k) { return k.sensor.SN == s.SN; }))
            continue;
        Known k;
        k.sensor.SN = s.SN;
        k.sensor.alias = s.name.toUtf8();
        // Each bus of the program is one of the server's: bus 1 is /bus.0.
        k.sensor.bus = std::max(s.busNumber, 1) - 1;
        k.Enable = s.Enable;
        // A reading stays valid while the sensor stays switched on: a switched-off one is
        // no longer read, and what it last gave says nothing of now.
        const auto before = std::find_if(m_known.begin(), m_known.end(), [&](const Known &o) { return o.sensor.SN == s.SN; });
        if (before != m_known.end() && s.Enable) {
            k.sensor.valid = before->sensor.valid;
            k.sensor.celsius = before->sensor.celsius;
        }
        known.push_back(std::move(k));
    }
    m_known = std::move(known);
    publishKnown();
}

void OwServer::accepted(const FeedReading &reading)
{
    for (Known &k : m_known) {
        if (k.sensor.SN == reading.SN) {
            k.sensor.valid = true;
            k.sensor.celsius = reading.value;
            publishKnown();
            return;
        }
    }
}

void OwServer::failed(const QString &SN)
{
    for (Known &k : m_known) {
        if (k.sensor.SN == SN && k.sensor.valid) {
            k.sensor.valid = false;
            publishKnown();
            return;
        }
    }
}

void OwServer::publishKnown()
{
    auto snapshot = std::make_shared<OwSnapshot>();
    snapshot->sensors.reserve(m_known.size());
    for (const Known &k : m_known) {
        snapshot->sensors.push_back(k.sensor);
        snapshot->buses = std::max(snapshot->buses, k.sensor.bus + 1);
    }
    publish(std::move(snapshot));
}
