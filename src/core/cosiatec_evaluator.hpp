// COSIATEC's evaluator: bounds and exact keys of candidates, candidate k being the MTP
// of the k-th Vector among the remaining Points.
// Invariant: while candidate k's pattern keeps the size cached for it, its cached
// translator count bounds its true count from above (the pattern only loses Points,
// and a pattern of a given size that lost none has lost no Point, so it keeps or loses
// translators). Within one round, a candidate's memo holds what its evaluation found.
// Cost: a bound is O(1) from the cache or the last scan's witnesses, else one probe
// of the table; an evaluation intersects two origin lists and tests each Vector of the
// intersection against the pattern's Points until one misses, O(list x m) at worst,
// and counts the coverage, O(m x translators), only for a candidate that can still
// reach the floor.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "cosiatec_lists.hpp"
#include "cosiatec_remaining.hpp"
#include "mtp_table.hpp"
#include "tec.hpp"
#include "translators.hpp"

namespace motivra::sia::cosiatec {

// Only cosiatec.cpp includes this header: its parts have internal linkage, as the rest
// of that unit does, which lets the compiler inline the hot paths that run only there.
namespace {

// The relative margin by which the fewest translators a candidate needs to reach the
// floor is rounded down: far above the rounding error of the quotient it comes from,
// far below the gap between two distinct ratios, so that a candidate that ties with the
// best is never dropped.
inline constexpr double kNeedMargin = 1e-9;
// How many of the tested Points a scan remembers the refutations of. Most Vectors fail
// on the first tested Point or the second, so two witnesses bound a pattern that lost
// other Points almost as tightly as a new scan.
inline constexpr std::size_t kWitnesses = 2;

// p (t + 1) / (p + t): the best ratio a p-Point pattern with t translators can reach.
// It grows with both p and t, so bounds on them bound the ratio.
[[nodiscard]] inline double ratio_bound(std::size_t p, std::size_t t) {
    return static_cast<double>(p) * static_cast<double>(t + 1) / static_cast<double>(p + t);
}

struct Candidate {
    SortKey key;
    std::vector<Vector> translators;
};

// Bounds and exact keys of candidates, against the remaining Points and live lists.
class Evaluator {
public:
    Evaluator(const MtpTable& table, const LiveLists& lists, const Remaining& remaining)
        : m_table(table),
          m_lists(lists),
          m_remaining(remaining),
          m_state(table.size()),
          m_stamp(table.points().size(), 0) {}

    void start_round() {
        ++m_round;
        m_outcomes.clear();
    }

    // Whether candidate k was already evaluated in this round, directly or through
    // its partner, so that it needs no bound of its own.
    [[nodiscard]] bool partner_known(std::size_t k) const noexcept {
        const std::uint32_t partner = m_table.partner(k);
        return partner != npos32 && partner != k && m_state[slot(partner)].memo.round == m_round;
    }

    // An upper bound of the translator count of candidate k, cached while its pattern
    // keeps its size.
    std::size_t translator_bound(std::size_t k) {
        const std::size_t size = m_lists.size(k);
        if (const auto t = cached_bound(k, size)) return *t;
        const std::size_t t = fresh_bound(k);
        remember_bound(k, size, t);
        return t;
    }

    // The translator bound cached for candidate k while its pattern has `size` Points,
    // its own or its partner's (partners share their list, so their size, and their
    // translator count); nothing when neither holds one.
    [[nodiscard]] std::optional<std::size_t> cached_bound(std::size_t k, std::size_t size) const noexcept {
        const std::size_t at = slot(k);
        if (m_state[at].cached_size == size) return m_state[at].cached_t;
        if (m_table.mirrored() && m_state[at ^ 1].cached_size == size) return m_state[at ^ 1].cached_t;
        return std::nullopt;
    }

