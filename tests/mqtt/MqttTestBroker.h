#pragma once

// A real mosquitto broker on a free loopback port, started and stopped by the test, and a
// subscriber on libmosquitto that keeps every message it gets.

#include <mosquitto.h>

#include <QByteArray>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <mutex>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace mqtttest {

inline int freePort()
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

inline bool accepts(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(static_cast<uint16_t>(port));
    where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<const sockaddr *>(&where), sizeof where) == 0;
    ::close(fd);
    return ok;
}

// `mosquitto -p PORT` without a configuration file: version 2 listens on the loopback only
// and lets anyone in. With `passwordUser` set, a configuration that lets only that user in.
class Broker
{
public:
    explicit Broker(int port = freePort()) : m_port(port) {}
    ~Broker() { stop(); }

    int port() const { return m_port; }

    // The folder the broker reads its files from (readable by the user it runs as).
    QString filePath(const QString &name) const { return m_dir.filePath(name); }

    bool start(const QString &passwordUser = QString(), const QString &password = QString())
    {
        if (passwordUser.isEmpty())
            return run({QStringLiteral("-p"), QString::number(m_port)});
        return startWith(QByteArray(), passwordUser, password);
    }

    // A configuration of the listener's own lines (TLS, say), with a password file when a
    // user is given; the broker's log is kept (log()).
    bool startWith(const QByteArray &listenerLines, const QString &passwordUser = QString(),
                   const QString &password = QString())
    {
        // Started as root, the broker reads its files as the user "mosquitto".
        QFile::setPermissions(m_dir.path(), QFile::permissions(m_dir.path()) | QFileDevice::ReadOther
                                                | QFileDevice::ExeOther);
        QByteArray text = "listener " + QByteArray::number(m_port) + " 127.0.0.1\n" + listenerLines
                          + "log_dest stderr\nlog_type all\n";
        if (!passwordUser.isEmpty()) {
            const QString passwords = m_dir.filePath(QStringLiteral("passwords"));
            if (QProcess::execute(QStringLiteral("mosquitto_passwd"),
                                  {QStringLiteral("-c"), QStringLiteral("-b"), passwords, passwordUser, password})
                != 0)
                return false;
            QFile::setPermissions(passwords, QFile::permissions(passwords) | QFileDevice::ReadOther);
            text += "allow_anonymous false\npassword_file " + passwords.toLocal8Bit() + "\n";
        }
        const QString config = m_dir.filePath(QStringLiteral("mosquitto.conf"));
        QFile file(config);
        if (!file.open(QIODevice::WriteOnly))
            return false;
        file.write(text);
        file.close();
        m_logFile = m_dir.filePath(QStringLiteral("broker.log"));
        return run({QStringLiteral("-c"), config});
    }

    QString log() const
    {
        QFile file(m_logFile);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

private:
    bool run(const QStringList &args)
    {
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.setStandardErrorFile(m_logFile.isEmpty() ? QProcess::nullDevice() : m_logFile);
        m_process.start(QStringLiteral("mosquitto"), args);
        if (!m_process.waitForStarted())
            return false;
        const QDeadlineTimer deadline(5000);
        while (!deadline.hasExpired()) {
            if (accepts(m_port))
                return true;
            if (m_process.state() == QProcess::NotRunning)
                return false;
            QTest::qWait(20);
        }
        return false;
    }

public:
    qint64 pid() const { return m_process.processId(); }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.kill();
        m_process.waitForFinished(5000);
    }

private:
    int m_port;
    QTemporaryDir m_dir;
    QString m_logFile;
    QProcess m_process;
};

struct Message
{
    QString topic;
    QByteArray payload;
    bool retained = false;
};

// Subscribed to `filter` from connecting on; messages arrive on the library's own thread.
class Subscriber
{
public:
    Subscriber(int port, const QString &filter = QStringLiteral("#")) : m_filter(filter.toUtf8())
    {
        mosquitto_lib_init();
        m_mosq = mosquitto_new(nullptr, true, this);
        mosquitto_connect_callback_set(m_mosq, [](mosquitto *m, void *obj, int rc) {
            auto *self = static_cast<Subscriber *>(obj);
            if (rc == 0)
                mosquitto_subscribe(m, nullptr, self->m_filter.constData(), 1);
        });
        mosquitto_subscribe_callback_set(m_mosq, [](mosquitto *, void *obj, int, int, const int *) {
            auto *self = static_cast<Subscriber *>(obj);
            std::lock_guard lock(self->m_mutex);
            self->m_subscribed = true;
        });
        mosquitto_message_callback_set(m_mosq, [](mosquitto *, void *obj, const mosquitto_message *m) {
            auto *self = static_cast<Subscriber *>(obj);
            std::lock_guard lock(self->m_mutex);
            self->m_messages.push_back(
                {QString::fromUtf8(m->topic), QByteArray(static_cast<const char *>(m->payload), m->payloadlen), m->retain});
        });
        mosquitto_connect(m_mosq, "127.0.0.1", port, 30);
        mosquitto_loop_start(m_mosq);
    }
    ~Subscriber()
    {
        mosquitto_disconnect(m_mosq);
        mosquitto_loop_stop(m_mosq, false);
        mosquitto_destroy(m_mosq);
    }
    Subscriber(const Subscriber &) = delete;
    Subscriber &operator=(const Subscriber &) = delete;

    bool subscribed()
    {
        std::lock_guard lock(m_mutex);
        return m_subscribed;
    }
    std::vector<Message> messages()
    {
        std::lock_guard lock(m_mutex);
        return m_messages;
    }
    std::vector<Message> on(const QString &topic)
    {
        std::vector<Message> found;
        for (const Message &m : messages()) {
            if (m.topic == topic)
                found.push_back(m);
        }
        return found;
    }
    void clear()
    {
        std::lock_guard lock(m_mutex);
        m_messages.clear();
    }
    // Publishes as another client would (the hub's announcement).
    void publish(const QString &topic, const QByteArray &payload, bool retain = false)
    {
        const QByteArray t = topic.toUtf8();
        mosquitto_publish(m_mosq, nullptr, t.constData(), static_cast<int>(payload.size()), payload.constData(), 1,
                          retain);
    }

private:
    QByteArray m_filter;
    mosquitto *m_mosq = nullptr;
    std::mutex m_mutex;
    bool m_subscribed = false;
    std::vector<Message> m_messages;
};

} // namespace mqtttest
