#include "base/Formats.h"

#include <QRegularExpression>

namespace {
Formats &currentFormats()
{
    static Formats formats = Formats::fromLocale(QLocale::system());
    return formats;
}
} // namespace

Formats Formats::fromLocale(const QLocale &locale)
{
    Formats f;
    const QString sep = locale.decimalPoint();
    f.decimalSeparator = sep.isEmpty() ? QLatin1Char('.') : sep.at(0);
    f.shortDate = locale.dateFormat(QLocale::ShortFormat);
    QString time = locale.timeFormat(QLocale::LongFormat);
    // Qt's long time carries the zone ("t"); the program's texts never do.
    time.remove(QRegularExpression(QStringLiteral("\\s*t+\\s*")));
    f.longTime = time.trimmed();
    return f;
}

Formats Formats::russian()
{
    Formats f;
    f.decimalSeparator = QLatin1Char(',');
    f.shortDate = QStringLiteral("dd.MM.yyyy");
    f.longTime = QStringLiteral("H:mm:ss");
    return f;
}

const Formats &Formats::current()
{
    return currentFormats();
}

void Formats::setCurrent(const Formats &formats)
{
    currentFormats() = formats;
}
