// SIA over the distinct Points: every ordered pair of distinct Points gives one
// (Vector, origin) entry, so an origin never needs a set. Two passes over the pairs
// (count, then place) build the flat MTP table in O(n^2) time.
#include "sia.hpp"

#include <algorithm>
#include <numeric>
#include <string>

#include "system_memory.hpp"

namespace motivra::sia {

void ensure_fits(std::size_t bytes) {
    // Small requests are left to the allocator; only a request that could push the
    // machine into swap or the out-of-memory killer is weighed against what is free.
    constexpr std::size_t small = std::size_t{64} << 20;
    if (bytes <= small) return;
    static const std::size_t physical = physical_memory();
    if (bytes > physical) throw std::bad_alloc();
    const std::size_t available = available_memory();
    if (available != 0 && bytes > available) throw std::bad_alloc();
    if (bytes > address_space_left()) throw std::bad_alloc();
}

std::vector<Point> distinct_sorted(std::span<const Point> dataset) {
    std::vector<Point> points(dataset.begin(), dataset.end());
    std::sort(points.begin(), points.end());
    points.erase(std::unique(points.begin(), points.end()), points.end());
    return points;
}

namespace {

// Calls f(i, j) for every ordered pair of distinct positions that SIA considers:
// every pair, or only pairs within one pitch. The outer position ascends, so every
// origin list fills in ascending order.
template <class F>
void for_each_pair(const MtpTable& t, Monitor* monitor, F&& f) {
    const std::uint32_t n = static_cast<std::uint32_t>(t.points.size());
    if (!t.restrict_dpitch_zero) {
        for (std::uint32_t i = 0; i < n; ++i) {
            tick(monitor);
            for (std::uint32_t j = 0; j < n; ++j) {
                if (j != i) f(i, j);
            }
        }
        return;
    }
    for (std::uint32_t i = 0; i < n; ++i) {
        tick(monitor);
        for (std::uint32_t j : t.row(t.row_of[i])) {
            if (j != i) f(i, j);
        }
    }
}

void build_rows(MtpTable& t) {
    const std::size_t n = t.points.size();
    std::vector<std::uint32_t> order(n);
    for (std::uint32_t i = 0; i < n; ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](std::uint32_t a, std::uint32_t b) { return t.points[a].pitch < t.points[b].pitch; });
    t.row_of.assign(n, 0);
    t.row_members = std::move(order);
    t.row_offsets.clear();
    t.row_offsets.push_back(0);
    for (std::size_t k = 0; k < n; ++k) {
        if (k > 0 && t.points[t.row_members[k]].pitch != t.points[t.row_members[k - 1]].pitch) {
            t.row_offsets.push_back(k);
        }
        t.row_of[t.row_members[k]] = static_cast<std::uint32_t>(t.row_offsets.size() - 1);
    }
    t.row_offsets.push_back(n);
}

}  // namespace

