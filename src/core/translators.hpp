// The translator search shared by SIATEC, the sweepline and COSIATEC: which Vectors
// carry a pattern onto members, and where to look for them in an MTP table. A
// translator c carries pattern[0] onto a Point q such that q + w is a Point for every
// difference w within the pattern, so its candidates come from a short origin list
// rather than from the whole Dataset.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "mtp_table.hpp"
#include "points.hpp"
#include "tables.hpp"

namespace motivra::sia {

// How many of a pattern's differences a translator search probes for a short origin
// list: a handful finds short lists; probing all of them would cost as much as the
// tests they save.
inline constexpr std::size_t kProbes = 8;

// Whether `v` carries the whole pattern onto members, given that pattern[0] + v is one
// (every caller takes v from such a member). `is_member(k, q)` tells whether
// q = pattern[k] + v is a member; it is asked for k = 1, 2, ... in turn, and no further
// after the first miss, so it may advance cursors.
template <class IsMember>
[[nodiscard]] bool carries(std::span<const Point> pattern, Vector v, IsMember&& is_member) {
    for (std::size_t k = 1; k < pattern.size(); ++k) {
        if (!is_member(k, pattern[k] + v)) return false;
    }
    return true;
}
// The same against a set of members.
[[nodiscard]] inline bool carries(std::span<const Point> pattern, Vector v, const PointSet& members) {
    return carries(pattern, v, [&](std::size_t, Point q) { return members.contains(q); });
}

// Calls probe(j, at) for the differences w = pattern[j] - pattern[0] that a translator
// search looks at, with `at` the position of w among the table's Vectors, or npos32
// when no Vector of two pairs or more is w. A translator c carries pattern[0] onto a
// Point q with q + w in the Dataset, so q lies among the origins of every such w.
// At most kProbes differences are looked at. Differences that span the pattern are rarer than
// those between neighbours, so the probes start from its far end. A restricted table
// has lists for dpitch 0 only. Stops early when probe returns false.
// `pattern` is any run of positions with size() and operator[].
template <class Pattern, class Probe>
void probe_differences(const MtpTable& table, const Pattern& pattern, Probe&& probe) {
    const std::uint32_t pitch0 = table.point(pattern[0]).pitch;
    const std::size_t m = pattern.size();
    const std::size_t stop = m > kProbes ? m - kProbes : 1;
    for (std::size_t j = m - 1; j >= stop; --j) {
        if (table.restricted() && table.point(pattern[j]).pitch != pitch0) continue;
        if (!probe(j, table.between(pattern[0], pattern[j]))) return;
    }
}

// A superset of the translators' images of pattern[0], as positions into table.points():
// the shortest of the probed origin lists (and, for a restricted table, pattern[0]'s
// pitch row). `list_of(k)` gives the current origin list of the k-th Vector.
template <class ListOf>
[[nodiscard]] std::span<const std::uint32_t> translator_candidates(const MtpTable& table,
                                                                   std::span<const std::uint32_t> pattern,
                                                                   ListOf&& list_of) {
    std::span<const std::uint32_t> best;
    bool have = false;
    if (table.restricted()) {
        best = table.row(table.row_of(pattern[0]));
        have = true;
    }
    probe_differences(table, pattern, [&](std::size_t, std::uint32_t at) {
        if (at == npos32) return true;
        const std::span<const std::uint32_t> list = list_of(at);
        if (!have || list.size() < best.size()) {
            best = list;
            have = true;
        }
        return true;
    });
    return best;
}

// Appends to `out` every non-zero c = points[q] - pattern[0] (q from `candidates`, in
// their order) that carries the whole pattern into `members`, limited to dpitch 0 when
// the table is restricted. Most candidates fail on their first test or two, so each
// moved Point is tested on its own.
inline void collect_translators(const MtpTable& table, std::span<const std::uint32_t> candidates,
                                const PointSet& members, std::span<const Point> pattern, std::vector<Vector>& out) {
    const Point p0 = pattern[0];
    for (std::uint32_t q : candidates) {
        const Vector c = table.point(q) - p0;
        if (c.is_zero() || (table.restricted() && c.dpitch != 0)) continue;
        if (carries(pattern, c, members)) out.push_back(c);
    }
}

}  // namespace motivra::sia
