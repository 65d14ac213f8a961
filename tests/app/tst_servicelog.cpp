#include "base/ServiceLog.h"

#include <QTemporaryFile>
#include <QTest>

#include <sys/stat.h>

// The priorities a journal reader filters by (journalctl -p warning shows what went wrong,
// not the news), and the check that standard error really is the journal's stream.
class TestServiceLog : public QObject
{
    Q_OBJECT

private slots:
    void priority_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("priority");
        QTest::newRow("a sensor fails") << "Датчик не отвечает: 1 : -999 (Подвал, 2825EA52050000CE)" << 3;
        QTest::newRow("the port is lost") << "Порт COM1 потерян: Input/output error" << 3;
        QTest::newRow("the port is busy") << "Порт: COM1 занят." << 3;
        QTest::newRow("the broker is away") << "MQTT: нет связи с брокером hub:1883: Connection refused" << 3;
        QTest::newRow("the store cannot write") << "Ошибка записи Kalvex.st: disk I/O error" << 3;
        QTest::newRow("a held value") << "Kalvex.ini: CharMaxCount=2000000 ограничено до 1000000." << 4;
        QTest::newRow("no tray") << "Область уведомлений недоступна: окно свёрнуто на панель задач" << 4;
        QTest::newRow("observation on") << "Отслеживание датчиков включено." << 6;
        QTest::newRow("observation off by hand") << "Отслеживание датчиков выключено." << 6;
        QTest::newRow("the page") << "Страница датчиков: http://dacha:8080/" << 6;
        QTest::newRow("the broker is back") << "MQTT: связь с брокером hub:1883 установлена." << 6;
    }
    void priority()
    {
        QFETCH(QString, text);
        QFETCH(int, priority);
        QCOMPARE(static_cast<int>(servicelog::priority(text)), priority);
    }

    void line()
    {
        QCOMPARE(servicelog::line(QStringLiteral("10.12.2026 17:20:51"), QStringLiteral("Порт: COM1 занят."), servicelog::Error, true),
                 QStringLiteral("<3>Порт: COM1 занят."));
        QCOMPARE(servicelog::line(QStringLiteral("10.12.2026 17:20:51"), QStringLiteral("Порт: COM1 занят."), servicelog::Error, false),
                 QStringLiteral("10.12.2026 17:20:51 : Порт: COM1 занят."));
    }

    // A variable inherited from a service by a child that writes elsewhere names another file.
    void stream()
    {
        QTemporaryFile file;
        QVERIFY(file.open());
        struct stat st{};
        QCOMPARE(::fstat(file.handle(), &st), 0);
        const QByteArray mine = QByteArray::number(static_cast<qulonglong>(st.st_dev)) + ':'
                                + QByteArray::number(static_cast<qulonglong>(st.st_ino));
        QVERIFY(servicelog::isStream(mine, file.handle()));
        QVERIFY(!servicelog::isStream(mine + '1', file.handle()));
        QVERIFY(!servicelog::isStream(QByteArray(), file.handle()));
        QVERIFY(!servicelog::isStream("garbage", file.handle()));
    }
};

QTEST_GUILESS_MAIN(TestServiceLog)
#include "tst_servicelog.moc"
