"""One analysis of a piece, and its outputs: text, JSON, CSV, MIREX, pictures.

:func:`analyse` runs one operation on a :class:`~motivra.sia_family.io.Piece`
with the :class:`Options` given and returns a :class:`Result`, which keeps the
piece and the notes it came from. A result writes itself in every output format
(:meth:`Result.write`, :meth:`Result.to_json`), draws itself
(:meth:`Result.plot`), and is evaluated against a ground truth by
:func:`motivra.sia_family.evaluate.evaluate_result`.

>>> from motivra.sia_family import Piece
>>> piece = Piece.from_points("six", [(0, 60), (1, 62), (2, 64), (3, 60), (4, 62), (5, 64)])
>>> result = analyse(piece, Options(operation="compress"))
>>> result.algorithm, len(result.tecs), result.compression_ratio()
('COSIATEC', 1, 1.5)
"""

from __future__ import annotations

import csv
import io
import json
import math
import os
from dataclasses import dataclass, field
from pathlib import Path
from typing import TYPE_CHECKING, Any, Literal, TextIO

from . import engine, mirex
from ._core import TranslationalEquivalence, build_tecs_from_mtps, build_tecs_from_mtps_sweepline, find_mtps
from .io import PITCHES, Piece, PieceError, PitchKind, Point

if TYPE_CHECKING:
    from matplotlib.figure import Figure

__all__ = [
    "OPERATIONS",
    "OUTPUT_FORMATS",
    "SCHEMA",
    "Operation",
    "Options",
    "Result",
    "analyse",
    "encoding_units",
    "plural",
    "dumps",
    "tec_to_dict",
    "require_notes",
]

#: Value of the ``"schema"`` field of the JSON output. A change that could break
#: a reader of the JSON gets a new version.
SCHEMA = "motivra.sia_family/encoding-v1"

Operation = Literal["compress", "recursive", "tecs", "mtps"]
#: The operations :func:`analyse` runs.
OPERATIONS: tuple[Operation, ...] = ("compress", "recursive", "tecs", "mtps")
OutputFormat = Literal["text", "json", "csv", "mirex"]
OUTPUT_FORMATS: tuple[OutputFormat, ...] = ("text", "json", "csv", "mirex")


def plural(n: int, word: str) -> str:
    """``'1 point'``, ``'2 points'``."""
    return f"{n} {word}{'' if n == 1 else 's'}"


@dataclass(frozen=True)
class Options:
    """What to compute from a piece; every option once, with its default.

    - ``operation``: ``"compress"`` (COSIATEC), ``"recursive"`` (RecurSIA on
      COSIATEC), ``"tecs"`` (SIATEC) or ``"mtps"`` (SIA).
    - ``pitch``: the points' pitch, ``"midi"`` or ``"morphetic"``.
    - ``restrict_dpitch_zero``: only translations that keep the pitch.
    - ``sweepline``: the compressors' ``sweepline_optimization`` (default on), or
      the sweepline builder of the TECs for ``"tecs"`` (default off).
    - ``min_pattern_size``: RecurSIA encodes again only patterns of at least this
      many points.
    - ``min_size``, ``max_size``, ``min_compactness``: the compressors never choose
      a pattern of fewer, or more, points, or whose bounding box holds a smaller
      share of the points not yet covered.
    """

    operation: Operation = "compress"
    pitch: PitchKind = "midi"
    restrict_dpitch_zero: bool = False
    sweepline: bool | None = None
    min_pattern_size: int = 2
    min_size: int = 2
    max_size: int | None = None
    min_compactness: float = 0.0

    def __post_init__(self) -> None:
        if self.operation not in OPERATIONS:
            raise ValueError(f"operation must be one of {', '.join(OPERATIONS)}, got {self.operation!r}")
        if self.pitch not in PITCHES:
            raise ValueError(f"pitch must be 'midi' or 'morphetic', got {self.pitch!r}")
        if self.min_pattern_size < 0:
            raise ValueError(f"min_pattern_size must be 0 or more, got {self.min_pattern_size}")
        if self.min_size < 1:
            raise ValueError(f"min_size must be 1 or more, got {self.min_size}")
        if self.max_size is not None and self.max_size < self.min_size:
            raise ValueError(f"max_size ({self.max_size}) is below min_size ({self.min_size})")
        if not 0.0 <= self.min_compactness <= 1.0:
            raise ValueError(f"min_compactness must lie in 0..1, got {self.min_compactness!r}")

    @property
    def uses_sweepline(self) -> bool:
        return self.sweepline if self.sweepline is not None else self.operation != "tecs"

    @property
    def is_encoding(self) -> bool:
        return self.operation in ("compress", "recursive")

    def as_dict(self) -> dict[str, Any]:
        """The options that the JSON output records, by the algorithms' parameter names."""
        options: dict[str, Any] = {"restrict_dpitch_zero": self.restrict_dpitch_zero}
        if self.operation == "tecs":
            options["sweepline"] = self.uses_sweepline
        elif self.is_encoding:
            options["sweepline_optimization"] = self.uses_sweepline
            if self.operation == "recursive":
                options["min_pattern_size"] = self.min_pattern_size
            if (self.min_size, self.max_size, self.min_compactness) != (2, None, 0.0):
                options.update(min_size=self.min_size, max_size=self.max_size, min_compactness=self.min_compactness)
        return options


