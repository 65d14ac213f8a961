#include "history/ui/HistorySnsView.h"

#include "base/StringGrid.h"
#include "history/HistorySensorList.h"

#include <QAbstractTableModel>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QStyledItemDelegate>

#include <algorithm>

namespace {

class GridModel final : public QAbstractTableModel
{
public:
    GridModel(StringGrid &grid, QObject *parent)
        : QAbstractTableModel(parent)
        , m_grid(&grid)
    {
        m_rows = grid.RowCount();
        connect(&grid, &StringGrid::changed, this, [this] {
            if (!m_grid)
                return;
            if (m_grid->RowCount() != m_rows) {
                beginResetModel();
                m_rows = m_grid->RowCount();
                endResetModel();
            } else {
                emit dataChanged(index(0, 0), index(m_rows - 1, HistorySensorList::ColCount - 1));
            }
        });
    }
    int rowCount(const QModelIndex &parent) const override { return parent.isValid() ? 0 : m_rows; }
    int columnCount(const QModelIndex &parent) const override
    {
        return parent.isValid() ? 0 : HistorySensorList::ColCount;
    }
    QVariant data(const QModelIndex &index, int role) const override
    {
        if (!m_grid || role != Qt::DisplayRole)
            return QVariant();
        return m_grid->Cells(index.column(), index.row());
    }

private:
    QPointer<StringGrid> m_grid;
    int m_rows = 0;
};

// SnsDrawCell.
class TickDelegate final : public QStyledItemDelegate
{
public:
    TickDelegate(const QPixmap &tick, QObject *parent)
        : QStyledItemDelegate(parent)
        , m_tick(tick)
    {
    }
    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        painter->fillRect(option.rect, Qt::white);
        const QString text = index.data().toString();
        if (index.column() == HistorySensorList::TickCol && text == QLatin1String("x")) {
            painter->drawPixmap(option.rect, m_tick);
            return;
        }
        painter->setPen(Qt::black);
        painter->setFont(option.font);
        painter->drawText(option.rect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
    }

private:
    const QPixmap &m_tick;
};

} // namespace

HistorySnsView::HistorySnsView(StringGrid &grid, QWidget *parent)
    : QTableView(parent)
    , m_model(new GridModel(grid, this))
{
    setModel(m_model);
    setItemDelegate(new TickDelegate(m_tick, this));
    horizontalHeader()->hide();
    horizontalHeader()->setMinimumSectionSize(1);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(16);
    verticalHeader()->setMinimumSectionSize(16);
    applyColumnWidths();
    // A reset (the list grew) gives the columns the header's default width again.
    connect(m_model, &QAbstractItemModel::modelReset, this, &HistorySnsView::applyColumnWidths);
    setShowGrid(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
}

int HistorySnsView::serialColumnWidth() const
{
    // Sixteen of the widest hex digit in the font the cells are drawn in, the grid line after
    // them, and never narrower than designed: two serials that differ in the last digit must
    // both show it.
    const QFontMetrics metrics(font());
    int serial = 0;
    for (const QChar c : QStringLiteral("0123456789ABCDEF"))
        serial = std::max(serial, metrics.horizontalAdvance(QString(16, c)));
    return std::max(102, serial + 2);
}

void HistorySnsView::applyColumnWidths()
{
    setColumnWidth(0, 17);
    setColumnWidth(1, 70);
    setColumnWidth(2, serialColumnWidth());
}

void HistorySnsView::changeEvent(QEvent *event)
{
    QTableView::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        applyColumnWidths();
}

void HistorySnsView::setTickPicture(const QPixmap &picture)
{
    m_tick = picture;
    viewport()->update();
}

int HistorySnsView::currentGridRow() const
{
    return currentIndex().isValid() ? currentIndex().row() : 0;
}

void HistorySnsView::mouseDoubleClickEvent(QMouseEvent *event)
{
    QTableView::mouseDoubleClickEvent(event);
    const QModelIndex index = indexAt(event->position().toPoint());
    if (index.isValid())
        setCurrentIndex(index);
    emit rowDoubleClicked();
}
