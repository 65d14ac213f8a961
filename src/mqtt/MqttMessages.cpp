#include "mqtt/MqttMessages.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cmath>

namespace mqttmessages {

QString topicLevel(const QString &SN)
{
    QString level = SN;
    for (QChar &c : level) {
        const char16_t u = c.unicode();
        const bool kept = (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9') || u == u'_'
                          || u == u'-';
        if (!kept)
            c = QLatin1Char('_');
    }
    if (level.isEmpty())
        level = QStringLiteral("_");
    return level;
}

QString topicBase(const QString &topic)
{
    qsizetype from = 0;
    qsizetype to = topic.size();
    while (from < to && topic.at(from) == QLatin1Char('/'))
        ++from;
    while (to > from && topic.at(to - 1) == QLatin1Char('/'))
        --to;
    return topic.mid(from, to - from);
}

QString statusTopic(const QString &topic)
{
    return topicBase(topic) + QStringLiteral("/status");
}

QString stateTopic(const QString &topic, const QString &SN)
{
    return topicBase(topic) + QLatin1Char('/') + topicLevel(SN) + QStringLiteral("/state");
}

QString availabilityTopic(const QString &topic, const QString &SN)
{
    return topicBase(topic) + QLatin1Char('/') + topicLevel(SN) + QStringLiteral("/availability");
}

QString configTopic(const QString &discoveryPrefix, const QString &SN)
{
    return topicBase(discoveryPrefix) + QStringLiteral("/sensor/kalvex_") + topicLevel(SN) + QStringLiteral("/config");
}

QString hubStatusTopic(const QString &discoveryPrefix)
{
    return topicBase(discoveryPrefix) + QStringLiteral("/status");
}

QByteArray stateText(double value)
{
    // The C locale's text: a Russian system would write a comma, which a hub reads as no number.
    return QLocale::c().toString(value, 'f', QLocale::FloatingPointShortest).toLatin1();
}

QString model(const QString &SN)
{
    const QString family = SN.left(2).toUpper();
    if (family == QLatin1String("28"))
        return QStringLiteral("DS18B20");
    if (family == QLatin1String("10"))
        return QStringLiteral("DS18S20");
    return QStringLiteral("1-Wire ") + family;
}

QString failuresTopic(const QString &topic, const QString &SN)
{
    return topicBase(topic) + QLatin1Char('/') + topicLevel(SN) + QStringLiteral("/failures");
}

QString verdictTopic(const QString &topic, const QString &SN)
{
    return topicBase(topic) + QLatin1Char('/') + topicLevel(SN) + QStringLiteral("/verdict");
}

QString attributesTopic(const QString &topic, const QString &SN)
{
    return topicBase(topic) + QLatin1Char('/') + topicLevel(SN) + QStringLiteral("/attributes");
}

QString failuresConfigTopic(const QString &discoveryPrefix, const QString &SN)
{
    return topicBase(discoveryPrefix) + QStringLiteral("/sensor/kalvex_") + topicLevel(SN)
           + QStringLiteral("_failures/config");
}

QString verdictConfigTopic(const QString &discoveryPrefix, const QString &SN)
{
    return topicBase(discoveryPrefix) + QStringLiteral("/sensor/kalvex_") + topicLevel(SN)
           + QStringLiteral("_verdict/config");
}

QString busTopic(const QString &topic)
{
    return topicBase(topic) + QStringLiteral("/bus");
}

QString busConfigTopic(const QString &discoveryPrefix, const QString &hubId)
{
    return topicBase(discoveryPrefix) + QStringLiteral("/binary_sensor/") + hubId + QStringLiteral("_bus/config");
}

QString configFilter(const QString &discoveryPrefix)
{
    return topicBase(discoveryPrefix) + QStringLiteral("/+/+/config");
}

QString instanceId(const QString &hostName, const QString &programDir)
{
    QString dir = QDir::cleanPath(programDir);
    const QString canonical = QFileInfo(dir).canonicalFilePath();
    if (!canonical.isEmpty())
        dir = canonical;
    const QByteArray digest = QCryptographicHash::hash((hostName + QLatin1Char('\n') + dir).toUtf8(),
                                                       QCryptographicHash::Sha1);
    return QString::fromLatin1(digest.toHex().left(16));
}

QString clientId(const QString &instance)
{
    return QStringLiteral("kalvex-") + instance.left(16);
}

QString hubId(const QString &instance)
{
    // Never a sensor's id: those are "kalvex_" and a serial.
    return QStringLiteral("kalvex_hub_") + instance.left(12);
}

int expireAfter(int intervalMs, double longestCycleSeconds)
{
    const double period = std::max(intervalMs, 0) / 1000.0 + std::max(longestCycleSeconds, 0.0);
    const double seconds = std::ceil(3 * period / 5) * 5;
    return static_cast<int>(std::clamp(seconds, 5.0, 1e7));
}

namespace {

QJsonArray availabilityOf(const QString &topic, const QString &SN)
{
    return QJsonArray{
        QJsonObject{{QStringLiteral("topic"), statusTopic(topic)}},
        QJsonObject{{QStringLiteral("topic"), availabilityTopic(topic, SN)}},
    };
}

QJsonObject originOf(const Context &c)
{
    return QJsonObject{
        {QStringLiteral("name"), QStringLiteral("Kalvex")},
        {QStringLiteral("sw_version"), c.swVersion},
    };
}

QJsonObject sensorDevice(const Context &c, const QString &SN, const QString &name)
{
    return QJsonObject{
        {QStringLiteral("identifiers"), QJsonArray{QStringLiteral("kalvex_") + topicLevel(SN)}},
        {QStringLiteral("name"), name},
        {QStringLiteral("model"), model(SN)},
        {QStringLiteral("serial_number"), SN},
        {QStringLiteral("via_device"), c.hubId},
    };
}

QByteArray compact(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

} // namespace

QByteArray attributes(const QString &bus)
{
    return compact(QJsonObject{{QStringLiteral("bus"), bus}});
}

QByteArray discoveryConfig(const Context &c, const QString &SN, const QString &name, const QString &bus)
{
    QJsonObject config{
        // The entity is the device's main feature: the hub shows the device's name alone.
        {QStringLiteral("name"), QJsonValue::Null},
        {QStringLiteral("unique_id"), QStringLiteral("kalvex_") + topicLevel(SN)},
        {QStringLiteral("state_topic"), stateTopic(c.topic, SN)},
        {QStringLiteral("device_class"), QStringLiteral("temperature")},
        {QStringLiteral("state_class"), QStringLiteral("measurement")},
        {QStringLiteral("unit_of_measurement"), QStringLiteral("°C")},
        {QStringLiteral("suggested_display_precision"), 1},
        {QStringLiteral("availability"), availabilityOf(c.topic, SN)},
        {QStringLiteral("availability_mode"), QStringLiteral("all")},
        {QStringLiteral("device"), sensorDevice(c, SN, name)},
        {QStringLiteral("origin"), originOf(c)},
    };
    if (c.expireAfter > 0)
        config.insert(QStringLiteral("expire_after"), c.expireAfter);
    if (!bus.isEmpty())
        config.insert(QStringLiteral("json_attributes_topic"), attributesTopic(c.topic, SN));
    return compact(config);
}

QByteArray failuresConfig(const Context &c, const QString &SN, const QString &name)
{
    return compact(QJsonObject{
        {QStringLiteral("name"), QStringLiteral("Ошибки чтения")},
        {QStringLiteral("unique_id"), QStringLiteral("kalvex_") + topicLevel(SN) + QStringLiteral("_failures")},
        {QStringLiteral("state_topic"), failuresTopic(c.topic, SN)},
        {QStringLiteral("state_class"), QStringLiteral("total_increasing")},
        {QStringLiteral("entity_category"), QStringLiteral("diagnostic")},
        {QStringLiteral("icon"), QStringLiteral("mdi:alert-circle-outline")},
        {QStringLiteral("availability"), QJsonArray{QJsonObject{{QStringLiteral("topic"), statusTopic(c.topic)}}}},
        {QStringLiteral("device"), sensorDevice(c, SN, name)},
        {QStringLiteral("origin"), originOf(c)},
    });
}

QByteArray verdictConfig(const Context &c, const QString &SN, const QString &name)
{
    return compact(QJsonObject{
        {QStringLiteral("name"), QStringLiteral("Проверка подлинности")},
        {QStringLiteral("unique_id"), QStringLiteral("kalvex_") + topicLevel(SN) + QStringLiteral("_verdict")},
        {QStringLiteral("state_topic"), verdictTopic(c.topic, SN)},
        {QStringLiteral("device_class"), QStringLiteral("enum")},
        {QStringLiteral("options"),
         QJsonArray{QStringLiteral("genuine"), QStringLiteral("counterfeit"), QStringLiteral("unknown")}},
        {QStringLiteral("entity_category"), QStringLiteral("diagnostic")},
        {QStringLiteral("availability"), QJsonArray{QJsonObject{{QStringLiteral("topic"), statusTopic(c.topic)}}}},
        {QStringLiteral("device"), sensorDevice(c, SN, name)},
        {QStringLiteral("origin"), originOf(c)},
    });
}

QByteArray busConfig(const Context &c, const QString &hubName, const QString &configurationUrl)
{
    QJsonObject device{
        {QStringLiteral("identifiers"), QJsonArray{c.hubId}},
        {QStringLiteral("name"), hubName},
        {QStringLiteral("manufacturer"), QStringLiteral("Kalvex")},
        {QStringLiteral("model"), QStringLiteral("Kalvex")},
        {QStringLiteral("sw_version"), c.swVersion},
    };
    if (!configurationUrl.isEmpty())
        device.insert(QStringLiteral("configuration_url"), configurationUrl);
    return compact(QJsonObject{
        {QStringLiteral("name"), QStringLiteral("Шина")},
        {QStringLiteral("unique_id"), c.hubId + QStringLiteral("_bus")},
        {QStringLiteral("state_topic"), busTopic(c.topic)},
        {QStringLiteral("device_class"), QStringLiteral("connectivity")},
        {QStringLiteral("entity_category"), QStringLiteral("diagnostic")},
        {QStringLiteral("availability"), QJsonArray{QJsonObject{{QStringLiteral("topic"), statusTopic(c.topic)}}}},
        {QStringLiteral("device"), device},
        {QStringLiteral("origin"), originOf(c)},
    });
}

bool ownConfig(const QString &configTopic, const QByteArray &payload, const QString &topic, const QString &hubId)
{
    // "<prefix>/<component>/<object id>/config"
    const QStringList levels = configTopic.split(QLatin1Char('/'));
    if (levels.size() < 4 || !levels.at(levels.size() - 2).startsWith(QLatin1String("kalvex_")))
        return false;
    const QJsonObject config = QJsonDocument::fromJson(payload).object();
    const QJsonObject device = config.value(QStringLiteral("device")).toObject();
    if (device.value(QStringLiteral("via_device")).toString() == hubId
        || device.value(QStringLiteral("identifiers")).toArray().contains(hubId))
        return true;
    return config.value(QStringLiteral("state_topic")).toString().startsWith(topicBase(topic) + QLatin1Char('/'));
}

QStringList sensorAvailabilityTopics(const QByteArray &payload)
{
    QStringList topics;
    const QJsonArray list = QJsonDocument::fromJson(payload).object().value(QStringLiteral("availability")).toArray();
    for (const QJsonValue &entry : list) {
        const QString t = entry.toObject().value(QStringLiteral("topic")).toString();
        if (t.endsWith(QLatin1String("/availability")) && validTopic(t))
            topics << t;
    }
    return topics;
}

bool validTopic(const QString &topic)
{
    const QString base = topicBase(topic);
    return !base.isEmpty() && !base.contains(QLatin1Char('+')) && !base.contains(QLatin1Char('#'))
           && !base.contains(QChar(0));
}

} // namespace mqttmessages
