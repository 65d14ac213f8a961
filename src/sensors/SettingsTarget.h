#pragma once

#include "sensors/GeneralSettings.h"

#include <QString>

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
