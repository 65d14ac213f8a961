#include "app/ui/TForm1.h"

#include "base/Clock.h"
#include "base/DateTime.h"
#include "base/DialogBoxes.h"
#include "base/ErrorGuard.h"
#include "base/KalvexError.h"
#include "base/ScreenCursor.h"
#include "app/ui/AppTitle.h"
#include "app/ui/SensorInfoWindow.h"
#include "app/ui/AutoStartEntry.h"
#include "app/ui/HistoryCsvRoute.h"
#include "app/ui/ConfigBinding.h"
#include "app/ui/SettingsBinding.h"
#include "history/HourTable.h"
#include "history/ReadingStore.h"
#include "history/ui/SHourDelegate.h"
#include "history/ui/TForm4.h"
#include "history/ui/TFormStats.h"
#include "dialogs/ui/TFormAbout.h"
#include "dialogs/ui/TFormLoading.h"
#include "monitor/AlarmActions.h"
#include "monitor/DesktopAppLauncher.h"
#include "monitor/QtSoundPlayer.h"
#include "monitor/SensorDiscovery.h"
#include "monitor/SnsGrid.h"
#include "monitor/ui/LiveChart.h"
#include "monitor/ui/MonitorCycle.h"
#include "monitor/ui/SnsGridView.h"
#include "buses/BusSet.h"
#include "onewire/DriverHouseBus.h"
#include "onewire/SerialHouseBus.h"
#include "onewire/KernelBus.h"
#include "owserver/OwServerBus.h"
#include "mqtt/MqttPublisher.h"
#include "mqtt/ui/MqttDialog.h"
#include "app/ui/OwServerCommand.h"
#include "owserver/OwServer.h"
#include "onewire/OneWireLink.h"
#include "onewire/RomSearch.h"
#include "onewire/SerialPort.h"
#include "onewire/TemperatureReader.h"
#include "onewire/SensorVerdicts.h"
#include "sensors/IniFile.h"
#include "sensors/KalvexConfig.h"
#include "onewire/VirtualBus.h"
#include "onewire/VirtualSensor.h"
#include "sensors/ui/BusDialog.h"
#include "sensors/ui/SensorSlots.h"
#include "sensors/ui/TForm2.h"
#include "sensors/ui/TForm3.h"
#include "view/BackgroundPicture.h"
#include "view/DemoFloorPlan.h"
#include "view/ui/SensorPanel.h"
#include "view/ui/TrayIndicators.h"
#include "sensors/ui/SensorPicture.h"
#include "web/HttpServer.h"
#include "web/WebSnapshotBuilder.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QShowEvent>
#include <QSplitter>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <iterator>
#include <utility>

TForm1::TForm1(TForm1Context context, QWidget *parent)
    : QMainWindow(parent)
    , m_clock(context.clock)
    , m_boxes(context.boxes)
    , m_programDir(std::move(context.programDir))
    , m_programCommand(std::move(context.programCommand))
    , m_autostartFile(std::move(context.autostartFile))
    , m_demo(context.demo)
    , m_headless(context.headless)
{
    setupUi(this);
    createSubsystems(context);
    connectCommands();
    FormCreate();
    // The sensor editor and the settings dialog, then the history window, the about box, the
    // loading window and the chart help: once each, in that order.
    createDialogs();
    createWindows();
    Timer2->start();
}

TForm1::~TForm1()
{
    drainBus();
    FormDestroy();
    // The windows that reach the store and the slots go before them.
    delete FormStats;
    delete FormAbout;
    delete FormLoading;
    delete Form4;
    // The grids are members and die before the child widgets: the views and the slots that
    // show them go first, after the dialogs and the panel that work on the slots.
    delete m_form3;
    delete m_form2;
    delete m_panel;
    delete m_tray;
    delete m_slots;
    delete m_snsView;
    delete m_sHourView;
}

