#include "app/ui/ProgramDirectory.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

namespace {

QString withSlash(const QString &folder)
{
    const QString clean = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    return clean.endsWith(QLatin1Char('/')) ? clean : clean + QLatin1Char('/');
}

} // namespace

bool ProgramDirectory::isWritable(const QString &folder)
{
    // access() answers for this process's user, root included, unlike the permission bits.
    return ::access(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0;
}

bool ProgramDirectory::isInstalled(const QString &programFileDir)
{
    const QString dir = QDir::cleanPath(QFileInfo(programFileDir).absoluteFilePath());
    if (dir == QLatin1String("/usr") || dir.startsWith(QLatin1String("/usr/")))
        return true;
    // cmake --install lays out <prefix>/bin/kalvex and <prefix>/share/applications/kalvex.desktop.
    return QFileInfo(dir).fileName() == QLatin1String("bin")
           && QFileInfo::exists(dir + QStringLiteral("/../share/applications/kalvex.desktop"));
}

ProgramDirectory ProgramDirectory::resolve(const QString &programFileDir, const QString &dirOption,
                                           const QProcessEnvironment &env,
                                           const std::function<bool(const QString &)> &writable, bool demo)
{
    ProgramDirectory result = resolveFiles(programFileDir, dirOption, env, writable);
    if (!demo || !dirOption.isEmpty() || result.dir.isEmpty())
        return result;
    result.dir += QStringLiteral("demo/");
    result.logLine = QDir().mkpath(result.dir)
        ? QStringLiteral("Демонстрация: её файлы хранятся в %1").arg(QDir::toNativeSeparators(result.dir))
        : QStringLiteral("Демонстрация: папку %1 создать не удалось.").arg(QDir::toNativeSeparators(result.dir));
    return result;
}

ProgramDirectory ProgramDirectory::resolveFiles(const QString &programFileDir, const QString &dirOption,
                                                const QProcessEnvironment &env,
                                                const std::function<bool(const QString &)> &writable)
{
    ProgramDirectory result;
    if (!dirOption.isEmpty()) {
        const QString dir = withSlash(dirOption);
        if (!QDir().mkpath(dir)) {
            result.error = QStringLiteral("Папка %1 не найдена и не может быть создана.")
                               .arg(QDir::toNativeSeparators(dir));
            return result;
        }
        result.dir = dir;
        return result;
    }
    const QString own = withSlash(programFileDir);
    const bool installed = isInstalled(own);
    if (!installed && writable(own)) {
        result.dir = own;
        return result;
    }
    QString data = env.value(QStringLiteral("XDG_DATA_HOME"));
    if (data.isEmpty() || QDir::isRelativePath(data))
        data = env.value(QStringLiteral("HOME"), QDir::homePath()) + QStringLiteral("/.local/share");
    result.dir = withSlash(data + QStringLiteral("/kalvex"));
    const QString why = installed ? QStringLiteral("Программа установлена в папку %1")
                                  : QStringLiteral("Папка программы %1 закрыта для записи");
    if (QDir().mkpath(result.dir)) {
        result.logLine = (why + QStringLiteral(", файлы программы хранятся в %2"))
                             .arg(QDir::toNativeSeparators(own), QDir::toNativeSeparators(result.dir));
    } else {
        result.logLine = (why + QStringLiteral(", а папку %2 создать не удалось."))
                             .arg(QDir::toNativeSeparators(own), QDir::toNativeSeparators(result.dir));
    }
    return result;
}
