#pragma once

#include <QStyledItemDelegate>

class HourTable;

// SHourDrawCell: paints a body cell of SHour white, or in the window colour in the current
// hour's column (decided by HourTable at each paint), with its text 2 pixels in from the
// cell's top left corner in black.
class SHourDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    explicit SHourDelegate(const HourTable &table, QObject *parent = nullptr);

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
    const HourTable &m_table;
};
