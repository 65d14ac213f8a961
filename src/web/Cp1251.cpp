#include "web/Cp1251.h"

#include <QHash>

#include <iconv.h>

#include <algorithm>
#include <array>

namespace {

// The code page's 256 characters, asked of iconv once: no hand-written table.
QHash<char16_t, char> buildTable()
{
    QHash<char16_t, char> table;
    iconv_t cd = iconv_open("UTF-16LE", "WINDOWS-1251");
    if (cd == reinterpret_cast<iconv_t>(-1))
        qFatal("Kalvex: iconv knows no WINDOWS-1251");
    for (int byte = 0x80; byte < 0x100; ++byte) {
        char in = static_cast<char>(byte);
        std::array<char, 4> out{};
        char *inPtr = &in;
        char *outPtr = out.data();
        size_t inLeft = 1;
        size_t outLeft = out.size();
        // The byte the code page leaves undefined fails here and stays out of the table.
        if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1) && outLeft == 2) {
            const auto unit = static_cast<char16_t>(static_cast<unsigned char>(out[0])
                                                    | (static_cast<unsigned char>(out[1]) << 8));
            table.insert(unit, in);
        }
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    iconv_close(cd);
    return table;
}

const QHash<char16_t, char> &table()
{
    static const QHash<char16_t, char> map = buildTable();
    return map;
}

} // namespace

QByteArray cp1251::fromText(const QString &text)
{
    // Most texts (numbers, serials, times) are ASCII, which the code page keeps as it is.
    const bool ascii = std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x80; });
    if (ascii)
        return text.toLatin1();
    const QHash<char16_t, char> &map = table();
    QByteArray bytes;
    bytes.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text.at(i).unicode();
        if (unit < 0x80) {
            bytes.append(static_cast<char>(unit));
            continue;
        }
        // A surrogate pair is one character outside the code page: one "?".
        if (QChar::isHighSurrogate(unit) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i;
        bytes.append(map.value(unit, '?'));
    }
    return bytes;
}
