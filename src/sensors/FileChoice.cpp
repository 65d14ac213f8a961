#include "sensors/FileChoice.h"

#include <algorithm>

QString chooserFolder(const QString &fieldText, const QString &programFolder)
{
    const qsizetype last = std::max(fieldText.lastIndexOf(QLatin1Char('\\')), fieldText.lastIndexOf(QLatin1Char('/')));
    if (last < 0)
        return programFolder;
    return fieldText.left(last + 1);
}
