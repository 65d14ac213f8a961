#include "web/HttpServer.h"

#include "web/Cp1251.h"
#include "web/RequestDeadlines.h"
#include "web/StreamPipes.h"
#include "web/WebPage.h"

#include <QDateTime>
#include <QFile>

#include <microhttpd.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <stdexcept>

namespace {

// Per-request state kept in the library's request pointer: 0 before the first call, then one
// more than the body bytes seen (so it never reads as "first call" again).
std::uintptr_t &requestState(void **slot)
{
    return *reinterpret_cast<std::uintptr_t *>(slot);
}

void freeBody(void *cls)
{
    delete static_cast<QByteArray *>(cls);
}

MHD_Response *bodyResponse(QByteArray body)
{
    if (body.isEmpty())
        return MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
    auto *owned = new QByteArray(std::move(body));
    MHD_Response *response
        = MHD_create_response_from_buffer_with_free_callback_cls(static_cast<std::size_t>(owned->size()),
                                                                 owned->data(), freeBody, owned);
    if (!response)
        delete owned;
    return response;
}

// The file's bytes with its size as the length; anything that is not a readable regular file
// gives an empty body. Opened without waiting: a FIFO would hold the worker in open() until a
// writer came, a device might never answer (and a terminal would become the program's).
MHD_Response *fileResponse(const QString &path)
{
    const int fd = path.isEmpty()
        ? -1
        : ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0) {
        struct stat info{};
        if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
            if (MHD_Response *response = MHD_create_response_from_fd(static_cast<std::uint64_t>(info.st_size), fd))
                return response;
        }
        ::close(fd);
    }
    return bodyResponse({});
}

// The library names itself in every reply, as a server library does.
const QByteArray &serverHeader()
{
    static const QByteArray name = QByteArrayLiteral("libmicrohttpd/") + MHD_get_version();
    return name;
}

// The path of a request in absolute form ("http://host:80/noimg", as a proxy sends it):
// the page is dispatched on the path alone.
QByteArray originPath(const char *url)
{
    QByteArray path(url ? url : "");
    const qsizetype scheme = path.indexOf("://");
    if (scheme <= 0 || path.startsWith('/'))
        return path;
    const QByteArray name = path.left(scheme).toLower();
    if (name != "http" && name != "https")
        return path;
    const qsizetype slash = path.indexOf('/', scheme + 3);
    return slash < 0 ? QByteArrayLiteral("/") : path.mid(slash);
}

MHD_Result queue(MHD_Connection *connection, unsigned status, MHD_Response *response, const QByteArray &type)
{
    if (!response)
        return MHD_NO;
    MHD_add_response_header(response, MHD_HTTP_HEADER_SERVER, serverHeader().constData());
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, type.constData());
    if (status == MHD_HTTP_METHOD_NOT_ALLOWED)
        MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, "GET, HEAD, POST");
    // One reply per connection, as browsers of the page have always been answered.
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
    const MHD_Result result = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return result;
}

MHD_Result queueStatus(MHD_Connection *connection, unsigned status, QByteArray body = {})
{
    return queue(connection, status, bodyResponse(std::move(body)), QByteArrayLiteral("text/html"));
}

bool isHandled(const char *method)
{
    return std::strcmp(method, MHD_HTTP_METHOD_GET) == 0 || std::strcmp(method, MHD_HTTP_METHOD_HEAD) == 0
        || std::strcmp(method, MHD_HTTP_METHOD_POST) == 0;
}

MHD_Result collectPair(void *cls, MHD_ValueKind /*kind*/, const char *key, const char *value)
{
    static_cast<QueryPairs *>(cls)->emplace_back(QByteArray(key ? key : ""), QByteArray(value ? value : ""));
    return MHD_YES;
}

} // namespace

struct HttpServer::Callbacks
{
    static void connectionEvent(void *cls, MHD_Connection *connection, void ** /*socketContext*/,
                                MHD_ConnectionNotificationCode event)
    {
        auto *deadlines = static_cast<RequestDeadlines *>(cls);
        if (event == MHD_CONNECTION_NOTIFY_CLOSED) {
            deadlines->finished(connection);
            return;
        }
        if (const MHD_ConnectionInfo *info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD))
            deadlines->started(connection, info->connect_fd);
    }

    static MHD_Result answer(void *cls, MHD_Connection *connection, const char *url, const char *method,
                             const char * /*version*/, const char * /*uploadData*/, std::size_t *uploadSize,
                             void **requestSlot)
    {
        auto *server = static_cast<HttpServer *>(cls);
        std::uintptr_t &state = requestState(requestSlot);
        if (state == 0) {
            state = 1;
            // Line and headers are in: what follows is the body and the reply, which the idle
            // time-out watches.
            if (server->m_deadlines)
                server->m_deadlines->finished(connection);
            if (!isHandled(method))
                return queueStatus(connection, MHD_HTTP_METHOD_NOT_ALLOWED);
            const char *length = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
            if (length && std::strtoull(length, nullptr, 10) > server->m_limits.bodyBytes)
                return queueStatus(connection, MHD_HTTP_CONTENT_TOO_LARGE);
            return MHD_YES;
        }
        if (*uploadSize != 0) {
            // The body means nothing to the page; it is read and dropped, up to the limit.
            state += *uploadSize;
            *uploadSize = 0;
            return state - 1 > server->m_limits.bodyBytes ? MHD_NO : MHD_YES;
        }

        const QByteArray path = originPath(url);
        if (server->m_streamHandler && server->m_streamPath == path)
            return answerStream(server, connection);

        WebReply reply;
        try {
            const std::shared_ptr<const WebSnapshot> snapshot = server->snapshot();
            if (!snapshot)
                throw std::runtime_error("Страница ещё не собрана.");
            reply = web::IdHTTPServer1CommandGet(
                WebRequest{QByteArray(method), path, QDateTime::currentMSecsSinceEpoch()}, *snapshot);
        } catch (const std::exception &e) {
            // The error's message is the reply, as the page has always answered a failure.
            return queueStatus(connection, MHD_HTTP_INTERNAL_SERVER_ERROR, cp1251::fromText(QString::fromUtf8(e.what())));
        }
        MHD_Response *response = reply.file.isEmpty() ? bodyResponse(std::move(reply.body)) : fileResponse(reply.file);
        return queue(connection, static_cast<unsigned>(reply.status), response, reply.contentType);
    }

    static MHD_Result answerStream(HttpServer *server, MHD_Connection *connection)
    {
        StreamedReply reply;
        try {
            const std::shared_ptr<const WebSnapshot> snapshot = server->snapshot();
            if (!snapshot)
                throw std::runtime_error("Страница ещё не собрана.");
            QueryPairs query;
            MHD_get_connection_values(connection, MHD_GET_ARGUMENT_KIND, &collectPair, &query);
            reply = server->m_streamHandler(query, *snapshot);
        } catch (const std::exception &e) {
            return queueStatus(connection, MHD_HTTP_INTERNAL_SERVER_ERROR, cp1251::fromText(QString::fromUtf8(e.what())));
        }
        MHD_Response *response = reply.stream ? server->m_streams->response(connection, std::move(reply.stream))
                                              : bodyResponse(std::move(reply.head.body));
        return queue(connection, static_cast<unsigned>(reply.head.status), response, reply.head.contentType);
    }
};

