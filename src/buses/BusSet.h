#pragma once

#include "onewire/HouseBus.h"
#include "onewire/TemperatureReader.h"
#include "sensors/BusConfig.h"

#include <functional>
#include <memory>
#include <vector>

class Clock;
class Log;
class SerialPort;

// The buses of the house, bus 1 first: one object per bus, made for its kind (serial port,
// DS2480B, the kernel's driver, an owserver). The window asks the set for a bus by number;
// an object whose kind or place changes is replaced, and what still runs on the old one keeps
// it alive until it ends (it finds another object at the number and stops).
class BusSet
{
public:
    struct Context
    {
        Log &log;
        const Clock &clock;
        // Bus 1's serial port, kept by the window for the program's life; null: none.
        SerialPort *firstPort = nullptr;
        // A port for each further serial bus; unset or null: that bus never opens.
        std::function<std::unique_ptr<SerialPort>()> makePort = {};
        // True once the program is asked to stop (links end their waits).
        std::function<bool()> stopPending = {};
        // Every serial reading's scratchpad (the running verdicts).
        TemperatureReader::ScratchpadObserver scratchpadObserver = {};
        // Observation's check mark, and a port lost (reason) or back (empty) on a bus.
        std::function<bool()> observationOn = {};
        std::function<void(int number, const QString &reason)> portStateChanged = {};
    };

    explicit BusSet(Context context);
    ~BusSet();
    BusSet(const BusSet &) = delete;
    BusSet &operator=(const BusSet &) = delete;

    // The list: at least bus 1, at most MaxBuses. True when an object was made anew (what
    // was open on the old one is closed: observation must open the new one).
    bool setBuses(const std::vector<BusConfig> &configs);
    const std::vector<BusConfig> &configs() const { return m_configs; }
    int count() const { return static_cast<int>(m_buses.size()); }
    // Null for a number the list lacks.
    std::shared_ptr<HouseBus> bus(int number) const;
    std::vector<std::shared_ptr<HouseBus>> all() const { return m_buses; }
    std::vector<std::shared_ptr<HouseBus>> active() const;
    // The name of bus `number` (the list's, or "Шина N").
    QString name(int number) const;
    void abortAll();
    // True while some bus is held by an operation.
    bool anyBusy() const;

private:
    std::shared_ptr<HouseBus> make(int number, const BusConfig &config);

    Context m_context;
    std::vector<BusConfig> m_configs;
    std::vector<std::shared_ptr<HouseBus>> m_buses;
    // What a serial bus without a port of its own opens: nothing.
    std::unique_ptr<SerialPort> m_closedPort;
};
