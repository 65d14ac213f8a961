#pragma once

#include "base/StringGrid.h"
#include "monitor/StringGridModel.h"

#include <QList>
#include <QTableView>

// A string grid on screen: one fixed header row, rows 16 pixels high, horizontal lines,
// whole-row selection. The grid's current row (StringGrid::Row) follows the view's.
class StringGridView : public QTableView
{
    Q_OBJECT

public:
    explicit StringGridView(StringGrid &grid, QWidget *parent = nullptr);

    StringGrid &grid() const { return m_model->grid(); }
    StringGridModel &gridModel() const { return *m_model; }
    // Column widths in pixels, from column 0.
    void setColWidths(const QList<int> &widths);
    // Column 2 := what columns 0 and 1 leave of `width`, less the view's frame (so no
    // horizontal scroll bar appears), at least 20 pixels.
    void fillWidth(int width);
    // Makes grid row `row` the current one.
    void setCurrentGridRow(int row);

signals:
    // A double click anywhere on the body (SnsDblClick); the grid's Row is already set.
    void gridDoubleClicked();

private:
    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override;
    void modelWasReset();

    StringGridModel *m_model;
    QList<int> m_widths;
};
