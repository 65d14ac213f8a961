#include "MqttTestBroker.h"
#include "support/RecordingLog.h"
#include "web/HttpClient.h"

#include "base/ReadingFeed.h"
#include "mqtt/MqttClient.h"
#include "mqtt/MqttPublisher.h"
#include "onewire/PtyBusServer.h"
#include "onewire/VirtualBus.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <thread>

using mqtttest::Broker;
using mqtttest::Message;
using mqtttest::Subscriber;

namespace {

constexpr int Wait = 15000;

MqttSettings settingsFor(int port, const QString &topic = QStringLiteral("kalvex/test"))
{
    MqttSettings s;
    s.Active = true;
    s.Host = QStringLiteral("127.0.0.1");
    s.Port = port;
    s.Topic = topic;
    return s;
}

QString lastPayload(Subscriber &sub, const QString &topic)
{
    const std::vector<Message> found = sub.on(topic);
    return found.empty() ? QStringLiteral("<none>") : QString::fromUtf8(found.back().payload);
}

int count(const QStringList &lines, const QString &part)
{
    int n = 0;
    for (const QString &line : lines)
        n += line.contains(part) ? 1 : 0;
    return n;
}

const QString Kitchen = QStringLiteral("28ECEDC7050000F6");
const QString Boiler = QStringLiteral("108739A80208006F");
const QString KitchenConfig = QStringLiteral("homeassistant/sensor/kalvex_28ECEDC7050000F6/config");
const QString BoilerConfig = QStringLiteral("homeassistant/sensor/kalvex_108739A80208006F/config");

} // namespace

// The publisher and the program against a real mosquitto on a loopback port, as a hub and
// its broker see them.
class TestMqttBroker : public QObject
{
    Q_OBJECT

private slots:
    // A renamed sensor keeps its entity (same id, new name); a deleted one leaves nothing
    // retained behind, so the hub drops it; a newcomer to the broker sees only what is.
    void renameAndDelete()
    {
        Broker broker;
        QVERIFY(broker.start());
        Subscriber sub(broker.port());
        QTRY_VERIFY(sub.subscribed());
        ReadingFeed feed;
        RecordingLog log;
        MqttPublisher publisher(feed, log, QStringLiteral("1.2"));
        publisher.setSettings(settingsFor(broker.port()));
        feed.handSensors({{Kitchen, QStringLiteral("Кухня"), true}, {Boiler, QStringLiteral("Котёл"), true}});
        QTRY_COMPARE_WITH_TIMEOUT(publisher.connectedState(), 1, Wait);
        QTRY_VERIFY_WITH_TIMEOUT(!sub.on(BoilerConfig).empty(), Wait);

        feed.handSensors({{Kitchen, QStringLiteral("Столовая"), true}});
        QTRY_VERIFY_WITH_TIMEOUT(sub.on(BoilerConfig).back().payload.isEmpty(), Wait);
        QTRY_VERIFY_WITH_TIMEOUT(lastPayload(sub, KitchenConfig).contains(QStringLiteral("Столовая")), Wait);
        QTRY_VERIFY_WITH_TIMEOUT(sub.on(QStringLiteral("kalvex/test/108739A80208006F/availability")).back().payload.isEmpty(), Wait);
        const QJsonObject renamed = QJsonDocument::fromJson(sub.on(KitchenConfig).back().payload).object();
        QCOMPARE(renamed[QStringLiteral("unique_id")].toString(), QStringLiteral("kalvex_28ECEDC7050000F6"));

        Subscriber late(broker.port());
        QTRY_VERIFY(late.subscribed());
        QTRY_VERIFY_WITH_TIMEOUT(!late.on(KitchenConfig).empty(), Wait);
        QTest::qWait(200);
        QVERIFY(late.on(BoilerConfig).empty());
        QVERIFY(late.on(KitchenConfig).back().retained);
        QVERIFY(QString::fromUtf8(late.on(KitchenConfig).back().payload).contains(QStringLiteral("Столовая")));
    }

