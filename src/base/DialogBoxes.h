#pragma once

#include <QString>

// Every modal box of the program goes through this interface, so tests answer them in
// advance and a headless run never blocks.
class DialogBoxes
{
public:
    virtual ~DialogBoxes() = default;
    // An information box with OK.
    virtual void message(const QString &text) = 0;
    // A yes/no question; true for yes.
    virtual bool confirm(const QString &text) = 0;
    // The application's general error display.
    virtual void error(const QString &text) = 0;
    // The same display for an error of something that goes on by itself (the monitoring
    // cycle): the box does not wait for its click. By default the modal one.
    virtual void notify(const QString &text) { error(text); }
    // A file-open box; the chosen path, or empty when cancelled.
    virtual QString openFile(const QString &title, const QString &directory, const QString &filter) = 0;
};
