#pragma once

#include "base/Log.h"
#include "base/StringGrid.h"
#include "app/ui/ProgramDirectory.h"
#include "app/ui/TForm1Ui.h"
#include "app/ui/WebSnapshotPublisher.h"
#include "app/ui/WindowSettings.h"
#include "monitor/SensorDiscovery.h"
#include "onewire/BusTurn.h"
#include "sensors/BusConfig.h"
#include "sensors/MqttSettings.h"
#include "sensors/OwServerBusSettings.h"
#include "sensors/TDSItem.h"

#include <QCoroTask>
#include <QMainWindow>
#include <QStringList>

#include <functional>
#include <memory>
#include <utility>

class AlarmActions;
class AlarmOutputs;
class BusCommands;
class BusSet;
class ConfigBinding;
class HouseBus;
class HttpCommand;
class SerialHouseBus;
class HttpServer;
class LogBox;
class AppLauncher;
class Clock;
class DialogCommands;
class DialogBoxes;
class Ds2480bLink;
class HourTable;
class DriverBus;
class KernelBus;
class LiveChart;
class MonitorCycle;
class MqttCommand;
class MqttPublisher;
class OwServerCommand;
class OneWireLink;
class OwServerBus;
class ReadingStore;
class RomSearch;
class SensorMenus;
class SensorPanel;
class SensorSlots;
class SensorVerdicts;
class SerialPort;
class TForm2;
class TForm3;
class SoundPlayer;
class TemperatureReader;
class TrayIndicators;
class StringGridView;
class TForm4;
class TFormAbout;
class TFormLoading;
class TFormStats;
class WebSnapshotPublisher;

// What the main window gets from the program entry (or from a test).
struct TForm1Context
{
    Clock &clock;
    DialogBoxes &boxes;
    // ProgramDir, with the log line that explains an unexpected choice.
    ProgramDirectory programDir;
    // The program's full path and the arguments it runs with (--dir DIR, --demo): what the
    // session autostart entry starts.
    QStringList programCommand;
    // The session autostart entry file (AutoStartEntry::defaultPath() outside tests).
    QString autostartFile;
    // Makes the serial port under the 1-Wire link once, when the window is created; may yield
    // nothing, and then every open fails.
    std::function<std::unique_ptr<SerialPort>()> makeSerialPort;
    // A port for each further serial bus ([Bus2] ...); unset: makeSerialPort.
    std::function<std::unique_ptr<SerialPort>()> makeBusPort = {};
    // True once the program was asked to stop (a signal), seen even where no event loop runs.
    // Unset: only closing the window stops it.
    std::function<bool()> stopPending = {};
    // --demo: the port is the built-in virtual bus.
    bool demo = false;
    // --headless: no screen and nobody at it. Observation starts whatever AutoNab says, every
    // log line also goes to standard error, the window never minimises and the desktop's
    // autostart entry is left alone (a service manager starts the program).
    bool headless = false;
    // Alarm sound and application start; null gives the real ones (tests pass fakes).
    SoundPlayer *sound = nullptr;
    AppLauncher *launcher = nullptr;
};

// The main window: owns the settings and the serial port, runs the start-up and shutdown
// sequences and the observation switch. Subsystems (the log box, the configuration, the web
// server's switch and snapshot, the dialogs, the menus) keep their routines in their own
// classes and reach the window through references and callbacks; the handlers here call them.
class TForm1 final : public QMainWindow, public TForm1Ui, public Log
{
    Q_OBJECT

public:
    // Runs FormCreate. Timer2 starts the automatic observation once the event loop runs.
    explicit TForm1(TForm1Context context, QWidget *parent = nullptr);
    // Runs FormDestroy.
    ~TForm1() override;

    // Settings under their configuration key names (defaults of a missing configuration).
    QString ProgramDir;
    QString bkFileName = QStringLiteral("bk.jpg");
    int COMPort = 1;
    int CharMaxCount = 10;
    bool CharMinMaxAuto = true;
    double CharMinY = -10;
    double CharMaxY = 10;
    bool AutoNab = false;
    bool StartMin = false;
    bool WinStartRun = false;
    // [Bus] BulkConvert: one conversion for the whole bus.
    bool BulkConvert = false;
    // [Bus] Kind: "serial" (the port COMPort), "kernel" (the kernel's 1-Wire driver, its
    // devices under KernelPath) or "owserver" (an OWFS server at OwBus); the port is
    // opened for "serial" only.
    QString BusKind = QStringLiteral("serial");
    QString KernelPath = QStringLiteral("/sys/bus/w1/devices");
    OwServerBusSettings OwBus;
    // [Bus] Name: what bus 1 is called (empty: "Шина 1"), and buses 2, 3, ... ([Bus2] ...).
    QString BusName;
    std::vector<BusConfig> MoreBuses;
    // Every bus, bus 1 (the members above) first.
    std::vector<BusConfig> busList() const;
    // [MQTT]: readings to a broker and Home Assistant (applied with setMqttSettings).
    MqttSettings MQTT;
    // The web server's port and its one binding address ("0.0.0.0" once LoadIni ran: all
    // interfaces); the server reads them when it starts.
    int HTTPPort = 80;
    QString HTTPBinding;

