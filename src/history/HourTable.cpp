#include "history/HourTable.h"

#include "base/Clock.h"
#include "base/DateTime.h"
#include "base/NumberText.h"
#include "base/RoundDecimals.h"
#include "base/StringGrid.h"
#include "history/TADOQuery.h"

HourTable::HourTable(StringGrid &SHour, const Clock &clock)
    : m_grid(SHour)
    , m_clock(clock)
{
}

QString HourTable::headerText(int col)
{
    if (col == 0)
        return QStringLiteral(" Имя");
    if (col == SerialCol)
        return QStringLiteral(" Серийный номер");
    if (col >= 1 && col <= 24)
        return QStringLiteral(" %1 ч.").arg(col - 1);
    return QString();
}

void HourTable::writeHeader()
{
    m_grid.setColCount(ColCount);
    bool shown = false;
    for (int r = 1; r < m_grid.RowCount(); ++r)
        shown = shown || !m_grid.Cells(SerialCol, r).isEmpty();
    // A grid that shows no sensor yet starts with the header and one empty body row.
    if (!shown)
        m_grid.setRowCount(2);
    m_grid.setFixedRows(1);
    for (int col = 0; col < ColCount; ++col)
        m_grid.setCell(col, 0, headerText(col));
}

void HourTable::Load24Hour(TADOQuery &query, TDSItems &items, int &LastHour)
{
    const QDateTime now = m_clock.now();
    const QDate today = now.date();
    query.Close();
    query.SQL.Clear();
    query.SQL.Add(QStringLiteral("SELECT Sn, HOUR(dat) as dd, AVG(t) FROM Stats WHERE (Dat>=:DatFrom AND Dat<=:DatTo) "
                                 "GROUP BY HOUR(dat), Sn ORDER By Sn"));
    query.setDateTime(QStringLiteral("DatFrom"), datetime::fromQDateTime(QDateTime(today, QTime(0, 0))));
    query.setDateTime(QStringLiteral("DatTo"), datetime::fromQDateTime(QDateTime(today, QTime(23, 59, 59, 999))));
    query.Open();
    QString previous = QStringLiteral("_ -_1-!_a");
    bool match = false;
    std::size_t record = 0;
    while (!query.Eof()) {
        const QString sn = query.Fields(0).AsString();
        if (sn != previous) {
            match = false;
            for (std::size_t i = 0; i < items.size(); ++i) {
                if (items[i].SN == sn) {
                    match = true;
                    record = i;
                    break;
                }
            }
            previous = sn;
        }
        if (match) {
            const qint64 hour = query.Fields(1).AsInteger();
            if (hour >= 0 && hour <= 23)
                items[record].HourAvg[static_cast<std::size_t>(hour)] = RoundDecimals(query.Fields(2).AsFloat(), 10);
        }
        query.Next();
    }
    query.Close();
    LastHour = m_clock.now().time().hour();
}

void HourTable::ViewSHour(const TDSItems &items, int Index, const QString &name)
{
    if (Index < 0 || static_cast<std::size_t>(Index) >= items.size())
        return;
    const TDSItem &item = items[static_cast<std::size_t>(Index)];
    int row = -1;
    for (int r = 1; r < m_grid.RowCount(); ++r) {
        if (m_grid.Cells(SerialCol, r) == item.SN) {
            row = r;
            break;
        }
    }
    if (row < 0) {
        row = m_grid.Cells(SerialCol, 1).isEmpty() ? 1 : m_grid.RowCount();
        m_grid.setCell(0, row, name);
        m_grid.setCell(SerialCol, row, item.SN);
        // Never fewer rows than before: an empty first row below other rows must not cut them off.
        if (m_grid.RowCount() < row + 1)
            m_grid.setRowCount(row + 1);
    }
    for (int h = 0; h < 24; ++h) {
        const double value = item.HourAvg[static_cast<std::size_t>(h)];
        m_grid.setCell(h + 1, row, value == 0.0 ? QString() : numbertext::general(value));
    }
}

bool HourTable::highlighted(int ACol, int ARow, int hour)
{
    return ARow > 0 && ACol == hour + 1;
}

QColor HourTable::cellColor(int ACol, int ARow) const
{
    return highlighted(ACol, ARow, m_clock.now().time().hour()) ? windowColor() : QColor(Qt::white);
}

QList<int> HourTable::columnWidths()
{
    QList<int> widths;
    for (int col = 0; col < ColCount; ++col)
        widths << columnWidth(col);
    return widths;
}
