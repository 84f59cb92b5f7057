// Building the MTP table: every ordered pair of distinct Points gives one (Vector,
// origin) entry, so an origin never needs a set. Two passes over the pairs (count,
// then place) fill the flat lists in O(n^2) time, n the distinct Points (or over the
// pairs within each pitch for a restricted table), and memory proportional to the
// total length of the MTPs.
#include "mtp_table.hpp"

#include <algorithm>

namespace motivra::sia {

namespace {

// Slots or cells scanned between two ticks of the monitor.
constexpr std::size_t kScanPerTick = 4096;
// The widest grid axis, in steps or pitches: row * width and the cell count then stay
// far inside 64 bits, and an axis this long could not fit the cell budget anyway.
constexpr std::int64_t kMaxGridAxis = std::int64_t{1} << 30;
// The grid may take up to two cells per ordered pair (no more memory than the origin
// lists it saves hashing for), or this many on a small piece, where a grid is cheap
// whatever its fill ...
constexpr std::size_t kMinGridBudget = std::size_t{1} << 16;
// ... but never more than this (a gigabyte of cells).
constexpr std::size_t kMaxGridCells = std::size_t{1} << 28;
// The offsets between ticks are looked for, to compress the grid's rows, only up to
// this many ticks or half the pairs: the search costs a bitmap of the ticks and the
// square of the distinct ticks.
constexpr std::int64_t kMinRowSearch = std::int64_t{1} << 20;

}  // namespace

std::size_t MtpTable::keep_pairs(std::size_t s, std::size_t count, const std::uint8_t* alive) noexcept {
    // Branch-free: whether a pair survives is unpredictable, so every pair is copied and
    // the cursor only advances past survivors.
    const std::size_t begin = m_offsets[s], end = begin + count;
    std::size_t out = begin;
    if (m_packed) {
        std::uint32_t* pairs = m_origins.data();
        for (std::size_t e = begin; e < end; ++e) {
            const std::uint32_t pair = pairs[e];
            pairs[out] = pair;
            out += alive[pair >> 16] & alive[pair & 0xffff];
        }
        return out - begin;
    }
    std::uint32_t* origins = m_origins.data();
    std::uint32_t* targets = m_targets.data();
    for (std::size_t e = begin; e < end; ++e) {
        const std::uint32_t o = origins[e], t = targets[e];
        origins[out] = o;
        targets[out] = t;
        out += alive[o] & alive[t];
    }
    return out - begin;
}

// Fills a table in one of two ways: hashed (any coordinates) or dense (the fast path).
class MtpTable::Builder {
public:
    Builder(MtpTable& t, bool with_targets, Monitor* monitor)
        : t(t), m_with_targets(with_targets), m_monitor(monitor) {}

    void build() {
        const std::size_t n = t.m_points.size();
        if (n > npos32 - 1) throw std::bad_alloc();
        if (t.m_restrict_dpitch_zero) build_rows();
        m_pairs = ordered_pairs();
        // Every pair lands either in the counting table or in the origin lists, so about
        // three bytes per pair is a floor on what this call needs: refuse at once if even
        // that cannot fit.
        ensure_fits(mul_sat(m_pairs, 3));
        // Positions below 2^16 fit two to a word.
        t.m_packed = m_with_targets && n <= 0x10000;
        t.m_may_wrap = std::any_of(t.m_points.begin(), t.m_points.end(),
                                   [](const Point& p) { return p.tick >= 0x80000000u || p.pitch >= 0x80000000u; });
        if (!build_dense()) build_hashed();
    }

private:
    // The pairs SIA considers: every ordered pair, or those within one pitch.
    [[nodiscard]] std::size_t ordered_pairs() const {
        const std::size_t n = t.m_points.size();
        if (!t.m_restrict_dpitch_zero) return mul_sat(n, n == 0 ? 0 : n - 1);
        std::size_t pairs = 0;
        for (std::size_t r = 0; r < t.row_count(); ++r) {
            const std::size_t len = t.row(r).size();
            pairs = add_sat(pairs, mul_sat(len, len - 1));
        }
        return pairs;
    }

    void build_rows() {
        const std::size_t n = t.m_points.size();
        std::vector<std::uint32_t> order(n);
        for (std::uint32_t i = 0; i < n; ++i) order[i] = i;
        std::stable_sort(order.begin(), order.end(),
                         [&](std::uint32_t a, std::uint32_t b) { return t.m_points[a].pitch < t.m_points[b].pitch; });
        t.m_row_of.assign(n, 0);
        t.m_row_members = std::move(order);
        t.m_row_offsets.clear();
        t.m_row_offsets.push_back(0);
        for (std::size_t k = 0; k < n; ++k) {
            if (k > 0 && t.m_points[t.m_row_members[k]].pitch != t.m_points[t.m_row_members[k - 1]].pitch) {
                t.m_row_offsets.push_back(k);
            }
            t.m_row_of[t.m_row_members[k]] = static_cast<std::uint32_t>(t.m_row_offsets.size() - 1);
        }
        t.m_row_offsets.push_back(n);
    }

