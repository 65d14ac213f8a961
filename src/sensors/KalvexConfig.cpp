#include "sensors/KalvexConfig.h"

#include "sensors/IniFile.h"

#include <QRandomGenerator>

#include <algorithm>

namespace {

const QString General = QStringLiteral("General");
const QString Items = QStringLiteral("Items");
const QString Bus = QStringLiteral("Bus");

QString itemKey(const char *name, int k)
{
    return QLatin1String(name) + QString::number(k);
}

QString signKey(int k, int n, const char *field)
{
    return QStringLiteral("Item%1Sig%2").arg(k).arg(n) + QLatin1String(field);
}

TColor color(int stored)
{
    return static_cast<TColor>(stored);
}

int stored(TColor c)
{
    return static_cast<int>(c);
}

} // namespace

namespace {

// The highest k with an "ItemSN" k key in the file, or -1: a sensor the file holds is never
// left out because "ItemCount" says fewer.
int highestStoredSensor(const IniFile &ini)
{
    int highest = -1;
    for (const QString &key : ini.keys(Items)) {
        if (key.size() <= 6 || key.left(6).compare(QLatin1String("ItemSN"), Qt::CaseInsensitive) != 0)
            continue;
        bool ok = false;
        const int k = key.mid(6).toInt(&ok);
        if (ok && k >= 0 && QString::number(k) == key.mid(6))
            highest = std::max(highest, k);
    }
    return highest;
}

} // namespace

namespace {

// Reads the keys of one file, noting every value that is there but not of its type and every
// text held to MaxTextLength, for one log line each.
class KeyReader
{
public:
    explicit KeyReader(const IniFile &ini) : m_ini(ini) {}

    int integer(const QString &section, const QString &key, int def)
    {
        bool bad = false;
        const int v = m_ini.readInteger(section, key, def, &bad);
        note(bad, section, key);
        return v;
    }
    bool boolean(const QString &section, const QString &key, bool def)
    {
        bool bad = false;
        const bool v = m_ini.readBool(section, key, def, &bad);
        note(bad, section, key);
        return v;
    }
    double real(const QString &section, const QString &key, double def)
    {
        bool bad = false;
        const double v = m_ini.readFloat(section, key, def, &bad);
        note(bad, section, key);
        return v;
    }
    QString text(const QString &section, const QString &key, const QString &def)
    {
        QString v = m_ini.readString(section, key, def);
        if (v.size() > MaxTextLength) {
            m_cut << QStringLiteral("%1 (%2)").arg(key).arg(v.size());
            v.truncate(MaxTextLength);
        }
        return v;
    }

    // The log lines of what was noted, and whether the file holds anything a save would lose.
    QStringList lines() const
    {
        QStringList out;
        if (!m_unreadable.isEmpty())
            out << QStringLiteral("значения не прочитаны, взяты значения по умолчанию: ") + listed(m_unreadable)
                    + QLatin1Char('.');
        if (!m_cut.isEmpty())
            out << QStringLiteral("тексты длиннее %1 символов сокращены: ").arg(MaxTextLength) + listed(m_cut)
                    + QLatin1Char('.');
        return out;
    }
    bool lossy() const { return !m_unreadable.isEmpty() || !m_cut.isEmpty(); }

private:
    void note(bool bad, const QString &section, const QString &key)
    {
        if (!bad)
            return;
        QString value = m_ini.readString(section, key, QString());
        if (value.size() > 40)
            value = value.left(40) + QStringLiteral("…");
        m_unreadable << key + QStringLiteral("=«") + value + QStringLiteral("»");
    }
    // A file full of garbage gives one line of bounded length.
    static QString listed(const QStringList &items)
    {
        constexpr int shown = 20;
        QString text = QStringList(items.mid(0, shown)).join(QStringLiteral(", "));
        if (items.size() > shown)
            text += QStringLiteral(" и ещё %1").arg(items.size() - shown);
        return text;
    }

    const IniFile &m_ini;
    QStringList m_unreadable;
    QStringList m_cut;
};

} // namespace

