#include "support/RecordingLog.h"
#include "web/HttpClient.h"

#include "base/ReadingFeed.h"
#include "owserver/OwMessage.h"
#include "owserver/OwServer.h"

#include <QElapsedTimer>
#include <QScopeGuard>
#include <QTest>

#include <poll.h>

#include <vector>

namespace {

const QString Kitchen = QStringLiteral("28ECEDC7050000F6");
const QString Boiler = QStringLiteral("108739A80208006F");

const OwSnapshot::Sensor *find(const OwSnapshot &snapshot, const QString &SN)
{
    for (const OwSnapshot::Sensor &sensor : snapshot.sensors) {
        if (sensor.SN == SN)
            return &sensor;
    }
    return nullptr;
}

} // namespace

// The server as the window holds it: what it serves follows the cycle's hand-over, and the
// network never holds the window thread.
class TestOwServer : public QObject
{
    Q_OBJECT

private slots:
    // A reading is served until a failed one or until the sensor is switched off; a serial
    // in two slots is one directory.
    void servesWhatTheCycleHandedOver()
    {
        ReadingFeed feed;
        RecordingLog log;
        OwServer server(feed, log);
        feed.handSensors({{Kitchen, QStringLiteral("Кухня"), true}, {Boiler, QStringLiteral("Котёл"), true},
                          {Kitchen, QStringLiteral("Копия"), true}});
        feed.handOver({Kitchen, QStringLiteral("Кухня"), 22.5, 1});
        std::shared_ptr<const OwSnapshot> s = server.snapshot();
        QCOMPARE(s->sensors.size(), std::size_t(2));
        QVERIFY(find(*s, Kitchen)->valid);
        QCOMPARE(find(*s, Kitchen)->celsius, 22.5);
        QCOMPARE(find(*s, Kitchen)->alias, QStringLiteral("Кухня").toUtf8());
        QVERIFY(!find(*server.snapshot(), Boiler)->valid);

        feed.handFailure(Kitchen);
        QVERIFY(!find(*server.snapshot(), Kitchen)->valid);
        feed.handOver({Kitchen, QStringLiteral("Кухня"), 23, 2});
        QVERIFY(find(*server.snapshot(), Kitchen)->valid);
        // Renamed: the reading stays; switched off: it goes.
        feed.handSensors({{Kitchen, QStringLiteral("Столовая"), true}});
        QVERIFY(find(*server.snapshot(), Kitchen)->valid);
        QVERIFY(!find(*server.snapshot(), Boiler));
        feed.handSensors({{Kitchen, QStringLiteral("Столовая"), false}});
        QVERIFY(!find(*server.snapshot(), Kitchen)->valid);
    }

    // A port held by another listener is logged, and so is an address that is none; the
    // one that works says where it listens.
    void startsAsTheSettingsSay()
    {
        ReadingFeed feed;
        RecordingLog log;
        OwServer first(feed, log);
        first.setSettings({true, 0, QStringLiteral("127.0.0.1")});
        QVERIFY(first.running());
        const int port = first.port();
        QCOMPARE(log.messages.last(), QStringLiteral("Сервер owserver включен: 127.0.0.1:%1.").arg(port));

        OwServer second(feed, log);
        second.setSettings({true, port, QString()});
        QVERIFY(!second.running());
        QCOMPARE(log.messages.last(), QStringLiteral("Сервер owserver не запущен: порт %1 занят.").arg(port));
        second.setSettings({true, port, QStringLiteral("kalvex.lan")});
        QVERIFY(log.messages.last().contains(QStringLiteral("«kalvex.lan»")));

        first.setSettings({false, port, QStringLiteral("127.0.0.1")});
        QVERIFY(!first.running());
        QCOMPARE(log.messages.last(), QStringLiteral("Сервер owserver выключен."));
        QVERIFY(!first.tally()->listening);
    }

    // One address holds its share and no more (more from it are closed at once); at the cap
    // a newcomer waits, and is answered as soon as another connection ends.
    void shareAndCap()
    {
        OwServer::Limits limits;
        limits.connections = 4;
        limits.perAddress = 2;
        ReadingFeed feed;
        RecordingLog log;
        OwServer server(feed, log, limits);
        QCOMPARE(server.start(QStringLiteral("127.0.0.1"), 0), OwServer::StartResult::Started);
        OwMessage::Request nop;
        nop.flags |= OwMessage::Flag::Persistence;
        const auto answered = [&nop](int fd, int timeoutMs) {
            if (!httpclient::sendAll(fd, OwMessage::encodeRequest(nop)))
                return false;
            pollfd p{fd, POLLIN, 0};
            char reply[OwMessage::HeaderSize];
            return ::poll(&p, 1, timeoutMs) == 1 && ::recv(fd, reply, sizeof reply, MSG_WAITALL) == OwMessage::HeaderSize;
        };
        std::vector<int> fds;
        const auto closeAll = qScopeGuard([&fds] {
            for (const int fd : fds)
                ::close(fd);
        });
        for (const char *source : {"127.0.0.1", "127.0.0.1", "127.0.0.1", "127.0.0.2", "127.0.0.2", "127.0.0.3"})
            fds.push_back(httpclient::connectTo(server.port(), source));
        QVERIFY(answered(fds[0], 2000));
        QVERIFY(answered(fds[1], 2000));
        QVERIFY(!answered(fds[2], 2000));
        QVERIFY(answered(fds[3], 2000));
        QVERIFY(answered(fds[4], 2000));
        QVERIFY(!answered(fds[5], 300));
        ::close(fds[0]);
        fds.erase(fds.begin());
        char reply[OwMessage::HeaderSize];
        pollfd p{fds[4], POLLIN, 0};
        QCOMPARE(::poll(&p, 1, 5000), 1);
        QCOMPARE(::recv(fds[4], reply, sizeof reply, MSG_WAITALL), ssize_t(OwMessage::HeaderSize));
        QCOMPARE(server.tally()->refused.load(), quint64(1));
    }

    // Clients holding connections (one idle and persistent, one in the middle of a request)
    // do not hold a stop: it is over long before any of their time-outs.
    void stopDoesNotWaitForClients()
    {
        ReadingFeed feed;
        RecordingLog log;
        OwServer server(feed, log);
        QCOMPARE(server.start(QStringLiteral("127.0.0.1"), 0), OwServer::StartResult::Started);
        OwMessage::Request nop;
        nop.flags |= OwMessage::Flag::Persistence;
        const int persistent = httpclient::connectTo(server.port());
        QVERIFY(httpclient::sendAll(persistent, OwMessage::encodeRequest(nop)));
        bool closed = false;
        QCOMPARE(httpclient::readAll(persistent, closed, 2000).size(), OwMessage::HeaderSize);
        QVERIFY(!closed);
        const int halfway = httpclient::connectTo(server.port());
        QVERIFY(httpclient::sendAll(halfway, OwMessage::encodeRequest(nop).first(10)));
        QTest::qWait(100);

        QElapsedTimer clock;
        clock.start();
        server.stop();
        QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(httpclient::readAll(persistent, closed, 2000).isEmpty());
        QVERIFY(closed);
        ::close(persistent);
        ::close(halfway);
        QCOMPARE(server.tally()->requests.load(), quint64(1));
    }
};

QTEST_GUILESS_MAIN(TestOwServer)
#include "tst_owserver.moc"
