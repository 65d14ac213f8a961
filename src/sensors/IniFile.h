#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <vector>

// An INI text held in memory: sections of "key=value" lines, names matched without regard to
// letter case, kept in the order they were first read or written.
//
// Text on disk is Windows-1251 (what the file has always held); when a value is outside that
// code page the whole file is written as UTF-8 with a byte order mark instead. Reading accepts
// Windows-1251, UTF-8 with or without the mark, UTF-16 with its mark, and lines ending in LF
// or CR LF.
//
// Reading never fails: a missing file, section or key, or a value that does not parse as the
// asked type, gives the caller's default. Where a hand-edited file holds a section or key twice,
// the first one counts (and is the one a write replaces).
class IniFile
{
public:
    // The encoding toBytes() chose, or fromBytes() recognised.
    enum class Encoding { Windows1251, Utf8, Utf8Bom };

    IniFile() = default;

    // Far beyond any real configuration: a larger file is a mistake, not read at all.
    static constexpr qint64 MaxFileBytes = 64 * 1024 * 1024;

    // The file's contents; a missing or unreadable file gives an empty IniFile. Only a regular
    // file is read, opened so that a FIFO or a device cannot block.
    // problem: set to the reason when the file exists but cannot be read (not a regular file,
    // larger than MaxFileBytes, a read error), or holds NUL bytes without a UTF-16 mark (not a
    // text file); cleared otherwise.
    static IniFile fromFile(const QString &path, QString *problem = nullptr);
    // Parses bytes of any content (binary garbage gives whatever lines parse).
    static IniFile fromBytes(const QByteArray &bytes);

    // The number readers set *unreadable (when given) to whether the key is there but its
    // value is no number of the asked type (it then gives def); a missing key is not.
    // Integer: decimal, signed 32 bits; "0x"/"0X" after an optional sign reads hexadecimal
    // (up to 32 bits, so 0xFFFFFFFF is -1). Anything else gives def.
    int readInteger(const QString &section, const QString &key, int def, bool *unreadable = nullptr) const;
    // Any integer other than 0 is true; a non-integer gives def.
    bool readBool(const QString &section, const QString &key, bool def, bool *unreadable = nullptr) const;
    // Decimal number with the current decimal separator or a point, whatever the separator of
    // the machine that wrote it (numbertext::parseFloat); else def.
    double readFloat(const QString &section, const QString &key, double def, bool *unreadable = nullptr) const;
    // The value as it stands (blanks around it dropped); def only when the key is missing.
    QString readString(const QString &section, const QString &key, const QString &def) const;

    bool hasSection(const QString &section) const;
    bool hasKey(const QString &section, const QString &key) const;
    QStringList sections() const;
    QStringList keys(const QString &section) const;

    // Replaces the value of an existing key in place, else appends the key to its section
    // (a new section goes at the end). Line breaks inside a value become blanks, so a value
    // can never split into lines of its own.
    void writeString(const QString &section, const QString &key, const QString &value);
    void writeInteger(const QString &section, const QString &key, int value);
    // "1" or "0".
    void writeBool(const QString &section, const QString &key, bool value);
    // General form, up to 15 significant digits, current decimal separator.
    void writeFloat(const QString &section, const QString &key, double value);

    // The file text: "[Section]" and "key=value" lines ending in LF, Windows-1251 when every
    // character fits (and the bytes cannot be mistaken for UTF-8), else UTF-8 with a BOM.
    QByteArray toBytes(Encoding *used = nullptr) const;

    // Writes toBytes() atomically: a temporary file beside path, flushed to disk, renamed over
    // path. False on any failure, in which case path is untouched and no temporary remains.
    // The file keeps the permissions of the one it replaces (0644 for a new one); ownerOnly
    // takes away every right of group and others.
    bool save(const QString &path, bool ownerOnly = false) const;

    // The encoding the last fromBytes()/fromFile() recognised (Windows1251 for plain ASCII).
    Encoding sourceEncoding() const { return m_sourceEncoding; }

private:
    struct Entry
    {
        QString key;
        QString value;
    };
    struct Section
    {
        QString name;
        std::vector<Entry> entries;
        QHash<QString, qsizetype> index; // folded key -> first entry
    };

    const Entry *find(const QString &section, const QString &key) const;
    Section &sectionFor(const QString &section);

    std::vector<Section> m_sections;
    QHash<QString, qsizetype> m_sectionIndex; // folded name -> first section
    Encoding m_sourceEncoding = Encoding::Windows1251;
};
