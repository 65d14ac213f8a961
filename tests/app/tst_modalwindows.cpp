#include "app/ui/QtDialogBoxes.h"
#include "app/ui/SensorInfoWindow.h"
#include "app/ui/TForm1.h"
#include "base/Clock.h"
#include "base/Formats.h"
#include "history/ReadingStore.h"
#include "history/ui/TFormStats.h"
#include "monitor/ui/MonitorCycle.h"
#include "onewire/PosixSerialPort.h"
#include "onewire/PtyBusServer.h"
#include "onewire/TemperatureReader.h"
#include "onewire/VirtualBus.h"
#include "sensors/SensorRecords.h"
#include "sensors/ui/TForm2.h"
#include "sensors/ui/SensorSlots.h"
#include "support/FakeAppLauncher.h"
#include "support/FakeSoundPlayer.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <sqlite3.h>

#include <algorithm>
#include <memory>
#include <thread>

namespace {

const QString SnA = QStringLiteral("28ECEDC7050000F6");
const QString SnB = QStringLiteral("2825EA52050000CE");

// How long each window stays open, and the run goes on without it after; a cycle of two
// sensors takes about 1.5 s.
constexpr int HoldMs = 6000;

int storedReadings(const QString &path)
{
    sqlite3 *db = nullptr;
    int rows = 0;
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

int storedFor(const QString &path, const QString &serial)
{
    sqlite3 *db = nullptr;
    int rows = -1;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt *stmt = nullptr;
        const QByteArray sn = serial.toUtf8();
        if (sqlite3_prepare_v2(db, "select count(*) from stats where Sn = ?", -1, &stmt, nullptr) == SQLITE_OK
            && sqlite3_bind_text(stmt, 1, sn.constData(), static_cast<int>(sn.size()), SQLITE_TRANSIENT) == SQLITE_OK
            && sqlite3_step(stmt) == SQLITE_ROW)
            rows = sqlite3_column_int(stmt, 0);
        sqlite3_finalize(stmt);
    }
    sqlite3_close_v2(db);
    return rows;
}

// The program's window on COM1, a pseudo-terminal serving `bus` from a thread of its own;
// the thread is stopped and joined however the test ends, after the window has gone.
struct PtyProgram
{
    QTemporaryDir dir;
    QString programDir = dir.path() + QLatin1Char('/');
    PtyBusServer server;
    std::thread serving;
    SystemClock clock;
    QtDialogBoxes boxes;
    FakeSoundPlayer sound;
    FakeAppLauncher launcher;
    std::unique_ptr<TForm1> form;

    explicit PtyProgram(VirtualBus &bus) : server(bus) {}
    ~PtyProgram()
    {
        form.reset();
        if (serving.joinable()) {
            server.requestStop();
            serving.join();
        }
        server.close();
    }
    // False with the reason when the line cannot be served.
    bool start(QString &error)
    {
        if (!dir.isValid() || !server.open() || !server.linkAs(programDir + QStringLiteral("COM1"))) {
            error = server.errorText();
            return false;
        }
        serving = std::thread([this] { server.run(); });
        const QString folder = programDir;
        form = std::make_unique<TForm1>(TForm1Context{
            .clock = clock,
            .boxes = boxes,
            .programDir = ProgramDirectory{folder, QString(), QString()},
            .programCommand = {QStringLiteral("/opt/kalvex/kalvex")},
            .autostartFile = dir.filePath(QStringLiteral("autostart/Kalvex.desktop")),
            .makeSerialPort = [folder] { return std::make_unique<PosixSerialPort>(folder); },
            .demo = false,
            .sound = &sound,
            .launcher = &launcher,
        });
        form->COMPort = 1;
        return true;
    }
};

} // namespace

