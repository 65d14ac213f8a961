#include "mqtt/MqttEntries.h"

#include "mqtt/MqttMessages.h"
#include "sensors/NumberEntry.h"

#include <QFileInfo>

namespace mqttentries {

Entries entriesOf(const MqttSettings &s)
{
    Entries e;
    e.Active = s.Active;
    e.Host = s.Host;
    e.Port = QString::number(s.Port);
    e.User = s.User;
    e.Password = s.Password;
    e.Topic = s.Topic;
    e.Discovery = s.Discovery;
    e.DiscoveryPrefix = s.DiscoveryPrefix;
    e.CAFile = s.CAFile;
    e.TLS = s.usesTls();
    e.CertFile = s.CertFile;
    e.KeyFile = s.KeyFile;
    return e;
}

QString check(const Entries &e)
{
    const int port = numberentry::StrToIntDef0(e.Port);
    if (port < 1 || port > 65535)
        return QStringLiteral("Порт брокера должен быть от 1 до 65535.");
    if (e.Host.trimmed().isEmpty())
        return QStringLiteral("Не указан адрес брокера.");
    if (!mqttmessages::validTopic(e.Topic))
        return QStringLiteral("Тема не может быть пустой и не может содержать символы «+» и «#».");
    if (e.Discovery && !mqttmessages::validTopic(e.DiscoveryPrefix))
        return QStringLiteral("Префикс обнаружения не может быть пустым и не может содержать символы «+» и «#».");
    if (!e.CAFile.isEmpty() && !QFileInfo(e.CAFile).isFile())
        return QStringLiteral("Файл сертификата не найден: ") + e.CAFile;
    if (e.CertFile.isEmpty() != e.KeyFile.isEmpty())
        return QStringLiteral("Сертификат клиента указывается вместе с его ключом.");
    for (const QString &file : {e.CertFile, e.KeyFile}) {
        if (!file.isEmpty() && !QFileInfo(file).isFile())
            return QStringLiteral("Файл не найден: ") + file;
    }
    return QString();
}

MqttSettings settingsOf(const Entries &e)
{
    MqttSettings s;
    s.Active = e.Active;
    s.Host = e.Host.trimmed();
    s.Port = numberentry::StrToIntDef0(e.Port);
    s.User = e.User;
    s.Password = e.Password;
    s.Topic = mqttmessages::topicBase(e.Topic.trimmed());
    s.Discovery = e.Discovery;
    s.DiscoveryPrefix = mqttmessages::topicBase(e.DiscoveryPrefix.trimmed());
    s.CAFile = e.CAFile;
    // Kept off in the file while a CA file says it already.
    s.TLS = e.TLS && e.CAFile.isEmpty();
    s.CertFile = e.CertFile;
    s.KeyFile = e.KeyFile;
    return s;
}

} // namespace mqttentries
