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

void DesktopAppLauncher::setLateFailureHandler(std::function<void(const QString &path)> handler)
{
    m_lateFailure = std::move(handler);
}

bool DesktopAppLauncher::start(const QString &path)
{
    const Command command = commandFor(path);
    if (command.program.isEmpty())
        return false;
    if (command.program == m_opener)
        return startOpener(path, command.arguments);
    if (QProcess::startDetached(command.program, command.arguments))
        return true;
    // Files on Windows-formatted disks all carry the execute bit; one that is no program
    // still opens with its default application.
    if (command.arguments.isEmpty() && QFileInfo(command.program).isFile())
        return startOpener(path, {command.program});
    return false;
}

bool DesktopAppLauncher::startOpener(const QString &path, const QStringList &arguments)
{
    auto *opener = new QProcess(&m_openers);
    opener->setProgram(m_opener);
    opener->setArguments(arguments);
    // The opened application outlives the opener; its output is not ours to keep.
    opener->setStandardOutputFile(QProcess::nullDevice());
    opener->setStandardErrorFile(QProcess::nullDevice());
    QObject::connect(opener, &QProcess::finished, &m_openers,
                     [this, opener, path](int exitCode, QProcess::ExitStatus status) {
                         opener->deleteLater();
                         if ((exitCode != 0 || status != QProcess::NormalExit) && m_lateFailure)
                             m_lateFailure(path);
                     });
    opener->start();
    if (!opener->waitForStarted()) {
        delete opener;
        return false;
    }
    return true;
}
