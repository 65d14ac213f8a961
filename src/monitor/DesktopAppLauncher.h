#pragma once

#include "monitor/AppLauncher.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

// The desktop's default action: an executable file is started as a program, anything else
// (a document, a folder, a URL) goes to the freedesktop opener, and so does an executable
// file the system cannot run. A program runs detached; the opener is watched until it ends,
// because it reports a document it cannot open only through its exit status.
class DesktopAppLauncher final : public AppLauncher
{
public:
    // opener: the program that opens documents with their default application.
    explicit DesktopAppLauncher(QString opener = QStringLiteral("xdg-open"));

    bool start(const QString &path) override;

    // Called on this object's thread with the path when the opener ends with a failure (no
    // handler for the document, a URL it cannot reach); start() had already said true.
    void setLateFailureHandler(std::function<void(const QString &path)> handler);

    // What start() would run for path: the program and its arguments; empty program when
    // nothing can be started.
    struct Command
    {
        QString program;
        QStringList arguments;
    };
    Command commandFor(const QString &path) const;

private:
    bool startOpener(const QString &path, const QStringList &arguments);

    QString m_opener;
    std::function<void(const QString &)> m_lateFailure;
    // Parent of the running openers; they die with the launcher.
    QObject m_openers;
};