    // The exact key of candidate k, or nothing when it provably ranks below `floor`.
    std::optional<Candidate> evaluate(std::size_t k, double floor) {
        // The MTP of -v is the MTP of v moved by v, in what remains as in the whole
        // Dataset: partners share translator count and coverage size, hence ratio.
        if (partner_known(k)) return from_partner(k, m_table.partner(k), floor);
        std::optional<Candidate> result = evaluate_alone(k, floor);
        Memo& memo = m_state[slot(k)].memo;
        memo.round = m_round;
        memo.outcome = npos32;
        if (result) {
            memo.outcome = static_cast<std::uint32_t>(m_outcomes.size());
            m_outcomes.push_back(Outcome{result->key.coverage_size, result->translators});
        }
        return result;
    }

private:
    // A bound of candidate k's translator count: from the last evaluation's refutations
    // while they still hold, else from one origin list (any translator carries two
    // Points of the pattern onto a pair of the list of their difference).
    [[nodiscard]] std::size_t fresh_bound(std::size_t k) const {
        // While the pattern keeps its first Point and the anchors whose differences
        // chose the lists that the last evaluation intersected, every translator's image
        // of the first Point still lies in that intersection: only the Vectors that were
        // not refuted then, or were refuted by a Point the pattern has since lost, can
        // pass now.
        const Scan& seen = m_state[slot(k)].scan;
        if (seen.first == m_lists.first(k) && keeps(seen.anchor[0], k) && keeps(seen.anchor[1], k)) {
            std::size_t bound = seen.open;
            for (std::size_t i = 0; i < kWitnesses; ++i) {
                if (seen.refuted[i] != 0 && !in_pattern(seen.at[i], k)) bound += seen.refuted[i];
            }
            return bound;
        }
        const std::uint32_t first = m_lists.first(k);
        const std::uint32_t last = m_lists.last(k);
        if (!m_table.restricted() || m_table.point(last).pitch == m_table.point(first).pitch) {
            const std::uint32_t list = m_table.between(first, last);
            if (list != npos32) return m_lists.size(list) - 1;
        }
        if (m_table.restricted()) return m_remaining.row_size(m_table.row_of(first)) - 1;
        return m_remaining.size() - 1;
    }

    // Whether anchor position a (npos32: none) is still in candidate k's pattern.
    [[nodiscard]] bool keeps(std::uint32_t a, std::size_t k) const noexcept { return a == npos32 || in_pattern(a, k); }

    // Candidate k from its partner's evaluation in this round (its pattern is the
    // partner's moved by the partner's Vector).
    std::optional<Candidate> from_partner(std::size_t k, std::uint32_t partner, double floor) {
        const std::uint32_t at = m_state[slot(partner)].memo.outcome;
        // A partner pruned against an earlier, lower floor prunes this one too.
        if (at == npos32) return std::nullopt;
        const Outcome& memo = m_outcomes[at];
        std::vector<std::uint32_t>& pattern = m_pattern;
        m_lists.live(k).copy_to(pattern);
        const std::size_t m = pattern.size();
        Candidate c;
        shift_translators(memo.translators, m_table.vector(partner), m_table.may_wrap(), c.translators);
        c.key.coverage_size = memo.covered;
        c.key.compression_ratio = static_cast<double>(memo.covered) / static_cast<double>(m + c.translators.size());
        if (c.key.compression_ratio < floor) return std::nullopt;
        finish_key(pattern, c.key);
        return c;
    }

    // Compactness and extents: the parts of the key that depend on where the pattern is.
    void finish_key(std::span<const std::uint32_t> pattern, SortKey& key) {
        std::vector<Point>& points = m_scratch;
        points.clear();
        std::uint32_t pmin = UINT32_MAX, pmax = 0;
        for (std::uint32_t i : pattern) {
            const Point p = m_table.point(i);
            pmin = std::min(pmin, p.pitch);
            pmax = std::max(pmax, p.pitch);
            points.push_back(p);
        }
        const std::size_t inside = m_remaining.count_in_box(points.front().tick, points.back().tick, pmin, pmax);
        key.compactness = inside ? static_cast<double>(points.size()) / static_cast<double>(inside) : 0.0;
        pattern_extents(points, key);
    }

