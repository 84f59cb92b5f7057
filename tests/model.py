"""Brute-force reference model of the SIA family for small point sets, written for clarity:
points and vectors are tuples of ints; a TEC is any object with ``pattern``, ``translators``
and ``sub_tecs`` (the extension's class or ``Tec`` below)."""

import math
from typing import NamedTuple

M = 2**32


def s32(x):
    """x modulo 2**32, read as a signed 32-bit integer."""
    x %= M
    return x - M if x >= 2**31 else x


def vec(a, b):
    """The vector from point a to point b, with 32-bit wrap-around."""
    return (s32(b[0] - a[0]), s32(b[1] - a[1]))


def add(p, v):
    """Point p moved by vector v, modulo 2**32."""
    return ((p[0] + v[0]) % M, (p[1] + v[1]) % M)


class Tec(NamedTuple):
    pattern: list
    translators: set
    sub_tecs: list = []


def find_mtps(dataset, restrict=False):
    pts = set(dataset)
    origins = {}
    for a in pts:
        for b in pts:
            v = vec(a, b)
            if a != b and (not restrict or v[1] == 0):
                origins.setdefault(v, set()).add(a)
    return {v: sorted(o) for v, o in origins.items() if len(o) >= 2}


def translators_of(pattern, pts, restrict=False):
    found = set()
    for q in pts:
        c = vec(pattern[0], q)
        if c != (0, 0) and (not restrict or c[1] == 0) and all(add(p, c) in pts for p in pattern):
            found.add(c)
    return found


def siatec(dataset, restrict=False):
    """One (pattern, translators) pair per MTP, as tuple and frozenset, in the builders'
    order: vectors above zero ascending, then the rest ascending."""
    mtps = find_mtps(dataset, restrict)
    return [
        (tuple(mtps[v]), frozenset(translators_of(mtps[v], set(dataset), restrict)))
        for v in sorted(mtps, key=lambda v: (v <= (0, 0), v))
    ]


def coverage(t):
    base = set(t.pattern).union(*(coverage(s) for s in t.sub_tecs))
    return base | {add(b, v) for v in t.translators for b in base}


def units(t):
    if not t.sub_tecs:
        return len(t.pattern) + len(t.translators)
    return sum(1 + units(s) for s in t.sub_tecs)


def ratio(t):
    return len(coverage(t)) / units(t) if units(t) else math.nan


def count_in_box(box_of, points):
    ticks, pitches = [p[0] for p in box_of], [p[1] for p in box_of]
    return sum(min(ticks) <= t <= max(ticks) and min(pitches) <= p <= max(pitches) for t, p in points)


def compactness(t, points):
    cov = coverage(t)
    n = count_in_box(cov, points) if cov else 0
    return len(t.pattern) / n if n else 0.0


def sort_key(pattern, translators, points):
    """The ranking key as a tuple whose *largest* value ranks best."""
    n = count_in_box(pattern, points)
    ticks, pitches = [s32(t) for t, _ in pattern], [s32(p) for _, p in pattern]
    tick_ext, pitch_ext = (max(ticks) - min(ticks)) % M, (max(pitches) - min(pitches)) % M
    cov = len(coverage(Tec(list(pattern), set(translators))))
    return (
        cov / (len(pattern) + len(translators)),
        len(pattern) / n if n else 0.0,
        cov,
        len(pattern),
        -tick_ext,
        -(tick_ext * pitch_ext),
    )


def check_partition(dataset, tecs):
    """The covered sets are pairwise disjoint and together hold the distinct points."""
    seen = set()
    for t in tecs:
        cov = coverage(t)
        assert not (cov & seen), f"{t!r} covers points already covered"
        seen |= cov
    assert seen == set(dataset)


def check_cosiatec(dataset, tecs, restrict=False, admit=lambda pattern, key: True):
    """Replays the greedy choice: each TEC is the first candidate, in the builders'
    order, with the best key among those ``admit`` accepts; one-point TECs for what no
    candidate covers."""
    remaining, tecs = set(dataset), list(tecs)
    while cands := [(p, tr) for p, tr in siatec(sorted(remaining), restrict) if admit(p, sort_key(p, tr, remaining))]:
        assert tecs, "encoding stops while candidates remain"
        t = tecs.pop(0)
        chosen = (tuple(t.pattern), frozenset(t.translators))
        assert t.sub_tecs == [] and chosen in cands, f"{t!r} is not a candidate of {sorted(remaining)}"
        keys = [sort_key(p, tr, remaining) for p, tr in cands]
        assert chosen == cands[keys.index(max(keys))], f"{t!r} is not the first of the best"
        assert coverage(t) <= remaining
        remaining -= coverage(t)
    assert [(t.pattern, t.translators, t.sub_tecs) for t in tecs] == [([p], set(), []) for p in sorted(remaining)]
