#include "monitor/ui/SnsDelegate.h"

#include "monitor/SnsDrawCell.h"
#include "monitor/StringGridModel.h"

#include <QPainter>

SnsDelegate::SnsDelegate(const StringGridModel &model, QObject *parent)
    : QStyledItemDelegate(parent)
    , m_model(model)
{
}

void SnsDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QRect cell = option.rect.adjusted(0, 0, 0, -1);
    painter->save();
    painter->setFont(option.font);
    SnsDrawCell(*painter, m_model.grid(), index.column(), m_model.gridRow(index.row()), cell);
    painter->setPen(QColor(192, 192, 192));
    painter->drawLine(option.rect.bottomLeft(), option.rect.bottomRight());
    painter->restore();
}
