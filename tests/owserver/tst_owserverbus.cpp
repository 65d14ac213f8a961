#include "owserver/OwServerBus.h"
#include "owserver/OwMessage.h"
#include "support/RealOwServer.h"
#include "support/RecordingLog.h"
#include "support/RunTask.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <memory>
#include <vector>

namespace {

const QString Sn28 = QStringLiteral("28000028D7000011");
const QString Sn10 = QStringLiteral("10000010EF01009F");
const QString Sn22 = QStringLiteral("22000022DD0300BE");
const QString Sn05 = QStringLiteral("05000005FA02003E"); // a switch, no thermometer
const QString SnAbsent = QStringLiteral("28A2D984000002EA");

OwMessage::Reply keepAlive()
{
    OwMessage::Reply reply;
    reply.keepAlive = true;
    return reply;
}

// A server that speaks owserver as a real one does (Good) or fails the way servers and
// networks fail.
class StandIn : public QObject
{
public:
    enum class Mode { Good, Silent, KeepAlivesOnly, CloseMidReply, HugeLength, Garbage, NegativeSize };

    StandIn()
    {
        m_server.listen(QHostAddress::LocalHost);
        QObject::connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                ++connections;
                m_sockets.push_back(socket);
                auto parser = std::make_shared<OwMessage::RequestParser>();
                QObject::connect(socket, &QTcpSocket::readyRead, this, [this, socket, parser] {
                    if (parser->feed(socket->readAll()) == OwMessage::RequestParser::State::Ready)
                        answer(socket, parser->take());
                });
            }
        });
        m_keepAlive.setInterval(50);
        QObject::connect(&m_keepAlive, &QTimer::timeout, this, [this] {
            for (const QPointer<QTcpSocket> &socket : m_sockets) {
                if (socket)
                    socket->write(OwMessage::encodeReply(keepAlive()));
            }
        });
    }

    quint16 port() const { return m_server.serverPort(); }
    void setMode(Mode mode)
    {
        m_mode = mode;
        m_keepAlive.stop();
    }
    int connections = 0;
    int requests = 0;

private:
    void answer(QTcpSocket *socket, const OwMessage::Request &request)
    {
        ++requests;
        switch (m_mode) {
        case Mode::Good: {
            const QByteArray value = OwMessage::formatFloat(21.5);
            OwMessage::Reply reply;
            reply.ret = static_cast<qint32>(value.size());
            reply.flags = request.flags & OwMessage::Flag::Persistence;
            reply.size = static_cast<qint32>(value.size());
            reply.payload = value;
            socket->write(OwMessage::encodeReply(reply));
            break;
        }
        case Mode::Silent:
            break;
        case Mode::KeepAlivesOnly:
            m_keepAlive.start();
            break;
        case Mode::CloseMidReply: {
            OwMessage::Reply reply;
            reply.size = 12;
            reply.payload = OwMessage::formatFloat(21.5);
            const QByteArray whole = OwMessage::encodeReply(reply);
            socket->write(whole.left(30));
            socket->flush();
            socket->disconnectFromHost();
            break;
        }
        case Mode::HugeLength:
            socket->write(OwMessage::encodeHeader({0, 0x7FFFFFF0, 12, 0, 12, 0}));
            break;
        case Mode::Garbage:
            socket->write(QByteArray("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n"));
            break;
        case Mode::NegativeSize:
            socket->write(OwMessage::encodeHeader({0, 12, 12, 0, -5, 0}) + QByteArray(12, ' '));
            break;
        }
    }

    QTcpServer m_server;
    Mode m_mode = Mode::Good;
    QTimer m_keepAlive;
    std::vector<QPointer<QTcpSocket>> m_sockets;
};

struct Bus
{
    explicit Bus(int port, const QString &path = QString())
    {
        bus.setServer(QStringLiteral("127.0.0.1"), port, path);
        bus.open();
    }
    RecordingLog log;
    OwServerBus bus{log};
};

} // namespace

