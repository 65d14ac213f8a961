#include "history/HistorySensorList.h"

#include "base/StringGrid.h"

namespace {
const QString tick = QStringLiteral("x");
} // namespace

HistorySensorList::HistorySensorList(StringGrid &Sns)
    : m_grid(Sns)
{
    m_grid.setColCount(ColCount);
    m_grid.setFixedRows(0);
}

void HistorySensorList::LoadSns(const QStringList &serials,
                                const std::function<QString(const QString &)> &NameBySerial)
{
    // A list that is still empty starts at its first row.
    int next = m_grid.Cells(SerialCol, 0).isEmpty() ? 0 : m_grid.RowCount();
    for (const QString &serial : serials) {
        bool known = false;
        for (int row = 0; row < next && !known; ++row)
            known = m_grid.Cells(SerialCol, row) == serial;
        if (known)
            continue;
        m_grid.setCell(SerialCol, next, serial);
        m_grid.setCell(TickCol, next, tick);
        m_grid.setCell(NameCol, next, NameBySerial ? NameBySerial(serial) : QString());
        ++next;
    }
    m_grid.setRowCount(next);
}

QString HistorySensorList::GetNameSer(const QString &Sn) const
{
    for (int row = 0; row < m_grid.RowCount(); ++row) {
        if (m_grid.Cells(SerialCol, row) == Sn)
            return m_grid.Cells(NameCol, row);
    }
    return QString();
}

QStringList HistorySensorList::selection() const
{
    QStringList serials;
    for (int row = 0; row < m_grid.RowCount(); ++row) {
        if (ticked(row))
            serials << m_grid.Cells(SerialCol, row);
    }
    return serials;
}

void HistorySensorList::toggleTick(int row)
{
    if (row < 0 || row >= m_grid.RowCount())
        return;
    m_grid.setCell(TickCol, row, ticked(row) ? QString() : tick);
}

bool HistorySensorList::ticked(int row) const
{
    return m_grid.Cells(TickCol, row) == tick;
}
