#pragma once

#include "base/ReadingFeed.h"
#include "base/ScreenCursor.h"
#include "monitor/ChartState.h"
#include "sensors/TDSItem.h"

#include <QCoroTask>
#include <QDate>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class AlarmActions;
class BusTurn;
class Clock;
class DialogBoxes;
class HourTable;
class LiveChart;
class Log;
class ReadingStore;
class SensorSlots;
class SensorReader;
class StringGrid;

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
//
// With one conversion for the whole bus (bulkConvert), the cycle first makes every sensor
// convert at once and waits only until the slowest is done, then reads each enabled sensor in
// turn; what each reading gives goes the way of the sensor-by-sensor cycle. A reading that
// fails its checks gets the three attempts of that cycle, and a bus some device of which
// never ends its conversion is read sensor by sensor with a wait that ends when that sensor
// is done, so the one that hangs gives no answer instead of an old reading. A bus with a
// parasite-powered device (asked once after the port opened or a search) cannot be polled:
// there the cycle reads sensor by sensor as without the setting, and says so once in the log.
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
        std::function<SensorReader *()> reader;
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
        // The setting BulkConvert ([Bus]), read at the start of every cycle. Unset: off.
        std::function<bool()> bulkConvert = {};
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
    // The devices on the bus may have changed (the port opened again, a search ran): the
    // next cycle with one conversion for the whole bus asks again how they are powered.
    // The first cycle after it also brings every sensor's RAM back from its EEPROM.
    void busChanged()
    {
        m_power = Power::Unknown;
        m_recallDue = true;
    }
    // True from a cycle's start until its end.
    bool running() const { return m_running; }

    // PointCounter and the automatic bounds (ResetChart works on them too).
    ChartState &chartState() { return m_state; }
    const ChartState &chartState() const { return m_state; }
    // How many cycles are running now: 0 or 1.
    int depth() const { return m_running ? 1 : 0; }
    // Milliseconds the last whole cycle took, from its start to its end; -1 before the first.
    qint64 lastCycleMs() const { return m_lastCycleMs; }
    // Where every accepted reading and every "err" goes, for whatever consumes them beside
    // the window (connect to its signals).
    ReadingFeed &feed() { return m_feed; }

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
    // How a slot is read: the specified sequence, first from what a conversion of the whole
    // bus left (then the specified attempts if it fails), or with a conversion wait that ends
    // when the sensor says it is done.
    enum class Reading { Specified, AfterBulk, Polled };
    QCoro::Task<> readSlot(int index, QString label, double now, int hour, Reading how);
    // The conversion of the whole bus before the slots are read, when the setting asks for
    // it and the bus allows it: how the slots are read afterwards.
    QCoro::Task<Reading> convertBus();
    bool anyEnabledSensor() const;
    void acceptReading(int index, double t, const QString &label, double now, int hour,
                       const SlotIdentity &identity);
    void rejectReading(int index, double t, const QString &label);
    void switchedOff(int index, const QString &label);
    // No port to read on: a gap and "err" as for a sensor that does not answer, but no log
    // line (the loss itself was logged once).
    void portGone(int index, const QString &label);
    // True when the reading went into the store.
    bool storeReading(const QString &sn, double value);
    void applyAutoBounds();
    // Logs the error and shows it (once per text and cycle).
    enum class ErrorKind { Store, Cycle };
    void report(ErrorKind kind, const QString &message);

    Parts m_parts;
    ReadingFeed m_feed;
    ChartState m_state;
    // The day of the last cycle, or of start-up (when the hourly values were loaded).
    QDate m_lastCycleDate;
    bool m_running = false;
    // The busy cursor, held from a cycle's start to its end.
    std::optional<ScreenCursor> m_busyCursor;
    // Nabl was called while a cycle ran.
    bool m_again = false;
    bool m_switchedOff = false;
    qint64 m_lastCycleMs = -1;
    // How the devices on the bus are powered, as last asked.
    enum class Power { Unknown, External, Parasite };
    Power m_power = Power::Unknown;
    // The bus was opened and no cycle has yet recalled the sensors' EEPROM.
    bool m_recallDue = true;
    // The parasite-powered bus has been logged (once until the answer changes).
    bool m_parasiteLogged = false;
    // Cleared by the destructor: a next cycle queued meanwhile does not start.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    // Errors shown since their kind last succeeded, by ErrorKind.
    QStringList m_shown[2];
};
