#include "sensors/KalvexConfig.h"

#include "sensors/IniFile.h"

#include <QRandomGenerator>

#include <algorithm>

namespace {

const QString General = QStringLiteral("General");
const QString Items = QStringLiteral("Items");

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

KalvexConfig readConfig(const IniFile &ini, const RandomIndex &random, QStringList *holds, bool *partial)
{
    const auto hold = [holds](const QString &text) {
        if (holds)
            *holds << text;
    };
    KalvexConfig c;
    const KalvexConfig d;

    c.GneralPanel = ini.readBool(General, QStringLiteral("GneralPanel"), d.GneralPanel);
    c.bkFileName = ini.readString(General, QStringLiteral("bkFileName"), d.bkFileName);
    c.TimeOut = ini.readInteger(General, QStringLiteral("TimeOut"), d.TimeOut);
    if (c.TimeOut <= 0)
        c.TimeOut = d.TimeOut;
    c.COMPort = ini.readInteger(General, QStringLiteral("COMPort"), d.COMPort);
    c.AutoNab = ini.readBool(General, QStringLiteral("AutoNab"), d.AutoNab);
    c.StartMin = ini.readBool(General, QStringLiteral("StartMin"), d.StartMin);
    c.WinStartRun = ini.readBool(General, QStringLiteral("WinStartRun"), d.WinStartRun);
    const int charMaxCount = ini.readInteger(General, QStringLiteral("CharMaxCount"), d.CharMaxCount);
    c.CharMaxCount = std::clamp(charMaxCount, 0, MaxCharMaxCount);
    if (c.CharMaxCount != charMaxCount)
        hold(QStringLiteral("CharMaxCount=%1 ограничено до %2.").arg(charMaxCount).arg(c.CharMaxCount));
    c.CharMinMaxAuto = ini.readBool(General, QStringLiteral("CharMinMaxAuto"), d.CharMinMaxAuto);
    c.CharMinY = ini.readFloat(General, QStringLiteral("CharMinY"), d.CharMinY);
    c.CharMaxY = ini.readFloat(General, QStringLiteral("CharMaxY"), d.CharMaxY);

    c.SnsHeight = ini.readInteger(General, QStringLiteral("SnsHeight"), d.SnsHeight);
    if (c.SnsHeight <= 0)
        c.SnsHeight = 200;
    c.SHourHeight = ini.readInteger(General, QStringLiteral("SHourHeight"), d.SHourHeight);
    if (c.SHourHeight <= 0)
        c.SHourHeight = 200;
    c.LogHeight = std::max(0, ini.readInteger(General, QStringLiteral("LogHeight"), d.LogHeight));
    c.P3Width = std::max(0, ini.readInteger(General, QStringLiteral("P3Width"), d.P3Width));

    if (!c.CharMinMaxAuto && c.CharMinY > c.CharMaxY)
        c.CharMinY = c.CharMaxY - 10;

    c.HTTPPort = ini.readInteger(General, QStringLiteral("HTTPPort"), d.HTTPPort);
    c.HTTPActive = ini.readBool(General, QStringLiteral("HTTPActive"), d.HTTPActive);

    const int itemCount = ini.readInteger(Items, QStringLiteral("ItemCount"), 0);
    const int inFile = highestStoredSensor(ini) + 1;
    int count = std::max(std::min(itemCount, MaxItemCount), std::min(inFile, MaxStoredItems));
    if (count != std::max(itemCount, 0))
        hold(QStringLiteral("ItemCount=%1: загружено датчиков: %2.").arg(itemCount).arg(count));
    for (int k = 0; k < count; ++k) {
        SensorConfig s;
        for (int n = 1; n <= 4; ++n) {
            TSignArr &g = s.Sign[static_cast<size_t>(n - 1)];
            g.Enable = ini.readBool(Items, signKey(k, n, "Enable"), g.Enable);
            g.bm = ini.readBool(Items, signKey(k, n, "bm"), g.bm);
            g.Value = ini.readFloat(Items, signKey(k, n, "Value"), g.Value);
            g.mp3path = ini.readString(Items, signKey(k, n, "mp3path"), g.mp3path);
            g.mp3Enable = ini.readBool(Items, signKey(k, n, "mp3Enable"), g.mp3Enable);
            g.AppPath = ini.readString(Items, signKey(k, n, "AppPath"), g.AppPath);
            g.AppEnable = ini.readBool(Items, signKey(k, n, "AppEnable"), g.AppEnable);
        }
        s.Name = ini.readString(Items, itemKey("ItemName", k), s.Name);
        s.SN = ini.readString(Items, itemKey("ItemSN", k), s.SN);
        s.Enable = ini.readBool(Items, itemKey("ItemEnable", k), s.Enable);
        s.Correct = ini.readFloat(Items, itemKey("ItemCorrect", k), s.Correct);
        s.Tray = ini.readBool(Items, itemKey("ItemTray", k), s.Tray);
        s.CBFon = color(ini.readInteger(Items, itemKey("ItemCBFon", k), stored(s.CBFon)));
        s.CBText = color(ini.readInteger(Items, itemKey("ItemCBText", k), stored(s.CBText)));
        const int index = random ? random(16) : static_cast<int>(QRandomGenerator::global()->bounded(16));
        const TColor chartDefault = StandardColors[static_cast<size_t>(std::clamp(index, 0, 15))];
        s.CBChart = color(ini.readInteger(Items, itemKey("ItemCBChart", k), stored(chartDefault)));
        s.Y = ini.readInteger(Items, itemKey("ItemTop", k), s.Y);
        s.X = ini.readInteger(Items, itemKey("ItemLeft", k), s.X);
        c.Items.push_back(std::move(s));
    }
    // Every line is pre-filled with CharMaxCount points: the bound is on all lines together.
    if (count > 0 && static_cast<qint64>(c.CharMaxCount) * count > MaxChartPoints) {
        const int fitting = static_cast<int>(MaxChartPoints / count);
        hold(QStringLiteral("CharMaxCount=%1 ограничено до %2: %3 датчиков.").arg(c.CharMaxCount).arg(fitting).arg(count));
        c.CharMaxCount = fitting;
    }
    if (partial)
        *partial = inFile > MaxStoredItems;
    if (inFile > MaxStoredItems)
        hold(QStringLiteral("В файле датчиков: %1, загружены первые %2.").arg(inFile).arg(MaxStoredItems));
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
    return ini;
}

bool writeConfig(const QString &path, const KalvexConfig &config)
{
    return configIni(config).save(path);
}
