#pragma once

#include <QDialog>

class QFrame;
class QLabel;
class QToolButton;

// The chart help: how the mouse moves, enlarges and resets the history chart. Shown modally,
// closed only by its Ok button (no title-bar buttons, Esc does nothing).
class TForm4 : public QDialog
{
    Q_OBJECT

public:
    explicit TForm4(QWidget *parent = nullptr);

    QFrame *Panel1 = nullptr;
    QLabel *Label1 = nullptr; // "Управление графиком:"
    QToolButton *BOk = nullptr;

    void BOkClick();

protected:
    void keyPressEvent(QKeyEvent *event) override;
};