void TForm1::createSubsystems(TForm1Context &context)
{
    m_stopPending = context.stopPending;
    m_verdicts = std::make_unique<SensorVerdicts>();
    IdHTTPServer1 = std::make_unique<HttpServer>();
    IdHTTPServer1->setStreamPath(historycsv::Path, historycsv::webHandler(m_programDir.dir + ReadingStore::fileName()));
    m_webSnapshotTimer = new QTimer(this);
    m_webSnapshotTimer->setSingleShot(true);
    m_webSnapshotTimer->setInterval(0);
    connect(m_webSnapshotTimer, &QTimer::timeout, this, &TForm1::publishWebSnapshot);

    if (context.makeSerialPort)
        m_port = context.makeSerialPort();
    m_buses = std::make_unique<BusSet>(BusSet::Context{
        .log = *this,
        .clock = m_clock,
        .firstPort = m_port.get(),
        .makePort = context.makeBusPort ? context.makeBusPort : context.makeSerialPort,
        .stopPending = m_stopPending,
        // Every reading's reserved bytes keep the running verdict up to date, for free.
        .scratchpadObserver =
            [this](const std::array<std::uint8_t, 8> &rom, const std::array<std::uint8_t, 9> &pad) {
                if (m_verdicts->noteScratchpad(rom, pad))
                    scheduleWebSnapshot();
            },
        .observationOn = [this] { return N3->isChecked(); },
        .portStateChanged =
            [this](int number, const QString &reason) {
                if (number == 1)
                    emit portStateChanged(reason);
                scheduleWebSnapshot();
            },
    });
    syncBuses();

    SoundPlayer *sound = context.sound;
    if (!sound) {
        auto player = std::make_unique<QtSoundPlayer>();
        player->setLateFailureHandler([this](const QString &name) { m_alarms->playbackFailed(name); });
        m_ownSound = std::move(player);
        sound = m_ownSound.get();
    }
    AppLauncher *launcher = context.launcher;
    if (!launcher) {
        auto desktop = std::make_unique<DesktopAppLauncher>();
        // The opener tells a document it cannot open only when it ends.
        desktop->setLateFailureHandler(
            [this](const QString &path) { AddLog(QStringLiteral("Ошибка запуска приложения ") + path); });
        m_ownLauncher = std::move(desktop);
        launcher = m_ownLauncher.get();
    }
    m_alarms = std::make_unique<AlarmActions>(*this, *sound, *launcher);

    m_chart = new LiveChart;
    plugIn(Chart1, m_chart);
    m_snsView = new SnsGridView(Sns);
    plugIn(SnsView, m_snsView);
    m_hours = std::make_unique<HourTable>(SHour, m_clock);
    m_sHourView = new StringGridView(SHour);
    m_sHourView->setItemDelegate(new SHourDelegate(*m_hours, m_sHourView));
    QList<int> widths;
    for (int col = 0; col < SHour.ColCount(); ++col)
        widths << HourTable::columnWidth(col);
    m_sHourView->setColWidths(widths);
    plugIn(SHourView, m_sHourView);
    // The new widgets' size hints must not move the designed heights.
    setLeftColumnHeights(designedSnsHeight, designedSHourHeight, designedLogHeight);

    m_slots = new SensorSlots(PnItems, *m_chart, Sns, SHour, m_boxes, [this] { return CharMaxCount; }, this);
    m_panel = new SensorPanel(PnItems, *m_slots, {imgPopup, NImgOn, NImgOff, PopupMenu2}, *this, m_boxes, this);
    m_tray = new TrayIndicators(*m_slots, *this, Panel2, this);
    m_tray->setMainWindow(this);
    m_slots->TrayCreate = [this](int id, const QString &tip, TColor background, TColor foreground) {
        m_tray->TrayCreate(id, tip, background, foreground);
    };
    m_slots->TrayDelete = [this](int id) { m_tray->TrayDelete(id); };

    m_cycle = std::make_unique<MonitorCycle>(MonitorCycle::Parts{
        .sensorSlots = *m_slots,
        .chart = *m_chart,
        .Sns = Sns,
        .hours = *m_hours,
        .alarms = *m_alarms,
        .log = *this,
        .boxes = m_boxes,
        .clock = m_clock,
        .LastHour = LastHour,
        .buses =
            [this] {
                syncBuses();
                return m_buses->active();
            },
        .busAt = [this](int number) { return m_buses->bus(number); },
        .busCount = [this] { return m_buses->count(); },
        .store = [this] { return m_store.get(); },
        .observationOn = [this] { return N3->isChecked(); },
        .stopTimer = [this] { Timer1->stop(); },
        .startTimer = [this] { Timer1->start(); },
        .autoBounds = [this] { return CharMinMaxAuto; },
        .repaintHours = [this] { m_sHourView->viewport()->update(); },
        .stopping = [this] { return m_closing || (m_stopPending && m_stopPending()); },
        .cycleEnded = [this] { scheduleWebSnapshot(); },
        .beforeReading = [this] { publishWebSnapshot(); },
    });
    // A reading ends in the grids (after its caption and LastTime), a new or deleted sensor
    // changes them too.
    connect(&Sns, &StringGrid::changed, this, &TForm1::scheduleWebSnapshot);
    connect(&SHour, &StringGrid::changed, this, &TForm1::scheduleWebSnapshot);
    connect(m_slots, &SensorSlots::pictureCreated, this, &TForm1::scheduleWebSnapshot);
    m_cycle->TrayModify = [this](int id, const QString &text, const QString &tip, TColor background, TColor foreground) {
        TrayModify(id, text, tip, background, foreground);
    };
    m_slots->TrayModify = m_cycle->TrayModify;
    m_mqtt = std::make_unique<MqttPublisher>(m_cycle->feed(), *this, apptitle::versionText(), m_programDir.dir);
    connect(m_mqtt.get(), &MqttPublisher::stateChanged, this, &TForm1::scheduleWebSnapshot);
    m_owserver = std::make_unique<OwServerCommand>(m_cycle->feed(), *this, m_boxes, NOwServer, this);
}

// After the main window, in the program's order of windows: the sensor editor, the settings.
void TForm1::createDialogs()
{
    m_form2 = new TForm2(*m_slots, m_boxes, sensorrecords::systemRandom(), this);
    m_settingsBinding = std::make_unique<SettingsBinding>(*this);
    m_form3 = new TForm3(*m_settingsBinding, m_boxes, this);
    // A bare file name is one in the program's folder (as the background picture is read):
    // the file boxes start there, not at the root.
    m_form2->setProgramFolder(ProgramDir);
    m_form3->setProgramFolder(ProgramDir);
    m_slots->EditItem = [this](int index) { openEditor(index); };
    // An edit or new settings (names, places, the background) change what the page shows.
    connect(m_form2, &TForm2::applied, this, &TForm1::publishWebSnapshot);
    connect(m_form3, &TForm3::applied, this, &TForm1::publishWebSnapshot);
}

void TForm1::openEditor(int index)
{
    // A sensor removed meanwhile (or never there) has nothing to edit.
    if (index >= 0 && !m_slots->inUse(index))
        return;
    // The bus choice lists the buses as they are now (shown with several only).
    QStringList names;
    syncBuses();
    for (int number = 1; number <= m_buses->count(); ++number)
        names << m_buses->name(number);
    m_form2->setBusNames(names);
    m_form2->EditItem(index);
    m_form2->exec();
}

