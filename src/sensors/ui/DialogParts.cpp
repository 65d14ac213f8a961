#include "sensors/ui/DialogParts.h"

#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

namespace dialogparts {

QToolButton *speedButton(QWidget *parent, const QString &name, const QRect &geometry, dialogglyphs::Glyph glyph,
                         int iconSize, const QString &hint, bool toggle)
{
    auto *button = new QToolButton(parent);
    button->setObjectName(name);
    button->setGeometry(geometry);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setCheckable(toggle);
    button->setIcon(QIcon(dialogglyphs::glyph(glyph, iconSize)));
    button->setIconSize(QSize(iconSize, iconSize));
    button->setToolTip(hint);
    return button;
}

QLabel *caption(QWidget *parent, const QString &text, int x, int y)
{
    auto *label = new QLabel(text, parent);
    label->move(x, y);
    label->adjustSize();
    return label;
}

QLineEdit *field(QWidget *parent, const QString &name, const QRect &geometry)
{
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setGeometry(geometry);
    return edit;
}

bool typesNoCharacter(const QKeyEvent *event)
{
    return event->text().isEmpty() || event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab
           || event->key() == Qt::Key_Delete;
}

} // namespace dialogparts
