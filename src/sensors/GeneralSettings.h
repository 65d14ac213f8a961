#pragma once

#include <QString>

class SettingsTarget;

// The general settings as the settings dialog shows and edits them, under the names of their
// configuration keys (TimeOut in milliseconds, the chart bounds as doubles).
struct GeneralSettings
{
    int COMPort = 1;
    int TimeOut = 10000;
    int HTTPPort = 80;
    QString bkFileName = QStringLiteral("bk.jpg");
    bool AutoNab = false;
    bool StartMin = false;
    bool WinStartRun = false;
    bool CharMinMaxAuto = true;
    double CharMaxY = 10;
    double CharMinY = -10;
    int CharMaxCount = 10;

    bool operator==(const GeneralSettings &) const = default;
};

namespace generalsettings {

// The largest poll interval a timer holds, in seconds. The divisions are held to the bound
// the configuration puts on hand-edited files (MaxCharMaxCount).
inline constexpr int MaxIntervalSeconds = 2147483;

// The settings dialog's field texts, as typed.
struct Entries
{
    QString EComPort;
    QString EInterval;
    QString EHTTPPort;
    QString EBkFileName;
    bool CAutoNab = false;
    bool CStartMin = false;
    bool CWinStartRun = false;
    bool cChar1MinMaxAuto = true;
    QString EChar1MaxY;
    QString EChar1MinY;
    QString EChar1MaxCount;
};

// The texts LoadSettings shows for `settings`.
Entries entriesOf(const GeneralSettings &settings);

// The message of the first check the entries fail, in the dialog's order, or empty.
QString check(const Entries &entries);

// Applies checked entries to the running program in the dialog's order: observation off when
// the port changed, the port, the start flags, the interval in whole seconds, the background
// when its text changed, SetAutoStart, the divisions (ResetChart when they changed), the
// bounds, the fixed axis, and the web server moved when its port changed. An exception of
// the background leaves the later steps undone.
void apply(const Entries &entries, SettingsTarget &target);

} // namespace generalsettings
