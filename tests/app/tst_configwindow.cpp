#include "base/DateTime.h"
#include "base/Formats.h"
#include "base/NumberText.h"
#include "app/ui/TForm1.h"
#include "history/StoreTestUtil.h"
#include "monitor/ui/LiveChart.h"
#include "onewire/VirtualBus.h"
#include "sensors/IniFile.h"
#include "sensors/IniTestSupport.h"
#include "sensors/KalvexConfig.h"
#include "sensors/TColorConvert.h"
#include "sensors/ui/SensorSlots.h"
#include "onewire/TemperatureReader.h"
#include "support/FakeClock.h"
#include "support/FakeDialogBoxes.h"
#include "web/HttpClient.h"

#include <QAction>
#include <QApplication>
#include <QMouseEvent>
#include <QSplitter>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <memory>

namespace {

const QString stamp = QStringLiteral("08.12.2026 14:05:09 : ");
const QString sensorA = QStringLiteral("28ECEDC7050000F6");
const QString sensorB = QStringLiteral("2825EA52050000CE");
const QString sensorC = QStringLiteral("108739A80208006F");

QStringList logLines(const TForm1 &form)
{
    QStringList lines;
    for (QTextBlock b = form.Memo1->document()->begin(); b.isValid(); b = b.next()) {
        if (!b.text().isEmpty())
            lines << b.text();
    }
    return lines;
}

TSign someControls(double base)
{
    TSign sign = CreateClearSign();
    sign[0] = {true, true, base + 30, QStringLiteral("WARN"), true, QString(), false};
    sign[2] = {true, false, -2.5, QStringLiteral("/звуки/тревога.wav"), true,
               QStringLiteral("/usr/bin/notify-send Холодно"), true};
    return sign;
}

// Every key away from its default, three sensors with Cyrillic names and odd positions.
KalvexConfig richConfig()
{
    KalvexConfig c;
    c.GneralPanel = true;
    c.bkFileName = QStringLiteral("план дома.jpg");
    c.COMPort = 7;
    c.CharMaxCount = 25;
    c.TimeOut = 2500;
    c.HTTPActive = true;
    // Free when the test starts: the window's server must start on it, and another test may
    // hold a fixed port (the demo's fallback test holds 8080).
    static const int port = httpclient::freePort();
    c.HTTPPort = port;
    c.CharMinMaxAuto = false;
    c.CharMinY = -5.5;
    c.CharMaxY = 35;
    c.SnsHeight = 180;
    c.SHourHeight = 220;
    c.LogHeight = 100;
    c.P3Width = 450;
    c.AutoNab = false;
    c.StartMin = false;
    c.WinStartRun = true;
    c.Items = {
        {40, 70, QStringLiteral("Кухня"), sensorA, true, -0.25, false, 255, 0, 32768, someControls(0)},
        {200, 120, QStringLiteral("Улица"), sensorB, false, 1.5, false, 16711680, 16777215, 8388736, someControls(5)},
        {333, 44, QStringLiteral("Котёл"), sensorC, true, 0, false, 12632256, 128, 65535, CreateClearSign()},
    };
    return c;
}

// The fields of slot i as they would be stored.
SensorConfig slotAsStored(const TForm1 &form, int i)
{
    const SensorSlots &sensors = form.sensorSlots();
    const TDSItem &item = sensors.DSItems.at(static_cast<std::size_t>(i));
    return {item.ImageCtl->x(), item.ImageCtl->y(), sensors.name(i), item.SN, item.Enable, item.Correct,
            item.Tray, item.CBFon, item.CBText, item.CBChart, item.Sign};
}

} // namespace

class TestConfigWindow : public QObject
{
    Q_OBJECT

private:
    FakeClock m_clock;
    FakeDialogBoxes m_boxes;
    std::unique_ptr<QTemporaryDir> m_dir;
    // The sensors the bus of the next window carries, and that bus once it exists.
    QStringList m_busSerials;
    VirtualBus *m_bus = nullptr;
    bool m_noPort = false;

    QString path(const QString &name) const { return m_dir->filePath(name); }
    QString iniPath() const { return path(QStringLiteral("Kalvex.ini")); }