    // Contents of the current-readings grid and of the hourly grid (shown in SnsView and
    // SHourView).
    StringGrid Sns{3, 2};
    StringGrid SHour{26, 2};

    // Log: date-time text, " : ", message, in the log box (LogBox).
    void AddLog(const QString &message) override;
    void addRawLine(const QString &line) override;
    void addLogFor(const QString &message, const QString &serviceText) override;
    // A log line ("stamp : text") to standard error as well (LogBox::echoLine).
    static void echoLine(const QString &line);
    // True while a slot holds a sensor.
    bool anySensor() const;

    // Observation switch: applies the check mark of N3 (set it first when calling from code).
    void N3Click();
    // Copies the pressed state of BScan to N3, then N3Click.
    void BScanClick();
    // Timer1 and BScan follow the check mark of N3.
    void SetScanButton();
    // Closes the window, which ends the program.
    void N1Click();
    // Empties the log box.
    void N15Click();
    // Menu bar on or off after the check mark of N10.
    void N10Click();
    void VisibleUpPanel();
    // Keeps the serial number column of Sns filling the left column.
    void Splitter3Moved();
    // One monitoring cycle over every sensor (also run by Timer1).
    void Nabl();
    // Every chart line back to CharMaxCount null points, PointCounter and the automatic
    // bounds back to their start (the settings dialog after CharMaxCount changed).
    void ResetChart();
    // Writes the session autostart entry when WinStartRun is set, deletes it otherwise; a
    // failure is logged.
    void SetAutoStart();

    // Web server (HttpCommand). StartHTTP makes the server's running state follow the check mark of
    // HTTP_Active and logs the outcome; reportOff logs the off state too.
    void StartHTTP(bool reportOff);
    // The settings dialog's port change: a running server moves to `port` ("0.0.0.0"),
    // without log lines; a failure to start there is reported as StartHTTP reports it.
    void ChangeHTTPPort(int port);
    // Hands the web server a copy of what the page shows. Call after every change to the
    // sensor slots, their pictures, captions, the hourly grid or bkFileName.
    void publishWebSnapshot();
    HttpServer &httpServer() const { return *IdHTTPServer1; }

    // The port under the 1-Wire link; null when the program has none.
    SerialPort *serialPort() const { return m_port.get(); }
    Clock &clock() const { return m_clock; }
    DialogBoxes &boxes() const { return m_boxes; }
    bool demo() const { return m_demo; }

    // The subsystems the window owns; the handlers here call them.
    SensorSlots &sensorSlots() const { return *m_slots; }
    SensorPanel &sensorPanel() const { return *m_panel; }
    TrayIndicators &trayIndicators() const { return *m_tray; }
    LiveChart &liveChart() const { return *m_chart; }
    StringGridView &snsView() const { return *m_snsView; }
    StringGridView &sHourView() const { return *m_sHourView; }
    // Null until ConnectDB ran.
    ReadingStore *store() const { return m_store.get(); }
    HourTable &hourTable() const { return *m_hours; }
    AlarmActions &alarms() const { return *m_alarms; }
    // The buses of the house as the members above say now (bus 1 first).
    BusSet &buses() const;
    // Null when the window has no port; the DS2480B's while BusKind is "ds2480b".
    OneWireLink *link() const;
    RomSearch *romSearch() const;
    TemperatureReader *temperatureReader() const;
    // The kernel's bus, on KernelPath as set now; null unless BusKind is "kernel".
    KernelBus *kernelBus() const;
    // The owserver's bus, at OwBus as set now; null unless BusKind is "owserver".
    OwServerBus *owServerBus() const;
    // The bus another driver works (kernel or owserver) as BusKind says; null for "serial".
    DriverBus *driverBus() const;
    MonitorCycle &monitorCycle() const { return *m_cycle; }
    // What each sensor's latest diagnosis or readings say it is (/metrics, "Сведения…").
    SensorVerdicts &sensorVerdicts() const { return *m_verdicts; }
    MqttPublisher &mqttPublisher() const;
    // The sensors served over the owserver protocol ([OwServer]).
    OwServerCommand &owServer() const { return *m_owserver; }
    // MQTT := settings, and the publisher reconnects with them at once.
    void setMqttSettings(const MqttSettings &settings);
    // True while nothing uses the bus: no cycle, no search, no single-device read under way.
    bool busIdle() const;
    // The sensor editor and the settings dialog, created once after the window.
    TForm2 &form2() const { return *m_form2; }
    TForm3 &form3() const { return *m_form3; }
    // Hour of day seen by the previous monitoring cycle (set by Load24Hour at start-up).
    int LastHour = 0;

