#!/usr/bin/env python3
"""Writes resources/warn.wav, the built-in warning sound: PCM, 22050 Hz, mono, 16 bit, 1 s.

Two alternating tones (880 Hz and 660 Hz, four beeps each way) with short fades, so that the
sound is heard over room noise without clicks. Run it from the top of the repository; the
output is deterministic, so running it again changes nothing.
"""
import math
import struct
import sys
import wave

RATE = 22050
SECONDS = 1.0
TONES = (880.0, 660.0)
BEEP = 0.125          # seconds per beep
FADE = 0.008          # seconds of fade in and out per beep
AMPLITUDE = 0.6 * 32767


def samples():
    total = int(RATE * SECONDS)
    per_beep = int(RATE * BEEP)
    fade = int(RATE * FADE)
    for n in range(total):
        beep, pos = divmod(n, per_beep)
        freq = TONES[beep % 2]
        envelope = min(1.0, pos / fade, (per_beep - 1 - pos) / fade)
        value = AMPLITUDE * envelope * math.sin(2 * math.pi * freq * n / RATE)
        yield int(round(value))


def main(path="resources/warn.wav"):
    with wave.open(path, "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(RATE)
        out.writeframes(b"".join(struct.pack("<h", s) for s in samples()))


if __name__ == "__main__":
    main(*sys.argv[1:])
