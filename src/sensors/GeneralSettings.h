#pragma once

#include <QString>

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

// The running program as the settings dialog changes it. The main window implements it.
class SettingsTarget
{
public:
    virtual ~SettingsTarget() = default;

    // The settings in effect now.
    virtual GeneralSettings current() const = 0;
    // The check mark of N3.
    virtual bool observationOn() const = 0;
    // Unticks N3 and runs N3Click: the port closes and the log says so.
    virtual void switchObservationOff() = 0;
    virtual void setCOMPort(int port) = 0;
    virtual void setStartFlags(bool AutoNab, bool StartMin, bool WinStartRun) = 0;
    // Timer1's interval; a running timer counts the new one afresh.
    virtual void setPollInterval(int milliseconds) = 0;
    // bkFileName := name, then the panel loads it (LoadBackground, which may throw).
    virtual void changeBackground(const QString &name) = 0;
    virtual void SetAutoStart() = 0;
    virtual void setCharMaxCount(int count) = 0;
    // Every chart line back to CharMaxCount null points.
    virtual void ResetChart() = 0;
    virtual void setChartBounds(bool autoBounds, int minimum, int maximum) = 0;
    // The live chart's left axis, the minimum never above the maximum on the way.
    virtual void setLeftAxis(int minimum, int maximum) = 0;
    // Stops the web server, moves it and its one binding ("0.0.0.0") to `port` and starts it
    // again if it was running. False, with the reason StartHTTP would give, when it would
    // not start again; the server is then stopped.
    virtual bool moveHttpServer(int port, QString &reason) = 0;
    // A failed start reported as StartHTTP reports it: HTTP_Active and bHTTP show the server
    // stopped and the log says why.
    virtual void httpNotStarted(const QString &reason) = 0;
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
