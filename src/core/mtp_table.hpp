// The MTP table: SIA's map from every Vector that carries two or more Points of a
// Dataset onto Points of it, to those Points, in flat form. SIATEC, the sweepline and
// COSIATEC all read it; COSIATEC also filters its lists in place.
#pragma once

#include <array>
#include <cassert>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "monitor.hpp"
#include "points.hpp"
#include "tables.hpp"

namespace motivra::sia {

// A run of positions stored in 32-bit words, each read as (word >> shift) & mask: a
// list's origins or targets, alone or packed two to a word.
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

// Only the distinct Points matter, so they are stored once, sorted, and every MTP is a
// run of ascending positions into them: the origins of its Vector's pairs
// (origin, origin + Vector). Vector k is the k-th of the kept Vectors: those above zero
// (the forward ones), then the rest, each part ascending.
//
// How a table stores its lists depends on how it was built, and only this class knows:
//   - with targets, each origin has the position of its image beside it; with fewer than
//     2^16 + 1 Points the two are packed into one word (origin << 16 | target);
//   - on the fast path (no coordinate reaches 2^31, so no difference wraps) Vector
//     2 * forward - 1 - k is the negation of Vector k; with targets only the forward
//     lists are stored, a backward list being its partner's pairs read the other way;
//   - Vectors are found through a dense grid over the forward Vectors when their box
//     is small, else through a hash table.
// Its users name Vectors by their index k and stored lists by their index s (see
// list_of), and never see the storage itself.
class MtpTable {
public:
    // Builds the table of the distinct sorted Points `points`; see sia_table().
    static MtpTable build(std::vector<Point> points, bool restrict_dpitch_zero, bool with_targets, Monitor* monitor);

    [[nodiscard]] std::size_t size() const noexcept { return m_vectors.size(); }
    [[nodiscard]] std::span<const Point> points() const noexcept { return m_points; }
    [[nodiscard]] Point point(std::size_t i) const noexcept { return m_points[i]; }
    [[nodiscard]] std::span<const Vector> vectors() const noexcept { return m_vectors; }
    [[nodiscard]] Vector vector(std::size_t k) const noexcept { return m_vectors[k]; }
    // How many of the Vectors lie above zero.
    [[nodiscard]] std::size_t forward_count() const noexcept { return m_forward; }
    // How many pairs the table stores, over all its lists.
    [[nodiscard]] std::size_t pair_count() const noexcept { return m_origins.size(); }
    // False when every coordinate is below 2^31: then no difference or sum of the
    // table's Points and Vectors wraps, and moving an ascending list keeps it ascending.
    [[nodiscard]] bool may_wrap() const noexcept { return m_may_wrap; }
    // Whether only pairs within one pitch were taken (Vectors of dpitch 0).
    [[nodiscard]] bool restricted() const noexcept { return m_restrict_dpitch_zero; }
    // Whether Vector k >= forward_count() is the negation of Vector
    // 2 * forward_count() - 1 - k, so that the backward half mirrors the forward half.
    [[nodiscard]] bool negations_paired() const noexcept { return !m_grid.empty(); }
    // Whether one stored list serves a forward Vector and its negation.
    [[nodiscard]] bool mirrored() const noexcept { return m_mirrored; }

    // Where the pairs of Vector k are stored: the stored list, and whether its targets
    // (rather than its origins) are the Vector's origins.
    struct ListAt {
        std::size_t list;
        bool reversed;
    };
    [[nodiscard]] ListAt list_of(std::size_t k) const noexcept {
        if (m_mirrored && k >= m_forward) return {negation(k), true};
        return {k, false};
    }
    // The Vector that reads stored list s forward (or, `reversed`, backward).
    [[nodiscard]] std::uint32_t vector_of(std::size_t s, bool reversed) const noexcept {
        return static_cast<std::uint32_t>(reversed ? negation(s) : s);
    }
    [[nodiscard]] std::size_t list_count() const noexcept { return m_offsets.size() - 1; }
    [[nodiscard]] std::size_t list_length(std::size_t s) const noexcept { return m_offsets[s + 1] - m_offsets[s]; }

