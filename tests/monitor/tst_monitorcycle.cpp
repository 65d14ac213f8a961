#include "base/DateTime.h"
#include "base/Formats.h"
#include "base/NumberText.h"
#include "app/ui/TForm1.h"
#include "history/ReadingStore.h"
#include "monitor/ui/LiveChart.h"
#include "monitor/ui/MonitorCycle.h"
#include "monitor/ui/StringGridView.h"
#include "onewire/OneWireCrc.h"
#include "web/HttpServer.h"
#include "web/WebPage.h"
#include "web/WebSnapshot.h"
#include "onewire/PosixSerialPort.h"
#include "onewire/PtyBusServer.h"
#include "onewire/TemperatureReader.h"
#include "onewire/VirtualBus.h"
#include "onewire/VirtualSensor.h"
#include "sensors/ui/BusDialog.h"
#include "sensors/ui/SensorSlots.h"
#include "sensors/ui/TForm3.h"
#include "view/ui/TrayIndicators.h"
#include "support/FakeAppLauncher.h"
#include "support/FakeClock.h"
#include "support/FakeDialogBoxes.h"
#include "support/FakeSoundPlayer.h"
#include "support/DiagnosisLeftovers.h"

#include <qcustomplot.h>
#include <sqlite3.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QMenu>
#include <QPushButton>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QSystemTrayIcon>
#include <QPlainTextEdit>
#include <QImage>
#include <QTemporaryDir>
#include <QScopeGuard>
#include <QTest>
#include <QTextBlock>
#include <QSignalSpy>
#include <QTimer>

#include <cmath>
#include <functional>
#include <memory>
#include <thread>

namespace {

const QString SnA = QStringLiteral("28ECEDC7050000F6");
const QString SnB = QStringLiteral("2825EA52050000CE");
const QString SnS = QStringLiteral("108739A80208006F"); // DS18S20

QStringList logMessages(const TForm1 &form)
{
    // Without the time stamp ("08.12.2026 14:05:09 : ").
    QStringList lines;
    for (QTextBlock b = form.Memo1->document()->begin(); b.isValid(); b = b.next()) {
        const int cut = b.text().indexOf(QStringLiteral(" : "));
        lines << (cut < 0 ? b.text() : b.text().mid(cut + 3));
    }
    lines.removeAll(QString());
    return lines;
}

QStringList noAnswerLines(const TForm1 &form)
{
    return logMessages(form).filter(QStringLiteral("Датчик не отвечает: "));
}

double storedValue(const QString &path)
{
    sqlite3 *db = nullptr;
    double result = std::nan("");
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt *stmt = nullptr;
        if (sqlite3_prepare_v2(db, "select t from stats order by rowid desc limit 1", -1, &stmt, nullptr) == SQLITE_OK
            && sqlite3_step(stmt) == SQLITE_ROW)
            result = sqlite3_column_double(stmt, 0);
        sqlite3_finalize(stmt);
    }
    sqlite3_close_v2(db);
    return result;
}

bool execSql(const QString &path, const char *sql)
{
    sqlite3 *db = nullptr;
    const bool ok = sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK
        && sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close_v2(db);
    return ok;
}

QByteArray metricsText(const TForm1 &form)
{
    return web::metrics(*form.httpServer().snapshot(), QDateTime::currentMSecsSinceEpoch());
}

int statsRows(const QString &path)
{
    sqlite3 *db = nullptr;
    int rows = -1;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt *stmt = nullptr;
        if (sqlite3_prepare_v2(db, "select count(*) from stats", -1, &stmt, nullptr) == SQLITE_OK
            && sqlite3_step(stmt) == SQLITE_ROW)
            rows = sqlite3_column_int(stmt, 0);
        sqlite3_finalize(stmt);
    }
    sqlite3_close_v2(db);
    return rows;
}

// Runs `action` inside the first event processing from now on: the conversion wait of the
// first sensor the next cycle reads.
void duringNextWait(std::function<void()> action)
{
    QTimer::singleShot(0, qApp, std::move(action));
}

// Every stored reading in order: serial and value.
QStringList storedReadings(const QString &path)
{
    sqlite3 *db = nullptr;
    QStringList rows;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt *stmt = nullptr;
        if (sqlite3_prepare_v2(db, "select Sn, t from stats order by rowid", -1, &stmt, nullptr) == SQLITE_OK) {
            while (sqlite3_step(stmt) == SQLITE_ROW)
                rows << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0))) + QLatin1Char('=')
                        + QString::number(sqlite3_column_double(stmt, 1), 'g', 17);
        }
        sqlite3_finalize(stmt);
    }
    sqlite3_close_v2(db);
    return rows;
}

} // namespace

class TestMonitorCycle : public QObject
{
    Q_OBJECT

private:
    FakeClock m_clock;
    FakeDialogBoxes m_boxes;
    FakeSoundPlayer m_sound;
    FakeAppLauncher m_launcher;
    std::unique_ptr<QTemporaryDir> m_dir;
    VirtualBus *m_bus = nullptr;
    std::unique_ptr<TForm1> m_form;

    std::unique_ptr<TForm1> makeForm(std::function<std::unique_ptr<SerialPort>()> port = {}, bool demo = false)
    {
        if (!port) {
            port = [this] {
                auto bus = std::make_unique<VirtualBus>();
                m_bus = bus.get();
                return bus;
            };
        }
        auto form = std::make_unique<TForm1>(TForm1Context{
            .clock = m_clock,
            .boxes = m_boxes,
            .programDir = ProgramDirectory{m_dir->path() + QLatin1Char('/'), QString(), QString()},
            .programCommand = {QStringLiteral("/opt/kalvex/kalvex")},
            .autostartFile = m_dir->filePath(QStringLiteral("autostart/Kalvex.desktop")),
            .makeSerialPort = port,
            .demo = demo,
            .sound = &m_sound,
            .launcher = &m_launcher,
        });
        if (form->temperatureReader())
            form->temperatureReader()->setConversionDelayMs(0);
        return form;
    }

    // The window on the real termios port: COM1 in ProgramDir, on the given (real) clock.
    std::unique_ptr<TForm1> makePtyForm(Clock &clock)
    {
        const QString dir = m_dir->path() + QLatin1Char('/');
        auto form = std::make_unique<TForm1>(TForm1Context{
            .clock = clock,
            .boxes = m_boxes,
            .programDir = ProgramDirectory{dir, QString(), QString()},
            .programCommand = {QStringLiteral("/opt/kalvex/kalvex")},
            .autostartFile = m_dir->filePath(QStringLiteral("autostart/Kalvex.desktop")),
            .makeSerialPort = [dir] { return std::make_unique<PosixSerialPort>(dir); },
            .demo = false,
            .sound = &m_sound,
            .launcher = &m_launcher,
        });
        form->temperatureReader()->setConversionDelayMs(0);
        return form;
    }

    SensorSlots &sensorSlots() { return m_form->sensorSlots(); }
    TDSItem &item(int i) { return sensorSlots().DSItems[static_cast<std::size_t>(i)]; }

