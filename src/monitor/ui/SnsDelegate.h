#pragma once

#include <QStyledItemDelegate>

class StringGridModel;

// Draws the body cells of Sns through SnsDrawCell, with a grey line under each row.
class SnsDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    explicit SnsDelegate(const StringGridModel &model, QObject *parent = nullptr);

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
    const StringGridModel &m_model;
};
