#pragma once

#include "monitor/SoundPlayer.h"

#include <QObject>
#include <QString>

#include <functional>

class QSoundEffect;

// Plays wave data through Qt Multimedia on the thread that owns it (the window thread). With
// no audio output the calls fail at once instead of waiting for a device.
class QtSoundPlayer final : public QObject, public SoundPlayer
{
    Q_OBJECT
public:
    explicit QtSoundPlayer(QObject *parent = nullptr);
    // `outputPresent` tells whether the desktop has an audio output now (the default asks
    // Qt's list of outputs).
    explicit QtSoundPlayer(std::function<bool()> outputPresent, QObject *parent = nullptr);
    ~QtSoundPlayer() override;

    bool playWarning() override;
    // Accepts only files whose header is a wave format the player decodes.
    bool playFile(const QString &path) override;

    // Called with "warn" or the file path when a started sound turns out to be unplayable
    // (the decoder or the device gives up after the call returned).
    void setLateFailureHandler(std::function<void(const QString &sound)> handler);

    // True when the file starts like a PCM or float wave file with a data chunk.
    static bool looksLikeWave(const QString &path);

    // The sound playing (or loading to play) now: "warn", a file's path, or empty.
    QString playingSound() const;

private:
    bool audioAvailable() const;
    QSoundEffect *effect(QSoundEffect *&slot);
    void stopAll();

    QSoundEffect *m_warning = nullptr;
    QSoundEffect *m_file = nullptr;
    QString m_fileSound;
    std::function<void(const QString &)> m_lateFailure;
    std::function<bool()> m_outputPresent;
};
