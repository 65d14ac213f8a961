#include "monitor/SnsGrid.h"

#include "base/NumberText.h"
#include "base/StringGrid.h"

namespace sns {

void prepare(StringGrid &grid)
{
    grid.setColCount(VisibleColumns);
    grid.setRowCount(2);
    grid.setFixedRows(1);
    grid.setCell(ColName, 0, QStringLiteral(" Имя"));
    grid.setCell(ColValue, 0, QStringLiteral(" t°"));
    grid.setCell(ColSerial, 0, QStringLiteral(" Серийный номер"));
    grid.clearRow(1);
}

Trend trendOf(const QString &current, const QString &previous)
{
    if (current.isEmpty() || previous.isEmpty() || current == Err || current == Off
        || previous == Err || previous == Off)
        return Trend::None;
    double now = 0;
    double before = 0;
    if (!numbertext::parseFloat(current, now) || !numbertext::parseFloat(previous, before))
        return Trend::None;
    if (now < before)
        return Trend::Down;
    if (now > before)
        return Trend::Up;
    return Trend::Same;
}

Trend rowTrend(const StringGrid &grid, int row)
{
    return trendOf(grid.Cells(ColValue, row), grid.Cells(ColPrevious, row));
}

} // namespace sns

using namespace sns;

namespace {

void writeRow(StringGrid &grid, int row, const QString &name, const QString &serial,
              const QString &value, const QString &key)
{
    grid.setCell(ColName, row, name);
    grid.setCell(ColValue, row, value);
    grid.setCell(ColSerial, row, serial);
    grid.setCell(ColKey, row, key);
}

} // namespace

void AddToSns(StringGrid &grid, const QString &name, const QString &serial, const QString &value,
              const QString &key)
{
    // Row 1 is free while it has no name; a sensor with an empty name still owns it through
    // its key, or the next sensor would overwrite it.
    if (grid.Cells(ColName, 1).isEmpty() && grid.Cells(ColKey, 1).isEmpty()) {
        if (grid.RowCount() < 2)
            grid.setRowCount(2);
        grid.clearRow(1);
        writeRow(grid, 1, name, serial, value, key);
        return;
    }
    for (int row = 1; row < grid.RowCount(); ++row) {
        if (grid.Cells(ColKey, row) != key)
            continue;
        const QString current = grid.Cells(ColValue, row);
        if (current != Err && current != Off)
            grid.setCell(ColPrevious, row, current);
        grid.setCell(ColValue, row, value);
        return;
    }
    const int row = grid.RowCount();
    grid.clearRow(row);
    writeRow(grid, row, name, serial, value, key);
    grid.setRowCount(row + 1);
}