    // The windows created once after the main window, only shown and hidden afterwards.
    TFormStats *FormStats = nullptr;
    TFormAbout *FormAbout = nullptr;
    TFormLoading *FormLoading = nullptr;
    TForm4 *Form4 = nullptr;

signals:
    // The port was lost (reason) or is back (empty text), while observation is on.
    void portStateChanged(const QString &lostReason);
    // The window was closed: the program is to end.
    void closed();
    // Observation came on: the first cycle runs now and the next ones on Timer1.
    void observationStarted();
    // The delayed start-up (Timer2) is over, whether observation came on or not.
    void startUpEnded();

protected:
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void createSubsystems(TForm1Context &context);
    // References to the settings members, for the configuration and the settings dialog.
    WindowSettings windowSettings();
    void createDialogs();
    void connectCommands();
    void FormCreate();
    void FormDestroy();
    // The history window, the about box, the loading window and the chart help, in that order.
    void createWindows();
    void Timer1Timer();
    void Timer2Timer();
    QCoro::Task<> startUp();
    void Button1Click();
    QString portName() const;
    // Closing: every operation on the bus runs out (its waits end at once) before what it
    // works on is destroyed. Bounded, so a stuck one cannot keep the program from ending.
    void drainBus();

    // Seams: each is filled by the subsystem named in its comment.
    void MyMinimize();
    void LoadIni();
    bool SaveIni();
    void LoadBackground();
    // A failed start as StartHTTP reports it: HTTP_Active and bHTTP released, the log line.
    void HTTPNotStarted(const QString &reason);
    void ConnectDB();
    void Load24Hour();
    void TrayModify(int id, const QString &text, const QString &tip, TColor background, TColor foreground);
    void TrayAllDelete();
    // --demo: the virtual bus gets its sensors; a configuration without sensors gets them too.
    void addDemoSensors();
    // --demo --headless: the web server comes on, on port 8080 or the next free one, unless
    // the configuration has a say; the log names the page and the metrics.
    void serveDemo();
    // The sensor search on every active bus (one at a time).
    void N5Click();
    QString iniPath() const;
    void N7Click();
    void N9Click();
    // Several changes in one go (a grid rewritten cell by cell) give one snapshot.
    void scheduleWebSnapshot();
    void Chart1DblClick();

    Clock &m_clock;
    std::unique_ptr<LogBox> m_log;
    DialogBoxes &m_boxes;
    ProgramDirectory m_programDir;
    QStringList m_programCommand;
    QString m_autostartFile;
    std::unique_ptr<SerialPort> m_port;
    std::unique_ptr<BusCommands> m_busCommands;
    std::unique_ptr<SensorVerdicts> m_verdicts;
    std::unique_ptr<AlarmOutputs> m_alarmOutputs;
    std::unique_ptr<AlarmActions> m_alarms;
    std::unique_ptr<ReadingStore> m_store;
    std::unique_ptr<HourTable> m_hours;
    std::unique_ptr<MonitorCycle> m_cycle;
    // After the cycle: it consumes the cycle's readings and goes first.
    std::unique_ptr<MqttCommand> m_mqtt;
    std::unique_ptr<OwServerCommand> m_owserver;
    std::unique_ptr<HttpServer> IdHTTPServer1;
    std::unique_ptr<HttpCommand> m_http;
    // After what it reads: it goes first.
    std::unique_ptr<WebSnapshotPublisher> m_webSnapshot;
    std::unique_ptr<ConfigBinding> m_config;
    std::unique_ptr<SensorMenus> m_sensorMenus;
    LiveChart *m_chart = nullptr;
    StringGridView *m_snsView = nullptr;
    StringGridView *m_sHourView = nullptr;
    SensorSlots *m_slots = nullptr;
    TForm2 *m_form2 = nullptr;
    TForm3 *m_form3 = nullptr;
    std::unique_ptr<DialogCommands> m_dialogs;
    SensorPanel *m_panel = nullptr;
    TrayIndicators *m_tray = nullptr;
    bool m_demo;
    bool m_headless;
    // Observation switches on by itself once the loop runs (AutoNab, or the demo).
    bool m_startObservation = false;
    bool m_destroyed = false;
    // Set by the first close (window, menu or a stop signal): cycles and searches under way
    // end at their next step.
    bool m_closing = false;
    std::function<bool()> m_stopPending;
};
