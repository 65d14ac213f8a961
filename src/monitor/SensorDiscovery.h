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
struct BusSearch;

// The search command: enumerates every bus it is given and adds a sensor with default settings
// for every code no slot in use holds. The main window owns everything it touches; the hooks
// and each bus's SearchBus reach it.
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
        // True once the program is closing: the search ends at its next step. Unset: never.
        std::function<bool()> closing;
        // Whether a slot is in use (its picture exists and is visible).
        std::function<bool(const TDSItem &)> inUse;
        AddItemFn addItem;
        // A chart colour index 0 to 15; unset means a uniform random one.
        std::function<int()> randomColorIndex;
        // Opens the sensor editor for a new sensor and waits until it closes (N4Click).
        std::function<void()> editNewSensor;
    };

    // One bus as the search of every bus sees it.
    struct SearchBus
    {
        int number = 1;
        // Its name while the program has several buses; empty with one.
        QString name;
        // Why it cannot be searched (the box's text: "Порт занят!" for a port that will not
        // open), empty once it is open for the search; giveBack ends the search's use of it,
        // however the search ends.
        std::function<QCoro::Task<QString>()> open;
        std::function<void()> giveBack;
        // The search state and the next code of the enumeration (empty when it ends).
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
        // Why the first bus that could not be searched refused.
        QString refused;
        int found = 0;
        int added = 0;
    };

    // items is the main window's slot array; it is re-read after every AddItem.
    SensorDiscovery(Log &log, DialogBoxes &boxes, const TDSItems &items, Hooks hooks);

    // The search of every bus at once (observation is off after; each bus is searched once a
    // cycle's part under way on it has run out on the closed port, and held until given back): each new code becomes a sensor of the bus it was found
    // on; a sensor known on one bus and found on another moves there only when its own bus was
    // searched and no longer sees it (logged). One summary box for all; a bus that could not
    // be searched is named in it.
    QCoro::Task<Result> N5Click(std::vector<SearchBus> buses, BusTies ties);
    // The sensor editor for a new sensor, when the main window has given one.
    void N4Click();

    // An open answer known at once.
    static QCoro::Task<QString> refusal(QString text) { co_return text; }

    // Whether a slot in use holds code (serial compared in upper case).
    bool isKnown(const QString &code) const;
    // The slot in use that holds code, -1 for none.
    int slotOf(const QString &code) const;

    // Left and top of the k-th new sensor of one search (k from 1).
    static int newSensorPosition(int k) { return 300 + 30 * k; }

private:
    TColor pickChartColor() const;
    // One bus's part of the search of every bus: the codes it found, in order.
    QCoro::Task<> enumerateBus(SearchBus bus, BusTies ties, std::shared_ptr<BusSearch> state);
    // A new code found on bus `number`: a sensor with default settings.
    void addNew(const QString &code, int number, Result &result, const BusTies &ties);

    Log &m_log;
    DialogBoxes &m_boxes;
    const TDSItems &m_items;
    Hooks m_hooks;
};
