#include "mqtt/MqttPublisher.h"

#include "base/Log.h"
#include "mqtt/MqttClient.h"
#include "mqtt/MqttMessages.h"

#include <QFile>
#include <QFileInfo>
#include <QSysInfo>

#include <algorithm>

using namespace mqttmessages;

namespace {

// The systemd credential that may hold the broker's password instead of Kalvex.ini.
const QString PasswordCredential = QStringLiteral("mqtt-password");

} // namespace

MqttPublisher::MqttPublisher(ReadingFeed &feed, Log &log, QString swVersion, const QString &programDir, QObject *parent)
    : QObject(parent)
    , m_log(log)
    , m_version(std::move(swVersion))
    , m_instance(instanceId(QSysInfo::machineHostName(), programDir))
    , m_expireAfter(expireAfter(m_program.intervalMs, 0))
{
    connect(&feed, &ReadingFeed::accepted, this, &MqttPublisher::accepted);
    connect(&feed, &ReadingFeed::failed, this, &MqttPublisher::failed);
    connect(&feed, &ReadingFeed::sensorsChanged, this, &MqttPublisher::sensorsChanged);
}

MqttPublisher::~MqttPublisher() = default;

void MqttPublisher::setSettings(const MqttSettings &settings)
{
    if (settings == m_settings && (m_client != nullptr) == settings.Active)
        return;
    if (m_client && m_client->connected() && settings.Active)
        removeLeftovers(settings);
    if (m_client) {
        m_sentBefore += m_client->messagesSent();
        m_client.reset();
    }
    if (m_wasConnected) {
        m_wasConnected = false;
        emit stateChanged();
    }
    m_settings = settings;
    if (!m_settings.Active)
        return;
    if (!validTopic(m_settings.Topic) || (m_settings.Discovery && !validTopic(m_settings.DiscoveryPrefix))) {
        m_log.AddLog(QStringLiteral("MQTT: тема «") + m_settings.Topic + QStringLiteral("» или «")
                     + m_settings.DiscoveryPrefix + QStringLiteral("» не годится для публикации, MQTT выключен."));
        return;
    }
    const auto missing = [](const QString &file) { return !file.isEmpty() && !QFileInfo(file).isReadable(); };
    for (const QString &file : {m_settings.CAFile, m_settings.CertFile, m_settings.KeyFile}) {
        if (missing(file)) {
            m_log.AddLog(QStringLiteral("MQTT: файл «") + file + QStringLiteral("» не читается, MQTT выключен."));
            return;
        }
    }
    if (m_settings.CertFile.isEmpty() != m_settings.KeyFile.isEmpty()) {
        m_log.AddLog(QStringLiteral("MQTT: сертификат клиента указывается вместе с его ключом, MQTT выключен."));
        return;
    }
    MqttClient::Options options;
    options.host = m_settings.Host;
    options.port = m_settings.Port;
    options.user = m_settings.User;
    options.password = m_settings.Password.isEmpty() ? readPassword() : m_settings.Password;
    options.tls = m_settings.usesTls();
    options.caFile = m_settings.CAFile;
    options.certFile = m_settings.CertFile;
    options.keyFile = m_settings.KeyFile;
    options.clientId = clientId();
    options.statusTopic = statusTopic(m_settings.Topic);
    if (m_settings.Discovery)
        options.subscriptions << hubStatusTopic(m_settings.DiscoveryPrefix);
    // Also with discovery off: what it left on the broker is found and cleared.
    if (validTopic(m_settings.DiscoveryPrefix))
        options.subscriptions << configFilter(m_settings.DiscoveryPrefix);
    m_client = std::make_unique<MqttClient>(options);
    connect(m_client.get(), &MqttClient::connectedChanged, this, &MqttPublisher::connectionChanged);
    connect(m_client.get(), &MqttClient::received, this, &MqttPublisher::received);
    connect(m_client.get(), &MqttClient::failure, this, [this](const QString &reason) {
        m_log.AddLog(QStringLiteral("MQTT: нет связи с брокером ") + address() + QStringLiteral(": ") + reason);
    });
    emit stateChanged();
}

