#pragma once

#include <QByteArray>
#include <QString>

// Topics and payloads of what the program publishes. Pure functions: the publisher decides
// when, these say what.
namespace mqttmessages {

// A serial as one topic level: characters outside [A-Za-z0-9_-] become "_" (a hand-edited
// serial with "/", "+" or "#" must not split or widen a topic).
QString topicLevel(const QString &SN);
// The topic as configured, without the slashes at either end.
QString topicBase(const QString &topic);

QString statusTopic(const QString &topic);
QString stateTopic(const QString &topic, const QString &SN);
QString availabilityTopic(const QString &topic, const QString &SN);
QString configTopic(const QString &discoveryPrefix, const QString &SN);
// Where the hub announces itself ("online" after it started).
QString hubStatusTopic(const QString &discoveryPrefix);

// The value as the store keeps it, with a decimal point whatever the locale, in its shortest
// form: 22 -> "22", 21.3 -> "21.3", -3.75 -> "-3.75".
QByteArray stateText(double value);

// "DS18B20" or "DS18S20" by the family code that opens the serial ("28", "10"); the bare
// family name for anything else.
QString model(const QString &SN);

// The retained discovery configuration of one sensor (compact JSON, UTF-8).
QByteArray discoveryConfig(const QString &topic, const QString &SN, const QString &name, const QString &swVersion);

// True when the text can be published to as it stands: not empty, no wildcard, no NUL.
bool validTopic(const QString &topic);

} // namespace mqttmessages
