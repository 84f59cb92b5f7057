// COSIATEC without rebuilding: SIA runs once, and the MTPs of the remaining Points are
// the full MTPs with every origin pair that touches a covered Point filtered out. A
// round costs the covered Points times the Points to find the lists that changed, one
// pass over those lists, fresh bounds for the candidates whose patterns changed, and
// the exact evaluation of the few candidates whose ratio bound can still beat the best.
//
// Five parts, each with one job:
//   Remaining       the Points not yet covered: flags, membership, counts in a box;
//   LiveLists       the origin lists of the remaining Points, one per kept Vector;
//   Evaluator       bounds and exact keys of candidates (candidate k is the MTP of the
//                   k-th Vector among the remaining Points);
//   CandidateQueue  the unchanged candidates, filed by their ratio bounds;
//   Compressor      the greedy loop: choose the best candidate, cover it, repeat.
#include "cosiatec.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <optional>

#include "sia.hpp"
#include "siatec.hpp"

namespace motivra::sia {

namespace {

// Counts Points inside a box: one sorted tick run per distinct pitch.
class BoxCounter {
public:
    void rebuild(std::span<const Point> points, std::span<const std::uint8_t> alive) {
        m_pitches.clear();
        m_offsets.clear();
        m_ticks.clear();
        std::vector<std::pair<std::uint32_t, std::uint32_t>> by_pitch;  // (pitch, tick)
        for (std::size_t i = 0; i < points.size(); ++i) {
            if (alive[i]) by_pitch.emplace_back(points[i].pitch, points[i].tick);
        }
        std::sort(by_pitch.begin(), by_pitch.end());
        for (std::size_t i = 0; i < by_pitch.size(); ++i) {
            if (i == 0 || by_pitch[i].first != by_pitch[i - 1].first) {
                m_pitches.push_back(by_pitch[i].first);
                m_offsets.push_back(i);
            }
            m_ticks.push_back(by_pitch[i].second);
        }
        m_offsets.push_back(by_pitch.size());
    }

    [[nodiscard]] std::size_t count(std::uint32_t tmin, std::uint32_t tmax, std::uint32_t pmin,
                                    std::uint32_t pmax) const {
        std::size_t total = 0;
        const auto lo = std::lower_bound(m_pitches.begin(), m_pitches.end(), pmin) - m_pitches.begin();
        for (auto r = static_cast<std::size_t>(lo); r < m_pitches.size() && m_pitches[r] <= pmax; ++r) {
            const auto first = m_ticks.begin() + static_cast<std::ptrdiff_t>(m_offsets[r]);
            const auto last = m_ticks.begin() + static_cast<std::ptrdiff_t>(m_offsets[r + 1]);
            total +=
                static_cast<std::size_t>(std::upper_bound(first, last, tmax) - std::lower_bound(first, last, tmin));
        }
        return total;
    }

private:
    std::vector<std::uint32_t> m_pitches;
    std::vector<std::size_t> m_offsets;
    std::vector<std::uint32_t> m_ticks;
};

// The Points not yet covered, by position into the table's sorted Points.
// Invariant: alive(i) <=> contains(points[i]); size() is the number of live positions
// and, for a restricted table, row_size(r) the number of live positions in pitch row r.
// The box counter reflects the live Points as of the last start_round().
class Remaining {
public:
    explicit Remaining(const MtpTable& table)
        : m_table(table),
          m_index(table.points),
          m_members(table.points, table.origins.size()),
          m_alive(table.points.size(), 1),
          m_size(table.points.size()) {
        if (table.restrict_dpitch_zero) {
            m_row_size.resize(table.row_offsets.size() - 1);
            for (std::size_t r = 0; r + 1 < table.row_offsets.size(); ++r) {
                m_row_size[r] = table.row_offsets[r + 1] - table.row_offsets[r];
            }
        }
    }

    [[nodiscard]] std::size_t size() const noexcept { return m_size; }
    [[nodiscard]] bool alive(std::size_t i) const noexcept { return m_alive[i] != 0; }
    [[nodiscard]] const std::uint8_t* flags() const noexcept { return m_alive.data(); }  // 0 or 1 each
    [[nodiscard]] bool contains(Point p) const noexcept { return m_members.contains(p); }
    [[nodiscard]] std::uint32_t position(Point p) const noexcept { return m_index.find(p); }
    [[nodiscard]] std::size_t row_size(std::uint32_t row) const noexcept { return m_row_size[row]; }

