#include "sensors/SensorRecords.h"

#include "base/StringGrid.h"

#include <QRandomGenerator>

#include <algorithm>

namespace sensorrecords {

QString cutSerial(const QString &serial)
{
    return serial.left(SerialLength);
}

RandomSource systemRandom()
{
    return [](int bound) { return static_cast<int>(QRandomGenerator::global()->bounded(bound)); };
}

TColor randomStandardColor(const RandomSource &random)
{
    const int count = static_cast<int>(StandardColors.size());
    const int index = std::clamp(random(count), 0, count - 1);
    return StandardColors[static_cast<std::size_t>(index)];
}

int firstFreeSlot(const TDSItems &items, const std::function<bool(const TDSItem &)> &inUse)
{
    const auto it = std::find_if(items.begin(), items.end(),
                                 [&](const TDSItem &item) { return !inUse(item); });
    return static_cast<int>(it - items.begin());
}

} // namespace sensorrecords

void DeleteGridRow(StringGrid &grid, int row)
{
    if (row < 0 || row >= grid.RowCount())
        return;
    for (int r = row + 1; r <= grid.RowCount() - 1; ++r)
        grid.copyRow(r, r - 1);
    grid.clearRow(grid.RowCount() - 1);
    if (grid.RowCount() > 2)
        grid.setRowCount(grid.RowCount() - 1);
}

bool renameGridRow(StringGrid &grid, int nameCol, int serialCol, const QString &oldName, const QString &oldSerial,
                   const QString &newName, const QString &newSerial)
{
    for (int row = 1; row < grid.RowCount(); ++row) {
        if (grid.Cells(nameCol, row) == oldName && grid.Cells(serialCol, row) == oldSerial) {
            grid.setCell(nameCol, row, newName);
            grid.setCell(serialCol, row, newSerial);
            return true;
        }
    }
    return false;
}