    // The two shortest lists among those that every translator's image of the pattern's
    // first Point must lie in: the lists of a few differences from the first Point (and,
    // for a restricted table, its pitch row). An anchor is the position of the Point
    // whose difference chose a list (npos32 for the row or no list), and `index` its
    // place in the pattern (0 for none: the first Point is never an anchor).
    struct Lists {
        std::array<ListView, 2> list;
        std::array<std::uint32_t, 2> anchor{npos32, npos32};
        std::array<std::size_t, 2> index{0, 0};
        std::size_t count = 0;

        void consider(ListView l, std::uint32_t a, std::size_t i) {
            if (count == 2 && l.size() >= list[1].size()) return;
            const std::size_t at = count < 2 ? count++ : 1;
            list[at] = l;
            anchor[at] = a;
            index[at] = i;
            if (at == 1 && list[1].size() < list[0].size()) {
                std::swap(list[0], list[1]);
                std::swap(anchor[0], anchor[1]);
                std::swap(index[0], index[1]);
            }
        }
    };
    [[nodiscard]] Lists shortest_lists(const ListView& pattern) const {
        Lists out;
        if (m_table.restricted()) {
            const auto row = m_table.row(m_table.row_of(pattern[0]));
            out.consider(ListView{row.data(), row.size()}, npos32, 0);
        }
        probe_differences(m_table, pattern, [&](std::size_t j, std::uint32_t at) {
            if (at == npos32) {
                // No other Vector carries both Points into the Dataset: no translator.
                out = Lists{};
                out.consider({}, pattern[j], j);
                return false;
            }
            out.consider(m_lists.live(at), pattern[j], j);
            return true;
        });
        return out;
    }

    // The positions in both ascending lists, into m_common.
    void intersect(ListView a, ListView b) {
        std::vector<std::uint32_t>& out = m_common;
        out.resize(std::min(a.size(), b.size()));
        // Branch-free: which side advances is unpredictable.
        std::size_t i = 0, j = 0, n = 0;
        while (i < a.size() && j < b.size()) {
            const std::uint32_t x = a[i], y = b[j];
            out[n] = x;
            n += x == y;
            i += x <= y;
            j += y <= x;
        }
        out.resize(n);
    }

    // The fewest translators that could lift an m-Point pattern to `floor`, or nothing
    // when even infinitely many fall short: m (t + 1) / (m + t) >= floor needs
    // t >= m (floor - 1) / (m - floor).
    [[nodiscard]] static std::optional<std::size_t> translators_needed(std::size_t m, double floor) noexcept {
        const double fm = static_cast<double>(m);
        if (floor >= fm) return std::nullopt;
        const double exact = floor <= 1.0 ? 0.0 : fm * (floor - 1.0) / (fm - floor);
        const double want = std::ceil(exact - kNeedMargin * std::max(1.0, exact));
        return want > 0.0 ? static_cast<std::size_t>(want) : 0;
    }

