#include "sensors/MqttSettings.h"

#include <QSysInfo>

QString MqttSettings::topicFor(const QString &hostName)
{
    QString part = hostName.toLower();
    for (QChar &c : part) {
        const char16_t u = c.unicode();
        const bool kept = (u >= u'a' && u <= u'z') || (u >= u'0' && u <= u'9') || u == u'_' || u == u'-';
        if (!kept)
            c = QLatin1Char('_');
    }
    if (part.isEmpty())
        part = QStringLiteral("kalvex");
    return QStringLiteral("kalvex/") + part;
}

QString MqttSettings::defaultTopic()
{
    return topicFor(QSysInfo::machineHostName());
}