    std::unique_ptr<TForm1> makeForm(bool show = true)
    {
        m_bus = nullptr;
        auto form = std::make_unique<TForm1>(TForm1Context{
            .clock = m_clock,
            .boxes = m_boxes,
            .programDir = ProgramDirectory{m_dir->path() + QLatin1Char('/'), QString(), QString()},
            .programCommand = {QStringLiteral("/opt/kalvex/kalvex")},
            .autostartFile = path(QStringLiteral("autostart/Kalvex.desktop")),
            .makeSerialPort =
                [this]() -> std::unique_ptr<SerialPort> {
                    if (m_noPort)
                        return nullptr;
                    auto bus = std::make_unique<VirtualBus>();
                    for (const QString &serial : std::as_const(m_busSerials))
                        bus->addSensor(serial);
                    m_bus = bus.get();
                    return bus;
                },
        });
        // The clock stands still: the conversion wait must not count on it.
        if (form->temperatureReader())
            form->temperatureReader()->setConversionDelayMs(0);
        if (show) {
            form->show();
            if (!QTest::qWaitForWindowExposed(form.get()))
                qWarning("window not exposed");
        }
        return form;
    }

    // The new sensors of a search, in slot order.
    static QList<int> newSlots(const TForm1 &form)
    {
        QList<int> found;
        for (int i = 0; i < static_cast<int>(form.sensorSlots().DSItems.size()); ++i) {
            if (form.sensorSlots().name(i) == QStringLiteral("Новый DS"))
                found << i;
        }
        return found;
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
        m_busSerials.clear();
        m_noPort = false;
        m_clock.setNow(QDateTime(QDate(2026, 12, 8), QTime(14, 5, 9)));
    }

    void noFileGivesEveryDefault()
    {
        auto form = makeForm();
        QVERIFY(!form->N10->isChecked());
        QVERIFY(!form->menuBar()->isVisible());
        QCOMPARE(form->bkFileName, QStringLiteral("bk.jpg"));
        QCOMPARE(form->Timer1->interval(), 10000);
        QCOMPARE(form->COMPort, 1);
        QCOMPARE(form->CharMaxCount, 10);
        QVERIFY(form->CharMinMaxAuto);
        // Automatic bounds: the axis is left as designed until the first cycle.
        QCOMPARE(form->liveChart().leftMinimum(), -50.0);
        QCOMPARE(form->liveChart().leftMaximum(), 50.0);
        QCOMPARE(form->snsHeight(), 200);
        QCOMPARE(form->sHourHeight(), 200);
        QCOMPARE(form->logHeight(), 150);
        QCOMPARE(form->panel3Width(), 400);
        QCOMPARE(form->HTTPPort, 80);
        QCOMPARE(form->HTTPBinding, QStringLiteral("0.0.0.0"));
        QVERIFY(!form->HTTP_Active->isChecked());
        QVERIFY(!form->AutoNab);
        QVERIFY(!form->StartMin);
        QVERIFY(!form->WinStartRun);
        QVERIFY(form->sensorSlots().DSItems.empty());
        QVERIFY(m_boxes.errors.isEmpty());
        // Nothing is written before shutdown.
        QVERIFY(!QFile::exists(iniPath()));
        form.reset();
        QCOMPARE(loadConfig(iniPath()), KalvexConfig());
    }

    void settingsAndSensorsReachTheWindow()
    {
        const KalvexConfig config = richConfig();
        QVERIFY(writeConfig(iniPath(), config));
        auto form = makeForm();

        QVERIFY(form->N10->isChecked());
        QVERIFY(form->menuBar()->isVisible());
        QCOMPARE(form->bkFileName, config.bkFileName);
        QCOMPARE(form->Timer1->interval(), 2500);
        QCOMPARE(form->COMPort, 7);
        QCOMPARE(form->CharMaxCount, 25);
        QVERIFY(!form->CharMinMaxAuto);
        QCOMPARE(form->liveChart().leftMinimum(), -5.5);
        QCOMPARE(form->liveChart().leftMaximum(), 35.0);
        QCOMPARE(form->snsHeight(), 180);
        QCOMPARE(form->sHourHeight(), 220);
        QCOMPARE(form->logHeight(), 100);
        QCOMPARE(form->panel3Width(), 450);
        QCOMPARE(form->HTTPPort, config.HTTPPort);
        QCOMPARE(form->HTTPBinding, QStringLiteral("0.0.0.0"));
        QVERIFY(form->HTTP_Active->isChecked());
        QVERIFY(form->WinStartRun);

        const SensorSlots &sensors = form->sensorSlots();
        QCOMPARE(sensors.DSItems.size(), config.Items.size());
        for (int i = 0; i < 3; ++i) {
            const SensorConfig &want = config.Items[static_cast<std::size_t>(i)];
            QVERIFY(sensors.inUse(i));
            QCOMPARE(slotAsStored(*form, i), want);
            const TDSItem &item = sensors.DSItems[static_cast<std::size_t>(i)];
            QCOMPARE(item.ImageCtl->toolTip(), want.SN);
            QCOMPARE(sensors.picture(i) != nullptr, true);
            QCOMPARE(static_cast<QLabel *>(item.ImageCtl.data())->pixmap().cacheKey(),
                     (want.Enable ? sensors.onPicture() : sensors.offPicture()).cacheKey());
            QCOMPARE(form->liveChart().lineTitle(item.Series), want.Name);
            QCOMPARE(form->liveChart().lineColor(item.Series), toQColor(want.CBChart));
            // The lines were made after CharMaxCount was known.
            QCOMPARE(form->liveChart().pointCount(item.Series), 25);
        }
        QVERIFY(m_boxes.errors.isEmpty());
    }

