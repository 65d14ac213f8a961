#include "app/ui/BusCommands.h"

#include "app/ui/SensorInfoWindow.h"
#include "app/ui/TForm1Ui.h"
#include "base/DialogBoxes.h"
#include "base/ErrorGuard.h"
#include "base/Log.h"
#include "base/ScreenCursor.h"
#include "buses/BusSet.h"
#include "monitor/SensorDiscovery.h"
#include "onewire/DriverHouseBus.h"
#include "onewire/SensorVerdicts.h"
#include "onewire/SerialHouseBus.h"
#include "sensors/KalvexConfig.h"
#include "sensors/ui/BusDialog.h"
#include "sensors/ui/SensorSlots.h"

#include <QAction>
#include <QPointer>

BusCommands::BusCommands(Parts parts)
    : m_parts(std::move(parts))
{
    m_buses = std::make_unique<BusSet>(BusSet::Context{
        .log = m_parts.log,
        .clock = m_parts.clock,
        .firstPort = m_parts.port,
        .makePort = m_parts.makePort,
        .stopPending = m_parts.stopPending,
        // Every reading's reserved bytes keep the running verdict up to date, for free.
        .scratchpadObserver =
            [this](const std::array<std::uint8_t, 8> &rom, const std::array<std::uint8_t, 9> &pad) {
                if (m_parts.verdicts.noteScratchpad(rom, pad))
                    m_parts.scheduleSnapshot();
            },
        .observationOn = [this] { return m_parts.ui.N3->isChecked(); },
        .portStateChanged =
            [this](int number, const QString &reason) {
                if (number == 1)
                    m_parts.portStateChanged(reason);
                m_parts.scheduleSnapshot();
            },
    });
}

BusCommands::~BusCommands() = default;

// The settings members as the configuration holds them, for its list of buses.
namespace {

KalvexConfig busesOf(const WindowSettings &s)
{
    KalvexConfig config;
    config.BusKind = s.BusKind;
    config.COMPort = s.COMPort;
    config.KernelPath = s.KernelPath;
    config.BulkConvert = s.BulkConvert;
    config.OwServerBus = s.OwBus;
    config.BusName = s.BusName;
    config.MoreBuses = s.MoreBuses;
    return config;
}

} // namespace

std::vector<BusConfig> BusCommands::busList() const
{
    return ::busList(busesOf(m_parts.settings));
}

BusSet &BusCommands::buses() const
{
    // A test or a dialog may have changed the settings members since.
    const std::vector<BusConfig> wanted = busList();
    if (wanted != m_buses->configs())
        m_buses->setBuses(wanted);
    return *m_buses;
}

SerialHouseBus *BusCommands::serialBus() const
{
    return dynamic_cast<SerialHouseBus *>(buses().bus(1).get());
}

DriverBus *BusCommands::driverBus() const
{
    auto *bus = dynamic_cast<DriverHouseBus *>(buses().bus(1).get());
    return bus ? &bus->driver() : nullptr;
}

QStringList BusCommands::names() const
{
    QStringList list;
    for (const std::shared_ptr<HouseBus> &bus : buses().all())
        list << bus->name();
    return list;
}

WebSnapshotPublisher::BusesView BusCommands::view() const
{
    WebSnapshotPublisher::BusesView view;
    const bool observing = m_parts.ui.N3->isChecked();
    const std::vector<std::shared_ptr<HouseBus>> all = buses().all();
    view.portOpen = all.front()->portState();
    for (const std::shared_ptr<HouseBus> &bus : all) {
        view.connected = view.connected && bus->portState() != 0;
        if (all.size() < 2)
            continue;
        view.names << bus->name();
        view.buses.push_back({bus->name().toUtf8(),
                              bus->cycle.lastPartMs < 0 ? -1.0 : static_cast<double>(bus->cycle.lastPartMs) / 1000.0,
                              observing && bus->config().Active ? bus->portState() : -1});
    }
    return view;
}

