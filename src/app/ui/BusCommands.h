#pragma once

#include "app/ui/WebSnapshotPublisher.h"
#include "app/ui/WindowSettings.h"
#include "sensors/BusConfig.h"

#include <QCoroTask>
#include <QObject>

#include <functional>
#include <memory>
#include <vector>

class BusSet;
class Clock;
class DialogBoxes;
class DriverBus;
class HouseBus;
class Log;
class SensorSlots;
class SensorVerdicts;
class SerialHouseBus;
class SerialPort;
class TForm1Ui;
class QWidget;

// What the window does with its buses: the set of buses kept to the settings, observation
// opening and closing them, the search of every bus, the single-device read, "Сведения…" and
// the dialog "Шина…" with the list of buses.
class BusCommands final
{
public:
    struct Parts
    {
        // COMPort, BusKind, KernelPath, BulkConvert, OwBus, BusName and MoreBuses.
        WindowSettings settings;
        // The check mark of N3.
        const TForm1Ui &ui;
        SensorSlots &sensorSlots;
        SensorVerdicts &verdicts;
        DialogBoxes &boxes;
        Log &log;
        const Clock &clock;
        // Bus 1's port (null: none); a port for every further serial bus.
        SerialPort *port;
        std::function<std::unique_ptr<SerialPort>()> makePort;
        std::function<bool()> stopPending;
        // True once the window is closing.
        std::function<bool()> closing;
        // Observation switched off as the check mark of N3 says (after clearing it).
        std::function<void()> N3Click;
        std::function<void()> scheduleSnapshot;
        // Bus 1's port lost (reason) or back (empty).
        std::function<void(const QString &reason)> portStateChanged;
        // The devices may have changed (a search ran).
        std::function<void()> busChanged;
        // The parent of the dialog and of "Сведения о датчике".
        QWidget *window;
    };

    explicit BusCommands(Parts parts);
    ~BusCommands();
    BusCommands(const BusCommands &) = delete;
    BusCommands &operator=(const BusCommands &) = delete;

    // The set, after the settings as they are now.
    BusSet &buses() const;
    std::vector<BusConfig> busList() const;
    // Bus 1 as the serial or driver bus it is; null for another kind.
    SerialHouseBus *serialBus() const;
    DriverBus *driverBus() const;
    WebSnapshotPublisher::BusesView view() const;
    QStringList names() const;

    // Observation on: every active bus opened, failures logged. False when observation
    // cannot start (one bus, and it did not open); with several, one that cannot is tried
    // again at each of its parts while the others go on.
    bool openObservation();
    void closeObservation();
    // The dialog's list applied: observation under way goes on with the new buses.
    void applyBuses(const std::vector<BusConfig> &buses);
    // "Шина…".
    void busSettingsClick();
    // Button "s/n": the Read ROM of a lone device on every active bus (observation off).
    QCoro::Task<> readSingleSerial();
    // "Сведения…": the window at once, then what the sensor's own bus tells.
    QCoro::Task<> showSensorInfo(QString serial);
    // "Поиск датчиков" on every active bus at once.
    QCoro::Task<> search();
    bool searching() const { return m_searching; }

private:
    Parts m_parts;
    std::unique_ptr<BusSet> m_buses;
    bool m_searching = false;
};
