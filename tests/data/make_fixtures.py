"""Write the MIDI, MusicXML and CSV test files of the bundled Bach excerpt.

    python tests/data/make_fixtures.py

The notes come from ``motivra.sia_family.example_piece`` (encoded by this
project from the public-domain score), so the files hold exactly the bundled
piece:

- ``invention1.csv``: the points, 4 ticks per semiquaver.
- ``invention1.mid``: type 1, 120 ticks per quarter note (30 per tick of the
  bundled piece); a conductor track, one track per voice (channels 1 and 2,
  note-offs written as note-ons of velocity 0) and a drum track on channel 10
  whose hits must be left out by default.
- ``invention1.musicxml``: two parts, 8 divisions per quarter note (one tick
  of the file is two of the bundled piece), sharps spelled as in the score,
  the tie over the bar line of the lower voice in bar 5 written out.
"""

from __future__ import annotations

import sys
from pathlib import Path

from motivra.sia_family import example_piece

HERE = Path(__file__).parent
MIDI_TICKS_PER_PIECE_TICK = 30
XML_DIVISIONS = 8  # per quarter note; a piece tick is half a division
DRUM_HITS = [(0, 36), (64, 38), (128, 36), (192, 42)]  # (piece tick, drum key)
_TYPES = {2: "32nd", 4: "16th", 8: "eighth", 12: "eighth", 16: "quarter", 32: "half"}
_STEPS = {"C": 0, "D": 2, "E": 4, "F": 5, "G": 7, "A": 9, "B": 11}


def voice_notes(bars: list[str]) -> list[list[tuple[str, int]]]:
    """Per bar, the (note, duration in piece ticks) tokens of one voice."""
    return [[(n, example_piece._DURATIONS[d]) for n, d in (tok.split(":") for tok in bar.split())] for bar in bars]


def write_midi(path: Path) -> None:
    import mido

    midi = mido.MidiFile(type=1, ticks_per_beat=MIDI_TICKS_PER_PIECE_TICK * 16)
    conductor = mido.MidiTrack(
        [
            mido.MetaMessage("set_tempo", tempo=600000, time=0),
            mido.MetaMessage("time_signature", numerator=4, denominator=4, time=0),
        ]
    )
    midi.tracks.append(conductor)
    for channel, bars in enumerate(example_piece.VOICES.values()):
        events: list[tuple[int, int, int]] = []  # (tick, order, note): note-offs first
        tick = 0
        last_on: tuple[int, int] | None = None
        for bar in voice_notes(bars):
            for note, duration in bar:
                if note == "~" and last_on is not None:
                    events.remove((tick, 0, last_on[1]))  # extend the tied note
                elif note != "r":
                    events.append((tick, 1, example_piece._midi(note)))
                    last_on = (tick, example_piece._midi(note))
                tick += duration
                if note != "r":
                    events.append((tick, 0, last_on[1] if last_on else 0))
        track = mido.MidiTrack([mido.MetaMessage("track_name", name=f"voice {channel + 1}", time=0)])
        now = 0
        for t, order, note in sorted(events):
            scaled = t * MIDI_TICKS_PER_PIECE_TICK
            track.append(
                mido.Message("note_on", channel=channel, note=note, velocity=80 if order else 0, time=scaled - now)
            )
            now = scaled
        midi.tracks.append(track)
    drums = mido.MidiTrack()
    now = 0
    for t, key in DRUM_HITS:
        scaled = t * MIDI_TICKS_PER_PIECE_TICK
        drums.append(mido.Message("note_on", channel=9, note=key, velocity=100, time=scaled - now))
        drums.append(mido.Message("note_off", channel=9, note=key, velocity=0, time=60))
        now = scaled + 60
    midi.tracks.append(drums)
    midi.save(path)


def _pitch_xml(note: str) -> str:
    step, rest = note[0], note[1:]
    alter = 0
    while rest and rest[0] in "#b":
        alter += 1 if rest[0] == "#" else -1
        rest = rest[1:]
    alter_xml = f"<alter>{alter}</alter>" if alter else ""
    return f"<pitch><step>{step}</step>{alter_xml}<octave>{rest}</octave></pitch>"


def write_musicxml(path: Path) -> None:
    parts = []
    for number, bars in enumerate(example_piece.VOICES.values(), start=1):
        clef = "<sign>G</sign><line>2</line>" if number == 1 else "<sign>F</sign><line>4</line>"
        measures = []
        previous = ""
        for index, bar in enumerate(voice_notes(bars)):
            notes = []
            if index == 0:
                notes.append(
                    f"<attributes><divisions>{XML_DIVISIONS}</divisions><key><fifths>0</fifths></key>"
                    f"<time><beats>4</beats><beat-type>4</beat-type></time><clef>{clef}</clef></attributes>"
                )
            used = 0
            for k, (note, duration) in enumerate(bar):
                divs = duration // 2
                used += duration
                dot = "<dot/>" if duration == 12 else ""
                kind = f"<type>{_TYPES[duration]}</type>{dot}"
                if note == "r":
                    notes.append(f"<note><rest/><duration>{divs}</duration>{kind}</note>")
                    continue
                tie = ""
                if note == "~":
                    note, tie = previous, '<tie type="stop"/>'
                elif k == len(bar) - 1 and index + 1 < len(bars) and bars[index + 1].startswith("~"):
                    tie = '<tie type="start"/>'
                notes.append(f"<note>{_pitch_xml(note)}<duration>{divs}</duration>{tie}{kind}</note>")
                previous = note
            remaining = example_piece.TICKS_PER_BAR - used
            if remaining:
                notes.append(f"<note><rest/><duration>{remaining // 2}</duration></note>")
            body = "\n      ".join(notes)
            measures.append(f'    <measure number="{index + 1}">\n      {body}\n    </measure>')
        parts.append(f'  <part id="P{number}">\n' + "\n".join(measures) + "\n  </part>")
    part_list = "\n".join(
        f'    <score-part id="P{n}"><part-name>{name}</part-name></score-part>'
        for n, name in enumerate(example_piece.VOICES, start=1)
    )
    path.write_text(
        '<?xml version="1.0" encoding="UTF-8"?>\n'
        '<!DOCTYPE score-partwise PUBLIC "-//Recordare//DTD MusicXML 4.0 Partwise//EN" '
        '"http://www.musicxml.org/dtds/partwise.dtd">\n'
        '<score-partwise version="4.0">\n'
        "  <work><work-title>Invention No. 1, BWV 772, bars 1-7 (J. S. Bach)</work-title></work>\n"
        f"  <part-list>\n{part_list}\n  </part-list>\n" + "\n".join(parts) + "\n</score-partwise>\n",
        encoding="utf-8",
    )


def write_csv(path: Path) -> None:
    rows = ["tick,pitch"] + [f"{t},{p}" for t, p in example_piece.points()]
    path.write_text("\n".join(rows) + "\n", encoding="utf-8")


if __name__ == "__main__":
    target = Path(sys.argv[1]) if len(sys.argv) > 1 else HERE
    write_csv(target / "invention1.csv")
    write_midi(target / "invention1.mid")
    write_musicxml(target / "invention1.musicxml")