    void start_round() {
        m_boxes.rebuild(m_table.points, m_alive);
        m_removed.clear();
    }
    // The positions removed since the round started.
    [[nodiscard]] std::span<const std::uint32_t> removed() const noexcept { return m_removed; }
    // The live Points inside the box, as of the round's start.
    [[nodiscard]] std::size_t count_in_box(std::uint32_t tmin, std::uint32_t tmax, std::uint32_t pmin,
                                           std::uint32_t pmax) const {
        return m_boxes.count(tmin, tmax, pmin, pmax);
    }

    void remove(std::uint32_t i) {
        if (!m_alive[i]) return;
        m_alive[i] = 0;
        m_removed.push_back(i);
        m_members.erase(m_table.points[i]);
        --m_size;
        if (m_table.restrict_dpitch_zero) --m_row_size[m_table.row_of[i]];
    }

private:
    const MtpTable& m_table;
    PointIndex m_index;
    PointSet m_members;
    std::vector<std::uint8_t> m_alive;
    std::size_t m_size;
    std::vector<std::size_t> m_row_size;
    BoxCounter m_boxes;
    std::vector<std::uint32_t> m_removed;
};

// A run of positions stored in 32-bit words, each read as (word >> shift) & mask: a
// list's origins or targets, alone or packed in pairs.
struct ListView {
    const std::uint32_t* data = nullptr;
    std::size_t count = 0;
    unsigned shift = 0;
    std::uint32_t mask = UINT32_MAX;

    [[nodiscard]] std::size_t size() const noexcept { return count; }
    [[nodiscard]] std::uint32_t operator[](std::size_t i) const noexcept { return (data[i] >> shift) & mask; }
    // The positions, into `out` (overwritten).
    void copy_to(std::vector<std::uint32_t>& out) const {
        out.resize(count);
        for (std::size_t i = 0; i < count; ++i) out[i] = (*this)[i];
    }
};

// The origin lists of the remaining Points, filtered in place inside the table.
// Invariant, after drop_covered(): every list holds exactly the pairs (o, o + v), origins
// ascending, with o and o + v both remaining; when there are two or more, they are the
// MTP of v among the remaining Points. In a mirrored table one stored list serves a
// Vector and its negation. A packed table (positions in 16 bits) keeps each pair in one
// word: half the memory, and half the traffic of filtering.
class LiveLists {
public:
    explicit LiveLists(MtpTable& table)
        : m_table(table),
          m_packed(table.packed),
          m_size(table.offsets.size() - 1),
          m_ends(m_size.size()),
          m_dirty((m_size.size() + 63) / 64, 0),
          m_pending(table.points.size(), 0) {
        // A list holds at most one pair per Point, and positions are 32-bit.
        for (std::size_t s = 0; s < m_size.size(); ++s) {
            m_size[s] = static_cast<std::uint32_t>(table.offsets[s + 1] - table.offsets[s]);
            if (m_size[s] > 0) remember_ends(s, table.offsets[s], table.offsets[s + 1]);
            m_changed.push_back(static_cast<std::uint32_t>(s));
        }
    }

    // The origins of candidate k's live pairs, ascending.
    [[nodiscard]] ListView live(std::size_t k) const noexcept {
        const auto [list, reversed] = m_table.list_of(k);
        if (m_packed)
            return {m_table.origins.data() + m_table.offsets[list], m_size[list], reversed ? 0u : 16u, 0xffff};
        const std::uint32_t* base = reversed ? m_table.targets.data() : m_table.origins.data();
        return {base + m_table.offsets[list], m_size[list]};
    }
    [[nodiscard]] std::size_t size(std::size_t k) const noexcept {
        const std::size_t list = m_table.list_of(k).list;
        return m_size[list];
    }
    // live(k).front() and live(k).back(), kept beside the sizes so that reading them
    // does not reach into the table (k's list must hold a pair).
    [[nodiscard]] std::uint32_t first(std::size_t k) const noexcept {
        const auto [list, reversed] = m_table.list_of(k);
        return m_ends[list][reversed ? 1 : 0];
    }
    [[nodiscard]] std::uint32_t last(std::size_t k) const noexcept {
        const auto [list, reversed] = m_table.list_of(k);
        return m_ends[list][reversed ? 3 : 2];
    }
    // Calls f(k) for every Vector whose list lost pairs in the last drop_covered(), or
    // for every Vector with a list before the first.
    template <class F>
    void for_each_changed(F&& f) const {
        for (const std::uint32_t s : m_changed) {
            f(s);
            if (m_table.mirrored) f(2 * m_table.forward - 1 - s);
        }
    }

