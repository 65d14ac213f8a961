#include "monitor/DesktopAppLauncher.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

DesktopAppLauncher::DesktopAppLauncher(QString opener)
    : m_opener(std::move(opener))
{
}

DesktopAppLauncher::Command DesktopAppLauncher::commandFor(const QString &path) const
{
    if (path.trimmed().isEmpty())
        return {};
    const QFileInfo info(path);
    if (info.exists()) {
        if (info.isFile() && info.isExecutable())
            return {info.absoluteFilePath(), {}};
        return {m_opener, {info.absoluteFilePath()}};
    }
    // A bare program name is looked up on the search path, as a shell would.
    if (!path.contains(QLatin1Char('/'))) {
        const QString found = QStandardPaths::findExecutable(path);
        if (!found.isEmpty())
            return {found, {}};
    }
    // A URL (http:, mailto:, file:) opens with the desktop's handler; a one-letter scheme
    // would be a drive letter, which this system has none of.
    const QUrl url(path, QUrl::StrictMode);
    if (url.isValid() && url.scheme().size() > 1)
        return {m_opener, {path}};
    return {};
}

bool DesktopAppLauncher::start(const QString &path)
{
    const Command command = commandFor(path);
    if (command.program.isEmpty())
        return false;
    if (QProcess::startDetached(command.program, command.arguments))
        return true;
    // Files on Windows-formatted disks all carry the execute bit; one that is no program
    // still opens with its default application.
    if (command.arguments.isEmpty() && QFileInfo(command.program).isFile())
        return QProcess::startDetached(m_opener, {command.program});
    return false;
}
