#pragma once

#include "base/DialogBoxes.h"

#include <QQueue>
#include <QStringList>

// Records every box the program shows and gives the answers a test queued in advance.
// With no answer queued, a question is answered "no" and a file box is cancelled.
class FakeDialogBoxes final : public DialogBoxes
{
public:
    void message(const QString &text) override { messages << text; }
    bool confirm(const QString &text) override
    {
        questions << text;
        return confirmAnswers.isEmpty() ? false : confirmAnswers.dequeue();
    }
    void error(const QString &text) override { errors << text; }
    void notify(const QString &text) override { notices << text; }
    QString openFile(const QString &title, const QString &directory, const QString &filter) override
    {
        fileTitles << title;
        fileDirectories << directory;
        fileFilters << filter;
        return fileAnswers.isEmpty() ? QString() : fileAnswers.dequeue();
    }

    QStringList messages;
    QStringList questions;
    QStringList errors;
    QStringList notices;
    QStringList fileTitles;
    QStringList fileDirectories;
    QStringList fileFilters;
    QQueue<bool> confirmAnswers;
    QQueue<QString> fileAnswers;
};
