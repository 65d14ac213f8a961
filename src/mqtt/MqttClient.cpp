#include "mqtt/MqttClient.h"

#include <mosquitto.h>

#include <QMetaObject>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <unordered_map>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// How many messages the library holds at a time; the rest wait, one per topic.
constexpr int Window = 64;
// A broker that took the connection but never answers it.
constexpr auto ConnackWait = std::chrono::seconds(10);
// Shutdown: the last words out, then the thread is left if it cannot end.
// Each of the two steps (what is queued, then the status and the disconnect) has its own.
constexpr auto FlushWait = std::chrono::milliseconds(400);
constexpr auto JoinWait = std::chrono::milliseconds(1000);

void initLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

QString libraryReason(int rc, int savedErrno)
{
    if (rc == MOSQ_ERR_ERRNO)
        return QString::fromLocal8Bit(std::strerror(savedErrno));
    // The library has no text of its own for it ("Unknown error.").
    if (rc == MOSQ_ERR_KEEPALIVE)
        return QStringLiteral("брокер перестал отвечать: проверка связи (keep-alive) осталась без ответа");
    return QString::fromUtf8(mosquitto_strerror(rc));
}

// Where the broker's certificate is checked when no CA file is given: the system's store.
// The library wants a CA file or folder beside a client certificate; the system's folder
// is what the store holds anyway.
constexpr const char *SystemCaFolder = "/etc/ssl/certs";

int setUpTls(mosquitto *mosq, const MqttClient::Options &options)
{
    const QByteArray ca = options.caFile.toLocal8Bit();
    const QByteArray cert = options.certFile.toLocal8Bit();
    const QByteArray key = options.keyFile.toLocal8Bit();
    if (ca.isEmpty()) {
        const int rc = mosquitto_int_option(mosq, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        if (rc != MOSQ_ERR_SUCCESS || cert.isEmpty())
            return rc;
    }
    return mosquitto_tls_set(mosq, ca.isEmpty() ? nullptr : ca.constData(), ca.isEmpty() ? SystemCaFolder : nullptr,
                             cert.isEmpty() ? nullptr : cert.constData(), key.isEmpty() ? nullptr : key.constData(),
                             nullptr);
}

} // namespace

struct MqttClient::Shared
{
    struct Message
    {
        QByteArray payload;
        bool retain = false;
    };

    std::mutex mutex;
    std::condition_variable finishedCv;
    // Guarded by mutex.
    std::deque<QString> order;
    std::unordered_map<QString, Message> pending;
    bool stop = false;
    bool finished = false;
    MqttClient *owner = nullptr;

    std::atomic<bool> connected{false};
    std::atomic<quint64> sent{0};
    int wakeFd = -1;
    Options options;
    std::thread thread;

    ~Shared()
    {
        if (wakeFd >= 0)
            ::close(wakeFd);
    }

    void wake() const
    {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(wakeFd, &one, sizeof one);
    }

    void drainWake() const
    {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t n = ::read(wakeFd, &count, sizeof count);
    }

    bool stopping()
    {
        std::lock_guard lock(mutex);
        return stop;
    }

    // Runs f on the owner's thread, unless the owner has gone.
    void post(std::function<void(MqttClient &)> f)
    {
        std::lock_guard lock(mutex);
        if (!owner)
            return;
        MqttClient *target = owner;
        QMetaObject::invokeMethod(
            target, [target, f = std::move(f)] { f(*target); }, Qt::QueuedConnection);
    }

    bool takeNext(QString &topic, Message &message)
    {
        std::lock_guard lock(mutex);
        while (!order.empty()) {
            topic = order.front();
            order.pop_front();
            auto it = pending.find(topic);
            if (it == pending.end())
                continue;
            message = std::move(it->second);
            pending.erase(it);
            return true;
        }
        return false;
    }

    // Waits up to `span`, ended early only by a stop.
    void pause(std::chrono::milliseconds span)
    {
        const auto until = Clock::now() + span;
        while (!stopping()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
            if (left.count() <= 0)
                return;
            pollfd fd{wakeFd, POLLIN, 0};
            if (::poll(&fd, 1, static_cast<int>(left.count())) > 0)
                drainWake();
        }
    }

    void run();
    // One connection from connect to its end; the cause of the end, empty at a stop.
    QString session(mosquitto *mosq, bool &accepted);
};