    // The origins of Vector k, ascending; in every storage mode.
    [[nodiscard]] ListView origins(std::size_t k) const noexcept { return origins(k, list_length(list_of(k).list)); }
    // The first `count` origins of Vector k's stored list (COSIATEC keeps the live pairs
    // of a list at its front).
    [[nodiscard]] ListView origins(std::size_t k, std::size_t count) const noexcept {
        const auto [list, reversed] = list_of(k);
        const std::uint32_t* base = m_origins.data() + m_offsets[list];
        if (m_packed) return {base, count, reversed ? 0u : 16u, 0xffff};
        if (reversed) return {m_targets.data() + m_offsets[list], count};
        return {base, count};
    }
    // The origins of Vector k as a span: only for a table without packed pairs, such as
    // sia_table() builds without targets.
    [[nodiscard]] std::span<const std::uint32_t> mtp(std::size_t k) const noexcept {
        assert(!m_packed && "a packed table has no span of origins; use origins()");
        const auto [list, reversed] = list_of(k);
        const std::uint32_t* base = reversed ? m_targets.data() : m_origins.data();
        return {base + m_offsets[list], list_length(list)};
    }
    // The origin and target of the i-th pair of stored list s (a table with targets).
    [[nodiscard]] std::pair<std::uint32_t, std::uint32_t> pair(std::size_t s, std::size_t i) const noexcept {
        const std::size_t e = m_offsets[s] + i;
        if (m_packed) return {m_origins[e] >> 16, m_origins[e] & 0xffff};
        return {m_origins[e], m_targets[e]};
    }
    // Keeps, among the first `count` pairs of stored list s, those whose origin and
    // target are both `alive` (0 or 1 each), in order, at the list's front; returns how
    // many there are. A table with targets.
    std::size_t keep_pairs(std::size_t s, std::size_t count, const std::uint8_t* alive) noexcept;

    // The position of -vector(k), or npos32 when it is not kept.
    [[nodiscard]] std::uint32_t partner(std::size_t k) const noexcept {
        if (negations_paired()) return static_cast<std::uint32_t>(negation(k));
        return m_lookup.find(-m_vectors[k]);
    }
    // The position of point(j) - point(i) (i != j; in a restricted table, two Points of
    // one pitch) among the Vectors, or npos32 when it is not kept: find() for two Points
    // of the table. On the grid it is read from their steps and pitches, with no
    // division and no range test, since every such difference lies inside the grid; the
    // Points are sorted, so it is above zero exactly when i < j.
    [[nodiscard]] std::uint32_t between(std::uint32_t i, std::uint32_t j) const noexcept {
        if (m_grid.empty()) return m_lookup.find(m_points[j] - m_points[i]);
        if (i < j) return m_grid[cell_between(i, j)];
        const std::uint32_t k = m_grid[cell_between(j, i)];
        return k == npos32 ? k : static_cast<std::uint32_t>(negation(k));
    }
    // The position of `v` among the Vectors, or npos32 when it is not kept.
    [[nodiscard]] std::uint32_t find(Vector v) const noexcept {
        if (m_grid.empty()) return m_lookup.find(v);
        const bool backward = v.dtick < 0 || (v.dtick == 0 && v.dpitch < 0);
        const std::int64_t raw = backward ? -std::int64_t{v.dtick} : v.dtick;  // 0 .. 2^31
        const std::int64_t dp = backward ? -std::int64_t{v.dpitch} : v.dpitch;
        if (!m_grid_divisor.divides(static_cast<std::uint32_t>(raw))) return npos32;
        const std::int64_t dt = m_grid_divisor.quotient(static_cast<std::uint32_t>(raw));
        if (dt >= m_grid_ticks || dp < -m_grid_pitch || dp > m_grid_pitch) return npos32;
        std::int64_t row = dt;
        if (!m_grid_rows.empty()) {
            const std::uint32_t r = m_grid_rows[static_cast<std::size_t>(dt)];
            if (r == npos32) return npos32;
            row = r;
        }
        const std::uint32_t k = m_grid[grid_index().cell(row, dp)];
        if (k == npos32 || !backward) return k;
        return static_cast<std::uint32_t>(negation(k));
    }

