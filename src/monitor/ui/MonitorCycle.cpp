#include "monitor/ui/MonitorCycle.h"

#include "base/Clock.h"
#include "base/DateTime.h"
#include "base/DialogBoxes.h"
#include "base/KalvexError.h"
#include "base/Log.h"
#include "base/NumberText.h"
#include "history/HourTable.h"
#include "history/ReadingStore.h"
#include "monitor/AlarmActions.h"
#include "base/RoundDecimals.h"
#include "monitor/SnsGrid.h"
#include "monitor/ui/LiveChart.h"
#include "onewire/BusTurn.h"
#include "onewire/BusWait.h"
#include "onewire/HouseBus.h"
#include "onewire/WakeSignal.h"
#include "onewire/TemperatureReader.h"
#include "sensors/ui/SensorSlots.h"

// For the chart lines' identity (QPointer<QCPGraph>::data needs the whole type).
#include <qcustomplot.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QGuiApplication>
#include <QLabel>

#include <algorithm>
#include <exception>
#include <optional>

namespace {

constexpr double NoAnswer = -999.0;
constexpr double PowerOnValue = 85.0;

// The measurement cannot tell a real 85 °C from the power-on value, so both count as no answer.
bool validReading(double t)
{
    return t != NoAnswer && t != PowerOnValue;
}

QString errorText(const std::exception &e)
{
    if (const auto *k = dynamic_cast<const KalvexError *>(&e))
        return k->message();
    return QString::fromLocal8Bit(e.what());
}

} // namespace

MonitorCycle::MonitorCycle(Parts parts)
    : m_parts(std::move(parts))
    , m_lastCycleDate(m_parts.clock.now().date())
{
}

MonitorCycle::SlotIdentity MonitorCycle::identityOf(int index) const
{
    const TDSItem &item = m_parts.sensorSlots.DSItems[static_cast<std::size_t>(index)];
    return {item.SN, item.ImageCtl.data(), item.TempLabel.data(), item.NameLabel.data(), item.Series.data()};
}

bool MonitorCycle::stillSame(int index, const SlotIdentity &before) const
{
    if (!m_parts.sensorSlots.inUse(index))
        return false;
    const TDSItem &item = m_parts.sensorSlots.DSItems[static_cast<std::size_t>(index)];
    const SlotIdentity now = identityOf(index);
    return item.Enable && now.SN == before.SN && now.image == before.image && now.tempLabel == before.tempLabel
        && now.nameLabel == before.nameLabel && now.series == before.series;
}

MonitorCycle::~MonitorCycle()
{
    *m_alive = false;
}

void MonitorCycle::Nabl()
{
    if (!m_parts.observationOn())
        return;
    if (m_running > 0 && m_parts.busCount() <= 1) {
        // Never a second cycle beside a suspended one (their transactions would interleave):
        // this one starts when the running one has ended, and until then no tick asks again.
        m_again = true;
        m_parts.stopTimer();
        return;
    }
    if (m_parts.busCount() > 1) {
        // Every bus still at its part: this tick is no cycle (the chart does not move on).
        const std::vector<std::shared_ptr<HouseBus>> buses = m_parts.buses();
        if (std::all_of(buses.begin(), buses.end(), [](const std::shared_ptr<HouseBus> &bus) { return bus->cycle.partRunning; }))
            return;
    }
    // Runs until its first wait, then on from the event loop; the frame ends itself.
    static_cast<void>(cycle());
}

void MonitorCycle::busChanged()
{
    for (const std::shared_ptr<HouseBus> &bus : m_parts.buses())
        bus->busChanged();
}

bool MonitorCycle::restartAsked(quint64 generation) const
{
    return generation != m_generation && m_parts.observationOn();
}

bool MonitorCycle::busStays(const std::shared_ptr<HouseBus> &bus) const
{
    const std::shared_ptr<HouseBus> now = m_parts.busAt(bus->number());
    return now == bus && bus->config().Active;
}

bool MonitorCycle::onBus(const TDSItem &item, int number) const
{
    if (item.Bus == number)
        return true;
    return number == 1 && (item.Bus < 1 || item.Bus > m_parts.busCount());
}

