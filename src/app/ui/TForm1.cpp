#include "app/ui/TForm1.h"

#include "base/Clock.h"
#include "base/DialogBoxes.h"
#include "base/ErrorGuard.h"
#include "base/ScreenCursor.h"
#include "app/ui/AppTitle.h"
#include "app/ui/SensorInfoWindow.h"
#include "app/ui/AutoStartEntry.h"
#include "app/ui/HistoryCsvRoute.h"
#include "app/ui/ConfigBinding.h"
#include "app/ui/DialogCommands.h"
#include "app/ui/DemoSensors.h"
#include "app/ui/HttpCommand.h"
#include "app/ui/LogBox.h"
#include "app/ui/SensorMenus.h"
#include "app/ui/StartSteps.h"
#include "app/ui/WebSnapshotPublisher.h"
#include "history/HourTable.h"
#include "history/ReadingStore.h"
#include "history/ui/SHourDelegate.h"
#include "history/ui/TForm4.h"
#include "history/ui/TFormStats.h"
#include "dialogs/ui/TFormAbout.h"
#include "dialogs/ui/TFormLoading.h"
#include "monitor/AlarmActions.h"
#include "monitor/AlarmOutputs.h"
#include "monitor/SensorDiscovery.h"
#include "monitor/SnsGrid.h"
#include "monitor/ui/LiveChart.h"
#include "monitor/ui/MonitorCycle.h"
#include "monitor/ui/SnsGridView.h"
#include "app/ui/BusCommands.h"
#include "buses/BusSet.h"
#include "onewire/DriverHouseBus.h"
#include "onewire/SerialHouseBus.h"
#include "onewire/KernelBus.h"
#include "owserver/OwServerBus.h"
#include "app/ui/MqttCommand.h"
#include "mqtt/MqttPublisher.h"
#include "app/ui/OwServerCommand.h"
#include "owserver/OwServer.h"
#include "onewire/OneWireLink.h"
#include "onewire/RomSearch.h"
#include "onewire/SerialPort.h"
#include "onewire/TemperatureReader.h"
#include "onewire/SensorVerdicts.h"
#include "onewire/VirtualBus.h"
#include "sensors/ui/BusDialog.h"
#include "sensors/ui/SensorSlots.h"
#include "sensors/ui/TForm2.h"
#include "sensors/ui/TForm3.h"
#include "view/BackgroundPicture.h"
#include "view/ui/SensorPanel.h"
#include "view/ui/TrayIndicators.h"
#include "sensors/ui/SensorPicture.h"
#include "web/HttpServer.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QShowEvent>
#include <QSplitter>
#include <QTimer>
#include <QToolButton>

