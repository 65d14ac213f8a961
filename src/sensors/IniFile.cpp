#include "sensors/IniFile.h"

#include "base/Formats.h"
#include "base/NumberText.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <algorithm>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char Utf8Bom[] = "\xEF\xBB\xBF";
const char Utf16LeBom[] = "\xFF\xFE";
const char Utf16BeBom[] = "\xFE\xFF";

QString fold(const QString &name)
{
    return name.toCaseFolded();
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(const QByteArray &bytes, bool &nonAscii)
{
    nonAscii = false;
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.constData());
    const auto *end = p + bytes.size();
    while (p < end) {
        const unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        nonAscii = true;
        int extra = 0;
        std::uint32_t cp = 0;
        std::uint32_t min = 0;
        if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
            cp = c & 0x1Fu;
            min = 0x80;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            cp = c & 0x0Fu;
            min = 0x800;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            cp = c & 0x07u;
            min = 0x10000;
        } else {
            return false;
        }
        if (end - p <= extra)
            return false;
        for (int i = 1; i <= extra; ++i) {
            const unsigned char cc = p[i];
            if ((cc & 0xC0u) != 0x80u)
                return false;
            cp = (cp << 6) | (cc & 0x3Fu);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        p += extra + 1;
    }
    return true;
}

class Iconv
{
public:
    Iconv(const char *to, const char *from) : m_cd(iconv_open(to, from)) {}
    ~Iconv()
    {
        if (ok())
            iconv_close(m_cd);
    }
    Iconv(const Iconv &) = delete;
    Iconv &operator=(const Iconv &) = delete;
    bool ok() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return m_cd; }

private:
    iconv_t m_cd;
};

// Windows-1251 to text. The one byte the code page leaves undefined (and anything iconv
// refuses) becomes U+FFFD, so a binary file still reads in one linear pass.
QString decode1251(const QByteArray &bytes)
{
    Iconv cd("UTF-8", "CP1251");
    if (!cd.ok())
        return QString::fromLatin1(bytes);
    QByteArray out;
    out.resize(bytes.size() * 3 + 16);
    char *in = const_cast<char *>(bytes.constData());
    size_t inLeft = static_cast<size_t>(bytes.size());
    char *outPtr = out.data();
    size_t outLeft = static_cast<size_t>(out.size());
    while (inLeft > 0) {
        if (iconv(cd.get(), &in, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1))
            break;
        if (errno == EILSEQ || errno == EINVAL) {
            // U+FFFD in UTF-8; the output buffer has room for 3 bytes per input byte.
            std::memcpy(outPtr, "\xEF\xBF\xBD", 3);
            outPtr += 3;
            outLeft -= 3;
            ++in;
            --inLeft;
            continue;
        }
        break; // E2BIG cannot happen with 3 bytes per byte; stop rather than loop
    }
    out.truncate(outPtr - out.data());
    return QString::fromUtf8(out);
}

// Text to Windows-1251; false when some character has no place in the code page.
bool encode1251(const QString &text, QByteArray &result)
{
    Iconv cd("CP1251", "UTF-8");
    if (!cd.ok())
        return false;
    QByteArray utf8 = text.toUtf8();
    result.resize(utf8.size() + 16);
    char *in = utf8.data();
    size_t inLeft = static_cast<size_t>(utf8.size());
    char *outPtr = result.data();
    size_t outLeft = static_cast<size_t>(result.size());
    if (iconv(cd.get(), &in, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1))
        return false;
    if (iconv(cd.get(), nullptr, nullptr, &outPtr, &outLeft) == static_cast<size_t>(-1))
        return false;
    result.truncate(outPtr - result.data());
    return true;
}

bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

QStringView trimmed(QStringView s)
{
    qsizetype b = 0;
    qsizetype e = s.size();
    while (b < e && isBlank(s[b]))
        ++b;
    while (e > b && isBlank(s[e - 1]))
        --e;
    return s.mid(b, e - b);
}

bool hexDigit(QChar c, unsigned &v)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        v = u - '0';
    else if (u >= 'a' && u <= 'f')
        v = u - 'a' + 10;
    else if (u >= 'A' && u <= 'F')
        v = u - 'A' + 10;
    else
        return false;
    return true;
}