    void missingSensorKeysGiveDefaults()
    {
        writeAll(iniPath(), "[Items]\r\nItemCount=2\r\nItemName0=Спальня\r\nItemSN0=28AA\r\n");
        auto form = makeForm();
        QCOMPARE(form->sensorSlots().DSItems.size(), std::size_t(2));
        SensorConfig second = slotAsStored(*form, 1);
        QVERIFY(std::find(StandardColors.begin(), StandardColors.end(), second.CBChart) != StandardColors.end());
        second.CBChart = 0;
        QCOMPARE(second, SensorConfig());
        QCOMPARE(slotAsStored(*form, 0).Name, QStringLiteral("Спальня"));
        QCOMPARE(slotAsStored(*form, 0).SN, QStringLiteral("28AA"));
        QCOMPARE(slotAsStored(*form, 0).X, 1);
    }

    // A name or path is the text after "=" to the end of the line, blanks and all, and it
    // is written back the same.
    void textValuesKeepTheirBlanks()
    {
        writeAll(iniPath(), QStringLiteral("[Items]\r\nItemCount=1\r\nItemName0=  Кухня  \r\nItemSN0=28AA\r\n"
                                           "Item0Sig1mp3path= /звуки/сигнал .wav\r\n").toUtf8());
        {
            auto form = makeForm();
            QCOMPARE(form->sensorSlots().name(0), QStringLiteral("  Кухня  "));
            QCOMPARE(form->sensorSlots().DSItems[0].Sign[0].mp3path, QStringLiteral(" /звуки/сигнал .wav"));
        }
        const QByteArray saved = readAll(iniPath());
        QVERIFY(saved.contains("ItemName0=  \xCA\xF3\xF5\xED\xFF  \n") || saved.contains("ItemName0=  \xCA\xF3\xF5\xED\xFF  \r\n"));
    }

    // Values the window cannot use are replaced, and each replacement is logged once.
    void replacedValuesAreLogged()
    {
        writeAll(iniPath(), "[General]\r\nTimeOut=0\r\nLogHeight=-5\r\nP3Width=-1\r\nSnsHeight=120\r\n");
        auto form = makeForm();
        QCOMPARE(form->Timer1->interval(), 10000);
        // What the window shows of a size below its least is said as well.
        QCOMPARE(logLines(*form), (QStringList{stamp + QStringLiteral("Kalvex.ini: TimeOut=0 заменено на 10000."),
                                               stamp + QStringLiteral("Kalvex.ini: LogHeight=-5 заменено на 0."),
                                               stamp + QStringLiteral("Kalvex.ini: P3Width=-1 заменено на 0."),
                                               stamp + QStringLiteral("Kalvex.ini: LogHeight=0: показано 20."),
                                               stamp + QStringLiteral("Kalvex.ini: P3Width=0: показано %1.").arg(form->leastPanel3Width())}));
    }

    // A stray sensor number far beyond ItemCount: that sensor is kept, the numbers between
    // (no key of theirs in the file) make no sensor.
    void straySensorNumberMakesNoGap()
    {
        writeAll(iniPath(), "[Items]\r\nItemCount=1\r\nItemName0=Kitchen\r\nItemSN0=28AA\r\n"
                            "ItemSN900=28BB\r\nItemTop900=70\r\nItemLeft900=90\r\n");
        {
            auto form = makeForm();
            const SensorSlots &sensors = form->sensorSlots();
            QCOMPARE(sensors.DSItems.size(), std::size_t(2));
            QCOMPARE(slotAsStored(*form, 0).SN, QStringLiteral("28AA"));
            QCOMPARE(slotAsStored(*form, 1).SN, QStringLiteral("28BB"));
            QCOMPARE(sensors.DSItems[1].ImageCtl->pos(), QPoint(90, 70));
            QCOMPARE(logLines(*form).filter(QStringLiteral("ItemCount=1: загружено датчиков: 2.")).size(), 1);
        }
        // Saved as the two sensors they are.
        const KalvexConfig saved = loadConfig(iniPath());
        QCOMPARE(saved.Items.size(), std::size_t(2));
        QCOMPARE(saved.Items[1].SN, QStringLiteral("28BB"));
    }

