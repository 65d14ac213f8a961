#pragma once

#include "app/ui/WindowSettings.h"
#include "sensors/SettingsTarget.h"

#include <functional>

class LiveChart;
class TForm1Ui;

// The main window as the settings dialog changes it: its settings members, Timer1, the
// observation switch, the background, the autostart entry, the live chart and the web server.
class SettingsBinding final : public SettingsTarget
{
public:
    struct Parts
    {
        WindowSettings settings;
        // Timer1 and N3.
        TForm1Ui &ui;
        LiveChart &chart;
        // The window's own routines of those names.
        std::function<void()> N3Click;
        std::function<void()> LoadBackground;
        std::function<void()> SetAutoStart;
        std::function<void()> ResetChart;
        std::function<void(int port)> ChangeHTTPPort;
        std::function<void(const QString &reason)> HTTPNotStarted;
    };

    explicit SettingsBinding(Parts parts);

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
    Parts m_parts;
};