#include <exception>
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
    m_log = std::make_unique<LogBox>(*Memo1, m_clock, m_headless);
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
    m_http = std::make_unique<HttpCommand>(HttpCommand::Parts{
        .server = *IdHTTPServer1,
        .log = *this,
        .HTTP_Active = *HTTP_Active,
        .bHTTP = *bHTTP,
        .HTTPPort = HTTPPort,
        .HTTPBinding = HTTPBinding,
        .publishSnapshot = [this] { publishWebSnapshot(); },
    });

    if (context.makeSerialPort)
        m_port = context.makeSerialPort();

    m_alarmOutputs = std::make_unique<AlarmOutputs>(
        context.sound, context.launcher, [this](const QString &name) { m_alarms->playbackFailed(name); },
        [this](const QString &path) { AddLog(QStringLiteral("Ошибка запуска приложения ") + path); });
    m_alarms = std::make_unique<AlarmActions>(*this, m_alarmOutputs->sound(), m_alarmOutputs->launcher());

    m_chart = new LiveChart;
    plugIn(Chart1, m_chart);
    m_snsView = new SnsGridView(Sns);
    plugIn(SnsView, m_snsView);
    m_hours = std::make_unique<HourTable>(SHour, m_clock);
    m_sHourView = new StringGridView(SHour);
    m_sHourView->setItemDelegate(new SHourDelegate(*m_hours, m_sHourView));
    m_sHourView->setColWidths(HourTable::columnWidths());
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

    m_busCommands = std::make_unique<BusCommands>(BusCommands::Parts{
        .settings = windowSettings(),
        .ui = *this,
        .sensorSlots = *m_slots,
        .verdicts = *m_verdicts,
        .boxes = m_boxes,
        .log = *this,
        .clock = m_clock,
        .port = m_port.get(),
        .makePort = context.makeBusPort ? context.makeBusPort : context.makeSerialPort,
        .stopPending = m_stopPending,
        .closing = [this] { return m_closing; },
        .N3Click = [this] { N3Click(); },
        .scheduleSnapshot = [this] { scheduleWebSnapshot(); },
        .portStateChanged = [this](const QString &reason) { emit portStateChanged(reason); },
        .busChanged = [this] { m_cycle->busChanged(); },
        .window = this,
    });
    // With several buses each reading's row tells its bus on hover, as the page's tip does.
    m_snsView->gridModel().setToolTips([this](int row) {
        bool ok = false;
        const int slot = Sns.Cells(sns::ColKey, row).toInt(&ok);
        BusSet &set = m_busCommands->buses();
        if (!ok || set.count() < 2 || slot < 0 || slot >= static_cast<int>(m_slots->DSItems.size()))
            return QString();
        const int bus = m_slots->DSItems[static_cast<std::size_t>(slot)].Bus;
        return QStringLiteral("Шина «") + set.name(bus >= 1 && bus <= set.count() ? bus : 1) + QStringLiteral("»");
    });
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
        .buses = [this] { return m_busCommands->buses().active(); },
        .busAt = [this](int number) { return m_busCommands->buses().bus(number); },
        .busCount = [this] { return m_busCommands->buses().count(); },
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
    m_mqtt = std::make_unique<MqttCommand>(m_cycle->feed(), *this, m_programDir.dir, MQTT, m_boxes, NMqtt, this,
                                           [this] { scheduleWebSnapshot(); });
    m_owserver = std::make_unique<OwServerCommand>(m_cycle->feed(), *this, m_boxes, NOwServer, this);
    m_webSnapshot = std::make_unique<WebSnapshotPublisher>(WebSnapshotPublisher::Parts{
        .server = *IdHTTPServer1,
        .sensorSlots = *m_slots,
        .verdicts = *m_verdicts,
        .cycle = *m_cycle,
        .mqtt = m_mqtt->publisher(),
        .owServer = m_owserver->server(),
        .SHour = SHour,
        .settings = windowSettings(),
        .ui = *this,
        .store = [this] { return m_store.get(); },
        .buses = [this] { return m_busCommands->view(); },
    });
    m_config = std::make_unique<ConfigBinding>(ConfigBinding::Parts{
        .settings = windowSettings(),
        .ui = *this,
        .chart = *m_chart,
        .sensorSlots = *m_slots,
        .owServer = *m_owserver,
        .log = *this,
        .VisibleUpPanel = [this] { VisibleUpPanel(); },
        .Splitter3Moved = [this] { Splitter3Moved(); },
    });
}

WindowSettings TForm1::windowSettings()
{
    return {.ProgramDir = ProgramDir, .bkFileName = bkFileName, .COMPort = COMPort, .CharMaxCount = CharMaxCount,
            .CharMinMaxAuto = CharMinMaxAuto, .CharMinY = CharMinY, .CharMaxY = CharMaxY, .AutoNab = AutoNab,
            .StartMin = StartMin, .WinStartRun = WinStartRun, .BulkConvert = BulkConvert, .BusKind = BusKind,
            .KernelPath = KernelPath, .OwBus = OwBus, .BusName = BusName, .MoreBuses = MoreBuses, .MQTT = MQTT,
            .HTTPPort = HTTPPort, .HTTPBinding = HTTPBinding};
}

