#include "sensors/GeneralSettings.h"

#include "base/NumberText.h"
#include "sensors/KalvexConfig.h"
#include "sensors/NumberEntry.h"
#include "sensors/SettingsTarget.h"

using numberentry::StrToIntDef0;

namespace generalsettings {

Entries entriesOf(const GeneralSettings &s)
{
    Entries e;
    e.EComPort = QString::number(s.COMPort);
    e.EInterval = QString::number(numberentry::wholeSeconds(s.TimeOut));
    e.EHTTPPort = QString::number(s.HTTPPort);
    e.EBkFileName = s.bkFileName;
    e.CAutoNab = s.AutoNab;
    e.CStartMin = s.StartMin;
    e.CWinStartRun = s.WinStartRun;
    e.cChar1MinMaxAuto = s.CharMinMaxAuto;
    // A stored bound with a fraction shows it ("25,5"), though OK reads it as no integer.
    e.EChar1MaxY = numbertext::general(s.CharMaxY);
    e.EChar1MinY = numbertext::general(s.CharMinY);
    e.EChar1MaxCount = QString::number(s.CharMaxCount);
    return e;
}

QString check(const Entries &e)
{
    const int seconds = StrToIntDef0(e.EInterval);
    if (seconds < 1)
        return QStringLiteral("Интервал обновления не может быть меньше 1 секунды.");
    // Beyond this the interval in milliseconds no longer fits the timer.
    if (seconds > MaxIntervalSeconds)
        return QStringLiteral("Интервал обновления не может быть больше %1 секунд.").arg(MaxIntervalSeconds);
    if (StrToIntDef0(e.EChar1MaxY) <= StrToIntDef0(e.EChar1MinY))
        return QStringLiteral("Минимальное значение шкалы не может быть больше или равно максимального.");
    const int divisions = StrToIntDef0(e.EChar1MaxCount);
    if (divisions < 3)
        return QStringLiteral("Количество делений шкалы не может быть меньше 3.");
    // Every chart line holds this many points from the moment it is set.
    if (divisions > MaxCharMaxCount)
        return QStringLiteral("Количество делений шкалы не может быть больше %1.").arg(MaxCharMaxCount);
    return QString();
}

void apply(const Entries &e, SettingsTarget &target)
{
    const GeneralSettings old = target.current();
    const int port = StrToIntDef0(e.EComPort);
    // Observation stays off: the user switches it on again on the new port.
    if (target.observationOn() && port != old.COMPort)
        target.switchObservationOff();
    target.setCOMPort(port);
    target.setStartFlags(e.CAutoNab, e.CStartMin, e.CWinStartRun);
    target.setPollInterval(StrToIntDef0(e.EInterval) * 1000);
    if (e.EBkFileName != old.bkFileName)
        target.changeBackground(e.EBkFileName);
    target.SetAutoStart();
    const int divisions = StrToIntDef0(e.EChar1MaxCount);
    target.setCharMaxCount(divisions);
    if (divisions != old.CharMaxCount)
        target.ResetChart();
    const int maximum = StrToIntDef0(e.EChar1MaxY);
    const int minimum = StrToIntDef0(e.EChar1MinY);
    target.setChartBounds(e.cChar1MinMaxAuto, minimum, maximum);
    if (!e.cChar1MinMaxAuto)
        target.setLeftAxis(minimum, maximum);
    const int httpPort = StrToIntDef0(e.EHTTPPort);
    if (httpPort != old.HTTPPort) {
        QString reason;
        if (!target.moveHttpServer(httpPort, reason))
            target.httpNotStarted(reason);
    }
}

} // namespace generalsettings
