#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// The session autostart entry that starts the program when the user logs in: a desktop entry
// file "Kalvex.desktop" in the XDG autostart folder.
class AutoStartEntry
{
public:
    // $XDG_CONFIG_HOME/autostart/Kalvex.desktop; an unset or relative XDG_CONFIG_HOME means
    // ~/.config, as the XDG base directories say.
    static QString defaultPath(const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment());
    // The Exec value for a command line: every argument quoted, with the escapes of the
    // desktop entry format (so a path with blanks, quotes, "$", "%" or "\" starts as it is).
    static QString execValue(const QStringList &command);
    // The whole file for a command line.
    static QByteArray fileText(const QStringList &command);

    // path: the entry file; command: the program's full path followed by its arguments.
    AutoStartEntry(QString path, QStringList command);

    const QString &path() const { return m_path; }

    // Writes the entry when enabled, deletes it otherwise (a missing entry is no error). On a
    // failure returns false and sets error to a log line that names the file and the reason.
    bool apply(bool enabled, QString &error) const;

private:
    QString m_path;
    QStringList m_command;
};