def encoding_units(tec: TranslationalEquivalence) -> int:
    """Encoding units of a TEC, as its ``compression_ratio`` counts them: pattern
    points plus translators for a leaf TEC; for a TEC encoded again by RecurSIA,
    one unit per sub-TEC plus the sub-TECs' own units."""
    # The count of the C++ core (encoding_units in src/core/tec.cpp), which the class
    # does not expose; tests/test_cli.py checks that the two agree.
    sub_tecs = tec.sub_tecs
    if not sub_tecs:
        return len(tec.pattern) + len(tec.translators)
    return len(sub_tecs) + sum(encoding_units(sub) for sub in sub_tecs)


_ALGORITHMS = {"mtps": "SIA", "compress": "COSIATEC", "recursive": "RecurSIA"}


def analyse(piece: Piece, options: Options = Options(), *, progress: engine.Progress | None = None) -> Result:
    """Run the operation of ``options`` on the points of ``piece`` in ``options.pitch``.

    ``progress`` is told how far an encoding has got (see
    :func:`motivra.sia_family.engine.compress`). Raises
    :class:`~motivra.sia_family.io.PieceError` when the piece lacks the pitch asked for.
    """
    points = piece.points(options.pitch)
    restrict = options.restrict_dpitch_zero
    if options.operation == "mtps":
        return Result(piece, options, "SIA", mtps=find_mtps(points, restrict))
    if options.operation == "tecs":
        if options.uses_sweepline:
            return Result(piece, options, "SIATEC (sweepline)", tecs=build_tecs_from_mtps_sweepline(points, restrict))
        return Result(piece, options, "SIATEC", tecs=build_tecs_from_mtps(points, restrict))
    recursive = options.operation == "recursive"
    encoding = engine.compress(
        points,
        recursive=recursive,
        restrict_dpitch_zero=restrict,
        min_pattern_size=options.min_size,
        max_pattern_size=options.max_size,
        min_compactness=options.min_compactness,
        min_recursion_size=max(options.min_pattern_size, 1) if recursive else 2,
        progress=progress,
    )
    return Result(piece, options, _ALGORITHMS[options.operation], tecs=list(encoding.tecs), encoding=encoding)


def _ratio(value: float) -> float | None:
    return value if math.isfinite(value) else None


def tec_to_dict(tec: TranslationalEquivalence) -> dict[str, Any]:
    """A TEC as JSON-ready data (see the JSON schema in ``motivra-sia --help``)."""
    return {
        "pattern": [list(p) for p in tec.pattern],
        "translators": [list(v) for v in sorted(tec.translators)],
        "sub_tecs": [tec_to_dict(sub) for sub in tec.sub_tecs],
        "coverage": len(tec.coverage),
        "compression_ratio": _ratio(tec.compression_ratio),
    }


def dumps(value: Any, level: int = 0) -> str:
    """JSON text laid out as ``json.dumps(value, indent=1)`` does, but with a
    pair of integers (a point or a vector) on one line: ``[4, 0]``."""
    pad = " " * (level + 1)
    if isinstance(value, list | tuple):
        if len(value) == 2 and all(type(x) is int for x in value):
            return f"[{value[0]}, {value[1]}]"
        if not value:
            return "[]"
        items = ",\n".join(pad + dumps(v, level + 1) for v in value)
        return f"[\n{items}\n{' ' * level}]"
    if isinstance(value, dict):
        if not value:
            return "{}"
        items = ",\n".join(f"{pad}{json.dumps(str(k))}: {dumps(v, level + 1)}" for k, v in value.items())
        return f"{{\n{items}\n{' ' * level}}}"
    return json.dumps(value)