QString MqttPublisher::readPassword() const
{
    const QString folder = qEnvironmentVariable("CREDENTIALS_DIRECTORY");
    if (folder.isEmpty())
        return QString();
    QFile file(folder + QLatin1Char('/') + PasswordCredential);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    // A file written by "echo" ends with a line feed that is no part of the password.
    QByteArray text = file.read(4096);
    while (text.endsWith('\n') || text.endsWith('\r'))
        text.chop(1);
    return QString::fromUtf8(text);
}

QString MqttPublisher::clientId() const
{
    return mqttmessages::clientId(m_instance);
}

void MqttPublisher::setProgramState(const ProgramState &state)
{
    if (state == m_program)
        return;
    const ProgramState was = m_program;
    m_program = state;
    m_longestCycle = std::max(m_longestCycle, state.cycleSeconds);
    const int expire = expireAfter(state.intervalMs, m_longestCycle);
    if (expire != m_expireAfter) {
        m_expireAfter = expire;
        for (const Known &k : m_known)
            sendConfig(k);
    }
    if (was.webPort != state.webPort)
        sendHubConfig();
    if (was.busConnected != state.busConnected)
        sendBus();
    if (was.observing && !state.observing) {
        // Values that no cycle renews must not look live on the hub.
        for (Known &k : m_known) {
            const bool wasAvailable = available(k);
            k.stale = true;
            if (wasAvailable)
                sendAvailability(k);
        }
    }
}

int MqttPublisher::connectedState() const
{
    if (!m_client)
        return -1;
    return m_client->connected() ? 1 : 0;
}

quint64 MqttPublisher::messagesTotal() const
{
    return m_sentBefore + (m_client ? m_client->messagesSent() : 0);
}

QString MqttPublisher::address() const
{
    return m_settings.Host + QLatin1Char(':') + QString::number(m_settings.Port);
}

MqttPublisher::Known *MqttPublisher::find(const QString &SN)
{
    const auto it = std::find_if(m_known.begin(), m_known.end(), [&](const Known &k) { return k.SN == SN; });
    return it == m_known.end() ? nullptr : &*it;
}

void MqttPublisher::send(const QString &topic, const QByteArray &payload, bool retain, bool keep)
{
    // While the broker is away only what no later message repeats waits: everything else
    // goes out anew, current, once the connection is back.
    if (m_client && (keep || m_client->connected()))
        m_client->publish(topic, payload, retain);
}

void MqttPublisher::sendConfig(const Known &k)
{
    if (!m_settings.Discovery)
        return;
    const Context context{m_settings.Topic, hubId(m_instance), m_version, m_expireAfter};
    send(configTopic(m_settings.DiscoveryPrefix, k.SN), discoveryConfig(context, k.SN, k.name, k.bus), true);
    send(failuresConfigTopic(m_settings.DiscoveryPrefix, k.SN), failuresConfig(context, k.SN, k.name), true);
    send(verdictConfigTopic(m_settings.DiscoveryPrefix, k.SN), verdictConfig(context, k.SN, k.name), true);
}

QString MqttPublisher::configurationUrl() const
{
    if (m_program.webPort <= 0)
        return QString();
    return QStringLiteral("http://") + QSysInfo::machineHostName() + QLatin1Char(':')
           + QString::number(m_program.webPort) + QLatin1Char('/');
}

void MqttPublisher::sendHubConfig()
{
    if (!m_settings.Discovery)
        return;
    const Context context{m_settings.Topic, hubId(m_instance), m_version, m_expireAfter};
    send(busConfigTopic(m_settings.DiscoveryPrefix, context.hubId),
         busConfig(context, QStringLiteral("Kalvex ") + QSysInfo::machineHostName(), configurationUrl()), true);
}

