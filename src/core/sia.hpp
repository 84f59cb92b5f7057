// SIA: the maximal translatable pattern (MTP) of every Vector that carries at least two
// Points of a Dataset onto Points of the Dataset.
#pragma once

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "monitor.hpp"
#include "points.hpp"
#include "tables.hpp"

namespace motivra::sia {

// The MTP map in flat form. Only the distinct Points matter, so they are stored once,
// sorted, and every MTP is a run of ascending positions into them.
struct MtpTable {
    std::vector<Point> points;           // the distinct Points, ascending
    std::vector<Vector> vectors;         // the kept Vectors: those above zero, then the rest, each ascending
    std::vector<std::size_t> offsets;    // vectors.size() + 1 bounds into `origins`
    std::vector<std::uint32_t> origins;  // positions into `points`, ascending per Vector
    std::vector<std::uint32_t> targets;  // position of origin + Vector, beside each origin (on request)
    // With targets requested and fewer than 2^16 + 1 Points, each entry of `origins` is
    // origin << 16 | target instead, and `targets` stays empty.
    bool packed = false;
    VectorTable lookup;  // Vector -> its position in `vectors`, or npos32
    // When no difference can wrap and the differences span a small box, a dense grid
    // over the forward Vectors (dtick >= 0) replaces the hash table: cell -> position
    // of the Vector in `vectors`, or npos32. A backward Vector -v sits at
    // 2 * forward - 1 - (position of v).
    std::vector<std::uint32_t> grid;
    std::int64_t grid_ticks = 0;  // dtick / that divisor runs over 0 .. grid_ticks - 1
    Divisor grid_divisor;         // by the greatest common divisor of the ticks' offsets
    std::int64_t grid_pitch = 0;  // dpitch runs over -grid_pitch .. grid_pitch
    // When few of the tick offsets occur between two Points, the grid has a row for
    // each that does: grid_rows maps an offset (in steps) to its row, npos32 for none.
    // Empty: the row is the offset itself.
    std::vector<std::uint32_t> grid_rows;
    std::vector<std::uint32_t> steps;  // with the grid: each Point's tick offset from the first, in steps
    std::size_t forward = 0;           // how many of `vectors` lie above zero
    // False when every coordinate is below 2^31: then no difference or sum of the
    // table's Points and Vectors wraps, and moving an ascending list keeps it ascending.
    bool may_wrap = true;
    bool restrict_dpitch_zero = false;
    // Whether only the forward lists are stored (`offsets` then bounds `forward` lists):
    // the origins of a backward Vector -v are the targets of v, and its targets are the
    // origins of v. See list_of().
    bool mirrored = false;
    // Positions of the Points that share a pitch, grouped by pitch, each group ascending;
    // filled only when `restrict_dpitch_zero` is set.
    std::vector<std::uint32_t> row_of;  // position -> its row
    std::vector<std::size_t> row_offsets;
    std::vector<std::uint32_t> row_members;