bool BusCommands::openObservation()
{
    BusSet &set = buses();
    int opened = 0;
    QStringList failures;
    for (const std::shared_ptr<HouseBus> &bus : set.active()) {
        const QString failure = bus->openObservation();
        if (failure.isEmpty())
            ++opened;
        else
            failures << failure;
    }
    for (const QString &failure : std::as_const(failures))
        m_parts.log.AddLog(failure);
    return opened > 0 || set.count() > 1;
}

void BusCommands::closeObservation()
{
    for (const std::shared_ptr<HouseBus> &bus : buses().all())
        bus->closeObservation();
}

void BusCommands::applyBuses(const std::vector<BusConfig> &list)
{
    const std::vector<BusConfig> before = busList();
    KalvexConfig config;
    setBusList(config, list);
    WindowSettings &s = m_parts.settings;
    s.BusKind = config.BusKind;
    s.COMPort = config.COMPort;
    s.KernelPath = config.KernelPath;
    s.BulkConvert = config.BulkConvert;
    s.OwBus = config.OwServerBus;
    s.BusName = config.BusName;
    s.MoreBuses = config.MoreBuses;
    const bool remade = m_buses->setBuses(busList());
    m_parts.scheduleSnapshot();
    QAction &N3 = *m_parts.ui.N3;
    if (!N3.isChecked())
        return;
    // A bus switched on, made anew, moved to another port or added is opened: observation
    // restarts on the new list.
    bool reopen = remade || list.size() != before.size();
    for (std::size_t i = 0; !reopen && i < list.size(); ++i)
        reopen = list[i].Active != before[i].Active || list[i].COMPort != before[i].COMPort;
    if (!reopen)
        return;
    N3.setChecked(false);
    m_parts.N3Click();
    N3.setChecked(true);
    m_parts.N3Click();
}

void BusCommands::busSettingsClick()
{
    guarded(m_parts.boxes, [this] {
        BusDialog dialog(m_parts.boxes, m_parts.window);
        const std::vector<BusConfig> list = busList();
        std::vector<int> perBus(list.size(), 0);
        const TDSItems &items = m_parts.sensorSlots.DSItems;
        for (int i = 0; i < static_cast<int>(items.size()); ++i) {
            const int bus = items[static_cast<std::size_t>(i)].Bus;
            if (m_parts.sensorSlots.inUse(i))
                ++perBus[bus >= 1 && bus <= static_cast<int>(list.size()) ? static_cast<std::size_t>(bus - 1) : 0];
        }
        dialog.setBuses(list, perBus);
        if (dialog.exec() != QDialog::Accepted)
            return;
        // The sensors of a removed bus go to bus 1, the others keep their bus as renumbered.
        const std::vector<int> renumbering = dialog.busRenumbering();
        for (TDSItem &item : m_parts.sensorSlots.DSItems) {
            if (item.Bus >= 1 && item.Bus < static_cast<int>(renumbering.size()))
                item.Bus = renumbering[static_cast<std::size_t>(item.Bus)];
            else
                item.Bus = 1;
        }
        applyBuses(dialog.buses());
    });
}

QCoro::Task<> BusCommands::readSingleSerial()
{
    // While observation holds the port the open fails: the running cycle's port is neither
    // taken over nor closed under it.
    const QAction &N3 = *m_parts.ui.N3;
    if (N3.isChecked() || buses().anyBusy() || m_parts.closing())
        co_return;
    for (const std::shared_ptr<HouseBus> &bus : m_buses->active()) {
        co_await bus->turn().take();
        BusTurn::Held held(bus->turn());
        if (N3.isChecked() || m_parts.closing())
            co_return;
        const std::optional<QString> serial = co_await bus->readSingle();
        if (m_parts.closing())
            co_return;
        if (serial)
            m_parts.log.addRawLine(bus->say(QStringLiteral("s/n : ") + *serial));
    }
}