    void fixedBounds_data()
    {
        QTest::addColumn<QByteArray>("general");
        QTest::addColumn<double>("axisMin");
        QTest::addColumn<double>("axisMax");
        QTest::addColumn<double>("savedMin");
        QTest::newRow("swapped bounds") << QByteArray("CharMinMaxAuto=0\nCharMinY=30\nCharMaxY=20\n") << 10.0 << 20.0 << 10.0;
        QTest::newRow("equal bounds") << QByteArray("CharMinMaxAuto=0\nCharMinY=20\nCharMaxY=20\n") << 19.0 << 21.0 << 20.0;
        QTest::newRow("decimal comma") << QByteArray("CharMinMaxAuto=0\nCharMinY=-2,5\nCharMaxY=1001\n") << -2.5 << 1001.0 << -2.5;
        QTest::newRow("above the 999 step") << QByteArray("CharMinMaxAuto=0\nCharMinY=1500\nCharMaxY=1600\n") << 1500.0 << 1600.0 << 1500.0;
        QTest::newRow("automatic: axis and bounds left alone")
            << QByteArray("CharMinMaxAuto=1\nCharMinY=30\nCharMaxY=20\n") << -50.0 << 50.0 << 30.0;
    }
    void fixedBounds()
    {
        QFETCH(QByteArray, general);
        QFETCH(double, axisMin);
        QFETCH(double, axisMax);
        QFETCH(double, savedMin);
        writeAll(iniPath(), "[General]\n" + general);
        auto form = makeForm();
        QCOMPARE(form->liveChart().leftMinimum(), axisMin);
        QCOMPARE(form->liveChart().leftMaximum(), axisMax);
        form.reset();
        QCOMPARE(loadConfig(iniPath()).CharMinY, savedMin);
        QCOMPARE(IniFile::fromBytes(readAll(iniPath())).readString(QStringLiteral("General"), QStringLiteral("CharMinY"), QString()),
                 numbertext::general(savedMin));
    }

    void zeroGridHeightGives200()
    {
        writeAll(iniPath(), "[General]\nSnsHeight=0\nSHourHeight=0\nLogHeight=60\nP3Width=520\n");
        auto form = makeForm();
        QCOMPARE(form->snsHeight(), 200);
        QCOMPARE(form->sHourHeight(), 200);
        QCOMPARE(form->logHeight(), 60);
        QCOMPARE(form->panel3Width(), 520);
    }

    // Sizes the window cannot show as they are (below a pane's least size, beyond the
    // screen) come back as they were loaded; a divider the user dragged is saved as dragged.
    void sizesComeBackAsLoaded_data()
    {
        QTest::addColumn<QByteArray>("general");
        QTest::addColumn<bool>("drag");
        QTest::newRow("least") << QByteArray("SnsHeight=1\nSHourHeight=1\nLogHeight=1\nP3Width=1\n") << false;
        QTest::newRow("too large") << QByteArray("SnsHeight=700\nSHourHeight=700\nLogHeight=0\nP3Width=1300\n") << false;
        QTest::newRow("column divider dragged") << QByteArray("SnsHeight=120\nSHourHeight=130\nLogHeight=60\nP3Width=300\n")
                                                << true;
    }
    void sizesComeBackAsLoaded()
    {
        QFETCH(QByteArray, general);
        QFETCH(bool, drag);
        writeAll(iniPath(), "[General]\n" + general);
        const KalvexConfig loaded = loadConfig(iniPath());
        auto form = makeForm();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        int dragged = loaded.P3Width;
        if (loaded.P3Width == 1) {
            // What the log says is shown is what is shown.
            QCOMPARE(form->Splitter3->sizes().value(0), form->leastPanel3Width());
            QCOMPARE(form->SnsView->height(), TForm1Ui::leastPaneHeight);
            QCOMPARE(logLines(*form).filter(QStringLiteral(": показано ")).size(), 4);
        }
        if (drag) {
            QWidget *handle = form->Splitter3->handle(1);
            const QPoint from = handle->rect().center();
            const QPoint to = from + QPoint(50, 0);
            QTest::mousePress(handle, Qt::LeftButton, {}, from);
            QMouseEvent move(QEvent::MouseMove, QPointF(to), handle->mapToGlobal(QPointF(to)), Qt::NoButton, Qt::LeftButton,
                             Qt::NoModifier);
            QApplication::sendEvent(handle, &move);
            QTest::mouseRelease(handle, Qt::LeftButton, {}, to);
            dragged = form->Splitter3->sizes().value(0);
            QVERIFY(dragged > loaded.P3Width);
        }
        form.reset();
        const KalvexConfig saved = loadConfig(iniPath());
        QCOMPARE((QList<int>{saved.SnsHeight, saved.SHourHeight, saved.LogHeight, saved.P3Width}),
                 (QList<int>{loaded.SnsHeight, loaded.SHourHeight, loaded.LogHeight, dragged}));
    }

