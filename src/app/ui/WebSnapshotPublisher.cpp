#include "app/ui/WebSnapshotPublisher.h"

#include "app/ui/TForm1Ui.h"
#include "base/ReadingFeed.h"
#include "history/ReadingStore.h"
#include "monitor/ui/MonitorCycle.h"
#include "mqtt/MqttPublisher.h"
#include "onewire/SensorDiagnosis.h"
#include "onewire/SensorVerdicts.h"
#include "owserver/OwServer.h"
#include "sensors/ui/SensorSlots.h"
#include "web/HttpServer.h"
#include "web/WebSnapshotBuilder.h"

#include <QAction>
#include <QLabel>

#include <utility>
#include <vector>

WebSnapshotPublisher::WebSnapshotPublisher(Parts parts, QObject *parent)
    : QObject(parent)
    , m_parts(std::move(parts))
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(0);
    connect(&m_timer, &QTimer::timeout, this, &WebSnapshotPublisher::publish);
}

void WebSnapshotPublisher::schedule()
{
    m_timer.start();
}

void WebSnapshotPublisher::publish()
{
    const SensorSlots &sensorSlots = m_parts.sensorSlots;
    BusesView buses = m_parts.buses();
    std::vector<websnapshot::SlotValues> items;
    items.reserve(sensorSlots.DSItems.size());
    for (int i = 0; i < static_cast<int>(sensorSlots.DSItems.size()); ++i) {
        const TDSItem &item = sensorSlots.DSItems[static_cast<std::size_t>(i)];
        websnapshot::SlotValues values;
        values.SN = item.SN;
        values.inUse = sensorSlots.inUse(i);
        if (values.inUse)
            values.name = sensorSlots.name(i);
        // A sensor of a bus the list lacks is read on bus 1.
        if (values.inUse && !buses.names.isEmpty()) {
            const bool known = item.Bus >= 1 && item.Bus <= buses.names.size();
            values.busNumber = known ? item.Bus : 1;
            values.bus = buses.names.at(values.busNumber - 1);
        }
        values.lastReading = item.ReadingTally.reading;
        values.lastReadingTime = item.ReadingTally.time;
        values.failures = item.ReadingTally.failures;
        if (const auto known = values.inUse ? m_parts.verdicts.find(item.SN) : std::nullopt) {
            values.family = SensorVerdicts::familyText(known->family);
            // Scrapers' rules and the hub must not depend on the language: stable words.
            values.power = SensorVerdicts::powerKey(known->parasite);
            values.verdict = SensorDiagnosis::verdictKey(known->verdict);
        }
        values.Enable = item.Enable;
        if (item.ImageCtl) {
            values.left = item.ImageCtl->x();
            values.top = item.ImageCtl->y();
        }
        if (item.TempLabel)
            values.caption = item.TempLabel->text();
        values.LastTime = item.LastTime;
        items.push_back(std::move(values));
    }
    std::vector<FeedSensor> sensors;
    for (const websnapshot::SlotValues &values : items) {
        if (values.inUse)
            sensors.push_back(FeedSensor{values.SN, values.name, values.Enable, static_cast<qint64>(values.failures), values.verdict,
                                         values.bus, values.busNumber});
    }
    const bool observing = m_parts.ui.N3->isChecked();
    const qint64 cycleMs = m_parts.cycle.lastCycleMs();
    const int portOpen = observing ? buses.portOpen : -1;
    HttpServer &server = m_parts.server;
    m_parts.mqtt.setProgramState({observing, m_parts.ui.Timer1->interval(), cycleMs < 0 ? -1.0 : static_cast<double>(cycleMs) / 1000.0,
                                  observing && buses.connected, server.running() ? m_parts.settings.HTTPPort : 0});
    m_parts.cycle.feed().handSensors(sensors);
    const std::shared_ptr<const WebSnapshot> previous = server.snapshot();
    const ReadingStore *store = m_parts.store();
    const qint64 storeErrors = store ? static_cast<qint64>(store->errorCount()) : -1;
    server.publish(websnapshot::make(items, m_parts.SHour, m_parts.settings.bkFileName, m_parts.settings.ProgramDir, previous.get(),
                                     cycleMs < 0 ? -1.0 : static_cast<double>(cycleMs) / 1000.0, portOpen, storeErrors,
                                     m_parts.mqtt.connectedState(), m_parts.mqtt.messagesTotal(), m_parts.owServer.tally(),
                                     std::move(buses.buses)));
}
