#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

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

// Per sensor, the diagnostics beside the temperature: failed readings since the start and the
// verdict of the genuineness check ("genuine", "counterfeit", "unknown").
QString failuresTopic(const QString &topic, const QString &SN);
QString verdictTopic(const QString &topic, const QString &SN);
QString failuresConfigTopic(const QString &discoveryPrefix, const QString &SN);
QString verdictConfigTopic(const QString &discoveryPrefix, const QString &SN);
// Per sensor while the program has several buses: what else is known of it, as a JSON object
// the hub shows as the temperature's attributes ({"bus":"<name>"}; retained).
QString attributesTopic(const QString &topic, const QString &SN);
QByteArray attributes(const QString &bus);
// The program's own device: whether its bus (port or kernel bus) is connected, "ON"/"OFF".
QString busTopic(const QString &topic);
QString busConfigTopic(const QString &discoveryPrefix, const QString &hubId);
// Where retained configurations of every component lie, to find the ones left behind.
QString configFilter(const QString &discoveryPrefix);

// One program on one machine, from its host name and folder: the same after every restart, so
// the broker keeps one session per program and the hub one device.
QString instanceId(const QString &hostName, const QString &programDir);
// At most 23 characters, which every broker accepts.
QString clientId(const QString &instance);
QString hubId(const QString &instance);

// Seconds after which the hub shows a sensor with no new reading as unavailable: about three
// periods of the cycle (interval plus the longest cycle seen), rounded up to 5 s.
int expireAfter(int intervalMs, double longestCycleSeconds);

// What every configuration says about where it comes from.
struct Context
{
    QString topic;
    QString hubId;
    QString swVersion;
    int expireAfter = 0;
};

// The retained discovery configurations (compact JSON, UTF-8). A sensor's temperature is the
// main feature of a device that carries the sensor's name; its device hangs off the program's.
// With a bus name the temperature takes its attributes from the attributes topic.
QByteArray discoveryConfig(const Context &context, const QString &SN, const QString &name, const QString &bus = {});
QByteArray failuresConfig(const Context &context, const QString &SN, const QString &name);
QByteArray verdictConfig(const Context &context, const QString &SN, const QString &name);
// The program as a device: its name, its page when the web server runs (empty: none).
QByteArray busConfig(const Context &context, const QString &hubName, const QString &configurationUrl);

// True when a retained configuration under `configTopic` is this program's: one of its object
// ids, and it hangs off this program's device or reads from its topic (a file from before).
bool ownConfig(const QString &configTopic, const QByteArray &payload, const QString &topic, const QString &hubId);
// The per-sensor availability topics a configuration names (not the shared status).
QStringList sensorAvailabilityTopics(const QByteArray &payload);

// True when the text can be published to as it stands: not empty, no wildcard, no NUL.
bool validTopic(const QString &topic);

} // namespace mqttmessages
