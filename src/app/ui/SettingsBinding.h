#pragma once

#include "sensors/SettingsTarget.h"

class TForm1;

// The main window as the settings dialog changes it: its settings members, Timer1, the
// observation switch, the background, the autostart entry, the live chart and the web server.
class SettingsBinding final : public SettingsTarget
{
public:
    explicit SettingsBinding(TForm1 &form);

    GeneralSettings current() const override;
    bool observationOn() const override;
    void switchObservationOff() override;
    void setCOMPort(int port) override;
    void setStartFlags(bool AutoNab, bool StartMin, bool WinStartRun) override;
    void setPollInterval(int milliseconds) override;
    void changeBackground(const QString &name) override;
    void SetAutoStart() override;
    void setCharMaxCount(int count) override;
    void ResetChart() override;
    void setChartBounds(bool autoBounds, int minimum, int maximum) override;
    void setLeftAxis(int minimum, int maximum) override;
    bool moveHttpServer(int port, QString &reason) override;
    void httpNotStarted(const QString &reason) override;

private:
    TForm1 &m_form;
};
