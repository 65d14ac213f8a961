#pragma once

#include "base/DialogBoxes.h"

// The program's modal boxes on screen, parented to the active window and titled with the
// application's title.
class QtDialogBoxes final : public DialogBoxes
{
public:
    void message(const QString &text) override;
    // Buttons "Да" and "Нет"; closing the box counts as "Нет".
    bool confirm(const QString &text) override;
    void error(const QString &text) override;
    // filter in Qt's form, for example "*.jpg, *.bmp (*.jpg *.bmp)".
    QString openFile(const QString &title, const QString &directory, const QString &filter) override;

    // The program is closing: every modal window and pop-up menu open now is closed as
    // cancelled, and from now on no box is shown (messages go to standard error, questions
    // are answered no, file boxes cancelled), so nothing waits for a click.
    void closeAll();

private:
    bool m_closing = false;
};
