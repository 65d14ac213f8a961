#include "monitor/SensorDiscovery.h"

#include "base/DialogBoxes.h"
#include "base/Log.h"
#include "onewire/BusTurn.h"
#include "onewire/SerialPort.h"

#include <QRandomGenerator>

#include <optional>

namespace {

// Gives the port back however the search ends, so that an error shown by the handler's guard
// does not leave the port held and observation unable to start. Observation switched on
// meanwhile keeps it: its cycles read on it next.
class PortCloser
{
public:
    PortCloser(SerialPort &port, const std::function<void()> &giveBack) : m_port(port), m_giveBack(giveBack) {}
    ~PortCloser()
    {
        if (m_giveBack)
            m_giveBack();
        else
            m_port.CloseCOM();
    }
    PortCloser(const PortCloser &) = delete;
    PortCloser &operator=(const PortCloser &) = delete;

private:
    SerialPort &m_port;
    const std::function<void()> &m_giveBack;
};

} // namespace

SensorDiscovery::SensorDiscovery(Log &log, DialogBoxes &boxes, SerialPort &port,
                                 const TDSItems &items, Hooks hooks)
    : m_log(log)
    , m_boxes(boxes)
    , m_port(port)
    , m_items(items)
    , m_hooks(std::move(hooks))
{
}

bool SensorDiscovery::isKnown(const QString &code) const
{
    // By index: an AddItem during the search may have moved the array.
    for (std::size_t i = 0; i < m_items.size(); ++i) {
        const TDSItem &item = m_items[i];
        if (m_hooks.inUse && m_hooks.inUse(item) && item.SN.toUpper() == code)
            return true;
    }
    return false;
}

TColor SensorDiscovery::pickChartColor() const
{
    const int n = static_cast<int>(StandardColors.size());
    int index = m_hooks.randomColorIndex ? m_hooks.randomColorIndex()
                                         : static_cast<int>(QRandomGenerator::global()->bounded(n));
    index = ((index % n) + n) % n;
    return StandardColors[static_cast<std::size_t>(index)];
}

QCoro::Task<SensorDiscovery::Result> SensorDiscovery::N5Click(QString portName, BusTurn &bus)
{
    if (m_hooks.observationOn && m_hooks.observationOn() && m_hooks.switchObservationOff)
        m_hooks.switchObservationOff();
    const Result result = co_await enumerate(portName, bus);
    if (m_hooks.closing && m_hooks.closing())
        co_return result;
    // The port is closed and the bus free again before the summary waits for its click.
    if (!result.portOpened)
        m_boxes.message(result.refused.isEmpty() ? QStringLiteral("Порт занят!") : result.refused);
    else
        m_boxes.message(QStringLiteral("Найдено датчиков: %1, из них новых: %2").arg(result.found).arg(result.added));
    co_return result;
}

QCoro::Task<SensorDiscovery::Result> SensorDiscovery::enumerate(QString portName, BusTurn &bus)
{
    Result result;
    // A cycle suspended in a wait goes on after the switch-off on the closed port; its
    // transactions and the search's must not interleave on the port opened here.
    co_await bus.take();
    BusTurn::Held held(bus);
    if (m_hooks.closing && m_hooks.closing())
        co_return result;
    std::optional<PortCloser> closer;
    if (m_hooks.openBus) {
        result.refused = co_await m_hooks.openBus();
        if (m_hooks.closing && m_hooks.closing())
            co_return result;
        if (!result.refused.isEmpty())
            co_return result;
    } else {
        if (!m_port.OpenCOM(portName))
            co_return result;
        closer.emplace(m_port, m_hooks.givePortBack);
        m_port.SetComPortTimeouts();
    }
    result.portOpened = true;

    if (m_hooks.clearState)
        m_hooks.clearState();
    if (!m_hooks.findNext)
        co_return result;
    for (;;) {
        const QString code = co_await m_hooks.findNext();
        if (code.isEmpty() || (m_hooks.closing && m_hooks.closing()))
            break;
        ++result.found;
        if (isKnown(code))
            continue;
        ++result.added;
        const TColor chart = pickChartColor();
        const TSign sign = CreateClearSign();
        const int pos = newSensorPosition(result.added);
        if (m_hooks.addItem)
            m_hooks.addItem(pos, pos, QStringLiteral("Новый DS"), code, true, 0.0, false, DefaultTrayBackground,
                            DefaultTrayText, chart, sign);
        m_log.AddLog(QStringLiteral("Добавлен датчик: ") + code);
    }
    co_return result;
}

void SensorDiscovery::N4Click()
{
    if (m_hooks.editNewSensor)
        m_hooks.editNewSensor();
}