    // Drops the pairs of the Points just covered (`covered`, positions no longer alive)
    // from their lists; the survivors keep their ascending order. Only the lists that
    // hold such a pair are touched: they are found from the covered Points' differences
    // to the Points that were alive before, so a round costs the covered Points times
    // the Points, plus the length of the lists that changed.
    void drop_covered(std::span<const std::uint32_t> covered, const std::uint8_t* alive, Monitor* monitor) {
        for (const std::uint32_t x : covered) m_pending[x] = 1;
        auto mark = [&](std::uint32_t x, std::uint32_t y) {
            const std::uint32_t k = m_table.between(x, y);
            if (k == npos32) return;  // a Vector of one pair keeps no list
            const std::size_t s = m_table.list_of(k).list;
            m_dirty[s >> 6] |= std::uint64_t{1} << (s & 63);
            if (!m_table.mirrored) {  // the pair is stored under both of its Vectors
                const std::size_t r = m_table.list_of(m_table.partner(k)).list;
                m_dirty[r >> 6] |= std::uint64_t{1} << (r & 63);
            }
        };
        for (const std::uint32_t x : covered) {
            tick(monitor);
            // Each pair once: with the Points alive, and with the covered ones not yet done.
            auto visit = [&](std::uint32_t y) {
                if (alive[y] | m_pending[y]) mark(x, y);
            };
            m_pending[x] = 0;
            if (m_table.restrict_dpitch_zero) {
                for (const std::uint32_t y : m_table.row(m_table.row_of[x])) visit(y);
            } else {
                for (std::uint32_t y = 0; y < m_table.points.size(); ++y) visit(y);
            }
        }
        m_changed.clear();
        for (std::size_t word = 0; word < m_dirty.size(); ++word) {
            for (std::uint64_t bits = m_dirty[word]; bits != 0; bits &= bits - 1) {
                m_changed.push_back(
                    static_cast<std::uint32_t>(word * 64 + static_cast<std::size_t>(std::countr_zero(bits))));
            }
            m_dirty[word] = 0;
        }
        for (const std::uint32_t s : m_changed) {
            tick(monitor);
            const std::size_t begin = m_table.offsets[s];
            const std::size_t end = begin + m_size[s];
            const std::size_t out = m_packed ? filter_packed(begin, end, alive) : filter(begin, end, alive);
            m_size[s] = static_cast<std::uint32_t>(out - begin);
            if (out > begin) remember_ends(s, begin, out);
        }
    }

private:
    // Keeps the live pairs among entries [begin, end), in order; returns where they end.
    // Branch-free: whether a pair survives is unpredictable, so every pair is copied and
    // the cursor only advances past survivors.
    std::size_t filter(std::size_t begin, std::size_t end, const std::uint8_t* alive) noexcept {
        std::uint32_t* origins = m_table.origins.data();
        std::uint32_t* targets = m_table.targets.data();
        std::size_t out = begin;
        for (std::size_t e = begin; e < end; ++e) {
            const std::uint32_t o = origins[e], t = targets[e];
            origins[out] = o;
            targets[out] = t;
            out += alive[o] & alive[t];
        }
        return out;
    }
    std::size_t filter_packed(std::size_t begin, std::size_t end, const std::uint8_t* alive) noexcept {
        std::uint32_t* pairs = m_table.origins.data();
        std::size_t out = begin;
        for (std::size_t e = begin; e < end; ++e) {
            const std::uint32_t pair = pairs[e];
            pairs[out] = pair;
            out += alive[pair >> 16] & alive[pair & 0xffff];
        }
        return out;
    }