namespace {

// What the library's callbacks report into, on the client's own thread.
struct SessionState
{
    MqttClient::Options const *options = nullptr;
    std::function<void(bool)> onAccepted;
    std::function<void()> onSent;
    std::function<void(const QString &, const QByteArray &, bool)> onMessage;
    bool accepted = false;
    int refused = 0;
    int inFlight = 0;
};

} // namespace

void MqttClient::Shared::run()
{
    int retry = FirstRetrySeconds;
    QString lastCause;
    while (!stopping()) {
        SessionState state;
        state.options = &options;
        const QByteArray id = options.clientId.toUtf8();
        mosquitto *mosq = mosquitto_new(id.isEmpty() ? nullptr : id.constData(), true, &state);
        QString cause;
        bool accepted = false;
        if (!mosq) {
            cause = QString::fromLocal8Bit(std::strerror(errno));
        } else {
            cause = session(mosq, accepted);
            mosquitto_destroy(mosq);
        }
        if (connected.exchange(false))
            post([](MqttClient &c) { emit c.connectedChanged(false); });
        if (stopping())
            break;
        if (accepted) {
            retry = FirstRetrySeconds;
            lastCause.clear();
        }
        if (cause != lastCause) {
            lastCause = cause;
            post([cause](MqttClient &c) { emit c.failure(cause); });
        }
        pause(std::chrono::seconds(retry));
        retry = std::min(retry * 2, LastRetrySeconds);
    }
    std::lock_guard lock(mutex);
    finished = true;
    finishedCv.notify_all();
}