namespace {

// The general path: any coordinates, differences that may wrap around, hashed.
void build_hashed(MtpTable& t, std::size_t pairs, bool with_targets, Monitor* monitor) {
    const std::size_t n = t.points.size();

    // Pass 1: count the origins of every Vector.
    t.lookup = VectorTable(std::min<std::size_t>(pairs, 4 * n + 64));
    for_each_pair(t, monitor, [&](std::uint32_t i, std::uint32_t j) { ++t.lookup.upsert(t.points[j] - t.points[i]); });

    // Keep the Vectors with two or more origins, in ascending order.
    std::vector<std::uint64_t> kept;
    std::size_t total = 0;
    for (std::size_t s = 0; s < t.lookup.slot_count(); ++s) {
        if ((s & 4095) == 0) tick(monitor);
        if (!t.lookup.occupied(s)) continue;
        if (t.lookup.value_at(s) >= 2) {
            kept.push_back(vector_key(t.lookup.key_at(s)));
            total += t.lookup.value_at(s);
        }
    }
    // Forward Vectors (above zero) first, each part ascending: a pattern's earliest
    // occurrence then comes before its later ones wherever an order decides a tie.
    std::sort(kept.begin(), kept.end());
    const auto forward = std::upper_bound(kept.begin(), kept.end(), vector_key(Vector{0, 0}));
    std::rotate(kept.begin(), forward, kept.end());
    ensure_fits(mul_sat(total, with_targets && !t.packed ? 2 * sizeof(std::uint32_t) : sizeof(std::uint32_t)));
    t.vectors.resize(kept.size());
    t.offsets.resize(kept.size() + 1);
    std::vector<std::size_t> cursor(kept.size());
    std::size_t at = 0;
    for (std::size_t k = 0; k < kept.size(); ++k) {
        t.vectors[k] = vector_from_key(kept[k]);
        t.offsets[k] = at;
        cursor[k] = at;
        at += t.lookup.find(t.vectors[k]);
    }
    t.offsets[kept.size()] = at;
    for (std::size_t s = 0; s < t.lookup.slot_count(); ++s) {
        if (t.lookup.occupied(s)) t.lookup.value_at(s) = npos32;
    }
    for (std::size_t k = 0; k < kept.size(); ++k) t.lookup.upsert(t.vectors[k]) = static_cast<std::uint32_t>(k);

    // Pass 2: place every origin; the outer position ascends, so each run is sorted.
    t.origins.resize(total);
    if (t.packed) {
        for_each_pair(t, monitor, [&](std::uint32_t i, std::uint32_t j) {
            const std::uint32_t k = t.lookup.find(t.points[j] - t.points[i]);
            if (k != npos32) t.origins[cursor[k]++] = i << 16 | j;
        });
    } else if (with_targets) {
        t.targets.resize(total);
        for_each_pair(t, monitor, [&](std::uint32_t i, std::uint32_t j) {
            const std::uint32_t k = t.lookup.find(t.points[j] - t.points[i]);
            if (k == npos32) return;
            t.targets[cursor[k]] = j;
            t.origins[cursor[k]++] = i;
        });
    } else {
        for_each_pair(t, monitor, [&](std::uint32_t i, std::uint32_t j) {
            const std::uint32_t k = t.lookup.find(t.points[j] - t.points[i]);
            if (k != npos32) t.origins[cursor[k]++] = i;
        });
    }
}

// The fast path: with every coordinate below 2^31 no difference wraps, so the forward
// pairs (i < j) give exactly the Vectors above zero, each backward Vector is the
// negation of a forward one with the same number of origins, and the forward Vectors
// index a dense grid when their box is small, as it is for music. Half the pairs,
// no hashing, and the grid scan yields the Vectors already sorted.
bool build_dense(MtpTable& t, std::size_t pairs, bool with_targets, Monitor* monitor) {
    const std::size_t n = t.points.size();
    if (n < 2) return false;
    const auto [tmin, tmax, pmin, pmax] = bounding_box(t.points);
    if (tmax >= 0x80000000u || pmax >= 0x80000000u) return false;
    // Every difference is a multiple of the ticks' common step.
    const std::uint32_t step = tick_step(t.points, tmin);
    const std::int64_t ticks = (std::int64_t{tmax} - tmin) / step + 1;
    const std::int64_t half = t.restrict_dpitch_zero ? 0 : std::int64_t{pmax} - pmin;
    const std::int64_t width = 2 * half + 1;
    if (ticks > (std::int64_t{1} << 30) || width > (std::int64_t{1} << 30)) return false;
    std::vector<std::uint32_t>& steps = t.steps;
    steps.resize(n);
    for (std::size_t i = 0; i < n; ++i) steps[i] = (t.points[i].tick - tmin) / step;
    // Notes sit on few distinct ticks, and the offsets between them are often far fewer
    // than the span of the piece (a score with fine divisions): the grid then keeps
    // one row per offset that occurs, which saves most of its memory and its cache.
    std::int64_t rows = ticks;
    std::vector<std::int64_t> offset_of_row;  // filled when rows are compressed
    if (ticks <= std::max<std::int64_t>(std::int64_t{1} << 20, static_cast<std::int64_t>(pairs / 2))) {
        std::vector<std::int64_t> distinct(steps.begin(), steps.end());
        distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
        std::vector<std::uint32_t> row_of(static_cast<std::size_t>(ticks), 0);
        std::int64_t used = 0;  // offsets seen; the search stops once half of them occur
        for (std::size_t a = 0; a < distinct.size() && 2 * used <= ticks; ++a) {
            tick(monitor);
            for (std::size_t b = a; b < distinct.size(); ++b) {
                std::uint32_t& seen = row_of[static_cast<std::size_t>(distinct[b] - distinct[a])];
                used += seen ^ 1;
                seen = 1;
            }
        }
        if (2 * used <= ticks) {
            for (std::size_t d = 0; d < row_of.size(); ++d) {
                if (row_of[d] == 0) {
                    row_of[d] = npos32;
                } else {
                    row_of[d] = static_cast<std::uint32_t>(offset_of_row.size());
                    offset_of_row.push_back(static_cast<std::int64_t>(d));
                }
            }
            rows = used;
            t.grid_rows = std::move(row_of);
        }
    }
    const std::size_t cells = static_cast<std::size_t>(rows * width);
    // A grid of up to two cells per ordered pair costs no more memory than the origin
    // lists it saves hashing for.
    if (cells > std::max<std::size_t>(std::size_t{1} << 16, 2 * pairs) || cells > (std::size_t{1} << 28)) {
        t.grid_rows.clear();
        t.steps.clear();
        return false;
    }
    ensure_fits(mul_sat(cells, sizeof(std::uint32_t)));
    t.grid.assign(cells, 0);
    t.grid_ticks = ticks;
    t.grid_divisor = Divisor(step);
    t.grid_pitch = half;

    auto cell = [&](std::uint32_t i, std::uint32_t j) {
        std::int64_t dt = std::int64_t{steps[j]} - steps[i];
        if (!t.grid_rows.empty()) dt = t.grid_rows[static_cast<std::size_t>(dt)];
        const std::int64_t dp = std::int64_t{t.points[j].pitch} - t.points[i].pitch;
        return static_cast<std::size_t>(dt * width + dp + half);
    };
    // Calls f(i, j) for every forward pair, origin ascending.
    std::vector<std::uint32_t> row_pos;
    if (t.restrict_dpitch_zero) {
        row_pos.resize(n);
        for (std::size_t r = 0; r + 1 < t.row_offsets.size(); ++r) {
            for (std::size_t k = t.row_offsets[r]; k < t.row_offsets[r + 1]; ++k) {
                row_pos[t.row_members[k]] = static_cast<std::uint32_t>(k);
            }
        }
    }
    auto for_each_forward = [&](auto&& f) {
        if (!t.restrict_dpitch_zero) {
            for (std::uint32_t i = 0; i < n; ++i) {
                tick(monitor);
                for (std::uint32_t j = i + 1; j < n; ++j) f(i, j);
            }
            return;
        }
        for (std::uint32_t i = 0; i < n; ++i) {
            tick(monitor);
            const std::size_t end = t.row_offsets[t.row_of[i] + 1];
            for (std::size_t k = row_pos[i] + 1; k < end; ++k) f(i, t.row_members[k]);
        }
    };

    // Pass 1: count the origins of every forward Vector.
    for_each_forward([&](std::uint32_t i, std::uint32_t j) { ++t.grid[cell(i, j)]; });

    // The kept forward Vectors in grid order, which is ascending order; the backward
    // ones follow as their negations in reverse, which is ascending too.
    std::size_t kept = 0, total = 0;
    for (std::size_t c = 0; c < cells; ++c) {
        if ((c & 4095) == 0) tick(monitor);
        if (t.grid[c] >= 2) {
            ++kept;
            total += t.grid[c];
        }
    }
    if (kept > npos32 / 2) throw std::bad_alloc();
    // With targets, a backward list is its forward partner's pairs read the other way
    // round, so only the forward lists are stored.
    const bool mirrored = with_targets;
    const std::size_t lists = mirrored ? kept : 2 * kept;
    ensure_fits(mul_sat(mirrored ? total : 2 * total,
                        with_targets && !t.packed ? 2 * sizeof(std::uint32_t) : sizeof(std::uint32_t)));
    t.forward = kept;
    t.mirrored = mirrored;
    t.vectors.resize(2 * kept);
    t.offsets.resize(lists + 1);
    std::vector<std::size_t> cursor(lists);
    std::size_t k = 0, at = 0;
    std::vector<std::uint32_t> counts(kept);
    for (std::size_t c = 0; c < cells; ++c) {
        if ((c & 4095) == 0) tick(monitor);
        if (t.grid[c] < 2) {
            t.grid[c] = npos32;
            continue;
        }
        const std::int64_t row = static_cast<std::int64_t>(c) / width;
        const auto dt = static_cast<std::int32_t>(
            (offset_of_row.empty() ? row : offset_of_row[static_cast<std::size_t>(row)]) * step);
        const auto dp = static_cast<std::int32_t>(static_cast<std::int64_t>(c) % width - half);
        t.vectors[k] = Vector{dt, dp};
        t.vectors[2 * kept - 1 - k] = -Vector{dt, dp};
        counts[k] = t.grid[c];
        t.offsets[k] = cursor[k] = at;
        at += t.grid[c];
        t.grid[c] = static_cast<std::uint32_t>(k++);
    }
    for (std::size_t b = kept; b < lists; ++b) {
        t.offsets[b] = cursor[b] = at;
        at += counts[2 * kept - 1 - b];
    }
    t.offsets[lists] = at;

    // Pass 2: every forward pair gives origin i to v and, unless mirrored, origin j to
    // -v. Origins ascend in both lists, since j = position of points[i] + v grows with i.
    t.origins.resize(at);
    if (with_targets && !t.packed) t.targets.resize(at);
    for_each_forward([&](std::uint32_t i, std::uint32_t j) {
        const std::uint32_t f = t.grid[cell(i, j)];
        if (f == npos32) return;
        if (t.packed) {
            t.origins[cursor[f]++] = i << 16 | j;
            return;
        }
        if (mirrored) {
            t.targets[cursor[f]] = j;
            t.origins[cursor[f]++] = i;
            return;
        }
        const std::size_t b = 2 * kept - 1 - f;
        t.origins[cursor[f]++] = i;
        t.origins[cursor[b]++] = j;
    });
    return true;
}

}  // namespace