// After the main window, in the program's order of windows: the sensor editor, the settings.
void TForm1::createDialogs()
{
    m_dialogs = std::make_unique<DialogCommands>(
        DialogCommands::Parts{
            .ui = *this,
            .sensorSlots = *m_slots,
            .snsView = *m_snsView,
            .boxes = m_boxes,
            .settings = {
                .settings = windowSettings(),
                .ui = *this,
                .chart = *m_chart,
                .N3Click = [this] { N3Click(); },
                .LoadBackground = [this] { LoadBackground(); },
                .SetAutoStart = [this] { SetAutoStart(); },
                .ResetChart = [this] { ResetChart(); },
                .ChangeHTTPPort = [this](int port) { ChangeHTTPPort(port); },
                .HTTPNotStarted = [this](const QString &reason) { HTTPNotStarted(reason); },
            },
            .programFolder = ProgramDir,
            .publishSnapshot = [this] { publishWebSnapshot(); },
            .busNames = [this] { return m_busCommands->names(); },
        },
        this);
    m_form2 = &m_dialogs->form2();
    m_form3 = &m_dialogs->form3();
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

    connect(NBus, &QAction::triggered, this, [this] { m_busCommands->busSettingsClick(); });
    connect(N5, &QAction::triggered, this, &TForm1::N5Click);
    connect(BSearch, &QToolButton::clicked, this, &TForm1::N5Click);
    connect(N14, &QAction::triggered, this, &TForm1::N5Click);
    connect(N7, &QAction::triggered, this, &TForm1::N7Click);
    connect(BAbout, &QToolButton::clicked, this, &TForm1::N7Click);
    connect(N9, &QAction::triggered, this, &TForm1::N9Click);
    connect(BHistory, &QToolButton::clicked, this, &TForm1::N9Click);
    connect(m_chart, &LiveChart::doubleClicked, this, &TForm1::Chart1DblClick);
    m_sensorMenus = std::make_unique<SensorMenus>(SensorMenus::Parts{
        .ui = *this,
        .sensorSlots = *m_slots,
        .panel = *m_panel,
        .snsView = *m_snsView,
        .Sns = Sns,
        .boxes = m_boxes,
        .publishSnapshot = [this] { publishWebSnapshot(); },
        .showSensorInfo = [this](const QString &serial) { static_cast<void>(m_busCommands->showSensorInfo(serial)); },
    });
}