void MonitorCycle::cycleEnd(quint32 started)
{
    // Unsigned: the tick counter wraps.
    m_lastCycleMs = m_parts.clock.tickCount() - started;
    if (m_parts.cycleEnded)
        m_parts.cycleEnded();
    --m_running;
    if (m_running > 0)
        return; // the parts of an earlier cycle still run on a slow bus
    m_busyCursor.reset();
    m_parts.chart.holdReplots(false);
    m_parts.sensorSlots.parkMarker();
    if (m_parts.busCount() > 1)
        return; // Timer1 ticks on by itself
    const bool again = (m_again || restartAsked()) && m_parts.observationOn() && !closing();
    m_again = false;
    if (again) {
        // From the event loop, once this cycle's frame is gone.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [this, alive = m_alive] {
                if (*alive)
                    Nabl();
            },
            Qt::QueuedConnection);
    } else if (m_parts.observationOn() && !closing()) {
        m_parts.startTimer();
    }
}

MonitorCycle::CycleTime MonitorCycle::beginCycle()
{
    const QDateTime now = m_parts.clock.now();
    CycleTime time;
    time.now = datetime::fromQDateTime(now);
    time.label = now.toString(QStringLiteral("hh:mm:ss"));
    time.hour = now.time().hour();
    time.generation = m_cycleGeneration;
    // A new day also when no cycle ran in its hour 0 (an interval of hours, a suspended
    // machine): yesterday's hours must not pass for today's.
    const bool newDay = now.date() != m_lastCycleDate;
    if (time.hour != m_parts.LastHour || newDay) {
        if (m_parts.repaintHours)
            m_parts.repaintHours();
        if (time.hour == 0 || newDay) {
            for (TDSItem &item : m_parts.sensorSlots.DSItems)
                item.HourAvg.fill(0);
        }
    }
    m_parts.LastHour = time.hour;
    m_lastCycleDate = now.date();
    ++m_state.PointCounter;
    time.x = m_state.PointCounter;
    return time;
}

QCoro::Task<> MonitorCycle::cycle()
{
    const bool several = m_parts.busCount() > 1;
    if (m_running++ == 0) {
        m_busyCursor.emplace(Qt::BusyCursor);
        // Several buses' parts overlap: a hold would keep the chart still while any runs.
        if (!several)
            m_parts.chart.holdReplots(true);
    }
    m_again = false;
    m_cycleGeneration = m_generation;
    if (!several)
        m_parts.stopTimer();

    // Whatever happens below, the cycle ends the same way: marker parked, cursor back, the bus
    // given back, the poll timer running again while observation is on.
    struct CycleEnd
    {
        MonitorCycle &cycle;
        quint32 started;
        ~CycleEnd() { cycle.cycleEnd(started); }
    } end{*this, m_parts.clock.tickCount()};

    const std::vector<std::shared_ptr<HouseBus>> buses = m_parts.buses();
    if (!several) {
        // One bus: the cycle is its part, begun once the bus is the cycle's.
        if (!buses.empty())
            co_await part(buses.front(), std::nullopt);
    } else {
        const CycleTime time = beginCycle();
        // Every bus at once; the cycle ends when the parts it started have.
        struct Join
        {
            int pending = 0;
            WakeSignal done;
        };
        auto join = std::make_shared<Join>();
        for (const std::shared_ptr<HouseBus> &bus : buses) {
            if (bus->cycle.partRunning) {
                // Still at its previous part: left out of this cycle, its sensors get a gap.
                for (std::size_t i = 0; i < m_parts.sensorSlots.DSItems.size(); ++i) {
                    const TDSItem &item = m_parts.sensorSlots.DSItems[i];
                    if (m_parts.sensorSlots.inUse(static_cast<int>(i)) && item.Enable && onBus(item, bus->number()))
                        m_parts.chart.addNullPoint(item.Series, time.x, time.label);
                }
                continue;
            }
            ++join->pending;
            const auto run = [](MonitorCycle *self, std::shared_ptr<HouseBus> bus, CycleTime time,
                                std::shared_ptr<Join> join, std::shared_ptr<bool> alive) -> QCoro::Task<> {
                co_await self->part(std::move(bus), time);
                if (!*alive)
                    co_return;
                if (--join->pending == 0)
                    join->done.wake();
            };
            static_cast<void>(run(this, bus, time, join, m_alive));
        }
        while (join->pending > 0)
            co_await BusWait(-1, -1, &join->done);
    }
    if (closing() || restartAsked())
        co_return;
    bool failed = false;
    try {
        if (m_parts.autoBounds())
            applyAutoBounds();
    } catch (const std::exception &e) {
        failed = true;
        report(ErrorKind::Cycle, errorText(e));
    }
    if (!failed)
        m_shown[static_cast<int>(ErrorKind::Cycle)].clear();
}

