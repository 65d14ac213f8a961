#include "HttpClient.h"
#include "support/ExpositionParser.h"

#include "onewire/PtyBusServer.h"
#include "onewire/VirtualBus.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstdlib>
#include <thread>

// The built program on the bus simulator's pseudo-terminal, as a browser and a scraper on the
// network see it: a reading taken from the line reaches the page, the serial-number query and
// the metrics, its time written as the users' locale writes it.
class TestWebProgram : public QObject
{
    Q_OBJECT

private slots:
    void readingReachesThePage()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        VirtualBus bus;
        bus.addSensor(QStringLiteral("28ECEDC7050000F6"), 21.5);
        PtyBusServer server(bus);
        QVERIFY(server.open());
        QVERIFY(server.linkAs(dir.filePath(QStringLiteral("COM1"))));
        std::thread serving([&server] { server.run(); });
        const auto joinServer = qScopeGuard([&] {
            server.requestStop();
            serving.join();
        });

        const int port = httpclient::freePort();
        QFile ini(dir.filePath(QStringLiteral("Kalvex.ini")));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[General]\nCOMPort=1\nTimeOut=1000\nAutoNab=1\nHTTPActive=1\nHTTPPort=" + QByteArray::number(port)
                  + "\n[Items]\nItemName0=Кухня\nItemSN0=28ECEDC7050000F6\nItemEnable0=1\nItemTop0=90\nItemLeft0=120\n"
                    "ItemCount=1\n");
        ini.close();

        // A zone where it is now eight in the morning: the hour has one digit, and the users'
        // locale writes it with two (08:08:16, where the pinned test formats write 8:08:16).
        const int utcHour = QDateTime::currentDateTimeUtc().time().hour();
        const int west = utcHour - 8; // POSIX: hours west of Greenwich
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("LANG"), QStringLiteral("ru_RU.UTF-8"));
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("ru_RU.UTF-8"));
        env.insert(QStringLiteral("TZ"), QStringLiteral("KLV%1%2").arg(west < 0 ? QStringLiteral("-") : QStringLiteral("+")).arg(std::abs(west)));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
        QProcess program;
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(KALVEX_PROGRAM), {QStringLiteral("--headless"), QStringLiteral("--dir"), dir.path()});
        QVERIFY(program.waitForStarted());
        const auto stopProgram = qScopeGuard([&program] {
            if (program.state() == QProcess::NotRunning)
                return;
            ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
            if (!program.waitForFinished(5000))
                program.kill();
            program.waitForFinished();
        });

        // Two digits of hour, 08 or 09 here: the reading's time as the users' locale writes it.
        static const QRegularExpression answer(
            QStringLiteral("^21,5\\|(\\d\\d\\.\\d\\d\\.\\d{4} 0[89]:\\d\\d:\\d\\d)$"));
        QByteArray sn;
        QTRY_VERIFY2_WITH_TIMEOUT(
            (sn = httpclient::get(port, "/sn=28ecedc7050000f6").body, answer.match(QString::fromLatin1(sn)).hasMatch()),
            sn.constData(), 20000);
        const QString when = answer.match(QString::fromLatin1(sn)).captured(1);
        const QDateTime read = QDateTime::fromString(when, QStringLiteral("dd.MM.yyyy HH:mm:ss"));
        QVERIFY(read.isValid());
        const QDateTime nowThere = QDateTime::currentDateTimeUtc().toOffsetFromUtc(-west * 3600);
        const qint64 age
            = QDateTime(read.date(), read.time(), Qt::UTC).secsTo(QDateTime(nowThere.date(), nowThere.time(), Qt::UTC));
        QVERIFY2(age >= 0 && age < 60, qPrintable(when));

        // The page: the thermometer at the sensor's place, the reading, its time as tool tip.
        const httpclient::Reply page = httpclient::get(port, "/");
        QCOMPARE(page.status, 200);
        QVERIFY2(page.body.contains("<div style=\"position:absolute; top:89; left:77; z-index:1;\"><table width=\"60\" "
                                    "cellpadding=\"0\" cellspacing=\"0\"><tr><td class=\"txt\">21,5\xB0</td><td width=\"18\">"
                                    "<img src=\"t.png\" title=\""),
                 page.body.constData());
        static const QRegularExpression toolTip(QStringLiteral("title=\"\\d\\d\\.\\d\\d\\.\\d{4} 0[89]:\\d\\d:\\d\\d\"></td>"));
        QVERIFY(toolTip.match(QString::fromLatin1(page.body)).hasMatch());
        // The hourly table has the sensor's row (Windows-1251 "Кухня").
        QVERIFY(page.body.contains("<tr class=\"ttr\"><td align=\"left\">\xCA\xF3\xF5\xED\xFF</td>"));

        const httpclient::Reply metrics = httpclient::get(port, "/metrics");
        QCOMPARE(metrics.status, 200);
        QString error;
        const QJsonArray families = exposition::parse(metrics.body, &error);
        QVERIFY2(!families.isEmpty(), qPrintable(error));
        double celsius = -1000;
        double readingAge = -1;
        for (const QJsonValue &family : families) {
            for (const QJsonValue &sample : family.toObject()[QStringLiteral("samples")].toArray()) {
                const QJsonArray s = sample.toArray();
                const QJsonObject labels = s[1].toObject();
                if (labels[QStringLiteral("serial")].toString() != QStringLiteral("28ECEDC7050000F6")
                    || labels[QStringLiteral("name")].toString() != QStringLiteral("Кухня"))
                    continue;
                if (s[0].toString() == QStringLiteral("kalvex_temperature_celsius"))
                    celsius = s[2].toDouble();
                else if (s[0].toString() == QStringLiteral("kalvex_reading_age_seconds"))
                    readingAge = s[2].toDouble();
            }
        }
        QCOMPARE(celsius, 21.5);
        QVERIFY2(readingAge >= 0 && readingAge < 60, qPrintable(QString::number(readingAge)));

        // The stored readings as CSV, named as the window names the sensor.
        const QByteArray today = nowThere.date().toString(Qt::ISODate).toLatin1();
        const httpclient::Reply csv = httpclient::get(port, "/history.csv?level=second&from=" + today + "&to=" + today);
        QCOMPARE(csv.status, 200);
        QCOMPARE(csv.header("Content-Type"), QByteArray("text/csv; charset=utf-8"));
        QVERIFY2(csv.body.contains("time,serial,name,celsius\n") && csv.body.contains(",28ECEDC7050000F6,Кухня,21.5\n"),
                 csv.body.constData());

        ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
        QVERIFY(program.waitForFinished(5000));
        QCOMPARE(program.exitCode(), 0);

        // The same from the command line, the names from the configuration.
        QProcess exporting;
        exporting.setProcessEnvironment(env);
        exporting.start(QStringLiteral(KALVEX_PROGRAM),
                        {QStringLiteral("--export-csv"), QString::fromLatin1(today), QString::fromLatin1(today),
                         QStringLiteral("hour"), QStringLiteral("--dir"), dir.path()});
        QVERIFY(exporting.waitForFinished(10000));
        QCOMPARE(exporting.exitCode(), 0);
        const QList<QByteArray> lines = exporting.readAllStandardOutput().split('\n');
        QCOMPARE(lines.size(), 3); // the header, one hour, the end of the last line
        QCOMPARE(lines.at(0), QByteArray("time,serial,name,celsius"));
        QVERIFY2(lines.at(1).startsWith(today + "T08:00:00,28ECEDC7050000F6,Кухня,21.5")
                     || lines.at(1).startsWith(today + "T09:00:00,28ECEDC7050000F6,Кухня,21.5"),
                 lines.at(1).constData());
    }
};

QTEST_GUILESS_MAIN(TestWebProgram)
#include "tst_webprogram.moc"
