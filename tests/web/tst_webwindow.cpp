#include "HttpClient.h"

#include "base/Formats.h"
#include "app/ui/TForm1.h"
#include "monitor/ui/StringGridView.h"
#include "onewire/TemperatureReader.h"
#include "onewire/VirtualBus.h"
#include "sensors/KalvexConfig.h"
#include "sensors/ui/SensorSlots.h"
#include "sensors/ui/TForm2.h"
#include "support/FakeClock.h"
#include "support/FakeDialogBoxes.h"
#include "support/FakeSerialPort.h"
#include "web/HttpServer.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QTimer>
#include <QFile>
#include <QLabel>
#include <QMutex>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QToolButton>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace {

const QString stamp = QStringLiteral("08.12.2026 14:05:09 : ");

// The log lines but the missing background's (these tests have no picture).
QStringList logLines(const TForm1 &form)
{
    QStringList lines;
    for (QTextBlock b = form.Memo1->document()->begin(); b.isValid(); b = b.next()) {
        if (!b.text().isEmpty() && !b.text().contains(QStringLiteral("Файл фона ")))
            lines << b.text();
    }
    return lines;
}

// A page as the server may send it at any moment: head, picture lines, table, link.
bool wellFormed(const QByteArray &page)
{
    static const QRegularExpression picture(QStringLiteral(
        "^<div style=\"position:absolute; top:-?\\d+; left:-?\\d+; z-index:\\d+;\"><table width=\"60\" cellpadding=\"0\" "
        "cellspacing=\"0\"><tr><td class=\"txt\">[^<]*\xB0</td><td width=\"18\"><img src=\"t.png\" title=\"[0-9.: ]+\"></td>"
        "</tr></table></div>$"));
    if (!page.startsWith("<html><title>Kalvex</title>\n") || !page.endsWith("</a></div></html>"))
        return false;
    const QList<QByteArray> lines = page.split('\n');
    int pictures = 0;
    for (const QByteArray &line : lines) {
        if (!line.startsWith("<div style=\"position:absolute; top:") || line.contains("z-index:0;")
            || line.contains("z-index:998;") || line.contains("z-index:999;"))
            continue;
        if (!picture.match(QString::fromLatin1(line)).hasMatch())
            return false;
        ++pictures;
    }
    return page.contains("</table></div>\n") && pictures <= 64;
}

// The body rows of the page's hourly table: name and 24 cells each, "&nbsp;" read as empty.
QList<QStringList> pageHourRows(const QByteArray &page)
{
    static const QRegularExpression row(QStringLiteral("<tr class=\"ttr\">(.*?)</tr>"));
    static const QRegularExpression cell(QStringLiteral("<td[^>]*>(.*?)</td>"));
    QList<QStringList> rows;
    for (auto r = row.globalMatch(QString::fromLatin1(page)); r.hasNext();) {
        QStringList cells;
        for (auto c = cell.globalMatch(r.next().captured(1)); c.hasNext();) {
            const QString text = c.next().captured(1);
            cells << (text == QLatin1String("&nbsp;") ? QString() : text);
        }
        rows << cells;
    }
    return rows;
}

// The same of the window's hourly grid as its view shows it.
QList<QStringList> shownHourRows(const TForm1 &form)
{
    const QAbstractItemModel *model = form.sHourView().model();
    QList<QStringList> rows;
    for (int r = 0; r < model->rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c <= 24; ++c)
            cells << model->index(r, c).data().toString();
        rows << cells;
    }
    return rows;
}

} // namespace

class TestWebWindow : public QObject
{
    Q_OBJECT

private:
    FakeClock m_clock;
    FakeDialogBoxes m_boxes;
    std::unique_ptr<QTemporaryDir> m_dir;

    std::unique_ptr<TForm1> makeForm(bool httpActive, int port)
    {
        QFile ini(m_dir->filePath(QStringLiteral("Kalvex.ini")));
        if (!ini.open(QIODevice::WriteOnly))
            return nullptr;
        ini.write("[General]\r\nHTTPActive=" + QByteArray(httpActive ? "1" : "0") + "\r\nHTTPPort="
                  + QByteArray::number(port) + "\r\n");
        ini.close();
        return std::make_unique<TForm1>(TForm1Context{
            .clock = m_clock,
            .boxes = m_boxes,
            .programDir = ProgramDirectory{m_dir->path() + QLatin1Char('/'), QString(), QString()},
            .programCommand = {QStringLiteral("/opt/kalvex/kalvex")},
            .autostartFile = m_dir->filePath(QStringLiteral("autostart/Kalvex.desktop")),
            .makeSerialPort = [] { return std::make_unique<FakeSerialPort>(); },
        });
    }

