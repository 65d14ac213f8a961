#pragma once

#include "base/DialogBoxes.h"

#include <QString>

#include <functional>

// Boxes of a program that runs without a screen: nobody could answer, so each box becomes a
// log line and gets its safe answer at once (a message OK, a question "Нет", a file choice
// cancelled).
class HeadlessDialogBoxes final : public DialogBoxes
{
public:
    // Where the lines go (the program's log once it exists).
    std::function<void(const QString &)> log;

    void message(const QString &text) override { write(text); }
    bool confirm(const QString &text) override
    {
        write(text + QStringLiteral(" (без ответа: Нет)"));
        return false;
    }
    void error(const QString &text) override { write(text); }
    void notify(const QString &text) override { write(text); }
    QString openFile(const QString &title, const QString &, const QString &) override
    {
        write(title + QStringLiteral(" (без ответа: отменено)"));
        return {};
    }

private:
    void write(const QString &text)
    {
        if (log)
            log(text);
    }
};
