#pragma once

#include "sensors/ui/DialogGlyphs.h"

#include <QRect>
#include <QString>

class QKeyEvent;
class QLabel;
class QLineEdit;
class QToolButton;
class QWidget;

// The pieces both dialogs are laid out with, at fixed places as designed.
namespace dialogparts {

// A flat picture button that takes no focus (a click leaves the cursor, and the number being
// typed, where they are); a toggle when `toggle`.
QToolButton *speedButton(QWidget *parent, const QString &name, const QRect &geometry, dialogglyphs::Glyph glyph,
                         int iconSize, const QString &hint, bool toggle);
// A label sized to its text with its top left at (x, y).
QLabel *caption(QWidget *parent, const QString &text, int x, int y);
QLineEdit *field(QWidget *parent, const QString &name, const QRect &geometry);

// True for a key that types nothing a key filter judges: cursor movement, Delete, Tab.
bool typesNoCharacter(const QKeyEvent *event);

} // namespace dialogparts