    // The pitch rows of a restricted table: the positions of the Points of one pitch,
    // ascending, one row per distinct pitch in ascending order.
    [[nodiscard]] std::size_t row_count() const noexcept { return m_row_offsets.size() - 1; }
    [[nodiscard]] std::uint32_t row_of(std::uint32_t i) const noexcept { return m_row_of[i]; }
    [[nodiscard]] std::span<const std::uint32_t> row(std::size_t r) const noexcept {
        return {m_row_members.data() + m_row_offsets[r], m_row_offsets[r + 1] - m_row_offsets[r]};
    }

private:
    class Builder;  // mtp_table.cpp

    // The index of the negation of Vector (or forward list) k on the fast path, with
    // `forward` forward Vectors.
    [[nodiscard]] static constexpr std::size_t negation(std::size_t forward, std::size_t k) noexcept {
        return 2 * forward - 1 - k;
    }
    [[nodiscard]] std::size_t negation(std::size_t k) const noexcept { return negation(m_forward, k); }
    // The packed form of a pair: positions below 2^16 fit two to a word.
    [[nodiscard]] static constexpr std::uint32_t pack(std::uint32_t origin, std::uint32_t target) noexcept {
        return origin << 16 | target;
    }
    // How the grid is indexed, as values that a loop can keep in registers.
    struct GridIndex {
        const Point* points;
        const std::uint32_t* steps;
        const std::uint32_t* rows;  // nullptr: the row is the offset in steps itself
        std::int64_t pitch;         // dpitch runs over -pitch .. pitch
        // The cell of the forward Vector (row, dp).
        [[nodiscard]] std::size_t cell(std::int64_t row, std::int64_t dp) const noexcept {
            return static_cast<std::size_t>(row * (2 * pitch + 1) + dp + pitch);
        }
        // The cell of points[j] - points[i], i < j.
        [[nodiscard]] std::size_t cell_between(std::uint32_t i, std::uint32_t j) const noexcept {
            std::uint32_t row = steps[j] - steps[i];
            if (rows != nullptr) row = rows[row];
            return cell(row, std::int64_t{points[j].pitch} - points[i].pitch);
        }
    };
    [[nodiscard]] GridIndex grid_index() const noexcept {
        return {m_points.data(), m_steps.data(), m_grid_rows.empty() ? nullptr : m_grid_rows.data(), m_grid_pitch};
    }
    [[nodiscard]] std::size_t cell_between(std::uint32_t i, std::uint32_t j) const noexcept {
        return grid_index().cell_between(i, j);
    }

    std::vector<Point> m_points;           // the distinct Points, ascending
    std::vector<Vector> m_vectors;         // the kept Vectors
    std::vector<std::size_t> m_offsets;    // list_count() + 1 bounds into m_origins
    std::vector<std::uint32_t> m_origins;  // positions into m_points (or packed pairs), ascending per list
    std::vector<std::uint32_t> m_targets;  // position of origin + Vector, beside each origin (unpacked, on request)
    bool m_packed = false;
    VectorTable m_lookup;  // Vector -> its position in m_vectors, or npos32 (without the grid)
    // The grid over the forward Vectors (dtick >= 0): cell -> position of the Vector in
    // m_vectors, or npos32.
    std::vector<std::uint32_t> m_grid;
    std::int64_t m_grid_ticks = 0;  // dtick / that divisor runs over 0 .. m_grid_ticks - 1
    Divisor m_grid_divisor;         // by the greatest common divisor of the ticks' offsets
    std::int64_t m_grid_pitch = 0;  // dpitch runs over -m_grid_pitch .. m_grid_pitch
    // When few of the tick offsets occur between two Points, the grid has a row for
    // each that does: m_grid_rows maps an offset (in steps) to its row, npos32 for none.
    // Empty: the row is the offset itself.
    std::vector<std::uint32_t> m_grid_rows;
    std::vector<std::uint32_t> m_steps;  // with the grid: each Point's tick offset from the first, in steps
    std::size_t m_forward = 0;
    bool m_may_wrap = true;
    bool m_restrict_dpitch_zero = false;
    bool m_mirrored = false;
    // The pitch rows, filled only when m_restrict_dpitch_zero is set.
    std::vector<std::uint32_t> m_row_of;  // position -> its row
    std::vector<std::size_t> m_row_offsets{0};
    std::vector<std::uint32_t> m_row_members;
};

}  // namespace motivra::sia