bool parseInteger(QStringView s, int &value)
{
    s = trimmed(s);
    bool negative = false;
    if (!s.isEmpty() && (s[0] == QLatin1Char('-') || s[0] == QLatin1Char('+'))) {
        negative = s[0] == QLatin1Char('-');
        s = s.mid(1);
    }
    if (s.isEmpty())
        return false;
    if (s.size() > 2 && s[0] == QLatin1Char('0') && (s[1] == QLatin1Char('x') || s[1] == QLatin1Char('X'))) {
        s = s.mid(2);
        std::uint64_t v = 0;
        for (const QChar c : s) {
            unsigned d = 0;
            if (!hexDigit(c, d))
                return false;
            v = v * 16 + d;
            if (v > 0xFFFFFFFFull)
                return false;
        }
        // Hexadecimal spells the 32 bits: 0xFFFFFFFF is -1, as a colour value would be.
        auto bits = static_cast<std::uint32_t>(v);
        if (negative)
            bits = 0u - bits;
        value = static_cast<std::int32_t>(bits);
        return true;
    }
    std::int64_t v = 0;
    for (const QChar c : s) {
        const char16_t u = c.unicode();
        if (u < '0' || u > '9')
            return false;
        v = v * 10 + (u - '0');
        if (v > 2147483648LL)
            return false;
    }
    if (negative)
        v = -v;
    if (v > 2147483647LL)
        return false;
    value = static_cast<int>(v);
    return true;
}

} // namespace

IniFile IniFile::fromFile(const QString &path, QString *problem)
{
    if (problem)
        problem->clear();
    const auto fail = [problem](const QString &why) {
        if (problem)
            *problem = why;
        return IniFile();
    };
    const auto failErrno = [&fail](int error) { return fail(QString::fromLocal8Bit(std::strerror(error))); };
    const QByteArray name = QFile::encodeName(path);
    // O_NONBLOCK: the open of a FIFO without a writer, or of a device, returns at once; the
    // descriptor is then asked what it is before anything is read from it.
    int fd = -1;
    do {
        fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        // No file (or a link to where the save will put it): every default.
        if (errno == ENOENT)
            return IniFile();
        return failErrno(errno);
    }
    struct FdCloser
    {
        int fd;
        ~FdCloser() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return failErrno(errno);
    if (!S_ISREG(st.st_mode))
        return fail(QStringLiteral("не обычный файл"));
    // Read whole or not at all: a part of a file would be saved back as the whole of it.
    if (st.st_size > MaxFileBytes)
        return fail(QStringLiteral("больше %1 МиБ").arg(MaxFileBytes / (1024 * 1024)));
    QByteArray bytes;
    bytes.resize(static_cast<qsizetype>(st.st_size) + 1);
    qsizetype have = 0;
    for (;;) {
        if (have == bytes.size()) {
            // The file grew while it was read.
            if (bytes.size() > MaxFileBytes)
                return fail(QStringLiteral("больше %1 МиБ").arg(MaxFileBytes / (1024 * 1024)));
            bytes.resize(std::min<qsizetype>(bytes.size() * 2, MaxFileBytes + 1));
        }
        const ssize_t n = ::read(fd, bytes.data() + have, static_cast<size_t>(bytes.size() - have));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return failErrno(errno);
        }
        if (n == 0)
            break;
        have += n;
    }
    bytes.truncate(have);
    if (problem && !bytes.startsWith(Utf16LeBom) && !bytes.startsWith(Utf16BeBom) && bytes.contains('\0'))
        *problem = QStringLiteral("not a text file");
    return fromBytes(bytes);
}