    // Offline while switched off or after "err", online again with the next reading.
    void availabilityFollowsTheSensor()
    {
        Broker broker;
        QVERIFY(broker.start());
        Subscriber sub(broker.port());
        QTRY_VERIFY(sub.subscribed());
        ReadingFeed feed;
        RecordingLog log;
        MqttPublisher publisher(feed, log, QStringLiteral("1.2"));
        publisher.setSettings(settingsFor(broker.port()));
        QTRY_COMPARE_WITH_TIMEOUT(publisher.connectedState(), 1, Wait);
        const QString availability = QStringLiteral("kalvex/test/28ECEDC7050000F6/availability");
        const QString state = QStringLiteral("kalvex/test/28ECEDC7050000F6/state");
        feed.handSensors({{Kitchen, QStringLiteral("Кухня"), true}});
        QTRY_COMPARE_WITH_TIMEOUT(lastPayload(sub, availability), QStringLiteral("online"), Wait);
        feed.handFailure(Kitchen);
        QTRY_COMPARE_WITH_TIMEOUT(lastPayload(sub, availability), QStringLiteral("offline"), Wait);
        feed.handOver({Kitchen, QStringLiteral("Кухня"), 21.3, 0});
        QTRY_COMPARE_WITH_TIMEOUT(lastPayload(sub, state), QStringLiteral("21.3"), Wait);
        QCOMPARE(lastPayload(sub, availability), QStringLiteral("online"));
        QVERIFY(!sub.on(state).back().retained);
        feed.handSensors({{Kitchen, QStringLiteral("Кухня"), false}});
        QTRY_COMPARE_WITH_TIMEOUT(lastPayload(sub, availability), QStringLiteral("offline"), Wait);
        // A live subscriber never sees the flag: what a newcomer finds is the retained one.
        Subscriber late(broker.port());
        QTRY_COMPARE_WITH_TIMEOUT(lastPayload(late, availability), QStringLiteral("offline"), Wait);
        QVERIFY(late.on(availability).back().retained);
    }

    // The broker away for ten seconds: nothing the window thread does waits for it, the
    // readings of meanwhile leave only the last one, and the connection comes back by itself
    // with "online", the configurations and the states again. The loss is logged once.
    void brokerAwayAndBack()
    {
        Broker broker;
        QVERIFY(broker.start());
        ReadingFeed feed;
        RecordingLog log;
        MqttPublisher publisher(feed, log, QStringLiteral("1.2"));
        publisher.setSettings(settingsFor(broker.port()));
        feed.handSensors({{Kitchen, QStringLiteral("Кухня"), true}});
        QTRY_COMPARE_WITH_TIMEOUT(publisher.connectedState(), 1, Wait);

        broker.stop();
        QTRY_COMPARE_WITH_TIMEOUT(publisher.connectedState(), 0, Wait);
        QElapsedTimer handing;
        handing.start();
        for (int i = 1; i <= 10000; ++i)
            feed.handOver({Kitchen, QStringLiteral("Кухня"), i / 10.0, 0});
        // Only catches a hang: ten thousand hand-overs are a few milliseconds.
        QVERIFY(handing.elapsed() < 5000);
        QTest::qWait(10000);
        QCOMPARE(publisher.connectedState(), 0);

        Broker again(broker.port());
        QVERIFY(again.start());
        Subscriber sub(again.port());
        QTRY_VERIFY(sub.subscribed());
        QTRY_COMPARE_WITH_TIMEOUT(publisher.connectedState(), 1, 70000);
        const QString state = QStringLiteral("kalvex/test/28ECEDC7050000F6/state");
        QTRY_VERIFY_WITH_TIMEOUT(!sub.on(state).empty(), Wait);
        QTRY_VERIFY_WITH_TIMEOUT(!sub.on(KitchenConfig).empty(), Wait);
        QTRY_COMPARE_WITH_TIMEOUT(lastPayload(sub, QStringLiteral("kalvex/test/status")), QStringLiteral("online"), Wait);
        QTest::qWait(300);
        QCOMPARE(sub.on(state).size(), std::size_t(1));
        QCOMPARE(lastPayload(sub, state), QStringLiteral("1000"));
        QCOMPARE(count(log.messages, QStringLiteral("установлена")), 2);
        // The connection's loss, then the refusals while the broker was away.
        QVERIFY2(count(log.messages, QStringLiteral("нет связи")) <= 2, qPrintable(log.messages.join(QLatin1Char('\n'))));
    }

