#pragma once

#include "monitor/ChartState.h"
#include "sensors/TDSItem.h"

#include <QDate>
#include <QString>
#include <QStringList>

#include <functional>

class AlarmActions;
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
// The measurement's conversion wait runs the event loop, so anything may happen meanwhile: a
// slot deleted, switched off, edited or re-created, observation switched off (the port closes)
// or on again (a whole second cycle runs inside the first). The cycle therefore keeps no
// reference into the slots across a measurement: it re-reads the slot by index afterwards and
// drops the result unless the slot still holds the same sensor with the same objects.
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
    };

    explicit MonitorCycle(Parts parts);

    // Tray seam: icon number (slot + 1), text, tip, background and text colours. Unset: no
    // tray yet.
    std::function<void(int id, const QString &text, const QString &tip, TColor background, TColor foreground)> TrayModify;

    // One cycle; returns at once while observation is off.
    void Nabl();

    // PointCounter and the automatic bounds (ResetChart works on them too).
    ChartState &chartState() { return m_state; }
    const ChartState &chartState() const { return m_state; }
    // How many cycles are running now (more than one only inside a measurement's wait).
    int depth() const { return m_depth; }
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

    void readSlot(int index, qint64 x, const QString &label, double now, int hour);
    void acceptReading(int index, double t, qint64 x, const QString &label, double now, int hour,
                       const SlotIdentity &identity);
    void rejectReading(int index, double t, qint64 x, const QString &label);
    void switchedOff(int index, qint64 x, const QString &label);
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
    int m_depth = 0;
    qint64 m_lastCycleMs = -1;
    // Errors shown since their kind last succeeded, by ErrorKind.
    QStringList m_shown[2];
};
