#pragma once

#include "monitor/AppLauncher.h"

#include <QString>
#include <QStringList>

// The desktop's default action: an executable file is started as a program, anything else
// (a document, a folder, a URL) goes to the freedesktop opener, and so does an executable
// file the system cannot run. Both run detached.
class DesktopAppLauncher final : public AppLauncher
{
public:
    // opener: the program that opens documents with their default application.
    explicit DesktopAppLauncher(QString opener = QStringLiteral("xdg-open"));

    bool start(const QString &path) override;

    // What start() would run for path: the program and its arguments; empty program when
    // nothing can be started.
    struct Command
    {
        QString program;
        QStringList arguments;
    };
    Command commandFor(const QString &path) const;

private:
    QString m_opener;
};