IniFile IniFile::fromBytes(const QByteArray &bytes)
{
    IniFile ini;
    QString text;
    if (bytes.startsWith(Utf8Bom)) {
        text = QString::fromUtf8(bytes.constData() + 3, bytes.size() - 3);
        ini.m_sourceEncoding = Encoding::Utf8Bom;
    } else if (bytes.startsWith(Utf16LeBom) || bytes.startsWith(Utf16BeBom)) {
        // What a Windows editor saves as "Unicode": read like UTF-8, written back as the
        // program writes every file.
        QStringDecoder decoder(bytes.startsWith(Utf16LeBom) ? QStringConverter::Utf16LE : QStringConverter::Utf16BE);
        text = decoder.decode(QByteArrayView(bytes.constData() + 2, bytes.size() - 2));
        ini.m_sourceEncoding = Encoding::Utf8Bom;
    } else {
        bool nonAscii = false;
        if (isValidUtf8(bytes, nonAscii) && nonAscii) {
            text = QString::fromUtf8(bytes);
            ini.m_sourceEncoding = Encoding::Utf8;
        } else {
            text = decode1251(bytes);
        }
    }

    Section *current = nullptr;
    const QStringView all(text);
    qsizetype pos = 0;
    while (pos < all.size()) {
        // CR, LF and CR LF all end a line: a stray CR (a file converted twice, an old editor)
        // never stays inside a value, which a save could not write back as it was read.
        qsizetype nl = pos;
        while (nl < all.size() && all[nl] != QLatin1Char('\n') && all[nl] != QLatin1Char('\r'))
            ++nl;
        QStringView line = all.mid(pos, nl - pos);
        pos = nl + 1;
        // Blanks before a key or a header go; a value is the text after "=" up to the end
        // of the line, blanks and all, as a save writes it back.
        while (!line.isEmpty() && isBlank(line.front()))
            line = line.mid(1);
        if (line.isEmpty() || line[0] == QLatin1Char(';'))
            continue;
        if (line[0] == QLatin1Char('[')) {
            const qsizetype close = line.indexOf(QLatin1Char(']'));
            if (close < 0) {
                current = nullptr; // a broken header: its keys belong to no section
                continue;
            }
            // A section met again is skipped whole: a reader that looks for the first header
            // of that name never sees its keys.
            const QString name = trimmed(line.mid(1, close - 1)).toString();
            current = ini.hasSection(name) ? nullptr : &ini.sectionFor(name);
            continue;
        }
        if (!current)
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0)
            continue;
        const QString key = trimmed(line.left(eq)).toString();
        if (key.isEmpty())
            continue;
        const QString folded = fold(key);
        if (current->index.contains(folded))
            continue; // the first occurrence counts
        current->index.insert(folded, static_cast<qsizetype>(current->entries.size()));
        current->entries.push_back({key, line.mid(eq + 1).toString()});
    }
    return ini;
}

IniFile::Section &IniFile::sectionFor(const QString &section)
{
    const QString folded = fold(section);
    const auto it = m_sectionIndex.constFind(folded);
    if (it != m_sectionIndex.constEnd())
        return m_sections[static_cast<size_t>(it.value())];
    m_sectionIndex.insert(folded, static_cast<qsizetype>(m_sections.size()));
    m_sections.push_back(Section{section, {}, {}});
    return m_sections.back();
}

const IniFile::Entry *IniFile::find(const QString &section, const QString &key) const
{
    const auto s = m_sectionIndex.constFind(fold(section));
    if (s == m_sectionIndex.constEnd())
        return nullptr;
    const Section &sec = m_sections[static_cast<size_t>(s.value())];
    const auto k = sec.index.constFind(fold(key));
    if (k == sec.index.constEnd())
        return nullptr;
    return &sec.entries[static_cast<size_t>(k.value())];
}

int IniFile::readInteger(const QString &section, const QString &key, int def, bool *unreadable) const
{
    const Entry *e = find(section, key);
    int v = 0;
    const bool ok = e && parseInteger(e->value, v);
    if (unreadable)
        *unreadable = e && !ok;
    return ok ? v : def;
}

bool IniFile::readBool(const QString &section, const QString &key, bool def, bool *unreadable) const
{
    return readInteger(section, key, def ? 1 : 0, unreadable) != 0;
}

double IniFile::readFloat(const QString &section, const QString &key, double def, bool *unreadable) const
{
    const Entry *e = find(section, key);
    double v = 0;
    bool ok = e && numbertext::parseFloat(e->value, v);
    // A file from a machine whose separator is the point (or written by hand that way); the
    // texts have no digit grouping, so a point can only be the decimal one.
    const QChar separator = Formats::current().decimalSeparator;
    if (e && !ok && separator != QLatin1Char('.') && !e->value.contains(separator)) {
        QString local = e->value;
        local.replace(QLatin1Char('.'), separator);
        ok = numbertext::parseFloat(local, v);
    }
    if (unreadable)
        *unreadable = e && !ok;
    return ok ? v : def;
}

QString IniFile::readString(const QString &section, const QString &key, const QString &def) const
{
    const Entry *e = find(section, key);
    return e ? e->value : def;
}

bool IniFile::hasSection(const QString &section) const
{
    return m_sectionIndex.contains(fold(section));
}

