#include "buses/BusSet.h"

#include "onewire/DriverHouseBus.h"
#include "onewire/KernelBus.h"
#include "onewire/SerialHouseBus.h"
#include "onewire/SerialPort.h"
#include "owserver/OwServerBus.h"

namespace {

// A port that never opens: a serial bus the program has no port for.
class ClosedPort final : public SerialPort
{
public:
    bool OpenCOM(const QString &) override { return false; }
    void CloseCOM() override {}
    bool isOpen() const override { return false; }
    bool PurgeCOM() override { return false; }
    bool SetModCOM(int, int, int, int, bool, bool) override { return false; }
    bool TxByteCOM(std::uint8_t) override { return false; }
    bool TxDataCOM(const std::uint8_t *, int) override { return false; }
    bool RxDataCOM(std::uint8_t *, int, int &read) override
    {
        read = 0;
        return false;
    }
    bool SetComPortTimeouts() override { return false; }
    QString lastError() const override { return {}; }
};

bool serialKind(const QString &kind)
{
    return kind == QLatin1String("serial") || kind == QLatin1String("ds2480b");
}

// Whether a bus of `before` can stay the same object under `after`.
bool samePlace(const BusConfig &before, const BusConfig &after)
{
    if (before.Kind != after.Kind)
        return false;
    // The port's name is read at every open: a serial bus keeps its link (and what was set
    // on it) when only its port number changes.
    if (serialKind(after.Kind))
        return true;
    if (after.Kind == QLatin1String("kernel"))
        return before.KernelPath == after.KernelPath;
    return before.OwServer == after.OwServer;
}

} // namespace

BusSet::BusSet(Context context)
    : m_context(std::move(context))
    , m_closedPort(std::make_unique<ClosedPort>())
{
}

BusSet::~BusSet() = default;

std::shared_ptr<HouseBus> BusSet::make(int number, const BusConfig &config)
{
    std::shared_ptr<HouseBus> bus;
    if (config.Kind == QLatin1String("kernel")) {
        bus = std::make_shared<DriverHouseBus>(number, config, m_context.log, [&config](Log &log) {
            return std::make_unique<KernelBus>(log, config.KernelPath);
        });
    } else if (config.Kind == QLatin1String("owserver")) {
        bus = std::make_shared<DriverHouseBus>(number, config, m_context.log, [&config](Log &log) {
            auto ow = std::make_unique<OwServerBus>(log);
            ow->setServer(config.OwServer.Host, config.OwServer.Port, config.OwServer.Path);
            return ow;
        });
    } else {
        std::unique_ptr<SerialPort> own;
        SerialPort *port = number == 1 ? m_context.firstPort : nullptr;
        if (number != 1 && m_context.makePort) {
            own = m_context.makePort();
            port = own.get();
        }
        auto serial = std::make_shared<SerialHouseBus>(number, config, m_context.log, m_context.clock,
                                                       port ? *port : *m_closedPort, std::move(own));
        serial->setAbortCheck(m_context.stopPending);
        if (m_context.scratchpadObserver)
            serial->setScratchpadObserver(m_context.scratchpadObserver);
        bus = serial;
    }
    bus->observationOn = m_context.observationOn;
    if (m_context.portStateChanged) {
        bus->portStateChanged = [changed = m_context.portStateChanged, number](const QString &reason) {
            changed(number, reason);
        };
    }
    return bus;
}

bool BusSet::setBuses(const std::vector<BusConfig> &configs)
{
    std::vector<BusConfig> wanted(configs.begin(), configs.begin() + std::min<std::ptrdiff_t>(configs.size(), MaxBuses));
    if (wanted.empty())
        wanted.emplace_back();
    // Bus 1 is always polled.
    wanted.front().Active = true;
    bool remade = false;
    std::vector<std::shared_ptr<HouseBus>> buses;
    for (std::size_t i = 0; i < wanted.size(); ++i) {
        const int number = static_cast<int>(i) + 1;
        std::shared_ptr<HouseBus> bus = i < m_buses.size() ? m_buses[i] : nullptr;
        if (bus && samePlace(bus->config(), wanted[i])) {
            bus->setConfig(wanted[i]);
        } else {
            if (bus) {
                bus->closeObservation();
                remade = true;
            }
            bus = make(number, wanted[i]);
        }
        buses.push_back(std::move(bus));
    }
    // Buses removed from the end are closed; their sensors moved to bus 1 beforehand.
    for (std::size_t i = wanted.size(); i < m_buses.size(); ++i) {
        m_buses[i]->closeObservation();
        remade = true;
    }
    m_buses = std::move(buses);
    m_configs = std::move(wanted);
    const bool named = m_buses.size() > 1;
    for (const std::shared_ptr<HouseBus> &bus : m_buses)
        bus->setNamed(named);
    return remade;
}

std::shared_ptr<HouseBus> BusSet::bus(int number) const
{
    if (number < 1 || number > count())
        return nullptr;
    return m_buses[static_cast<std::size_t>(number - 1)];
}

std::vector<std::shared_ptr<HouseBus>> BusSet::active() const
{
    std::vector<std::shared_ptr<HouseBus>> list;
    for (const std::shared_ptr<HouseBus> &bus : m_buses) {
        if (bus->config().Active)
            list.push_back(bus);
    }
    return list;
}

QString BusSet::name(int number) const
{
    if (const std::shared_ptr<HouseBus> found = bus(number))
        return found->name();
    return QStringLiteral("Шина ") + QString::number(number);
}

void BusSet::abortAll()
{
    for (const std::shared_ptr<HouseBus> &bus : m_buses)
        bus->abort();
}

bool BusSet::anyBusy() const
{
    for (const std::shared_ptr<HouseBus> &bus : m_buses) {
        if (bus->turn().busy() || bus->cycle.partRunning)
            return true;
    }
    return false;
}
