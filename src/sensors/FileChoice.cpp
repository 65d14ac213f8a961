#include "sensors/FileChoice.h"

#include <algorithm>

QString chooserFolder(const QString &fieldText)
{
    const qsizetype last = std::max(fieldText.lastIndexOf(QLatin1Char('\\')), fieldText.lastIndexOf(QLatin1Char('/')));
    if (last < 0)
        return QStringLiteral("/");
    return fieldText.left(last + 1);
}
