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

// A superset of the translators' images of pattern[0], as positions into table.points:
// the shortest origin list that every translator must pass through. A translator c
// carries pattern[0] onto a Point q with q + (pattern[k] - pattern[0]) in the Dataset,
// so q lies among the origins of that difference for every k.
// `list_of(k)` gives the current origin list of the k-th Vector and `row` the candidates
// of a restricted table's pattern[0] row.
template <class ListOf>
[[nodiscard]] std::span<const std::uint32_t> translator_candidates(const MtpTable& table,
                                                                   std::span<const std::uint32_t> pattern,
                                                                   ListOf&& list_of) {
    // Looking at a handful of differences finds a short list; looking at all of them
    // would cost as much as the test it saves. Differences that span the pattern are
    // rarer than those between neighbours, so the probes start from its far end.
    constexpr std::size_t probes = 8;
    std::span<const std::uint32_t> best;
    bool have = false;
    if (table.restrict_dpitch_zero) {
        best = table.row(table.row_of[pattern[0]]);
        have = true;
    }
    const Point p0 = table.points[pattern[0]];
    const std::size_t m = pattern.size();
    const std::size_t stop = m > probes ? m - probes : 1;
    for (std::size_t k = m - 1; k >= stop; --k) {
        const Vector w = table.points[pattern[k]] - p0;
        if (table.restrict_dpitch_zero && w.dpitch != 0) continue;
        const std::uint32_t at = table.find(w);
        if (at == npos32) continue;
        const std::span<const std::uint32_t> list = list_of(at);
        if (!have || list.size() < best.size()) {
            best = list;
            have = true;
        }
    }
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