    // A broker that refuses the password is tried again and again, but said once.
    void refusedPasswordLoggedOnce()
    {
        Broker broker;
        QVERIFY(broker.start(QStringLiteral("kalvex"), QStringLiteral("right")));
        ReadingFeed feed;
        RecordingLog log;
        MqttPublisher publisher(feed, log, QStringLiteral("1.2"));
        MqttSettings s = settingsFor(broker.port());
        s.User = QStringLiteral("kalvex");
        s.Password = QStringLiteral("wrong");
        publisher.setSettings(s);
        QTRY_COMPARE_WITH_TIMEOUT(log.messages.size(), 1, Wait);
        QVERIFY2(log.messages.first().contains(QStringLiteral("not authorised")), qPrintable(log.messages.first()));
        // Tried again after one second and after two more.
        QTest::qWait(3500);
        QCOMPARE(log.messages.size(), 1);
        QCOMPARE(publisher.connectedState(), 0);

        // Right this time, applied at once.
        s.Password = QStringLiteral("right");
        publisher.setSettings(s);
        QTRY_COMPARE_WITH_TIMEOUT(publisher.connectedState(), 1, Wait);
    }

    // A broker that took the connection and then stops reading (stopped, its host hung):
    // the keep-alive ends the connection, said in the program's words.
    void silentBrokerIsToldInOwnWords()
    {
        Broker broker;
        QVERIFY(broker.start());
        MqttClient::Options options;
        options.host = QStringLiteral("127.0.0.1");
        options.port = broker.port();
        options.statusTopic = QStringLiteral("kalvex/test/status");
        options.keepAliveSeconds = 5;
        MqttClient client(options);
        QSignalSpy failures(&client, &MqttClient::failure);
        QTRY_VERIFY_WITH_TIMEOUT(client.connected(), Wait);
        const auto pid = static_cast<pid_t>(broker.pid());
        QVERIFY(pid > 0);
        QCOMPARE(::kill(pid, SIGSTOP), 0);
        const auto resume = qScopeGuard([pid] { ::kill(pid, SIGCONT); });
        QTRY_VERIFY_WITH_TIMEOUT(!failures.isEmpty(), 30000);
        const QString reason = failures.first().first().toString();
        QVERIFY2(reason.contains(QStringLiteral("проверка связи (keep-alive) осталась без ответа")), qPrintable(reason));
    }

