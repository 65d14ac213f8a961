#include "mqtt/MqttPublisher.h"

#include "base/Log.h"
#include "mqtt/MqttClient.h"
#include "mqtt/MqttMessages.h"

#include <algorithm>

using namespace mqttmessages;

MqttPublisher::MqttPublisher(ReadingFeed &feed, Log &log, QString swVersion, QObject *parent)
    : QObject(parent)
    , m_log(log)
    , m_version(std::move(swVersion))
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
    MqttClient::Options options;
    options.host = m_settings.Host;
    options.port = m_settings.Port;
    options.user = m_settings.User;
    options.password = m_settings.Password;
    options.caFile = m_settings.CAFile;
    options.statusTopic = statusTopic(m_settings.Topic);
    if (m_settings.Discovery)
        options.subscribeTopic = hubStatusTopic(m_settings.DiscoveryPrefix);
    m_client = std::make_unique<MqttClient>(options);
    connect(m_client.get(), &MqttClient::connectedChanged, this, &MqttPublisher::connectionChanged);
    connect(m_client.get(), &MqttClient::received, this, &MqttPublisher::received);
    connect(m_client.get(), &MqttClient::failure, this, [this](const QString &reason) {
        m_log.AddLog(QStringLiteral("MQTT: нет связи с брокером ") + address() + QStringLiteral(": ") + reason);
    });
    emit stateChanged();
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
    if (m_settings.Discovery)
        send(configTopic(m_settings.DiscoveryPrefix, k.SN), discoveryConfig(m_settings.Topic, k.SN, k.name, m_version),
             true);
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

void MqttPublisher::sendRemoval(const QString &SN)
{
    // Empty and retained: the broker forgets the retained message and the hub the entity.
    if (m_settings.Discovery)
        send(configTopic(m_settings.DiscoveryPrefix, SN), QByteArray(), true, true);
    send(availabilityTopic(m_settings.Topic, SN), QByteArray(), true, true);
}

void MqttPublisher::republish()
{
    // The configuration first: a hub that learns of the entity then hears its state.
    for (const Known &k : m_known)
        sendConfig(k);
    for (const Known &k : m_known)
        sendAvailability(k);
    for (const Known &k : m_known)
        sendState(k);
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
        k.SN = s.SN;
        k.name = s.name;
        if (!isNew && k.Enable != s.Enable)
            k.failed = false;
        k.Enable = s.Enable;
        if (isNew || renamed)
            sendConfig(k);
        if (isNew || wasAvailable != available(k))
            sendAvailability(k);
        next.push_back(std::move(k));
    }
    for (const Known &k : m_known) {
        if (std::none_of(next.begin(), next.end(), [&](const Known &n) { return n.SN == k.SN; }))
            sendRemoval(k.SN);
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

void MqttPublisher::received(const QByteArray &payload)
{
    // The hub started again (or its retained status came with the subscription): it has
    // forgotten every entity that is not retained, and the states.
    if (payload == "online")
        republish();
}
