#include "monitor/ui/StringGridView.h"

#include <QHeaderView>

#include <algorithm>

StringGridView::StringGridView(StringGrid &cells, QWidget *parent)
    : QTableView(parent)
    , m_model(new StringGridModel(cells, this))
{
    setModel(m_model);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    verticalHeader()->setVisible(false);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(16);
    verticalHeader()->setMinimumSectionSize(16);
    horizontalHeader()->setMinimumSectionSize(1);
    horizontalHeader()->setFixedHeight(17);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setSectionsClickable(false);
    // Horizontal lines only: the cell painters draw them (QTableView draws both or none).
    setShowGrid(false);

    connect(m_model, &QAbstractItemModel::modelReset, this, &StringGridView::modelWasReset);
    connect(this, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex &index) {
        grid().setRow(m_model->gridRow(index.row()));
        emit gridDoubleClicked();
    });
}

void StringGridView::setColWidths(const QList<int> &widths)
{
    m_widths = widths;
    for (int c = 0; c < widths.size() && c < m_model->columnCount(); ++c)
        setColumnWidth(c, widths[c]);
}

void StringGridView::fillWidth(int width)
{
    const int first = columnWidth(0);
    const int second = columnWidth(1);
    const int frame = this->width() - viewport()->width();
    setColWidths({first, second, std::max(width - first - second - frame, 20)});
}

void StringGridView::setCurrentGridRow(int row)
{
    const int modelRow = m_model->modelRow(row);
    if (modelRow >= 0 && modelRow < m_model->rowCount())
        setCurrentIndex(m_model->index(modelRow, 0));
}

void StringGridView::currentChanged(const QModelIndex &current, const QModelIndex &previous)
{
    QTableView::currentChanged(current, previous);
    if (current.isValid())
        grid().setRow(m_model->gridRow(current.row()));
}

void StringGridView::modelWasReset()
{
    // A reset forgets the widths and the current row; the grid remembers both.
    setColWidths(m_widths);
    const int row = grid().Row();
    if (row >= grid().FixedRows() && row < grid().RowCount())
        setCurrentGridRow(row);
}