    // The built program, headless on the bus simulator: a reading with its correction arrives
    // with a decimal point, the configuration is retained and complete, the hub's return
    // brings every configuration again, /metrics tells the connection, and a killed program's
    // last will says "offline".
    void programOnTheBroker()
    {
        Broker broker;
        QVERIFY(broker.start());
        Subscriber sub(broker.port());
        QTRY_VERIFY(sub.subscribed());

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        VirtualBus bus;
        bus.addSensor(Kitchen, 21.5);
        PtyBusServer server(bus);
        QVERIFY(server.open());
        QVERIFY(server.linkAs(dir.filePath(QStringLiteral("COM1"))));
        std::thread serving([&server] { server.run(); });
        const auto joinServer = qScopeGuard([&] {
            server.requestStop();
            serving.join();
        });
        const int http = httpclient::freePort();
        QFile ini(dir.filePath(QStringLiteral("Kalvex.ini")));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[General]\nCOMPort=1\nTimeOut=1000\nAutoNab=1\nHTTPActive=1\nHTTPPort=" + QByteArray::number(http)
                  + "\n[Items]\nItemName0=Кухня\nItemSN0=28ECEDC7050000F6\nItemEnable0=1\nItemCorrect0=0,5\n"
                    "ItemCount=1\n[MQTT]\nActive=1\nHost=127.0.0.1\nPort="
                  + QByteArray::number(broker.port()) + "\nTopic=kalvex/dacha\n");
        ini.close();

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("LANG"), QStringLiteral("ru_RU.UTF-8"));
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("ru_RU.UTF-8"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
        QProcess program;
        program.setProcessEnvironment(env);
        program.setProcessChannelMode(QProcess::ForwardedChannels);
        program.start(QStringLiteral(KALVEX_PROGRAM), {QStringLiteral("--headless"), QStringLiteral("--dir"), dir.path()});
        QVERIFY(program.waitForStarted());
        const auto stopProgram = qScopeGuard([&program] {
            if (program.state() == QProcess::NotRunning)
                return;
            program.kill();
            program.waitForFinished();
        });

        const QString state = QStringLiteral("kalvex/dacha/28ECEDC7050000F6/state");
        QTRY_VERIFY_WITH_TIMEOUT(!sub.on(state).empty(), 20000);
        const QString value = QString::fromUtf8(sub.on(state).front().payload);
        QVERIFY2(value == QStringLiteral("22") || value == QStringLiteral("22.0"), qPrintable(value));

        // What a hub that starts now finds on the broker.
        Subscriber hub(broker.port());
        QTRY_VERIFY(hub.subscribed());
        QTRY_VERIFY_WITH_TIMEOUT(!hub.on(KitchenConfig).empty(), Wait);
        QTRY_VERIFY_WITH_TIMEOUT(!hub.on(QStringLiteral("kalvex/dacha/status")).empty(), Wait);
        QTRY_VERIFY_WITH_TIMEOUT(!hub.on(QStringLiteral("kalvex/dacha/28ECEDC7050000F6/availability")).empty(), Wait);
        const Message config = hub.on(KitchenConfig).front();
        QVERIFY(config.retained);
        const QJsonObject expected = QJsonDocument::fromJson(R"({
            "name": "Кухня",
            "unique_id": "kalvex_28ECEDC7050000F6",
            "state_topic": "kalvex/dacha/28ECEDC7050000F6/state",
            "device_class": "temperature",
            "state_class": "measurement",
            "unit_of_measurement": "°C",
            "suggested_display_precision": 1,
            "availability": [{"topic": "kalvex/dacha/status"},
                             {"topic": "kalvex/dacha/28ECEDC7050000F6/availability"}],
            "availability_mode": "all",
            "device": {"identifiers": ["kalvex_28ECEDC7050000F6"], "name": "Кухня", "model": "DS18B20",
                       "serial_number": "28ECEDC7050000F6"},
            "origin": {"name": "Kalvex", "sw_version": "1.2"}
        })").object();
        QVERIFY(!expected.isEmpty());
        QCOMPARE(QJsonDocument::fromJson(config.payload).object(), expected);
        const Message status = hub.on(QStringLiteral("kalvex/dacha/status")).front();
        QCOMPARE(status.payload, QByteArray("online"));
        QVERIFY(status.retained);
        QCOMPARE(hub.on(QStringLiteral("kalvex/dacha/28ECEDC7050000F6/availability")).front().payload, QByteArray("online"));

        // The hub comes back: every configuration again.
        const std::size_t before = sub.on(KitchenConfig).size();
        sub.publish(QStringLiteral("homeassistant/status"), "online");
        QTRY_VERIFY_WITH_TIMEOUT(sub.on(KitchenConfig).size() > before, Wait);

        const QByteArray metrics = httpclient::get(http, "/metrics").body;
        QVERIFY2(metrics.contains("\nkalvex_mqtt_connected 1\n"), metrics.constData());
        QVERIFY2(metrics.contains("\nkalvex_mqtt_messages_total "), metrics.constData());
        QVERIFY(!metrics.contains("\nkalvex_mqtt_messages_total 0\n"));

        sub.clear();
        ::kill(static_cast<pid_t>(program.processId()), SIGKILL);
        QVERIFY(program.waitForFinished(5000));
        QTRY_COMPARE_WITH_TIMEOUT(lastPayload(sub, QStringLiteral("kalvex/dacha/status")), QStringLiteral("offline"), Wait);
    }
};

QTEST_MAIN(TestMqttBroker)
#include "tst_mqttbroker.moc"
