#include "history/ui/SHourDelegate.h"

#include "history/HourTable.h"

#include <QPainter>

SHourDelegate::SHourDelegate(const HourTable &table, QObject *parent)
    : QStyledItemDelegate(parent)
    , m_table(table)
{
}

void SHourDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    // Model rows are the grid's body rows: grid row = model row + 1.
    const QColor brush = m_table.cellColor(index.column(), index.row() + 1);
    painter->save();
    painter->fillRect(option.rect, brush);
    painter->setPen(Qt::black);
    painter->setFont(option.font);
    const QRect textRect = option.rect.adjusted(2, 2, 0, 0);
    painter->drawText(textRect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, index.data(Qt::DisplayRole).toString());
    // Lines both ways: each cell draws its right and bottom edge, so the body is a lattice
    // that meets the header's section edges.
    painter->setPen(QColor(192, 192, 192));
    painter->drawLine(option.rect.topRight(), option.rect.bottomRight());
    painter->drawLine(option.rect.bottomLeft(), option.rect.bottomRight());
    painter->restore();
}