void MqttPublisher::sendBus()
{
    send(busTopic(m_settings.Topic), m_program.busConnected ? QByteArrayLiteral("ON") : QByteArrayLiteral("OFF"), false);
}

void MqttPublisher::sendDiagnostics(const Known &k)
{
    send(failuresTopic(m_settings.Topic, k.SN), QByteArray::number(k.failures), false);
    send(verdictTopic(m_settings.Topic, k.SN), k.verdict.isEmpty() ? QByteArrayLiteral("unknown") : k.verdict.toUtf8(),
         false);
}

void MqttPublisher::sendAttributes(const Known &k)
{
    if (!k.bus.isEmpty())
        send(attributesTopic(m_settings.Topic, k.SN), attributes(k.bus), true);
}

QSet<QString> MqttPublisher::ownConfigTopics() const
{
    QSet<QString> topics;
    if (!m_settings.Discovery)
        return topics;
    topics.insert(busConfigTopic(m_settings.DiscoveryPrefix, hubId(m_instance)));
    for (const Known &k : m_known) {
        topics.insert(configTopic(m_settings.DiscoveryPrefix, k.SN));
        topics.insert(failuresConfigTopic(m_settings.DiscoveryPrefix, k.SN));
        topics.insert(verdictConfigTopic(m_settings.DiscoveryPrefix, k.SN));
    }
    return topics;
}

void MqttPublisher::removeLeftovers(const MqttSettings &next)
{
    if (m_settings.Discovery && (!next.Discovery || next.DiscoveryPrefix != m_settings.DiscoveryPrefix)) {
        for (const QString &topic : ownConfigTopics())
            send(topic, QByteArray(), true, true);
    }
    if (next.Topic != m_settings.Topic) {
        for (const Known &k : m_known) {
            send(availabilityTopic(m_settings.Topic, k.SN), QByteArray(), true, true);
            if (!k.bus.isEmpty())
                send(attributesTopic(m_settings.Topic, k.SN), QByteArray(), true, true);
        }
    }
}

void MqttPublisher::clearGhost(const QString &topic, const QByteArray &payload)
{
    send(topic, QByteArray(), true, true);
    for (const QString &availability : sensorAvailabilityTopics(payload)) {
        const bool current = std::any_of(m_known.begin(), m_known.end(), [&](const Known &k) {
            return availabilityTopic(m_settings.Topic, k.SN) == availability;
        });
        if (!current)
            send(availability, QByteArray(), true, true);
    }
}

void MqttPublisher::sendAvailability(const Known &k)
{
    send(availabilityTopic(m_settings.Topic, k.SN),
         available(k) ? QByteArrayLiteral("online") : QByteArrayLiteral("offline"), true);
}

void MqttPublisher::sendState(const Known &k)
{
    if (k.hasValue && k.Enable)
        send(stateTopic(m_settings.Topic, k.SN), stateText(k.value), false);
}

void MqttPublisher::sendRemoval(const Known &k)
{
    const QString &SN = k.SN;
    // Empty and retained: the broker forgets the retained message and the hub the entity.
    if (m_settings.Discovery) {
        send(configTopic(m_settings.DiscoveryPrefix, SN), QByteArray(), true, true);
        send(failuresConfigTopic(m_settings.DiscoveryPrefix, SN), QByteArray(), true, true);
        send(verdictConfigTopic(m_settings.DiscoveryPrefix, SN), QByteArray(), true, true);
    }
    send(availabilityTopic(m_settings.Topic, SN), QByteArray(), true, true);
    if (!k.bus.isEmpty())
        send(attributesTopic(m_settings.Topic, SN), QByteArray(), true, true);
}

void MqttPublisher::republish()
{
    // The configuration first: a hub that learns of the entity then hears its state. The
    // program's device before the sensors' that hang off it.
    sendHubConfig();
    for (const Known &k : m_known)
        sendConfig(k);
    for (const Known &k : m_known)
        sendAvailability(k);
    for (const Known &k : m_known)
        sendState(k);
    for (const Known &k : m_known)
        sendDiagnostics(k);
    for (const Known &k : m_known)
        sendAttributes(k);
    sendBus();
}

