#include "monitor/AlarmOutputs.h"

#include "monitor/DesktopAppLauncher.h"
#include "monitor/QtSoundPlayer.h"

#include <utility>

AlarmOutputs::AlarmOutputs(SoundPlayer *sound, AppLauncher *launcher, std::function<void(const QString &sound)> soundFailed,
                           std::function<void(const QString &path)> launchFailed)
    : m_sound(sound)
    , m_launcher(launcher)
{
    if (!m_sound) {
        auto player = std::make_unique<QtSoundPlayer>();
        player->setLateFailureHandler(std::move(soundFailed));
        m_sound = player.get();
        m_ownSound = std::move(player);
    }
    if (!m_launcher) {
        auto desktop = std::make_unique<DesktopAppLauncher>();
        desktop->setLateFailureHandler(std::move(launchFailed));
        m_launcher = desktop.get();
        m_ownLauncher = std::move(desktop);
    }
}

AlarmOutputs::~AlarmOutputs() = default;
