"""The opening of J. S. Bach's Invention No. 1 in C major, BWV 772, as a point set.

Bars 1 to 6 of both voices, closed by the two notes on the downbeat of bar 7
where the cadence in G major lands: 134 notes.  The subject (C D E F D E C in
semiquavers) enters in the upper voice, is answered in the lower voice, moves
to G in bar 2, is inverted in the descending sequence of bars 3 and 4 and
reaches G major in bars 5 and 6, so the excerpt is rich in translated
occurrences.

Encoded by this project, note by note, from the public-domain score (Bach's
text; ornaments are not written out, a tied note counts once at its onset).

Resolution: 4 ticks per semiquaver (a 32nd note is 2 ticks, a crotchet 16, a
4/4 bar 64), bar 1 starting at tick 0.  Pitches are MIDI note numbers with
middle C = C4 = 60.
"""

from __future__ import annotations

__all__ = ["NAME", "SOURCE", "TICKS_PER_SEMIQUAVER", "TICKS_PER_BAR", "VOICES", "points"]

NAME = "J. S. Bach, Invention No. 1 in C major, BWV 772, bars 1-6"
SOURCE = (
    "Encoded by the motivra project from the public-domain score: both voices of "
    "bars 1-6 and the downbeat of bar 7; 4 ticks per semiquaver; MIDI pitches."
)

TICKS_PER_SEMIQUAVER = 4
TICKS_PER_BAR = 16 * TICKS_PER_SEMIQUAVER

# Durations in ticks: t = 32nd, s = semiquaver, e = quaver, e. = dotted quaver,
# q = crotchet, h = minim.
_DURATIONS = {"t": 2, "s": 4, "e": 8, "e.": 12, "q": 16, "h": 32}

# One string per bar; a token is NOTE:DURATION, with "r" for a rest and "~"
# for the continuation of a note tied over the bar line (no new onset).
VOICES: dict[str, list[str]] = {
    "upper": [
        "r:s C5:s D5:s E5:s F5:s D5:s E5:s C5:s G5:e C6:e B5:e C6:e",
        "D5:s G4:s A4:s B4:s C5:s A4:s B4:s G4:s D5:e G5:e F5:e G5:e",
        "E5:s A5:s G5:s F5:s E5:s G5:s F5:s A5:s G5:s F5:s E5:s D5:s C5:s E5:s D5:s F5:s",
        "E5:s D5:s C5:s B4:s A4:s C5:s B4:s D5:s C5:s B4:s A4:s G4:s F#4:s A4:s G4:s B4:s",
        "A4:e D4:e C5:e. D5:s B4:s A4:s G4:s F#4:s E4:s G4:s F#4:s A4:s",
        "G4:s B4:s A4:s C5:s B4:s D5:s C5:s E5:s D5:s B4:t C5:t D5:s G5:s B4:e A4:e",
        "G4:e",
    ],
    "lower": [
        "r:h r:s C3:s D3:s E3:s F3:s D3:s E3:s C3:s",
        "G3:e G2:e r:q r:s G3:s A3:s B3:s C4:s A3:s B3:s G3:s",
        "C4:e B3:e C4:e D4:e E4:e G3:e A3:e B3:e",
        "C4:e E3:e F3:e G3:e A3:e B3:e C4:q",
        "~:s D3:s E3:s F#3:s G3:s E3:s F#3:s D3:s G3:e B2:e C3:e D3:e",
        "E3:e F#3:e G3:e E3:e B2:e. C3:s D3:e D2:e",
        "G2:e",
    ],
}

_STEPS = {"C": 0, "D": 2, "E": 4, "F": 5, "G": 7, "A": 9, "B": 11}


def _midi(name: str) -> int:
    """MIDI number of a note name such as "F#4" (C4 = 60)."""
    step, rest = name[0], name[1:]
    alter = 0
    while rest and rest[0] in "#b":
        alter += 1 if rest[0] == "#" else -1
        rest = rest[1:]
    return 12 * (int(rest) + 1) + _STEPS[step] + alter


def _voice_points(bars: list[str]) -> list[tuple[int, int]]:
    out: list[tuple[int, int]] = []
    for number, bar in enumerate(bars):
        tick = number * TICKS_PER_BAR
        for token in bar.split():
            note, duration = token.split(":")
            if note not in ("r", "~"):
                out.append((tick, _midi(note)))
            tick += _DURATIONS[duration]
        # Every bar but the last (a single cadence note) fills a whole 4/4 bar.
        if number < len(bars) - 1 and tick != (number + 1) * TICKS_PER_BAR:
            raise AssertionError(f"bar {number + 1} does not add up to 4/4")
    return out


def points() -> list[tuple[int, int]]:
    """The excerpt as ``(tick, pitch)`` points, sorted and distinct."""
    return sorted({p for bars in VOICES.values() for p in _voice_points(bars)})