void TForm1::connectCommands()
{
    connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
    connect(Timer2, &QTimer::timeout, this, &TForm1::Timer2Timer);
    // The menu item has toggled its check mark when triggered arrives.
    connect(N3, &QAction::triggered, this, &TForm1::N3Click);
    connect(BScan, &QToolButton::clicked, this, &TForm1::BScanClick);
    connect(N1, &QAction::triggered, this, &TForm1::N1Click);
    connect(BExit, &QToolButton::clicked, this, &TForm1::N1Click);
    connect(N15, &QAction::triggered, this, &TForm1::N15Click);
    connect(N10, &QAction::triggered, this, &TForm1::N10Click);
    connect(Splitter3, &QSplitter::splitterMoved, this, &TForm1::Splitter3Moved);
    connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);

    connect(N2, &QAction::triggered, this, &TForm1::N2Click);
    connect(NBus, &QAction::triggered, this, &TForm1::busSettingsClick);
    connect(NMqtt, &QAction::triggered, this, &TForm1::mqttSettingsClick);
    connect(BSetting, &QToolButton::clicked, this, &TForm1::N2Click);
    connect(N4, &QAction::triggered, this, &TForm1::N4Click);
    connect(BAdd, &QToolButton::clicked, this, &TForm1::N4Click);
    connect(N13, &QAction::triggered, this, &TForm1::N4Click);
    connect(N5, &QAction::triggered, this, &TForm1::N5Click);
    connect(BSearch, &QToolButton::clicked, this, &TForm1::N5Click);
    connect(N14, &QAction::triggered, this, &TForm1::N5Click);
    connect(N7, &QAction::triggered, this, &TForm1::N7Click);
    connect(BAbout, &QToolButton::clicked, this, &TForm1::N7Click);
    connect(N9, &QAction::triggered, this, &TForm1::N9Click);
    connect(BHistory, &QToolButton::clicked, this, &TForm1::N9Click);
    connect(HTTP_Active, &QAction::triggered, this, &TForm1::HTTP_ActiveClick);
    connect(bHTTP, &QToolButton::clicked, this, &TForm1::bHTTPClick);
    connect(m_snsView, &StringGridView::gridDoubleClicked, this, &TForm1::SnsDblClick);
    connect(m_chart, &LiveChart::doubleClicked, this, &TForm1::Chart1DblClick);
    // The commands of the sensor pictures' pop-up menu, each under the error guard; each
    // changes what the web page shows.
    connect(NImgOn, &QAction::triggered, this, [this] {
        guarded(m_boxes, [this] { m_slots->NImgOnClick(); });
        publishWebSnapshot();
    });
    connect(NImgOff, &QAction::triggered, this, [this] {
        guarded(m_boxes, [this] { m_slots->NImgOffClick(); });
        publishWebSnapshot();
    });
    connect(N18, &QAction::triggered, this, [this] {
        guarded(m_boxes, [this] { m_slots->N18Click(); });
        publishWebSnapshot();
    });
    connect(N16, &QAction::triggered, this, [this] {
        guarded(m_boxes, [this] { m_slots->N16Click(); });
        publishWebSnapshot();
    });
    // A sensor picture dropped at a new place.
    connect(m_panel, &SensorPanel::panelChanged, this, &TForm1::publishWebSnapshot);
    connect(NInfo, &QAction::triggered, this, [this] {
        const int index = m_slots->SelectedItem;
        if (m_slots->inUse(index))
            static_cast<void>(showSensorInfo(m_slots->DSItems[static_cast<std::size_t>(index)].SN));
    });
    // The readings grid's menu acts on the row clicked.
    m_snsView->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_snsView, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        const QModelIndex at = m_snsView->indexAt(pos);
        if (!at.isValid())
            return;
        m_snsView->setCurrentIndex(at);
        SnsPopup->popup(m_snsView->viewport()->mapToGlobal(pos));
    });
    connect(NSnsInfo, &QAction::triggered, this, [this] {
        const QString serial = Sns.Cells(2, Sns.Row()).trimmed();
        if (!serial.isEmpty())
            static_cast<void>(showSensorInfo(serial));
    });
}

QCoro::Task<> TForm1::showSensorInfo(QString serial)
{
    if (m_closing)
        co_return;
    // The sensor's own bus answers; a serial no slot holds is asked on bus 1.
    int number = 1;
    for (const TDSItem &item : m_slots->DSItems) {
        if (item.SN.compare(serial.trimmed(), Qt::CaseInsensitive) == 0)
            number = item.Bus;
    }
    syncBuses();
    std::shared_ptr<HouseBus> bus = m_buses->bus(number);
    if (!bus)
        bus = m_buses->bus(1);
    QPointer<SensorInfoWindow> window = new SensorInfoWindow(serial, m_slots->NameBySerial(serial), this);
    window->show();
    const ScreenCursor hourglass(Qt::WaitCursor);
    co_await bus->turn().take();
    BusTurn::Held held(bus->turn());
    if (m_closing)
        co_return;
    const HouseBus::Description description = co_await bus->describe(serial);
    if (m_closing)
        co_return;
    if (!description.report) {
        if (window)
            window->showFailure(description.failure);
        co_return;
    }
    if (description.diagnosed) {
        m_verdicts->noteReport(*description.report);
        scheduleWebSnapshot();
    }
    if (window)
        window->showReport(*description.report);
}

void TForm1::FormCreate()
{
    setWindowTitle(apptitle::mainCaption());
    // Step 2, the minimise handler: changeEvent() hands every minimising to MyMinimize.
    ProgramDir = m_programDir.dir;
    if (!m_programDir.logLine.isEmpty())
        AddLog(m_programDir.logLine);
    // A configuration or store that fails (a full disk, say) is logged with its file and the
    // start goes on, window or not: a box here would hold the start and polling until someone
    // clicked it, before the window is even shown. The store tries again at later readings.
    const auto logged = [this](const QString &file, auto &&run) {
        try {
            run();
            return true;
        } catch (const KalvexError &e) {
            AddLog(e.message().contains(file) ? e.message() : file + QStringLiteral(": ") + e.message());
        } catch (const std::exception &e) {
            AddLog(file + QStringLiteral(": ") + QString::fromLocal8Bit(e.what()));
        }
        return false;
    };
    const QString storeFile = ProgramDir + ReadingStore::fileName();
    // Any other error ends the sequence at its step; the window goes on as far as it was set up.
    guarded(m_boxes, [&] {
        logged(iniPath(), [this] { LoadIni(); });
        m_mqtt->setSettings(MQTT);
        addDemoSensors();
        if (StartMin && !m_headless)
            setWindowState(windowState() | Qt::WindowMinimized);
        // Before anything else is logged: the addresses to open are the first lines it writes.
        if (m_demo && m_headless)
            serveDemo();
        // A picture that does not decode is logged; the web server and the store still start.
        logged(background::path(bkFileName, ProgramDir), [this] { LoadBackground(); });
        if (!IdHTTPServer1->running())
            StartHTTP(false);
        logged(storeFile, [this] { ConnectDB(); });
        m_cycle->chartState().PointCounter = CharMaxCount;
        sns::prepare(Sns);
        m_hours->writeHeader();
        if (!logged(storeFile, [this] { Load24Hour(); }))
            LastHour = m_clock.now().time().hour();
        for (int i = 0; i < static_cast<int>(m_slots->DSItems.size()); ++i) {
            if (m_slots->DSItems[i].Enable)
                m_hours->ViewSHour(m_slots->DSItems, i, m_slots->name(i));
        }
    });
    publishWebSnapshot();
}

