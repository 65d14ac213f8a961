#include "monitor/AlarmActions.h"

#include "base/Log.h"
#include "monitor/AppLauncher.h"
#include "monitor/SoundPlayer.h"

#include <QFileInfo>

AlarmActions::AlarmActions(Log &log, SoundPlayer &sound, AppLauncher &launcher)
    : m_log(log)
    , m_sound(sound)
    , m_launcher(launcher)
{
}

bool AlarmActions::conditionHolds(const TSignArr &control, double t)
{
    return control.bm ? t >= control.Value : t <= control.Value;
}

void AlarmActions::Signal(const TDSItem &item, const QString &name, double t)
{
    Signal(item.Sign, name, t);
}

void AlarmActions::Signal(const TSign &sign, const QString &name, double t)
{
    // A copy: an action may reach back into the slots (a launcher, a log box that pumps
    // events), and the controls must be the ones this reading was checked against.
    const TSign controls = sign;
    for (const TSignArr &control : controls) {
        if (!control.Enable || !conditionHolds(control, t))
            continue;
        m_log.AddLog(QStringLiteral("Контроль датчика ") + name);
        if (control.mp3Enable)
            PlayMP3(control.mp3path);
        if (control.AppEnable)
            ExecApp(control.AppPath);
    }
}

void AlarmActions::PlayMP3(const QString &sound)
{
    if (sound.toLower() == QLatin1String("warn")) {
        if (!m_sound.playWarning())
            playbackFailed(sound);
        return;
    }
    if (!QFileInfo(sound).isFile()) {
        m_log.AddLog(QStringLiteral("Файл трека не найден: ") + sound);
        return;
    }
    if (!m_sound.playFile(sound))
        playbackFailed(sound);
}

void AlarmActions::ExecApp(const QString &path)
{
    if (!m_launcher.start(path))
        m_log.AddLog(QStringLiteral("Ошибка запуска приложения ") + path);
}

void AlarmActions::playbackFailed(const QString &sound)
{
    m_log.AddLog(QStringLiteral("Ошибка воспроизведения ") + sound);
}
