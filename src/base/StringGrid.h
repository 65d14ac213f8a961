#pragma once

#include <QObject>
#include <QString>
#include <QVector>

// The contents of a string grid: cells by column and row, a row count and a column count,
// a number of fixed (header) rows. Cells keep their text when the columns are hidden or the
// counts shrink and grow again, as a grid component's cells do. A view shows it through a
// Qt model; changed() tells the view to read it again.
class StringGrid : public QObject
{
    Q_OBJECT

public:
    explicit StringGrid(int colCount = 5, int rowCount = 5, QObject *parent = nullptr);

    int ColCount() const { return m_colCount; }
    int RowCount() const { return m_rowCount; }
    int FixedRows() const { return m_fixedRows; }
    void setColCount(int count);
    void setRowCount(int count);
    void setFixedRows(int count);

    // Empty text outside the stored cells.
    QString Cells(int col, int row) const;
    void setCell(int col, int row, const QString &text);
    // Copies row `from` over row `to` (every stored column).
    void copyRow(int from, int to);
    void clearRow(int row);

    // The current row of the view (Row of the grid component); FixedRows() when none.
    int Row() const { return m_row; }
    void setRow(int row) { m_row = row; }

    // A copy of every cell in the grid's bounds, row by row.
    QVector<QStringList> snapshot() const;

signals:
    void changed();

private:
    QString &cellRef(int col, int row);

    int m_colCount;
    int m_rowCount;
    int m_fixedRows = 1;
    int m_row = 1;
    QVector<QVector<QString>> m_cells; // [row][col], grown on demand
};
