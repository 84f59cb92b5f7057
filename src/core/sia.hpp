// SIA: the maximal translatable pattern (MTP) of every Vector that carries at least two
// Points of a Dataset onto Points of the Dataset.
#pragma once

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "monitor.hpp"
#include "mtp_table.hpp"
#include "points.hpp"

namespace motivra::sia {

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
// fast path then stores the forward lists only (see MtpTable).
// `monitor`, when given, is ticked as the pairs are gone through.
[[nodiscard]] MtpTable sia_table(std::span<const Point> dataset, bool restrict_dpitch_zero, bool with_targets = false,
                                 Monitor* monitor = nullptr);

}  // namespace motivra::sia