QString MqttClient::Shared::session(mosquitto *mosq, bool &accepted)
{
    auto *state = static_cast<SessionState *>(mosquitto_userdata(mosq));
    mosquitto_int_option(mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    const QByteArray host = options.host.toUtf8();
    const QByteArray user = options.user.toUtf8();
    const QByteArray password = options.password.toUtf8();
    const QByteArray status = options.statusTopic.toUtf8();
    int rc = MOSQ_ERR_SUCCESS;
    if (!user.isEmpty())
        rc = mosquitto_username_pw_set(mosq, user.constData(), password.isEmpty() ? nullptr : password.constData());
    if (rc == MOSQ_ERR_SUCCESS && (options.tls || !options.caFile.isEmpty()))
        rc = setUpTls(mosq, options);
    if (rc == MOSQ_ERR_SUCCESS)
        rc = mosquitto_will_set(mosq, status.constData(), 7, "offline", 1, true);
    if (rc != MOSQ_ERR_SUCCESS)
        return libraryReason(rc, errno);

    mosquitto_connect_callback_set(mosq, [](mosquitto *m, void *obj, int result) {
        auto *s = static_cast<SessionState *>(obj);
        if (result != 0) {
            s->refused = result;
            return;
        }
        s->accepted = true;
        const QByteArray topic = s->options->statusTopic.toUtf8();
        if (mosquitto_publish(m, nullptr, topic.constData(), 6, "online", 1, true) == MOSQ_ERR_SUCCESS)
            ++s->inFlight;
        for (const QString &filter : s->options->subscriptions) {
            const QByteArray sub = filter.toUtf8();
            mosquitto_subscribe(m, nullptr, sub.constData(), 0);
        }
        s->onAccepted(true);
    });
    mosquitto_publish_callback_set(mosq, [](mosquitto *, void *obj, int) {
        auto *s = static_cast<SessionState *>(obj);
        s->inFlight = std::max(s->inFlight - 1, 0);
        s->onSent();
    });
    mosquitto_message_callback_set(mosq, [](mosquitto *, void *obj, const mosquitto_message *message) {
        auto *s = static_cast<SessionState *>(obj);
        s->onMessage(QString::fromUtf8(message->topic),
                     QByteArray(static_cast<const char *>(message->payload), message->payloadlen), message->retain);
    });
    state->onAccepted = [this](bool) {
        connected = true;
        post([](MqttClient &c) { emit c.connectedChanged(true); });
    };
    state->onSent = [this] { ++sent; };
    state->onMessage = [this](const QString &topic, const QByteArray &payload, bool retained) {
        post([topic, payload, retained](MqttClient &c) { emit c.received(topic, payload, retained); });
    };

    errno = 0;
    rc = mosquitto_connect_async(mosq, host.constData(), options.port, options.keepAliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS)
        return libraryReason(rc, errno);
    const auto connackDeadline = Clock::now() + ConnackWait;

    for (;;) {
        if (stopping()) {
            if (state->accepted) {
                // The last words of a reconfiguration (removals) before the status.
                QString topic;
                Message message;
                while (takeNext(topic, message)) {
                    const QByteArray t = topic.toUtf8();
                    if (mosquitto_publish(mosq, nullptr, t.constData(), static_cast<int>(message.payload.size()),
                                          message.payload.constData(), message.retain ? 1 : 0, message.retain)
                        == MOSQ_ERR_SUCCESS)
                        ++state->inFlight;
                }
                // The library holds back what exceeds its window, and a disconnect would
                // overtake it: out and acknowledged first.
                const auto until = Clock::now() + FlushWait;
                while (state->inFlight > 0 && Clock::now() < until) {
                    if (mosquitto_loop(mosq, 50, 1) != MOSQ_ERR_SUCCESS)
                        break;
                }
                mosquitto_publish(mosq, nullptr, status.constData(), 7, "offline", 1, true);
                mosquitto_disconnect(mosq);
                const auto closeBy = Clock::now() + FlushWait;
                while (mosquitto_socket(mosq) >= 0 && Clock::now() < closeBy) {
                    if (mosquitto_loop(mosq, 50, 1) != MOSQ_ERR_SUCCESS)
                        break;
                }
            }
            accepted = state->accepted;
            return QString();
        }
        if (state->accepted) {
            QString topic;
            Message message;
            while (state->inFlight < Window && takeNext(topic, message)) {
                const QByteArray t = topic.toUtf8();
                const int qos = message.retain ? 1 : 0;
                rc = mosquitto_publish(mosq, nullptr, t.constData(), static_cast<int>(message.payload.size()),
                                       message.payload.constData(), qos, message.retain);
                if (rc == MOSQ_ERR_SUCCESS)
                    ++state->inFlight;
                else if (rc != MOSQ_ERR_INVAL && rc != MOSQ_ERR_MALFORMED_UTF8 && rc != MOSQ_ERR_PAYLOAD_SIZE)
                    break; // the connection is going: the loop below says why
            }
        }
        pollfd fds[2] = {{wakeFd, POLLIN, 0}, {mosquitto_socket(mosq), POLLIN, 0}};
        if (mosquitto_want_write(mosq))
            fds[1].events |= POLLOUT;
        const int count = fds[1].fd >= 0 ? 2 : 1;
        if (::poll(fds, static_cast<nfds_t>(count), 1000) > 0 && (fds[0].revents & POLLIN))
            drainWake();
        errno = 0;
        rc = mosquitto_loop(mosq, 0, 1);
        const int savedErrno = errno;
        accepted = state->accepted;
        if (state->refused != 0)
            return QString::fromUtf8(mosquitto_connack_string(state->refused));
        if (rc != MOSQ_ERR_SUCCESS)
            return libraryReason(rc, savedErrno);
        if (!state->accepted && Clock::now() > connackDeadline)
            return QStringLiteral("брокер не ответил на подключение");
    }
}

MqttClient::MqttClient(Options options, QObject *parent)
    : QObject(parent)
    , m_shared(std::make_shared<Shared>())
{
    initLibrary();
    m_shared->options = std::move(options);
    m_shared->owner = this;
    m_shared->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_shared->thread = std::thread([shared = m_shared] { shared->run(); });
}

MqttClient::~MqttClient()
{
    std::unique_lock lock(m_shared->mutex);
    m_shared->owner = nullptr;
    m_shared->stop = true;
    m_shared->wake();
    const bool ended = m_shared->finishedCv.wait_for(lock, JoinWait, [this] { return m_shared->finished; });
    lock.unlock();
    // The thread keeps what it uses alive itself; one stuck in a connect ends on its own.
    if (ended)
        m_shared->thread.join();
    else
        m_shared->thread.detach();
}

void MqttClient::publish(const QString &topic, const QByteArray &payload, bool retain)
{
    {
        std::lock_guard lock(m_shared->mutex);
        auto [it, inserted] = m_shared->pending.insert_or_assign(topic, Shared::Message{payload, retain});
        static_cast<void>(it);
        if (inserted)
            m_shared->order.push_back(topic);
    }
    m_shared->wake();
}

bool MqttClient::connected() const
{
    return m_shared->connected;
}

quint64 MqttClient::messagesSent() const
{
    return m_shared->sent;
}
