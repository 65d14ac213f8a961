#pragma once

#include "sensors/TDSItem.h"

#include <QCoroTask>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class BusTurn;
class Log;
class DialogBoxes;
class SerialPort;
struct BusSearch;

// The search command: enumerates the bus and adds a sensor with default settings for every
// code no slot in use holds. The main window owns everything it touches; the hooks reach it.
class SensorDiscovery
{
public:
    using AddItemFn = std::function<void(int X, int Y, const QString &Name, const QString &SN,
                                         bool Enable, double Correct, bool Tray, TColor CBFon,
                                         TColor CBText, TColor CBChart, const TSign &Sign)>;

    struct Hooks
    {
        // Observation switch (N3's check mark) and switching it off: clear the mark, N3Click.
        std::function<bool()> observationOn;
        std::function<void()> switchObservationOff;
        // The search state and the next code of the enumeration (empty when it ends).
        std::function<void()> clearState;
        std::function<QCoro::Task<QString>()> findNext;
        // True once the program is closing: the search ends at its next step. Unset: never.
        std::function<bool()> closing;
        // Whether a slot is in use (its picture exists and is visible).
        std::function<bool(const TDSItem &)> inUse;
        AddItemFn addItem;
        // A chart colour index 0 to 15; unset means a uniform random one.
        std::function<int()> randomColorIndex;
        // Opens the sensor editor for a new sensor and waits until it closes (N4Click).
        std::function<void()> editNewSensor;
        // A bus that is no serial port (the kernel's driver, an owserver): why it cannot be
        // searched, or empty when it can; the text is the box the search shows. Unset: the
        // port is opened.
        std::function<QCoro::Task<QString>()> openBus = {};
        // Ends the search's use of the port: closed, unless observation was switched on
        // meanwhile and reads on it. Unset: closed.
        std::function<void()> givePortBack = {};
    };

    // One bus as the search of every bus sees it.
    struct SearchBus
    {
        int number = 1;
        // Its name while the program has several buses; empty with one.
        QString name;
        // Why it cannot be searched (the box's text), empty once it is open for the search.
        std::function<QCoro::Task<QString>()> open;
        // Ends the search's use of it (however the search ends).
        std::function<void()> giveBack;
        std::function<void()> clearState;
        std::function<QCoro::Task<QString>()> findNext;
        BusTurn *turn = nullptr;
    };
    // The bus a slot is read on, and moving it to another (slot index, bus number).
    struct BusTies
    {
        std::function<int(int slot)> busOf;
        std::function<void(int slot, int bus)> tie;
    };

    struct Result
    {
        bool portOpened = false;
        // Why openBus refused the bus (shown instead of "Порт занят!").
        QString refused;
        int found = 0;
        int added = 0;
    };

    // items is the main window's slot array; it is re-read after every AddItem.
    SensorDiscovery(Log &log, DialogBoxes &boxes, SerialPort &port, const TDSItems &items,
                    Hooks hooks);
    // For the search of every bus, which reaches each bus through its SearchBus.
    SensorDiscovery(Log &log, DialogBoxes &boxes, const TDSItems &items, Hooks hooks);

    // The whole search on the port named portName ("COM" + COMPort). Observation is off after.
    // The search waits for a cycle under way to run out on the closed port, then holds the
    // bus until it has closed the port again.
    QCoro::Task<Result> N5Click(QString portName, BusTurn &bus);
    // The search of every bus at once: each new code becomes a sensor of the bus it was found
    // on; a sensor known on one bus and found on another moves there only when its own bus was
    // searched and no longer sees it (logged). One summary box for all; a bus that could not
    // be searched is named in it.
    QCoro::Task<Result> N5Click(std::vector<SearchBus> buses, BusTies ties);
    // The sensor editor for a new sensor, when the main window has given one.
    void N4Click();

    // An openBus answer known at once.
    static QCoro::Task<QString> refusal(QString text) { co_return text; }

    // Whether a slot in use holds code (serial compared in upper case).
    bool isKnown(const QString &code) const;
    // The slot in use that holds code, -1 for none.
    int slotOf(const QString &code) const;

    // Left and top of the k-th new sensor of one search (k from 1).
    static int newSensorPosition(int k) { return 300 + 30 * k; }

private:
    TColor pickChartColor() const;
    // Opens the port, finds and adds, closes the port, all while holding the bus.
    QCoro::Task<Result> enumerate(QString portName, BusTurn &bus);
    // One bus's part of the search of every bus: the codes it found, in order.
    QCoro::Task<> enumerateBus(SearchBus bus, BusTies ties, std::shared_ptr<BusSearch> state);
    // A new code found on bus `number`: a sensor with default settings.
    void addNew(const QString &code, int number, Result &result, const BusTies &ties);

    Log &m_log;
    DialogBoxes &m_boxes;
    SerialPort *m_port = nullptr;
    const TDSItems &m_items;
    Hooks m_hooks;
};
