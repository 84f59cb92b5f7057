// SIATEC: one TEC per MTP, with every non-zero Vector that carries the whole pattern
// onto Points of the Dataset.
#pragma once

#include <span>
#include <vector>

#include "sia.hpp"
#include "tec.hpp"

namespace motivra::sia {

// The records of every MTP of `dataset`, in the order of MtpTable::vectors, each
// with its translators in set order. Depends only on the distinct Points.
[[nodiscard]] std::vector<Tec> build_tecs_from_mtps(std::span<const Point> dataset, bool restrict_dpitch_zero);

// The same records from an existing MTP table.
[[nodiscard]] std::vector<Tec> build_tecs(const MtpTable& table);

// Throws std::bad_alloc when the records of `table` cannot fit even before their
// translators: every MTP's Points and one record per MTP. A builder calls it before
// the translator work.
void ensure_records_fit(const MtpTable& table);

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
// Looking at a handful of differences finds short lists; looking at all of them would
// cost as much as the tests they save. Differences that span the pattern are rarer than
// those between neighbours, so the probes start from its far end. A restricted table
// has lists for dpitch 0 only. Stops early when probe returns false.
// `pattern` is any run of positions with size() and operator[].
template <class Pattern, class Probe>
void probe_differences(const MtpTable& table, const Pattern& pattern, Probe&& probe) {
    constexpr std::size_t probes = 8;
    const std::uint32_t pitch0 = table.points[pattern[0]].pitch;
    const std::size_t m = pattern.size();
    const std::size_t stop = m > probes ? m - probes : 1;
    for (std::size_t j = m - 1; j >= stop; --j) {
        if (table.restrict_dpitch_zero && table.points[pattern[j]].pitch != pitch0) continue;
        if (!probe(j, table.between(pattern[0], pattern[j]))) return;
    }
}

// A superset of the translators' images of pattern[0], as positions into table.points:
// the shortest of the probed origin lists (and, for a restricted table, pattern[0]'s
// pitch row). `list_of(k)` gives the current origin list of the k-th Vector.
template <class ListOf>
[[nodiscard]] std::span<const std::uint32_t> translator_candidates(const MtpTable& table,
                                                                   std::span<const std::uint32_t> pattern,
                                                                   ListOf&& list_of) {
    std::span<const std::uint32_t> best;
    bool have = false;
    if (table.restrict_dpitch_zero) {
        best = table.row(table.row_of[pattern[0]]);
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
        const Vector c = table.points[q] - p0;
        if (c.is_zero() || (table.restrict_dpitch_zero && c.dpitch != 0)) continue;
        if (carries(pattern, c, members)) out.push_back(c);
    }
}

}  // namespace motivra::sia
