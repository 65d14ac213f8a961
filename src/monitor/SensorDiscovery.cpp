#include "monitor/SensorDiscovery.h"

#include "base/DialogBoxes.h"
#include "base/Log.h"
#include "onewire/BusTurn.h"
#include "onewire/BusWait.h"
#include "onewire/WakeSignal.h"

#include <QRandomGenerator>
#include <QSet>

#include <algorithm>
#include <exception>



SensorDiscovery::SensorDiscovery(Log &log, DialogBoxes &boxes, const TDSItems &items, Hooks hooks)
    : m_log(log)
    , m_boxes(boxes)
    , m_items(items)
    , m_hooks(std::move(hooks))
{
}

bool SensorDiscovery::isKnown(const QString &code) const
{
    return slotOf(code) >= 0;
}

int SensorDiscovery::slotOf(const QString &code) const
{
    // By index: an AddItem during the search may have moved the array.
    for (std::size_t i = 0; i < m_items.size(); ++i) {
        const TDSItem &item = m_items[i];
        if (m_hooks.inUse && m_hooks.inUse(item) && item.SN.toUpper() == code)
            return static_cast<int>(i);
    }
    return -1;
}

TColor SensorDiscovery::pickChartColor() const
{
    const int n = static_cast<int>(StandardColors.size());
    int index = m_hooks.randomColorIndex ? m_hooks.randomColorIndex()
                                         : static_cast<int>(QRandomGenerator::global()->bounded(n));
    index = ((index % n) + n) % n;
    return StandardColors[static_cast<std::size_t>(index)];
}

// What one bus's part of the search of every bus found.
struct BusSearch
{
    bool opened = false;
    QString refused;
    QStringList codes;
    SensorDiscovery::Result result;
    std::exception_ptr error;
    bool done = false;
    WakeSignal ended;
};

void SensorDiscovery::addNew(const QString &code, int number, Result &result, const BusTies &ties)
{
    ++result.added;
    const TColor chart = pickChartColor();
    const TSign sign = CreateClearSign();
    const int pos = newSensorPosition(result.added);
    if (m_hooks.addItem)
        m_hooks.addItem(pos, pos, QStringLiteral("Новый DS"), code, true, 0.0, false, DefaultTrayBackground,
                        DefaultTrayText, chart, sign);
    if (ties.tie) {
        const int slot = slotOf(code);
        if (slot >= 0)
            ties.tie(slot, number);
    }
    m_log.AddLog(QStringLiteral("Добавлен датчик: ") + code);
}

QCoro::Task<> SensorDiscovery::enumerateBus(SearchBus bus, BusTies ties, std::shared_ptr<BusSearch> state)
{
    struct Ended
    {
        BusSearch &state;
        ~Ended()
        {
            state.done = true;
            state.ended.wake();
        }
    } ended{*state};
    try {
        // A cycle's part on this bus runs out on the closed port first.
        co_await bus.turn->take();
        BusTurn::Held held(*bus.turn);
        if (m_hooks.closing && m_hooks.closing())
            co_return;
        state->refused = co_await bus.open();
        if (!state->refused.isEmpty() || (m_hooks.closing && m_hooks.closing())) {
            if (state->refused.isEmpty() && bus.giveBack)
                bus.giveBack();
            co_return;
        }
        state->opened = true;
        struct GiveBack
        {
            const std::function<void()> &giveBack;
            ~GiveBack()
            {
                if (giveBack)
                    giveBack();
            }
        } giveBack{bus.giveBack};
        bus.clearState();
        for (;;) {
            const QString code = co_await bus.findNext();
            if (code.isEmpty() || (m_hooks.closing && m_hooks.closing()))
                break;
            state->codes << code;
            // Known here or elsewhere: settled once every bus has been searched.
            if (!isKnown(code))
                addNew(code, bus.number, state->result, ties);
        }
    } catch (...) {
        state->error = std::current_exception();
    }
}

QCoro::Task<SensorDiscovery::Result> SensorDiscovery::N5Click(std::vector<SearchBus> buses, BusTies ties)
{
    if (m_hooks.observationOn && m_hooks.observationOn() && m_hooks.switchObservationOff)
        m_hooks.switchObservationOff();
    std::vector<std::shared_ptr<BusSearch>> states;
    for (const SearchBus &bus : buses) {
        states.push_back(std::make_shared<BusSearch>());
        static_cast<void>(enumerateBus(bus, ties, states.back()));
    }
    for (const std::shared_ptr<BusSearch> &state : states) {
        while (!state->done)
            co_await BusWait(-1, -1, &state->ended);
    }
    Result result;
    QStringList refusals;
    QSet<QString> seen;
    for (std::size_t i = 0; i < states.size(); ++i) {
        const BusSearch &state = *states[i];
        if (state.error)
            std::rethrow_exception(state.error);
        result.portOpened = result.portOpened || state.opened;
        result.added += state.result.added;
        for (const QString &code : state.codes)
            seen.insert(code);
        if (!state.opened) {
            const QString text = state.refused.isEmpty() ? QStringLiteral("Порт занят!") : state.refused;
            if (result.refused.isEmpty())
                result.refused = state.refused;
            refusals << (buses[i].name.isEmpty() ? text : QStringLiteral("Шина «") + buses[i].name + QStringLiteral("»: ") + text);
        }
    }
    result.found = static_cast<int>(seen.size());
    if (m_hooks.closing && m_hooks.closing())
        co_return result;
    // A sensor found on another bus than its own moves only when its own bus, searched now,
    // no longer sees it: the same sensor on two buses at once is a wiring fault, not a move.
    if (ties.busOf && ties.tie) {
        for (std::size_t i = 0; i < states.size(); ++i) {
            for (const QString &code : std::as_const(states[i]->codes)) {
                const int slot = slotOf(code);
                if (slot < 0)
                    continue;
                const int own = ties.busOf(slot);
                if (own == buses[i].number)
                    continue;
                const auto ownBus = std::find_if(buses.begin(), buses.end(),
                                                 [own](const SearchBus &bus) { return bus.number == own; });
                if (ownBus == buses.end())
                    continue;
                const BusSearch &ownState = *states[static_cast<std::size_t>(ownBus - buses.begin())];
                if (!ownState.opened || ownState.codes.contains(code))
                    continue;
                ties.tie(slot, buses[i].number);
                m_log.AddLog(QStringLiteral("Датчик ") + code + QStringLiteral(" перенесён с шины «") + ownBus->name
                             + QStringLiteral("» на шину «") + buses[i].name + QStringLiteral("»."));
            }
        }
    }
    // The ports are closed and the buses free again before the summary waits for its click.
    if (!result.portOpened)
        m_boxes.message(refusals.join(QLatin1Char('\n')));
    else if (refusals.isEmpty())
        m_boxes.message(QStringLiteral("Найдено датчиков: %1, из них новых: %2").arg(result.found).arg(result.added));
    else
        m_boxes.message(QStringLiteral("Найдено датчиков: %1, из них новых: %2").arg(result.found).arg(result.added)
                        + QLatin1Char('\n') + refusals.join(QLatin1Char('\n')));
    co_return result;
}

void SensorDiscovery::N4Click()
{
    if (m_hooks.editNewSensor)
        m_hooks.editNewSensor();
}