KalvexConfig readConfig(const IniFile &ini, const RandomIndex &random, QStringList *holds, bool *partial)
{
    const auto hold = [holds](const QString &text) {
        if (holds)
            *holds << text;
    };
    KalvexConfig c;
    const KalvexConfig d;
    KeyReader r(ini);
    c.GneralPanel = r.boolean(General, QStringLiteral("GneralPanel"), d.GneralPanel);
    c.bkFileName = r.text(General, QStringLiteral("bkFileName"), d.bkFileName);
    c.TimeOut = r.integer(General, QStringLiteral("TimeOut"), d.TimeOut);
    if (c.TimeOut <= 0)
        c.TimeOut = d.TimeOut;
    c.COMPort = r.integer(General, QStringLiteral("COMPort"), d.COMPort);
    c.AutoNab = r.boolean(General, QStringLiteral("AutoNab"), d.AutoNab);
    c.StartMin = r.boolean(General, QStringLiteral("StartMin"), d.StartMin);
    c.WinStartRun = r.boolean(General, QStringLiteral("WinStartRun"), d.WinStartRun);
    const int charMaxCount = r.integer(General, QStringLiteral("CharMaxCount"), d.CharMaxCount);
    c.CharMaxCount = std::clamp(charMaxCount, 0, MaxCharMaxCount);
    if (c.CharMaxCount != charMaxCount)
        hold(QStringLiteral("CharMaxCount=%1 ограничено до %2.").arg(charMaxCount).arg(c.CharMaxCount));
    c.CharMinMaxAuto = r.boolean(General, QStringLiteral("CharMinMaxAuto"), d.CharMinMaxAuto);
    c.CharMinY = r.real(General, QStringLiteral("CharMinY"), d.CharMinY);
    c.CharMaxY = r.real(General, QStringLiteral("CharMaxY"), d.CharMaxY);

    c.SnsHeight = r.integer(General, QStringLiteral("SnsHeight"), d.SnsHeight);
    if (c.SnsHeight <= 0)
        c.SnsHeight = 200;
    c.SHourHeight = r.integer(General, QStringLiteral("SHourHeight"), d.SHourHeight);
    if (c.SHourHeight <= 0)
        c.SHourHeight = 200;
    c.LogHeight = std::max(0, r.integer(General, QStringLiteral("LogHeight"), d.LogHeight));
    c.P3Width = std::max(0, r.integer(General, QStringLiteral("P3Width"), d.P3Width));

    if (!c.CharMinMaxAuto && c.CharMinY > c.CharMaxY)
        c.CharMinY = c.CharMaxY - 10;

    c.HTTPPort = r.integer(General, QStringLiteral("HTTPPort"), d.HTTPPort);
    c.HTTPActive = r.boolean(General, QStringLiteral("HTTPActive"), d.HTTPActive);
    c.BulkConvert = r.boolean(Bus, QStringLiteral("BulkConvert"), d.BulkConvert);
    // Anything but "kernel" is the serial line, the bus the program always had.
    c.BusKind = r.text(Bus, QStringLiteral("Kind"), d.BusKind).trimmed().compare(QLatin1String("kernel"), Qt::CaseInsensitive) == 0
        ? QStringLiteral("kernel")
        : d.BusKind;
    c.KernelPath = r.text(Bus, QStringLiteral("KernelPath"), d.KernelPath);

    const int itemCount = r.integer(Items, QStringLiteral("ItemCount"), 0);
    const int inFile = highestStoredSensor(ini) + 1;
    int count = std::max(std::min(itemCount, MaxItemCount), std::min(inFile, MaxStoredItems));
    if (count != std::max(itemCount, 0))
        hold(QStringLiteral("ItemCount=%1: загружено датчиков: %2.").arg(itemCount).arg(count));
    for (int k = 0; k < count; ++k) {
        SensorConfig s;
        for (int n = 1; n <= 4; ++n) {
            TSignArr &g = s.Sign[static_cast<size_t>(n - 1)];
            g.Enable = r.boolean(Items, signKey(k, n, "Enable"), g.Enable);
            g.bm = r.boolean(Items, signKey(k, n, "bm"), g.bm);
            g.Value = r.real(Items, signKey(k, n, "Value"), g.Value);
            g.mp3path = r.text(Items, signKey(k, n, "mp3path"), g.mp3path);
            g.mp3Enable = r.boolean(Items, signKey(k, n, "mp3Enable"), g.mp3Enable);
            g.AppPath = r.text(Items, signKey(k, n, "AppPath"), g.AppPath);
            g.AppEnable = r.boolean(Items, signKey(k, n, "AppEnable"), g.AppEnable);
        }
        s.Name = r.text(Items, itemKey("ItemName", k), s.Name);
        s.SN = r.text(Items, itemKey("ItemSN", k), s.SN);
        s.Enable = r.boolean(Items, itemKey("ItemEnable", k), s.Enable);
        s.Correct = r.real(Items, itemKey("ItemCorrect", k), s.Correct);
        s.Tray = r.boolean(Items, itemKey("ItemTray", k), s.Tray);
        s.CBFon = color(r.integer(Items, itemKey("ItemCBFon", k), stored(s.CBFon)));
        s.CBText = color(r.integer(Items, itemKey("ItemCBText", k), stored(s.CBText)));
        const int index = random ? random(16) : static_cast<int>(QRandomGenerator::global()->bounded(16));
        const TColor chartDefault = StandardColors[static_cast<size_t>(std::clamp(index, 0, 15))];
        s.CBChart = color(r.integer(Items, itemKey("ItemCBChart", k), stored(chartDefault)));
        s.Y = r.integer(Items, itemKey("ItemTop", k), s.Y);
        s.X = r.integer(Items, itemKey("ItemLeft", k), s.X);
        c.Items.push_back(std::move(s));
    }
    // Every line is pre-filled with CharMaxCount points: the bound is on all lines together.
    if (count > 0 && static_cast<qint64>(c.CharMaxCount) * count > MaxChartPoints) {
        const int fitting = static_cast<int>(MaxChartPoints / count);
        hold(QStringLiteral("CharMaxCount=%1 ограничено до %2: %3 датчиков.").arg(c.CharMaxCount).arg(fitting).arg(count));
        c.CharMaxCount = fitting;
    }
    if (partial)
        *partial = inFile > MaxStoredItems || r.lossy();
    if (inFile > MaxStoredItems)
        hold(QStringLiteral("В файле датчиков: %1, загружены первые %2.").arg(inFile).arg(MaxStoredItems));
    for (const QString &line : r.lines())
        hold(line);
    return c;
}