HttpServer::HttpServer()
    : HttpServer(Threading::Pool, Limits{})
{
}

HttpServer::HttpServer(Threading threading, Limits limits)
    : m_threading(threading)
    , m_limits(limits)
    , m_snapshot(std::make_shared<const WebSnapshot>())
{
}

HttpServer::~HttpServer()
{
    stop();
}

void HttpServer::setStreamPath(const QByteArray &path, StreamHandler handler)
{
    m_streamPath = path;
    m_streamHandler = std::move(handler);
}

void HttpServer::publish(std::shared_ptr<const WebSnapshot> snapshot)
{
    // The old snapshot is released outside the lock (a request may still hold it).
    std::lock_guard lock(m_snapshotMutex);
    m_snapshot.swap(snapshot);
}

std::shared_ptr<const WebSnapshot> HttpServer::snapshot() const
{
    std::lock_guard lock(m_snapshotMutex);
    return m_snapshot;
}

HttpServer::StartResult HttpServer::start(const QString &address, int port)
{
    stop();
    sockaddr_in where{};
    where.sin_family = AF_INET;
    if (port < 1 || port > 65535 || ::inet_pton(AF_INET, address.toLatin1().constData(), &where.sin_addr) != 1)
        return StartResult::Failed;
    where.sin_port = htons(static_cast<std::uint16_t>(port));

    // The listener is made here rather than by the library, so that a port in use is told
    // from other failures and no option lets a second server share the port: SO_REUSEADDR
    // only lets a restart bind while old connections linger; it never admits a second
    // listener (SO_REUSEPORT would).
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return StartResult::Failed;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&where), sizeof where) != 0
        || ::listen(fd, m_limits.backlog) != 0) {
        const int error = errno;
        ::close(fd);
        return error == EADDRINUSE ? StartResult::PortBusy : StartResult::Failed;
    }

    // Every worker waits on its own wake-up channel besides its sockets: at the connection cap
    // the library takes the listener out of the workers' wait, and a stop would otherwise be
    // seen only at a worker's next time-out (seconds, with the window thread waiting).
    unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_ITC;
    if (m_threading == Threading::PerConnection)
        flags |= MHD_USE_THREAD_PER_CONNECTION | MHD_USE_POLL;
    else
        flags |= MHD_USE_EPOLL | MHD_USE_TURBO | MHD_ALLOW_SUSPEND_RESUME;
    m_streams = std::make_unique<StreamPipes>(m_threading == Threading::Pool);
    const unsigned poolSize = m_threading == Threading::Pool ? m_limits.poolThreads : 0;
    if (m_limits.requestSeconds > 0)
        m_deadlines = std::make_unique<RequestDeadlines>(std::chrono::seconds(m_limits.requestSeconds));
    m_daemon = MHD_start_daemon(
        flags, 0, nullptr, nullptr, &Callbacks::answer, this,
        MHD_OPTION_LISTEN_SOCKET, fd,
        MHD_OPTION_CONNECTION_LIMIT, m_limits.connections,
        MHD_OPTION_PER_IP_CONNECTION_LIMIT, m_limits.perAddress,
        MHD_OPTION_CONNECTION_TIMEOUT, m_limits.idleSeconds,
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, m_limits.requestMemory,
        MHD_OPTION_THREAD_POOL_SIZE, poolSize,
        // Without a deadline the option is ignored (the callback is null).
        MHD_OPTION_NOTIFY_CONNECTION, m_deadlines ? &Callbacks::connectionEvent : nullptr, m_deadlines.get(),
        MHD_OPTION_END);
    if (!m_daemon) {
        ::close(fd);
        m_deadlines.reset();
        m_streams.reset();
        return StartResult::Failed;
    }
    return StartResult::Started;
}

void HttpServer::stop()
{
    if (!m_daemon)
        return;
    // The library must hold no suspended connection when it stops.
    m_streams->closeAll();
    MHD_stop_daemon(m_daemon);
    m_daemon = nullptr;
    m_streams->joinAll();
    m_streams.reset();
    // After the library: it reports the end of every connection as it closes them.
    m_deadlines.reset();
}
