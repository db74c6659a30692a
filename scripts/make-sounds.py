#!/usr/bin/env python3
"""Synthesises the success and failure sounds that ship with Vorsk.

Writes resources/sounds/Succes/*.wav and resources/sounds/Failed/*.wav:
16-bit mono PCM at 22050 Hz, under a second each. The output is the same
on every run, so the committed files can be checked against this script.
"""
import math
import struct
import wave
from pathlib import Path

RATE = 22050
PEAK = 0.7  # about -3 dBFS: clear, never harsh


def bell(freq, start, length, decay):
    """A soft bell: a few inharmonic partials, each dying away."""
    partials = ((1.0, 1.0), (2.0, 0.35), (2.76, 0.18), (5.4, 0.06))
    return [(start, length, freq * ratio, level, decay * (1 + ratio / 3))
            for ratio, level in partials]


def tone(freq, start, length, decay, harmonics=3):
    """A rounded tone: odd harmonics falling off fast, like a soft reed."""
    return [(start, length, freq * (2 * k + 1), 1.0 / (2 * k + 1) ** 2, decay)
            for k in range(harmonics)]


def render(notes, seconds):
    count = int(RATE * seconds)
    samples = [0.0] * count
    for start, length, freq, level, decay in notes:
        first = int(start * RATE)
        span = min(int(length * RATE), count - first)
        for i in range(span):
            t = i / RATE
            # 5 ms in, 20 ms out: a note never starts or stops on a step.
            edge = min(1.0, t / 0.005, (span - i) / (0.02 * RATE))
            samples[first + i] += (level * edge * math.exp(-decay * t)
                                   * math.sin(2 * math.pi * freq * t))
    scale = PEAK / max(abs(s) for s in samples)
    return [round(s * scale * 32767) for s in samples]


def write(path, samples):
    path.parent.mkdir(parents=True, exist_ok=True)
    with wave.open(str(path), "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(RATE)
        out.writeframes(struct.pack("<%dh" % len(samples), *samples))


C5, E5, G5, C6, A4, F4, D4, AS3 = 523.25, 659.26, 783.99, 1046.5, 440.0, 349.23, 293.66, 233.08

SOUNDS = {
    # A rising major arpeggio of bells.
    "Succes/Carillon.wav": (
        bell(C5, 0.00, 0.9, 5) + bell(E5, 0.12, 0.8, 5) + bell(G5, 0.24, 0.7, 5)
        + bell(C6, 0.36, 0.6, 4), 0.96),
    # Two bright notes a fifth apart.
    "Succes/Victoire.wav": (tone(G5, 0.00, 0.2, 6) + tone(C6, 0.16, 0.6, 5), 0.76),
    # Two low notes falling a minor third.
    "Failed/Alerte.wav": (tone(F4, 0.00, 0.3, 4) + tone(D4, 0.25, 0.55, 4), 0.8),
    # A single low bell falling to a flat seventh below.
    "Failed/Grave.wav": (bell(A4, 0.00, 0.45, 6) + bell(AS3, 0.3, 0.6, 4), 0.9),
}


def main():
    root = Path(__file__).resolve().parent.parent / "resources" / "sounds"
    for name, (notes, seconds) in SOUNDS.items():
        write(root / name, render(notes, seconds))


if __name__ == "__main__":
    main()