KalvexConfig loadConfig(const QString &path, const RandomIndex &random, QStringList *holds, QString *problem,
                        bool *partial)
{
    return readConfig(IniFile::fromFile(path, problem), random, holds, partial);
}

IniFile configIni(const KalvexConfig &c)
{
    IniFile ini;
    ini.writeBool(General, QStringLiteral("GneralPanel"), c.GneralPanel);
    ini.writeString(General, QStringLiteral("bkFileName"), c.bkFileName);
    ini.writeInteger(General, QStringLiteral("COMPort"), c.COMPort);
    ini.writeInteger(General, QStringLiteral("CharMaxCount"), c.CharMaxCount);
    ini.writeInteger(General, QStringLiteral("TimeOut"), c.TimeOut);
    ini.writeBool(General, QStringLiteral("HTTPActive"), c.HTTPActive);
    ini.writeInteger(General, QStringLiteral("HTTPPort"), c.HTTPPort);
    ini.writeBool(General, QStringLiteral("CharMinMaxAuto"), c.CharMinMaxAuto);
    ini.writeFloat(General, QStringLiteral("CharMinY"), c.CharMinY);
    ini.writeFloat(General, QStringLiteral("CharMaxY"), c.CharMaxY);
    ini.writeInteger(General, QStringLiteral("SnsHeight"), c.SnsHeight);
    ini.writeInteger(General, QStringLiteral("SHourHeight"), c.SHourHeight);
    ini.writeInteger(General, QStringLiteral("LogHeight"), c.LogHeight);
    ini.writeInteger(General, QStringLiteral("P3Width"), c.P3Width);
    ini.writeBool(General, QStringLiteral("AutoNab"), c.AutoNab);
    ini.writeBool(General, QStringLiteral("StartMin"), c.StartMin);
    ini.writeBool(General, QStringLiteral("WinStartRun"), c.WinStartRun);

    int k = 0;
    for (const SensorConfig &s : c.Items) {
        ini.writeInteger(Items, itemKey("ItemTop", k), s.Y);
        ini.writeInteger(Items, itemKey("ItemLeft", k), s.X);
        ini.writeString(Items, itemKey("ItemName", k), s.Name);
        ini.writeString(Items, itemKey("ItemSN", k), s.SN);
        ini.writeBool(Items, itemKey("ItemEnable", k), s.Enable);
        ini.writeFloat(Items, itemKey("ItemCorrect", k), s.Correct);
        ini.writeBool(Items, itemKey("ItemTray", k), s.Tray);
        ini.writeInteger(Items, itemKey("ItemCBFon", k), stored(s.CBFon));
        ini.writeInteger(Items, itemKey("ItemCBText", k), stored(s.CBText));
        ini.writeInteger(Items, itemKey("ItemCBChart", k), stored(s.CBChart));
        for (int n = 1; n <= 4; ++n) {
            const TSignArr &g = s.Sign[static_cast<size_t>(n - 1)];
            ini.writeBool(Items, signKey(k, n, "Enable"), g.Enable);
            ini.writeBool(Items, signKey(k, n, "bm"), g.bm);
            ini.writeFloat(Items, signKey(k, n, "Value"), g.Value);
            ini.writeString(Items, signKey(k, n, "mp3path"), g.mp3path);
            ini.writeBool(Items, signKey(k, n, "mp3Enable"), g.mp3Enable);
            ini.writeString(Items, signKey(k, n, "AppPath"), g.AppPath);
            ini.writeBool(Items, signKey(k, n, "AppEnable"), g.AppEnable);
        }
        ++k;
    }
    ini.writeInteger(Items, QStringLiteral("ItemCount"), k);
    if (c.BulkConvert != KalvexConfig().BulkConvert)
        ini.writeBool(Bus, QStringLiteral("BulkConvert"), c.BulkConvert);
    if (c.BusKind != KalvexConfig().BusKind)
        ini.writeString(Bus, QStringLiteral("Kind"), c.BusKind);
    if (c.KernelPath != KalvexConfig().KernelPath)
        ini.writeString(Bus, QStringLiteral("KernelPath"), c.KernelPath);
    return ini;
}

bool writeConfig(const QString &path, const KalvexConfig &config)
{
    return configIni(config).save(path);
}
