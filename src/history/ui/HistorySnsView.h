#pragma once

#include <QPixmap>
#include <QTableView>

class StringGrid;
class QAbstractTableModel;

// The history window's sensor list on screen: the grid's cells, no headers, rows 16 pixels
// high, grid lines, whole-row selection. SnsDrawCell paints every cell white with black text at
// its top left corner, and a ticked column 0 as the tick picture stretched over the cell.
class HistorySnsView : public QTableView
{
    Q_OBJECT

public:
    HistorySnsView(StringGrid &grid, QWidget *parent = nullptr);

    // The picture of a ticked cell (Image1's).
    void setTickPicture(const QPixmap &picture);
    // The grid row of the view's current row (0 when none).
    int currentGridRow() const;
    // The serial column's width: 16 hex digits of the view's font whole, at least 102.
    int serialColumnWidth() const;

signals:
    // A double click on a row; the current row is that row.
    void rowDoubleClicked();

protected:
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void applyColumnWidths();

    QAbstractTableModel *m_model;
    QPixmap m_tick;
};
