#include "monitor/StringGridModel.h"

#include "base/StringGrid.h"

#include <algorithm>

StringGridModel::StringGridModel(StringGrid &grid, QObject *parent)
    : QAbstractTableModel(parent)
    , m_grid(&grid)
    , m_rows(std::max(grid.RowCount() - grid.FixedRows(), 0))
    , m_cols(grid.ColCount())
{
    connect(&grid, &StringGrid::changed, this, &StringGridModel::gridChanged);
    connect(&grid, &QObject::destroyed, this, [this] {
        beginResetModel();
        m_rows = 0;
        m_cols = 0;
        endResetModel();
    });
}

int StringGridModel::gridRow(int modelRow) const
{
    return m_grid ? modelRow + m_grid->FixedRows() : modelRow;
}

int StringGridModel::modelRow(int gridRow) const
{
    return m_grid ? gridRow - m_grid->FixedRows() : gridRow;
}

int StringGridModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

int StringGridModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_cols;
}

QVariant StringGridModel::data(const QModelIndex &index, int role) const
{
    if (m_grid && index.isValid() && role == Qt::ToolTipRole && m_tips) {
        const QString tip = m_tips(gridRow(index.row()));
        return tip.isEmpty() ? QVariant() : QVariant(tip);
    }
    if (!m_grid || !index.isValid() || role != Qt::DisplayRole)
        return QVariant();
    return m_grid->Cells(index.column(), gridRow(index.row()));
}

QVariant StringGridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (!m_grid || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    if (orientation == Qt::Horizontal)
        return m_grid->FixedRows() > 0 ? m_grid->Cells(section, m_grid->FixedRows() - 1) : QString();
    return QString();
}

void StringGridModel::gridChanged()
{
    if (!m_grid)
        return;
    const int rows = std::max(m_grid->RowCount() - m_grid->FixedRows(), 0);
    const int cols = m_grid->ColCount();
    if (rows != m_rows || cols != m_cols) {
        // A changed shape is rare (a sensor's first reading, a deletion): a reset is simplest
        // and keeps the view's idea of the current row in the grid, not in the model.
        beginResetModel();
        m_rows = rows;
        m_cols = cols;
        endResetModel();
        return;
    }
    if (m_rows > 0 && m_cols > 0)
        emit dataChanged(index(0, 0), index(m_rows - 1, m_cols - 1), {Qt::DisplayRole});
    if (m_cols > 0)
        emit headerDataChanged(Qt::Horizontal, 0, m_cols - 1);
}
