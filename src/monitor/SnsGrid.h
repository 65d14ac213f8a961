#pragma once

#include <QString>

class StringGrid;

// The current-readings grid Sns: three visible columns and two kept beyond them.
namespace sns {

inline constexpr int ColName = 0;
inline constexpr int ColValue = 1;
inline constexpr int ColSerial = 2;
inline constexpr int ColPrevious = 3; // hidden: the row's previous temperature text
inline constexpr int ColKey = 4;      // hidden: slot index in decimal, the row's key
inline constexpr int VisibleColumns = 3;

inline const QString Err = QStringLiteral("err");
inline const QString Off = QStringLiteral("off");

// Puts an empty grid into its start state: three columns, the header row " Имя", " t°",
// " Серийный номер" and one empty body row.
void prepare(StringGrid &grid);

// The trend a cell of column 1 shows against the row's previous value.
enum class Trend { None, Up, Down, Same };
// None unless both texts are numbers in the current decimal convention (so "err", "off"
// and empty cells never show a trend).
Trend trendOf(const QString &current, const QString &previous);
Trend rowTrend(const StringGrid &grid, int row);

} // namespace sns

// Writes one sensor's value into Sns. The row is found by its key (slot index); a new key gets
// a new row at the bottom with name, value, serial and key. An existing row keeps its name and
// serial; its value moves to the previous-value column first unless it was "err" or "off".
void AddToSns(StringGrid &grid, const QString &name, const QString &serial, const QString &value,
              const QString &key);