    // Bytes of the lists for `pairs` stored pairs.
    [[nodiscard]] std::size_t list_bytes(std::size_t pairs) const noexcept {
        return mul_sat(pairs, m_with_targets && !t.m_packed ? 2 * sizeof(std::uint32_t) : sizeof(std::uint32_t));
    }

    // Stores the pair (i, j) at entry e.
    void place(std::size_t e, std::uint32_t i, std::uint32_t j) noexcept {
        if (t.m_packed) {
            t.m_origins[e] = pack(i, j);
            return;
        }
        if (m_with_targets) t.m_targets[e] = j;
        t.m_origins[e] = i;
    }

    // ---- The general path: any coordinates, differences that may wrap around, hashed.

    // Calls f(i, j) for every ordered pair of distinct positions that SIA considers. The
    // outer position ascends, so every origin list fills in ascending order.
    template <class F>
    void for_each_pair(F&& f) {
        const auto n = static_cast<std::uint32_t>(t.m_points.size());
        for (std::uint32_t i = 0; i < n; ++i) {
            tick(m_monitor);
            if (!t.m_restrict_dpitch_zero) {
                for (std::uint32_t j = 0; j < n; ++j) {
                    if (j != i) f(i, j);
                }
            } else {
                for (std::uint32_t j : t.row(t.m_row_of[i])) {
                    if (j != i) f(i, j);
                }
            }
        }
    }

    void build_hashed() {
        const std::size_t n = t.m_points.size();
        // Pass 1: count the origins of every Vector.
        t.m_lookup = VectorTable(std::min<std::size_t>(m_pairs, 4 * n + 64));
        for_each_pair([&](std::uint32_t i, std::uint32_t j) { ++t.m_lookup.upsert(t.m_points[j] - t.m_points[i]); });
        std::vector<std::size_t> cursor = index_hashed();
        // Pass 2: place every origin; the outer position ascends, so each run is sorted.
        t.m_origins.resize(t.m_offsets.back());
        if (m_with_targets && !t.m_packed) t.m_targets.resize(t.m_offsets.back());
        for_each_pair([&](std::uint32_t i, std::uint32_t j) {
            const std::uint32_t k = t.m_lookup.find(t.m_points[j] - t.m_points[i]);
            if (k != npos32) place(cursor[k]++, i, j);
        });
    }

    // Keeps the counted Vectors with two or more origins, lays out their lists, and
    // turns the counts into positions; returns where each list fills from.
    std::vector<std::size_t> index_hashed() {
        VectorTable& lookup = t.m_lookup;
        std::vector<std::uint64_t> kept;
        std::size_t total = 0;
        for (std::size_t s = 0; s < lookup.slot_count(); ++s) {
            if (s % kScanPerTick == 0) tick(m_monitor);
            if (lookup.occupied(s) && lookup.value_at(s) >= 2) {
                kept.push_back(vector_key(lookup.key_at(s)));
                total += lookup.value_at(s);
            }
        }
        // Forward Vectors (above zero) first, each part ascending: a pattern's earliest
        // occurrence then comes before its later ones wherever an order decides a tie.
        std::sort(kept.begin(), kept.end());
        const auto forward = std::upper_bound(kept.begin(), kept.end(), vector_key(Vector{0, 0}));
        std::rotate(kept.begin(), forward, kept.end());
        ensure_fits(list_bytes(total));
        t.m_vectors.resize(kept.size());
        t.m_offsets.resize(kept.size() + 1);
        std::vector<std::size_t> cursor(kept.size());
        std::size_t at = 0;
        for (std::size_t k = 0; k < kept.size(); ++k) {
            t.m_vectors[k] = vector_from_key(kept[k]);
            t.m_offsets[k] = cursor[k] = at;
            at += lookup.find(t.m_vectors[k]);
        }
        t.m_offsets[kept.size()] = at;
        for (std::size_t s = 0; s < lookup.slot_count(); ++s) {
            if (lookup.occupied(s)) lookup.value_at(s) = npos32;
        }
        for (std::size_t k = 0; k < kept.size(); ++k) lookup.upsert(t.m_vectors[k]) = static_cast<std::uint32_t>(k);
        return cursor;
    }

