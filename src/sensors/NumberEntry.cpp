#include "sensors/NumberEntry.h"

#include "base/Formats.h"
#include "base/KalvexError.h"
#include "base/NumberText.h"

#include <limits>

namespace numberentry {
namespace {

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

const QChar Minus = QLatin1Char('-');

} // namespace

std::optional<QChar> decimalKey(QChar typed, const QString &text)
{
    const QChar separator = Formats::current().decimalSeparator;
    // Both marks mean the decimal separator: a user types the one the keypad gives.
    if (typed == QLatin1Char('.') || typed == QLatin1Char(','))
        typed = separator;
    if (typed == Backspace || isDigit(typed))
        return typed;
    if (typed == separator)
        return text.contains(separator) ? std::nullopt : std::optional<QChar>(typed);
    if (typed == Minus)
        return text.contains(Minus) ? std::nullopt : std::optional<QChar>(typed);
    return std::nullopt;
}

bool signedIntegerKey(QChar typed, const QString &text)
{
    if (typed == Minus)
        return !text.contains(Minus);
    return digitKey(typed);
}

bool digitKey(QChar typed)
{
    return typed == Backspace || isDigit(typed);
}

QString normalisedDecimal(const QString &text)
{
    double value = 0;
    if (!numbertext::parseFloat(text, value))
        return QStringLiteral("0");
    return numbertext::general(value);
}

double StrToFloat(const QString &text)
{
    double value = 0;
    if (!numbertext::parseFloat(text, value))
        throw KalvexError(QStringLiteral("'%1' не является допустимым числом с плавающей точкой").arg(text));
    return value;
}

int StrToIntDef0(const QString &text)
{
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text.at(i) == Minus || text.at(i) == QLatin1Char('+'))) {
        negative = text.at(i) == Minus;
        ++i;
    }
    if (i == text.size())
        return 0;
    long long value = 0;
    for (; i < text.size(); ++i) {
        if (!isDigit(text.at(i)))
            return 0;
        value = value * 10 + (text.at(i).unicode() - u'0');
        if (value > static_cast<long long>(std::numeric_limits<int>::max()) + 1)
            return 0;
    }
    if (negative)
        value = -value;
    if (value > std::numeric_limits<int>::max())
        return 0;
    return static_cast<int>(value);
}

int wholeSeconds(int milliseconds)
{
    // Integer arithmetic: no binary fraction can make 2500 ms round the wrong way.
    const long long ms = milliseconds;
    long long seconds = ms / 1000;
    long long rest = ms % 1000;
    if (rest < 0) {
        rest += 1000;
        --seconds;
    }
    if (rest > 500 || (rest == 500 && seconds % 2 != 0))
        ++seconds;
    return static_cast<int>(seconds);
}

} // namespace numberentry