QCoro::Task<> MonitorCycle::part(std::shared_ptr<HouseBus> bus, std::optional<CycleTime> time)
{
    ++m_partsRunning;
    bus->cycle.partRunning = true;
    struct PartEnd
    {
        MonitorCycle &cycle;
        std::shared_ptr<HouseBus> bus;
        quint32 started;
        ~PartEnd()
        {
            bus->cycle.partRunning = false;
            bus->cycle.lastPartMs = cycle.m_parts.clock.tickCount() - started;
            --cycle.m_partsRunning;
        }
    } end{*this, bus, m_parts.clock.tickCount()};
    const quint64 generation = time ? time->generation : m_cycleGeneration;

    // A search holds the bus until it has closed the port.
    co_await bus->turn().take();
    BusTurn::Held held(bus->turn());
    if (closing() || !m_parts.observationOn() || restartAsked(generation) || !busStays(bus))
        co_return;
    bus->reopen();
    if (!time)
        time = beginCycle();

    Reading how = Reading::Specified;
    try {
        // A bus whose port is lost is recalled once it is back.
        if (bus->cycle.recallDue && !bus->lost()) {
            bus->cycle.recallDue = false;
            if (SensorReader *reader = bus->reader())
                co_await reader->recallEeprom();
        }
        how = co_await convertBus(bus, generation);
    } catch (const std::exception &e) {
        report(ErrorKind::Cycle, errorText(e));
    }
    if (closing() || restartAsked(generation) || !busStays(bus))
        co_return;

    // The count is read again on every step: a wait may have added sensorSlots.
    for (std::size_t i = 0; i < m_parts.sensorSlots.DSItems.size(); ++i) {
        if (closing() || restartAsked(generation) || !busStays(bus))
            co_return;
        if (!onBus(m_parts.sensorSlots.DSItems[i], bus->number()))
            continue;
        try {
            co_await readSlot(bus, static_cast<int>(i), *time, how);
        } catch (const std::exception &e) {
            report(ErrorKind::Cycle, errorText(e));
        }
    }
}

bool MonitorCycle::closing() const
{
    return m_parts.stopping && m_parts.stopping();
}

bool MonitorCycle::anyEnabledSensor(int bus) const
{
    for (std::size_t i = 0; i < m_parts.sensorSlots.DSItems.size(); ++i) {
        const TDSItem &item = m_parts.sensorSlots.DSItems[i];
        if (m_parts.sensorSlots.inUse(static_cast<int>(i)) && item.Enable && onBus(item, bus))
            return true;
    }
    return false;
}

QCoro::Task<MonitorCycle::Reading> MonitorCycle::convertBus(std::shared_ptr<HouseBus> bus, quint64 generation)
{
    HouseBus::CycleState &state = bus->cycle;
    if (!bus->config().BulkConvert) {
        // Switched on again later, the bus is asked anew and a parasite-powered one told again.
        state.power = HouseBus::Power::Unknown;
        state.parasiteLogged = false;
        co_return Reading::Specified;
    }
    SensorReader *reader = bus->reader();
    if (!reader || !anyEnabledSensor(bus->number()) || bus->lost())
        co_return Reading::Specified;
    // Asked before every conversion (one slot): a parasite-powered sensor added while the
    // bus runs would otherwise hand over its stale scratchpad as a reading.
    const std::optional<bool> parasite = co_await reader->parasitePowered();
    if (closing() || restartAsked(generation) || !busStays(bus))
        co_return Reading::Specified;
    // No device answered: asked again next cycle; this one goes sensor by sensor.
    if (!parasite)
        co_return Reading::Specified;
    state.power = *parasite ? HouseBus::Power::Parasite : HouseBus::Power::External;
    if (state.power == HouseBus::Power::External)
        state.parasiteLogged = false;
    if (state.power == HouseBus::Power::Parasite && !reader->convertsParasiteBus()) {
        if (!state.parasiteLogged) {
            state.parasiteLogged = true;
            bus->log().AddLog(QStringLiteral("На шине есть датчик с паразитным питанием: датчики измеряют по очереди."));
        }
        co_return Reading::Specified;
    }
    // Asked again: the cycle may have waited for the bus, and a command may have replaced
    // the reader meanwhile.
    reader = bus->reader();
    if (!reader)
        co_return Reading::Specified;
    switch (co_await reader->convertAll()) {
    case SensorReader::Conversion::Done:
        co_return Reading::AfterBulk;
    case SensorReader::Conversion::TimedOut:
        // Some device is still converting and its scratchpad holds an old reading: which one
        // only its own wait can tell.
        co_return Reading::Polled;
    case SensorReader::Conversion::NoPresence:
        break;
    }
    co_return Reading::Specified;
}