    [[nodiscard]] std::size_t size() const noexcept { return vectors.size(); }
    // Where the pairs of the k-th Vector are stored: the stored list, and whether its
    // targets (rather than its origins) are the Vector's origins.
    struct ListAt {
        std::size_t list;
        bool reversed;
    };
    [[nodiscard]] ListAt list_of(std::size_t k) const noexcept {
        if (mirrored && k >= forward) return {2 * forward - 1 - k, true};
        return {k, false};
    }
    // (Unpacked tables only.)
    [[nodiscard]] std::span<const std::uint32_t> mtp(std::size_t k) const noexcept {
        const auto [list, reversed] = list_of(k);
        const std::uint32_t* base = reversed ? targets.data() : origins.data();
        return {base + offsets[list], offsets[list + 1] - offsets[list]};
    }
    [[nodiscard]] std::span<const std::uint32_t> row(std::uint32_t r) const noexcept {
        return {row_members.data() + row_offsets[r], row_offsets[r + 1] - row_offsets[r]};
    }
    // The position of -vectors[k], or npos32 when it is not kept.
    [[nodiscard]] std::uint32_t partner(std::size_t k) const noexcept {
        if (!grid.empty()) return static_cast<std::uint32_t>(2 * forward - 1 - k);
        return lookup.find(-vectors[k]);
    }
    // The position of points[j] - points[i] (i != j; in a restricted table, two Points
    // of one pitch) among the Vectors, or npos32 when it is not kept: find() for two
    // Points of the table. On the grid it is read from their steps and pitches, with no
    // division and no range test, since every such difference lies inside the grid;
    // the Points are sorted, so it is above zero exactly when i < j.
    [[nodiscard]] std::uint32_t between(std::uint32_t i, std::uint32_t j) const noexcept {
        if (grid.empty()) return lookup.find(points[j] - points[i]);
        const bool backward = j < i;
        if (backward) std::swap(i, j);
        std::uint32_t row = steps[j] - steps[i];
        if (!grid_rows.empty()) row = grid_rows[row];
        const std::int64_t dp = std::int64_t{points[j].pitch} - points[i].pitch;
        const std::uint32_t k =
            grid[static_cast<std::size_t>(std::int64_t{row} * (2 * grid_pitch + 1) + dp + grid_pitch)];
        if (k == npos32 || !backward) return k;
        return static_cast<std::uint32_t>(2 * forward - 1 - k);
    }
    [[nodiscard]] std::uint32_t find(Vector v) const noexcept {
        if (grid.empty()) return lookup.find(v);
        const bool backward = v.dtick < 0 || (v.dtick == 0 && v.dpitch < 0);
        const std::int64_t raw = backward ? -std::int64_t{v.dtick} : v.dtick;  // 0 .. 2^31
        const std::int64_t dp = backward ? -std::int64_t{v.dpitch} : v.dpitch;
        if (!grid_divisor.divides(static_cast<std::uint32_t>(raw))) return npos32;
        const std::int64_t dt = grid_divisor.quotient(static_cast<std::uint32_t>(raw));
        if (dt >= grid_ticks || dp < -grid_pitch || dp > grid_pitch) return npos32;
        std::int64_t row = dt;
        if (!grid_rows.empty()) {
            const std::uint32_t r = grid_rows[static_cast<std::size_t>(dt)];
            if (r == npos32) return npos32;
            row = r;
        }
        const std::uint32_t k = grid[static_cast<std::size_t>(row * (2 * grid_pitch + 1) + dp + grid_pitch)];
        if (k == npos32 || !backward) return k;
        return static_cast<std::uint32_t>(2 * forward - 1 - k);
    }
};

// The Points at `positions` (into `points`, such as an MTP's origins), in that order;
// `out` is overwritten.
inline void points_at(std::span<const Point> points, std::span<const std::uint32_t> positions,
                      std::vector<Point>& out) {
    out.clear();
    out.reserve(positions.size());
    for (const std::uint32_t i : positions) out.push_back(points[i]);
}
[[nodiscard]] inline std::vector<Point> points_at(std::span<const Point> points,
                                                  std::span<const std::uint32_t> positions) {
    std::vector<Point> out;
    points_at(points, positions, out);
    return out;
}

// The distinct Points of a Dataset, ascending.
[[nodiscard]] std::vector<Point> distinct_sorted(std::span<const Point> dataset);

// Builds the MTP map of `dataset`. Costs O(n^2) time over the n distinct Points
// (or over the pairs within each pitch when `restrict_dpitch_zero` is set) and memory
// proportional to the total length of the MTPs.
// `with_targets` records beside every origin the position of its image; a table on the
// fast path is then `mirrored`, storing the forward lists only.
// `monitor`, when given, is ticked as the pairs are gone through.
[[nodiscard]] MtpTable sia_table(std::span<const Point> dataset, bool restrict_dpitch_zero, bool with_targets = false,
                                 Monitor* monitor = nullptr);

}  // namespace motivra::sia
