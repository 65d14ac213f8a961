#include "owserver/OwMessage.h"

#include <QTest>

using namespace OwMessage;

// The message codec as both sides use it: what a hostile or broken peer sends is refused
// before anything is held for it, and names and numbers are written as OWFS writes them.
class TestOwMessage : public QObject
{
    Q_OBJECT

private slots:
    // Bytes as Debian's owread sends them for /uncached/28.000028D70000/temperature.
    void requestAsOwreadSendsIt()
    {
        Request request;
        request.type = Read;
        request.path = "/uncached/28.000028D70000/temperature";
        const QByteArray bytes = encodeRequest(request);
        QCOMPARE(bytes.left(HeaderSize).toHex(),
                 QByteArray("000000000000002600000002" "0000010a0001000000000000"));
        QCOMPARE(bytes.mid(HeaderSize), request.path + '\0');

        RequestParser parser;
        // Byte by byte, as a trickling client sends it.
        for (qsizetype i = 0; i + 1 < bytes.size(); ++i)
            QCOMPARE(parser.feed(bytes.sliced(i, 1)), RequestParser::State::NeedMore);
        QCOMPARE(parser.feed(bytes.last(1)), RequestParser::State::Ready);
        const Request parsed = parser.take();
        QCOMPARE(parsed.path, request.path);
        QCOMPARE(parsed.type, Read);
        QCOMPARE(parsed.flags, ClientFlags);
    }

    void forwardedRequestKeepsItsToken()
    {
        Request request;
        request.version = ForwardedVersion;
        request.type = Presence;
        request.path = "/uncached/28.000028D70000";
        request.token = QByteArray(TokenSize, 'k');
        QByteArray bytes = encodeRequest(request);
        bytes += encodeRequest(Request{}); // a second request right behind it
        RequestParser parser;
        QCOMPARE(parser.feed(bytes), RequestParser::State::Ready);
        const Request first = parser.take();
        QCOMPARE(first.token, request.token);
        QCOMPARE(first.path, request.path);
        QCOMPARE(parser.feed({}), RequestParser::State::Ready);
        QCOMPARE(parser.take().type, Nop);
        QCOMPARE(parser.buffered(), 0);
    }

    void hostileHeadersAreRefusedAtOnce_data()
    {
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<bool>("reply");
        QTest::newRow("request of 2 GB") << encodeHeader({0, 0x7fffffff, Read, 0, 0, 0}) << false;
        QTest::newRow("request of negative length") << encodeHeader({0, -5, Read, 0, 0, 0}) << false;
        QTest::newRow("garbage version") << QByteArray("GET / HTTP/1.1\r\nHost: x\r\n\r\n") << false;
        QTest::newRow("reply of 2 GB") << encodeHeader({0, 0x7fffffff, 0, 0, 12, 0}) << true;
        QTest::newRow("reply of negative length") << encodeHeader({0, -2, 0, 0, 0, 0}) << true;
        QTest::newRow("reply larger than its payload") << encodeHeader({0, 4, 0, 0, 1000, 0}) << true;
    }
    void hostileHeadersAreRefusedAtOnce()
    {
        QFETCH(QByteArray, header);
        QFETCH(bool, reply);
        if (reply) {
            ReplyParser parser;
            QCOMPARE(parser.feed(header), ReplyParser::State::Bad);
            QVERIFY(!parser.error().isEmpty());
        } else {
            RequestParser parser;
            QCOMPARE(parser.feed(header), RequestParser::State::Bad);
            QVERIFY(!parser.error().isEmpty());
        }
    }

    void keepAlivesAreSkipped()
    {
        Reply real;
        real.payload = "           4";
        real.size = 12;
        real.ret = 12;
        Reply alive;
        alive.keepAlive = true;
        ReplyParser parser;
        QCOMPARE(parser.feed(encodeReply(alive) + encodeReply(alive)), ReplyParser::State::NeedMore);
        QCOMPARE(parser.keepAlives(), 2);
        QCOMPARE(parser.feed(encodeReply(real)), ReplyParser::State::Ready);
        QCOMPARE(parser.take().payload, real.payload);
    }

    void floatsAsOwserverWritesThem_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("whole") << 4.0 << QByteArray("           4");
        QTest::newRow("sixteenths") << 21.3125 << QByteArray("     21.3125");
        QTest::newRow("negative") << -10.5 << QByteArray("       -10.5");
        QTest::newRow("six digits") << 123.456789 << QByteArray("     123.457");
        QTest::newRow("tiny") << 1e-7 << QByteArray("       1E-07");
    }
    void floatsAsOwserverWritesThem()
    {
        QFETCH(double, value);
        QFETCH(QByteArray, text);
        QCOMPARE(formatFloat(value), text);
    }

    void deviceNames_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<QByteArray>("name");
        QTest::newRow("fdi") << int(NameFormat::FDI) << QByteArray("28.000028D70000");
        QTest::newRow("fi") << int(NameFormat::FI) << QByteArray("28000028D70000");
        QTest::newRow("fdidc") << int(NameFormat::FDIDC) << QByteArray("28.000028D70000.11");
        QTest::newRow("fdic") << int(NameFormat::FDIC) << QByteArray("28.000028D7000011");
        QTest::newRow("fidc") << int(NameFormat::FIDC) << QByteArray("28000028D70000.11");
        QTest::newRow("fic") << int(NameFormat::FIC) << QByteArray("28000028D7000011");
    }
    void deviceNames()
    {
        QFETCH(int, format);
        QFETCH(QByteArray, name);
        const QString serial = QStringLiteral("28000028D7000011");
        QCOMPARE(deviceName(serial, static_cast<NameFormat>(format)), std::optional<QByteArray>(name));
        QCOMPARE(serialOfDeviceName(name), std::optional<QString>(serial));
    }

    void badDeviceNames()
    {
        QVERIFY(!serialOfDeviceName("28.000028D70000.12")); // wrong CRC
        QVERIFY(!serialOfDeviceName("bus.0"));
        QVERIFY(!serialOfDeviceName("28.000028D700"));
        QVERIFY(!deviceName(QStringLiteral("28000028D70000XX"), NameFormat::FDI));
    }

    void flagsCarryScaleAndFormat()
    {
        const quint32 flags = ClientFlags | (2u << Flag::ScaleShift) | (3u << Flag::FormatShift);
        QCOMPARE(scaleOf(flags), Scale::Kelvin);
        QCOMPARE(nameFormatOf(flags), NameFormat::FDIC);
        QCOMPARE(toScale(100.0, Scale::Fahrenheit), 212.0);
    }
};

QTEST_GUILESS_MAIN(TestOwMessage)
#include "tst_owmessage.moc"
