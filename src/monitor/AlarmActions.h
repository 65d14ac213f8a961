#pragma once

#include "sensors/TDSItem.h"

#include <QString>

class Log;
class SoundPlayer;
class AppLauncher;

// The four alarm controls of a sensor and what they do when they fire. A control has no
// memory: it fires on every reading that meets its condition.
class AlarmActions
{
public:
    AlarmActions(Log &log, SoundPlayer &sound, AppLauncher &launcher);

    // Checks controls 1 to 4 of the slot against the corrected reading t; each one that is
    // enabled and whose condition holds (t >= Value with bm, t <= Value without) logs
    // "Контроль датчика " + name, then plays its sound and starts its application as set.
    void Signal(const TDSItem &item, const QString &name, double t);
    // The same for a bare set of controls.
    void Signal(const TSign &sign, const QString &name, double t);

    // "warn" in any letter case is the built-in sound; anything else is a wave file path.
    // A missing file and a sound that cannot start are log lines.
    void PlayMP3(const QString &sound);
    // Starts the application or opens the document; failure is a log line.
    void ExecApp(const QString &path);

    // For a player that learns only later that a started sound could not be played.
    void playbackFailed(const QString &sound);

    // The condition of one control, without its Enable switch.
    static bool conditionHolds(const TSignArr &control, double t);

private:
    Log &m_log;
    SoundPlayer &m_sound;
    AppLauncher &m_launcher;
};
