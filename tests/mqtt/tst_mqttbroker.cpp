#include "MqttTestBroker.h"
#include "support/RecordingLog.h"
#include "web/HttpClient.h"

#include "base/ReadingFeed.h"
#include "mqtt/MqttClient.h"
#include "mqtt/MqttMessages.h"
#include "mqtt/MqttPublisher.h"
#include "onewire/PtyBusServer.h"
#include "onewire/VirtualBus.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

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
QString hubOf(const QString &programDir)
{
    return mqttmessages::hubId(mqttmessages::instanceId(QSysInfo::machineHostName(), programDir));
}

QJsonObject lastJson(Subscriber &sub, const QString &topic)
{
    const std::vector<Message> found = sub.on(topic);
    return found.empty() ? QJsonObject() : QJsonDocument::fromJson(found.back().payload).object();
}

// Runs openssl with the arguments in `dir`; true when it succeeded.
bool openssl(const QString &dir, const QStringList &args)
{
    QProcess p;
    p.setWorkingDirectory(dir);
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.setStandardOutputFile(QProcess::nullDevice());
    p.start(QStringLiteral("openssl"), args);
    return p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// A CA of the test's own, a server certificate for the loopback address and a client
// certificate, all signed by it, in the broker's folder.
bool makeCertificates(const QString &dir)
{
    const QStringList ec{QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                         QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes")};
    QFile ext(dir + QStringLiteral("/server.ext"));
    if (!ext.open(QIODevice::WriteOnly))
        return false;
    ext.write("subjectAltName=IP:127.0.0.1,DNS:localhost\n");
    ext.close();
    bool ok = openssl(dir, QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + ec
                               + QStringList{QStringLiteral("-keyout"), QStringLiteral("ca.key"), QStringLiteral("-out"),
                                             QStringLiteral("ca.pem"), QStringLiteral("-days"), QStringLiteral("2"),
                                             QStringLiteral("-subj"), QStringLiteral("/CN=Kalvex test CA")});
    for (const QString &name : {QStringLiteral("server"), QStringLiteral("client")}) {
        ok = ok && openssl(dir, QStringList{QStringLiteral("req")} + ec
                                    + QStringList{QStringLiteral("-keyout"), name + QStringLiteral(".key"), QStringLiteral("-out"),
                                                  name + QStringLiteral(".csr"), QStringLiteral("-subj"),
                                                  name == QLatin1String("server") ? QStringLiteral("/CN=localhost") : QStringLiteral("/CN=kalvex")});
        QStringList sign{QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"), name + QStringLiteral(".csr"),
                         QStringLiteral("-CA"), QStringLiteral("ca.pem"), QStringLiteral("-CAkey"), QStringLiteral("ca.key"),
                         QStringLiteral("-CAcreateserial"), QStringLiteral("-out"), name + QStringLiteral(".pem"),
                         QStringLiteral("-days"), QStringLiteral("2")};
        if (name == QLatin1String("server"))
            sign << QStringLiteral("-extfile") << QStringLiteral("server.ext");
        ok = ok && openssl(dir, sign);
        // The broker runs as another user.
        ok = ok && QFile::setPermissions(dir + QLatin1Char('/') + name + QStringLiteral(".key"),
                                         QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
    }
    return ok;
}

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
        MqttPublisher publisher(feed, log, QStringLiteral("1.2"), QDir::currentPath());
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
        MqttPublisher publisher(feed, log, QStringLiteral("1.2"), QDir::currentPath());
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
        MqttPublisher publisher(feed, log, QStringLiteral("1.2"), QDir::currentPath());
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
        MqttPublisher publisher(feed, log, QStringLiteral("1.2"), QDir::currentPath());
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

    // Each field a hub reads, as it finds them on the broker: the temperature is the device's
    // main feature (no name of its own), the sensor's device hangs off the program's, values
    // expire after about three periods, the diagnostics are on the devices, observation off
    // makes the sensors unavailable, and a retained "online" of the hub at connect sends
    // every configuration once.
    void discoveryConventions()
    {
        Broker broker;
        QVERIFY(broker.start());
        Subscriber sub(broker.port());
        QTRY_VERIFY(sub.subscribed());
        sub.publish(QStringLiteral("homeassistant/status"), "online", true);
        QTemporaryDir dir;
        ReadingFeed feed;
        RecordingLog log;
        MqttPublisher publisher(feed, log, QStringLiteral("1.2"), dir.path());
        publisher.setProgramState({true, 20000, 0.5, true, 8080});
        feed.handSensors({{Kitchen, QStringLiteral("Кухня"), true, 3, QStringLiteral("counterfeit")}});
        publisher.setSettings(settingsFor(broker.port()));
        QTRY_COMPARE_WITH_TIMEOUT(publisher.connectedState(), 1, Wait);
        const QString hub = hubOf(dir.path());
        const QString busConfig = QStringLiteral("homeassistant/binary_sensor/") + hub + QStringLiteral("_bus/config");
        QTRY_VERIFY_WITH_TIMEOUT(!sub.on(busConfig).empty(), Wait);
        QTRY_COMPARE_WITH_TIMEOUT(lastPayload(sub, QStringLiteral("kalvex/test/bus")), QStringLiteral("ON"), Wait);
        QTRY_COMPARE_WITH_TIMEOUT(lastPayload(sub, QStringLiteral("kalvex/test/28ECEDC7050000F6/failures")), QStringLiteral("3"), Wait);
        QTRY_COMPARE_WITH_TIMEOUT(lastPayload(sub, QStringLiteral("kalvex/test/28ECEDC7050000F6/verdict")),
                                  QStringLiteral("counterfeit"), Wait);

        const QJsonObject sensor = lastJson(sub, KitchenConfig);
        QVERIFY(sensor.contains(QStringLiteral("name")) && sensor[QStringLiteral("name")].isNull());
        QCOMPARE(sensor[QStringLiteral("device")].toObject()[QStringLiteral("name")].toString(), QStringLiteral("Кухня"));
        QCOMPARE(sensor[QStringLiteral("device")].toObject()[QStringLiteral("via_device")].toString(), hub);
        QCOMPARE(sensor[QStringLiteral("expire_after")].toInt(), 65); // 3 × 20.5 s, up to 5 s

        const QJsonObject bus = lastJson(sub, busConfig);
        const QJsonObject hubDevice = bus[QStringLiteral("device")].toObject();
        QCOMPARE(hubDevice[QStringLiteral("identifiers")].toArray(), QJsonArray{hub});
        QCOMPARE(hubDevice[QStringLiteral("sw_version")].toString(), QStringLiteral("1.2"));
        QCOMPARE(hubDevice[QStringLiteral("manufacturer")].toString(), QStringLiteral("Kalvex"));
        QVERIFY(!hubDevice[QStringLiteral("model")].toString().isEmpty());
        QCOMPARE(hubDevice[QStringLiteral("configuration_url")].toString(),
                 QStringLiteral("http://") + QSysInfo::machineHostName() + QStringLiteral(":8080/"));
        QCOMPARE(bus[QStringLiteral("entity_category")].toString(), QStringLiteral("diagnostic"));
        QCOMPARE(bus[QStringLiteral("state_topic")].toString(), QStringLiteral("kalvex/test/bus"));
        for (const char *what : {"failures", "verdict"}) {
            const QJsonObject d = lastJson(sub, QStringLiteral("homeassistant/sensor/kalvex_28ECEDC7050000F6_%1/config").arg(QLatin1String(what)));
            QCOMPARE(d[QStringLiteral("entity_category")].toString(), QStringLiteral("diagnostic"));
            QCOMPARE(d[QStringLiteral("device")].toObject()[QStringLiteral("identifiers")],
                     sensor[QStringLiteral("device")].toObject()[QStringLiteral("identifiers")]);
            QCOMPARE(d[QStringLiteral("state_topic")].toString(), QStringLiteral("kalvex/test/28ECEDC7050000F6/") + QLatin1String(what));
        }
        QCOMPARE(lastJson(sub, QStringLiteral("homeassistant/sensor/kalvex_28ECEDC7050000F6_verdict/config"))[QStringLiteral("options")].toArray(),
                 (QJsonArray{QStringLiteral("genuine"), QStringLiteral("counterfeit"), QStringLiteral("unknown")}));
        QTest::qWait(500);
        QCOMPARE(sub.on(KitchenConfig).size(), std::size_t(1));

        // A slower cycle: the values stay valid long enough, the configuration says so.
        publisher.setProgramState({true, 20000, 30, true, 8080});
        QTRY_COMPARE_WITH_TIMEOUT(lastJson(sub, KitchenConfig)[QStringLiteral("expire_after")].toInt(), 150, Wait);

        const QString availability = QStringLiteral("kalvex/test/28ECEDC7050000F6/availability");
        QTRY_COMPARE_WITH_TIMEOUT(lastPayload(sub, availability), QStringLiteral("online"), Wait);
        publisher.setProgramState({false, 20000, 30, false, 8080});
        QTRY_COMPARE_WITH_TIMEOUT(lastPayload(sub, availability), QStringLiteral("offline"), Wait);
        QTRY_COMPARE_WITH_TIMEOUT(lastPayload(sub, QStringLiteral("kalvex/test/bus")), QStringLiteral("OFF"), Wait);
        // Observation on again: unavailable until a reading comes.
        publisher.setProgramState({true, 20000, 30, true, 8080});
        QTest::qWait(300);
        QCOMPARE(lastPayload(sub, availability), QStringLiteral("offline"));
        feed.handOver({Kitchen, QStringLiteral("Кухня"), 21.5, 0});
        QTRY_COMPARE_WITH_TIMEOUT(lastPayload(sub, availability), QStringLiteral("online"), Wait);
    }

    // With several buses each sensor's bus is a retained attribute the temperature's
    // configuration names; a sensor moved to another bus has it anew, and back to one bus
    // nothing of it stays on the broker. A sensor without a bus never has the topic.
    void busAttribute()
    {
        Broker broker;
        QVERIFY(broker.start());
        Subscriber sub(broker.port());
        QTRY_VERIFY(sub.subscribed());
        QTemporaryDir dir;
        ReadingFeed feed;
        RecordingLog log;
        MqttPublisher publisher(feed, log, QStringLiteral("1.2"), dir.path());
        feed.handSensors({{Kitchen, QStringLiteral("Кухня"), true, 0, QString(), QStringLiteral("Шина 2")},
                          {Boiler, QStringLiteral("Котёл"), true}});
        publisher.setSettings(settingsFor(broker.port()));
        QTRY_COMPARE_WITH_TIMEOUT(publisher.connectedState(), 1, Wait);
        const QString attributes = QStringLiteral("kalvex/test/28ECEDC7050000F6/attributes");
        QTRY_COMPARE_WITH_TIMEOUT(lastPayload(sub, attributes), QStringLiteral("{\"bus\":\"Шина 2\"}"), Wait);
        QTRY_VERIFY_WITH_TIMEOUT(!sub.on(BoilerConfig).empty(), Wait);
        QCOMPARE(lastJson(sub, KitchenConfig)[QStringLiteral("json_attributes_topic")].toString(), attributes);
        QVERIFY(!lastJson(sub, BoilerConfig).contains(QStringLiteral("json_attributes_topic")));

        feed.handSensors({{Kitchen, QStringLiteral("Кухня"), true, 0, QString(), QStringLiteral("Шина 3")},
                          {Boiler, QStringLiteral("Котёл"), true}});
        QTRY_COMPARE_WITH_TIMEOUT(lastPayload(sub, attributes), QStringLiteral("{\"bus\":\"Шина 3\"}"), Wait);
        Subscriber late(broker.port());
        QTRY_COMPARE_WITH_TIMEOUT(lastPayload(late, attributes), QStringLiteral("{\"bus\":\"Шина 3\"}"), Wait);
        QVERIFY(late.on(attributes).back().retained);

        feed.handSensors({{Kitchen, QStringLiteral("Кухня"), true}, {Boiler, QStringLiteral("Котёл"), true}});
        QTRY_COMPARE_WITH_TIMEOUT(lastPayload(sub, attributes), QString(), Wait);
        QTRY_VERIFY_WITH_TIMEOUT(!lastJson(sub, KitchenConfig).contains(QStringLiteral("json_attributes_topic")), Wait);
        QVERIFY(sub.on(QStringLiteral("kalvex/test/108739A80208006F/attributes")).empty());
    }

    // What this program left on the broker and no longer has is cleared when it connects
    // (its device's sensors, and configurations from before that only share its topic);
    // other programs' stay. Switching discovery off clears its own.
    void leftoversCleared()
    {
        Broker broker;
        QVERIFY(broker.start());
        QTemporaryDir dir;
        const QString hub = hubOf(dir.path());
        const QString ghost = QStringLiteral("homeassistant/sensor/kalvex_28AAAAAAAAAAAAAA/config");
        const QString ghostAvailability = QStringLiteral("kalvex/old/28AAAAAAAAAAAAAA/availability");
        const QString oldStyle = QStringLiteral("homeassistant/sensor/kalvex_28BBBBBBBBBBBBBB/config");
        const QString otherKalvex = QStringLiteral("homeassistant/sensor/kalvex_28CCCCCCCCCCCCCC/config");
        const QString otherProgram = QStringLiteral("homeassistant/sensor/plug_power/config");
        {
            Subscriber seed(broker.port(), QStringLiteral("seed/none"));
            QTRY_VERIFY(seed.subscribed());
            seed.publish(ghost, QByteArray(R"({"state_topic":"kalvex/old/28AAAAAAAAAAAAAA/state","availability":[{"topic":"kalvex/old/status"},{"topic":"kalvex/old/28AAAAAAAAAAAAAA/availability"}],"device":{"via_device":"HUB"}})")
                                        .replace("HUB", hub.toUtf8()), true);
            seed.publish(ghostAvailability, "online", true);
            seed.publish(oldStyle, R"({"state_topic":"kalvex/test/28BBBBBBBBBBBBBB/state","device":{"name":"Old"}})", true);
            seed.publish(otherKalvex, R"({"state_topic":"kalvex/other/28CCCCCCCCCCCCCC/state","device":{"via_device":"kalvex_hub_000000000000"}})", true);
            seed.publish(otherProgram, QByteArray(R"({"state_topic":"kalvex/test/plug","device":{"via_device":"HUB"}})")
                                           .replace("HUB", hub.toUtf8()), true);
            QTest::qWait(300);
        }
        ReadingFeed feed;
        RecordingLog log;
        MqttPublisher publisher(feed, log, QStringLiteral("1.2"), dir.path());
        feed.handSensors({{Kitchen, QStringLiteral("Кухня"), true}});
        MqttSettings settings = settingsFor(broker.port());
        publisher.setSettings(settings);
        QTRY_COMPARE_WITH_TIMEOUT(publisher.connectedState(), 1, Wait);

        const auto retainedNow = [&broker] {
            Subscriber late(broker.port());
            QDeadlineTimer deadline(Wait);
            while (!late.subscribed() && !deadline.hasExpired())
                QTest::qWait(20);
            QTest::qWait(500);
            QStringList topics;
            // What the broker keeps, not what goes by meanwhile.
            for (const Message &m : late.messages()) {
                if (m.retained)
                    topics << m.topic;
            }
            return topics;
        };
        QStringList after = retainedNow();
        for (QDeadlineTimer deadline(Wait); after.contains(ghost) && !deadline.hasExpired();)
            after = retainedNow();
        QVERIFY2(!after.contains(ghost), qPrintable(after.join(QLatin1Char(' '))));
        QVERIFY2(!after.contains(ghostAvailability), qPrintable(after.join(QLatin1Char(' '))));
        QVERIFY(!after.contains(oldStyle));
        QVERIFY(after.contains(otherKalvex));
        QVERIFY(after.contains(otherProgram));
        QVERIFY(after.contains(KitchenConfig));

        settings.Discovery = false;
        publisher.setSettings(settings);
        QTRY_COMPARE_WITH_TIMEOUT(publisher.connectedState(), 1, Wait);
        const QStringList off = retainedNow();
        QVERIFY2(!off.contains(KitchenConfig), qPrintable(off.join(QLatin1Char(' '))));
        QVERIFY2(std::none_of(off.begin(), off.end(), [&](const QString &t) { return t.contains(hub); }), qPrintable(off.join(QLatin1Char(' '))));
        QVERIFY(off.contains(QStringLiteral("kalvex/test/28ECEDC7050000F6/availability")));
        QVERIFY(off.contains(otherKalvex));
    }

    // TLS as brokers run it: the broker's certificate (made by the test's own CA) checked
    // against the system's store when no CA file is given, refused when the store lacks the
    // CA; a client certificate; the password from a systemd credential; one client id that
    // stays the same for the same folder.
    void tls()
    {
        Broker broker;
        QVERIFY(makeCertificates(broker.filePath(QString())));
        const auto file = [&broker](const char *name) { return broker.filePath(QLatin1String(name)); };
        QVERIFY(broker.startWith("cafile " + file("ca.pem").toLocal8Bit() + "\ncertfile " + file("server.pem").toLocal8Bit()
                                     + "\nkeyfile " + file("server.key").toLocal8Bit() + "\nrequire_certificate true\n",
                                 QStringLiteral("kalvex"), QStringLiteral("secret")));
        QTemporaryDir credentials;
        QFile password(credentials.filePath(QStringLiteral("mqtt-password")));
        QVERIFY(password.open(QIODevice::WriteOnly));
        password.write("secret\n");
        password.close();
        qputenv("CREDENTIALS_DIRECTORY", credentials.path().toLocal8Bit());
        const auto unset = qScopeGuard([] {
            qunsetenv("CREDENTIALS_DIRECTORY");
            qunsetenv("SSL_CERT_FILE");
        });

        MqttSettings s = settingsFor(broker.port());
        s.TLS = true;
        s.User = QStringLiteral("kalvex");
        s.CertFile = file("client.pem");
        s.KeyFile = file("client.key");
        QTemporaryDir dir;
        ReadingFeed feed;
        {
            // The system's store does not know the test's CA.
            qputenv("SSL_CERT_FILE", file("server.pem").toLocal8Bit());
            RecordingLog log;
            MqttPublisher publisher(feed, log, QStringLiteral("1.2"), dir.path());
            publisher.setSettings(s);
            QTRY_VERIFY_WITH_TIMEOUT(!log.messages.isEmpty(), Wait);
            QCOMPARE(publisher.connectedState(), 0);
        }
        // OpenSSL's default store is where the system keeps it, unless told otherwise.
        qputenv("SSL_CERT_FILE", file("ca.pem").toLocal8Bit());
        QString id;
        for (int run = 0; run < 2; ++run) {
            RecordingLog log;
            MqttPublisher publisher(feed, log, QStringLiteral("1.2"), dir.path());
            publisher.setSettings(s);
            QTRY_COMPARE_WITH_TIMEOUT(publisher.connectedState(), 1, Wait);
            QVERIFY(publisher.clientId().size() <= 23);
            QVERIFY(run == 0 || publisher.clientId() == id);
            id = publisher.clientId();
        }
        QTRY_COMPARE_WITH_TIMEOUT(broker.log().count(QStringLiteral(" as ") + id + QStringLiteral(" ")), 2, Wait);
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
        QJsonObject received = QJsonDocument::fromJson(config.payload).object();
        // Three periods of the cycle (1 s and the cycle's own time), in steps of 5 s.
        const int expire = received.take(QStringLiteral("expire_after")).toInt();
        QVERIFY2(expire >= 5 && expire <= 15, qPrintable(QString::number(expire)));
        const QJsonObject expected = QJsonDocument::fromJson(QByteArray(R"({
            "name": null,
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
                       "serial_number": "28ECEDC7050000F6", "via_device": "HUB"},
            "origin": {"name": "Kalvex", "sw_version": "1.2"}
        })").replace("HUB", hubOf(dir.path()).toUtf8())).object();
        QVERIFY(!expected.isEmpty());
        QCOMPARE(received, expected);
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
