#include "owserver/OwTree.h"

#include <QTest>

using namespace OwMessage;

namespace {

// The program's sensors as the window hands them over: a DS18B20 with a reading, a DS18S20
// with none yet.
OwSnapshot snapshot()
{
    OwSnapshot s;
    s.sensors.push_back({QStringLiteral("28ECEDC7050000F6"), QByteArray("Кухня"), true, 21.5, 0});
    s.sensors.push_back({QStringLiteral("108739A80208006F"), QByteArray("Котёл"), false, 0, 0});
    return s;
}

Request request(Type type, const QByteArray &path, quint32 flags = ClientFlags)
{
    Request r;
    r.type = type;
    r.path = path;
    r.flags = flags;
    return r;
}

constexpr quint32 Fahrenheit = 1u << Flag::ScaleShift;
constexpr quint32 WithCrc = 2u << Flag::FormatShift; // 28.ECEDC7050000.F6

} // namespace

Q_DECLARE_METATYPE(OwMessage::Type)

// The tree a client sees, answered as Debian's owserver answers the same requests (its
// --tester run was the reference for every error number and field here).
class TestOwTree : public QObject
{
    Q_OBJECT

private slots:
    void replies_data()
    {
        QTest::addColumn<OwMessage::Type>("type");
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<quint32>("flags");
        QTest::addColumn<qint32>("ret");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<qint32>("offset");

        const QByteArray rootDirs = "/28.ECEDC7050000,/10.8739A8020800,/bus.0,/uncached";
        QTest::newRow("owdir /") << DirAll << QByteArray("/") << ClientFlags << 0 << rootDirs + '\0' << 0x8002;
        QTest::newRow("listing without bus names: devices only")
            << DirAllSlash << QByteArray("/") << 0u << 0 << QByteArray("/28.ECEDC7050000/,/10.8739A8020800/\0", 36)
            << 0x8002;
        QTest::newRow("name format with CRC")
            << DirAll << QByteArray("/bus.0") << (ClientFlags | WithCrc) << 0
            << QByteArray("/bus.0/28.ECEDC7050000.F6,/bus.0/10.8739A8020800.6F") + '\0' << 0x8002;
        QTest::newRow("uncached root lists no second uncached")
            << DirAll << QByteArray("/uncached") << ClientFlags << 0
            << QByteArray("/uncached/28.ECEDC7050000,/uncached/10.8739A8020800,/uncached/bus.0") + '\0' << 0x8002;
        QTest::newRow("sensor directory")
            << DirAllSlash << QByteArray("/uncached/bus.0/28.ECEDC7050000") << ClientFlags << 0
            << QByteArray("/uncached/bus.0/28.ECEDC7050000/address,/uncached/bus.0/28.ECEDC7050000/alias,"
                          "/uncached/bus.0/28.ECEDC7050000/crc8,/uncached/bus.0/28.ECEDC7050000/family,"
                          "/uncached/bus.0/28.ECEDC7050000/id,/uncached/bus.0/28.ECEDC7050000/temperature,"
                          "/uncached/bus.0/28.ECEDC7050000/type")
                + '\0'
            << 0;
        QTest::newRow("bus that is not there") << DirAll << QByteArray("/bus.1") << ClientFlags << -1 << QByteArray() << 0;
        QTest::newRow("listing of a file")
            << DirAll << QByteArray("/28.ECEDC7050000/type") << ClientFlags << -20 << QByteArray() << 0;

        QTest::newRow("temperature") << Read << QByteArray("/28.ECEDC7050000/temperature") << ClientFlags << 12
                                     << QByteArray("        21.5") << 0;
        QTest::newRow("temperature °F, uncached, no leading slash")
            << Read << QByteArray("uncached/28.ECEDC7050000/temperature") << (ClientFlags | Fahrenheit) << 12
            << QByteArray("        70.7") << 0;
        QTest::newRow("lower case, no dot, with CRC")
            << Read << QByteArray("/bus.0/28ecedc7050000f6/temperature") << ClientFlags << 12
            << QByteArray("        21.5") << 0;
        QTest::newRow("CRC that is not the sensor's")
            << Read << QByteArray("/28.ECEDC7050000.F7/temperature") << ClientFlags << -1 << QByteArray() << 0;
        QTest::newRow("no valid reading") << Read << QByteArray("/10.8739A8020800/temperature") << ClientFlags << -22
                                          << QByteArray() << 0;
        QTest::newRow("type") << Read << QByteArray("/10.8739A8020800/type") << ClientFlags << 7 << QByteArray("DS18S20") << 0;
        QTest::newRow("address") << Read << QByteArray("/10.8739A8020800/address") << ClientFlags << 16
                                 << QByteArray("108739A80208006F") << 0;
        QTest::newRow("id") << Read << QByteArray("/10.8739A8020800/id") << ClientFlags << 12 << QByteArray("8739A8020800") << 0;
        QTest::newRow("crc8") << Read << QByteArray("/10.8739A8020800/crc8") << ClientFlags << 2 << QByteArray("6F") << 0;
        QTest::newRow("family") << Read << QByteArray("/10.8739A8020800/family") << ClientFlags << 2 << QByteArray("10") << 0;
        QTest::newRow("alias") << Read << QByteArray("/28.ECEDC7050000/alias") << ClientFlags << 10
                               << QByteArray("Кухня") << 0;
        QTest::newRow("file that is not there")
            << Read << QByteArray("/28.ECEDC7050000/humidity") << ClientFlags << -1 << QByteArray() << 0;
        QTest::newRow("sensor that is not there")
            << Read << QByteArray("/28.AAAAAAAAAAAA/temperature") << ClientFlags << -1 << QByteArray() << 0;
        QTest::newRow("file with a trailing slash")
            << Read << QByteArray("/28.ECEDC7050000/temperature/") << ClientFlags << -1 << QByteArray() << 0;
        QTest::newRow("read of a directory") << Read << QByteArray("/28.ECEDC7050000") << ClientFlags << -21 << QByteArray() << 0;

        QTest::newRow("write of a file") << Write << QByteArray("/28.ECEDC7050000/alias") << ClientFlags << -30
                                         << QByteArray() << 0;
        QTest::newRow("write of a directory") << Write << QByteArray("/bus.0") << ClientFlags << -30 << QByteArray() << 0;
        QTest::newRow("write of nothing") << Write << QByteArray("/nothing/x") << ClientFlags << -1 << QByteArray() << 0;

        QTest::newRow("presence as a chained owserver asks")
            << Presence << QByteArray("/uncached/28.ECEDC7050000") << 0x104u << 0
            << QByteArray::fromHex("28ECEDC7050000F6") << 0;
        QTest::newRow("presence of the root") << Presence << QByteArray("/") << ClientFlags << 0 << QByteArray(8, '\0') << 0;
        QTest::newRow("presence of nothing") << Presence << QByteArray("/28.AAAAAAAAAAAA") << ClientFlags << -1
                                             << QByteArray() << 0;
        QTest::newRow("nop") << Nop << QByteArray() << 0u << 0 << QByteArray() << 0;
        QTest::newRow("size is not served") << Size << QByteArray("/28.ECEDC7050000/temperature") << ClientFlags << -42
                                            << QByteArray() << 0;
        QTest::newRow("unknown message") << static_cast<Type>(99) << QByteArray("/") << ClientFlags << -42 << QByteArray() << 0;
    }
    void replies()
    {
        QFETCH(OwMessage::Type, type);
        QFETCH(QByteArray, path);
        QFETCH(quint32, flags);
        QFETCH(qint32, ret);
        QFETCH(QByteArray, payload);
        QFETCH(qint32, offset);
        const std::vector<Reply> replies = owtree::answer(request(type, path, flags), snapshot());
        QCOMPARE(replies.size(), std::size_t(1));
        const Reply &reply = replies.front();
        QCOMPARE(reply.ret, ret);
        QCOMPARE(reply.payload, payload);
        QCOMPARE(reply.offset, offset);
        // The request's flags come back; persistence is the connection's to grant.
        QCOMPARE(reply.flags, flags & ~Flag::Persistence);
        // A listing's size leaves out its NUL; a presence's is 0; a read's is its length.
        const qint32 size = type == Presence ? 0 : static_cast<qint32>(payload.size() - (payload.endsWith('\0') ? 1 : 0));
        QCOMPARE(reply.size, size);
    }

