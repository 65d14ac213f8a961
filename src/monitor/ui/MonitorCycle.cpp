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
#include "onewire/TemperatureReader.h"
#include "sensors/ui/SensorSlots.h"

// For the chart lines' identity (QPointer<QCPGraph>::data needs the whole type).
#include <qcustomplot.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QGuiApplication>
#include <QLabel>

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
    if (m_running) {
        // Never a second cycle beside a suspended one (their transactions would interleave):
        // this one starts when the running one has ended, and until then no tick asks again.
        m_again = true;
        m_parts.stopTimer();
        return;
    }
    // Runs until its first wait, then on from the event loop; the frame ends itself.
    static_cast<void>(cycle());
}

bool MonitorCycle::restartAsked() const
{
    return m_switchedOff && m_parts.observationOn();
}

void MonitorCycle::cycleEnd(quint32 started)
{
    m_busyCursor.reset();
    // Unsigned: the tick counter wraps.
    m_lastCycleMs = m_parts.clock.tickCount() - started;
    if (m_parts.cycleEnded)
        m_parts.cycleEnded();
    m_parts.chart.holdReplots(false);
    m_parts.sensorSlots.parkMarker();
    m_running = false;
    const bool again = (m_again || restartAsked()) && m_parts.observationOn() && !closing();
    m_again = false;
    m_switchedOff = false;
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

QCoro::Task<> MonitorCycle::cycle()
{
    m_running = true;
    m_again = false;
    m_switchedOff = false;
    m_parts.chart.holdReplots(true);
    m_parts.stopTimer();
    m_busyCursor.emplace(Qt::BusyCursor);

    // Whatever happens below, the cycle ends the same way: marker parked, cursor back, the bus
    // given back, the poll timer running again while observation is on.
    struct CycleEnd
    {
        MonitorCycle &cycle;
        quint32 started;
        ~CycleEnd() { cycle.cycleEnd(started); }
    } end{*this, m_parts.clock.tickCount()};

    // A search holds the bus until it has closed the port.
    co_await m_parts.bus.take();
    BusTurn::Held held(m_parts.bus);
    if (closing() || !m_parts.observationOn())
        co_return;
    if (m_parts.reopenPort)
        m_parts.reopenPort();

    const QDateTime now = m_parts.clock.now();
    const double nowValue = datetime::fromQDateTime(now);
    const QString label = now.toString(QStringLiteral("hh:mm:ss"));
    const int hour = now.time().hour();
    // A new day also when no cycle ran in its hour 0 (an interval of hours, a suspended
    // machine): yesterday's hours must not pass for today's.
    const bool newDay = now.date() != m_lastCycleDate;
    if (hour != m_parts.LastHour || newDay) {
        if (m_parts.repaintHours)
            m_parts.repaintHours();
        if (hour == 0 || newDay) {
            for (TDSItem &item : m_parts.sensorSlots.DSItems)
                item.HourAvg.fill(0);
        }
    }
    m_parts.LastHour = hour;
    m_lastCycleDate = now.date();
    // Each point takes PointCounter as it is when the point is added: a ResetChart while this
    // cycle waits sets it back, and points at the old x would never be the oldest again.
    ++m_state.PointCounter;

    Reading how = Reading::Specified;
    bool failed = false;
    try {
        if (m_recallDue) {
            m_recallDue = false;
            if (SensorReader *reader = m_parts.reader ? m_parts.reader() : nullptr)
                co_await reader->recallEeprom();
        }
        how = co_await convertBus();
    } catch (const std::exception &e) {
        failed = true;
        report(ErrorKind::Cycle, errorText(e));
    }
    if (closing() || restartAsked())
        co_return;

    // The count is read again on every step: a wait may have added sensorSlots.
    for (std::size_t i = 0; i < m_parts.sensorSlots.DSItems.size(); ++i) {
        if (closing() || restartAsked())
            co_return;
        try {
            co_await readSlot(static_cast<int>(i), label, nowValue, hour, how);
        } catch (const std::exception &e) {
            failed = true;
            report(ErrorKind::Cycle, errorText(e));
        }
    }
    if (restartAsked())
        co_return;
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

bool MonitorCycle::closing() const
{
    return m_parts.stopping && m_parts.stopping();
}

bool MonitorCycle::anyEnabledSensor() const
{
    for (std::size_t i = 0; i < m_parts.sensorSlots.DSItems.size(); ++i) {
        if (m_parts.sensorSlots.inUse(static_cast<int>(i)) && m_parts.sensorSlots.DSItems[i].Enable)
            return true;
    }
    return false;
}

QCoro::Task<MonitorCycle::Reading> MonitorCycle::convertBus()
{
    if (!m_parts.bulkConvert || !m_parts.bulkConvert()) {
        // Switched on again later, the bus is asked anew and a parasite-powered one told again.
        m_power = Power::Unknown;
        m_parasiteLogged = false;
        co_return Reading::Specified;
    }
    SensorReader *reader = m_parts.reader ? m_parts.reader() : nullptr;
    if (!reader || !anyEnabledSensor() || (m_parts.portLost && m_parts.portLost()))
        co_return Reading::Specified;
    // Asked before every conversion (one slot): a parasite-powered sensor added while the
    // bus runs would otherwise hand over its stale scratchpad as a reading.
    const std::optional<bool> parasite = co_await reader->parasitePowered();
    if (closing() || restartAsked())
        co_return Reading::Specified;
    // No device answered: asked again next cycle; this one goes sensor by sensor.
    if (!parasite)
        co_return Reading::Specified;
    m_power = *parasite ? Power::Parasite : Power::External;
    if (m_power == Power::External)
        m_parasiteLogged = false;
    if (m_power == Power::Parasite && !reader->convertsParasiteBus()) {
        if (!m_parasiteLogged) {
            m_parasiteLogged = true;
            m_parts.log.AddLog(QStringLiteral("На шине есть датчик с паразитным питанием: датчики измеряют по очереди."));
        }
        co_return Reading::Specified;
    }
    // Asked again: the cycle may have waited for the bus, and a command may have replaced
    // the reader meanwhile.
    reader = m_parts.reader ? m_parts.reader() : nullptr;
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

QCoro::Task<> MonitorCycle::readSlot(int index, QString label, double now, int hour, Reading how)
{
    SensorSlots &sensorSlots = m_parts.sensorSlots;
    if (!sensorSlots.inUse(index))
        co_return; // a deleted slot
    if (!sensorSlots.DSItems[static_cast<std::size_t>(index)].Enable) {
        switchedOff(index, label);
        co_return;
    }
    // A reading of the whole bus's conversion that fails its checks is no attempt yet: the
    // three of the sensor-by-sensor cycle follow.
    bool converted = how == Reading::AfterBulk;
    for (int attempt = 1;; ++attempt) {
        if (m_parts.portLost && m_parts.portLost()) {
            portGone(index, label);
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
        SensorReader *reader = m_parts.reader ? m_parts.reader() : nullptr;
        double t = NoAnswer;
        if (reader && converted)
            t = co_await reader->readConverted(identity.SN);
        else if (reader && how == Reading::Polled)
            t = co_await reader->GetTempSnPolled(identity.SN);
        else if (reader)
            t = co_await reader->GetTempSn(identity.SN);
        // A reading cut short by the closing program is no answer of the sensor's, nor one
        // taken across a port closed and opened again.
        if (closing() || restartAsked())
            co_return;
        // The wait ran the event loop: the slot may be gone, off or another sensor now.
        if (!stillSame(index, identity))
            co_return;
        if (validReading(t)) {
            acceptReading(index, t, label, now, hour, identity);
            co_return;
        }
        if (converted) {
            converted = false;
            attempt = 0;
            continue;
        }
        if (attempt == Attempts) {
            rejectReading(index, t, label);
            co_return;
        }
    }
}

void MonitorCycle::acceptReading(int index, double t, const QString &label, double now, int hour,
                                 const SlotIdentity &identity)
{
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
        m_parts.chart.addPoint(item.Series, m_state.PointCounter, t, label);
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

void MonitorCycle::rejectReading(int index, double t, const QString &label)
{
    SensorSlots &sensorSlots = m_parts.sensorSlots;
    TDSItem &item = sensorSlots.DSItems[static_cast<std::size_t>(index)];
    ++item.ReadingTally.failures;
    const QString name = sensorSlots.name(index);
    const QString line = QStringLiteral("Датчик не отвечает: ") + QString::number(index) + QStringLiteral(" : ")
                         + numbertext::general(t);
    // A slot number means nothing in a journal read weeks later.
    m_parts.log.addLogFor(line, line + QStringLiteral(" (") + name + QStringLiteral(", ") + item.SN + QLatin1Char(')'));
    m_parts.chart.addNullPoint(item.Series, m_state.PointCounter, label);
    AddToSns(m_parts.Sns, name, item.SN, sns::Err, QString::number(index));
    m_feed.handFailure(item.SN);
    if (item.Tray && TrayModify)
        TrayModify(index + 1, QString(), name, item.CBFon, item.CBText);
}

void MonitorCycle::portGone(int index, const QString &label)
{
    SensorSlots &sensorSlots = m_parts.sensorSlots;
    TDSItem &item = sensorSlots.DSItems[static_cast<std::size_t>(index)];
    sensorSlots.moveMarkerTo(index);
    if (item.TempLabel)
        item.TempLabel->clear();
    item.LastTemp = 0;
    ++item.ReadingTally.failures;
    m_parts.chart.addNullPoint(item.Series, m_state.PointCounter, label);
    AddToSns(m_parts.Sns, sensorSlots.name(index), item.SN, sns::Err, QString::number(index));
    m_feed.handFailure(item.SN);
    if (item.Tray && TrayModify)
        TrayModify(index + 1, QString(), sensorSlots.name(index), item.CBFon, item.CBText);
}

void MonitorCycle::switchedOff(int index, const QString &label)
{
    SensorSlots &sensorSlots = m_parts.sensorSlots;
    const TDSItem &item = sensorSlots.DSItems[static_cast<std::size_t>(index)];
    m_parts.chart.addNullPoint(item.Series, m_state.PointCounter, label);
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
