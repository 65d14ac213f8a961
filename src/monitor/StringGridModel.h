#pragma once

#include <QAbstractTableModel>
#include <QPointer>

#include <functional>

#include "base/StringGrid.h"

// Shows a StringGrid: the fixed rows become the horizontal header (the last fixed row's
// texts), the body rows the model's rows, ColCount() columns (cells beyond them stay hidden
// data). It follows every change of the grid.
class StringGridModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    explicit StringGridModel(StringGrid &grid, QObject *parent = nullptr);

    StringGrid &grid() const { return *m_grid; }
    // Grid row of a model row and back.
    int gridRow(int modelRow) const;
    int modelRow(int gridRow) const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    // The tip of a grid row's cells (empty: none).
    void setToolTips(std::function<QString(int gridRow)> tips) { m_tips = std::move(tips); }

private:
    void gridChanged();

    QPointer<StringGrid> m_grid;
    int m_rows = 0;
    int m_cols = 0;
    std::function<QString(int gridRow)> m_tips;
};
