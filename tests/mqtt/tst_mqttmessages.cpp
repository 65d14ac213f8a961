#include "mqtt/MqttEntries.h"
#include "mqtt/MqttMessages.h"
#include "sensors/MqttSettings.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QTest>

using namespace mqttmessages;

// What goes on the wire: a hub reads the state as a number only with a decimal point, and a
// serial or topic text from a hand-edited file must never split or widen a topic.
class TestMqttMessages : public QObject
{
    Q_OBJECT

private slots:
    void stateText_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("whole") << 22.0 << QByteArray("22");
        QTest::newRow("one decimal") << 22.5 << QByteArray("22.5");
        QTest::newRow("negative") << -3.75 << QByteArray("-3.75");
        QTest::newRow("below one") << -0.1 << QByteArray("-0.1");
        QTest::newRow("zero") << 0.0 << QByteArray("0");
        QTest::newRow("hot") << 125.0 << QByteArray("125");
    }
    void stateText()
    {
        QFETCH(double, value);
        QFETCH(QByteArray, text);
        // Whatever locale the program runs in (the users' writes a comma).
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        QCOMPARE(mqttmessages::stateText(value), text);
        QLocale::setDefault(QLocale::system());
    }

    void topics_data()
    {
        QTest::addColumn<QString>("topic");
        QTest::addColumn<QString>("SN");
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("config");
        QTest::newRow("plain") << "kalvex/dacha" << "28ECEDC7050000F6" << "kalvex/dacha/28ECEDC7050000F6/state"
                               << "homeassistant/sensor/kalvex_28ECEDC7050000F6/config";
        QTest::newRow("slashes at the ends") << "/kalvex/dacha/" << "28ECEDC7050000F6"
                                             << "kalvex/dacha/28ECEDC7050000F6/state"
                                             << "homeassistant/sensor/kalvex_28ECEDC7050000F6/config";
        QTest::newRow("wildcards and levels in a serial") << "kalvex/dacha" << "28+#/a b" << "kalvex/dacha/28___a_b/state"
                                                          << "homeassistant/sensor/kalvex_28___a_b/config";
    }
    void topics()
    {
        QFETCH(QString, topic);
        QFETCH(QString, SN);
        QFETCH(QString, state);
        QFETCH(QString, config);
        QCOMPARE(stateTopic(topic, SN), state);
        QCOMPARE(configTopic(QStringLiteral("homeassistant"), SN), config);
        const QJsonObject json = QJsonDocument::fromJson(discoveryConfig(topic, SN, QStringLiteral("Кухня"), QStringLiteral("1.2"))).object();
        QCOMPARE(json[QStringLiteral("state_topic")].toString(), state);
        // The id stays what the topic level is, so the entity never changes for a serial.
        QCOMPARE(json[QStringLiteral("unique_id")].toString(), config.section(QLatin1Char('/'), 2, 2));
    }

    void defaultTopic_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("topic");
        QTest::newRow("plain") << "dacha" << "kalvex/dacha";
        QTest::newRow("upper case and a domain") << "Dacha.Local" << "kalvex/dacha_local";
        QTest::newRow("cyrillic and blanks") << "дача 2" << "kalvex/_____2";
        QTest::newRow("kept characters") << "my_host-1" << "kalvex/my_host-1";
    }
    void defaultTopic()
    {
        QFETCH(QString, host);
        QFETCH(QString, topic);
        QCOMPARE(MqttSettings::topicFor(host), topic);
    }

    void dialogChecks_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("topic");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("defaults") << "1883" << "localhost" << "kalvex/dacha" << true;
        QTest::newRow("highest port") << "65535" << "broker" << "kalvex/dacha" << true;
        QTest::newRow("port 0") << "0" << "broker" << "kalvex/dacha" << false;
        QTest::newRow("port too big") << "65536" << "broker" << "kalvex/dacha" << false;
        QTest::newRow("port no number") << "18,5" << "broker" << "kalvex/dacha" << false;
        QTest::newRow("no host") << "1883" << "  " << "kalvex/dacha" << false;
        QTest::newRow("wildcard topic") << "1883" << "broker" << "kalvex/#" << false;
        QTest::newRow("empty topic") << "1883" << "broker" << "/" << false;
    }
    void dialogChecks()
    {
        QFETCH(QString, port);
        QFETCH(QString, host);
        QFETCH(QString, topic);
        QFETCH(bool, accepted);
        mqttentries::Entries e = mqttentries::entriesOf(MqttSettings());
        e.Port = port;
        e.Host = host;
        e.Topic = topic;
        QCOMPARE(mqttentries::check(e).isEmpty(), accepted);
        if (accepted)
            QCOMPARE(mqttentries::settingsOf(e).Port, port.toInt());
    }
};

QTEST_GUILESS_MAIN(TestMqttMessages)
#include "tst_mqttmessages.moc"
