#include "app/ui/AutoStartEntry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <utility>

namespace {

// One argument of the command line, always quoted: inside the quotes a backslash protects
// '"', '`', '$' and '\', and "%" is doubled because it starts a field code.
QString quotedArgument(const QString &argument)
{
    QString quoted = QStringLiteral("\"");
    for (const QChar c : argument) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        if (c == QLatin1Char('%'))
            quoted += QLatin1Char('%');
        quoted += c;
    }
    quoted += QLatin1Char('"');
    return quoted;
}

// The escapes of a string value of the file itself, applied over the command line.
QString escapedValue(const QString &value)
{
    QString escaped;
    for (const QChar c : value) {
        switch (c.unicode()) {
        case '\\': escaped += QStringLiteral("\\\\"); break;
        case '\n': escaped += QStringLiteral("\\n"); break;
        case '\t': escaped += QStringLiteral("\\t"); break;
        case '\r': escaped += QStringLiteral("\\r"); break;
        default: escaped += c;
        }
    }
    return escaped;
}

} // namespace

QString AutoStartEntry::defaultPath(const QProcessEnvironment &env)
{
    QString config = env.value(QStringLiteral("XDG_CONFIG_HOME"));
    if (config.isEmpty() || QDir::isRelativePath(config)) {
        const QString home = env.value(QStringLiteral("HOME"), QDir::homePath());
        config = home + QStringLiteral("/.config");
    }
    return QDir::cleanPath(config + QStringLiteral("/autostart/Kalvex.desktop"));
}

QString AutoStartEntry::execValue(const QStringList &command)
{
    QStringList arguments;
    for (const QString &argument : command)
        arguments << quotedArgument(argument);
    return escapedValue(arguments.join(QLatin1Char(' ')));
}

QByteArray AutoStartEntry::fileText(const QStringList &command)
{
    const QString text = QStringLiteral("[Desktop Entry]\n"
                                        "Type=Application\n"
                                        "Name=Kalvex\n"
                                        "Exec=%1\n"
                                        "Terminal=false\n"
                                        "X-GNOME-Autostart-enabled=true\n")
                             .arg(execValue(command));
    return text.toUtf8();
}

AutoStartEntry::AutoStartEntry(QString path, QStringList command)
    : m_path(std::move(path))
    , m_command(std::move(command))
{
}

bool AutoStartEntry::apply(bool enabled, QString &error) const
{
    const QString shown = QDir::toNativeSeparators(m_path);
    if (!enabled) {
        QFile entry(m_path);
        // exists() follows symlinks; a dangling link is still an entry to remove.
        if (!QFileInfo(m_path).isSymLink() && !entry.exists())
            return true;
        if (entry.remove())
            return true;
        error = QStringLiteral("Автозапуск: не удалось удалить %1: %2").arg(shown, entry.errorString());
        return false;
    }
    const QString folder = QFileInfo(m_path).absolutePath();
    if (!QDir().mkpath(folder)) {
        error = QStringLiteral("Автозапуск: не удалось создать папку %1.").arg(QDir::toNativeSeparators(folder));
        return false;
    }
    QSaveFile entry(m_path);
    // Unbuffered, so that a short write (a full disk) shows in write()'s count: through the
    // buffer, commit() would put the cut text in place and report success.
    if (!entry.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        error = QStringLiteral("Автозапуск: не удалось записать %1: %2").arg(shown, entry.errorString());
        return false;
    }
    const QByteArray text = fileText(m_command);
    if (entry.write(text) != text.size() || !entry.commit()) {
        error = QStringLiteral("Автозапуск: не удалось записать %1: %2").arg(shown, entry.errorString());
        return false;
    }
    return true;
}
