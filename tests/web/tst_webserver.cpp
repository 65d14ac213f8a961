#include "HttpClient.h"
#include "support/ExpositionParser.h"

#include "base/DateTime.h"
#include "base/Formats.h"
#include "base/StringGrid.h"
#include "web/Cp1251.h"
#include "web/HttpServer.h"
#include "web/WebPage.h"
#include "web/WebSnapshotBuilder.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

namespace {

// The expected page text in Windows-1251, converted independently of the program's code.
QByteArray win1251(const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    QByteArray out(utf8.size() * 2 + 1, '\0');
    iconv_t cd = iconv_open("WINDOWS-1251", "UTF-8");
    char *in = const_cast<char *>(utf8.constData());
    char *outPtr = out.data();
    size_t inLeft = static_cast<size_t>(utf8.size());
    size_t outLeft = static_cast<size_t>(out.size());
    iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    iconv_close(cd);
    out.truncate(out.size() - static_cast<qsizetype>(outLeft));
    return out;
}

double at(int y, int mo, int d, int h, int mi, int s)
{
    return datetime::fromQDateTime(QDateTime(QDate(y, mo, d), QTime(h, mi, s)));
}

using Slots = std::vector<websnapshot::SlotValues>;

// Slot 0 read at 14:05:09 on 8 December 2026; slot 1 free; slot 2 switched off; slot 3 at
// slot 0's place, not read yet.
Slots knownSlots()
{
    return {
        {QStringLiteral("28FF0123456789AB"), true, 100, 50, QStringLiteral("23,5"), at(2026, 12, 8, 14, 5, 9)},
        {QString(), false, 0, 0, QString(), 0},
        {QStringLiteral("10AA000000000001"), false, 300, 70, QString(), 0},
        {QStringLiteral("28BB000000000002"), true, 100, 50, QString(), 0},
    };
}

void fillHours(StringGrid &SHour)
{
    SHour.setColCount(26);
    SHour.setRowCount(3);
    SHour.setCell(0, 0, QStringLiteral(" Имя"));
    for (int h = 0; h < 24; ++h)
        SHour.setCell(h + 1, 0, QStringLiteral(" %1 ч.").arg(h));
    SHour.setCell(25, 0, QStringLiteral(" Серийный номер"));
    SHour.setCell(0, 1, QStringLiteral("Гостиная <b>"));
    SHour.setCell(15, 1, QStringLiteral("23,5"));
    SHour.setCell(25, 1, QStringLiteral("28FF0123456789AB"));
    SHour.setCell(0, 2, QStringLiteral("Котёл"));
    SHour.setCell(1, 2, QStringLiteral("-4"));
}

// The page of the known state, written out by hand.
QByteArray expectedPage(const QByteArray &mode)
{
    QString page = QStringLiteral(
        "<html><title>Kalvex</title>\n<style>\n"
        " .txt {font-family:Tahoma; font-size:12px; color:#FFFF00; font-weight:bold; text-align:right;}\n"
        " .tth {font-family:Tahoma; font-size:12px; color:#B0B000; font-weight:bold; text-align:center;}\n"
        " .ttr {font-family:Tahoma; font-size:12px; color:#FFFF00; font-weight:bold; text-align:center;}\n"
        "</style>\n<body bgcolor=\"#0\" class=\"txt\"></body>\n");
    if (mode != "noimg") {
        page += QStringLiteral(
            "<div style=\"position:absolute; top:0; left:0; z-index:0;\"><img src=\"bk.jpg\"></div>\n"
            "<div style=\"position:absolute; top:49; left:57; z-index:1;\"><table width=\"60\" cellpadding=\"0\" "
            "cellspacing=\"0\"><tr><td class=\"txt\">23,5°</td><td width=\"18\"><img src=\"t.png\" "
            "title=\"08.12.2026 14:05:09\"></td></tr></table></div>\n"
            "<div style=\"position:absolute; top:49; left:57; z-index:4;\"><table width=\"60\" cellpadding=\"0\" "
            "cellspacing=\"0\"><tr><td class=\"txt\">°</td><td width=\"18\"><img src=\"t.png\" "
            "title=\"30.12.1899\"></td></tr></table></div>\n");
    }
    if (mode != "notable") {
        page += QStringLiteral("<div style=\"position:absolute; top:%1; left:5; z-index:998;\">\n")
                    .arg(mode == "noimg" ? 20 : 820);
        page += QStringLiteral("<div style=\"color:#B0B000; text-align:left;\">Среднечасовая температура за "
                               "сутки:</div>\n<table border=\"1\" cellpadding=\"0\" cellspacing=\"0\">\n"
                               "<tr class=\"tth\"><th width=\"100\">Имя</th>");
        for (int h = 0; h < 24; ++h)
            page += QStringLiteral("<th width=\"40\"> %1 ч.</th>").arg(h);
        page += QStringLiteral("</tr><tr class=\"ttr\"><td align=\"left\">Гостиная <b></td>");
        for (int h = 0; h < 24; ++h)
            page += h == 14 ? QStringLiteral("<td>23,5</td>") : QStringLiteral("<td>&nbsp;</td>");
        page += QStringLiteral("</tr>\n<tr class=\"ttr\"><td align=\"left\">Котёл</td><td>-4</td>");
        for (int h = 1; h < 24; ++h)
            page += QStringLiteral("<td>&nbsp;</td>");
        page += QStringLiteral("</tr>\n</table></div>\n");
    }
    page += QStringLiteral("<div style=\"position:absolute; top:0; left:0; z-index:999;\"><a href=\"")
        + QString::fromLatin1(web::ProductSite)
        + QStringLiteral("\" target=\"_blank\" style=\"color:#6666FF; text-decoration:none;\">Kalvex v1.2</a></div></html>");
    return win1251(page);
}

} // namespace