    // ---- The fast path: with every coordinate below 2^31 no difference wraps, so the
    // forward pairs (i < j) give exactly the Vectors above zero, each backward Vector is
    // the negation of a forward one with the same number of origins, and the forward
    // Vectors index a dense grid when their box is small, as it is for music. Half the
    // pairs, no hashing, and the grid scan yields the Vectors already sorted.

    // False, with the table untouched but for its steps, when the grid does not fit.
    bool build_dense() {
        if (!plan_grid()) return false;
        const GridIndex grid = t.grid_index();
        // Pass 1: count the origins of every forward Vector.
        for_each_forward([&](std::uint32_t i, std::uint32_t j) { ++t.m_grid[grid.cell_between(i, j)]; });
        std::vector<std::size_t> cursor = index_dense();
        // Pass 2: every forward pair gives origin i to v and, unless mirrored, origin j to
        // -v. Origins ascend in both lists, since j = position of points[i] + v grows with i.
        t.m_origins.resize(t.m_offsets.back());
        if (m_with_targets && !t.m_packed) t.m_targets.resize(t.m_offsets.back());
        const std::size_t forward = t.m_forward;
        const bool mirrored = t.m_mirrored;
        for_each_forward([&](std::uint32_t i, std::uint32_t j) {
            const std::uint32_t f = t.m_grid[grid.cell_between(i, j)];
            if (f == npos32) return;
            if (mirrored) {
                place(cursor[f]++, i, j);
                return;
            }
            t.m_origins[cursor[f]++] = i;
            t.m_origins[cursor[negation(forward, f)]++] = j;
        });
        return true;
    }

    // Sizes the grid over the forward Vectors and allocates it, zeroed; false when the
    // coordinates may wrap or the grid would cost more than the hashing it saves.
    bool plan_grid() {
        const std::size_t n = t.m_points.size();
        if (n < 2) return false;
        const auto [tmin, tmax, pmin, pmax] = bounding_box(t.m_points);
        if (tmax >= 0x80000000u || pmax >= 0x80000000u) return false;
        // Every difference is a multiple of the ticks' common step.
        m_step = tick_step(t.m_points, tmin);
        const std::int64_t ticks = (std::int64_t{tmax} - tmin) / m_step + 1;
        const std::int64_t half = t.m_restrict_dpitch_zero ? 0 : std::int64_t{pmax} - pmin;
        m_width = 2 * half + 1;
        if (ticks > kMaxGridAxis || m_width > kMaxGridAxis) return false;
        t.m_steps.resize(n);
        for (std::size_t i = 0; i < n; ++i) t.m_steps[i] = (t.m_points[i].tick - tmin) / m_step;
        const std::int64_t rows = compress_rows(ticks);
        const auto cells = static_cast<std::size_t>(rows * m_width);
        if (cells > std::max(kMinGridBudget, 2 * m_pairs) || cells > kMaxGridCells) {
            t.m_grid_rows.clear();
            t.m_steps.clear();
            return false;
        }
        ensure_fits(mul_sat(cells, sizeof(std::uint32_t)));
        t.m_grid.assign(cells, 0);
        t.m_grid_ticks = ticks;
        t.m_grid_divisor = Divisor(m_step);
        t.m_grid_pitch = half;
        if (t.m_restrict_dpitch_zero) {
            m_row_pos.resize(n);
            for (std::size_t r = 0; r < t.row_count(); ++r) {
                for (std::size_t k = t.m_row_offsets[r]; k < t.m_row_offsets[r + 1]; ++k) {
                    m_row_pos[t.m_row_members[k]] = static_cast<std::uint32_t>(k);
                }
            }
        }
        return true;
    }

    // Notes sit on few distinct ticks, and the offsets between them are often far fewer
    // than the span of the piece (a score with fine divisions): the grid then keeps one
    // row per offset that occurs, which saves most of its memory and its cache. Returns
    // the number of rows, `ticks` when they stay uncompressed.
    std::int64_t compress_rows(std::int64_t ticks) {
        if (ticks > std::max(kMinRowSearch, static_cast<std::int64_t>(m_pairs / 2))) return ticks;
        std::vector<std::int64_t> distinct(t.m_steps.begin(), t.m_steps.end());
        distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
        std::vector<std::uint32_t> row_of(static_cast<std::size_t>(ticks), 0);
        std::int64_t used = 0;  // offsets seen; the search stops once half of them occur
        for (std::size_t a = 0; a < distinct.size() && 2 * used <= ticks; ++a) {
            tick(m_monitor);
            for (std::size_t b = a; b < distinct.size(); ++b) {
                std::uint32_t& seen = row_of[static_cast<std::size_t>(distinct[b] - distinct[a])];
                used += seen ^ 1;
                seen = 1;
            }
        }
        if (2 * used > ticks) return ticks;
        for (std::size_t d = 0; d < row_of.size(); ++d) {
            if (row_of[d] == 0) {
                row_of[d] = npos32;
            } else {
                row_of[d] = static_cast<std::uint32_t>(m_offset_of_row.size());
                m_offset_of_row.push_back(static_cast<std::int64_t>(d));
            }
        }
        t.m_grid_rows = std::move(row_of);
        return used;
    }

