#include "base/StringGrid.h"

#include <algorithm>

StringGrid::StringGrid(int colCount, int rowCount, QObject *parent)
    : QObject(parent)
    , m_colCount(std::max(colCount, 1))
    , m_rowCount(std::max(rowCount, 1))
{
}

void StringGrid::setColCount(int count)
{
    m_colCount = std::max(count, 1);
    emit changed();
}

void StringGrid::setRowCount(int count)
{
    m_rowCount = std::max(count, 1);
    emit changed();
}

void StringGrid::setFixedRows(int count)
{
    m_fixedRows = std::clamp(count, 0, m_rowCount);
    emit changed();
}

QString StringGrid::Cells(int col, int row) const
{
    if (row < 0 || row >= m_cells.size() || col < 0 || col >= m_cells[row].size())
        return QString();
    return m_cells[row][col];
}

QString &StringGrid::cellRef(int col, int row)
{
    if (m_cells.size() <= row)
        m_cells.resize(row + 1);
    if (m_cells[row].size() <= col)
        m_cells[row].resize(col + 1);
    return m_cells[row][col];
}

void StringGrid::setCell(int col, int row, const QString &text)
{
    if (col < 0 || row < 0)
        return;
    cellRef(col, row) = text;
    emit changed();
}

void StringGrid::copyRow(int from, int to)
{
    if (from < 0 || to < 0 || from == to)
        return;
    const QVector<QString> source = from < m_cells.size() ? m_cells[from] : QVector<QString>();
    if (m_cells.size() <= to)
        m_cells.resize(to + 1);
    m_cells[to] = source;
    emit changed();
}

void StringGrid::clearRow(int row)
{
    if (row >= 0 && row < m_cells.size())
        m_cells[row].clear();
    emit changed();
}

QVector<QStringList> StringGrid::snapshot() const
{
    QVector<QStringList> rows;
    rows.reserve(m_rowCount);
    for (int r = 0; r < m_rowCount; ++r) {
        QStringList row;
        row.reserve(m_colCount);
        for (int c = 0; c < m_colCount; ++c)
            row << Cells(c, r);
        rows << row;
    }
    return rows;
}