QCoro::Task<> BusCommands::showSensorInfo(QString serial)
{
    if (m_parts.closing())
        co_return;
    // The sensor's own bus answers; a serial no slot holds is asked on bus 1.
    int number = 1;
    for (const TDSItem &item : m_parts.sensorSlots.DSItems) {
        if (item.SN.compare(serial.trimmed(), Qt::CaseInsensitive) == 0)
            number = item.Bus;
    }
    std::shared_ptr<HouseBus> bus = buses().bus(number);
    if (!bus)
        bus = m_buses->bus(1);
    QPointer<SensorInfoWindow> window =
        new SensorInfoWindow(serial, m_parts.sensorSlots.NameBySerial(serial), m_parts.window);
    window->show();
    const ScreenCursor hourglass(Qt::WaitCursor);
    co_await bus->turn().take();
    BusTurn::Held held(bus->turn());
    if (m_parts.closing())
        co_return;
    const HouseBus::Description description = co_await bus->describe(serial);
    if (m_parts.closing())
        co_return;
    if (!description.report) {
        if (window)
            window->showFailure(description.failure);
        co_return;
    }
    if (description.diagnosed) {
        m_parts.verdicts.noteReport(*description.report);
        m_parts.scheduleSnapshot();
    }
    if (window)
        window->showReport(*description.report);
}

QCoro::Task<> BusCommands::search()
{
    m_searching = true;
    struct Searching
    {
        BusCommands &commands;
        ~Searching()
        {
            commands.m_searching = false;
            commands.m_parts.scheduleSnapshot();
        }
    } searching{*this};
    try {
        BusSet &set = buses();
        std::vector<SensorDiscovery::SearchBus> list;
        for (const std::shared_ptr<HouseBus> &bus : set.active()) {
            SensorDiscovery::SearchBus entry;
            entry.number = bus->number();
            entry.name = set.count() > 1 ? bus->name() : QString();
            // The bus object stays alive for the search, whatever the dialogs do meanwhile.
            entry.open = [bus] { return bus->openForSearch(); };
            entry.giveBack = [bus] { bus->endSearch(); };
            entry.clearState = [bus] { bus->clearState(); };
            entry.findNext = [bus] { return bus->FindDS(); };
            entry.turn = &bus->turn();
            list.push_back(std::move(entry));
        }
        SensorSlots &sensors = m_parts.sensorSlots;
        SensorDiscovery::Hooks hooks;
        hooks.observationOn = [this] { return m_parts.ui.N3->isChecked(); };
        hooks.switchObservationOff = [this] {
            m_parts.ui.N3->setChecked(false);
            m_parts.N3Click();
        };
        hooks.closing = m_parts.closing;
        // The search hands out elements of DSItems itself; their place is the slot index.
        hooks.inUse = [&sensors](const TDSItem &item) { return sensors.inUse(static_cast<int>(&item - sensors.DSItems.data())); };
        hooks.addItem = [&sensors](int X, int Y, const QString &Name, const QString &SN, bool Enable, double Correct,
                                 bool Tray, TColor CBFon, TColor CBText, TColor CBChart, const TSign &Sign) {
            sensors.AddItem(X, Y, Name, SN, Enable, Correct, Tray, CBFon, CBText, CBChart, Sign);
        };
        SensorDiscovery::BusTies ties;
        ties.busOf = [&sensors](int slot) { return sensors.DSItems[static_cast<std::size_t>(slot)].Bus; };
        ties.tie = [&sensors](int slot, int bus) { sensors.DSItems[static_cast<std::size_t>(slot)].Bus = bus; };
        SensorDiscovery discovery(m_parts.log, m_parts.boxes, sensors.DSItems, std::move(hooks));
        co_await discovery.N5Click(std::move(list), ties);
        m_parts.busChanged();
    } catch (const std::exception &e) {
        showHandlerError(m_parts.boxes, e);
    }
}