    std::optional<Candidate> evaluate_alone(std::size_t k, double floor) {
        // Most evaluations end at the candidates' count, having read only the pattern's
        // first and last Points: it is copied out only when the scan goes on.
        const ListView view = m_lists.live(k);
        const std::size_t m = view.size();
        const std::optional<std::size_t> need = translators_needed(m, floor);
        if (!need) return std::nullopt;
        const Lists lists = gather_candidates(k, view);
        const std::size_t left = m_common.size();
        if (left == 0 || left - 1 < *need) {  // one candidate is the zero Vector
            remember_bound(k, m, left == 0 ? 0 : left - 1);
            m_refuted.fill(0);
            m_tested.clear();
            remember_witness(k, left == 0 ? 0 : left - 1);
            return std::nullopt;
        }
        std::vector<std::uint32_t>& pattern = m_pattern;
        view.copy_to(pattern);
        // The pattern's Points to test, in order; the anchors' Points pass by construction.
        m_tested.clear();
        for (std::size_t j = 1; j < m; ++j) {
            if (j != lists.index[0] && j != lists.index[1]) m_tested.push_back(pattern[j]);
        }
        if (!collect(k, *need)) return std::nullopt;
        const std::size_t t = m_found.size();
        if (t == 0 || ratio_bound(m, t) < floor) return std::nullopt;

        const std::size_t covered = coverage_size(pattern, m_found);
        const double ratio = static_cast<double>(covered) / static_cast<double>(m + t);
        if (ratio < floor) return std::nullopt;
        Candidate c;
        c.key.coverage_size = covered;
        c.key.compression_ratio = ratio;
        c.translators.assign(m_found.begin(), m_found.end());
        normalize_translators(c.translators);
        finish_key(pattern, c.key);
        return c;
    }

    // The candidates for the image of the first Point of candidate k's pattern `view`,
    // into m_common: the shortest list, or the intersection of the two shortest when
    // they are both ascending. Records the scan's first Point and anchors; returns the
    // lists whose anchors need no test.
    Lists gather_candidates(std::size_t k, const ListView& view) {
        Lists lists = shortest_lists(view);
        if (lists.count == 2 && !m_table.may_wrap()) {
            intersect(lists.list[0], lists.list[1]);
        } else {
            lists.list[0].copy_to(m_common);
            lists.anchor[1] = npos32;
            lists.index[1] = 0;
        }
        Scan& scan = m_state[slot(k)].scan;
        scan.first = view[0];
        scan.anchor = lists.anchor;
        return lists;
    }

    // Collects into m_found the candidates of m_common that carry the pattern
    // (m_pattern, tested at m_tested), giving up as soon as even every untested
    // candidate passing could not reach `need`; false then. Vectors refuted by the
    // first tested Points are counted apart from the others (see fresh_bound). Either
    // way the bound and the witnesses of candidate k are remembered.
    bool collect(std::size_t k, std::size_t need) {
        const std::size_t m = m_pattern.size();
        // Most candidates fail on their first test or two, so each moved Point is tested
        // on its own rather than after preparing the whole pattern. Returns the index of
        // the first tested Point that misses, plus one, or 0 when none does.
        const Point p0 = m_table.point(m_pattern[0]);
        auto miss = [&](Vector v) -> std::size_t {
            for (std::size_t j = 0; j < m_tested.size(); ++j) {
                if (!m_remaining.contains(m_table.point(m_tested[j]) + v)) return j + 1;
            }
            return 0;
        };
        std::vector<Vector>& found = m_found;
        found.clear();
        std::array<std::size_t, kWitnesses>& refuted = m_refuted;
        refuted.fill(0);
        std::size_t by_other = 0;
        std::size_t left = m_common.size();
        for (std::uint32_t q : m_common) {
            --left;
            const Point to = m_table.point(q);
            const Vector v = to - p0;
            if (v.is_zero() || (m_table.restricted() && v.dpitch != 0) || !m_remaining.alive(q)) continue;
            const std::size_t j = miss(v);
            if (j == 0) {
                found.push_back(v);
                continue;
            }
            ++(j <= kWitnesses ? refuted[j - 1] : by_other);
            if (found.size() + left < need) {
                remember_bound(k, m, found.size() + left);  // still a bound while the pattern stays
                remember_witness(k, found.size() + by_other + left);
                return false;
            }
        }
        remember_bound(k, m, found.size());
        remember_witness(k, found.size() + by_other);
        return true;
    }

    // Whether position i is in candidate k's current pattern (it and its image remain).
    [[nodiscard]] bool in_pattern(std::uint32_t i, std::size_t k) const noexcept {
        return m_remaining.alive(i) && m_remaining.contains(m_table.point(i) + m_table.vector(k));
    }

