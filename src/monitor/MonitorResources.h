#pragma once

// The monitor library's resources (the built-in warning sound) live in a static library, so
// the program registers them once before use. Safe to call more than once.
void initMonitorResources();

// Resource path of the built-in warning sound (PCM wave, 22050 Hz, mono, 16 bit, one second).
inline constexpr const char *WarnSoundResource = ":/kalvex/sounds/warn.wav";
