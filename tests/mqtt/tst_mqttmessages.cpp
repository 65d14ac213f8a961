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
        const Context context{topic, QStringLiteral("kalvex_hub_0123456789ab"), QStringLiteral("1.2"), 30};
        const QJsonObject json = QJsonDocument::fromJson(discoveryConfig(context, SN, QStringLiteral("Кухня"))).object();
        QCOMPARE(json[QStringLiteral("state_topic")].toString(), state);
        // The id stays what the topic level is, so the entity never changes for a serial.
        QCOMPARE(json[QStringLiteral("unique_id")].toString(), config.section(QLatin1Char('/'), 2, 2));
    }

    // Which retained configurations are this program's leftovers: its object ids, hanging off
    // its device or reading from its topic; nothing of another program.
    void ownConfig_data()
    {
        QTest::addColumn<QString>("topic");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<bool>("own");
        const QString mine = QStringLiteral("homeassistant/sensor/kalvex_28AA/config");
        QTest::newRow("off its device") << mine << QByteArray(R"({"device":{"via_device":"kalvex_hub_1"}})") << true;
        QTest::newRow("its device's own") << QStringLiteral("homeassistant/binary_sensor/kalvex_hub_1_bus/config")
                                          << QByteArray(R"({"device":{"identifiers":["kalvex_hub_1"]}})") << true;
        QTest::newRow("from before, its topic") << mine << QByteArray(R"({"state_topic":"kalvex/dacha/28AA/state"})") << true;
        QTest::newRow("another program's device") << mine << QByteArray(R"({"device":{"via_device":"kalvex_hub_2"}})") << false;
        QTest::newRow("a topic that only starts alike") << mine << QByteArray(R"({"state_topic":"kalvex/dacha2/28AA/state"})")
                                                       << false;
        QTest::newRow("not one of its ids") << QStringLiteral("homeassistant/sensor/plug/config")
                                            << QByteArray(R"({"device":{"via_device":"kalvex_hub_1"}})") << false;
        QTest::newRow("no JSON") << mine << QByteArray("online") << false;
    }
    void ownConfig()
    {
        QFETCH(QString, topic);
        QFETCH(QByteArray, payload);
        QFETCH(bool, own);
        QCOMPARE(mqttmessages::ownConfig(topic, payload, QStringLiteral("kalvex/dacha"), QStringLiteral("kalvex_hub_1")), own);
    }

    void expireAfter_data()
    {
        QTest::addColumn<int>("intervalMs");
        QTest::addColumn<double>("cycle");
        QTest::addColumn<int>("seconds");
        QTest::newRow("default interval, no cycle yet") << 10000 << 0.0 << 30;
        QTest::newRow("a short cycle rounds up") << 10000 << 0.8 << 35;
        QTest::newRow("a cycle longer than the interval") << 1000 << 20.0 << 65;
        QTest::newRow("no interval") << 0 << 0.0 << 5;
    }
    void expireAfter()
    {
        QFETCH(int, intervalMs);
        QFETCH(double, cycle);
        QFETCH(int, seconds);
        QCOMPARE(mqttmessages::expireAfter(intervalMs, cycle), seconds);
    }

    // One program in one folder keeps its id across restarts; another folder or machine has
    // its own; every broker takes it.
    void instance()
    {
        const QString a = instanceId(QStringLiteral("dacha"), QStringLiteral("/srv/kalvex"));
        QCOMPARE(instanceId(QStringLiteral("dacha"), QStringLiteral("/srv/kalvex/")), a);
        QVERIFY(instanceId(QStringLiteral("dacha"), QStringLiteral("/srv/kalvex2")) != a);
        QVERIFY(instanceId(QStringLiteral("gorod"), QStringLiteral("/srv/kalvex")) != a);
        QVERIFY(clientId(a).size() <= 23);
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