    // The origin and target of entry e.
    [[nodiscard]] std::pair<std::uint32_t, std::uint32_t> pair_at(std::size_t e) const noexcept {
        const std::uint32_t word = m_table.origins[e];
        if (m_packed) return {word >> 16, word & 0xffff};
        return {word, m_table.targets[e]};
    }
    void remember_ends(std::size_t s, std::size_t begin, std::size_t end) noexcept {
        const auto [o0, t0] = pair_at(begin);
        const auto [o1, t1] = pair_at(end - 1);
        m_ends[s] = {o0, t0, o1, t1};
    }

    MtpTable& m_table;
    bool m_packed;                      // whether the origins hold packed pairs
    std::vector<std::uint32_t> m_size;  // how many live pairs each stored list holds
    // The first live origin and target of each list, then the last ones.
    std::vector<std::array<std::uint32_t, 4>> m_ends;
    std::vector<std::uint32_t> m_changed;  // the stored lists that lost pairs last time
    std::vector<std::uint64_t> m_dirty;    // the stored lists that lose pairs now, as bits
    std::vector<std::uint8_t> m_pending;   // covered Points whose pairs are not yet marked
};

// Where candidate k's state sits in the per-candidate arrays: a Vector beside its
// negation when they share a stored list, so that visiting both touches one place.
[[nodiscard]] std::size_t slot_of(const MtpTable& table, std::size_t k) noexcept {
    if (!table.mirrored) return k;
    const auto [list, reversed] = table.list_of(k);
    return 2 * list + (reversed ? 1 : 0);
}
[[nodiscard]] std::uint32_t candidate_of(const MtpTable& table, std::size_t slot) noexcept {
    if (!table.mirrored) return static_cast<std::uint32_t>(slot);
    const std::size_t list = slot / 2;
    return static_cast<std::uint32_t>(slot % 2 == 0 ? list : 2 * table.forward - 1 - list);
}

// p (t + 1) / (p + t): the best ratio a p-Point pattern with t translators can reach.
// It grows with both p and t, so bounds on them bound the ratio.
double ratio_bound(std::size_t p, std::size_t t) {
    return static_cast<double>(p) * static_cast<double>(t + 1) / static_cast<double>(p + t);
}

struct Candidate {
    SortKey key;
    std::vector<Vector> translators;
};

// Bounds and exact keys of candidates, against the remaining Points and live lists.
// Invariant: while candidate k's pattern keeps the size cached for it, its cached
// translator count bounds its true count from above (the pattern only loses Points,
// and a pattern of a given size that lost none has lost no Point, so it keeps or loses
// translators). Within one round, a candidate's memo holds what its evaluation found.
class Evaluator {
public:
    Evaluator(const MtpTable& table, const LiveLists& lists, const Remaining& remaining)
        : m_table(table),
          m_lists(lists),
          m_remaining(remaining),
          m_state(table.size()),
          m_stamp(table.points.size(), 0) {}

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
        if (m_table.mirrored && m_state[at ^ 1].cached_size == size) return m_state[at ^ 1].cached_t;
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
        if (!m_table.restrict_dpitch_zero || m_table.points[last].pitch == m_table.points[first].pitch) {
            const std::uint32_t list = m_table.between(first, last);
            if (list != npos32) return m_lists.size(list) - 1;
        }
        if (m_table.restrict_dpitch_zero) return m_remaining.row_size(m_table.row_of[first]) - 1;
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
        shift_translators(memo.translators, m_table.vectors[partner], m_table.may_wrap, c.translators);
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
            const Point p = m_table.points[i];
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
        if (m_table.restrict_dpitch_zero) {
            const auto row = m_table.row(m_table.row_of[pattern[0]]);
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

    std::optional<Candidate> evaluate_alone(std::size_t k, double floor) {
        // Most evaluations end at the candidates' count, having read only the pattern's
        // first and last Points: it is copied out only when the scan goes on.
        const ListView view = m_lists.live(k);
        const std::size_t m = view.size();
        // The fewest translators that could lift an m-Point pattern to the floor:
        // m (t + 1) / (m + t) >= floor needs t >= m (floor - 1) / (m - floor). The
        // quotient is rounded up less a relative billionth, far above its rounding
        // error, so that a candidate that ties is never dropped.
        const double fm = static_cast<double>(m);
        if (floor >= fm) return std::nullopt;  // even infinitely many translators fall short
        const double exact = floor <= 1.0 ? 0.0 : fm * (floor - 1.0) / (fm - floor);
        const double want = std::ceil(exact - 1e-9 * std::max(1.0, exact));
        const std::size_t need = want > 0.0 ? static_cast<std::size_t>(want) : 0;

        // The candidates for the first Point's image: the shortest list, or the
        // intersection of the two shortest when they are both ascending.
        Lists lists = shortest_lists(view);
        if (lists.count == 2 && !m_table.may_wrap) {
            intersect(lists.list[0], lists.list[1]);
        } else {
            lists.list[0].copy_to(m_common);
            lists.anchor[1] = npos32;
            lists.index[1] = 0;
        }
        Scan& scan = m_state[slot(k)].scan;
        scan.first = view[0];
        scan.anchor = lists.anchor;
        const std::span<const std::uint32_t> candidates = m_common;
        std::size_t left = candidates.size();
        if (left == 0 || left - 1 < need) {  // one candidate is the zero Vector
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
        // Most candidates fail on their first test or two, so each moved Point is tested
        // on its own rather than after preparing the whole pattern. Returns the index of
        // the first tested Point that misses, plus one, or 0 when none does.
        const Point p0 = m_table.points[pattern[0]];
        auto miss = [&](Vector v) -> std::size_t {
            for (std::size_t j = 0; j < m_tested.size(); ++j) {
                if (!m_remaining.contains(m_table.points[m_tested[j]] + v)) return j + 1;
            }
            return 0;
        };
        // Collect the translators, giving up as soon as even every untested candidate
        // passing could not reach the number needed. Vectors refuted by the first tested
        // Points are counted apart from the others (see fresh_bound).
        std::vector<Vector>& found = m_found;
        found.clear();
        std::array<std::size_t, kWitnesses>& refuted = m_refuted;
        refuted.fill(0);
        std::size_t by_other = 0;
        for (std::uint32_t q : candidates) {
            --left;
            const Point to = m_table.points[q];
            const Vector v = to - p0;
            if (v.is_zero() || (m_table.restrict_dpitch_zero && v.dpitch != 0) || !m_remaining.alive(q)) continue;
            const std::size_t j = miss(v);
            if (j == 0) {
                found.push_back(v);
                continue;
            }
            ++(j <= kWitnesses ? refuted[j - 1] : by_other);
            if (found.size() + left < need) {
                remember_bound(k, m, found.size() + left);  // still a bound while the pattern stays
                remember_witness(k, found.size() + by_other + left);
                return std::nullopt;
            }
        }
        const std::size_t t = found.size();
        remember_bound(k, m, t);
        remember_witness(k, t + by_other);
        if (t == 0 || ratio_bound(m, t) < floor) return std::nullopt;

        const std::size_t covered = coverage_size(pattern, found);
        const double ratio = static_cast<double>(covered) / static_cast<double>(m + t);
        if (ratio < floor) return std::nullopt;
        Candidate c;
        c.key.coverage_size = covered;
        c.key.compression_ratio = ratio;
        c.translators.assign(found.begin(), found.end());
        normalize_translators(c.translators);
        finish_key(pattern, c.key);
        return c;
    }

    // Whether position i is in candidate k's current pattern (it and its image remain).
    [[nodiscard]] bool in_pattern(std::uint32_t i, std::size_t k) const noexcept {
        return m_remaining.alive(i) && m_remaining.contains(m_table.points[i] + m_table.vectors[k]);
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
                const std::uint32_t at = m_remaining.position(m_table.points[i] + v);
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

    static constexpr std::size_t kWitnesses = 2;
    // What the last scan of a candidate found. It intersected the lists chosen by the
    // anchors' differences from `first`; `open` counts the Vectors in that intersection
    // that passed, or were refuted by a later Point than those kept, or were not tested;
    // refuted[i] those refuted by the Point at position at[i]. Most Vectors fail on the
    // first tested Point or the second, so two witnesses bound a pattern that lost
    // other Points almost as tightly as a new scan.
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

// The candidates whose patterns have not changed since they were last bounded, in
// buckets by that bound, so that a round visits only those that can still reach the
// floor. Invariant: a candidate has at most one live entry, in bucket b at position i
// exactly when where(k) == b and pos(k) == i; its bucket's ceiling bounds its ratio
// while its pattern stays as it is. Entries left behind by moves are dead, skipped,
// and swept out once they outnumber the live ones. Candidates are named by their slots
// (slot_of), which keeps a Vector's entry beside its negation's.
class CandidateQueue {
public:
    explicit CandidateQueue(std::size_t candidates) : m_where(candidates, kNone), m_pos(candidates, 0) {}

    // Files candidate k under `bound`, a bound of its ratio.
    void put(std::uint32_t k, double bound) {
        const std::uint16_t b = bucket_of(bound);
        if (m_where[k] == b) return;
        if (m_where[k] == kNone) ++m_live;
        m_where[k] = b;
        m_pos[k] = static_cast<std::uint32_t>(m_buckets[b].size());
        m_buckets[b].push_back(k);
        ++m_entries;
    }
    // Drops candidate k's entry (its pattern changed, or it can never be chosen).
    void forget(std::uint32_t k) noexcept {
        if (m_where[k] == kNone) return;
        m_where[k] = kNone;
        --m_live;
    }

    // Calls f(k) for every live entry whose bucket's ceiling reaches floor(), from the
    // top bucket down; floor() may rise meanwhile, and f may put or forget k.
    template <class Floor, class F>
    void visit(Floor&& floor, F&& f) {
        for (std::size_t b = kBuckets; b-- > 0;) {
            if (ceiling(b) < floor()) return;
            sweep(b);
            std::vector<std::uint32_t>& bucket = m_buckets[b];
            const std::size_t n = bucket.size();
            for (std::size_t i = 0; i < n; ++i) {
                const std::uint32_t k = bucket[i];
                if (m_where[k] == b && m_pos[k] == i) f(k);
            }
        }
    }

    // Sweeps every bucket when dead entries outnumber the live ones.
    void tidy() {
        if (m_entries <= 2 * m_live + 4096) return;
        for (std::size_t b = 0; b < kBuckets; ++b) sweep(b);
    }

private:
    static constexpr std::uint16_t kNone = UINT16_MAX;
    static constexpr std::size_t kBuckets = 1024;
    static constexpr double kPerUnit = 32.0;  // buckets per unit of ratio; the top one is open

    static std::uint16_t bucket_of(double bound) noexcept {
        const double at = bound * kPerUnit;
        return at >= static_cast<double>(kBuckets - 1) ? kBuckets - 1 : static_cast<std::uint16_t>(at);
    }
    static double ceiling(std::size_t b) noexcept {
        return b + 1 == kBuckets ? HUGE_VAL : static_cast<double>(b + 1) / kPerUnit;
    }

    void sweep(std::size_t b) {
        std::vector<std::uint32_t>& bucket = m_buckets[b];
        std::size_t out = 0;
        for (std::size_t i = 0; i < bucket.size(); ++i) {
            const std::uint32_t k = bucket[i];
            if (m_where[k] != b || m_pos[k] != i) continue;
            m_pos[k] = static_cast<std::uint32_t>(out);
            bucket[out++] = k;
        }
        m_entries -= bucket.size() - out;
        bucket.resize(out);
    }

    std::array<std::vector<std::uint32_t>, kBuckets> m_buckets;
    std::vector<std::uint16_t> m_where;
    std::vector<std::uint32_t> m_pos;
    std::size_t m_live = 0;
    std::size_t m_entries = 0;
};

// The greedy loop. Invariant at the start of every round: the live lists, the remaining
// Points and the evaluator's caches all describe the Points not yet covered; every
// admitted candidate whose list did not change last round is filed in the queue under
// a bound that still holds, and the changed ones are named by the live lists; the
// result holds the TECs chosen so far, in the order chosen.
class Compressor {
public:
    Compressor(std::span<const Point> dataset, const CompressOptions& options)
        : m_options(options),
          m_table(sia_table(dataset, options.restrict_dpitch_zero, true, options.monitor)),
          m_remaining(m_table),
          m_lists(m_table),
          m_evaluator(m_table, m_lists, m_remaining),
          m_queue(m_table.size()),
          m_done(m_table.size(), 0) {}

    std::vector<Tec> run() {
        std::vector<Tec> result;
        bool first = true;
        while (m_remaining.size() > 0) {
            if (!first) m_lists.drop_covered(m_remaining.removed(), m_remaining.flags(), m_options.monitor);
            first = false;
            m_remaining.start_round();
            const std::optional<std::size_t> chosen = choose();
            if (!chosen) break;
            Candidate& best = *m_best;
            std::vector<std::uint32_t> pattern;
            m_lists.live(*chosen).copy_to(pattern);
            std::vector<Point> points;
            points.reserve(pattern.size());
            for (std::uint32_t i : pattern) points.push_back(m_table.points[i]);
            cover(pattern, best.translators);
            result.emplace_back(std::move(points), std::move(best.translators));
            if (m_options.monitor && m_options.report) {
                m_options.monitor->report(m_table.points.size() - m_remaining.size(), m_table.points.size(),
                                          result.size());
            }
        }
        for (std::size_t i = 0; i < m_table.points.size(); ++i) {
            if (m_remaining.alive(i)) {
                result.emplace_back(std::vector<Point>{m_table.points[i]}, std::vector<Vector>{});
            }
        }
        // The final state: the one-Point TECs cover the rest.
        if (m_options.monitor && m_options.report) {
            m_options.monitor->report(m_table.points.size(), m_table.points.size(), result.size());
        }
        return result;
    }

private:
    // The best admitted candidate of this round, the first of equally ranked ones in
    // the Vectors' order; nothing when none is left.
    std::optional<std::size_t> choose() {
        m_evaluator.start_round();
        ++m_round;
        m_best.reset();
        m_best_k = 0;
        m_cap = static_cast<double>(m_remaining.size());
        // The changed candidates' bounds no longer hold.
        m_lists.for_each_changed([&](std::uint32_t k) { m_queue.forget(slot_of(m_table, k)); });
        m_queue.tidy();
        // The candidates that ranked high last round usually still do: trying them
        // first sets a high floor at once.
        std::vector<std::pair<double, std::uint32_t>>& prior = m_prior;
        prior.swap(m_strong);
        m_strong.clear();
        const std::size_t warm = std::min<std::size_t>(prior.size(), 32);
        std::partial_sort(prior.begin(), prior.begin() + static_cast<std::ptrdiff_t>(warm), prior.end(),
                          [](const auto& a, const auto& b) { return a.first > b.first; });
        for (std::size_t h = 0; h < warm; ++h) {
            const std::uint32_t k = prior[h].second;
            if (admitted(m_lists.size(k))) process(k, true);
        }
        // Then every candidate filed under a bound that reaches the floor.
        // The changed ones are bounded afresh and filed first, so that they are
        // evaluated in the order of their bounds: the strongest raise the floor early.
        m_lists.for_each_changed([&](std::uint32_t k) {
            tick(m_options.monitor);
            if (m_done[slot_of(m_table, k)] != m_round) file(k);
        });
        m_queue.visit([&] { return floor(); },
                      [&](std::uint32_t at) {
                          tick(m_options.monitor);
                          if (m_done[at] != m_round) process(candidate_of(m_table, at), false);
                      });
        if (!m_best) return std::nullopt;  // no admitted candidate is left
        return m_best_k;
    }

    // The cheap bound of the ratio of candidate k (in slot `at`, with a pattern of
    // `size` Points): below the pattern size and below remaining Points / pattern size.
    // Nothing when the pattern may not be chosen; the candidate then leaves the queue
    // for good, since a pattern only shrinks and a change refiles it.
    std::optional<double> cheap_bound(std::size_t at, std::size_t size) {
        if (!admitted(size)) {
            m_queue.forget(at);
            return std::nullopt;
        }
        const auto m = static_cast<double>(size);
        return std::min(m, m_cap / m);
    }

    // Files changed candidate k under a fresh bound, without evaluating it.
    void file(std::uint32_t k) {
        const std::size_t at = slot_of(m_table, k);
        const std::size_t size = m_lists.size(k);
        const std::optional<double> cheap = cheap_bound(at, size);
        if (!cheap) return;
        double bound = *cheap;
        if (bound >= floor()) bound = std::min(bound, ratio_bound(size, m_evaluator.translator_bound(k)));
        m_queue.put(at, bound);
    }

    // Evaluates candidate k when `force` is set or its bounds reach the floor, then
    // files it under the tightest bound known. The cheap bound comes first.
    void process(std::uint32_t k, bool force) {
        const std::size_t at = slot_of(m_table, k);
        m_done[at] = m_round;
        const std::size_t size = m_lists.size(k);
        const std::optional<double> cheap = cheap_bound(at, size);
        if (!cheap) return;
        double bound = *cheap;
        const double f = floor();
        if (force || (bound >= f && m_evaluator.partner_known(k))) {
            offer(k, m_evaluator.evaluate(k, f));
        } else if (bound >= f) {
            // A partner evaluated this round settles this candidate without a bound.
            bound = std::min(bound, ratio_bound(size, m_evaluator.translator_bound(k)));
            if (bound >= f) offer(k, m_evaluator.evaluate(k, f));
        }
        if (const auto t = m_evaluator.cached_bound(k, size)) bound = std::min(bound, ratio_bound(size, *t));
        m_queue.put(at, bound);
    }

    // Keeps `c` if it ranks strictly better, or equally and earlier in builder order.
    void offer(std::size_t k, std::optional<Candidate>&& c) {
        if (!c || c->key.compactness < m_options.min_compactness) return;
        m_strong.emplace_back(c->key.compression_ratio, static_cast<std::uint32_t>(k));
        if (m_best) {
            const int order = compare(c->key, m_best->key);
            if (order > 0 || (order == 0 && k > m_best_k)) return;
        }
        m_best = std::move(c);
        m_best_k = k;
    }

    // Whether a pattern of this size may be chosen (lists of fewer than two pairs are no
    // patterns of the remaining Points).
    [[nodiscard]] bool admitted(std::size_t size) const noexcept {
        return size >= 2 && size >= m_options.min_pattern_size && size <= m_options.max_pattern_size;
    }

    // The bound below which a candidate cannot reach the best ratio. The small margin
    // keeps rounding in the bounds from ever dropping a candidate that ties.
    [[nodiscard]] double floor() const noexcept { return m_best ? m_best->key.compression_ratio * (1.0 - 1e-9) : 0.0; }

    void cover(std::span<const std::uint32_t> pattern, std::span<const Vector> translators) {
        for (std::uint32_t i : pattern) m_remaining.remove(i);
        for (const Vector& v : translators) {
            for (std::uint32_t i : pattern) m_remaining.remove(m_remaining.position(m_table.points[i] + v));
        }
    }

    CompressOptions m_options;
    MtpTable m_table;
    Remaining m_remaining;
    LiveLists m_lists;
    Evaluator m_evaluator;
    // The candidates offered this round and last, with their ratios.
    std::vector<std::pair<double, std::uint32_t>> m_strong, m_prior;
    std::optional<Candidate> m_best;
    std::size_t m_best_k = 0;
    CandidateQueue m_queue;
    std::vector<std::uint32_t> m_done;  // the round in which each candidate was last processed
    std::uint32_t m_round = 0;
    double m_cap = 0;  // the remaining Points this round
};

}  // namespace

std::vector<Tec> cosiatec_compress(std::span<const Point> dataset, bool restrict_dpitch_zero,
                                   [[maybe_unused]] bool sweepline_optimization) {
    CompressOptions options;
    options.restrict_dpitch_zero = restrict_dpitch_zero;
    return Compressor(dataset, options).run();
}

std::vector<Tec> cosiatec_compress(std::span<const Point> dataset, const CompressOptions& options) {
    // The first report comes before SIA builds its table, the longest step of a large
    // run; sorting a copy of the Points costs far less than that table.
    if (options.monitor && options.report) options.monitor->report(0, distinct_sorted(dataset).size(), 0);
    return Compressor(dataset, options).run();
}

}  // namespace motivra::sia
