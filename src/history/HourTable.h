#pragma once

#include "sensors/TDSItem.h"

#include <QColor>
#include <QList>
#include <QString>

class Clock;
class StringGrid;
class TADOQuery;

// The hourly table of the day: the sensors' HourAvg values and the grid SHour that shows them
// (26 columns: name, the hours 0 to 23, serial number; one header row). The main window owns
// the grid, the sensor records and the query object; this class works on them.
class HourTable
{
public:
    static constexpr int ColCount = 26;
    static constexpr int SerialCol = 25;

    // The window colour clGradientInactiveCaption the current hour's column is painted in.
    static QColor windowColor() { return QColor(215, 228, 242); }

    HourTable(StringGrid &SHour, const Clock &clock);

    // The header row and the starting shape: 26 columns, the header and one empty body row
    // (body rows that already show a sensor are kept).
    void writeHeader();
    // Column widths in pixels (91 for the name, 30 per hour, 112 for the serial); rows are 16 high.
    static int columnWidth(int col) { return col == 0 ? 91 : col == SerialCol ? 112 : 30; }
    // Every column's width, from column 0.
    static QList<int> columnWidths();
    static constexpr int RowHeight = 16;
    // The header texts: " Имя", " 0 ч." ... " 23 ч.", " Серийный номер".
    static QString headerText(int col);

    // Fills HourAvg of the records from today's stored readings (the clock's day, 00:00:00.000
    // to 23:59:59.999), each hour's mean rounded to one decimal; serials of no record are
    // skipped, hours without readings keep their value. Sets `LastHour` to the clock's hour.
    // Store errors are thrown as KalvexError; values set before the failing row remain.
    void Load24Hour(TADOQuery &query, TDSItems &items, int &LastHour);

    // Writes the row of record `Index` (found by serial in column 25, created when missing:
    // the empty first body row, else a new row at the bottom, with `name` and the serial).
    // Hour cells get HourAvg in the general form, 0.0 as an empty cell.
    void ViewSHour(const TDSItems &items, int Index, const QString &name);

    // Whether cell (ACol, ARow) is painted in the window colour: body rows of the column of
    // `hour` (column hour + 1). The header is left as the grid draws it.
    static bool highlighted(int ACol, int ARow, int hour);
    // The brush of a body cell at the clock's current hour (white or the window colour).
    QColor cellColor(int ACol, int ARow) const;

private:
    StringGrid &m_grid;
    const Clock &m_clock;
};