void TForm1::FormDestroy()
{
    if (m_destroyed)
        return;
    m_destroyed = true;
    // No box may stop a shutdown (a SIGTERM has nobody to answer it): failures go to stderr.
    const auto step = [](const char *name, auto &&run) {
        try {
            run();
        } catch (const std::exception &e) {
            qWarning("Kalvex: %s failed at shutdown: %s", name, e.what());
        }
    };
    step("TrayAllDelete", [this] { TrayAllDelete(); });
    if (!m_headless)
        step("SetAutoStart", [this] { SetAutoStart(); });
    step("SaveIni", [this] {
        constexpr int calls = 4;
        for (int call = 1; call <= calls; ++call) {
            if (SaveIni())
                return;
        }
        // The window says nothing; whoever started the program from a terminal or a service
        // learns why the next start has the old settings.
        qWarning("Kalvex: %s not written after %d attempts; the settings of this run are lost",
                 qUtf8Printable(iniPath()), calls);
    });
}

void TForm1::closeEvent(QCloseEvent *event)
{
    // A cycle or a search waiting on the bus stops at once (its waits end); the shutdown
    // itself runs when the event loop has returned.
    m_closing = true;
    m_buses->abortAll();
    Timer1->stop();
    event->accept();
    emit closed();
}

void TForm1::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && (windowState() & Qt::WindowMinimized))
        MyMinimize();
}

void TForm1::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    // The left column has its real width only now.
    Splitter3Moved();
}

void TForm1::AddLog(const QString &message)
{
    writeLogLines(m_logFold.add(message, false));
}

void TForm1::addRawLine(const QString &line)
{
    writeLogLines(m_logFold.add(line, true));
}

void TForm1::addLogFor(const QString &message, const QString &serviceText)
{
    m_serviceText = {message, serviceText};
    writeLogLines(m_logFold.add(message, false));
    m_serviceText = {};
}

void TForm1::writeLogLines(const std::vector<LogFold::Line> &lines)
{
    for (const LogFold::Line &line : lines) {
        const QString stamp = datetime::text(line.at);
        Memo1->appendPlainText(line.raw ? line.text : stamp + QStringLiteral(" : ") + line.text);
        if (!m_headless)
            continue;
        const bool repeat = line.text.startsWith(LogFold::repeatText(0).section(QLatin1Char(' '), 0, 1));
        // A count of repeats is as grave as what repeated.
        if (!repeat)
            m_echoPriority = servicelog::priority(line.text);
        const QString text = line.text == m_serviceText.first && !m_serviceText.second.isEmpty() ? m_serviceText.second
                                                                                                : line.text;
        writeServiceLine(servicelog::line(stamp, text, m_echoPriority, servicelog::toJournal()));
    }
}

void TForm1::echoLine(const QString &line)
{
    // Before the window's log exists: a line of its own, as the log box would stamp it.
    if (servicelog::toJournal()) {
        const QString text = line.section(QStringLiteral(" : "), 1);
        writeServiceLine(servicelog::line(QString(), text.isEmpty() ? line : text, servicelog::priority(line), true));
        return;
    }
    writeServiceLine(line);
}

void TForm1::writeServiceLine(const QString &line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stderr);
    std::fflush(stderr);
}

void TForm1::N15Click()
{
    Memo1->clear();
    m_logFold.reset();
}

void TForm1::Timer2Timer()
{
    Timer2->stop();
    static_cast<void>(startUp());
}

QCoro::Task<> TForm1::startUp()
{
    // The window is shown and painted before the port is touched.
    QCoreApplication::processEvents();
    // A service started on an empty configuration has nobody to press "search": it looks for
    // itself, so the sensors on the bus are polled (and kept in the configuration) at once.
    if (m_headless && !anySensor())
        co_await search();
    if (m_closing)
        co_return;
    if (AutoNab || m_startObservation || m_headless) {
        BScan->setChecked(true);
        N3->setChecked(true);
        N3Click();
    }
    emit startUpEnded();
}

QString TForm1::portName() const
{
    return QStringLiteral("COM") + QString::number(COMPort);
}

bool TForm1::busIdle() const
{
    return !m_buses->anyBusy() && !m_searching && !m_cycle->running();
}

