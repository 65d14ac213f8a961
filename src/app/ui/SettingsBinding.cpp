#include "app/ui/SettingsBinding.h"

#include "app/ui/TForm1.h"
#include "monitor/ui/LiveChart.h"

#include <QAction>
#include <QTimer>

SettingsBinding::SettingsBinding(TForm1 &form)
    : m_form(form)
{
}

GeneralSettings SettingsBinding::current() const
{
    GeneralSettings s;
    s.COMPort = m_form.COMPort;
    s.TimeOut = m_form.Timer1->interval();
    s.HTTPPort = m_form.HTTPPort;
    s.bkFileName = m_form.bkFileName;
    s.AutoNab = m_form.AutoNab;
    s.StartMin = m_form.StartMin;
    s.WinStartRun = m_form.WinStartRun;
    s.CharMinMaxAuto = m_form.CharMinMaxAuto;
    s.CharMaxY = m_form.CharMaxY;
    s.CharMinY = m_form.CharMinY;
    s.CharMaxCount = m_form.CharMaxCount;
    return s;
}

bool SettingsBinding::observationOn() const
{
    return m_form.N3->isChecked();
}

void SettingsBinding::switchObservationOff()
{
    m_form.N3->setChecked(false);
    m_form.N3Click();
}

void SettingsBinding::setCOMPort(int port)
{
    m_form.COMPort = port;
}

void SettingsBinding::setStartFlags(bool AutoNab, bool StartMin, bool WinStartRun)
{
    m_form.AutoNab = AutoNab;
    m_form.StartMin = StartMin;
    m_form.WinStartRun = WinStartRun;
}

void SettingsBinding::setPollInterval(int milliseconds)
{
    // An active QTimer starts the new interval afresh.
    m_form.Timer1->setInterval(milliseconds);
}

void SettingsBinding::changeBackground(const QString &name)
{
    m_form.bkFileName = name;
    m_form.LoadBackground();
}

void SettingsBinding::SetAutoStart()
{
    m_form.SetAutoStart();
}

void SettingsBinding::setCharMaxCount(int count)
{
    m_form.CharMaxCount = count;
}

void SettingsBinding::ResetChart()
{
    m_form.ResetChart();
}

void SettingsBinding::setChartBounds(bool autoBounds, int minimum, int maximum)
{
    m_form.CharMinMaxAuto = autoBounds;
    m_form.CharMinY = minimum;
    m_form.CharMaxY = maximum;
}

void SettingsBinding::setLeftAxis(int minimum, int maximum)
{
    // One call sets both, so the minimum never passes the maximum on the way.
    m_form.liveChart().setLeftAxis(minimum, maximum);
}

bool SettingsBinding::moveHttpServer(int port, QString &reason)
{
    // ChangeHTTPPort reports a failed restart itself, as StartHTTP reports a failed start.
    reason.clear();
    m_form.ChangeHTTPPort(port);
    return true;
}

void SettingsBinding::httpNotStarted(const QString &reason)
{
    m_form.HTTPNotStarted(reason);
}