class TestOwServerBus : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!owtest::RealOwServer::available())
            QSKIP("owserver is not installed (scripts/install-deps.sh installs it)");
    }

    // Debian's own owserver with its simulated devices: the search lists the thermometers
    // alone, by their serials; a reading is the server's temperature, with or without one
    // conversion of the whole bus first; a device it lacks is no reading and no outage.
    void realServer_data()
    {
        QTest::addColumn<QString>("path");
        // Asked on a named bus, the simulated adapter answers for any code at all.
        QTest::addColumn<bool>("absentAnswers");
        QTest::newRow("whole server") << QString() << false;
        QTest::newRow("one bus") << QStringLiteral("/bus.0/") << true;
    }
    void realServer()
    {
        QFETCH(QString, path);
        QFETCH(bool, absentAnswers);
        owtest::RealOwServer server({QStringLiteral("--tester=28,10,05,22")});
        QVERIFY2(server.start(), qPrintable(server.error()));
        Bus b(server.port(), path);
        QCOMPARE(runTask(b.bus.listThermometers()), QString());
        QStringList found;
        for (QString sn = runTask(b.bus.FindDS()); !sn.isEmpty(); sn = runTask(b.bus.FindDS()))
            found << sn;
        QCOMPARE(found, (QStringList{Sn28, Sn10, Sn22}));

        QCOMPARE(runTask(b.bus.GetTempSn(Sn28)), 4.0);
        QCOMPARE(runTask(b.bus.GetTempSn(Sn10)), 1.7);
        QCOMPARE(runTask(b.bus.convertAll()), SensorReader::Conversion::Done);
        QCOMPARE(runTask(b.bus.readConverted(Sn22)), 3.7);
        if (!absentAnswers)
            QCOMPARE(runTask(b.bus.GetTempSn(SnAbsent)), SensorReader::NoReading);
        QCOMPARE(runTask(b.bus.GetTempSn(Sn05)), SensorReader::NoReading);
        QCOMPARE(runTask(b.bus.GetTempSn(QStringLiteral("28000028D7000012"))), SensorReader::NoReading); // wrong CRC
        QCOMPARE(b.log.lines, QStringList());

        const SensorReport report = runTask(b.bus.describe(Sn28));
        QCOMPARE(report.verdict, SensorReport::Verdict::Undetermined);
        QCOMPARE(report.temperature, 4.0);
        QVERIFY(report.parasite.has_value());
        QVERIFY2(report.detailLines().join('\n').contains(QStringLiteral("DS18B20")), qPrintable(report.detailLines().join('\n')));
        QVERIFY(report.detailLines().join('\n').contains(QStringLiteral("шина самой программы")));
        if (!absentAnswers)
            QCOMPARE(runTask(b.bus.describe(SnAbsent)).verdict, SensorReport::Verdict::NoAnswer);

        b.bus.close();
        QCOMPARE(runTask(b.bus.GetTempSn(Sn28)), SensorReader::NoReading);
    }

    // Random devices (--fake): whatever their codes, each found once with its CRC.
    void fakeServerSearch()
    {
        owtest::RealOwServer server({QStringLiteral("--fake=28,28,10,3B")});
        QVERIFY2(server.start(), qPrintable(server.error()));
        Bus b(server.port());
        b.bus.clearState();
        QStringList found;
        for (QString sn = runTask(b.bus.FindDS()); !sn.isEmpty(); sn = runTask(b.bus.FindDS()))
            found << sn;
        QCOMPARE(found.size(), 4);
        for (const QString &sn : found) {
            QCOMPARE(OwServerBus::deviceOf(sn).isEmpty(), false);
            QVERIFY(runTask(b.bus.GetTempSn(sn)) != SensorReader::NoReading);
        }
        QCOMPARE(runTask(b.bus.describe(QStringLiteral("28A2D984000002EA"))).verdict, SensorReport::Verdict::NoAnswer);
    }

    void wrongPathIsSaid()
    {
        owtest::RealOwServer server({QStringLiteral("--tester=28")});
        QVERIFY2(server.start(), qPrintable(server.error()));
        Bus b(server.port(), QStringLiteral("/bus.7"));
        QVERIFY(runTask(b.bus.listThermometers()).contains(QStringLiteral("/bus.7")));
    }

    // A server that fails in any way costs one reading one deadline, is logged once with
    // the bus and the address, is not asked again until RetryMs passed, and is used again
    // without a restart once it answers, which is logged once as well.
    void faults_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("reason");
        QTest::newRow("never answers") << int(StandIn::Mode::Silent) << QStringLiteral("ответа нет 800 мс");
        QTest::newRow("only keep-alives") << int(StandIn::Mode::KeepAlivesOnly) << QStringLiteral("только просит подождать");
        QTest::newRow("closes mid-reply") << int(StandIn::Mode::CloseMidReply) << QStringLiteral("посреди ответа");
        QTest::newRow("2 GB length") << int(StandIn::Mode::HugeLength) << QStringLiteral("2147483632");
        QTest::newRow("garbage") << int(StandIn::Mode::Garbage) << QStringLiteral("не по протоколу");
        QTest::newRow("negative size") << int(StandIn::Mode::NegativeSize) << QStringLiteral("не по протоколу");
    }
    void faults()
    {
        QFETCH(int, mode);
        QFETCH(QString, reason);
        StandIn server;
        Bus b(server.port());
        b.bus.setTimeouts(2000, 800, 1600, 400);
        server.setMode(StandIn::Mode::Good);
        QCOMPARE(runTask(b.bus.GetTempSn(Sn28)), 21.5);
        server.setMode(static_cast<StandIn::Mode>(mode));
        QCOMPARE(runTask(b.bus.GetTempSn(Sn28)), SensorReader::NoReading);
        const QString down = QStringLiteral("Шина 1: owserver 127.0.0.1:%1 не отвечает: ").arg(server.port());
        QCOMPARE(b.log.messages.size(), 1);
        QVERIFY2(b.log.messages[0].startsWith(down) && b.log.messages[0].contains(reason), qPrintable(b.log.messages[0]));
        // Held off: the other sensors of the cycle cost nothing.
        const int asked = server.requests;
        QCOMPARE(runTask(b.bus.GetTempSn(Sn10)), SensorReader::NoReading);
        QCOMPARE(runTask(b.bus.convertAll()), SensorReader::Conversion::NoPresence);
        QCOMPARE(server.requests, asked);
        QCOMPARE(b.log.messages.size(), 1);

        server.setMode(StandIn::Mode::Good);
        QTest::qWait(450);
        QCOMPARE(runTask(b.bus.GetTempSn(Sn28)), 21.5);
        QCOMPARE(runTask(b.bus.GetTempSn(Sn28)), 21.5);
        QCOMPARE(b.log.messages, (QStringList{b.log.messages[0], QStringLiteral("Шина 1: owserver 127.0.0.1:%1 снова отвечает").arg(server.port())}));
    }

    // One connection carries every request while the server keeps it.
    void oneConnection()
    {
        StandIn server;
        Bus b(server.port());
        for (int i = 0; i < 5; ++i)
            QCOMPARE(runTask(b.bus.GetTempSn(Sn28)), 21.5);
        QCOMPARE(server.connections, 1);
        QCOMPARE(server.requests, 5);
    }

    // A closing program does not wait for a server that does not answer.
    void abortEndsTheWait()
    {
        StandIn server;
        server.setMode(StandIn::Mode::Silent);
        Bus b(server.port());
        QTimer::singleShot(100, &server, [&b] { b.bus.abort(); });
        QElapsedTimer waited;
        waited.start();
        QCOMPARE(runTask(b.bus.GetTempSn(Sn28)), SensorReader::NoReading);
        QVERIFY(waited.elapsed() < OwServerBus::ReplySilenceMs);
        QCOMPARE(b.log.messages, QStringList());
    }

    // The real server stopped and started again on its port: while it is away the outage is
    // logged once, back it serves again; a restart between two readings is no outage at all.
    void restartedServer()
    {
        owtest::RealOwServer server({QStringLiteral("--tester=28")});
        QVERIFY2(server.start(), qPrintable(server.error()));
        Bus b(server.port());
        b.bus.setTimeouts(1000, 1000, 3000, 300);
        QCOMPARE(runTask(b.bus.GetTempSn(Sn28)), 4.0);
        server.stop();
        QVERIFY2(server.start(), qPrintable(server.error()));
        QCOMPARE(runTask(b.bus.GetTempSn(Sn28)), 4.0);
        QCOMPARE(b.log.messages, QStringList());

        server.stop();
        QCOMPARE(runTask(b.bus.GetTempSn(Sn28)), SensorReader::NoReading);
        QCOMPARE(runTask(b.bus.GetTempSn(Sn28)), SensorReader::NoReading);
        QCOMPARE(b.log.messages.size(), 1);
        QVERIFY2(b.log.messages[0].contains(QStringLiteral("соединение отвергнуто")), qPrintable(b.log.messages[0]));
        QVERIFY2(server.start(), qPrintable(server.error()));
        QTest::qWait(350);
        QCOMPARE(runTask(b.bus.GetTempSn(Sn28)), 4.0);
        QCOMPARE(b.log.messages.size(), 2);
        QVERIFY(b.log.messages[1].endsWith(QStringLiteral("снова отвечает")));
    }
};

QTEST_GUILESS_MAIN(TestOwServerBus)
#include "tst_owserverbus.moc"
