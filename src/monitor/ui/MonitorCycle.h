#pragma once

#include "base/ReadingFeed.h"
#include "base/ScreenCursor.h"
#include "monitor/ChartState.h"
#include "sensors/TDSItem.h"

#include <QCoroTask>
#include <QDate>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class AlarmActions;
class HouseBus;
class Clock;
class DialogBoxes;
class HourTable;
class LiveChart;
class Log;
class ReadingStore;
class SensorSlots;
class SensorReader;
struct TDSItem;
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
        // LastHour of the window (set by Load24Hour).
        int &LastHour;
        // The active buses in number order, read at the start of every cycle, and the bus now
        // at a number (null when there is none): a part that finds another object there after
        // a wait ends, as does one whose bus was switched off.
        std::function<std::vector<std::shared_ptr<HouseBus>>()> buses;
        std::function<std::shared_ptr<HouseBus>(int number)> busAt;
        // How many buses the configuration holds: with one, the cycle runs as it always has
        // (Timer1 stopped from its start to its end); with several, see Nabl.
        std::function<int()> busCount;
        // Null when the program has no store (a failed start-up).
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
        // Just before each measurement's wait, when the slot's caption has been cleared (the
        // page shows the sensor being read as the panel does). Unset: nothing.
        std::function<void()> beforeReading = {};
    };

    explicit MonitorCycle(Parts parts);
    ~MonitorCycle();
    MonitorCycle(const MonitorCycle &) = delete;
    MonitorCycle &operator=(const MonitorCycle &) = delete;

    // Tray seam: icon number (slot + 1), text, tip, background and text colours. Unset: no
    // tray yet.
    std::function<void(int id, const QString &text, const QString &tip, TColor background, TColor foreground)> TrayModify;

    // Starts one cycle and returns; the cycle goes on in the event loop. Nothing happens while
    // observation is off. With one bus, asked for while a cycle runs, the new one starts when
    // that one ends. With several, every active bus runs its part of the cycle at the same
    // time and Timer1 keeps ticking: each tick starts the part of every bus whose previous part
    // has ended, and a bus still busy is left out of that cycle (its sensors get no point).
    void Nabl();
    // Observation was switched off (the port closed): should it be on again by the cycle's
    // next step, the cycle ends there and the one asked for by switching on runs after it.
    void observationSwitchedOff() { ++m_generation; }
    // The devices on the bus may have changed (the port opened again, a search ran): the
    // next cycle with one conversion for the whole bus asks again how they are powered.
    // The first cycle after it also brings every sensor's RAM back from its EEPROM.
    void busChanged();
    // True from a cycle's start until its end (with several buses, until every part ended).
    bool running() const { return m_running > 0 || m_partsRunning > 0; }

    // PointCounter and the automatic bounds (ResetChart works on them too).
    ChartState &chartState() { return m_state; }
    const ChartState &chartState() const { return m_state; }
    // How many cycles are running now: 0 or 1 with one bus; with several, cycles whose slow
    // parts still run are counted too.
    int depth() const { return m_running; }
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
    // What a cycle shares between the parts of its buses.
    struct CycleTime
    {
        QString label;
        double now = 0;
        int hour = 0;
        // The observation switch's count when the cycle started.
        quint64 generation = 0;
        // The chart's x of the cycle.
        qint64 x = 0;
    };
    // Where a reading of the cycle goes on the chart: its cycle's x, or PointCounter as it is
    // now when a ResetChart set it back meanwhile (points at the old x would never be the
    // oldest again). With several buses a slow part's readings stay at their cycle's x while
    // later cycles move on.
    qint64 pointX(const CycleTime &time) const { return std::min(time.x, m_state.PointCounter); }
    // The hour and day checks and the chart's x of a new cycle (once per cycle).
    CycleTime beginCycle();
    // One bus's part of a cycle: its turn, its reopening, its whole-bus conversion and each of
    // its sensors. `time` empty: the part begins the cycle once it holds the bus (one bus).
    // With several buses a bus still at its previous part when a cycle starts is left out of
    // it, and its enabled sensors get a gap at that cycle's x (every line keeps one point a
    // cycle, so all lines span the same x).
    QCoro::Task<> part(std::shared_ptr<HouseBus> bus, std::optional<CycleTime> time);
    // True when observation went off and on again since `generation`: what runs ends now.
    bool restartAsked(quint64 generation) const;
    bool restartAsked() const { return restartAsked(m_cycleGeneration); }
    void cycleEnd(quint32 started);
    // True while `bus` is still the active bus at its number.
    bool busStays(const std::shared_ptr<HouseBus> &bus) const;
    // Whether a slot is read on bus `number` (a sensor of a bus the list lacks counts as bus 1's).
    bool onBus(const TDSItem &item, int number) const;
    // How a slot is read: the specified sequence, first from what a conversion of the whole
    // bus left (then the specified attempts if it fails), or with a conversion wait that ends
    // when the sensor says it is done.
    enum class Reading { Specified, AfterBulk, Polled };
    QCoro::Task<> readSlot(std::shared_ptr<HouseBus> bus, int index, CycleTime time, Reading how);
    // The conversion of the whole bus before the slots are read, when the setting asks for
    // it and the bus allows it: how the slots are read afterwards.
    QCoro::Task<Reading> convertBus(std::shared_ptr<HouseBus> bus, quint64 generation);
    bool anyEnabledSensor(int bus) const;
    void acceptReading(int index, double t, const CycleTime &time, const SlotIdentity &identity);
    void rejectReading(int index, double t, const CycleTime &time);
    void switchedOff(int index, const CycleTime &time);
    // No port to read on: a gap and "err" as for a sensor that does not answer, but no log
    // line (the loss itself was logged once).
    void portGone(int index, const CycleTime &time);
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
    // Cycles begun and not ended, and bus parts under way.
    int m_running = 0;
    int m_partsRunning = 0;
    // Counts switching observation off; a cycle or part started before the count changed
    // ends at its next step.
    quint64 m_generation = 0;
    quint64 m_cycleGeneration = 0;
    // The busy cursor, held from a cycle's start to its end.
    std::optional<ScreenCursor> m_busyCursor;
    // Nabl was called while a cycle ran.
    bool m_again = false;
    qint64 m_lastCycleMs = -1;
    // Cleared by the destructor: a next cycle queued meanwhile does not start.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    // Errors shown since their kind last succeeded, by ErrorKind.
    QStringList m_shown[2];
};