MtpTable sia_table(std::span<const Point> dataset, bool restrict_dpitch_zero, bool with_targets, Monitor* monitor) {
    MtpTable t;
    t.restrict_dpitch_zero = restrict_dpitch_zero;
    t.points = distinct_sorted(dataset);
    const std::size_t n = t.points.size();
    if (n > npos32 - 1) throw std::bad_alloc();

    std::size_t pairs = 0;  // ordered pairs
    if (restrict_dpitch_zero) {
        build_rows(t);
        for (std::size_t r = 0; r + 1 < t.row_offsets.size(); ++r) {
            const std::size_t len = t.row_offsets[r + 1] - t.row_offsets[r];
            pairs = add_sat(pairs, mul_sat(len, len - 1));
        }
    } else {
        pairs = mul_sat(n, n == 0 ? 0 : n - 1);
    }
    // Every pair lands either in the counting table or in the origin lists, so about
    // three bytes per pair is a floor on what this call needs: refuse at once if even
    // that cannot fit.
    ensure_fits(mul_sat(pairs, 3));

    // Positions below 2^16 fit two to a word.
    t.packed = with_targets && n <= 0x10000;
    t.may_wrap = std::any_of(t.points.begin(), t.points.end(),
                             [](const Point& p) { return p.tick >= 0x80000000u || p.pitch >= 0x80000000u; });
    if (!build_dense(t, pairs, with_targets, monitor)) build_hashed(t, pairs, with_targets, monitor);
    return t;
}

}  // namespace motivra::sia