QCoro::Task<> MonitorCycle::readSlot(std::shared_ptr<HouseBus> bus, int index, CycleTime time, Reading how)
{
    SensorSlots &sensorSlots = m_parts.sensorSlots;
    if (!sensorSlots.inUse(index))
        co_return; // a deleted slot
    if (!sensorSlots.DSItems[static_cast<std::size_t>(index)].Enable) {
        switchedOff(index, time);
        co_return;
    }
    // A reading of the whole bus's conversion that fails its checks is no attempt yet: the
    // three of the sensor-by-sensor cycle follow.
    bool converted = how == Reading::AfterBulk;
    for (int attempt = 1;; ++attempt) {
        if (bus->lost()) {
            portGone(index, time);
            co_return;
        }
        SlotIdentity identity;
        {
            TDSItem &item = sensorSlots.DSItems[static_cast<std::size_t>(index)];
            sensorSlots.moveMarkerTo(index);
            if (item.TempLabel)
                item.TempLabel->clear();
            item.LastTemp = 0;
            identity = identityOf(index);
        }
        if (m_parts.beforeReading)
            m_parts.beforeReading();
        SensorReader *reader = bus->reader();
        double t = NoAnswer;
        if (reader && converted)
            t = co_await reader->readConverted(identity.SN);
        else if (reader && how == Reading::Polled)
            t = co_await reader->GetTempSnPolled(identity.SN);
        else if (reader)
            t = co_await reader->GetTempSn(identity.SN);
        // A reading cut short by the closing program is no answer of the sensor's, nor one
        // taken across a port closed and opened again.
        if (closing() || restartAsked(time.generation) || !busStays(bus))
            co_return;
        // The wait ran the event loop: the slot may be gone, off or another sensor now.
        if (!stillSame(index, identity))
            co_return;
        if (validReading(t)) {
            acceptReading(index, t, time, identity);
            co_return;
        }
        if (converted) {
            converted = false;
            attempt = 0;
            continue;
        }
        if (attempt == Attempts) {
            rejectReading(index, t, time);
            co_return;
        }
    }
}

void MonitorCycle::acceptReading(int index, double t, const CycleTime &time, const SlotIdentity &identity)
{
    const double now = time.now;
    const int hour = time.hour;
    SensorSlots &sensorSlots = m_parts.sensorSlots;
    QString text;
    QString name;
    QString sn;
    {
        TDSItem &item = sensorSlots.DSItems[static_cast<std::size_t>(index)];
        t += item.Correct;
        text = numbertext::oneDecimal(t);
        if (item.TempLabel)
            item.TempLabel->setText(text);
        item.LastTemp = t;
        item.LastTime = now;
        item.ReadingTally.reading = t;
        item.ReadingTally.time = now;
        m_parts.chart.addPoint(item.Series, pointX(time), t, time.label);
        name = sensorSlots.name(index);
        sn = item.SN;
    }

    // A store that fails must not silence the grid, the hourly table or the alarms.
    const double stored = RoundDecimals(t, 10);
    m_feed.handOver(FeedReading{sn, name, stored, now});
    try {
        if (storeReading(sn, stored))
            m_shown[static_cast<int>(ErrorKind::Store)].clear();
    } catch (const std::exception &e) {
        report(ErrorKind::Store, errorText(e));
        // Showing the box may have run the event loop.
        if (!stillSame(index, identity))
            return;
    }

    AddToSns(m_parts.Sns, name, sn, text, QString::number(index));
    TDSItem &item = sensorSlots.DSItems[static_cast<std::size_t>(index)];
    double &hourly = item.HourAvg[static_cast<std::size_t>(hour)];
    // A stored 0 counts as no value yet.
    hourly = hourly == 0 ? t : RoundDecimals((hourly + t) / 2, 10);
    m_parts.hours.ViewSHour(sensorSlots.DSItems, index, name);
    if (m_parts.autoBounds())
        m_state.noteReading(t);
    if (item.Tray && TrayModify)
        TrayModify(index + 1, numbertext::whole(t), name + QLatin1Char(' ') + text + QStringLiteral("°"), item.CBFon,
                   item.CBText);
    m_parts.alarms.Signal(item, name, t);
}