    // Calls f(i, j) for every forward pair, origin ascending.
    template <class F>
    void for_each_forward(F&& f) {
        const auto n = static_cast<std::uint32_t>(t.m_points.size());
        for (std::uint32_t i = 0; i < n; ++i) {
            tick(m_monitor);
            if (!t.m_restrict_dpitch_zero) {
                for (std::uint32_t j = i + 1; j < n; ++j) f(i, j);
            } else {
                const std::size_t end = t.m_row_offsets[t.m_row_of[i] + 1];
                for (std::size_t k = m_row_pos[i] + 1; k < end; ++k) f(i, t.m_row_members[k]);
            }
        }
    }

    // Keeps the counted forward Vectors with two or more origins, in grid order, which
    // is ascending order; the backward ones follow as their negations in reverse, which
    // is ascending too. Lays out the lists (with targets, a backward list is its forward
    // partner's pairs read the other way round, so only the forward lists are stored),
    // turns the grid's counts into positions, and returns where each list fills from.
    std::vector<std::size_t> index_dense() {
        std::vector<std::uint32_t>& grid = t.m_grid;
        std::size_t kept = 0, total = 0;
        for (std::size_t c = 0; c < grid.size(); ++c) {
            if (c % kScanPerTick == 0) tick(m_monitor);
            if (grid[c] >= 2) {
                ++kept;
                total += grid[c];
            }
        }
        if (kept > npos32 / 2) throw std::bad_alloc();
        t.m_mirrored = m_with_targets;
        const std::size_t lists = t.m_mirrored ? kept : 2 * kept;
        ensure_fits(list_bytes(t.m_mirrored ? total : 2 * total));
        t.m_forward = kept;
        t.m_vectors.resize(2 * kept);
        t.m_offsets.resize(lists + 1);
        std::vector<std::size_t> cursor(lists);
        std::vector<std::uint32_t> counts(kept);
        std::size_t k = 0, at = 0;
        const std::int64_t width = m_width, half = t.m_grid_pitch, step = m_step;
        for (std::size_t c = 0; c < grid.size(); ++c) {
            if (c % kScanPerTick == 0) tick(m_monitor);
            if (grid[c] < 2) {
                grid[c] = npos32;
                continue;
            }
            const std::int64_t row = static_cast<std::int64_t>(c) / width;
            const auto dt = static_cast<std::int32_t>(
                (m_offset_of_row.empty() ? row : m_offset_of_row[static_cast<std::size_t>(row)]) * step);
            const auto dp = static_cast<std::int32_t>(static_cast<std::int64_t>(c) % width - half);
            t.m_vectors[k] = Vector{dt, dp};
            t.m_vectors[negation(kept, k)] = -Vector{dt, dp};
            counts[k] = grid[c];
            t.m_offsets[k] = cursor[k] = at;
            at += grid[c];
            grid[c] = static_cast<std::uint32_t>(k++);
        }
        for (std::size_t b = kept; b < lists; ++b) {
            t.m_offsets[b] = cursor[b] = at;
            at += counts[negation(kept, b)];
        }
        t.m_offsets[lists] = at;
        return cursor;
    }

    MtpTable& t;
    bool m_with_targets;
    Monitor* m_monitor;
    std::size_t m_pairs = 0;  // ordered pairs considered
    // The dense path's plan.
    std::uint32_t m_step = 1;                   // the ticks' common step
    std::int64_t m_width = 0;                   // cells per grid row
    std::vector<std::int64_t> m_offset_of_row;  // a compressed row's offset, in steps
    std::vector<std::uint32_t> m_row_pos;       // restricted: each position's place among the row members
};

MtpTable MtpTable::build(std::vector<Point> points, bool restrict_dpitch_zero, bool with_targets, Monitor* monitor) {
    MtpTable t;
    t.m_restrict_dpitch_zero = restrict_dpitch_zero;
    t.m_points = std::move(points);
    Builder(t, with_targets, monitor).build();
    return t;
}

}  // namespace motivra::sia