void MqttPublisher::sensorsChanged(const std::vector<FeedSensor> &sensors)
{
    // The window hands the list over before every reading; mostly nothing has changed.
    if (sensors == m_roster)
        return;
    m_roster = sensors;
    std::vector<Known> next;
    next.reserve(sensors.size());
    for (const FeedSensor &s : sensors) {
        // A serial in two slots is one entity, the first slot's.
        if (s.SN.isEmpty()
            || std::any_of(next.begin(), next.end(), [&](const Known &k) { return k.SN == s.SN; }))
            continue;
        Known k;
        if (const Known *had = find(s.SN))
            k = *had;
        const bool isNew = k.SN.isEmpty();
        const bool wasAvailable = !isNew && available(k);
        const bool renamed = !isNew && k.name != s.name;
        const bool diagnosed = isNew || k.failures != s.failures || k.verdict != s.verdict;
        const bool moved = !isNew && k.bus != s.bus;
        // Down to one bus: the retained attributes go (the configuration no longer names them).
        if (moved && s.bus.isEmpty())
            send(attributesTopic(m_settings.Topic, k.SN), QByteArray(), true, true);
        k.SN = s.SN;
        k.name = s.name;
        if (!isNew && k.Enable != s.Enable)
            k.failed = false;
        if (isNew && !m_program.observing)
            k.stale = true;
        k.Enable = s.Enable;
        k.failures = s.failures;
        k.verdict = s.verdict;
        k.bus = s.bus;
        if (isNew || renamed || moved)
            sendConfig(k);
        if (isNew || moved)
            sendAttributes(k);
        if (isNew || wasAvailable != available(k))
            sendAvailability(k);
        if (diagnosed)
            sendDiagnostics(k);
        next.push_back(std::move(k));
    }
    for (const Known &k : m_known) {
        if (std::none_of(next.begin(), next.end(), [&](const Known &n) { return n.SN == k.SN; }))
            sendRemoval(k);
    }
    m_known = std::move(next);
}

void MqttPublisher::accepted(const FeedReading &reading)
{
    Known *k = find(reading.SN);
    if (!k) {
        m_known.push_back(Known{reading.SN, reading.name, true});
        k = &m_known.back();
        sendConfig(*k);
    }
    const bool wasAvailable = available(*k);
    k->failed = false;
    k->stale = false;
    k->hasValue = true;
    k->value = reading.value;
    if (!wasAvailable)
        sendAvailability(*k);
    sendState(*k);
}

void MqttPublisher::failed(const QString &SN)
{
    Known *k = find(SN);
    if (!k || k->failed)
        return;
    const bool wasAvailable = available(*k);
    k->failed = true;
    if (wasAvailable)
        sendAvailability(*k);
}

void MqttPublisher::connectionChanged(bool connected)
{
    if (connected) {
        m_log.AddLog(QStringLiteral("MQTT: связь с брокером ") + address() + QStringLiteral(" установлена."));
        republish();
    }
    if (connected != m_wasConnected) {
        m_wasConnected = connected;
        emit stateChanged();
    }
}

void MqttPublisher::received(const QString &topic, const QByteArray &payload, bool retained)
{
    if (topic == hubStatusTopic(m_settings.DiscoveryPrefix)) {
        // The hub started again: it has forgotten the states and what is not retained. A
        // retained "online" only came with the subscription, right after the connection
        // sent everything.
        if (m_settings.Discovery && !retained && payload == "online")
            republish();
        return;
    }
    // What the broker kept from before this connection: configurations of this program that
    // it no longer publishes are its own leftovers.
    if (retained && !payload.isEmpty() && !ownConfigTopics().contains(topic)
        && ownConfig(topic, payload, m_settings.Topic, hubId(m_instance)))
        clearGhost(topic, payload);
}