    void freeSlotsAreNotSaved()
    {
        QVERIFY(writeConfig(iniPath(), richConfig()));
        auto form = makeForm();
        m_boxes.confirmAnswers.enqueue(true);
        form->sensorSlots().DeleteItem(1);
        QVERIFY(!form->sensorSlots().inUse(1));
        const SensorConfig first = slotAsStored(*form, 0);
        const SensorConfig third = slotAsStored(*form, 2);
        form.reset();

        const IniFile ini = IniFile::fromBytes(readAll(iniPath()));
        QCOMPARE(ini.readInteger(QStringLiteral("Items"), QStringLiteral("ItemCount"), -1), 2);
        QVERIFY(!ini.hasKey(QStringLiteral("Items"), QStringLiteral("ItemSN2")));
        const KalvexConfig saved = loadConfig(iniPath());
        QCOMPARE(saved.Items.size(), std::size_t(2));
        QCOMPARE(saved.Items[0], first);
        QCOMPARE(saved.Items[1], third);

        // At the next start they take slots 0 and 1.
        form = makeForm();
        QCOMPARE(form->sensorSlots().DSItems.size(), std::size_t(2));
        QCOMPARE(slotAsStored(*form, 1), third);
    }

    void noSensorsSaveOnlyTheCount()
    {
        auto form = makeForm();
        form.reset();
        const QByteArray text = readAll(iniPath());
        QVERIFY2(text.endsWith("[Items]\r\nItemCount=0\r\n") || text.endsWith("[Items]\nItemCount=0\n"), text.constData());
    }

    void windowStateIsSaved()
    {
        QVERIFY(writeConfig(iniPath(), richConfig()));
        auto form = makeForm();
        form->N10->trigger();
        form->COMPort = 3;
        form->Timer1->setInterval(60000);
        form->HTTP_Active->setChecked(false);
        form->HTTPPort = 8181;
        form->AutoNab = true;
        form->setPanel3Width(430);
        form->sensorSlots().placeItem(2, 10, 500);
        form->sensorSlots().SelectedItem = 0;
        form->NImgOff->trigger();
        form.reset();

        KalvexConfig want = richConfig();
        want.GneralPanel = false;
        want.COMPort = 3;
        want.TimeOut = 60000;
        want.HTTPActive = false;
        want.HTTPPort = 8181;
        want.AutoNab = true;
        want.P3Width = 430;
        want.Items[2].X = 10;
        want.Items[2].Y = 500;
        want.Items[0].Enable = false;
        QCOMPARE(loadConfig(iniPath()), want);
    }

    void roundTripThroughTheWindow()
    {
        const KalvexConfig config = richConfig();
        QVERIFY(writeConfig(iniPath(), config));
        auto form = makeForm();
        form.reset();
        QCOMPARE(loadConfig(iniPath()), config);
        const QByteArray first = readAll(iniPath());

        form = makeForm();
        form.reset();
        QCOMPARE(readAll(iniPath()), first);
    }

    void windowNeverShownKeepsTheLayout()
    {
        // With StartMin the window may go to the tray before it was ever laid out.
        const KalvexConfig config = richConfig();
        QVERIFY(writeConfig(iniPath(), config));
        auto form = makeForm(false);
        form.reset();
        const KalvexConfig saved = loadConfig(iniPath());
        QCOMPARE(saved.SnsHeight, config.SnsHeight);
        QCOMPARE(saved.SHourHeight, config.SHourHeight);
        QCOMPARE(saved.LogHeight, config.LogHeight);
        QCOMPARE(saved.P3Width, config.P3Width);
        QCOMPARE(saved, config);
    }

