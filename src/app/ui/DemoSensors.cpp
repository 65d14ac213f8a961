#include "app/ui/DemoSensors.h"

#include "base/Clock.h"
#include "base/Log.h"
#include "onewire/VirtualBus.h"
#include "onewire/VirtualSensor.h"
#include "sensors/ui/SensorPicture.h"
#include "sensors/ui/SensorSlots.h"
#include "view/DemoFloorPlan.h"

#include <QFileInfo>
#include <QImage>
#include <QTimer>

#include <iterator>

void demosensors::add(VirtualBus &bus, const Clock &clock, SensorSlots &sensorSlots, const QString &plan, Log &log,
                      QObject &owner)
{
    const QStringList serials = bus.addDemoSensors(clock);
    // The outside sensor stops answering now and then (a bad cable): for 12 s of every minute
    // its scratchpad arrives with a wrong CRC, so the log, "err" and the chart gaps show too.
    if (serials.size() > 1) {
        auto *faults = new QTimer(&owner);
        faults->setInterval(1000);
        QObject::connect(faults, &QTimer::timeout, &owner, [&bus, &clock, serial = serials.at(1)] {
            if (VirtualSensor *sensor = bus.findSensor(serial))
                sensor->setCorruptCrc((clock.tickCount() / 1000) % 60 >= 48);
        });
        faults->start();
    }
    if (sensorSlots.anyInUse())
        return;
    struct Place
    {
        const char16_t *name;
        int x;
        int y;
        TColor chart;
    };
    // Living room at about 21 degrees, outside at about -4, the boiler at about 55.
    static constexpr Place places[] = {
        {u"Гостиная", 120, 90, 255},
        {u"Улица", 300, 60, 16711680},
        {u"Котёл", 200, 230, 32768},
    };
    for (int k = 0; k < serials.size() && k < static_cast<int>(std::size(places)); ++k) {
        const Place &p = places[k];
        sensorSlots.AddItem(p.x, p.y, QString::fromUtf16(p.name), serials.at(k), true, 0, false, DefaultTrayBackground,
                      DefaultTrayText, p.chart, CreateClearSign());
    }
    // The first picture a new user sees is a house under the sensors; a picture of the
    // user's own is never replaced.
    if (!QFileInfo::exists(plan) && !demoplan::draw().save(plan, "JPG", 90))
        log.AddLog(QStringLiteral("Файл фона ") + plan + QStringLiteral(" не удалось записать."));
}