bool IniFile::hasKey(const QString &section, const QString &key) const
{
    return find(section, key) != nullptr;
}

QStringList IniFile::sections() const
{
    QStringList names;
    for (const Section &s : m_sections)
        names << s.name;
    return names;
}

QStringList IniFile::keys(const QString &section) const
{
    QStringList names;
    const auto s = m_sectionIndex.constFind(fold(section));
    if (s != m_sectionIndex.constEnd()) {
        for (const Entry &e : m_sections[static_cast<size_t>(s.value())].entries)
            names << e.key;
    }
    return names;
}

void IniFile::writeString(const QString &section, const QString &key, const QString &value)
{
    QString clean = value;
    clean.replace(QLatin1Char('\r'), QLatin1Char(' '));
    clean.replace(QLatin1Char('\n'), QLatin1Char(' '));
    Section &sec = sectionFor(section);
    const QString folded = fold(key);
    const auto k = sec.index.constFind(folded);
    if (k != sec.index.constEnd()) {
        sec.entries[static_cast<size_t>(k.value())].value = clean;
        return;
    }
    sec.index.insert(folded, static_cast<qsizetype>(sec.entries.size()));
    sec.entries.push_back({key, clean});
}

void IniFile::writeInteger(const QString &section, const QString &key, int value)
{
    writeString(section, key, QString::number(value));
}

void IniFile::writeBool(const QString &section, const QString &key, bool value)
{
    writeString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

void IniFile::writeFloat(const QString &section, const QString &key, double value)
{
    QString text = numbertext::general(value);
    double back = 0;
    // Within 15 digits of the largest double the rounding goes past it, and the text would
    // read back as no number at all (the key's default): the largest 15-digit value instead.
    if (std::isfinite(value) && !numbertext::parseFloat(text, back))
        text = numbertext::general(std::copysign(1.79769313486231e308, value));
    writeString(section, key, text);
}

QByteArray IniFile::toBytes(Encoding *used) const
{
    QString text;
    for (const Section &s : m_sections) {
        text += QLatin1Char('[') + s.name + QLatin1String("]\n");
        for (const Entry &e : s.entries)
            text += e.key + QLatin1Char('=') + e.value + QLatin1Char('\n');
    }
    QByteArray bytes;
    if (encode1251(text, bytes)) {
        // Windows-1251 bytes that happen to be valid UTF-8 would read back as UTF-8: such a
        // file goes out as UTF-8 with a mark, so every file reads back as it was written.
        bool nonAscii = false;
        if (!isValidUtf8(bytes, nonAscii) || !nonAscii) {
            if (used)
                *used = Encoding::Windows1251;
            return bytes;
        }
    }
    if (used)
        *used = Encoding::Utf8Bom;
    return QByteArray(Utf8Bom) + text.toUtf8();
}

bool IniFile::save(const QString &path, bool ownerOnly) const
{
    const QByteArray data = toBytes();

    // Replace the file a symlink points at, not the link.
    QString target = path;
    const QFileInfo info(path);
    if (info.isSymLink())
        target = info.symLinkTarget();
    const QFileInfo targetInfo(target);
    const QByteArray dir = QFile::encodeName(targetInfo.absolutePath());
    const QByteArray finalName = QFile::encodeName(targetInfo.absoluteFilePath());
    QByteArray tmpName = dir + "/." + QFile::encodeName(targetInfo.fileName()) + ".XXXXXX";

    const int fd = mkostemp(tmpName.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = true;
    struct stat st {};
    mode_t mode = ::stat(finalName.constData(), &st) == 0 && S_ISREG(st.st_mode)
        ? (st.st_mode & 07777) : 0644;
    if (ownerOnly)
        mode &= ~static_cast<mode_t>(077);
    if (::fchmod(fd, mode) != 0)
        ok = false;
    const char *p = data.constData();
    qsizetype left = data.size();
    while (ok && left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ok = false;
            break;
        }
        p += n;
        left -= n;
    }
    if (ok && ::fsync(fd) != 0)
        ok = false;
    if (::close(fd) != 0)
        ok = false;
    if (ok && ::rename(tmpName.constData(), finalName.constData()) != 0)
        ok = false;
    if (!ok) {
        ::unlink(tmpName.constData());
        return false;
    }
    // Make the rename itself durable; the new file is in place whatever this reports.
    const int dfd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return true;
}
