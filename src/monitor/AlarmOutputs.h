#pragma once

#include <QString>

#include <functional>
#include <memory>

class AppLauncher;
class SoundPlayer;

// Where an alarm sounds and what it starts: the player and launcher given (tests pass fakes),
// or else the real ones, owned here.
class AlarmOutputs
{
public:
    // The late failures are those of the real ones only: a sound that stops playing, a
    // document the opener could not open, told when it ends.
    AlarmOutputs(SoundPlayer *sound, AppLauncher *launcher, std::function<void(const QString &sound)> soundFailed,
                 std::function<void(const QString &path)> launchFailed);
    ~AlarmOutputs();

    SoundPlayer &sound() const { return *m_sound; }
    AppLauncher &launcher() const { return *m_launcher; }

private:
    std::unique_ptr<SoundPlayer> m_ownSound;
    std::unique_ptr<AppLauncher> m_ownLauncher;
    SoundPlayer *m_sound;
    AppLauncher *m_launcher;
};