    void failedSaveKeepsTheOldFile_data()
    {
        QTest::addColumn<bool>("immutable");
        QTest::newRow("directory refuses writes") << true;
        QTest::newRow("disk full") << false;
    }
    void failedSaveKeepsTheOldFile()
    {
        QFETCH(bool, immutable);
        KalvexConfig config = richConfig();
        config.WinStartRun = false; // the autostart entry's own failure is another story
        QVERIFY(writeConfig(iniPath(), config));
        const QByteArray old = readAll(iniPath());
        auto form = makeForm();
        form->COMPort = 9;
        QSignalSpy closed(form.get(), &TForm1::closed);
        form->N1->trigger();
        QCOMPARE(closed.size(), 1);
        QVERIFY(!form->isVisible());
        {
            std::unique_ptr<ImmutableDir> lock;
            std::unique_ptr<FileSizeLimit> limit;
            if (immutable) {
                lock = std::make_unique<ImmutableDir>(m_dir->path());
                if (!lock->ok())
                    QSKIP("the file system refuses the immutable flag here");
            } else {
                limit = std::make_unique<FileSizeLimit>(64);
            }
            QTest::ignoreMessage(QtWarningMsg,
                                 QRegularExpression(QStringLiteral("Kalvex.ini not written after 4 attempts")));
            form.reset();
        }
        QCOMPARE(readAll(iniPath()), old);
        const QStringList left = QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden);
        QVERIFY2(std::none_of(left.begin(), left.end(), [](const QString &n) { return n.startsWith(QLatin1Char('.')); }),
                 qPrintable(left.join(QLatin1Char(' '))));
        QVERIFY(m_boxes.errors.isEmpty());
        QVERIFY(m_boxes.messages.isEmpty());
        // The next run saves again.
        form = makeForm();
        form->COMPort = 9;
        form.reset();
        QCOMPARE(loadConfig(iniPath()).COMPort, 9);
    }

    void search_data()
    {
        QTest::addColumn<QStringList>("configured");
        QTest::addColumn<bool>("deleteFirst");
        QTest::addColumn<QStringList>("bus");
        QTest::addColumn<QStringList>("added");
        QTest::newRow("known in lower case, one new")
            << QStringList{sensorA.toLower()} << false << QStringList{sensorA, sensorB} << QStringList{sensorB};
        QTest::newRow("three new") << QStringList() << false << QStringList{sensorA, sensorB, sensorC}
                                   << QStringList{sensorA, sensorB, sensorC};
        QTest::newRow("a deleted sensor is new again")
            << QStringList{sensorA} << true << QStringList{sensorA} << QStringList{sensorA};
        QTest::newRow("a switched-off sensor stays known")
            << QStringList{sensorB, sensorC} << false << QStringList{sensorC, sensorB} << QStringList();
        QTest::newRow("empty bus") << QStringList{sensorA} << false << QStringList() << QStringList();
    }
    void search()
    {
        QFETCH(QStringList, configured);
        QFETCH(bool, deleteFirst);
        QFETCH(QStringList, bus);
        QFETCH(QStringList, added);
        KalvexConfig config;
        for (int i = 0; i < configured.size(); ++i)
            config.Items.push_back({50, 50 + 60 * i, QStringLiteral("Датчик %1").arg(i), configured[i], i == 0, 0,
                                    false, DefaultTrayBackground, DefaultTrayText, 255, CreateClearSign()});
        QVERIFY(writeConfig(iniPath(), config));
        m_busSerials = bus;
        auto form = makeForm();
        if (deleteFirst) {
            m_boxes.confirmAnswers.enqueue(true);
            form->sensorSlots().DeleteItem(0);
        }
        QVERIFY(form->N5->isEnabled());

        form->N5->trigger();

        QCOMPARE(m_boxes.messages, QStringList{QStringLiteral("Найдено датчиков: %1, из них новых: %2")
                                                   .arg(bus.size())
                                                   .arg(added.size())});
        const QList<int> fresh = newSlots(*form);
        QCOMPARE(fresh.size(), added.size());
        QStringList serials;
        QStringList logged;
        for (int k = 0; k < fresh.size(); ++k) {
            SensorConfig got = slotAsStored(*form, fresh[k]);
            serials << got.SN;
            logged << stamp + QStringLiteral("Добавлен датчик: ") + got.SN;
            QVERIFY(std::find(StandardColors.begin(), StandardColors.end(), got.CBChart) != StandardColors.end());
            const int at = 300 + 30 * (k + 1);
            QCOMPARE(got, (SensorConfig{at, at, QStringLiteral("Новый DS"), got.SN, true, 0, false, DefaultTrayBackground,
                                        DefaultTrayText, got.CBChart, CreateClearSign()}));
        }
        QStringList sortedSerials = serials;
        sortedSerials.sort();
        added.sort();
        QCOMPARE(sortedSerials, added);
        QCOMPARE(logLines(*form), logged);
        // Known sensors are untouched; a deleted slot is reused by the first new sensor.
        if (deleteFirst)
            QCOMPARE(fresh.value(0), 0);
        for (int i = deleteFirst ? 1 : 0; i < configured.size(); ++i)
            QCOMPARE(form->sensorSlots().name(i), QStringLiteral("Датчик %1").arg(i));
        QVERIFY(!m_bus->isOpen());
        QVERIFY(!form->N3->isChecked());
        QVERIFY(m_boxes.errors.isEmpty());
    }

    void searchSwitchesObservationOff()
    {
        m_busSerials = {sensorA};
        auto form = makeForm();
        form->N3->trigger();
        QVERIFY(form->N3->isChecked());
        QVERIFY(form->Timer1->isActive());

        form->N5->trigger();

        QCOMPARE(logLines(*form), (QStringList{stamp + QStringLiteral("Отслеживание датчиков включено."),
                                               stamp + QStringLiteral("Отслеживание датчиков выключено."),
                                               stamp + QStringLiteral("Добавлен датчик: ") + sensorA}));
        QCOMPARE(m_boxes.messages, QStringList{QStringLiteral("Найдено датчиков: 1, из них новых: 1")});
        QVERIFY(!form->N3->isChecked());
        QVERIFY(!form->BScan->isChecked());
        QVERIFY(!form->Timer1->isActive());
        QVERIFY(!m_bus->isOpen());
    }

    void busyPort_data()
    {
        QTest::addColumn<bool>("portMissing");
        QTest::newRow("held by another program") << false;
        QTest::newRow("no port at all") << true;
    }
    void busyPort()
    {
        QFETCH(bool, portMissing);
        m_busSerials = {sensorA};
        m_noPort = portMissing;
        auto form = makeForm();
        // Observation was on as far as the window is concerned (a port that went away).
        if (portMissing) {
            form->N3->setChecked(true);
        } else {
            form->N3->trigger();
            m_bus->setOpenFailure(QStringLiteral("Устройство или ресурс занято"));
        }
        form->N5->trigger();
        QCOMPARE(m_boxes.messages, QStringList{QStringLiteral("Порт занят!")});
        QVERIFY(form->sensorSlots().DSItems.empty());
        QVERIFY(!form->N3->isChecked());
        QCOMPARE(logLines(*form).last(), stamp + QStringLiteral("Отслеживание датчиков выключено."));
    }

    void everySearchCommand_data()
    {
        QTest::addColumn<QString>("command");
        QTest::newRow("N5") << QStringLiteral("N5");
        QTest::newRow("N14") << QStringLiteral("N14");
        QTest::newRow("BSearch") << QStringLiteral("BSearch");
    }
    void everySearchCommand()
    {
        QFETCH(QString, command);
        m_busSerials = {sensorC};
        auto form = makeForm();
        if (auto *button = form->findChild<QToolButton *>(command)) {
            QVERIFY(button->isEnabled());
            QTest::mouseClick(button, Qt::LeftButton);
        } else {
            auto *action = form->findChild<QAction *>(command);
            QVERIFY(action);
            QVERIFY(action->isEnabled());
            action->trigger();
        }
        QCOMPARE(m_boxes.messages, QStringList{QStringLiteral("Найдено датчиков: 1, из них новых: 1")});
        QCOMPARE(form->sensorSlots().DSItems.size(), std::size_t(1));
    }

    void storeWithoutItsTable()
    {
        KalvexConfig config;
        config.Items.push_back({20, 20, QStringLiteral("Кухня"), sensorA, true, 0, false, DefaultTrayBackground,
                                DefaultTrayText, 255, CreateClearSign()});
        QVERIFY(writeConfig(iniPath(), config));
        QVERIFY(storetest::exec(path(QStringLiteral("Kalvex.st")), "create table other (x integer);"));
        m_busSerials = {sensorA};
        auto form = makeForm();

        // A database without the table gets it (its other tables untouched); start-up goes on
        // without a box and the readings are stored.
        QVERIFY(m_boxes.errors.isEmpty());
        QCOMPARE(storetest::scalar(path(QStringLiteral("Kalvex.st")), "select count(*) from other"), 0);
        QCOMPARE(form->sensorSlots().DSItems.size(), std::size_t(1));
        QCOMPARE(form->SHour.Cells(0, 1), QStringLiteral("Кухня"));
        form->N3->trigger();
        QVERIFY(form->N3->isChecked());
        QTRY_VERIFY(form->busIdle());
        form->N3->trigger();
        QVERIFY(m_boxes.errors.isEmpty());
        QVERIFY(m_boxes.notices.isEmpty());
        QCOMPARE(storetest::scalar(path(QStringLiteral("Kalvex.st")), "select count(*) from stats"), 1);
        QCOMPARE(form->Sns.Cells(0, 1), QStringLiteral("Кухня"));
    }

    // A configuration that exists but cannot be read is never replaced: it is kept under
    // another name (numbered past an older one) and the run's settings are saved beside it.
    // A temporary file of a save cut short is gone after the start.
    void unreadableConfigurationKept()
    {
        QVERIFY(QDir().mkdir(iniPath()));
        QFile older(iniPath() + QStringLiteral(".unreadable"));
        QVERIFY(older.open(QIODevice::WriteOnly));
        older.close();
        QFile leftover(path(QStringLiteral(".Kalvex.ini.a1B2c3")));
        QVERIFY(leftover.open(QIODevice::WriteOnly));
        leftover.close();
        {
            auto form = makeForm();
            QVERIFY(!leftover.exists());
            QCOMPARE(logLines(*form).filter(QStringLiteral("не прочитан")).size(), 1);
            form->COMPort = 7;
        }
        QVERIFY(QFileInfo(iniPath() + QStringLiteral(".unreadable.1")).isDir());
        QCOMPARE(loadConfig(iniPath()).COMPort, 7);
    }

    // A file with more sensors than a start loads is kept whole beside the saved one: the
    // sensors past the limit are not lost.
    void sensorsBeyondTheLimitKept()
    {
        const QByteArray text = "[General]\r\nCOMPort=3\r\n[Items]\r\nItemSN0=" + sensorA.toLatin1()
                                + "\r\nItemSN1000=" + sensorB.toLatin1() + "\r\nItemCount=1001\r\n";
        {
            QFile ini(iniPath());
            QVERIFY(ini.open(QIODevice::WriteOnly));
            ini.write(text);
        }
        {
            auto form = makeForm(false);
            QCOMPARE(form->sensorSlots().DSItems.at(0).SN, sensorA);
            QCOMPARE(logLines(*form).filter(QStringLiteral("прочитан не полностью")).size(), 1);
        }
        QFile kept(iniPath() + QStringLiteral(".unreadable"));
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), text);
        QCOMPARE(loadConfig(iniPath()).COMPort, 3);
    }

    void staleCompactionCopyIsRecovered()
    {
        KalvexConfig config;
        config.Items.push_back({20, 20, QStringLiteral("Кухня"), sensorA, true, 0, false, DefaultTrayBackground,
                                DefaultTrayText, 255, CreateClearSign()});
        QVERIFY(writeConfig(iniPath(), config));
        const double tenOClock = datetime::fromQDateTime(QDateTime(QDate(2026, 12, 8), QTime(10, 15)));
        const QByteArray sql = "create table stats (Dat DATETIME, Sn Text(16), t float);"
                               "insert into stats values (" + QByteArray::number(tenOClock, 'g', 17) + ", '"
            + sensorA.toLatin1() + "', 21.5);";
        QVERIFY(storetest::exec(path(QStringLiteral("Kalvex.tmp")), sql.constData()));
        auto form = makeForm();

        QVERIFY(m_boxes.errors.isEmpty());
        QCOMPARE(logLines(*form), QStringList{stamp + QStringLiteral("База данных восстановлена из файла Kalvex.tmp.")});
        QVERIFY(!QFile::exists(path(QStringLiteral("Kalvex.tmp"))));
        QCOMPARE(storetest::rowCount(path(QStringLiteral("Kalvex.st"))), 1);
        // The recovered reading is today's hourly value of the sensor.
        QCOMPARE(form->SHour.Cells(0, 1), QStringLiteral("Кухня"));
        QCOMPARE(form->SHour.Cells(11, 1), QStringLiteral("21,5"));
    }
};

QTEST_MAIN(TestConfigWindow)
#include "tst_configwindow.moc"