void TForm1::FormCreate()
{
    setWindowTitle(apptitle::mainCaption());
    // Step 2, the minimise handler: changeEvent() hands every minimising to MyMinimize.
    ProgramDir = m_programDir.dir;
    if (!m_programDir.logLine.isEmpty())
        AddLog(m_programDir.logLine);
    const QString storeFile = ProgramDir + ReadingStore::fileName();
    // A configuration, background or store that fails is logged and the start goes on; any
    // other error ends the sequence at its step, the window going on as far as it was set up.
    guarded(m_boxes, [&] {
        startsteps::logged(*this, iniPath(), [this] { LoadIni(); });
        m_mqtt->publisher().setSettings(MQTT);
        addDemoSensors();
        if (StartMin && !m_headless)
            setWindowState(windowState() | Qt::WindowMinimized);
        // Before anything else is logged: the addresses to open are the first lines it writes.
        if (m_demo && m_headless)
            serveDemo();
        // A picture that does not decode is logged; the web server and the store still start.
        startsteps::logged(*this, background::path(bkFileName, ProgramDir), [this] { LoadBackground(); });
        if (!IdHTTPServer1->running())
            StartHTTP(false);
        startsteps::logged(*this, storeFile, [this] { ConnectDB(); });
        m_cycle->chartState().PointCounter = CharMaxCount;
        sns::prepare(Sns);
        m_hours->writeHeader();
        if (!startsteps::logged(*this, storeFile, [this] { Load24Hour(); }))
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
    startsteps::atShutdown("TrayAllDelete", [this] { TrayAllDelete(); });
    if (!m_headless)
        startsteps::atShutdown("SetAutoStart", [this] { SetAutoStart(); });
    startsteps::atShutdown("SaveIni", [this] { m_config->saveAtExit(); });
}

void TForm1::closeEvent(QCloseEvent *event)
{
    // A cycle or a search waiting on the bus stops at once (its waits end); the shutdown
    // itself runs when the event loop has returned.
    m_closing = true;
    m_busCommands->buses().abortAll();
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
    m_log->add(message);
}

void TForm1::addRawLine(const QString &line)
{
    m_log->addRaw(line);
}

void TForm1::addLogFor(const QString &message, const QString &serviceText)
{
    m_log->addFor(message, serviceText);
}

void TForm1::echoLine(const QString &line)
{
    LogBox::echoLine(line);
}

void TForm1::N15Click()
{
    m_log->clear();
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
        co_await m_busCommands->search();
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
    return !m_busCommands->buses().anyBusy() && !m_busCommands->searching() && !m_cycle->running();
}

void TForm1::drainBus()
{
    m_closing = true;
    m_busCommands->buses().abortAll();
    Timer1->stop();
    // Every wait under way has been woken; what resumes finds the program closing and ends.
    QElapsedTimer waited;
    waited.start();
    while (!busIdle() && waited.elapsed() < 2000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

bool TForm1::anySensor() const
{
    return m_slots->anyInUse();
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
        if (!m_busCommands->openObservation()) {
            N3->setChecked(false);
            SetScanButton();
            return;
        }
        AddLog(QStringLiteral("Отслеживание датчиков включено."));
        emit observationStarted();
        Nabl();
    } else {
        m_busCommands->closeObservation();
        m_cycle->observationSwitchedOff();
        AddLog(QStringLiteral("Отслеживание датчиков выключено."));
        SetScanButton();
        scheduleWebSnapshot();
    }
}

BusSet &TForm1::buses() const
{
    return m_busCommands->buses();
}

std::vector<BusConfig> TForm1::busList() const
{
    return m_busCommands->busList();
}

OneWireLink *TForm1::link() const
{
    SerialHouseBus *bus = m_port ? m_busCommands->serialBus() : nullptr;
    return bus ? &bus->link() : nullptr;
}

RomSearch *TForm1::romSearch() const
{
    SerialHouseBus *bus = m_port ? m_busCommands->serialBus() : nullptr;
    return bus ? &bus->romSearch() : nullptr;
}

TemperatureReader *TForm1::temperatureReader() const
{
    SerialHouseBus *bus = m_port ? m_busCommands->serialBus() : nullptr;
    return bus ? &bus->temperatureReader() : nullptr;
}

DriverBus *TForm1::driverBus() const
{
    return m_busCommands->driverBus();
}

KernelBus *TForm1::kernelBus() const
{
    return dynamic_cast<KernelBus *>(driverBus());
}

OwServerBus *TForm1::owServerBus() const
{
    return dynamic_cast<OwServerBus *>(driverBus());
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
    // A demo must show a working thermometer: observation comes on whatever the configuration
    // says, and an empty configuration gets the bus's sensors.
    m_startObservation = true;
    demosensors::add(*bus, m_clock, *m_slots, background::path(bkFileName, ProgramDir), *this, *this);
}

void TForm1::serveDemo()
{
    m_http->serveDemo(iniPath());
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
    static_cast<void>(m_busCommands->readSingleSerial());
}

// Hides the window into the notification area once the minimising event is done.
void TForm1::MyMinimize()
{
    if (m_tray)
        m_tray->MyMinimize();
}

QString TForm1::iniPath() const
{
    return m_config->iniPath();
}

void TForm1::LoadIni()
{
    m_config->LoadIni();
}

bool TForm1::SaveIni()
{
    return m_config->SaveIni();
}

void TForm1::HTTPNotStarted(const QString &reason)
{
    m_http->HTTPNotStarted(reason);
}

// Shows the background picture bkFileName on the sensor panel.
void TForm1::LoadBackground()
{
    m_panel->LoadBackground(bkFileName, ProgramDir);
}

void TForm1::StartHTTP(bool reportOff)
{
    m_http->StartHTTP(reportOff);
}

void TForm1::ChangeHTTPPort(int port)
{
    m_http->ChangeHTTPPort(port);
}

void TForm1::publishWebSnapshot()
{
    m_webSnapshot->publish();
}

void TForm1::scheduleWebSnapshot()
{
    m_webSnapshot->schedule();
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

// The three columns of Sns span the left column.
void TForm1::Splitter3Moved()
{
    m_snsView->fillWidth(Panel3->width());
}

MqttPublisher &TForm1::mqttPublisher() const
{
    return m_mqtt->publisher();
}

void TForm1::setMqttSettings(const MqttSettings &settings)
{
    m_mqtt->setSettings(settings);
}

// The sensor search: every code on the bus that no slot in use holds becomes a new sensor.
void TForm1::N5Click()
{
    // One search at a time: a second click while one runs has nothing to add.
    if (m_busCommands->searching() || m_closing)
        return;
    static_cast<void>(m_busCommands->search());
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

void TForm1::Chart1DblClick()
{
    N9Click();
}
