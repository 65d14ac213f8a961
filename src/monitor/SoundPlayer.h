#pragma once

#include <QString>

// Plays alarm sounds in the background, one at a time: starting a sound stops the one still
// playing. Neither call waits for the sound to end.
class SoundPlayer
{
public:
    virtual ~SoundPlayer() = default;
    // Starts the program's built-in warning sound; false when it cannot be started.
    virtual bool playWarning() = 0;
    // Starts the wave file at path (which exists); false when it cannot be started.
    virtual bool playFile(const QString &path) = 0;
};
