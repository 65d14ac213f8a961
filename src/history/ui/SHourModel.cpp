#include "history/ui/SHourModel.h"

#include "app/base/StringGrid.h"

SHourModel::SHourModel(StringGrid *grid, QObject *parent)
    : QAbstractTableModel(parent)
    , m_grid(grid)
{
    if (m_grid)
        connect(m_grid, &StringGrid::changed, this, &SHourModel::gridChanged);
}

void SHourModel::gridChanged()
{
    // The grid changes cell by cell; a reset is cheap for a few rows of 26 cells.
    beginResetModel();
    endResetModel();
}

int SHourModel::rowCount(const QModelIndex &parent) const
{
    if (parent.isValid() || !m_grid)
        return 0;
    return std::max(m_grid->RowCount() - 1, 0);
}

int SHourModel::columnCount(const QModelIndex &parent) const
{
    if (parent.isValid() || !m_grid)
        return 0;
    return m_grid->ColCount();
}

QVariant SHourModel::data(const QModelIndex &index, int role) const
{
    if (!m_grid || !index.isValid() || role != Qt::DisplayRole)
        return QVariant();
    return m_grid->Cells(index.column(), index.row() + 1);
}

QVariant SHourModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (!m_grid || orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QVariant();
    return m_grid->Cells(section, 0);
}

Qt::ItemFlags SHourModel::flags(const QModelIndex &index) const
{
    return index.isValid() ? Qt::ItemIsEnabled : Qt::NoItemFlags;
}