    static void verifySwitch(const TForm1 &form, bool on)
    {
        QCOMPARE(form.HTTP_Active->isChecked(), on);
        QCOMPARE(form.bHTTP->isChecked(), on);
        QCOMPARE(form.httpServer().running(), on);
    }

private slots:
    void initTestCase() { Formats::setCurrent(Formats::russian()); }
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_clock.setNow(QDateTime(QDate(2026, 12, 8), QTime(14, 5, 9)));
    }

    void startUp_data()
    {
        QTest::addColumn<bool>("active");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("on") << true << QStringList{stamp + QStringLiteral("HTTP-сервер включен.")};
        QTest::newRow("off: nothing logged") << false << QStringList{};
    }
    void startUp()
    {
        QFETCH(bool, active);
        QFETCH(QStringList, lines);
        const int port = httpclient::freePort();
        auto form = makeForm(active, port);
        QCOMPARE(logLines(*form), lines);
        verifySwitch(*form, active);
        QCOMPARE(httpclient::get(port, "/sn=").status, active ? 200 : 0);
    }

    void switches()
    {
        const int port = httpclient::freePort();
        auto form = makeForm(false, port);
        form->HTTP_Active->trigger();
        verifySwitch(*form, true);
        form->bHTTP->click();
        verifySwitch(*form, false);
        form->bHTTP->click();
        verifySwitch(*form, true);
        form->HTTP_Active->trigger();
        verifySwitch(*form, false);
        QCOMPARE(logLines(*form), (QStringList{stamp + QStringLiteral("HTTP-сервер включен."),
                                               stamp + QStringLiteral("HTTP-сервер выключен."),
                                               stamp + QStringLiteral("HTTP-сервер включен."),
                                               stamp + QStringLiteral("HTTP-сервер выключен.")}));
    }

    void startFailure_data()
    {
        QTest::addColumn<bool>("portTaken");
        QTest::addColumn<bool>("atStartUp");
        QTest::newRow("port taken, from the menu") << true << false;
        QTest::newRow("port taken, at start-up") << true << true;
        QTest::newRow("port 0: no reason") << false << false;
    }
    void startFailure()
    {
        QFETCH(bool, portTaken);
        QFETCH(bool, atStartUp);
        const int port = portTaken ? httpclient::freePort() : 0;
        const int holder = portTaken ? httpclient::holdPort(port) : -1;
        auto form = makeForm(atStartUp, port);
        if (!atStartUp)
            form->HTTP_Active->trigger();
        if (holder >= 0)
            ::close(holder);
        const QString reason = portTaken ? QStringLiteral("HTTP Порт %1 занят.").arg(port) : QString();
        QCOMPARE(logLines(*form), QStringList{stamp + QStringLiteral("HTTP-сервер не запущен: ") + reason});
        verifySwitch(*form, false);
    }

    // Another running program holds the port the same way.
    void secondProgramOnOnePort()
    {
        const int port = httpclient::freePort();
        auto first = makeForm(true, port);
        auto second = makeForm(true, port);
        QCOMPARE(logLines(*second), QStringList{stamp + QStringLiteral("HTTP-сервер не запущен: HTTP Порт %1 занят.").arg(port)});
        verifySwitch(*first, true);
        verifySwitch(*second, false);
    }

    void portChange_data()
    {
        QTest::addColumn<bool>("running");
        QTest::addColumn<bool>("newPortTaken");
        QTest::newRow("running server moves") << true << false;
        QTest::newRow("stopped server stays stopped") << false << false;
        QTest::newRow("new port taken: reported as at start") << true << true;
    }
    void portChange()
    {
        QFETCH(bool, running);
        QFETCH(bool, newPortTaken);
        const int oldPort = httpclient::freePort();
        auto form = makeForm(running, oldPort);
        form->Memo1->clear();
        const int newPort = httpclient::freePort();
        const int holder = newPortTaken ? httpclient::holdPort(newPort) : -1;
        form->ChangeHTTPPort(newPort);
        if (holder >= 0)
            ::close(holder);
        QCOMPARE(form->HTTPPort, newPort);
        QCOMPARE(logLines(*form), newPortTaken ? QStringList{stamp + QStringLiteral("HTTP-сервер не запущен: HTTP Порт %1 занят.").arg(newPort)}
                                               : QStringList{});
        verifySwitch(*form, running && !newPortTaken);
        QCOMPARE(httpclient::get(oldPort, "/sn=").status, 0);
        QCOMPARE(httpclient::get(newPort, "/sn=").status, running && !newPortTaken ? 200 : 0);
    }

    // Readings of a day, the program closed and started again: the page's hourly table is
    // the window's hourly grid, cell for cell, at start-up and after the next cycles.
    void hourlyTableAfterARestart()
    {
        const int port = httpclient::freePort();
        const QString kitchen = QStringLiteral("28ECEDC7050000F6");
        const QString street = QStringLiteral("2825EA52050000CE");
        const QString attic = QStringLiteral("108739A80208006F");
        KalvexConfig config;
        config.HTTPActive = true;
        config.HTTPPort = port;
        config.Items = {
            {40, 70, QStringLiteral("Attic"), attic, false, 0, false, DefaultTrayBackground, DefaultTrayText, 255,
             CreateClearSign()},
            {100, 70, QStringLiteral("Kitchen"), kitchen, true, 0, false, DefaultTrayBackground, DefaultTrayText, 255,
             CreateClearSign()},
            {160, 70, QStringLiteral("Street"), street, true, 0.5, false, DefaultTrayBackground, DefaultTrayText, 255,
             CreateClearSign()},
        };
        QVERIFY(writeConfig(m_dir->filePath(QStringLiteral("Kalvex.ini")), config));
        m_clock.setTickStep(1);
        VirtualBus *bus = nullptr;
        const auto start = [&] {
            auto form = std::make_unique<TForm1>(TForm1Context{
                .clock = m_clock,
                .boxes = m_boxes,
                .programDir = ProgramDirectory{m_dir->path() + QLatin1Char('/'), QString(), QString()},
                .programCommand = {QStringLiteral("/opt/kalvex/kalvex")},
                .autostartFile = m_dir->filePath(QStringLiteral("autostart/Kalvex.desktop")),
                .makeSerialPort =
                    [&] {
                        auto made = std::make_unique<VirtualBus>();
                        for (const QString &sn : {kitchen, street, attic})
                            made->addSensor(sn);
                        bus = made.get();
                        return made;
                    },
            });
            form->temperatureReader()->setConversionDelayMs(0);
            return form;
        };
        const auto cycleAt = [&](TForm1 &form, QTime time, double kitchenT, double streetT) {
            m_clock.setNow(QDateTime(QDate(2026, 12, 8), time));
            bus->setTemperature(kitchen, kitchenT);
            bus->setTemperature(street, streetT);
            if (!form.N3->isChecked()) {
                form.N3->setChecked(true);
                form.N3Click();
            } else {
                form.Nabl();
            }
            QTRY_VERIFY(form.busIdle());
        };
        // The window publishes what the page shows once its event loop runs.
        QList<QStringList> shown;
        const auto samePage = [&](const TForm1 &form) {
            shown = shownHourRows(form);
            QTRY_COMPARE(pageHourRows(httpclient::get(port, "/noimg").body), shown);
        };
        {
            auto form = start();
            cycleAt(*form, QTime(9, 10), 19.5, 28.5);
            cycleAt(*form, QTime(10, 15), 20.25, 28.5);
            cycleAt(*form, QTime(10, 45), 20.5, 28.5);
            samePage(*form);
            if (QTest::currentTestFailed())
                return;
        }
        // Started again in the same hour: the hours come from the store.
        m_clock.setNow(QDateTime(QDate(2026, 12, 8), QTime(10, 50)));
        auto form = start();
        samePage(*form);
        if (QTest::currentTestFailed())
            return;
        const QList<QStringList> atStart = shown;
        QCOMPARE(atStart.size(), 2);
        QCOMPARE(atStart[0].mid(0, 1), QStringList{QStringLiteral("Kitchen")});
        QCOMPARE(atStart[0].at(10), QStringLiteral("19,5"));
        QCOMPARE(atStart[0].at(11), QStringLiteral("20,4")); // the mean of 20,3 and 20,5
        QCOMPARE(atStart[1].at(0), QStringLiteral("Street"));
        QCOMPARE(atStart[1].at(10), QStringLiteral("29"));
        QCOMPARE(atStart[1].at(11), QStringLiteral("29"));
        cycleAt(*form, QTime(10, 55), 20.0, 29.0);
        samePage(*form);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(shown[0].at(11), QStringLiteral("20,2"));
        cycleAt(*form, QTime(11, 5), 21.0, 30.0);
        samePage(*form);
        if (QTest::currentTestFailed())
            return;
        // The sensor switched on later gets its row below the others, with its hours.
        form->sensorSlots().SelectedItem = 0;
        form->NImgOn->trigger();
        cycleAt(*form, QTime(11, 10), 21.0, 30.0);
        samePage(*form);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(shown.size(), 3);
        QCOMPARE(shown[2].at(0), QStringLiteral("Attic"));
    }

    // The page follows the window: a moved picture, a switched-off sensor.
    void pageFollowsTheWindow()
    {
        const int port = httpclient::freePort();
        auto form = makeForm(true, port);
        SensorSlots &sensors = form->sensorSlots();
        const int index = sensors.AddItem(200, 100, QStringLiteral("Гостиная"), QStringLiteral("28FF0123456789AB"), true,
                                          0, false, DefaultTrayBackground, DefaultTrayText, 255, CreateClearSign());
        form->publishWebSnapshot();
        QVERIFY(httpclient::get(port, "/").body.contains("top:99; left:157; z-index:1;"));
        sensors.placeItem(index, 300, 150);
        sensors.SelectedItem = index;
        form->NImgOff->trigger();
        form->publishWebSnapshot();
        QCOMPARE(httpclient::get(port, "/sn=28ff0123456789ab").body, QByteArray("off"));
        sensors.SelectedItem = index;
        form->NImgOn->trigger();
        QVERIFY(httpclient::get(port, "/").body.contains("top:149; left:257; z-index:1;"));
    }

    // A serial number typed in lower case in the editor is found by its query in either case.
    void serialTypedInLowerCase_data()
    {
        QTest::addColumn<QByteArray>("query");
        QTest::newRow("lower") << QByteArray("/sn=28ff0123456789ab");
        QTest::newRow("upper") << QByteArray("/sn=28FF0123456789AB");
    }
    void serialTypedInLowerCase()
    {
        QFETCH(QByteArray, query);
        const int port = httpclient::freePort();
        auto form = makeForm(true, port);
        QTimer::singleShot(0, [] {
            auto *editor = qobject_cast<TForm2 *>(QApplication::activeModalWidget());
            if (!editor)
                return;
            QTest::keyClicks(editor->Edit2, "28ff0123456789ab");
            QTest::mouseClick(editor->BOnOff, Qt::LeftButton);
            QTest::keyClick(editor->Edit2, Qt::Key_Return);
        });
        form->N4->trigger();
        QCOMPARE(form->sensorSlots().DSItems.at(0).SN, QStringLiteral("28ff0123456789ab"));
        QCOMPARE(httpclient::get(port, query).body, QByteArray("off"));
        QCOMPARE(httpclient::get(port, "/sn=28ff0123456789ac").body, QByteArray("no"));
    }

    // 64 clients fetch the page while the window adds, moves, switches off and deletes
    // sensors: every reply is a whole page of one moment.
    void concurrentClients()
    {
        const int port = httpclient::freePort();
        auto form = makeForm(true, port);
        SensorSlots &sensors = form->sensorSlots();
        std::atomic<bool> stop{false};
        std::atomic<int> replies{0};
        QMutex mutex;
        QList<QByteArray> bad;
        std::vector<std::thread> clients;
        for (int c = 0; c < 64; ++c) {
            clients.emplace_back([&, c] {
                while (!stop) {
                    const httpclient::Reply reply = httpclient::get(port, c % 2 ? "/" : "/noimg");
                    if (reply.status == 200 && wellFormed(reply.body)) {
                        ++replies;
                        continue;
                    }
                    QMutexLocker lock(&mutex);
                    bad << reply.head + "\n\n" + reply.body.left(300);
                }
            });
        }
        for (int round = 0; round < 150; ++round) {
            const int index = sensors.AddItem(10 + round % 7 * 30, 20 + round % 5 * 40, QStringLiteral("Датчик %1").arg(round),
                                              QStringLiteral("28%1").arg(round, 14, 10, QLatin1Char('0')), true, 0, false,
                                              DefaultTrayBackground, DefaultTrayText, 255, CreateClearSign());
            sensors.DSItems[static_cast<std::size_t>(index)].TempLabel->setText(QStringLiteral("2%1,5").arg(round % 10));
            form->SHour.setCell(1 + round % 24, 1, QStringLiteral("%1").arg(round));
            form->publishWebSnapshot();
            sensors.placeItem(index, 300 - round, 200 + round);
            form->publishWebSnapshot();
            if (round % 3 == 0) {
                sensors.SelectedItem = index;
                form->NImgOff->trigger();
            }
            if (round % 2 == 0) {
                m_boxes.confirmAnswers.enqueue(true);
                sensors.DeleteItem(index);
                form->publishWebSnapshot();
            }
            QTest::qWait(5);
        }
        stop = true;
        for (std::thread &client : clients)
            client.join();
        QVERIFY2(bad.isEmpty(), bad.value(0).constData());
        QVERIFY(replies > 64);
    }
};

QTEST_MAIN(TestWebWindow)
#include "tst_webwindow.moc"
