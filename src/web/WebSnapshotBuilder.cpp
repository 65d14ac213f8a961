#include "web/WebSnapshotBuilder.h"

#include "base/DateTime.h"
#include "base/StringGrid.h"
#include "web/Cp1251.h"

#include <algorithm>

namespace {

constexpr int ShownHourColumns = 25; // the name and the 24 hours; the serial stays out

qsizetype lastSeparator(const QString &name)
{
    return std::max(name.lastIndexOf(QLatin1Char('\\')), name.lastIndexOf(QLatin1Char('/')));
}

} // namespace

QString websnapshot::fileNamePart(const QString &name)
{
    return name.mid(lastSeparator(name) + 1);
}

std::shared_ptr<const WebSnapshot> websnapshot::make(const std::vector<SlotValues> &items, const StringGrid &SHour,
                                                     const QString &bkFileName, const QString &ProgramDir,
                                                     const WebSnapshot *previous, double cycleSeconds,
                                                     int portOpen, qint64 storeErrors, int mqttConnected,
                                                     quint64 mqttMessages, std::shared_ptr<const RequestTally> owserver,
                                                     std::vector<WebSnapshot::Bus> buses)
{
    auto snapshot = std::make_shared<WebSnapshot>();
    snapshot->buses = std::move(buses);
    snapshot->owserver = std::move(owserver);
    snapshot->mqttConnected = mqttConnected;
    snapshot->mqttMessages = mqttMessages;
    snapshot->cycleSeconds = cycleSeconds;
    snapshot->portOpen = portOpen;
    snapshot->storeErrors = storeErrors;
    snapshot->items.reserve(items.size());
    for (const SlotValues &values : items) {
        const std::size_t index = snapshot->items.size();
        WebSnapshot::Slot slot;
        slot.SN = values.SN.toUtf8();
        slot.Enable = values.Enable;
        slot.left = values.left;
        slot.top = values.top;
        slot.caption = cp1251::fromText(values.caption);
        slot.lastTimeValue = values.LastTime;
        slot.inUse = values.inUse;
        slot.name = values.name.toUtf8();
        slot.hasReading = values.lastReadingTime != 0;
        slot.reading = values.lastReading;
        slot.failures = values.failures;
        slot.family = values.family.toUtf8();
        slot.power = values.power.toUtf8();
        slot.verdict = values.verdict.toUtf8();
        if (!values.bus.isEmpty()) {
            slot.bus = values.bus.toUtf8();
            slot.busText = cp1251::fromText(values.bus);
        }
        // The locale's date-time text and the time zone's rules are the dearest part of a
        // publish; most slots keep what they had.
        const WebSnapshot::Slot *before =
            previous && index < previous->items.size() ? &previous->items[index] : nullptr;
        if (before && before->lastTimeValue == values.LastTime)
            slot.lastTime = before->lastTime;
        else
            slot.lastTime = cp1251::fromText(datetime::text(values.LastTime));
        if (before && before->hasReading && slot.hasReading && before->readingTime == values.lastReadingTime)
            slot.readingMs = before->readingMs;
        else if (slot.hasReading)
            slot.readingMs = datetime::toQDateTime(values.lastReadingTime).toMSecsSinceEpoch();
        slot.readingTime = values.lastReadingTime;
        snapshot->items.push_back(std::move(slot));
    }
    snapshot->hours.resize(static_cast<std::size_t>(std::max(SHour.RowCount(), 0)));
    for (int row = 0; row < SHour.RowCount(); ++row) {
        std::vector<QByteArray> &cells = snapshot->hours[static_cast<std::size_t>(row)];
        cells.reserve(ShownHourColumns);
        for (int col = 0; col < ShownHourColumns; ++col)
            cells.push_back(cp1251::fromText(SHour.Cells(col, row)));
    }
    const QString name = fileNamePart(bkFileName);
    snapshot->backgroundName = name.toUtf8();
    snapshot->backgroundNameText = cp1251::fromText(name);
    if (!bkFileName.isEmpty())
        snapshot->backgroundPath = lastSeparator(bkFileName) >= 0 ? bkFileName : ProgramDir + bkFileName;
    return snapshot;
}
