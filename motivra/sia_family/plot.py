"""Pictures of an encoding: the piece as a piano roll, each TEC in its own colour.

:func:`plot_encoding` draws every point of the piece as a short bar at its tick
and pitch (grey), then each TEC of an encoding in its own colour: the bars of
the points it covers are filled with that colour, and every occurrence of its
pattern (the pattern itself and the pattern moved by each translator) is
outlined by a line through its points, solid for the pattern and dashed for
the translated copies, with the TEC's number written at the start of the
pattern. A legend lists each TEC with its pattern size, its translators and its
compression ratio, under the encoding's length and compression factor (as the
literature counts them, see :mod:`motivra.sia_family.engine`).

Needs matplotlib (the ``plot`` extra). No GUI backend is used, so it works on a
headless machine.
"""

from __future__ import annotations

import os
from collections.abc import Sequence
from typing import TYPE_CHECKING, Any

from ._core import TranslationalEquivalence
from .engine import encoding_length
from .io import MissingDependencyError, as_points

if TYPE_CHECKING:
    from matplotlib.figure import Figure

__all__ = ["plot_encoding", "occurrence_base", "tec_label"]

# Qualitative colours that stay apart on white and in print (Okabe-Ito and
# Tableau), then a generated wheel when an encoding has more TECs than these.
_PALETTE = [
    "#0072B2",
    "#E69F00",
    "#009E73",
    "#CC79A7",
    "#D55E00",
    "#56B4E9",
    "#8C564B",
    "#9467BD",
    "#BCBD22",
    "#E377C2",
    "#17BECF",
    "#1F77B4",
    "#FF7F0E",
    "#2CA02C",
    "#D62728",
    "#7F7F7F",
    "#AEC7E8",
    "#FFBB78",
    "#98DF8A",
    "#FF9896",
]


def _colour(i: int) -> Any:
    if i < len(_PALETTE):
        return _PALETTE[i]
    import colorsys

    hue = (i * 0.618033988749895) % 1.0
    return colorsys.hsv_to_rgb(hue, 0.75, 0.85 if i % 2 else 0.6)


def occurrence_base(tec: TranslationalEquivalence) -> list[tuple[int, int]]:
    """The points of the first occurrence of a TEC, sorted: its pattern, or for
    a TEC whose pattern was encoded again by RecurSIA, the points its sub-TECs
    cover. Every other occurrence is this set moved by one translator."""
    base = set(tec.pattern)
    for sub in tec.sub_tecs:
        base |= sub.coverage
    return sorted(base)


def _vec(v: tuple[int, int]) -> str:
    return f"({v[0]}, {v[1]})"


def tec_label(number: int, tec: TranslationalEquivalence, max_translators: int = 4) -> str:
    """Legend text of a TEC: number, pattern size, occurrences, translators and
    compression ratio, e.g. ``'1: 5 points x 7, ratio 3.18, T = (4, 2) (8, 4) ... (+3)'``."""
    size = len(occurrence_base(tec))
    translators = sorted(tec.translators)
    shown = " ".join(_vec(v) for v in translators[:max_translators])
    if len(translators) > max_translators:
        shown += f" ... (+{len(translators) - max_translators})"
    text = f"{number}: {size} point{'' if size == 1 else 's'} x {len(translators) + 1}"
    text += f", ratio {tec.compression_ratio:.3g}"
    if tec.sub_tecs:
        text += f", {len(tec.sub_tecs)} sub-TECs"
    text += f", T = {shown}" if translators else ", no translators"
    return text


