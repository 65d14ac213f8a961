#include "mqtt/MqttMessages.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

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

QByteArray discoveryConfig(const QString &topic, const QString &SN, const QString &name, const QString &swVersion)
{
    const QString id = QStringLiteral("kalvex_") + topicLevel(SN);
    const QJsonObject device{
        {QStringLiteral("identifiers"), QJsonArray{id}},
        {QStringLiteral("name"), name},
        {QStringLiteral("model"), model(SN)},
        {QStringLiteral("serial_number"), SN},
    };
    const QJsonObject origin{
        {QStringLiteral("name"), QStringLiteral("Kalvex")},
        {QStringLiteral("sw_version"), swVersion},
    };
    const QJsonArray availability{
        QJsonObject{{QStringLiteral("topic"), statusTopic(topic)}},
        QJsonObject{{QStringLiteral("topic"), availabilityTopic(topic, SN)}},
    };
    const QJsonObject config{
        {QStringLiteral("name"), name},
        {QStringLiteral("unique_id"), id},
        {QStringLiteral("state_topic"), stateTopic(topic, SN)},
        {QStringLiteral("device_class"), QStringLiteral("temperature")},
        {QStringLiteral("state_class"), QStringLiteral("measurement")},
        {QStringLiteral("unit_of_measurement"), QStringLiteral("°C")},
        {QStringLiteral("suggested_display_precision"), 1},
        {QStringLiteral("availability"), availability},
        {QStringLiteral("availability_mode"), QStringLiteral("all")},
        {QStringLiteral("device"), device},
        {QStringLiteral("origin"), origin},
    };
    return QJsonDocument(config).toJson(QJsonDocument::Compact);
}

bool validTopic(const QString &topic)
{
    const QString base = topicBase(topic);
    return !base.isEmpty() && !base.contains(QLatin1Char('+')) && !base.contains(QLatin1Char('#'))
           && !base.contains(QChar(0));
}

} // namespace mqttmessages