    int addSensor(const QString &name, const QString &sn, double correct = 0)
    {
        return sensorSlots().AddItem(100 + 60 * static_cast<int>(sensorSlots().DSItems.size()), 100, name, sn, true, correct,
                               false, DefaultTrayBackground, DefaultTrayText, 255, CreateClearSign());
    }
    // The cycle runs in the event loop, one wait after another: until the bus is idle again.
    void waitIdle() { QTRY_VERIFY_WITH_TIMEOUT(m_form->busIdle(), 20000); }
    void runCycle()
    {
        m_form->Nabl();
        waitIdle();
    }
    void switchOn()
    {
        m_form->N3->setChecked(true);
        m_form->N3Click(); // opens the port and starts the first cycle
        waitIdle();
    }
    // Row of Sns with the key of slot i, or -1.
    int snsRow(int i) const
    {
        for (int r = 1; r < m_form->Sns.RowCount(); ++r) {
            if (m_form->Sns.Cells(4, r) == QString::number(i))
                return r;
        }
        return -1;
    }
    // Columns 0 to 4 of a row of Sns, hidden ones included.
    QStringList rowCells(int row) const
    {
        QStringList cells;
        for (int col = 0; col < 5; ++col)
            cells << m_form->Sns.Cells(col, row);
        return cells;
    }
    QString snsCell(int col, int i) const
    {
        const int row = snsRow(i);
        return row < 0 ? QStringLiteral("<no row>") : m_form->Sns.Cells(col, row);
    }
    double lastChartValue(int i)
    {
        const auto &line = item(i).Series;
        return m_form->liveChart().valueAt(line, m_form->liveChart().pointCount(line) - 1);
    }
    double lastChartKey(int i)
    {
        const auto &line = item(i).Series;
        return m_form->liveChart().keyAt(line, m_form->liveChart().pointCount(line) - 1);
    }
    void verifyCycleEnded()
    {
        QCOMPARE(m_form->monitorCycle().depth(), 0);
        QVERIFY(!QGuiApplication::overrideCursor());
        QCOMPARE(m_form->Timer1->isActive(), m_form->N3->isChecked());
        QCOMPARE(sensorSlots().ImgItemRef()->pos(), QPoint(-100, -100));
    }

private slots:
    void initTestCase() { Formats::setCurrent(Formats::russian()); }
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        // The program directory as installed, with its background picture: start-up logs nothing.
        QImage background(8, 8, QImage::Format_RGB32);
        background.fill(Qt::darkGray);
        QVERIFY(background.save(m_dir->filePath(QStringLiteral("bk.jpg"))));
        m_boxes = FakeDialogBoxes();
        m_sound.played.clear();
        m_clock.setNow(QDateTime(QDate(2026, 12, 8), QTime(14, 5, 9)));
        // Every look at the tick counter moves it, so the link's echo deadlines pass.
        m_clock.setTickStep(1);
        m_form = makeForm();
    }
    void cleanup() { m_form.reset(); }

    void firstSensorUnplugged()
    {
        addSensor(QStringLiteral("Кухня"), SnA);
        addSensor(QStringLiteral("Улица"), SnB);
        m_bus->addSensor(SnA, 19.0);
        m_bus->addSensor(SnB, 21.5);
        QCOMPARE(m_form->monitorCycle().lastCycleMs(), -1);
        switchOn();
        QCOMPARE(snsCell(1, 0), QStringLiteral("19"));
        const double firstReadingAt = item(0).LastTime;
        QVERIFY(m_bus->removeDevice(SnA));
        for (int cycle = 1; cycle <= 2; ++cycle) {
            m_bus->setTemperature(SnB, 21.5 + cycle);
            runCycle();
            // One line after the three attempts; the same line of the next cycle is folded
            // into it (its count comes with the next other line).
            QCOMPARE(noAnswerLines(*m_form), QStringList{QStringLiteral("Датчик не отвечает: 0 : -999")});
            QCOMPARE(snsCell(1, 0), QStringLiteral("err"));
            QCOMPARE(snsCell(3, 0), QStringLiteral("19"));
            QVERIFY(item(0).TempLabel->text().isEmpty());
            QCOMPARE(item(0).LastTemp, 0.0);
            QVERIFY(std::isnan(lastChartValue(0)));
            QCOMPARE(snsCell(1, 1), numbertext::oneDecimal(21.5 + cycle));
            QCOMPARE(item(1).TempLabel->text(), numbertext::oneDecimal(21.5 + cycle));
        }
        QCOMPARE(m_form->Sns.RowCount(), 3);
        verifyCycleEnded();
        // What the metrics export shows: the last valid reading stays with its time, each
        // cycle without one counts as a failure.
        QCOMPARE(item(0).ReadingTally.reading, 19.0);
        QCOMPARE(item(0).ReadingTally.time, firstReadingAt);
        QCOMPARE(item(0).ReadingTally.failures, quint64(2));
        QCOMPARE(item(1).ReadingTally.reading, 23.5);
        QCOMPARE(item(1).ReadingTally.failures, quint64(0));
        QVERIFY(m_form->monitorCycle().lastCycleMs() > 0);
    }

    void thirdAttemptAnswers()
    {
        addSensor(QStringLiteral("Кухня"), SnA);
        m_bus->addSensor(SnA, 19.0);
        // The first two resets find no presence pulse; the third attempt reads.
        m_bus->queueEchoOverride({0xF0, 0xF0});
        switchOn();
        QCOMPARE(m_bus->busCounters().resets, 4u);
        QVERIFY(noAnswerLines(*m_form).isEmpty());
        QCOMPARE(snsCell(1, 0), QStringLiteral("19"));
        QCOMPARE(storetestRows(), 1);
    }

    void closingEndsTheCycle()
    {
        for (int i = 0; i < 4; ++i) {
            const QString sn = QStringLiteral("28ECEDC705000%1F6").arg(i);
            addSensor(QStringLiteral("Датчик %1").arg(i), sn);
        }
        // No sensor answers with a valid reading: every slot would take its three attempts.
        m_bus->addSensor(item(0).SN, 85.0);
        duringNextWait([this] { m_form->close(); });
        switchOn();
        // The close came during the first conversion wait (after the opened port's recall):
        // nothing after it touched the bus.
        QCOMPARE(m_bus->busCounters().resets, 2u);
        QVERIFY(noAnswerLines(*m_form).isEmpty());
        QCOMPARE(snsCell(1, 0), QStringLiteral("<no row>"));
        QVERIFY(!m_form->Timer1->isActive());
    }

    void powerOnValueIsNoAnswer()
    {
        addSensor(QStringLiteral("Кухня"), SnA);
        m_bus->addSensor(SnA, 85.0);
        switchOn();
        QCOMPARE(noAnswerLines(*m_form), QStringList{QStringLiteral("Датчик не отвечает: 0 : 85")});
        QCOMPARE(snsCell(1, 0), QStringLiteral("err"));
        QCOMPARE(storetestRows(), 0);
    }

    void correctionAndRounding()
    {
        // A DS18S20 scratchpad giving 19.75 + 29/100 = 20.04.
        addSensor(QStringLiteral("Котёл"), SnS, 0.5);
        VirtualSensor *sensor = m_bus->addSensor(SnS).get();
        sensor->setScratchpad({40, 0, 0x4B, 0x46, 0xFF, 0xFF, 71, 100, 0});
        switchOn();
        QCOMPARE(item(0).TempLabel->text(), QStringLiteral("20,5"));
        QCOMPARE(snsCell(1, 0), QStringLiteral("20,5"));
        QCOMPARE(storedValue(m_form->store()->storePath()), 20.5);
        QVERIFY(std::abs(lastChartValue(0) - 20.54) < 1e-9);
        QVERIFY(std::abs(item(0).LastTemp - 20.54) < 1e-9);
        QCOMPARE(item(0).LastTime, datetime::fromQDateTime(m_clock.now()));
        QCOMPARE(m_form->liveChart().labelAt(static_cast<qint64>(lastChartKey(0))), QStringLiteral("14:05:09"));
        QCOMPARE(lastChartKey(0), double(m_form->CharMaxCount + 1));
        // The hourly value and its grid cell.
        QCOMPARE(item(0).HourAvg[14], item(0).LastTemp);
        QCOMPARE(m_form->SHour.Cells(15, 1), numbertext::general(item(0).LastTemp));
    }

    void hourlyValue_data()
    {
        QTest::addColumn<QList<double>>("readings");
        QTest::addColumn<double>("hourly");
        QTest::newRow("one reading") << QList<double>{20.0} << 20.0;
        QTest::newRow("two readings") << QList<double>{20.0, 21.0} << 20.5;
        QTest::newRow("three: each new one counts half") << QList<double>{20.0, 21.0, 22.0} << 21.3;
        QTest::newRow("0.0 keeps the hour empty") << QList<double>{0.0} << 0.0;
        QTest::newRow("0.0, then a reading replaces it") << QList<double>{0.0, 10.0} << 10.0;
    }
    void hourlyValue()
    {
        QFETCH(QList<double>, readings);
        QFETCH(double, hourly);
        addSensor(QStringLiteral("Кухня"), SnA);
        m_bus->addSensor(SnA);
        for (int k = 0; k < readings.size(); ++k) {
            m_bus->setTemperature(SnA, readings[k]);
            if (k == 0)
                switchOn();
            else
                runCycle();
        }
        QCOMPARE(item(0).HourAvg[14], hourly);
        QCOMPARE(m_form->SHour.Cells(15, 1), hourly == 0 ? QString() : numbertext::general(hourly));
    }

    void automaticBounds_data()
    {
        QTest::addColumn<bool>("readings");
        QTest::addColumn<double>("minimum");
        QTest::addColumn<double>("maximum");
        QTest::newRow("18.2 and 23.7") << true << 16.2 << 25.7;
        QTest::newRow("no valid reading") << false << -112.0 << -98.0;
    }
    void automaticBounds()
    {
        QFETCH(bool, readings);
        QFETCH(double, minimum);
        QFETCH(double, maximum);
        // 18.25 and 23.75 are exact on a DS18B20; the correction makes them 18.2 and 23.7.
        addSensor(QStringLiteral("Кухня"), SnA, -0.05);
        addSensor(QStringLiteral("Улица"), SnB, -0.05);
        if (readings) {
            m_bus->addSensor(SnA, 18.25);
            m_bus->addSensor(SnB, 20.0);
        }
        switchOn();
        if (readings) {
            m_bus->setTemperature(SnB, 23.75);
            runCycle();
        }
        QVERIFY2(std::abs(m_form->liveChart().leftMinimum() - minimum) < 1e-9,
                 qPrintable(QString::number(m_form->liveChart().leftMinimum())));
        QVERIFY2(std::abs(m_form->liveChart().leftMaximum() - maximum) < 1e-9,
                 qPrintable(QString::number(m_form->liveChart().leftMaximum())));
    }

    // A sensor's first cycle without a valid reading sets AutoMinY to AutoMaxY - 10, and
    // the minimum stays there: later readings only widen the bounds.
    void automaticMinimumStaysAfterNoReading()
    {
        addSensor(QStringLiteral("Кухня"), SnA);
        switchOn();
        QCOMPARE(m_form->monitorCycle().chartState().AutoMinY, -110.0);
        QCOMPARE(m_form->monitorCycle().chartState().AutoMaxY, -100.0);
        runCycle();
        QCOMPARE(m_form->monitorCycle().chartState().AutoMinY, -110.0);
        QCOMPARE(m_form->liveChart().leftMinimum(), -112.0);
        QCOMPARE(m_form->liveChart().leftMaximum(), -98.0);
        m_bus->addSensor(SnA, 20.0);
        runCycle();
        QCOMPARE(m_form->monitorCycle().chartState().AutoMinY, -110.0);
        QCOMPARE(m_form->liveChart().leftMinimum(), -112.0);
        QCOMPARE(m_form->liveChart().leftMaximum(), 22.0);
    }

    // A sensor that never answers is tried exactly three times per cycle, the others once.
    void deadSensorGetsThreeAttempts()
    {
        addSensor(QStringLiteral("Кухня"), SnA);
        addSensor(QStringLiteral("Улица"), SnB);
        m_bus->addSensor(SnB, 5.0);
        switchOn();
        // The live sensor: two resets (conversion, scratchpad). The missing one answers the
        // presence pulse (the other device gives it) and fails its CRC: two resets per attempt.
        for (int cycle = 0; cycle < 2; ++cycle)
            QCOMPARE(resetsOfNextCycle(), quint64(2 + 3 * 2));
        QCOMPARE(m_bus->findSensor(SnB)->conversions(), 3);
        QCOMPARE(snsCell(1, 0), QStringLiteral("err"));
        QCOMPARE(snsCell(1, 1), QStringLiteral("5"));
    }

    // A sensor switched off keeps its tray icon as the last reading left it.
    void switchedOffSensorKeepsItsTrayIcon()
    {
        const int slot = sensorSlots().AddItem(100, 100, QStringLiteral("Кухня"), SnA, true, 0, true,
                                               DefaultTrayBackground, DefaultTrayText, 255, CreateClearSign());
        m_bus->addSensor(SnA, 19.4);
        switchOn();
        const TrayIndicators &tray = m_form->trayIndicators();
        QVERIFY(tray.icon(slot + 1));
        const QImage reading = tray.picture(slot + 1);
        QVERIFY(!reading.isNull());
        QCOMPARE(tray.icon(slot + 1)->toolTip(), QStringLiteral("Кухня 19,4°"));
        sensorSlots().SelectedItem = slot;
        sensorSlots().NImgOffClick();
        m_bus->setTemperature(SnA, 25.0);
        runCycle();
        runCycle();
        QCOMPARE(snsCell(1, 0), QStringLiteral("off"));
        QVERIFY(tray.icon(slot + 1));
        QCOMPARE(tray.picture(slot + 1), reading);
        QCOMPARE(tray.icon(slot + 1)->toolTip(), QStringLiteral("Кухня 19,4°"));
    }

    // Observation switched off and on again: no cycle, no x, so a line whose last point was
    // a reading goes straight on from it; a sensor left not answering when observation went
    // off in the middle of a cycle (the port closed under it) ends in a gap. The same rule
    // for every sensor, whichever slot it is in.
    void stoppedPeriodOnTheChart_data()
    {
        QTest::addColumn<int>("offDuring"); // the slot whose wait sees the switch; -1: between cycles
        QTest::addColumn<bool>("bulk");     // one conversion for the whole bus: one wait for all
        QTest::newRow("between cycles") << -1 << false;
        QTest::newRow("while the first sensor is read") << 0 << false;
        QTest::newRow("while the second sensor is read") << 1 << false;
        QTest::newRow("while the third sensor is read") << 2 << false;
        QTest::newRow("all at once: between cycles") << -1 << true;
        QTest::newRow("all at once: while the bus converts") << 0 << true;
    }
    void stoppedPeriodOnTheChart()
    {
        QFETCH(int, offDuring);
        QFETCH(bool, bulk);
        m_form->BulkConvert = bulk;
        // Conversions that take time on the test's clock: the whole bus's has a wait too.
        busOnTestClock();
        const QStringList serials{SnA, SnB, QStringLiteral("28AAAAAAAAAAAAAA")};
        for (int i = 0; i < 3; ++i) {
            addSensor(QStringLiteral("Д%1").arg(i), serials[i]);
            m_bus->addSensor(serials[i], 10.0 + i)->setConversionMs(40);
        }
        switchOn();
        runCycle();
        const qint64 before = m_form->monitorCycle().chartState().PointCounter;
        const auto switchOff = [this] {
            m_form->N3->setChecked(false);
            m_form->N3Click();
        };
        if (offDuring < 0) {
            switchOff();
        } else {
            // Off in the conversion wait of slot `offDuring`, once its conversion has begun.
            const int conversions = m_bus->findSensor(serials[offDuring])->conversions();
            QObject watching; // its timers go with it
            std::function<void()> watch;
            watch = [&, conversions] {
                if (m_bus->findSensor(serials[offDuring])->conversions() > conversions)
                    switchOff();
                else if (m_form->N3->isChecked())
                    QTimer::singleShot(0, &watching, watch);
            };
            QTimer::singleShot(0, &watching, watch);
            runCycle();
        }
        QVERIFY(!m_form->N3->isChecked());
        m_clock.setNow(m_clock.now().addSecs(600));
        switchOn();
        const qint64 after = m_form->monitorCycle().chartState().PointCounter;
        QCOMPARE(after, offDuring < 0 ? before + 1 : before + 2);
        for (int i = 0; i < 3; ++i) {
            const auto &line = item(i).Series;
            const int n = m_form->liveChart().pointCount(line);
            QCOMPARE(n, m_form->CharMaxCount);
            // The newest point is the reading after the stop, at the newest x.
            QCOMPARE(m_form->liveChart().keyAt(line, n - 1), double(after));
            QCOMPARE(m_form->liveChart().valueAt(line, n - 1), 10.0 + i);
            // The one before it: a reading (a straight line on) or a gap for a sensor that
            // the switch left not answering, at the x just before.
            QCOMPARE(m_form->liveChart().keyAt(line, n - 2), double(after - 1));
            const bool answered = offDuring < 0 || (!bulk && i < offDuring);
            QCOMPARE(std::isnan(m_form->liveChart().valueAt(line, n - 2)), !answered);
        }
        QCOMPARE(noAnswerLines(*m_form).size(), offDuring < 0 ? 0 : (bulk ? 3 : 3 - offDuring));
    }

    // "Делений" changed in the settings while a cycle waits in a measurement: the rest of
    // that cycle's points go where the reset chart's newest x is, and from the next cycle on
    // every line ends at the newest x again, with the new number of points.
    void divisionsChangedWhileACycleWaits()
    {
        addSensor(QStringLiteral("Кухня"), SnA);
        addSensor(QStringLiteral("Улица"), SnB);
        m_bus->addSensor(SnA, 19.0);
        m_bus->addSensor(SnB, 5.0);
        switchOn();
        for (int cycle = 0; cycle < 20; ++cycle)
            runCycle();
        QCOMPARE(m_form->monitorCycle().chartState().PointCounter, qint64(10 + 21));
        duringNextWait([this] {
            TForm3 &settings = m_form->form3();
            settings.LoadSettings();
            settings.EChar1MaxCount->setText(QStringLiteral("12"));
            settings.BOkClick();
        });
        runCycle();
        QCOMPARE(m_form->CharMaxCount, 12);
        QCOMPARE(m_form->monitorCycle().chartState().PointCounter, qint64(12));
        for (int cycle = 1; cycle <= 3; ++cycle) {
            runCycle();
            const qint64 newest = m_form->monitorCycle().chartState().PointCounter;
            QCOMPARE(newest, qint64(12 + cycle));
            for (int i = 0; i < 2; ++i) {
                QCOMPARE(m_form->liveChart().pointCount(item(i).Series), 12);
                QCOMPARE(lastChartKey(i), double(newest));
                QCOMPARE(lastChartValue(i), i == 0 ? 19.0 : 5.0);
            }
        }
    }

    // A sensor added while observation runs (here one whose serial number can never be read)
    // starts with null points at x = 1 .. CharMaxCount, far behind the newest x: the time
    // axis still spans only the newest CharMaxCount x, and the labels shown do not overlap.
    void sensorAddedLateLeavesTheTimeAxisAlone()
    {
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
        addSensor(QStringLiteral("Кухня"), SnA);
        m_bus->addSensor(SnA, 19.0);
        switchOn();
        for (int cycle = 0; cycle < 40; ++cycle) {
            m_clock.setNow(m_clock.now().addSecs(10));
            runCycle();
        }
        const int late = addSensor(QStringLiteral("Новый"), QStringLiteral("12345XYZ"));
        QCustomPlot *plot = m_form->liveChart().plot();
        const QFontMetrics metrics(plot->xAxis->tickLabelFont());
        const int labelWidth = metrics.horizontalAdvance(QStringLiteral("00:00:00"));
        for (int cycle = 0; cycle < 12; ++cycle) {
            m_clock.setNow(m_clock.now().addSecs(10));
            runCycle();
            QCOMPARE(snsCell(1, late), QStringLiteral("err"));
            plot->replot();
            const double newest = double(m_form->monitorCycle().chartState().PointCounter);
            QCOMPARE(plot->xAxis->range().upper, newest + 0.5);
            QCOMPARE(plot->xAxis->range().lower, newest - m_form->CharMaxCount + 0.5);
            const QList<double> shown = m_form->liveChart().shownLabels().keys();
            QVERIFY(!shown.isEmpty());
            for (int k = 1; k < shown.size(); ++k) {
                const double apart = plot->xAxis->coordToPixel(shown[k]) - plot->xAxis->coordToPixel(shown[k - 1]);
                QVERIFY2(apart >= labelWidth, qPrintable(QStringLiteral("%1 px").arg(apart)));
            }
        }
    }

    void switchedOffSensor()
    {
        addSensor(QStringLiteral("Кухня"), SnA);
        addSensor(QStringLiteral("Улица"), SnB);
        m_bus->addSensor(SnA, 19.0);
        m_bus->addSensor(SnB, 5.0);
        sensorSlots().SelectedItem = 0;
        sensorSlots().NImgOffClick();
        switchOn();
        QCOMPARE(snsCell(1, 0), QStringLiteral("off"));
        QCOMPARE(snsCell(1, 1), QStringLiteral("5"));
        // Rows come in the order the cycle passed the sensors.
        QCOMPARE(snsRow(0), 1);
        QCOMPARE(snsRow(1), 2);
        QVERIFY(std::isnan(lastChartValue(0)));
        QCOMPARE(lastChartKey(0), double(m_form->CharMaxCount + 1));
        QCOMPARE(m_form->liveChart().pointCount(item(0).Series), m_form->CharMaxCount);
        QVERIFY(noAnswerLines(*m_form).isEmpty());
        QCOMPARE(m_bus->findSensor(SnA)->conversions(), 0);
    }

    void newSensorsAppended()
    {
        addSensor(QStringLiteral("Кухня"), SnA);
        m_bus->addSensor(SnA, 19.0);
        m_bus->addSensor(SnB, 7.0);
        switchOn();
        QCOMPARE(m_form->Sns.RowCount(), 2);
        addSensor(QStringLiteral("Улица"), SnB);
        m_bus->setTemperature(SnA, 19.5);
        runCycle();
        QCOMPARE(m_form->Sns.RowCount(), 3);
        QCOMPARE(rowCells(1), (QStringList{QStringLiteral("Кухня"), QStringLiteral("19,5"), SnA,
                                                  QStringLiteral("19"), QStringLiteral("0")}));
        QCOMPARE(rowCells(2), (QStringList{QStringLiteral("Улица"), QStringLiteral("7"), SnB, QString(),
                                                  QStringLiteral("1")}));
    }

    void alarmsAndCursor()
    {
        addSensor(QStringLiteral("Кухня"), SnA);
        item(0).Sign[0] = TSignArr{.Enable = true, .bm = true, .Value = 30, .mp3path = QStringLiteral("warn"),
                                   .mp3Enable = true, .AppPath = {}, .AppEnable = false};
        m_bus->addSensor(SnA, 30.0);
        bool busyInWait = false;
        duringNextWait([&] {
            busyInWait = QGuiApplication::overrideCursor() && QGuiApplication::overrideCursor()->shape() == Qt::BusyCursor;
            busyInWait = busyInWait && !m_form->Timer1->isActive();
        });
        switchOn();
        QVERIFY(busyInWait);
        QCOMPARE(m_sound.played, QStringList{QStringLiteral("WARN")});
        QVERIFY(logMessages(*m_form).contains(QStringLiteral("Контроль датчика Кухня")));
        verifyCycleEnded();
    }

    // What happens to a slot while the cycle waits in its measurement: the result is dropped,
    // nothing is written into the freed or changed slot, the next sensor is read.
    void slotChangedDuringWait_data()
    {
        QTest::addColumn<QString>("change");
        QTest::newRow("deleted") << QStringLiteral("delete");
        QTest::newRow("deleted and a new sensor in its slot") << QStringLiteral("replace");
        QTest::newRow("switched off") << QStringLiteral("off");
        QTest::newRow("serial edited") << QStringLiteral("serial");
        QTest::newRow("many slots added (the array grows)") << QStringLiteral("grow");
    }
    void slotChangedDuringWait()
    {
        QFETCH(QString, change);
        addSensor(QStringLiteral("Кухня"), SnA);
        addSensor(QStringLiteral("Улица"), SnB);
        m_bus->addSensor(SnA, 19.0);
        m_bus->addSensor(SnB, 5.0);
        switchOn();
        m_bus->setTemperature(SnA, 25.0);
        m_bus->setTemperature(SnB, 6.0);
        const int rowsBefore = m_form->Sns.RowCount();
        duringNextWait([&] {
            if (change == QLatin1String("delete") || change == QLatin1String("replace")) {
                m_boxes.confirmAnswers.enqueue(true);
                sensorSlots().DeleteItem(0);
                if (change == QLatin1String("replace"))
                    QCOMPARE(addSensor(QStringLiteral("Новый"), SnA), 0);
            } else if (change == QLatin1String("off")) {
                sensorSlots().SelectedItem = 0;
                sensorSlots().NImgOffClick();
            } else if (change == QLatin1String("serial")) {
                item(0).SN = SnS;
            } else {
                for (int k = 0; k < 200; ++k)
                    addSensor(QStringLiteral("Д%1").arg(k), QStringLiteral("28000000000000%1").arg(k % 100, 2, 10, QLatin1Char('0')));
            }
        });
        runCycle();
        verifyCycleEnded();
        QVERIFY(m_boxes.errors.isEmpty());
        QCOMPARE(snsCell(1, 1), QStringLiteral("6"));
        if (change == QLatin1String("delete") || change == QLatin1String("replace")) {
            QCOMPARE(snsRow(0), -1);
            QCOMPARE(m_form->Sns.RowCount(), rowsBefore - 1);
        } else {
            // Slots added elsewhere leave the one being read alone.
            QCOMPARE(snsCell(1, 0), change == QLatin1String("grow") ? QStringLiteral("25") : QStringLiteral("19"));
        }
        if (change == QLatin1String("replace"))
            QVERIFY(item(0).TempLabel->text().isEmpty());
        if (change == QLatin1String("off") || change == QLatin1String("serial"))
            QCOMPARE(item(0).LastTemp, 0.0);
        QVERIFY(noAnswerLines(*m_form).filter(QStringLiteral(": 0 :")).isEmpty());
        // The sensors added during the wait were passed by the same cycle.
        if (change == QLatin1String("grow"))
            QCOMPARE(noAnswerLines(*m_form).size(), 200);
    }

    void observationSwitchedDuringWait_data()
    {
        QTest::addColumn<bool>("onAgain");
        QTest::newRow("off") << false;
        QTest::newRow("off and on again") << true;
    }
    void observationSwitchedDuringWait()
    {
        QFETCH(bool, onAgain);
        addSensor(QStringLiteral("Кухня"), SnA);
        addSensor(QStringLiteral("Улица"), SnB);
        m_bus->addSensor(SnA, 19.0);
        m_bus->addSensor(SnB, 5.0);
        switchOn();
        const qint64 x = m_form->monitorCycle().chartState().PointCounter;
        int depthInside = 0;
        bool timerInside = true;
        bool secondStartedInside = true;
        duringNextWait([&] {
            m_form->N3->setChecked(false);
            m_form->N3Click();
            if (onAgain) {
                m_form->N3->setChecked(true);
                m_form->N3Click(); // asks for a cycle while the first one waits
            }
            depthInside = m_form->monitorCycle().depth();
            timerInside = m_form->Timer1->isActive();
            secondStartedInside = m_form->monitorCycle().chartState().PointCounter != x + 1;
        });
        m_bus->setTemperature(SnA, 20.0);
        m_bus->setTemperature(SnB, 6.0);
        const quint64 resetsBefore = m_bus->busCounters().resets;
        runCycle();
        // The cycle asked for runs after the suspended one, not beside it.
        QCOMPARE(depthInside, 1);
        QVERIFY(!secondStartedInside);
        QVERIFY(!timerInside);
        if (onAgain)
            QTRY_COMPARE(m_form->monitorCycle().chartState().PointCounter, x + 2);
        waitIdle();
        verifyCycleEnded();
        QCOMPARE(m_form->Sns.RowCount(), 3);
        QVERIFY(logMessages(*m_form).contains(QStringLiteral("Отслеживание датчиков выключено.")));
        if (onAgain) {
            // The reading under way finished its transactions and was dropped (taken across
            // a port closed and opened again), the first cycle ended there; the second recalled
            // the sensors of the port opened again and read both once.
            QCOMPARE(m_bus->busCounters().resets - resetsBefore, quint64(2 + 1 + 4));
            QVERIFY(noAnswerLines(*m_form).isEmpty());
            QCOMPARE(snsCell(1, 0), QStringLiteral("20"));
            QCOMPARE(snsCell(1, 1), QStringLiteral("6"));
            QVERIFY(m_form->Timer1->isActive());
        } else {
            // The port closed under the cycle: the rest finds no presence.
            QCOMPARE(noAnswerLines(*m_form), (QStringList{QStringLiteral("Датчик не отвечает: 0 : -999"),
                                                          QStringLiteral("Датчик не отвечает: 1 : -999")}));
            QCOMPARE(snsCell(1, 0), QStringLiteral("err"));
            QVERIFY(!m_form->Timer1->isActive());
        }
        // The lines still hold their number of points.
        QCOMPARE(m_form->liveChart().pointCount(item(0).Series), m_form->CharMaxCount);
    }

    void storeFailureGoesOn()
    {
        addSensor(QStringLiteral("Кухня"), SnA);
        addSensor(QStringLiteral("Улица"), SnB);
        item(1).Sign[0] = TSignArr{.Enable = true, .bm = false, .Value = 10, .mp3path = QStringLiteral("warn"),
                                   .mp3Enable = true, .AppPath = {}, .AppEnable = false};
        m_bus->addSensor(SnA, 19.0);
        m_bus->addSensor(SnB, 5.0);
        QVERIFY(execSql(m_form->store()->storePath(), "drop table stats"));
        switchOn();
        // Shown once, in a box that does not hold the cycle, and logged once, with the file.
        QCOMPARE(m_boxes.errors.size(), 0);
        QCOMPARE(m_boxes.notices.size(), 1);
        QVERIFY(m_boxes.notices.first().startsWith(m_form->store()->storePath() + QStringLiteral(": ")));
        QVERIFY(m_boxes.notices.first().contains(QStringLiteral("stats")));
        QCOMPARE(logMessages(*m_form).filter(m_boxes.notices.first()).size(), 1);
        // Everything but the store still got the readings.
        QCOMPARE(snsCell(1, 0), QStringLiteral("19"));
        QCOMPARE(snsCell(1, 1), QStringLiteral("5"));
        QCOMPARE(item(1).HourAvg[14], 5.0);
        QCOMPARE(m_sound.played, QStringList{QStringLiteral("WARN")});
        verifyCycleEnded();
        QVERIFY(m_form->Timer1->isActive());
        // The same error again says nothing new; once the store works, a new failure shows.
        runCycle();
        QCOMPARE(m_boxes.notices.size(), 1);
        QVERIFY(execSql(m_form->store()->storePath(), "create table stats (Dat DATETIME, Sn Text(16), t float)"));
        runCycle();
        QCOMPARE(storetestRows(), 2);
        QVERIFY(execSql(m_form->store()->storePath(), "drop table stats"));
        runCycle();
        QCOMPARE(m_boxes.notices.size(), 2);
    }

    void hourChange_data()
    {
        QTest::addColumn<QDateTime>("start");
        QTest::addColumn<QDateTime>("next");
        QTest::addColumn<bool>("cleared");
        const QDate day(2026, 12, 8);
        QTest::newRow("midnight") << QDateTime(day, QTime(23, 59, 50)) << QDateTime(day.addDays(1), QTime(0, 0, 5))
                                  << true;
        QTest::newRow("a day hour") << QDateTime(day, QTime(14, 59, 50)) << QDateTime(day, QTime(15, 0, 5)) << false;
        QTest::newRow("same hour 0") << QDateTime(day, QTime(0, 1, 0)) << QDateTime(day, QTime(0, 2, 0)) << false;
        // No cycle in hour 0: still a new day.
        QTest::newRow("23 to 1") << QDateTime(day, QTime(23, 30)) << QDateTime(day.addDays(1), QTime(1, 10)) << true;
        QTest::newRow("same hour next day") << QDateTime(day, QTime(14, 10)) << QDateTime(day.addDays(1), QTime(14, 20))
                                            << true;
    }
    void hourChange()
    {
        QFETCH(QDateTime, start);
        QFETCH(QDateTime, next);
        QFETCH(bool, cleared);
        m_form.reset();
        m_clock.setNow(start);
        m_form = makeForm();
        QCOMPARE(m_form->LastHour, start.time().hour());
        addSensor(QStringLiteral("Кухня"), SnA);
        addSensor(QStringLiteral("Улица"), SnB);
        m_bus->addSensor(SnA, 19.0);
        switchOn();
        const int h = start.time().hour();
        QCOMPARE(item(0).HourAvg[static_cast<std::size_t>(h)], 19.0);
        item(1).HourAvg.fill(3.0);
        m_clock.setNow(next);
        m_bus->setTemperature(SnA, 21.0);
        runCycle();
        QCOMPARE(m_form->LastHour, next.time().hour());
        const int n = next.time().hour();
        if (cleared) {
            if (h != n)
                QCOMPARE(item(0).HourAvg[static_cast<std::size_t>(h)], 0.0);
            QCOMPARE(item(0).HourAvg[static_cast<std::size_t>(n)], 21.0);
            // Every slot, read or not.
            QCOMPARE(item(1).HourAvg, (std::array<double, 24>{}));
        } else {
            QCOMPARE(item(0).HourAvg[static_cast<std::size_t>(h)], h == n ? 20.0 : 19.0);
            QCOMPARE(item(1).HourAvg[0], 3.0);
        }
    }

    void demo()
    {
        m_form.reset();
        m_form = makeForm({}, true);
        QStringList names;
        for (int i = 0; i < static_cast<int>(sensorSlots().DSItems.size()); ++i)
            names << sensorSlots().name(i);
        QCOMPARE(names, (QStringList{QStringLiteral("Гостиная"), QStringLiteral("Улица"), QStringLiteral("Котёл")}));
        // Observation comes on by itself once the loop runs, and the first cycle reads all three.
        QTRY_VERIFY(m_form->N3->isChecked());
        QTRY_COMPARE(m_form->Sns.RowCount(), 4);
        for (int i = 0; i < 3; ++i) {
            double t = 0;
            QVERIFY2(numbertext::parseFloat(snsCell(1, i), t), qPrintable(snsCell(1, i)));
        }
        QVERIFY(m_form->Timer1->isActive());
        QCOMPARE(m_form->Timer1->interval(), 10000);
    }

    void serialColumnFillsLeftColumn()
    {
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
        for (const int width : {0, 300, 520}) {
            if (width) {
                m_form->setPanel3Width(width);
                m_form->Splitter3Moved();
            }
            const StringGridView &view = m_form->snsView();
            const int frame = view.width() - view.viewport()->width();
            QCOMPARE(view.columnWidth(0), 100);
            QCOMPARE(view.columnWidth(1), 52);
            QCOMPARE(view.columnWidth(0) + view.columnWidth(1) + view.columnWidth(2) + frame, m_form->Panel3->width());
        }
    }

    // Bus conversion times run on the test's clock, which moves in steps so that its waits
    // pass in fewer real milliseconds. The fixed wait (70) covers a conversion (40), as 750 ms
    // covers a real one.
    void busOnTestClock()
    {
        m_clock.setTickStep(10);
        m_form->temperatureReader()->setConversionDelayMs(70);
        m_bus->setTimeSource([this] { return static_cast<qint64>(m_clock.tickCount()); });
    }
    quint64 resetsOfNextCycle()
    {
        const quint64 before = m_bus->busCounters().resets;
        runCycle();
        return m_bus->busCounters().resets - before;
    }
    QStringList parasiteLines() const
    {
        return logMessages(*m_form).filter(QStringLiteral("паразитным питанием"));
    }

    // What a user sees and keeps is the same whether the sensors convert one by one or all
    // at once: panel labels, both grids, the hourly values, the chart and the store.
    void bulkReadingsEqualSensorBySensor_data()
    {
        QTest::addColumn<int>("conversionMs"); // of every sensor, on the test's clock
        QTest::newRow("instantaneous") << 0;
        QTest::newRow("40 ms per sensor") << 40;
    }
    void bulkReadingsEqualSensorBySensor()
    {
        QFETCH(int, conversionMs);
        QStringList seen[2];
        for (int bulk = 0; bulk <= 1; ++bulk) {
            cleanup();
            init();
            busOnTestClock();
            m_form->BulkConvert = bulk == 1;
            addSensor(QStringLiteral("Кухня"), SnA);
            addSensor(QStringLiteral("Улица"), SnB, 0.5);
            addSensor(QStringLiteral("Котёл"), SnS);
            addSensor(QStringLiteral("Чердак"), QStringLiteral("28AAAAAAAAAAAAAA"));
            sensorSlots().DSItems[3].Enable = false;
            for (const QString &sn : {SnA, SnB, SnS})
                m_bus->addSensor(sn)->setConversionMs(conversionMs);
            const double temperatures[2][3] = {{19.0, -4.25, 55.5}, {19.5, 20.04, -0.5}};
            QStringList &state = seen[bulk];
            for (int cycle = 0; cycle < 2; ++cycle) {
                m_bus->setTemperature(SnA, temperatures[cycle][0]);
                m_bus->setTemperature(SnB, temperatures[cycle][1]);
                m_bus->setTemperature(SnS, temperatures[cycle][2]);
                const quint64 resets = cycle == 0 ? (switchOn(), m_bus->busCounters().resets) : resetsOfNextCycle();
                // Sensor by sensor: two resets each; all at once: the power question, the
                // conversion, one reset per reading; the first cycle recalls the EEPROM too.
                QCOMPARE(resets, (bulk ? quint64(3 + 2) : quint64(6)) + (cycle == 0 ? 1u : 0u));
                for (int row = 0; row < m_form->Sns.RowCount(); ++row)
                    state << rowCells(row).join(QLatin1Char('|'));
                for (int col = 0; col < m_form->SHour.ColCount(); ++col) {
                    for (int row = 0; row < m_form->SHour.RowCount(); ++row)
                        state << m_form->SHour.Cells(col, row);
                }
                for (int i = 0; i < 4; ++i) {
                    state << item(i).TempLabel->text() << QString::number(item(i).LastTemp)
                          << QString::number(item(i).HourAvg[14]) << QString::number(lastChartValue(i));
                }
            }
            state << storedReadings(m_form->store()->storePath());
            QVERIFY(noAnswerLines(*m_form).isEmpty());
            QVERIFY(parasiteLines().isEmpty());
            verifyCycleEnded();
        }
        QCOMPARE(seen[1], seen[0]);
        // 20.04 is 20.0625 on a DS18B20, corrected by 0.5; the previous -4.25 + 0.5 beside it.
        QVERIFY(seen[1].contains(QStringLiteral("Улица|20,6|2825EA52050000CE|-3,8|1")));
    }

    // A parasite-powered device on the bus: the sensors are read one by one with the full
    // wait, and the log says why once.
    void parasitePoweredBusFallsBack()
    {
        busOnTestClock();
        m_form->BulkConvert = true;
        addSensor(QStringLiteral("Кухня"), SnA);
        addSensor(QStringLiteral("Улица"), SnB);
        m_bus->addSensor(SnA, 19.0)->setConversionMs(40);
        auto parasite = m_bus->addSensor(SnB, -4.0);
        parasite->setConversionMs(40);
        parasite->setParasitePower(true);
        switchOn();
        QCOMPARE(m_bus->busCounters().resets, 6u); // the recall, the question, two per sensor
        for (int cycle = 1; cycle <= 3; ++cycle) {
            m_bus->setTemperature(SnA, 19.0 + cycle);
            m_bus->setTemperature(SnB, -4.0 - cycle);
            // Asked again every cycle, then the specified one.
            QCOMPARE(resetsOfNextCycle(), 5u);
            QCOMPARE(snsCell(1, 0), numbertext::oneDecimal(19.0 + cycle));
            QCOMPARE(snsCell(1, 1), numbertext::oneDecimal(-4.0 - cycle));
        }
        // The port opened again asks again; what was said stays said.
        m_form->N3->setChecked(false);
        m_form->N3Click();
        switchOn();
        QCOMPARE(parasiteLines(),
                 QStringList{QStringLiteral("На шине есть датчик с паразитным питанием: датчики измеряют по очереди.")});
        QVERIFY(noAnswerLines(*m_form).isEmpty());
        // Without it, the whole bus converts again.
        parasite->setParasitePower(false);
        m_form->N3->setChecked(false);
        m_form->N3Click();
        switchOn();
        QCOMPARE(resetsOfNextCycle(), 4u);
        QCOMPARE(parasiteLines().size(), 1);
    }

    // A parasite-powered sensor connected while the bus runs converts only with the full
    // wait: the next cycle notices it and reads sensor by sensor, never its old scratchpad.
    void parasiteSensorAddedWhileRunning()
    {
        busOnTestClock();
        m_form->BulkConvert = true;
        addSensor(QStringLiteral("Кухня"), SnA);
        m_bus->addSensor(SnA, 19.0)->setConversionMs(40);
        switchOn();
        QCOMPARE(snsCell(1, 0), QStringLiteral("19"));
        QVERIFY(parasiteLines().isEmpty());
        addSensor(QStringLiteral("Улица"), SnB);
        auto parasite = m_bus->addSensor(SnB, -4.0);
        // Much slower than the other: the whole bus's poll would end long before it is done.
        m_form->temperatureReader()->setConversionDelayMs(150);
        parasite->setConversionMs(120);
        parasite->setParasitePower(true);
        for (int cycle = 1; cycle <= 3; ++cycle) {
            m_bus->setTemperature(SnB, -4.0 - cycle);
            runCycle();
            QCOMPARE(snsCell(1, 1), numbertext::oneDecimal(-4.0 - cycle));
        }
        QCOMPARE(parasiteLines().size(), 1);
        QVERIFY(noAnswerLines(*m_form).isEmpty());
    }

    // A diagnosis cut short leaves its test values in the sensor's RAM, 9 bits among them:
    // opening the port brings back what the EEPROM holds before the first conversion.
    void leftoverDiagnosisValuesAreRecalled_data()
    {
        QTest::addColumn<bool>("bulk");
        QTest::newRow("sensor by sensor") << false;
        QTest::newRow("whole bus") << true;
    }
    void leftoverDiagnosisValuesAreRecalled()
    {
        QFETCH(bool, bulk);
        m_form->BulkConvert = bulk;
        addSensor(QStringLiteral("Улица"), SnA);
        auto sensor = m_bus->addSensor(SnA, -3.3125);
        QVERIFY(leaveDiagnosisValues(*m_bus, m_clock, SnA));
        QCOMPARE(sensor->scratchpad()[4], std::uint8_t(0x1F));
        switchOn();
        QCOMPARE(snsCell(1, 0), QStringLiteral("-3,3"));
        QCOMPARE(sensor->scratchpad()[4], std::uint8_t(0x7F));
        QCOMPARE(sensor->eepromWrites(), 0);
        // Observation switched off and on again: the port opens anew, and recalls again.
        m_form->N3->setChecked(false);
        m_form->N3Click();
        QVERIFY(leaveDiagnosisValues(*m_bus, m_clock, SnA));
        switchOn();
        QCOMPARE(sensor->scratchpad()[4], std::uint8_t(0x7F));
    }

    // A sensor that never ends its conversion: the bus's wait ends at its limit, and that
    // sensor gives no answer, not the reading it held from before; the others are read.
    void sensorNeverDoneIsNoAnswer()
    {
        busOnTestClock();
        m_form->BulkConvert = true;
        addSensor(QStringLiteral("Кухня"), SnA);
        addSensor(QStringLiteral("Улица"), SnB);
        m_bus->addSensor(SnA, 19.0)->setConversionMs(40);
        auto hanging = m_bus->addSensor(SnB, -4.0);
        switchOn();
        QCOMPARE(snsCell(1, 1), QStringLiteral("-4"));
        hanging->setConversionMs(VirtualSensor::NeverDone);
        m_bus->setTemperature(SnA, 20.0);
        m_bus->setTemperature(SnB, -7.0);
        QElapsedTimer took;
        took.start();
        runCycle();
        QVERIFY(took.elapsed() < 20000); // ends, whatever the limit costs
        QCOMPARE(snsCell(1, 0), QStringLiteral("20"));
        QCOMPARE(snsCell(1, 1), QStringLiteral("err"));
        QCOMPARE(snsCell(3, 1), QStringLiteral("-4"));
        QCOMPARE(noAnswerLines(*m_form), QStringList{QStringLiteral("Датчик не отвечает: 1 : -999")});
        QVERIFY(item(1).TempLabel->text().isEmpty());
        verifyCycleEnded();
    }

    // The setting takes effect at the next cycle, whenever it is changed.
    void modeSwitchedWhileObserving()
    {
        // Conversions that take time: a cycle of either kind waits, and the switch comes then.
        busOnTestClock();
        for (const QString &sn : {SnA, SnB, SnS}) {
            addSensor(sn, sn);
            m_bus->addSensor(sn, 21.0)->setConversionMs(40);
        }
        duringNextWait([this] { m_form->BulkConvert = true; });
        switchOn();
        QCOMPARE(m_bus->busCounters().resets, 7u); // the cycle under way went on as it began
        QCOMPARE(resetsOfNextCycle(), 5u);
        QCOMPARE(resetsOfNextCycle(), 5u);
        duringNextWait([this] { m_form->BulkConvert = false; });
        QCOMPARE(resetsOfNextCycle(), 5u);
        QCOMPARE(resetsOfNextCycle(), 6u);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(snsCell(1, i), QStringLiteral("21"));
        QVERIFY(noAnswerLines(*m_form).isEmpty());
    }

    // "Шина…": the dialog shows the setting and changes it on OK only; the setting is kept
    // in [Bus] of Kalvex.ini and read back at the next start.
    void busDialogEditsTheSetting_data()
    {
        QTest::addColumn<bool>("accept");
        QTest::newRow("OK") << true;
        QTest::newRow("Cancel") << false;
    }
    void busDialogEditsTheSetting()
    {
        QFETCH(bool, accept);
        QVERIFY(m_form->File1->actions().contains(m_form->NBus));
        QCOMPARE(m_form->NBus->text(), QStringLiteral("Шина…"));
        QVERIFY(!m_form->BulkConvert);
        bool shown = false;
        bool tickedBefore = true;
        QTimer::singleShot(0, this, [&] {
            auto *dialog = qobject_cast<BusDialog *>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            shown = true;
            QCOMPARE(dialog->windowTitle(), QStringLiteral("Шина"));
            tickedBefore = dialog->CBulkConvert->isChecked();
            QCOMPARE(dialog->CBulkConvert->text(), QStringLiteral("Все датчики измеряют одновременно"));
            QTest::mouseClick(dialog->CBulkConvert, Qt::LeftButton);
            dialog->Buttons->button(accept ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel)->click();
        });
        m_form->NBus->trigger();
        QVERIFY(shown);
        QVERIFY(!tickedBefore);
        QCOMPARE(m_form->BulkConvert, accept);
        const QString ini = m_dir->filePath(QStringLiteral("Kalvex.ini"));
        m_form.reset(); // saves Kalvex.ini
        QFile file(ini);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        QCOMPARE(text.contains("[Bus]\r\nBulkConvert=1") || text.contains("[Bus]\nBulkConvert=1"), accept);
        m_form = makeForm();
        QCOMPARE(m_form->BulkConvert, accept);
    }

    // Observation through the real termios port: "COM1" is a link in ProgramDir to a
    // pseudo-terminal that serves a virtual bus.
    void realPortThroughPty_data()
    {
        QTest::addColumn<bool>("linked");
        QTest::addColumn<bool>("bulk"); // one conversion for the whole bus, 30 ms long
        QTest::newRow("COM1 linked to the bus") << true << false;
        QTest::newRow("COM1 linked, all sensors at once") << true << true;
        QTest::newRow("no COM1") << false << false;
    }
    void realPortThroughPty()
    {
        QFETCH(bool, linked);
        QFETCH(bool, bulk);
        VirtualBus bus;
        bus.addSensor(SnA, 22.5)->setConversionMs(bulk ? 30 : 0);
        PtyBusServer server(bus);
        QVERIFY2(server.open(), qPrintable(server.errorText()));
        // Without the bus, COM1 is a link whose device has gone (so no system port is tried).
        if (linked)
            QVERIFY(server.linkAs(m_dir->filePath(QStringLiteral("COM1"))));
        else
            QVERIFY(QFile::link(m_dir->filePath(QStringLiteral("gone")), m_dir->filePath(QStringLiteral("COM1"))));
        std::thread serving([&server] { server.run(); });
        m_form.reset();
        m_clock.setTickStep(0);
        // The real clock: the link's echo deadlines are real time here.
        SystemClock realClock;
        auto form = makePtyForm(realClock);
        form->BulkConvert = bulk;
        // COM1 would otherwise fall back to /dev/ttyS0.
        form->COMPort = 1;
        form->sensorSlots().AddItem(100, 100, QStringLiteral("Кухня"), SnA, true, 0, false, 0, 0, 255, CreateClearSign());
        form->N3->setChecked(true);
        form->N3Click();
        QTRY_VERIFY(form->busIdle());
        const QStringList lines = logMessages(*form);
        if (linked) {
            QCOMPARE(lines.value(0), QStringLiteral("Отслеживание датчиков включено."));
            QCOMPARE(form->Sns.Cells(1, 1), QStringLiteral("22,5"));
            QVERIFY(form->N3->isChecked());
        } else {
            // The system's reason in the same line.
            QVERIFY2(lines.value(0).startsWith(QStringLiteral("Порт: COM1 занят: ")), qPrintable(lines.value(0)));
            QCOMPARE(lines.size(), 1);
            QVERIFY(!form->N3->isChecked());
        }
        form.reset();
        server.requestStop();
        serving.join();
        server.close();
        m_clock.setTickStep(1);
        // Read once the simulator's thread has ended: the recall, then the power question,
        // the conversion and the reading, or the reading's two resets.
        if (linked)
            QCOMPARE(bus.busCounters().resets, bulk ? 4u : 3u);
    }

    // The adapter unplugged and plugged back (the simulator closed, a new one under the same
    // COM1 link): the port is closed, logged once, opened again, and readings go on.
    void portUnpluggedAndBack()
    {
        VirtualBus bus;
        bus.addSensor(SnA, 22.5);
        auto server = std::make_unique<PtyBusServer>(bus);
        QVERIFY2(server->open(), qPrintable(server->errorText()));
        const QString link = m_dir->filePath(QStringLiteral("COM1"));
        QVERIFY(server->linkAs(link));
        auto serving = std::make_unique<std::thread>([s = server.get()] { s->run(); });
        const auto stopServing = [&] {
            if (!serving)
                return;
            server->requestStop();
            serving->join();
            server->close();
            serving.reset();
        };
        // Also when a check fails midway (after the form, declared below, has gone).
        const auto stopAtEnd = qScopeGuard(stopServing);
        m_form.reset();
        m_clock.setTickStep(0);
        SystemClock realClock;
        auto form = makePtyForm(realClock);
        form->COMPort = 1;
        form->Timer1->setInterval(10);
        form->sensorSlots().AddItem(100, 100, QStringLiteral("Кухня"), SnA, true, 0, false, 0, 0, 255, CreateClearSign());
        QSignalSpy portChanges(form.get(), &TForm1::portStateChanged);
        form->N3->setChecked(true);
        form->N3Click();
        const QString storePath = form->store()->storePath();
        QTRY_VERIFY(statsRows(storePath) >= 3);

        stopServing(); // unplugged, mid-cycle or between cycles
        // The link (as one to /dev/serial/by-id/...) stays and dangles while it is unplugged.
        // Not to the old terminal's name: another program's pseudo-terminal may get it now.
        QVERIFY(QFile::link(m_dir->filePath(QStringLiteral("ttyUSB0-unplugged")), link));
        QTRY_COMPARE_WITH_TIMEOUT(portChanges.size(), 1, 15000);
        QVERIFY(!portChanges.at(0).at(0).toString().isEmpty());
        const int storedWhileLost = statsRows(storePath);
        QTest::qWait(300); // some thirty cycles without a port
        QCOMPARE(statsRows(storePath), storedWhileLost);
        QCOMPARE(form->Sns.Cells(1, 1), QStringLiteral("err"));
        QTRY_VERIFY(metricsText(*form).contains("\nkalvex_port_open 0\n"));

        // Plugged back: a new line under the same name.
        bus.setTemperature(SnA, 23.5);
        server = std::make_unique<PtyBusServer>(bus);
        QVERIFY2(server->open(), qPrintable(server->errorText()));
        QVERIFY(server->linkAs(link));
        serving = std::make_unique<std::thread>([s = server.get()] { s->run(); });
        QTRY_COMPARE(portChanges.size(), 2);
        QVERIFY(portChanges.at(1).at(0).toString().isEmpty());
        QTRY_VERIFY(statsRows(storePath) > storedWhileLost);
        QTRY_COMPARE(form->Sns.Cells(1, 1), QStringLiteral("23,5"));
        QVERIFY(form->N3->isChecked());
        QTRY_VERIFY(metricsText(*form).contains("\nkalvex_port_open 1\n"));
        QVERIFY(metricsText(*form).contains("\nkalvex_store_errors_total 0\n"));

        // One line for the loss, one for the return, no flood of sensors not answering.
        const QStringList lines = logMessages(*form);
        QCOMPARE(lines.filter(QStringLiteral("Порт COM1 потерян: ")).size(), 1);
        QCOMPARE(lines.filter(QStringLiteral("Порт COM1 снова открыт.")).size(), 1);
        QVERIFY(noAnswerLines(*form).size() <= 1);
        form.reset();
        stopServing();
        m_clock.setTickStep(1);
    }

private:
    int storetestRows()
    {
        sqlite3 *db = nullptr;
        int rows = -1;
        if (sqlite3_open_v2(QFile::encodeName(m_form->store()->storePath()).constData(), &db, SQLITE_OPEN_READONLY,
                            nullptr) == SQLITE_OK) {
            sqlite3_stmt *stmt = nullptr;
            if (sqlite3_prepare_v2(db, "select count(*) from stats", -1, &stmt, nullptr) == SQLITE_OK
                && sqlite3_step(stmt) == SQLITE_ROW)
                rows = sqlite3_column_int(stmt, 0);
            sqlite3_finalize(stmt);
        }
        sqlite3_close_v2(db);
        return rows;
    }
};

QTEST_MAIN(TestMonitorCycle)
#include "tst_monitorcycle.moc"