def plot_encoding(
    points: Any,
    tecs: Sequence[TranslationalEquivalence],
    path: str | os.PathLike[str] | None = None,
    *,
    title: str | None = None,
    pitch_label: str = "pitch",
    max_legend_translators: int = 4,
) -> Figure:
    """Draw a piece and an encoding of it; save the picture when ``path`` is given.

    ``points`` is the piece (a sequence of ``(tick, pitch)`` pairs or a numpy
    array of shape ``(n, 2)``) and ``tecs`` the TECs to show, typically the
    result of :func:`~motivra.sia_family.cosiatec_compress` or
    :func:`~motivra.sia_family.recursive_cosiatec_compress` (whose sub-TECs
    are not drawn separately: a TEC is shown by the points it covers). The file
    format follows the suffix of ``path`` (``.png``, ``.svg``, ``.pdf``). The
    drawn elements carry ids that appear in an SVG file: ``tec-3-legend`` for the
    legend entry of the third TEC, ``tec-3-occurrence-0`` for its pattern and
    ``tec-3-occurrence-K`` for its K-th translated occurrence. ``pitch_label``
    names the vertical axis (e.g. ``"morphetic pitch"``).

    Returns the matplotlib :class:`~matplotlib.figure.Figure`; its one axes
    holds one legend entry per TEC, in the order of ``tecs``.
    """
    try:
        from matplotlib import rc_context
        from matplotlib.figure import Figure
        from matplotlib.lines import Line2D
        from matplotlib.patches import Rectangle
    except ImportError as e:
        raise MissingDependencyError(
            "drawing pictures needs the optional library 'matplotlib', which is not "
            "installed; install it with: pip install 'motivra-sia-family[plot]'"
        ) from e

    piece = sorted(set(as_points(points)))
    ticks = sorted({t for t, _ in piece})
    gaps = [b - a for a, b in zip(ticks, ticks[1:]) if b > a]
    # A bar a little shorter than the usual distance between onsets, so that
    # the bars of consecutive notes do not touch.
    bar = sorted(gaps)[len(gaps) // 2] * 0.8 if gaps else 1.0
    height = 0.7

    legend_lines = len(tecs) + 1
    fig_height = max(5.0, 3.0 + 0.25 * legend_lines)
    fig = Figure(figsize=(14, fig_height), layout="constrained")
    ax = fig.add_subplot()

    for t, p in piece:
        ax.add_patch(
            Rectangle(
                (t, p - height / 2), bar, height, facecolor="#d9d9d9", edgecolor="#a0a0a0", linewidth=0.5, zorder=1
            )
        )

    handles = []
    for i, tec in enumerate(tecs):
        colour = _colour(i)
        group = f"tec-{i + 1}"
        base = occurrence_base(tec)
        translators = sorted(tec.translators)
        occurrences = [base] + [[((t + dt) % 2**32, (p + dp) % 2**32) for t, p in base] for dt, dp in translators]
        for t, p in tec.coverage:
            patch = Rectangle(
                (t, p - height / 2), bar, height, facecolor=colour, edgecolor="black", linewidth=0.4, zorder=3
            )
            patch.set_gid(f"{group}-point")
            ax.add_patch(patch)
        for k, occ in enumerate(occurrences):
            xs = [t + bar / 2 for t, _ in occ]
            ys = [p for _, p in occ]
            (line,) = ax.plot(
                xs,
                ys,
                color=colour,
                linewidth=2.2 if k == 0 else 1.2,
                linestyle="-" if k == 0 else (0, (4, 2)),
                marker="o",
                markersize=3.5 if k == 0 else 2.5,
                alpha=0.95 if k == 0 else 0.55,
                zorder=4,
            )
            line.set_gid(f"{group}-occurrence-{k}")
        if base:
            ax.annotate(
                str(i + 1),
                (base[0][0], base[0][1]),
                xytext=(-4, 4),
                textcoords="offset points",
                ha="right",
                va="bottom",
                fontsize=8,
                fontweight="bold",
                color=colour,
                zorder=5,
                bbox=dict(boxstyle="round,pad=0.15", facecolor="white", edgecolor=colour, linewidth=0.6, alpha=0.85),
            )
        handle = Line2D([], [], color=colour, linewidth=6, label=tec_label(i + 1, tec, max_legend_translators))
        handles.append(handle)

    if piece:
        low = min(p for _, p in piece)
        high = max(p for _, p in piece)
        span = ticks[-1] - ticks[0] + bar
        ax.set_xlim(ticks[0] - 0.01 * span - bar, ticks[-1] + bar + 0.01 * span)
        ax.set_ylim(low - 1.5, high + 1.5)
    ax.set_xlabel("onset (ticks)")
    ax.set_ylabel(pitch_label)
    ax.grid(True, axis="y", color="#eeeeee", linewidth=0.6, zorder=0)
    ax.set_axisbelow(True)
    n_points = len(piece)
    length = sum(encoding_length(t) for t in tecs)
    factor = n_points / length if length else float("nan")
    heading = title or "Encoding"
    ax.set_title(
        f"{heading}\n{n_points} points, {len(tecs)} TEC{'' if len(tecs) == 1 else 's'}; "
        "solid line: pattern, dashed: its translated occurrences",
        fontsize=11,
    )
    if handles:
        legend = fig.legend(
            handles=handles,
            loc="outside right upper",
            fontsize=8,
            frameon=False,
            title=f"TEC: pattern size x occurrences, compression ratio, translators\n"
            f"(encoding length {length}, compression factor {factor:.4g})",
            title_fontsize=8,
            alignment="left",
            handlelength=1.2,
        )
        legend.set_gid("tec-legend")
        for i, drawn in enumerate(legend.legend_handles):
            if drawn is not None:
                drawn.set_gid(f"tec-{i + 1}-legend")
    if path is not None:
        # Text as text in an SVG file, so that it can be searched and selected.
        with rc_context({"svg.fonttype": "none"}):
            fig.savefig(path, dpi=130)
    return fig
