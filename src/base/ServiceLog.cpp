#include "base/ServiceLog.h"

#include <QList>

#include <sys/stat.h>

namespace servicelog {

namespace {

// The program's own wordings of what failed, and of what it only works around.
const QList<QString> &errorMarks()
{
    static const QList<QString> marks{
        QStringLiteral("Ошибка"),      QStringLiteral("ошибка"),      QStringLiteral("не отвечает"),
        QStringLiteral("потерян"),     QStringLiteral("занят"),       QStringLiteral("не запущен"),
        QStringLiteral("нет связи"),   QStringLiteral("не прочитан"), QStringLiteral("отсутствует"),
        QStringLiteral("не найден"),   QStringLiteral("не удалось"),  QStringLiteral("Не удалось"),
        QStringLiteral("не читается"), QStringLiteral("Нет прав"),    QStringLiteral("не загружен"),
        QStringLiteral("Непавильный"), QStringLiteral("Неправильный"), QStringLiteral("не может быть"),
        QStringLiteral("Нет доступа"), QStringLiteral("нет доступа"), QStringLiteral("не годится"),
    };
    return marks;
}

const QList<QString> &warningMarks()
{
    static const QList<QString> marks{
        QStringLiteral("выключен."),          QStringLiteral("отложен"),          QStringLiteral("ограничен"),
        QStringLiteral("Kalvex.ini: "),       QStringLiteral("не умеет"),         QStringLiteral("заменён во время"),
        QStringLiteral("удалён или перемещён"), QStringLiteral("закрыта для записи"), QStringLiteral("повторилось"),
        QStringLiteral("окна не будет"),      QStringLiteral("недоступ"),
    };
    return marks;
}

bool containsAny(const QString &text, const QList<QString> &marks)
{
    for (const QString &mark : marks) {
        if (text.contains(mark))
            return true;
    }
    return false;
}

} // namespace

Priority priority(const QString &text)
{
    // A switch turned off by hand is news, not a warning.
    if (text.startsWith(QLatin1String("Отслеживание датчиков")) || text.startsWith(QLatin1String("HTTP-сервер в")))
        return Info;
    if (containsAny(text, errorMarks()))
        return Error;
    if (containsAny(text, warningMarks()))
        return Warning;
    return Info;
}

bool isStream(const QByteArray &journalStream, int fd)
{
    const qsizetype colon = journalStream.indexOf(':');
    if (colon <= 0)
        return false;
    bool okDevice = false;
    bool okInode = false;
    const qulonglong device = journalStream.left(colon).toULongLong(&okDevice);
    const qulonglong inode = journalStream.mid(colon + 1).toULongLong(&okInode);
    struct stat st{};
    if (!okDevice || !okInode || ::fstat(fd, &st) != 0)
        return false;
    return static_cast<qulonglong>(st.st_dev) == device && static_cast<qulonglong>(st.st_ino) == inode;
}

bool toJournal()
{
    // Inherited by children that write elsewhere, so the variable alone says nothing.
    static const bool journal = isStream(qgetenv("JOURNAL_STREAM"), 2);
    return journal;
}

QString line(const QString &stamp, const QString &text, Priority priority, bool journal)
{
    if (journal)
        return QLatin1Char('<') + QString::number(static_cast<int>(priority)) + QLatin1Char('>') + text;
    return stamp + QStringLiteral(" : ") + text;
}

} // namespace servicelog