Q_DECLARE_METATYPE(std::vector<WebSnapshot::Bus>)

class TestWebServer : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_programDir;
    QByteArray m_background;
    StringGrid m_hours{26, 2};
    std::unique_ptr<HttpServer> m_server;
    int m_port = 0;

    void publish(const Slots &items, const QString &bkFileName = QStringLiteral("bk.jpg"))
    {
        m_server->publish(websnapshot::make(items, m_hours, bkFileName, m_programDir));
    }

private slots:
    void initTestCase()
    {
        Formats::setCurrent(Formats::russian());
        QVERIFY(m_dir.isValid());
        m_programDir = m_dir.path() + QLatin1Char('/');
        for (int i = 0; i < 70000; ++i)
            m_background.append(static_cast<char>(i * 7));
        QFile file(m_programDir + QStringLiteral("bk.jpg"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(m_background);
        file.close();
        fillHours(m_hours);
        m_server = std::make_unique<HttpServer>();
        m_port = httpclient::freePort();
        QCOMPARE(m_server->start(QStringLiteral("0.0.0.0"), m_port), HttpServer::StartResult::Started);
    }
    void init() { publish(knownSlots()); }

    void wholePage()
    {
        const httpclient::Reply reply = httpclient::get(m_port, "/");
        QCOMPARE(reply.status, 200);
        QCOMPARE(reply.header("Content-Type"), QByteArray("text/html"));
        QCOMPARE(reply.body, expectedPage(""));
    }

    void dispatch_data()
    {
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<QByteArray>("type");
        QTest::addColumn<QByteArray>("body"); // "page:<mode>", "png", "background" or the text
        QTest::newRow("index") << QByteArray("/index.html") << QByteArray("text/html") << QByteArray("page:");
        QTest::newRow("query string cut") << QByteArray("/?noimg") << QByteArray("text/html") << QByteArray("page:");
        QTest::newRow("noimg") << QByteArray("/noimg") << QByteArray("text/html") << QByteArray("page:noimg");
        QTest::newRow("noimg upper") << QByteArray("/NOIMG") << QByteArray("text/html") << QByteArray("page:noimg");
        QTest::newRow("noimg escaped") << QByteArray("/%6Eoimg") << QByteArray("text/html") << QByteArray("page:noimg");
        QTest::newRow("notable") << QByteArray("/notable") << QByteArray("text/html") << QByteArray("page:notable");
        QTest::newRow("t.png") << QByteArray("/t.png") << QByteArray("image/png") << QByteArray("png");
        QTest::newRow("any jpg") << QByteArray("/anything.jpg") << QByteArray("image/png") << QByteArray("png");
        QTest::newRow("background") << QByteArray("/bk.jpg") << QByteArray("text/html") << QByteArray("background");
        QTest::newRow("background upper") << QByteArray("/BK.JPG") << QByteArray("text/html") << QByteArray("background");
        QTest::newRow("sn") << QByteArray("/sn=28ff0123456789ab") << QByteArray("text/html")
                            << QByteArray("23,5|08.12.2026 14:05:09");
        QTest::newRow("sn upper") << QByteArray("/SN=28FF0123456789AB") << QByteArray("text/html")
                                  << QByteArray("23,5|08.12.2026 14:05:09");
        QTest::newRow("sn not read yet") << QByteArray("/sn=28bb000000000002") << QByteArray("text/html")
                                         << QByteArray("|30.12.1899");
        QTest::newRow("sn off") << QByteArray("/sn=10aa000000000001") << QByteArray("text/html") << QByteArray("off");
        QTest::newRow("sn unknown") << QByteArray("/sn=28ff000000000000") << QByteArray("text/html") << QByteArray("no");
        QTest::newRow("sn empty: free slot") << QByteArray("/sn=") << QByteArray("text/html") << QByteArray("off");
        // Nothing but the background file is ever read from disk.
        QTest::newRow("dot dot") << QByteArray("/../../etc/passwd") << QByteArray("text/html") << QByteArray("page:../../etc/passwd");
        QTest::newRow("escaped slash") << QByteArray("/..%2F..%2Fetc%2Fpasswd") << QByteArray("text/html")
                                       << QByteArray("page:../../etc/passwd");
        QTest::newRow("nul before png") << QByteArray("/..%2Fetc%2Fpasswd%00.png") << QByteArray("text/html")
                                        << QByteArray("page:../etc/passwd");
        QTest::newRow("background by folder") << QByteArray("/%2E%2E/bk.jpg") << QByteArray("image/png") << QByteArray("png");
        // Only the metrics path itself is new; its neighbours keep the page's dispatch.
        QTest::newRow("metrics upper") << QByteArray("/METRICS") << QByteArray("text/html") << QByteArray("page:x");
        QTest::newRow("metrics folder") << QByteArray("/metrics/") << QByteArray("text/html") << QByteArray("page:x");
        QTest::newRow("metrics longer") << QByteArray("/metricsx") << QByteArray("text/html") << QByteArray("page:x");
    }
    void dispatch()
    {
        QFETCH(QByteArray, target);
        QFETCH(QByteArray, type);
        QFETCH(QByteArray, body);
        const httpclient::Reply reply = httpclient::get(m_port, target);
        QCOMPARE(reply.status, 200);
        QCOMPARE(reply.header("Content-Type"), type);
        if (body.startsWith("page:")) {
            const QByteArray mode = body.mid(5);
            if (mode.isEmpty() || mode == "noimg" || mode == "notable")
                QCOMPARE(reply.body, expectedPage(mode));
            else
                QCOMPARE(reply.body, expectedPage(""));
        } else if (body == "png") {
            QCOMPARE(reply.body, web::thermometerPng());
            QVERIFY(QImage::fromData(reply.body).size() == QSize(18, 50));
            QCOMPARE(QImage::fromData(reply.body).format(), QImage::Format_ARGB32);
        } else if (body == "background") {
            QCOMPARE(reply.header("Content-Length"), QByteArray::number(m_background.size()));
            QCOMPARE(reply.body, m_background);
        } else {
            QCOMPARE(reply.body, body);
        }
        QVERIFY(reply.closed);
        QCOMPARE(reply.header("Connection"), QByteArray("close"));
    }

    // What a scraper reads: a reading with its age and failures per switched-on sensor, the
    // label values unescaped to the names as typed (quote, backslash, line feed, Cyrillic).
    void metrics()
    {
        const QString awkward = QStringLiteral("Кухня \"у окна\" \\ 1\nэтаж");
        const double readAt = datetime::fromQDateTime(QDateTime::currentDateTime().addSecs(-30));
        const auto sensor = [](const char *sn, const QString &name, bool enable, double reading, double time,
                               quint64 failures) {
            websnapshot::SlotValues values{QString::fromLatin1(sn), enable, 100, 50, QString(), time};
            values.inUse = true;
            values.name = name;
            values.lastReading = reading;
            values.lastReadingTime = time;
            values.failures = failures;
            return values;
        };
        const Slots items = {
            sensor("28FF0123456789AB", awkward, true, 21.5625, readAt, 2),
            websnapshot::SlotValues{},                                          // a free slot
            sensor("28BB000000000002", QStringLiteral("Подвал"), true, 0, 0, 7), // never answered
            sensor("10AA000000000001", QStringLiteral("Гараж"), false, 5, readAt, 1),
            sensor("28FF0123456789AB", awkward, true, 30, readAt, 0),            // the same series again
        };
        m_server->publish(websnapshot::make(items, m_hours, QStringLiteral("bk.jpg"), m_programDir, nullptr, 2.5, 0, 3));

        const httpclient::Reply reply = httpclient::get(m_port, "/metrics?name[]=x");
        QCOMPARE(reply.status, 200);
        QCOMPARE(reply.header("Content-Type"), QByteArray("text/plain; version=0.0.4; charset=utf-8"));
        QCOMPARE(reply.body.count("\n# HELP ") + reply.body.startsWith("# HELP "), 10);
        QCOMPARE(reply.body.count("\n# TYPE "), 10);
        QString error;
        const QJsonArray families = exposition::parse(reply.body, &error);
        QVERIFY2(!families.isEmpty(), qPrintable(error));

        QStringList seen;
        double age = -1;
        double started = -1;
        QString version;
        for (const QJsonValue &family : families) {
            const QJsonObject f = family.toObject();
            seen << f[QStringLiteral("family")].toString() + QLatin1Char(' ') + f[QStringLiteral("type")].toString();
            for (const QJsonValue &sample : f[QStringLiteral("samples")].toArray()) {
                const QJsonArray s = sample.toArray();
                const QJsonObject labels = s[1].toObject();
                if (s[0].toString() == QStringLiteral("kalvex_reading_age_seconds")) {
                    age = s[2].toDouble();
                    continue;
                }
                if (s[0].toString() == QStringLiteral("process_start_time_seconds")) {
                    started = s[2].toDouble();
                    continue;
                }
                if (s[0].toString() == QStringLiteral("kalvex_build_info")) {
                    version = labels[QStringLiteral("version")].toString();
                    continue;
                }
                seen << QStringLiteral("%1 %2 %3 = %4")
                            .arg(s[0].toString(), labels[QStringLiteral("serial")].toString(),
                                 labels[QStringLiteral("name")].toString(), QString::number(s[2].toDouble()));
            }
        }
        const QStringList expected = {
            QStringLiteral("kalvex_temperature_celsius gauge"),
            QStringLiteral("kalvex_temperature_celsius 28FF0123456789AB ") + awkward + QStringLiteral(" = 21.5625"),
            QStringLiteral("kalvex_reading_age_seconds gauge"),
            QStringLiteral("kalvex_reading_failures counter"),
            QStringLiteral("kalvex_reading_failures_total 28FF0123456789AB ") + awkward + QStringLiteral(" = 2"),
            QStringLiteral("kalvex_reading_failures_total 28BB000000000002 Подвал = 7"),
            QStringLiteral("kalvex_cycle_duration_seconds gauge"),
            QStringLiteral("kalvex_cycle_duration_seconds   = 2.5"),
            // The port lost under observation, three failures of the store.
            QStringLiteral("kalvex_port_open gauge"),
            QStringLiteral("kalvex_port_open   = 0"),
            QStringLiteral("kalvex_store_errors counter"),
            QStringLiteral("kalvex_store_errors_total   = 3"),
            // MQTT off: not connected is no figure; nothing sent.
            QStringLiteral("kalvex_mqtt_connected gauge"),
            QStringLiteral("kalvex_mqtt_messages counter"),
            QStringLiteral("kalvex_mqtt_messages_total   = 0"),
            QStringLiteral("kalvex_build_info gauge"),
            QStringLiteral("process_start_time_seconds gauge"),
        };
        QCOMPARE(seen, expected);
        QVERIFY2(age >= 29 && age < 60, qPrintable(QString::number(age)));
        QCOMPARE(version, QStringLiteral(KALVEX_VERSION));
        // This test's own start: before now, and not long before (a test runs minutes).
        const double now = static_cast<double>(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
        QVERIFY2(started <= now + 1 && started > now - 3600, qPrintable(QString::number(now - started)));

        // Before the first cycle has ended there is no duration; a clock set back gives no
        // negative age.
        WebSnapshot early = *websnapshot::make({items[0]}, m_hours, QString(), m_programDir);
        const QByteArray text = web::metrics(early, early.items[0].readingMs - 5000);
        QVERIFY(!text.contains("\nkalvex_cycle_duration_seconds "));
        // Observation off, no store: neither is known.
        QVERIFY(!text.contains("\nkalvex_port_open "));
        QVERIFY(!text.contains("\nkalvex_store_errors_total "));
        QVERIFY(text.contains("} 0\n"));
    }

    // What each sensor is, once something is known of it: one info sample per switched-on
    // sensor with a verdict, the family left out while none has one.
    void sensorInfo()
    {
        const auto sensor = [](const char *sn, const QString &name, bool enable, const QString &verdict) {
            websnapshot::SlotValues values{QString::fromLatin1(sn), enable, 100, 50, QString(), 0};
            values.inUse = true;
            values.name = name;
            if (!verdict.isEmpty()) {
                values.family = QStringLiteral("DS18B20");
                values.power = QStringLiteral("external");
                values.verdict = verdict;
            }
            return values;
        };
        const Slots items = {
            sensor("28FF641E158C3C6D", QStringLiteral("Кухня \"у окна\""), true, QStringLiteral("counterfeit")),
            sensor("2861C73A050000D4", QStringLiteral("Подвал"), true, QStringLiteral("genuine")),
            sensor("2862C73A050000A6", QStringLiteral("Чердак"), true, QString()),        // nothing known yet
            sensor("28AA3C4853140127", QStringLiteral("Гараж"), false, QStringLiteral("genuine")), // switched off
        };
        m_server->publish(websnapshot::make(items, m_hours, QStringLiteral("bk.jpg"), m_programDir));
        const httpclient::Reply reply = httpclient::get(m_port, "/metrics");
        QCOMPARE(reply.status, 200);
        QString error;
        const QJsonArray families = exposition::parse(reply.body, &error);
        QVERIFY2(!families.isEmpty(), qPrintable(error));
        QStringList seen;
        for (const QJsonValue &family : families) {
            const QJsonObject f = family.toObject();
            if (f[QStringLiteral("family")].toString() != QStringLiteral("kalvex_sensor_info"))
                continue;
            seen << f[QStringLiteral("type")].toString();
            for (const QJsonValue &sample : f[QStringLiteral("samples")].toArray()) {
                const QJsonArray s = sample.toArray();
                const QJsonObject labels = s[1].toObject();
                QStringList parts;
                for (const char *key : {"serial", "name", "family", "power", "verdict"})
                    parts << labels[QLatin1String(key)].toString();
                seen << parts.join(QLatin1Char('|')) + QStringLiteral(" = ") + QString::number(s[2].toDouble());
            }
        }
        const QStringList expected = {
            QStringLiteral("gauge"),
            QStringLiteral("28FF641E158C3C6D|Кухня \"у окна\"|DS18B20|external|counterfeit = 1"),
            QStringLiteral("2861C73A050000D4|Подвал|DS18B20|external|genuine = 1"),
        };
        QCOMPARE(seen, expected);

        m_server->publish(websnapshot::make({items[2]}, m_hours, QStringLiteral("bk.jpg"), m_programDir));
        QVERIFY(!httpclient::get(m_port, "/metrics").body.contains("kalvex_sensor_info"));
    }

    // Several buses: the tip names the sensor's bus, the per-sensor series carry a bus label
    // and the cycle and the port are one sample per bus. With one bus all stays as it was.
    void severalBuses_data()
    {
        QTest::addColumn<QString>("bus");
        QTest::addColumn<std::vector<WebSnapshot::Bus>>("buses");
        QTest::addColumn<QString>("tip");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("one bus") << QString() << std::vector<WebSnapshot::Bus>{} << QStringLiteral("08.12.2026 14:05:09")
                                 << QStringList{
                                        QStringLiteral("kalvex_reading_failures_total{serial=\"28FF0123456789AB\",name=\"Кухня\"} 2"),
                                        QStringLiteral("kalvex_cycle_duration_seconds 2.5"),
                                        QStringLiteral("kalvex_port_open 1"),
                                    };
        QTest::newRow("two buses")
            << QStringLiteral("Шина 2")
            << std::vector<WebSnapshot::Bus>{{"Шина 1", 1.25, 1}, {"Шина 2", -1, 0}, {"Шина 1", 9, 0}}
            << QStringLiteral("08.12.2026 14:05:09 (Шина 2)")
            << QStringList{
                   QStringLiteral("kalvex_reading_failures_total{serial=\"28FF0123456789AB\",name=\"Кухня\",bus=\"Шина 2\"} 2"),
                   // The second bus has not finished a cycle yet; a name twice stands once.
                   QStringLiteral("kalvex_cycle_duration_seconds{bus=\"Шина 1\"} 1.25"),
                   QStringLiteral("kalvex_port_open{bus=\"Шина 1\"} 1"),
                   QStringLiteral("kalvex_port_open{bus=\"Шина 2\"} 0"),
               };
        QTest::newRow("awkward bus name")
            << QStringLiteral("Дом \"<старый>\" & \\")
            << std::vector<WebSnapshot::Bus>{{"Дом \"<старый>\" & \\", 3, 1}}
            << QStringLiteral("08.12.2026 14:05:09 (Дом &quot;&lt;старый&gt;&quot; &amp; \\)")
            << QStringList{
                   QStringLiteral("kalvex_reading_failures_total{serial=\"28FF0123456789AB\",name=\"Кухня\",bus=\"Дом "
                                  "\\\"<старый>\\\" & \\\\\"} 2"),
                   QStringLiteral("kalvex_cycle_duration_seconds{bus=\"Дом \\\"<старый>\\\" & \\\\\"} 3"),
                   QStringLiteral("kalvex_port_open{bus=\"Дом \\\"<старый>\\\" & \\\\\"} 1"),
               };
    }
    void severalBuses()
    {
        QFETCH(QString, bus);
        QFETCH(std::vector<WebSnapshot::Bus>, buses);
        QFETCH(QString, tip);
        QFETCH(QStringList, lines);
        websnapshot::SlotValues values{QStringLiteral("28FF0123456789AB"), true, 100, 50, QStringLiteral("23,5"),
                                       at(2026, 12, 8, 14, 5, 9)};
        values.inUse = true;
        values.name = QStringLiteral("Кухня");
        values.failures = 2;
        values.bus = bus;
        const auto state = websnapshot::make({values}, m_hours, QStringLiteral("bk.jpg"), m_programDir, nullptr, 2.5, 1,
                                             -1, -1, 0, {}, buses);

        const QByteArray images = web::GetHTMLImgs(*state, QByteArray());
        const qsizetype from = images.indexOf("title=\"") + 7;
        QCOMPARE(images.mid(from, images.indexOf("\">", from) - from), win1251(tip));

        const QByteArray text = web::metrics(*state, 0);
        QString error;
        QVERIFY2(!exposition::parse(text, &error).isEmpty(), qPrintable(error));
        QStringList seen;
        for (const QByteArray &line : text.split('\n')) {
            if (line.startsWith("kalvex_reading_failures_total") || line.startsWith("kalvex_cycle_duration_seconds")
                || line.startsWith("kalvex_port_open"))
                seen << QString::fromUtf8(line);
        }
        QCOMPARE(seen, lines);
    }

    void snQueryWithoutEmptySerial()
    {
        Slots items = knownSlots();
        items.erase(items.begin() + 1);
        publish(items);
        QCOMPARE(httpclient::get(m_port, "/sn=").body, QByteArray("no"));
    }

    void backgroundNames_data()
    {
        QTest::addColumn<QString>("bkFileName");
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<QByteArray>("body"); // "page", "png" or the file's bytes
        const QString folderFile = m_dir.path() + QStringLiteral("/bk.jpg");
        QTest::newRow("missing file: empty") << QStringLiteral("nothere.jpg") << QByteArray("/nothere.jpg") << QByteArray();
        QTest::newRow("name with a folder") << folderFile << QByteArray("/bk.jpg") << QByteArray("file");
        QTest::newRow("capitals never match") << QStringLiteral("BK.jpg") << QByteArray("/bk.jpg") << QByteArray("png");
        QTest::newRow("empty name: root is the page") << QString() << QByteArray("/") << QByteArray("page");
        QTest::newRow("background is a folder") << QStringLiteral(".") << QByteArray("/.") << QByteArray();
    }
    void backgroundNames()
    {
        QFETCH(QString, bkFileName);
        QFETCH(QByteArray, target);
        QFETCH(QByteArray, body);
        publish(knownSlots(), bkFileName);
        const httpclient::Reply reply = httpclient::get(m_port, target);
        QCOMPARE(reply.status, 200);
        if (body == "page")
            QVERIFY(reply.body.startsWith("<html><title>Kalvex</title>\n") && reply.body.endsWith("</html>"));
        else if (body == "png")
            QCOMPARE(reply.body, web::thermometerPng());
        else if (body == "file")
            QCOMPARE(reply.body, m_background);
        else
            QCOMPARE(reply.body, body);
    }

    // A name the code page cannot hold comes out as "?" rather than as broken bytes.
    void textOutsideTheCodePage()
    {
        Slots items = knownSlots();
        items[0].caption = QStringLiteral("2\u2603");
        publish(items);
        QCOMPARE(httpclient::get(m_port, "/sn=28ff0123456789ab").body, QByteArray("2?|08.12.2026 14:05:09"));
    }

    void methods_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("hasBody");
        QTest::newRow("GET") << QByteArray("GET") << 200 << true;
        QTest::newRow("POST") << QByteArray("POST") << 200 << true;
        QTest::newRow("HEAD") << QByteArray("HEAD") << 200 << false;
        QTest::newRow("PUT") << QByteArray("PUT") << 405 << false;
    }
    void methods()
    {
        QFETCH(QByteArray, method);
        QFETCH(int, status);
        QFETCH(bool, hasBody);
        const httpclient::Reply reply = httpclient::get(m_port, "/sn=28FF0123456789AB", method);
        QCOMPARE(reply.status, status);
        QCOMPARE(reply.body, hasBody ? QByteArray("23,5|08.12.2026 14:05:09") : QByteArray());
        if (method == "HEAD")
            QCOMPARE(reply.header("Content-Length"), QByteArray("24"));
        // A refusal names what the server takes.
        QCOMPARE(reply.header("Allow"), status == 405 ? QByteArray("GET, HEAD, POST") : QByteArray());
    }

    void postBody_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("status");
        QTest::newRow("small body is read and dropped") << 1000 << 200;
        QTest::newRow("body over the limit") << 2000000 << 413;
    }
    void postBody()
    {
        QFETCH(int, size);
        QFETCH(int, status);
        const QByteArray request = "POST /sn=10aa000000000001 HTTP/1.1\r\nHost: x\r\nContent-Length: "
            + QByteArray::number(size) + "\r\n\r\n" + QByteArray(std::min(size, 100000), 'x');
        const httpclient::Reply reply = httpclient::exchange(m_port, request);
        QCOMPARE(reply.status, status);
        if (status == 200)
            QCOMPARE(reply.body, QByteArray("off"));
        QVERIFY(reply.closed);
    }

    // A failure's reply carries its message; every reply names the server library.
    void handlerErrorIs500()
    {
        m_server->publish(nullptr);
        const httpclient::Reply reply = httpclient::get(m_port, "/");
        QCOMPARE(reply.status, 500);
        QCOMPARE(reply.body, cp1251::fromText(QStringLiteral("Страница ещё не собрана.")));
        QVERIFY(reply.header("Server").startsWith("libmicrohttpd/"));
    }

    // A request line in absolute form, as a proxy sends it, is answered on its path.
    void absoluteFormIsDispatchedOnItsPath()
    {
        const httpclient::Reply reply = httpclient::exchange(
            m_port, "GET http://kalvex.example:8080/sn=10aa000000000001?x=1 HTTP/1.1\r\nHost: kalvex.example\r\n\r\n");
        QCOMPARE(reply.status, 200);
        QCOMPARE(reply.body, QByteArray("off"));
        QVERIFY(reply.header("Server").startsWith("libmicrohttpd/"));
    }

    void portInUse_data()
    {
        QTest::addColumn<bool>("reusePort");
        QTest::newRow("plain listener") << false;
        QTest::newRow("listener that allows port reuse") << true;
    }
    void portInUse()
    {
        QFETCH(bool, reusePort);
        const int port = httpclient::freePort();
        const int holder = httpclient::holdPort(port, reusePort);
        QVERIFY(holder >= 0);
        HttpServer other;
        QCOMPARE(other.start(QStringLiteral("0.0.0.0"), port), HttpServer::StartResult::PortBusy);
        QVERIFY(!other.running());
        ::close(holder);
        QCOMPARE(other.start(QStringLiteral("0.0.0.0"), port), HttpServer::StartResult::Started);
    }

    void secondServerOnOnePort()
    {
        HttpServer second;
        QCOMPARE(second.start(QStringLiteral("0.0.0.0"), m_port), HttpServer::StartResult::PortBusy);
        QCOMPARE(httpclient::get(m_port, "/sn=").body, QByteArray("off"));
    }

    void otherFailures_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("port");
        QTest::newRow("port 0") << QStringLiteral("0.0.0.0") << 0;
        QTest::newRow("port too large") << QStringLiteral("0.0.0.0") << 65536;
        QTest::newRow("address of no interface") << QStringLiteral("192.0.2.1") << httpclient::freePort();
    }
    void otherFailures()
    {
        QFETCH(QString, address);
        QFETCH(int, port);
        HttpServer other;
        QCOMPARE(other.start(address, port), HttpServer::StartResult::Failed);
    }

    // Idle connections up to the cap, a client dribbling its header, a huge header: the page
    // still comes to a well-behaved client.
    void abuse()
    {
        std::vector<int> idle;
        for (int i = 0; i < 1000; ++i) {
            const int fd = httpclient::connectTo(m_port);
            if (fd >= 0)
                idle.push_back(fd);
        }
        std::atomic<bool> stop{false};
        std::thread dribbler([this, &stop] {
            const int fd = httpclient::connectTo(m_port);
            const QByteArray request = "GET / HTTP/1.1\r\nHost: x\r\nX-Slow: " + QByteArray(100, 'a');
            for (qsizetype i = 0; i < request.size() && !stop; ++i) {
                httpclient::sendAll(fd, request.mid(i, 1));
                std::this_thread::sleep_for(std::chrono::seconds(1));
            }
            ::close(fd);
        });
        const httpclient::Reply huge = httpclient::exchange(
            m_port, "GET / HTTP/1.1\r\nHost: x\r\nX-Big: " + QByteArray(1 << 20, 'b') + "\r\n\r\n");
        QVERIFY(huge.status == 0 || huge.status == 431 || huge.status == 413);
        QVERIFY(huge.body.isEmpty() || !huge.body.contains("<html><title>Kalvex"));
        // The idle ones beyond the cap were closed at once; those within it go at the time-out.
        for (int fd : idle)
            ::close(fd);
        const httpclient::Reply page = httpclient::get(m_port, "/");
        stop = true;
        dribbler.join();
        QCOMPARE(page.body, expectedPage(""));
    }

    // The cap and the idle time-out, on a server of small limits: a client beyond the cap
    // waits until the idle ones are closed, then gets its reply.
    void connectionLimits()
    {
        HttpServer::Limits limits;
        limits.connections = 2;
        limits.idleSeconds = 3;
        HttpServer server(HttpServer::Threading::Pool, limits);
        server.publish(m_server->snapshot());
        const int port = httpclient::freePort();
        QCOMPARE(server.start(QStringLiteral("0.0.0.0"), port), HttpServer::StartResult::Started);
        const int first = httpclient::connectTo(port);
        const int second = httpclient::connectTo(port);
        QTest::qWait(200);
        const int third = httpclient::connectTo(port);
        QVERIFY(httpclient::sendAll(third, "GET /sn= HTTP/1.1\r\nHost: x\r\n\r\n"));
        bool closed = false;
        QVERIFY(httpclient::readAll(third, closed, 1000).isEmpty());
        QVERIFY(!closed);
        const httpclient::Reply late = httpclient::parse(httpclient::readAll(third, closed, 10000), closed);
        QCOMPARE(late.body, QByteArray("off"));
        QVERIFY(httpclient::readAll(first, closed, 10000).isEmpty());
        QVERIFY(closed);
        ::close(first);
        ::close(second);
        ::close(third);
    }

    // Stopping and restarting never wait on clients: not while the cap is full of idle
    // connections from many hosts (then the listener is out of the workers' wait), not while
    // they all trickle bytes.
    void stopNeverWaitsOnClients_data()
    {
        QTest::addColumn<HttpServer::Threading>("threading");
        QTest::addColumn<bool>("trickle");
        QTest::newRow("pool, idle") << HttpServer::Threading::Pool << false;
        QTest::newRow("pool, trickling") << HttpServer::Threading::Pool << true;
        QTest::newRow("thread per connection, idle") << HttpServer::Threading::PerConnection << false;
    }
    void stopNeverWaitsOnClients()
    {
        QFETCH(HttpServer::Threading, threading);
        QFETCH(bool, trickle);
        HttpServer server(threading, HttpServer::Limits{});
        server.publish(m_server->snapshot());
        const int port = httpclient::freePort();
        QCOMPARE(server.start(QStringLiteral("0.0.0.0"), port), HttpServer::StartResult::Started);
        // Up to the cap, each host within its share.
        const unsigned perHost = server.limits().perAddress;
        std::vector<int> open;
        for (unsigned host = 10; open.size() < server.limits().connections + 8; ++host) {
            const QByteArray source = "127.0.0." + QByteArray::number(host);
            for (unsigned i = 0; i < perHost; ++i) {
                const int fd = httpclient::connectTo(port, source.constData());
                QVERIFY(fd >= 0);
                open.push_back(fd);
            }
        }
        const auto closeAll = qScopeGuard([&open] {
            for (int fd : open)
                ::close(fd);
        });
        QTest::qWait(500);
        if (trickle) {
            for (int fd : open)
                httpclient::sendAll(fd, "G");
            QTest::qWait(200);
        }
        QElapsedTimer timer;
        timer.start();
        const HttpServer::StartResult restarted = server.start(QStringLiteral("0.0.0.0"), httpclient::freePort());
        const qint64 restartMs = timer.elapsed();
        QCOMPARE(restarted, HttpServer::StartResult::Started);
        timer.restart();
        server.stop();
        const qint64 stopMs = timer.elapsed();
        // Only a hang fails here (the workers used to notice at their next time-out).
        QVERIFY2(restartMs < 2000, qPrintable(QString::number(restartMs)));
        QVERIFY2(stopMs < 2000, qPrintable(QString::number(stopMs)));
    }

    // One host holding connections, each sending a header byte now and then, as one that
    // means to lock everyone else out: it keeps no more than its share, and another host is
    // answered.
    void oneHostCannotLockOthersOut()
    {
        HttpServer server(HttpServer::Threading::Pool, HttpServer::Limits{});
        server.publish(m_server->snapshot());
        const int port = httpclient::freePort();
        QCOMPARE(server.start(QStringLiteral("0.0.0.0"), port), HttpServer::StartResult::Started);
        std::atomic<bool> stop{false};
        std::atomic<int> refused{0};
        std::thread host([&] {
            // 520 connections, renewed as the server closes them, a byte each every second.
            std::vector<int> fds(520, -1);
            while (!stop) {
                for (int &fd : fds) {
                    if (fd < 0)
                        fd = httpclient::connectTo(port, "127.0.0.2");
                    if (fd >= 0 && !httpclient::sendAll(fd, "G")) {
                        ::close(fd);
                        fd = -1;
                        ++refused;
                    }
                }
                for (int i = 0; i < 10 && !stop; ++i)
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
                for (int &fd : fds) {
                    char c = 0;
                    if (fd >= 0 && ::recv(fd, &c, 1, MSG_DONTWAIT) == 0) {
                        ::close(fd);
                        fd = -1;
                        ++refused;
                    }
                }
            }
            for (int fd : fds) {
                if (fd >= 0)
                    ::close(fd);
            }
        });
        const auto joinHost = qScopeGuard([&] {
            stop = true;
            host.join();
        });
        QTRY_VERIFY_WITH_TIMEOUT(refused >= 520 - int(server.limits().perAddress), 10000);
        const httpclient::Reply reply = httpclient::get(port, "/sn=28ff0123456789ab");
        QCOMPARE(reply.body, QByteArray("23,5|08.12.2026 14:05:09"));
    }

    // One address holds no more than its share of the connections, even with no request
    // deadline to cut its idle ones off: its next one is closed at once, another address's
    // is answered.
    void oneAddressKeepsToItsShare()
    {
        HttpServer::Limits limits;
        limits.connections = 8;
        limits.perAddress = 2;
        limits.requestSeconds = 0;
        HttpServer server(HttpServer::Threading::Pool, limits);
        server.publish(m_server->snapshot());
        const int port = httpclient::freePort();
        QCOMPARE(server.start(QStringLiteral("0.0.0.0"), port), HttpServer::StartResult::Started);
        std::vector<int> held;
        const auto closeAll = qScopeGuard([&held] {
            for (int fd : held)
                ::close(fd);
        });
        for (int i = 0; i < 3; ++i) {
            held.push_back(httpclient::connectTo(port, "127.0.0.2"));
            QVERIFY(held.back() >= 0);
        }
        const auto closedWithin = [](int fd, int ms) {
            pollfd p{fd, POLLIN, 0};
            char c = 0;
            return ::poll(&p, 1, ms) == 1 && ::recv(fd, &c, 1, MSG_DONTWAIT) == 0;
        };
        QVERIFY(closedWithin(held[2], 3000));
        QVERIFY(!closedWithin(held[0], 200));
        QVERIFY(!closedWithin(held[1], 0));
        QCOMPARE(httpclient::get(port, "/sn=28ff0123456789ab").body, QByteArray("23,5|08.12.2026 14:05:09"));
    }

    // A request must be whole within the deadline from the connection's start, however
    // often its bytes come.
    void slowRequestIsCutOff_data()
    {
        QTest::addColumn<HttpServer::Threading>("threading");
        QTest::newRow("pool") << HttpServer::Threading::Pool;
        QTest::newRow("thread per connection") << HttpServer::Threading::PerConnection;
    }
    void slowRequestIsCutOff()
    {
        QFETCH(HttpServer::Threading, threading);
        HttpServer::Limits limits;
        limits.requestSeconds = 2;
        HttpServer server(threading, limits);
        server.publish(m_server->snapshot());
        const int port = httpclient::freePort();
        QCOMPARE(server.start(QStringLiteral("0.0.0.0"), port), HttpServer::StartResult::Started);
        const int fd = httpclient::connectTo(port);
        const auto closeFd = qScopeGuard([fd] { ::close(fd); });
        // 24 bytes at a quarter of a second: the whole request would take 6 s.
        const QByteArray request = "GET /sn= HTTP/1.1\r\nX: ab\r\n\r\n";
        bool cut = false;
        for (qsizetype i = 0; i < request.size() && !cut; ++i) {
            char c = 0;
            cut = !httpclient::sendAll(fd, request.mid(i, 1)) || ::recv(fd, &c, 1, MSG_DONTWAIT) == 0;
            QTest::qWait(250);
        }
        bool closed = false;
        const httpclient::Reply reply = httpclient::parse(httpclient::readAll(fd, closed, 5000), closed);
        QVERIFY(closed);
        QCOMPARE(reply.status, 0);
        // A request that comes whole at once is answered as ever.
        QCOMPARE(httpclient::get(port, "/sn=").body, QByteArray("off"));
    }

    // A background name that names a FIFO (or a device) gets an empty reply, as a missing
    // file does, and holds no worker: the server goes on answering.
    void backgroundThatIsNoFile()
    {
        const QString fifo = m_programDir + QStringLiteral("pipe.jpg");
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        // Frees any worker still waiting for a writer, so that a failure ends the test.
        const auto release = qScopeGuard([&fifo] {
            for (int i = 0; i < 8; ++i) {
                const int fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
                if (fd >= 0)
                    ::close(fd);
            }
            QFile::remove(fifo);
        });
        publish(knownSlots(), QStringLiteral("pipe.jpg"));
        // More requests than the server has workers.
        for (int i = 0; i < 6; ++i) {
            const httpclient::Reply reply = httpclient::exchange(m_port, "GET /pipe.jpg HTTP/1.1\r\nHost: x\r\n\r\n", 3000);
            QCOMPARE(reply.status, 200);
            QVERIFY(reply.body.isEmpty());
        }
        QCOMPARE(httpclient::get(m_port, "/sn=").body, QByteArray("off"));
        publish(knownSlots(), QStringLiteral("/dev/zero"));
        const httpclient::Reply device = httpclient::exchange(m_port, "GET /zero HTTP/1.1\r\nHost: x\r\n\r\n", 3000);
        QCOMPARE(device.status, 200);
        QVERIFY(device.body.isEmpty());
    }

    void stopClosesListener()
    {
        const int port = httpclient::freePort();
        HttpServer server;
        QCOMPARE(server.start(QStringLiteral("0.0.0.0"), port), HttpServer::StartResult::Started);
        server.stop();
        QVERIFY(!server.running());
        QCOMPARE(httpclient::connectTo(port), -1);
    }
};

QTEST_GUILESS_MAIN(TestWebServer)
#include "tst_webserver.moc"
