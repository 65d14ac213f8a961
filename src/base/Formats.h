#pragma once

#include <QChar>
#include <QLocale>
#include <QString>

// The system's number and date conventions, reduced to the Windows-like patterns the program
// writes: a decimal separator, a short date pattern and a long time pattern (QDateTime syntax).
struct Formats
{
    QChar decimalSeparator = QLatin1Char('.');
    QString shortDate = QStringLiteral("yyyy-MM-dd");
    QString longTime = QStringLiteral("HH:mm:ss");

    // The conventions of a locale (its time zone part dropped from the long time pattern).
    static Formats fromLocale(const QLocale &locale);
    // The Russian conventions: ",", "dd.MM.yyyy", "H:mm:ss".
    static Formats russian();

    // The conventions in effect for the whole program: the system locale's unless set.
    static const Formats &current();
    static void setCurrent(const Formats &formats);
};
