#pragma once

#include <QString>

// Where readings go besides the program itself: an MQTT broker ([MQTT] of Kalvex.ini). Plain
// values under the names of their keys; the publisher in src/mqtt reads them.
struct MqttSettings
{
    bool Active = false;
    QString Host = QStringLiteral("localhost");
    int Port = 1883;
    QString User;
    // When set, Kalvex.ini is saved readable by its owner only.
    QString Password;
    // First part of every topic; several programs on one broker each keep their own.
    QString Topic = defaultTopic();
    // Home Assistant finds the sensors by itself through retained configuration messages.
    bool Discovery = true;
    QString DiscoveryPrefix = QStringLiteral("homeassistant");
    // When set: TLS, the broker's certificate checked against this file.
    QString CAFile;
    // TLS without a CA file: the broker's certificate checked against the system's CA store.
    bool TLS = false;
    // A client certificate and its key (PEM), for brokers that ask for one.
    QString CertFile;
    QString KeyFile;

    bool usesTls() const { return TLS || !CAFile.isEmpty(); }

    bool operator==(const MqttSettings &) const = default;

    // "kalvex/" and this machine's host name in lower case, every character outside
    // [a-z0-9_-] as "_": two machines on one broker never share a topic by default.
    static QString defaultTopic();
    static QString topicFor(const QString &hostName);
};
