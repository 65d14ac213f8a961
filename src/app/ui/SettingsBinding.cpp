#include "app/ui/SettingsBinding.h"

#include "app/ui/TForm1Ui.h"
#include "monitor/ui/LiveChart.h"

#include <QAction>
#include <QTimer>

#include <utility>

SettingsBinding::SettingsBinding(Parts parts)
    : m_parts(std::move(parts))
{
}

GeneralSettings SettingsBinding::current() const
{
    GeneralSettings s;
    s.COMPort = m_parts.settings.COMPort;
    s.TimeOut = m_parts.ui.Timer1->interval();
    s.HTTPPort = m_parts.settings.HTTPPort;
    s.bkFileName = m_parts.settings.bkFileName;
    s.AutoNab = m_parts.settings.AutoNab;
    s.StartMin = m_parts.settings.StartMin;
    s.WinStartRun = m_parts.settings.WinStartRun;
    s.CharMinMaxAuto = m_parts.settings.CharMinMaxAuto;
    s.CharMaxY = m_parts.settings.CharMaxY;
    s.CharMinY = m_parts.settings.CharMinY;
    s.CharMaxCount = m_parts.settings.CharMaxCount;
    return s;
}

bool SettingsBinding::observationOn() const
{
    return m_parts.ui.N3->isChecked();
}

void SettingsBinding::switchObservationOff()
{
    m_parts.ui.N3->setChecked(false);
    m_parts.N3Click();
}

void SettingsBinding::setCOMPort(int port)
{
    m_parts.settings.COMPort = port;
}

void SettingsBinding::setStartFlags(bool AutoNab, bool StartMin, bool WinStartRun)
{
    m_parts.settings.AutoNab = AutoNab;
    m_parts.settings.StartMin = StartMin;
    m_parts.settings.WinStartRun = WinStartRun;
}

void SettingsBinding::setPollInterval(int milliseconds)
{
    // An active QTimer starts the new interval afresh.
    m_parts.ui.Timer1->setInterval(milliseconds);
}

void SettingsBinding::changeBackground(const QString &name)
{
    m_parts.settings.bkFileName = name;
    m_parts.LoadBackground();
}

void SettingsBinding::SetAutoStart()
{
    m_parts.SetAutoStart();
}

void SettingsBinding::setCharMaxCount(int count)
{
    m_parts.settings.CharMaxCount = count;
}

void SettingsBinding::ResetChart()
{
    m_parts.ResetChart();
}

void SettingsBinding::setChartBounds(bool autoBounds, int minimum, int maximum)
{
    m_parts.settings.CharMinMaxAuto = autoBounds;
    m_parts.settings.CharMinY = minimum;
    m_parts.settings.CharMaxY = maximum;
}

void SettingsBinding::setLeftAxis(int minimum, int maximum)
{
    // One call sets both, so the minimum never passes the maximum on the way.
    m_parts.chart.setLeftAxis(minimum, maximum);
}

bool SettingsBinding::moveHttpServer(int port, QString &reason)
{
    // ChangeHTTPPort reports a failed restart itself, as StartHTTP reports a failed start.
    reason.clear();
    m_parts.ChangeHTTPPort(port);
    return true;
}

void SettingsBinding::httpNotStarted(const QString &reason)
{
    m_parts.HTTPNotStarted(reason);
}
