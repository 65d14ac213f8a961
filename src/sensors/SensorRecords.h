#pragma once

#include "sensors/TDSItem.h"

#include <QString>

#include <functional>

class StringGrid;

// Record logic of the sensor slots that needs no widget.
namespace sensorrecords {

// Serial numbers are 16 hexadecimal digits; a longer argument keeps its first 16 characters.
inline constexpr int SerialLength = 16;
QString cutSerial(const QString &serial);

// A source of whole numbers 0 <= n < bound, uniformly distributed.
using RandomSource = std::function<int(int bound)>;
// The process-wide generator (QRandomGenerator::global()).
RandomSource systemRandom();
// One of the 16 standard colours, each with equal chance. An answer of the source outside
// 0..15 is clamped into it, so a faulty source cannot read past the table.
TColor randomStandardColor(const RandomSource &random = systemRandom());

// The first free slot of `items` by the owner's in-use test, or items.size() when every slot
// is in use (the caller appends one slot there).
int firstFreeSlot(const TDSItems &items, const std::function<bool(const TDSItem &)> &inUse);

} // namespace sensorrecords

// Removes body row `row` of `grid`: every later row moves up by one, the last row is cleared
// and the row count shrinks by one while it is above 2, so the header and one body row always
// remain. A row outside the grid changes nothing.
void DeleteGridRow(StringGrid &grid, int row);

// The first body row (from row 1) whose column `nameCol` holds oldName and column `serialCol`
// oldSerial gets newName and newSerial there. False when there is no such row.
bool renameGridRow(StringGrid &grid, int nameCol, int serialCol, const QString &oldName, const QString &oldSerial,
                   const QString &newName, const QString &newSerial);