@dataclass(frozen=True)
class Result:
    """What one analysis computed, with the piece it came from.

    ``mtps`` (for ``"mtps"``) maps each vector to its maximal translatable
    pattern; ``tecs`` are the TECs of the other operations; ``encoding`` is the
    engine's account of an encoding (``"compress"``, ``"recursive"``).
    ``source`` names the piece in the outputs (default: the piece's source).
    """

    piece: Piece
    options: Options
    algorithm: str
    mtps: dict[tuple[int, int], list[Point]] | None = None
    tecs: list[TranslationalEquivalence] | None = None
    encoding: engine.Encoding | None = None
    source: str = ""
    points: list[Point] = field(init=False, repr=False, compare=False)

    def __post_init__(self) -> None:
        object.__setattr__(self, "points", self.piece.points(self.options.pitch))
        if not self.source:
            object.__setattr__(self, "source", self.piece.source)

    @property
    def operation(self) -> Operation:
        return self.options.operation

    @property
    def pitch(self) -> PitchKind:
        return self.options.pitch

    @property
    def is_encoding(self) -> bool:
        return self.options.is_encoding

    def units(self) -> int:
        return sum(encoding_units(tec) for tec in self.tecs or [])

    def compression_ratio(self) -> float | None:
        """Distinct points per encoding unit, for an encoding (else ``None``)."""
        units = self.units()
        return len(self.points) / units if self.is_encoding and units else None

    def length(self) -> int:
        """The literature's encoding length (see :func:`engine.encoding_length`)."""
        return sum(engine.encoding_length(tec) for tec in self.tecs or [])

    def occurrence_lists(self) -> list[list[list[Point]]]:
        """Every pattern as its occurrences (point lists): one per TEC, or one per MTP."""
        if self.mtps is not None:
            return [mirex.mtp_occurrences(v, p) for v, p in sorted(self.mtps.items())]
        return [mirex.tec_occurrences(tec) for tec in self.tecs or []]

    # -- outputs -----------------------------------------------------------

    def to_json(self) -> dict[str, Any]:
        """The JSON document of the result (schema :data:`SCHEMA`)."""
        doc: dict[str, Any] = {
            "schema": SCHEMA,
            "operation": self.operation,
            "algorithm": self.algorithm,
            "piece": {"source": self.source, "points": len(self.points)},
            "options": self.options.as_dict(),
            "pitch": self.pitch,
        }
        if self.mtps is not None:
            doc["mtps"] = [
                {"vector": list(v), "pattern": [list(p) for p in pattern]} for v, pattern in sorted(self.mtps.items())
            ]
        else:
            doc["tecs"] = [tec_to_dict(tec) for tec in self.tecs or []]
        if self.is_encoding:
            units = self.units()
            length = self.length()
            doc["encoding"] = {
                "units": units,
                "compression_ratio": len(self.points) / units if units else None,
                "length": length,
                "compression_factor": len(self.points) / length if length else None,
            }
        return doc

    def write_json(self, out: TextIO) -> None:
        out.write(dumps(self.to_json()))
        out.write("\n")

    def write_text(self, out: TextIO) -> None:
        """The human-readable report."""
        out.write(f"{self.source}\n")
        out.write(f"{plural(len(self.points), 'distinct point')}\n")
        given = self.options.as_dict()
        sweepline = ("sweepline_optimization", "sweepline")
        flags = [name for name, value in given.items() if value is True and name not in sweepline]
        if "min_pattern_size" in given:
            flags.append(f"min_pattern_size={given['min_pattern_size']}")
        if given.get("sweepline_optimization") is False:
            flags.append("sweepline_optimization=False")
        options = f" ({', '.join(flags)})" if flags else ""
        if self.mtps is not None:
            out.write(f"{self.algorithm}{options}: {plural(len(self.mtps), 'maximal translatable pattern')}\n")
            for v, pattern in sorted(self.mtps.items()):
                shown = " ".join(f"({a}, {b})" for a, b in pattern) if pattern else "(none)"
                out.write(f"  vector ({v[0]}, {v[1]}): {plural(len(pattern), 'point')}: {shown}\n")
            return
        tecs = self.tecs or []
        kind = "encoding" if self.is_encoding else "classes"
        out.write(f"{self.algorithm} {kind}{options}: {plural(len(tecs), 'TEC')}\n")
        width = len(str(len(tecs)))
        for i, tec in enumerate(tecs, start=1):
            label = f"{i:>{width}}."
            if not tec.translators and not tec.sub_tecs:
                head = f"{plural(len(tec.pattern), 'point')}, not repeated"
            else:
                covered, occurrences = len(tec.coverage), len(tec.translators) + 1
                head = f"{plural(covered, 'point')} covered by {plural(occurrences, 'occurrence')}"
            out.write(f"  {label}  {head}\n")
            out.write(tec.summary(2 + len(label) + 2) + "\n")
        if self.is_encoding and tecs:
            units = self.units()
            length = self.length()
            n = len(self.points)
            out.write(f"compression ratio: {n} points / {units} units = {n / units:.3f}\n")
            out.write(f"compression factor: {n} points / encoding length {length} = {n / length:.4f}\n")

    def write_csv(self, out: TextIO) -> None:
        """The result as a CSV table (see ``motivra-sia --help``)."""
        writer = csv.writer(out, lineterminator="\n")
        if self.mtps is not None:
            writer.writerow(["vector_tick", "vector_pitch", "tick", "pitch"])
            for v, pattern in sorted(self.mtps.items()):
                for p in pattern:
                    writer.writerow([v[0], v[1], p[0], p[1]])
            return
        writer.writerow(["tec", "role", "tick", "pitch"])

        def rows(label: str, tec: TranslationalEquivalence) -> None:
            for p in tec.pattern:
                writer.writerow([label, "pattern", p[0], p[1]])
            for v in sorted(tec.translators):
                writer.writerow([label, "translator", v[0], v[1]])
            for j, sub in enumerate(tec.sub_tecs, start=1):
                rows(f"{label}.{j}", sub)

        for i, tec in enumerate(self.tecs or [], start=1):
            rows(str(i), tec)

    def write_mirex(self, out: TextIO, options: mirex.MirexOptions = mirex.MirexOptions()) -> None:
        """The result as a MIREX pattern file (see :mod:`motivra.sia_family.mirex`)."""
        options.check(self.piece)
        patterns = mirex.note_patterns(self.piece, self.occurrence_lists(), self.pitch, options.occurrences)
        mirex.write_mirex(out, mirex.mirex_patterns(patterns, options.timing(self.piece), options.pitch))

    def write(self, out: TextIO, format: OutputFormat = "text", mirex: mirex.MirexOptions | None = None) -> None:
        """Write the result in an output format: ``"text"``, ``"json"``, ``"csv"`` or ``"mirex"``."""
        if format == "json":
            self.write_json(out)
        elif format == "csv":
            self.write_csv(out)
        elif format == "mirex":
            self.write_mirex(out, mirex) if mirex is not None else self.write_mirex(out)
        elif format == "text":
            self.write_text(out)
        else:
            raise ValueError(f"format must be one of {', '.join(OUTPUT_FORMATS)}, got {format!r}")

    def render(self, format: OutputFormat = "text", mirex: mirex.MirexOptions | None = None) -> str:
        """The result as text in an output format (see :meth:`write`)."""
        buffer = io.StringIO()
        self.write(buffer, format, mirex)
        return buffer.getvalue()

    def save(
        self, path: str | os.PathLike[str], format: OutputFormat = "text", mirex: mirex.MirexOptions | None = None
    ) -> None:
        """Write the result into a file (UTF-8)."""
        Path(path).write_text(self.render(format, mirex), encoding="utf-8")

    def plot(self, path: str | os.PathLike[str] | None = None, *, title: str | None = None) -> Figure:
        """Draw the piece and the TECs (needs matplotlib; see
        :func:`motivra.sia_family.plot.plot_encoding`)."""
        from .plot import plot_encoding

        return plot_encoding(
            self.points,
            self.tecs or [],
            path,
            title=title if title is not None else f"{self.algorithm}: {os.path.basename(self.source)}",
            pitch_label="morphetic pitch" if self.pitch == "morphetic" else "pitch",
        )


def require_notes(piece: Piece) -> None:
    """Raise :class:`PieceError` ``"FILE: no notes"`` for an empty piece."""
    if not piece.notes:
        raise PieceError(piece.source, "no notes")
