#include "base/NumberText.h"

#include "base/Formats.h"

#include <QByteArray>

#include <charconv>
#include <cmath>
#include <system_error>

namespace numbertext {
namespace {

QString withSeparator(QString text)
{
    const QChar sep = Formats::current().decimalSeparator;
    if (sep != QLatin1Char('.'))
        text.replace(QLatin1Char('.'), sep);
    return text;
}

// Rounds to `decimals` places, ties away from zero, judged on the value's 15 significant
// decimal digits (so 0.15, stored as 0.1499999..., still rounds up, as a user expects).
QString fixed(double value, int decimals)
{
    if (!std::isfinite(value))
        return withSeparator(QString::number(value));
    // Never printf: it writes the C library's decimal separator, which Qt sets from the
    // environment (a comma under ru_RU.UTF-8).
    char digits[64];
    const auto written = std::to_chars(digits, digits + sizeof digits - 1, std::fabs(value),
                                       std::chars_format::scientific, 14);
    *written.ptr = '\0';
    // digits: d.dddddddddddddde[+-]xx
    QByteArray mantissa;
    mantissa.append(digits[0]);
    mantissa.append(digits + 2, 14);
    const QByteArray exponentText(digits + (QByteArray(digits).indexOf('e') + 1));
    const int exponent = exponentText.toInt();
    // Position of the decimal point within mantissa: exponent + 1 digits before it.
    int pointPos = exponent + 1;
    // Pad so that there are enough digits before and after the point.
    while (pointPos <= 0) {
        mantissa.prepend('0');
        ++pointPos;
    }
    while (mantissa.size() < pointPos + decimals + 1)
        mantissa.append('0');
    const int keep = pointPos + decimals;
    const bool roundUp = mantissa.at(keep) >= '5';
    QByteArray kept = mantissa.left(keep);
    if (roundUp) {
        int i = kept.size() - 1;
        while (i >= 0 && kept[i] == '9') {
            kept[i] = '0';
            --i;
        }
        if (i < 0) {
            kept.prepend('1');
            ++pointPos;
        } else {
            kept[i] = static_cast<char>(kept[i] + 1);
        }
    }
    QByteArray intPart = kept.left(pointPos);
    QByteArray fracPart = kept.mid(pointPos);
    while (!fracPart.isEmpty() && fracPart.endsWith('0'))
        fracPart.chop(1);
    while (intPart.size() > 1 && intPart.startsWith('0'))
        intPart.remove(0, 1);
    if (intPart.isEmpty())
        intPart = "0";
    QByteArray result = intPart;
    if (!fracPart.isEmpty())
        result += '.' + fracPart;
    const bool zero = result == "0";
    if (value < 0 && !zero)
        result.prepend('-');
    return withSeparator(QString::fromLatin1(result));
}

} // namespace

QString oneDecimal(double value)
{
    return fixed(value, 1);
}

QString whole(double value)
{
    return fixed(value, 0);
}

QString general(double value)
{
    if (!std::isfinite(value))
        return withSeparator(QString::number(value));
    if (value == 0)
        return QStringLiteral("0");
    char buf[64];
    const auto written = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 15);
    QString text = QString::fromLatin1(buf, written.ptr - buf);
    const qsizetype e = text.indexOf(QLatin1Char('e'));
    if (e >= 0) {
        // C writes 1.5e-07; the program writes 1.5E-7 and 1E20.
        QString mant = text.left(e);
        const int exp = text.mid(e + 1).toInt();
        text = mant + QLatin1Char('E') + (exp < 0 ? QStringLiteral("-") : QString()) + QString::number(std::abs(exp));
    }
    return withSeparator(text);
}

bool parseFloat(const QString &text, double &value)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return false;
    const QChar sep = Formats::current().decimalSeparator;
    QByteArray ascii;
    ascii.reserve(t.size());
    for (const QChar c : t) {
        if (c == sep) {
            ascii.append('.');
        } else if ((c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('+')
                   || c == QLatin1Char('-') || c == QLatin1Char('e') || c == QLatin1Char('E')) {
            ascii.append(static_cast<char>(c.unicode()));
        } else {
            return false;
        }
    }
    // from_chars reads the C locale's form whatever the process locale is; it takes no
    // leading plus.
    const char *first = ascii.constData();
    const char *last = first + ascii.size();
    if (first != last && *first == '+' && last - first > 1 && first[1] != '-' && first[1] != '+')
        ++first;
    double v = 0;
    const auto [end, error] = std::from_chars(first, last, v);
    if (error != std::errc() || end != last || !std::isfinite(v))
        return false;
    value = v;
    return true;
}

} // namespace numbertext
