#pragma once

#include <QAbstractTableModel>
#include <QPointer>

class StringGrid;

// The hourly grid SHour shown in a table view: the grid's row 0 is the horizontal header, its
// body rows are the model's rows. Read-only; it follows the grid's changed().
class SHourModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    explicit SHourModel(StringGrid *grid, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

private:
    void gridChanged();

    QPointer<StringGrid> m_grid;
};
