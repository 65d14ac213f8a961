#pragma once

#include "monitor/ChartState.h"
#include "sensors/TDSItem.h"

#include <QCoroTask>
#include <QDate>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class AlarmActions;
class BusTurn;
class Clock;
class DialogBoxes;
class HourTable;
class LiveChart;
class Log;
class ReadingStore;
class SensorSlots;
class StringGrid;
class TemperatureReader;

// The monitoring cycle Nabl: one pass over every sensor slot that reads each enabled sensor
// (three attempts), corrects the reading and hands it to the panel label, the live chart, the
// store, the grid Sns, the hourly table, the tray and the alarms.
//
// The cycle is a coroutine: each measurement suspends it in its waits and the event loop runs
// on, so no window opened meanwhile (modal or not) holds polling, and anything may happen
// between two steps: a slot deleted, switched off, edited or re-created, observation switched
// off (the port closes; the rest of the cycle finds no presence) or off and on again (this
// cycle ends at its next step and a new one starts once it has: never two beside each other).
// The cycle therefore keeps no reference into the slots across a measurement: it re-reads the
// slot by index afterwards and drops the result unless the slot still holds the same sensor
// with the same objects. It holds the bus for its whole run, so a search waits for it.
// An error inside the cycle is shown and logged; the cycle goes on with the next sensor and
// always ends by restarting the poll timer while observation is on.
class MonitorCycle
{
public:
    // What the cycle works on; everything must outlive the cycle. The functions are read on
    // every cycle, so the window may replace what they return.
    struct Parts
    {
        SensorSlots &sensorSlots;
        LiveChart &chart;
        StringGrid &Sns;
        HourTable &hours;
        AlarmActions &alarms;
        Log &log;
        DialogBoxes &boxes;
        const Clock &clock;
        BusTurn &bus;
        // LastHour of the window (set by Load24Hour).
        int &LastHour;
        // Null when the program has no port or no store (a failed start-up).
        std::function<TemperatureReader *()> reader;
        std::function<ReadingStore *()> store;
        // The check mark of N3.
        std::function<bool()> observationOn;
        // Timer1 stopped for the cycle and started again at its end.
        std::function<void()> stopTimer;
        std::function<void()> startTimer;
        // The setting CharMinMaxAuto.
        std::function<bool()> autoBounds;
        // Repaints SHour (its highlighted hour column moved).
        std::function<void()> repaintHours;
        // True once the program is closing: the cycle polls no further sensor and drops the
        // reading under way. Unset: never.
        std::function<bool()> stopping;
        // Called when an outer cycle has ended (its duration is known). Unset: nothing.
        std::function<void()> cycleEnded = {};
        // True while the port is lost (unplugged, replaced): asked before every reading, so a
        // loss is noticed within the cycle. Unset: never.
        std::function<bool()> portLost = {};
        // At the start of every cycle: opens a lost port again where it can. Unset: nothing.
        std::function<void()> reopenPort = {};
    };

    explicit MonitorCycle(Parts parts);
    ~MonitorCycle();
    MonitorCycle(const MonitorCycle &) = delete;
    MonitorCycle &operator=(const MonitorCycle &) = delete;

    // Tray seam: icon number (slot + 1), text, tip, background and text colours. Unset: no
    // tray yet.
    std::function<void(int id, const QString &text, const QString &tip, TColor background, TColor foreground)> TrayModify;

    // Starts one cycle and returns; the cycle goes on in the event loop. Nothing happens while
    // observation is off. Asked for while a cycle runs, the new one starts when that one ends.
    void Nabl();
    // Observation was switched off (the port closed): should it be on again by the cycle's
    // next step, the cycle ends there and the one asked for by switching on runs after it.
    void observationSwitchedOff() { m_switchedOff = true; }
    // True from a cycle's start until its end.
    bool running() const { return m_running; }

    // PointCounter and the automatic bounds (ResetChart works on them too).
    ChartState &chartState() { return m_state; }
    const ChartState &chartState() const { return m_state; }
    // How many cycles are running now: 0 or 1.
    int depth() const { return m_running ? 1 : 0; }
    // Milliseconds the last whole cycle took, from its start to its end; -1 before the first.
    qint64 lastCycleMs() const { return m_lastCycleMs; }

    static constexpr int Attempts = 3;

private:
    bool closing() const;

    // What identifies a slot's sensor across a wait: its serial and the objects it owns.
    struct SlotIdentity
    {
        QString SN;
        const void *image = nullptr;
        const void *tempLabel = nullptr;
        const void *nameLabel = nullptr;
        const void *series = nullptr;
    };
    SlotIdentity identityOf(int index) const;
    // True while slot `index` is still in use, enabled and holds the sensor `before` saw.
    bool stillSame(int index, const SlotIdentity &before) const;

    QCoro::Task<> cycle();
    // True when observation went off and on again since the cycle started: it ends now.
    bool restartAsked() const;
    void cycleEnd(quint32 started);
    QCoro::Task<> readSlot(int index, qint64 x, QString label, double now, int hour);
    void acceptReading(int index, double t, qint64 x, const QString &label, double now, int hour,
                       const SlotIdentity &identity);
    void rejectReading(int index, double t, qint64 x, const QString &label);
    void switchedOff(int index, qint64 x, const QString &label);
    // No port to read on: a gap and "err" as for a sensor that does not answer, but no log
    // line (the loss itself was logged once).
    void portGone(int index, qint64 x, const QString &label);
    // True when the reading went into the store.
    bool storeReading(const QString &sn, double value);
    void applyAutoBounds();
    // Logs the error and shows it (once per text and cycle).
    enum class ErrorKind { Store, Cycle };
    void report(ErrorKind kind, const QString &message);

    Parts m_parts;
    ChartState m_state;
    // The day of the last cycle, or of start-up (when the hourly values were loaded).
    QDate m_lastCycleDate;
    bool m_running = false;
    // Nabl was called while a cycle ran.
    bool m_again = false;
    bool m_switchedOff = false;
    qint64 m_lastCycleMs = -1;
    // Cleared by the destructor: a next cycle queued meanwhile does not start.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    // Errors shown since their kind last succeeded, by ErrorKind.
    QStringList m_shown[2];
};