void MonitorCycle::rejectReading(int index, double t, const CycleTime &time)
{
    SensorSlots &sensorSlots = m_parts.sensorSlots;
    TDSItem &item = sensorSlots.DSItems[static_cast<std::size_t>(index)];
    ++item.ReadingTally.failures;
    const QString name = sensorSlots.name(index);
    const QString line = QStringLiteral("Датчик не отвечает: ") + QString::number(index) + QStringLiteral(" : ")
                         + numbertext::general(t);
    // A slot number means nothing in a journal read weeks later.
    m_parts.log.addLogFor(line, line + QStringLiteral(" (") + name + QStringLiteral(", ") + item.SN + QLatin1Char(')'));
    m_parts.chart.addNullPoint(item.Series, pointX(time), time.label);
    AddToSns(m_parts.Sns, name, item.SN, sns::Err, QString::number(index));
    m_feed.handFailure(item.SN);
    if (item.Tray && TrayModify)
        TrayModify(index + 1, QString(), name, item.CBFon, item.CBText);
}

void MonitorCycle::portGone(int index, const CycleTime &time)
{
    SensorSlots &sensorSlots = m_parts.sensorSlots;
    TDSItem &item = sensorSlots.DSItems[static_cast<std::size_t>(index)];
    sensorSlots.moveMarkerTo(index);
    if (item.TempLabel)
        item.TempLabel->clear();
    item.LastTemp = 0;
    ++item.ReadingTally.failures;
    m_parts.chart.addNullPoint(item.Series, pointX(time), time.label);
    AddToSns(m_parts.Sns, sensorSlots.name(index), item.SN, sns::Err, QString::number(index));
    m_feed.handFailure(item.SN);
    if (item.Tray && TrayModify)
        TrayModify(index + 1, QString(), sensorSlots.name(index), item.CBFon, item.CBText);
}

void MonitorCycle::switchedOff(int index, const CycleTime &time)
{
    SensorSlots &sensorSlots = m_parts.sensorSlots;
    const TDSItem &item = sensorSlots.DSItems[static_cast<std::size_t>(index)];
    m_parts.chart.addNullPoint(item.Series, pointX(time), time.label);
    AddToSns(m_parts.Sns, sensorSlots.name(index), item.SN, sns::Off, QString::number(index));
}

bool MonitorCycle::storeReading(const QString &sn, double value)
{
    ReadingStore *store = m_parts.store ? m_parts.store() : nullptr;
    if (!store)
        return false;
    store->AddToStats(sn, value);
    return store->ready();
}

void MonitorCycle::applyAutoBounds()
{
    const ChartState::Range range = m_state.autoBounds();
    // The maximum goes up first, so that no minimum is ever above the maximum on the way.
    m_parts.chart.setLeftAxis(range.minimum, 999);
    m_parts.chart.setLeftAxis(range.minimum, range.maximum);
}

void MonitorCycle::report(ErrorKind kind, const QString &message)
{
    // Once per distinct error until an operation of its kind succeeds again: a store that is
    // full or read-only would otherwise log and box once per sensor and cycle. The box does
    // not wait for its click, so polling keeps its rhythm while it is open.
    QStringList &shown = m_shown[static_cast<int>(kind)];
    if (shown.contains(message))
        return;
    shown << message;
    m_parts.log.AddLog(message);
    m_parts.boxes.notify(message);
}