// The real window on the real serial port (a pseudo-terminal serving a modelled bus), with
// the real conversion wait and the program's own modal boxes: a window opened while a cycle
// waits on the bus must not hold polling.
class TestModalWindows : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { Formats::setCurrent(Formats::russian()); }

    void pollingGoesOnBehindAModalWindow_data()
    {
        QTest::addColumn<QString>("window");
        // The measure: as many readings as with no window open at all.
        QTest::newRow("no window") << QStringLiteral("none");
        QTest::newRow("about box") << QStringLiteral("about");
        QTest::newRow("settings dialog") << QStringLiteral("settings");
        QTest::newRow("sensor editor") << QStringLiteral("editor");
        QTest::newRow("chart help") << QStringLiteral("help");
        QTest::newRow("search result box, observation switched on under it") << QStringLiteral("search");
    }
    void pollingGoesOnBehindAModalWindow()
    {
        QFETCH(QString, window);
        VirtualBus bus;
        bus.addSensor(SnA, 21.5);
        bus.addSensor(SnB, 5.0);
        PtyProgram program(bus);
        QString error;
        QVERIFY2(program.start(error), qPrintable(error));
        const std::unique_ptr<TForm1> &form = program.form;
        form->Timer1->setInterval(100);
        form->show();
        // The search adds the sensors itself; the others poll two configured ones.
        if (window != QLatin1String("search")) {
            for (const QString &sn : {SnA, SnB})
                form->sensorSlots().AddItem(100, 100, sn.left(4), sn, true, 0, false, 0, 0, 255, CreateClearSign());
            form->N3->setChecked(true);
            form->N3Click();
        }
        const QString store = form->store()->storePath();

        int before = -1;
        int after = -1;
        bool done = false;
        // Counts what is stored while the window is open, then closes it.
        QTimer watcher;
        watcher.setInterval(20);
        QObject::connect(&watcher, &QTimer::timeout, form.get(), [&] {
            QDialog *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            watcher.stop();
            if (window == QLatin1String("search")) {
                // As from the tray's menu, which a box over the window does not block.
                form->N3->setChecked(true);
                form->N3Click();
            }
            before = storedReadings(store);
            QTimer::singleShot(HoldMs, dialog, [&, dialog] {
                after = storedReadings(store);
                dialog->reject();
                done = true;
            });
        });
        // The window opens in the middle of a cycle's wait (a search has its own box).
        QTimer opener;
        opener.setInterval(5);
        QObject::connect(&opener, &QTimer::timeout, form.get(), [&] {
            if (window != QLatin1String("search") && !form->monitorCycle().running())
                return;
            opener.stop();
            if (window == QLatin1String("none")) {
                before = storedReadings(store);
                QTimer::singleShot(HoldMs, form.get(), [&] {
                    after = storedReadings(store);
                    done = true;
                });
                return;
            }
            watcher.start();
            if (window == QLatin1String("about"))
                form->findChild<QAction *>(QStringLiteral("N7"))->trigger();
            else if (window == QLatin1String("settings"))
                form->findChild<QAction *>(QStringLiteral("N2"))->trigger();
            else if (window == QLatin1String("editor"))
                form->findChild<QAction *>(QStringLiteral("N4"))->trigger();
            else if (window == QLatin1String("help"))
                form->FormStats->SpeedButton2->click();
            else
                form->findChild<QAction *>(QStringLiteral("N5"))->trigger();
        });
        opener.start();
        QTRY_VERIFY_WITH_TIMEOUT(done, HoldMs + 20000);
        QVERIFY(before >= 0);
        // The measure: what the same run stores in the same time once the window is closed.
        // The two phases may differ by the cycle under way at their ends (two readings).
        const int alone = storedReadings(store);
        QTest::qWait(HoldMs);
        const int withoutWindow = storedReadings(store) - alone;
        QVERIFY(withoutWindow >= 4);
        QVERIFY2(after - before >= withoutWindow - 2,
                 qPrintable(QStringLiteral("%1 readings stored while open, %2 without a window").arg(after - before).arg(withoutWindow)));
        qInfo("%d readings stored in %d ms (%s), %d without", after - before, HoldMs, qPrintable(window), withoutWindow);
    }

    // Observation switched on while a search, a single read or a diagnosis has the port (or
    // waits for it behind a cycle) polls on once that operation is over.
    void observationSwitchedOnWhileTheBusIsLent_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<bool>("behindACycle");
        QTest::newRow("search, while it searches") << QStringLiteral("search") << false;
        QTest::newRow("search, waiting for a cycle") << QStringLiteral("search") << true;
        QTest::newRow("single read") << QStringLiteral("read") << false;
        QTest::newRow("sensor info, while it diagnoses") << QStringLiteral("info") << false;
        QTest::newRow("sensor info, waiting for a cycle") << QStringLiteral("info") << true;
    }
    void observationSwitchedOnWhileTheBusIsLent()
    {
        QFETCH(QString, operation);
        QFETCH(bool, behindACycle);
        VirtualBus bus;
        bus.addSensor(SnA, 21.5);
        bus.addSensor(SnB, 5.0);
        PtyProgram program(bus);
        // A USB adapter's latency: every round trip of the operation is a wait.
        program.server.setLatencyMs(16);
        QString error;
        QVERIFY2(program.start(error), qPrintable(error));
        TForm1 &form = *program.form;
        form.Timer1->setInterval(100);
        form.show();
        if (operation != QLatin1String("search")) {
            for (const QString &sn : {SnA, SnB})
                form.sensorSlots().AddItem(100, 100, sn.left(4), sn, true, 0, false, 0, 0, 255, CreateClearSign());
        }
        if (behindACycle) {
            form.sensorSlots().AddItem(100, 100, SnA.left(4), SnA, true, 0, false, 0, 0, 255, CreateClearSign());
            form.N3->setChecked(true);
            form.N3Click();
            QTRY_VERIFY_WITH_TIMEOUT(form.monitorCycle().running(), 5000);
        }
        // The search's summary is answered as soon as it shows.
        bool answered = false;
        QTimer answerer;
        answerer.setInterval(20);
        QObject::connect(&answerer, &QTimer::timeout, &form, [&answered] {
            if (QDialog *box = qobject_cast<QDialog *>(QApplication::activeModalWidget())) {
                box->reject();
                answered = true;
            }
        });
        answerer.start();
        if (operation == QLatin1String("search")) {
            form.findChild<QAction *>(QStringLiteral("N5"))->trigger();
        } else if (operation == QLatin1String("read")) {
            form.Button1->click();
        } else {
            form.sensorSlots().SelectedItem = 0;
            form.NInfo->trigger();
        }
        // The operation has the port or waits for it: observation is switched (back) on now.
        QVERIFY(!form.busIdle());
        if (behindACycle) {
            form.N3->setChecked(false);
            form.N3Click();
        }
        form.N3->setChecked(true);
        form.N3Click();
        const auto over = [&] {
            if (operation == QLatin1String("search"))
                return answered;
            if (operation == QLatin1String("read"))
                return form.Memo1->toPlainText().contains(QStringLiteral("s/n : "));
            const SensorInfoWindow *window = form.findChild<SensorInfoWindow *>();
            return window && window->text().contains(QStringLiteral("Вывод:"));
        };
        QTRY_VERIFY_WITH_TIMEOUT(over(), 30000);
        QVERIFY(form.N3->isChecked());
        const QString store = form.store()->storePath();
        const int before = storedReadings(store);
        QTRY_VERIFY_WITH_TIMEOUT(storedReadings(store) - before >= 2, 15000);
        QVERIFY(form.serialPort()->isOpen());
    }

    // The sensor editor applied through the window in the middle of a real conversion wait
    // (750 ms on the real port): the reading under way belongs to the old serial and is
    // dropped, nothing of it lands in the edited slot, the next sensor is read as usual.
    void editorAppliedDuringTheConversionWait()
    {
        VirtualBus bus;
        bus.addSensor(SnA, 21.5);
        bus.addSensor(SnB, 5.0);
        PtyProgram program(bus);
        QString error;
        QVERIFY2(program.start(error), qPrintable(error));
        TForm1 &form = *program.form;
        QCOMPARE(form.temperatureReader()->conversionDelayMs(), 750);
        form.show();
        for (const QString &sn : {SnA, SnB})
            form.sensorSlots().AddItem(100, 100, sn.left(4), sn, true, 0, false, 0, 0, 255, CreateClearSign());
        const QString gone = QStringLiteral("28000000000000AB");
        bool applied = false;
        QTimer editor;
        editor.setInterval(20);
        QObject::connect(&editor, &QTimer::timeout, &form, [&] {
            auto *dialog = qobject_cast<TForm2 *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            editor.stop();
            dialog->Edit2->setText(gone);
            dialog->BOk->click();
            applied = true;
        });
        form.N3->setChecked(true);
        form.N3Click();
        // Well inside the first sensor's wait: its reset and Convert T take milliseconds.
        QTest::qWait(250);
        QVERIFY(form.monitorCycle().running());
        editor.start();
        form.sensorSlots().SelectedItem = 0;
        form.findChild<QAction *>(QStringLiteral("N18"))->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(applied && !form.monitorCycle().running(), 10000);
        form.N3->setChecked(false);
        form.N3Click();
        QTRY_VERIFY_WITH_TIMEOUT(form.busIdle(), 10000);
        QCOMPARE(form.sensorSlots().DSItems[0].SN, gone);
        QCOMPARE(form.sensorSlots().DSItems[0].LastTemp, 0.0);
        const QString store = form.store()->storePath();
        QCOMPARE(storedFor(store, SnA), 0);
        QCOMPARE(storedFor(store, gone), 0);
        QCOMPARE(storedFor(store, SnB), 1);
    }

    // Nothing echoes: each of the 30 transactions of a cycle (ten sensors, three attempts)
    // waits out the port's read time-out, and the window goes on all the while.
    void windowAnswersOnASilentLine()
    {
        VirtualBus bus;
        bus.setFault(VirtualBus::EchoFault::NoEcho);
        PtyProgram program(bus);
        QString error;
        QVERIFY2(program.start(error), qPrintable(error));
        std::unique_ptr<TForm1> &form = program.form;
        for (int k = 0; k < 10; ++k) {
            const QString sn = QStringLiteral("28ECEDC70500%1F6").arg(k, 2, 10, QLatin1Char('0'));
            form->sensorSlots().AddItem(100, 100, sn.left(4), sn, true, 0, false, 0, 0, 255, CreateClearSign());
        }
        form->show();

        QElapsedTimer elapsed;
        elapsed.start();
        qint64 last = 0;
        qint64 longest = 0;
        QTimer ticker;
        ticker.setTimerType(Qt::PreciseTimer);
        QObject::connect(&ticker, &QTimer::timeout, form.get(), [&] {
            const qint64 now = elapsed.elapsed();
            longest = std::max(longest, now - last);
            last = now;
        });
        ticker.start(2);
        form->N3->setChecked(true);
        form->N3Click();
        QTRY_VERIFY_WITH_TIMEOUT(form->busIdle(), 60000);
        ticker.stop();
        // Every sensor went through its attempts, none answered.
        const QStringList log = form->Memo1->toPlainText().split(QLatin1Char('\n'));
        QCOMPARE(log.filter(QStringLiteral("Датчик не отвечает: ")).size(), 10);
        // A read waited on the window thread would hold it the port's whole second; a busy
        // machine may hold it a little.
        QVERIFY2(longest < 400, qPrintable(QStringLiteral("the window stood still for %1 ms").arg(longest)));
        // Closing in the middle of a wait on the silent line is prompt.
        form->Nabl();
        QTest::qWait(300);
        QVERIFY(!form->busIdle());
        QElapsedTimer closing;
        closing.start();
        form.reset();
        QVERIFY(closing.elapsed() < 2000);
    }
};

QTEST_MAIN(TestModalWindows)
#include "tst_modalwindows.moc"