void TForm1::drainBus()
{
    m_closing = true;
    m_buses->abortAll();
    Timer1->stop();
    // Every wait under way has been woken; what resumes finds the program closing and ends.
    QElapsedTimer waited;
    waited.start();
    while (!busIdle() && waited.elapsed() < 2000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

bool TForm1::anySensor() const
{
    for (int i = 0; i < static_cast<int>(m_slots->DSItems.size()); ++i) {
        if (m_slots->inUse(i))
            return true;
    }
    return false;
}

void TForm1::BScanClick()
{
    N3->setChecked(BScan->isChecked());
    N3Click();
}

void TForm1::N3Click()
{
    SetScanButton();
    if (N3->isChecked()) {
        syncBuses();
        // Every active bus opens; with several, one that cannot is logged and tried again at
        // each of its parts while the others go on. With one, observation stays off.
        const std::vector<std::shared_ptr<HouseBus>> buses = m_buses->active();
        int opened = 0;
        QStringList failures;
        for (const std::shared_ptr<HouseBus> &bus : buses) {
            const QString failure = bus->openObservation();
            if (failure.isEmpty())
                ++opened;
            else
                failures << failure;
        }
        for (const QString &failure : std::as_const(failures))
            AddLog(failure);
        if (opened == 0 && m_buses->count() == 1) {
            N3->setChecked(false);
            SetScanButton();
            return;
        }
        AddLog(QStringLiteral("Отслеживание датчиков включено."));
        emit observationStarted();
        Nabl();
    } else {
        for (const std::shared_ptr<HouseBus> &bus : m_buses->all())
            bus->closeObservation();
        m_cycle->observationSwitchedOff();
        AddLog(QStringLiteral("Отслеживание датчиков выключено."));
        SetScanButton();
        scheduleWebSnapshot();
    }
}

std::vector<BusConfig> TForm1::busList() const
{
    BusConfig first;
    first.Kind = BusKind;
    first.COMPort = COMPort;
    first.KernelPath = KernelPath;
    first.BulkConvert = BulkConvert;
    first.OwServer = OwBus;
    first.Name = BusName;
    std::vector<BusConfig> list{first};
    list.insert(list.end(), MoreBuses.begin(), MoreBuses.end());
    return list;
}

void TForm1::syncBuses() const
{
    const std::vector<BusConfig> wanted = busList();
    if (wanted != m_buses->configs())
        m_buses->setBuses(wanted);
}

BusSet &TForm1::buses() const
{
    syncBuses();
    return *m_buses;
}

SerialHouseBus *TForm1::serialBus() const
{
    syncBuses();
    return dynamic_cast<SerialHouseBus *>(m_buses->bus(1).get());
}

OneWireLink *TForm1::link() const
{
    SerialHouseBus *bus = m_port ? serialBus() : nullptr;
    return bus ? &bus->link() : nullptr;
}

RomSearch *TForm1::romSearch() const
{
    SerialHouseBus *bus = m_port ? serialBus() : nullptr;
    return bus ? &bus->romSearch() : nullptr;
}

TemperatureReader *TForm1::temperatureReader() const
{
    SerialHouseBus *bus = m_port ? serialBus() : nullptr;
    return bus ? &bus->temperatureReader() : nullptr;
}

DriverBus *TForm1::driverBus() const
{
    syncBuses();
    auto *bus = dynamic_cast<DriverHouseBus *>(m_buses->bus(1).get());
    return bus ? &bus->driver() : nullptr;
}

KernelBus *TForm1::kernelBus() const
{
    return dynamic_cast<KernelBus *>(driverBus());
}

OwServerBus *TForm1::owServerBus() const
{
    return dynamic_cast<OwServerBus *>(driverBus());
}

void TForm1::applyBuses(const std::vector<BusConfig> &buses)
{
    const std::vector<BusConfig> before = busList();
    const BusConfig &first = buses.front();
    BusKind = first.Kind;
    COMPort = first.COMPort;
    KernelPath = first.KernelPath;
    BulkConvert = first.BulkConvert;
    OwBus = first.OwServer;
    BusName = first.Name;
    MoreBuses.assign(buses.begin() + 1, buses.end());
    const bool remade = m_buses->setBuses(busList());
    scheduleWebSnapshot();
    if (!N3->isChecked())
        return;
    // A bus switched on, made anew or added is opened: observation restarts on the new list.
    bool reopen = remade || buses.size() != before.size();
    for (std::size_t i = 0; !reopen && i < buses.size(); ++i)
        reopen = buses[i].Active != before[i].Active;
    if (!reopen)
        return;
    N3->setChecked(false);
    N3Click();
    N3->setChecked(true);
    N3Click();
}

void TForm1::SetScanButton()
{
    const bool on = N3->isChecked();
    // Like a component's Enabled flag: setting it again leaves a running interval alone.
    if (on && !Timer1->isActive())
        Timer1->start();
    else if (!on)
        Timer1->stop();
    BScan->setChecked(on);
    BScan->setIcon(QIcon((on ? ImgStop : ImgStart)->pixmap()));
}

void TForm1::Timer1Timer()
{
    Nabl();
}

void TForm1::Nabl()
{
    m_cycle->Nabl();
}

void TForm1::ResetChart()
{
    m_chart->ResetChart(m_cycle->chartState(), CharMaxCount);
}

void TForm1::addDemoSensors()
{
    auto *bus = m_demo ? dynamic_cast<VirtualBus *>(m_port.get()) : nullptr;
    if (!bus)
        return;
    const QStringList serials = bus->addDemoSensors(m_clock);
    // A demo must show a working thermometer: observation comes on whatever the configuration
    // says, and an empty configuration gets the bus's sensors.
    m_startObservation = true;
    // The outside sensor stops answering now and then (a bad cable): for 12 s of every minute
    // its scratchpad arrives with a wrong CRC, so the log, "err" and the chart gaps show too.
    if (serials.size() > 1) {
        auto *faults = new QTimer(this);
        faults->setInterval(1000);
        connect(faults, &QTimer::timeout, this, [this, bus, serial = serials.at(1)] {
            if (VirtualSensor *sensor = bus->findSensor(serial))
                sensor->setCorruptCrc((m_clock.tickCount() / 1000) % 60 >= 48);
        });
        faults->start();
    }
    for (int i = 0; i < static_cast<int>(m_slots->DSItems.size()); ++i) {
        if (m_slots->inUse(i))
            return;
    }
    struct Place
    {
        const char16_t *name;
        int x;
        int y;
        TColor chart;
    };
    // Living room at about 21 degrees, outside at about -4, the boiler at about 55.
    static constexpr Place places[] = {
        {u"Гостиная", 120, 90, 255},
        {u"Улица", 300, 60, 16711680},
        {u"Котёл", 200, 230, 32768},
    };
    for (int k = 0; k < serials.size() && k < static_cast<int>(std::size(places)); ++k) {
        const Place &p = places[k];
        m_slots->AddItem(p.x, p.y, QString::fromUtf16(p.name), serials.at(k), true, 0, false, DefaultTrayBackground,
                         DefaultTrayText, p.chart, CreateClearSign());
    }
    // The first picture a new user sees is a house under the sensors; a picture of the
    // user's own is never replaced.
    const QString plan = background::path(bkFileName, ProgramDir);
    if (!QFileInfo::exists(plan) && !demoplan::draw().save(plan, "JPG", 90))
        AddLog(QStringLiteral("Файл фона ") + plan + QStringLiteral(" не удалось записать."));
}

void TForm1::serveDemo()
{
    // A demo without a window shows itself on the web page; a configuration that says
    // anything of the web server is followed as it stands.
    const IniFile ini = IniFile::fromFile(iniPath());
    if (!ini.hasKey(QStringLiteral("General"), QStringLiteral("HTTPPort"))
        && !ini.hasKey(QStringLiteral("General"), QStringLiteral("HTTPActive"))) {
        constexpr int firstPort = 8080;
        constexpr int ports = 100;
        HTTP_Active->setChecked(true);
        HTTPBinding = QStringLiteral("0.0.0.0");
        publishWebSnapshot();
        for (int port = firstPort; port < firstPort + ports; ++port) {
            HTTPPort = port;
            if (IdHTTPServer1->start(HTTPBinding, HTTPPort) != HttpServer::StartResult::PortBusy)
                break;
        }
    }
    StartHTTP(false);
    if (IdHTTPServer1->running()) {
        const QString site = QStringLiteral("http://localhost:%1/").arg(HTTPPort);
        AddLog(QStringLiteral("Страница датчиков: ") + site);
        AddLog(QStringLiteral("Метрики: ") + site + QStringLiteral("metrics"));
    }
}

void TForm1::N1Click()
{
    close();
}

void TForm1::N10Click()
{
    VisibleUpPanel();
}

void TForm1::VisibleUpPanel()
{
    // The menu bar holds exactly the four top items, so hiding it hides them all; the
    // commands' shortcuts stay, being held by the window as well.
    menuBar()->setVisible(N10->isChecked());
}

void TForm1::SetAutoStart()
{
    QString error;
    if (!AutoStartEntry(m_autostartFile, m_programCommand).apply(WinStartRun, error)) {
        AddLog(error);
        qWarning("Kalvex: %s", qUtf8Printable(error));
    }
}

void TForm1::Button1Click()
{
    static_cast<void>(readSingleSerial());
}

QCoro::Task<> TForm1::readSingleSerial()
{
    // While observation holds the port the open fails: the running cycle's port is neither
    // taken over nor closed under it.
    if (N3->isChecked() || m_buses->anyBusy() || m_closing)
        co_return;
    syncBuses();
    for (const std::shared_ptr<HouseBus> &bus : m_buses->active()) {
        co_await bus->turn().take();
        BusTurn::Held held(bus->turn());
        if (N3->isChecked() || m_closing)
            co_return;
        const std::optional<QString> serial = co_await bus->readSingle();
        if (m_closing)
            co_return;
        if (serial)
            addRawLine(bus->say(QStringLiteral("s/n : ") + *serial));
    }
}

// Hides the window into the notification area once the minimising event is done.
void TForm1::MyMinimize()
{
    if (m_tray)
        m_tray->MyMinimize();
}

QString TForm1::iniPath() const
{
    return ProgramDir + QStringLiteral("Kalvex.ini");
}

// Reads Kalvex.ini: the settings and the sensors. A missing file or key gives its default.
void TForm1::LoadIni()
{
    // What a save cut short by a kill left behind (".Kalvex.ini.XXXXXX").
    QDir dir(ProgramDir);
    for (const QString &name : dir.entryList({QStringLiteral(".Kalvex.ini.??????")}, QDir::Files | QDir::Hidden))
        dir.remove(name);
    QStringList holds;
    QString problem;
    bool partial = false;
    const KalvexConfig config = loadConfig(iniPath(), {}, &holds, &problem, &partial);
    // A file only partly taken (sensors left out, values unreadable, texts cut) is kept whole
    // as well.
    m_iniUnreadable = !problem.isEmpty() || partial;
    if (!problem.isEmpty())
        AddLog(QStringLiteral("Файл настроек ") + iniPath() + QStringLiteral(" не прочитан (") + problem
               + QStringLiteral("): работа с настройками по умолчанию, при выходе он будет сохранён под другим именем."));
    else if (partial)
        AddLog(QStringLiteral("Файл настроек ") + iniPath()
               + QStringLiteral(" прочитан не полностью: при выходе он будет сохранён под другим именем."));
    for (const QString &hold : std::as_const(holds))
        AddLog(QStringLiteral("Kalvex.ini: ") + hold);
    ConfigBinding::apply(*this, config);
}

// Writes Kalvex.ini in one atomic replace; false on a write error, the old file then intact.
// A file that could not be read at start-up is first kept under another name, never replaced.
bool TForm1::SaveIni()
{
    if (m_iniUnreadable) {
        QString kept = iniPath() + QStringLiteral(".unreadable");
        for (int n = 1; QFileInfo::exists(kept) || QFileInfo(kept).isSymLink(); ++n)
            kept = iniPath() + QStringLiteral(".unreadable.%1").arg(n);
        if (QFileInfo::exists(iniPath()) && !QFile::rename(iniPath(), kept))
            return false;
        m_iniUnreadable = false;
    }
    return writeConfig(iniPath(), ConfigBinding::collect(*this));
}

// A failed start as StartHTTP reports it: both switches released, the log line.
void TForm1::HTTPNotStarted(const QString &reason)
{
    HTTP_Active->setChecked(false);
    bHTTP->setChecked(false);
    AddLog(QStringLiteral("HTTP-сервер не запущен: ") + reason);
}

// Shows the background picture bkFileName on the sensor panel.
void TForm1::LoadBackground()
{
    m_panel->LoadBackground(bkFileName, ProgramDir);
}

// The server follows the check mark of HTTP_Active; a failure to start unticks it.
void TForm1::StartHTTP(bool reportOff)
{
    bHTTP->setChecked(HTTP_Active->isChecked());
    if (!HTTP_Active->isChecked()) {
        IdHTTPServer1->stop();
        if (reportOff)
            AddLog(QStringLiteral("HTTP-сервер выключен."));
        return;
    }
    if (!IdHTTPServer1->running()) {
        publishWebSnapshot();
        const HttpServer::StartResult result = IdHTTPServer1->start(HTTPBinding, HTTPPort);
        if (result != HttpServer::StartResult::Started) {
            reportHTTPFailure(result == HttpServer::StartResult::PortBusy);
            return;
        }
    }
    AddLog(QStringLiteral("HTTP-сервер включен."));
}

void TForm1::reportHTTPFailure(bool portBusy)
{
    HTTPNotStarted(portBusy ? QStringLiteral("HTTP Порт ") + QString::number(HTTPPort) + QStringLiteral(" занят.")
                            : QString());
}

void TForm1::ChangeHTTPPort(int port)
{
    if (port == HTTPPort)
        return;
    const bool wasRunning = IdHTTPServer1->running();
    IdHTTPServer1->stop();
    HTTPPort = port;
    HTTPBinding = QStringLiteral("0.0.0.0");
    if (!wasRunning)
        return;
    const HttpServer::StartResult result = IdHTTPServer1->start(HTTPBinding, HTTPPort);
    // Left running-looking, the menu item and the button would lie about a dead server.
    if (result != HttpServer::StartResult::Started)
        reportHTTPFailure(result == HttpServer::StartResult::PortBusy);
}

void TForm1::publishWebSnapshot()
{
    std::vector<websnapshot::SlotValues> items;
    items.reserve(m_slots->DSItems.size());
    for (int i = 0; i < static_cast<int>(m_slots->DSItems.size()); ++i) {
        const TDSItem &item = m_slots->DSItems[static_cast<std::size_t>(i)];
        websnapshot::SlotValues values;
        values.SN = item.SN;
        values.inUse = m_slots->inUse(i);
        if (values.inUse)
            values.name = m_slots->name(i);
        if (values.inUse && m_buses->count() > 1)
            values.bus = m_buses->name(item.Bus);
        values.lastReading = item.ReadingTally.reading;
        values.lastReadingTime = item.ReadingTally.time;
        values.failures = item.ReadingTally.failures;
        if (const auto known = values.inUse ? m_verdicts->find(item.SN) : std::nullopt) {
            values.family = SensorVerdicts::familyText(known->family);
            // Scrapers' rules and the hub must not depend on the language: stable words.
            values.power = SensorVerdicts::powerKey(known->parasite);
            values.verdict = SensorDiagnosis::verdictKey(known->verdict);
        }
        values.Enable = item.Enable;
        if (item.ImageCtl) {
            values.left = item.ImageCtl->x();
            values.top = item.ImageCtl->y();
        }
        if (item.TempLabel)
            values.caption = item.TempLabel->text();
        values.LastTime = item.LastTime;
        items.push_back(std::move(values));
    }
    std::vector<FeedSensor> sensors;
    for (const websnapshot::SlotValues &values : items) {
        if (values.inUse)
            sensors.push_back(FeedSensor{values.SN, values.name, values.Enable, static_cast<qint64>(values.failures), values.verdict,
                                         values.bus});
    }
    const qint64 cycleMs = m_cycle->lastCycleMs();
    const std::vector<std::shared_ptr<HouseBus>> buses = m_buses->all();
    const int portOpen = !N3->isChecked() ? -1 : buses.front()->portState();
    bool anyLost = false;
    std::vector<WebSnapshot::Bus> busStates;
    for (const std::shared_ptr<HouseBus> &bus : buses) {
        anyLost = anyLost || bus->portState() == 0;
        if (buses.size() > 1)
            busStates.push_back({bus->name().toUtf8(),
                                 bus->cycle.lastPartMs < 0 ? -1.0 : static_cast<double>(bus->cycle.lastPartMs) / 1000.0,
                                 N3->isChecked() && bus->config().Active ? bus->portState() : -1});
    }
    m_mqtt->setProgramState({N3->isChecked(), Timer1->interval(), cycleMs < 0 ? -1.0 : static_cast<double>(cycleMs) / 1000.0,
                             N3->isChecked() && !anyLost, IdHTTPServer1->running() ? HTTPPort : 0});
    m_cycle->feed().handSensors(sensors);
    const std::shared_ptr<const WebSnapshot> previous = IdHTTPServer1->snapshot();
    const qint64 storeErrors = m_store ? static_cast<qint64>(m_store->errorCount()) : -1;
    IdHTTPServer1->publish(websnapshot::make(items, SHour, bkFileName, ProgramDir, previous.get(),
                                             cycleMs < 0 ? -1.0 : static_cast<double>(cycleMs) / 1000.0, portOpen,
                                             storeErrors, m_mqtt->connectedState(), m_mqtt->messagesTotal(),
                                             m_owserver->server().tally(), std::move(busStates)));
}

void TForm1::scheduleWebSnapshot()
{
    m_webSnapshotTimer->start();
}

// Opens or creates Kalvex.st. A store that cannot be used is logged by the store, which
// tries again with later readings; the program runs on without it.
void TForm1::ConnectDB()
{
    if (!m_store)
        m_store = std::make_unique<ReadingStore>(ProgramDir, m_clock, *this);
    m_store->ConnectDB();
}

// Fills the day's hourly values from the store and sets LastHour (without a store: none).
void TForm1::Load24Hour()
{
    if (m_store && m_store->ready())
        m_hours->Load24Hour(m_store->ADOQuery1, m_slots->DSItems, LastHour);
    else
        LastHour = m_clock.now().time().hour();
}

// Shows the temperature on the sensor's tray icon.
void TForm1::TrayModify(int id, const QString &text, const QString &tip, TColor background, TColor foreground)
{
    m_tray->TrayModify(id, text, tip, background, foreground);
}

// Removes every sensor's tray icon.
void TForm1::TrayAllDelete()
{
    m_tray->TrayAllDelete();
}

// Column 2 of Sns := width of Panel3 - columns 0 and 1, so that the three columns span the
// left column (less the view's frame, so no horizontal scroll bar appears).
void TForm1::Splitter3Moved()
{
    const int first = m_snsView->columnWidth(0);
    const int second = m_snsView->columnWidth(1);
    const int frame = m_snsView->width() - m_snsView->viewport()->width();
    m_snsView->setColWidths({first, second, std::max(Panel3->width() - first - second - frame, 20)});
}

void TForm1::N2Click()
{
    guarded(m_boxes, [this] {
        m_form3->LoadSettings();
        m_form3->exec();
    });
}

// "Шина…": the list of buses; applied at once, the sensors of a removed bus go to bus 1.
void TForm1::busSettingsClick()
{
    guarded(m_boxes, [this] {
        BusDialog dialog(m_boxes, this);
        const std::vector<BusConfig> list = busList();
        std::vector<int> perBus(list.size(), 0);
        for (int i = 0; i < static_cast<int>(m_slots->DSItems.size()); ++i) {
            const int bus = m_slots->DSItems[static_cast<std::size_t>(i)].Bus;
            if (m_slots->inUse(i))
                ++perBus[bus >= 1 && bus <= static_cast<int>(list.size()) ? static_cast<std::size_t>(bus - 1) : 0];
        }
        dialog.setBuses(list, perBus);
        if (dialog.exec() != QDialog::Accepted)
            return;
        const std::vector<int> renumbering = dialog.busRenumbering();
        for (TDSItem &item : m_slots->DSItems) {
            if (item.Bus >= 1 && item.Bus < static_cast<int>(renumbering.size()))
                item.Bus = renumbering[static_cast<std::size_t>(item.Bus)];
            else
                item.Bus = 1;
        }
        applyBuses(dialog.buses());
    });
}

// "MQTT…": where readings go besides the program; applied at once.
void TForm1::mqttSettingsClick()
{
    guarded(m_boxes, [this] {
        MqttDialog dialog(m_boxes, this);
        dialog.setSettings(MQTT);
        if (dialog.exec() == QDialog::Accepted)
            setMqttSettings(dialog.settings());
    });
}

void TForm1::setMqttSettings(const MqttSettings &settings)
{
    MQTT = settings;
    m_mqtt->setSettings(MQTT);
    scheduleWebSnapshot();
}

SensorDiscovery::Hooks TForm1::discoveryHooks()
{
    SensorDiscovery::Hooks hooks;
    hooks.observationOn = [this] { return N3->isChecked(); };
    hooks.switchObservationOff = [this] {
        N3->setChecked(false);
        N3Click();
    };
    hooks.closing = [this] { return m_closing; };
    // The search hands out elements of DSItems itself; their place is the slot index.
    hooks.inUse = [this](const TDSItem &item) {
        return m_slots->inUse(static_cast<int>(&item - m_slots->DSItems.data()));
    };
    hooks.addItem = [this](int X, int Y, const QString &Name, const QString &SN, bool Enable, double Correct,
                           bool Tray, TColor CBFon, TColor CBText, TColor CBChart, const TSign &Sign) {
        m_slots->AddItem(X, Y, Name, SN, Enable, Correct, Tray, CBFon, CBText, CBChart, Sign);
    };
    return hooks;
}

void TForm1::N4Click()
{
    guarded(m_boxes, [this] { openEditor(-1); });
}

// The sensor search: every code on the bus that no slot in use holds becomes a new sensor.
void TForm1::N5Click()
{
    // One search at a time: a second click while one runs has nothing to add.
    if (m_searching || m_closing)
        return;
    static_cast<void>(search());
}

QCoro::Task<> TForm1::search()
{
    m_searching = true;
    struct Searching
    {
        TForm1 &form;
        ~Searching()
        {
            form.m_searching = false;
            form.publishWebSnapshot();
        }
    } searching{*this};
    try {
        syncBuses();
        std::vector<SensorDiscovery::SearchBus> buses;
        for (const std::shared_ptr<HouseBus> &bus : m_buses->active()) {
            SensorDiscovery::SearchBus entry;
            entry.number = bus->number();
            entry.name = m_buses->count() > 1 ? bus->name() : QString();
            // The bus object stays alive for the search, whatever the dialogs do meanwhile.
            entry.open = [bus] { return bus->openForSearch(); };
            entry.giveBack = [bus] { bus->endSearch(); };
            entry.clearState = [bus] { bus->clearState(); };
            entry.findNext = [bus] { return bus->FindDS(); };
            entry.turn = &bus->turn();
            buses.push_back(std::move(entry));
        }
        SensorDiscovery::BusTies ties;
        ties.busOf = [this](int slot) { return m_slots->DSItems[static_cast<std::size_t>(slot)].Bus; };
        ties.tie = [this](int slot, int bus) { m_slots->DSItems[static_cast<std::size_t>(slot)].Bus = bus; };
        SensorDiscovery discovery(*this, m_boxes, m_slots->DSItems, discoveryHooks());
        co_await discovery.N5Click(std::move(buses), ties);
        m_cycle->busChanged();
    } catch (const std::exception &e) {
        showHandlerError(m_boxes, e);
    }
}

void TForm1::createWindows()
{
    FormStats = new TFormStats(TFormStatsContext{
                                   .boxes = m_boxes,
                                   .clock = m_clock,
                                   .store = [this] { return m_store.get(); },
                                   .NameBySerial = [this](const QString &SN) { return m_slots->NameBySerial(SN); },
                               },
                               this);
    FormAbout = new TFormAbout(apptitle::versionText(), this);
    FormLoading = new TFormLoading(this);
    Form4 = new TForm4(this);
    FormStats->setLoadingWindow(FormLoading, FormLoading->ProgressBar1);
    FormStats->setHelpWindow(Form4);
}

// The about box, modally.
void TForm1::N7Click()
{
    FormAbout->exec();
}

// The history window, not modally; showing it brings in the serials stored since.
void TForm1::N9Click()
{
    FormStats->show();
    FormStats->raise();
    FormStats->activateWindow();
}

// The menu item has toggled its check mark already.
void TForm1::HTTP_ActiveClick()
{
    StartHTTP(true);
}

void TForm1::bHTTPClick()
{
    HTTP_Active->setChecked(bHTTP->isChecked());
    StartHTTP(true);
}

void TForm1::SnsDblClick()
{
    guarded(m_boxes, [this] { m_slots->SnsDblClick(); });
}

void TForm1::Chart1DblClick()
{
    N9Click();
}