    // Records the last scan of candidate k: `open` Vectors not refuted by the first
    // tested Points, and m_refuted[i] refuted by the (i + 1)-th. Counts stay below the
    // number of Points.
    void remember_witness(std::size_t k, std::size_t open) noexcept {
        Scan& w = m_state[slot(k)].scan;
        w.open = static_cast<std::uint32_t>(open);
        for (std::size_t i = 0; i < kWitnesses; ++i) {
            w.at[i] = i < m_tested.size() ? m_tested[i] : npos32;
            w.refuted[i] = static_cast<std::uint32_t>(m_refuted[i]);
        }
    }

    void remember_bound(std::size_t k, std::size_t size, std::size_t t) noexcept {
        State& state = m_state[slot(k)];
        state.cached_size = static_cast<std::uint32_t>(size);  // both below the number of Points
        state.cached_t = static_cast<std::uint32_t>(t);
    }

    // The pattern and its translates, each Point counted once.
    std::size_t coverage_size(std::span<const std::uint32_t> pattern, std::span<const Vector> translators) {
        if (++m_epoch == 0) {
            std::fill(m_stamp.begin(), m_stamp.end(), 0);
            m_epoch = 1;
        }
        std::size_t covered = 0;
        for (std::uint32_t i : pattern) {
            m_stamp[i] = m_epoch;
            ++covered;
        }
        for (const Vector& v : translators) {
            for (std::uint32_t i : pattern) {
                const std::uint32_t at = m_remaining.position(m_table.point(i) + v);
                if (m_stamp[at] != m_epoch) {
                    m_stamp[at] = m_epoch;
                    ++covered;
                }
            }
        }
        return covered;
    }

    const MtpTable& m_table;
    const LiveLists& m_lists;
    const Remaining& m_remaining;
    [[nodiscard]] std::size_t slot(std::size_t k) const noexcept { return slot_of(m_table, k); }

    // What the last scan of a candidate found. It intersected the lists chosen by the
    // anchors' differences from `first`; `open` counts the Vectors in that intersection
    // that passed, or were refuted by a later Point than those kept, or were not tested;
    // refuted[i] those refuted by the Point at position at[i].
    struct Scan {
        std::uint32_t first = npos32;  // npos32: no scan yet
        std::uint32_t open = 0;
        std::array<std::uint32_t, 2> anchor{npos32, npos32};
        std::array<std::uint32_t, kWitnesses> at{npos32, npos32};
        std::array<std::uint32_t, kWitnesses> refuted{};
    };
    // What evaluating a candidate found in round `round`: pruned (npos32), or the
    // position of its coverage size and translators among this round's outcomes.
    struct Memo {
        std::uint32_t round = 0;
        std::uint32_t outcome = npos32;
    };
    // Everything kept per candidate, together so that one visit touches one place.
    struct State {
        std::uint32_t cached_size = 0;  // the pattern size for which cached_t holds
        std::uint32_t cached_t = 0;
        Memo memo;
        Scan scan;
    };
    std::vector<State> m_state;                       // by slot_of()
    std::vector<std::uint32_t> m_common;              // the intersection under way
    std::vector<std::uint32_t> m_pattern;             // the pattern under evaluation
    std::vector<std::uint32_t> m_tested;              // the pattern positions a scan tests
    std::array<std::size_t, kWitnesses> m_refuted{};  // the counts of the scan under way
    struct Outcome {
        std::size_t covered;
        std::vector<Vector> translators;
    };
    std::vector<Outcome> m_outcomes;
    std::uint32_t m_round = 0;
    std::vector<std::uint32_t> m_stamp;  // coverage counting: positions seen in this epoch
    std::uint32_t m_epoch = 0;
    std::vector<Point> m_scratch;
    std::vector<Vector> m_found;
};

}  // namespace

}  // namespace motivra::sia::cosiatec