    // DIR: one reply per entry, each NUL-terminated, and an empty one that ends the listing
    // with the directory's flags.
    void dirAnswersEntryByEntry()
    {
        const std::vector<Reply> replies = owtree::answer(request(Dir, "/", 0x104), snapshot());
        QCOMPARE(replies.size(), std::size_t(3));
        QCOMPARE(replies[0].payload, QByteArray("/28.ECEDC7050000\0", 17));
        QCOMPARE(replies[0].size, 16);
        QCOMPARE(replies[1].payload, QByteArray("/10.8739A8020800\0", 17));
        QCOMPARE(replies[2].payload, QByteArray());
        QCOMPARE(replies[2].ret, 0);
        QCOMPARE(replies[2].offset, 0x8002);
    }

    // A client that asks for fewer bytes gets the first of them, as owserver gives them.
    void shortRead()
    {
        Request r = request(Read, "/28.ECEDC7050000/temperature");
        r.size = 5;
        const Reply reply = owtree::answer(r, snapshot()).front();
        QCOMPARE(reply.payload, QByteArray("     "));
        QCOMPARE(reply.ret, 5);
        r.size = 0;
        QCOMPARE(owtree::answer(r, snapshot()).front().ret, owtree::Ret::TooSmall);
    }
};

QTEST_GUILESS_MAIN(TestOwTree)
#include "tst_owtree.moc"
