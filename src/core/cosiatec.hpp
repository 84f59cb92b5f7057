// COSIATEC: a greedy encoding of a Dataset by TECs whose covered sets partition its
// distinct Points.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "monitor.hpp"
#include "tec.hpp"

namespace motivra::sia {

// In every iteration, the best-ranked TEC (by SortKey, compactness measured against
// the Points not yet covered) among the records that the builders list for the
// remaining Points, the first of equally ranked ones in the builders' order; then one
// one-Point TEC per remaining Point, ascending, once no record is left. Both builders
// list the same records in the same order for the sorted remaining Points, so
// `sweepline_optimization` cannot change the encoding.
[[nodiscard]] std::vector<Tec> cosiatec_compress(std::span<const Point> dataset, bool restrict_dpitch_zero,
                                                 bool sweepline_optimization);

// The choices a caller may narrow. The defaults give cosiatec_compress's encoding.
struct CompressOptions {
    bool restrict_dpitch_zero = false;
    std::size_t min_pattern_size = 2;         // candidates with fewer Points are never chosen
    std::size_t max_pattern_size = SIZE_MAX;  // nor those with more
    double min_compactness = 0.0;             // nor those less compact
    Monitor* monitor = nullptr;               // ticked in long loops; may stop the run
    bool report = true;                       // tell the monitor of every chosen TEC
};

// As above, among the candidates the options admit. Points that no admitted candidate
// covers end as one-Point TECs.
[[nodiscard]] std::vector<Tec> cosiatec_compress(std::span<const Point> dataset, const CompressOptions& options);

}  // namespace motivra::sia
