// COSIATEC: a greedy encoding of a Dataset by TECs whose covered sets partition its
// distinct Points.
#pragma once

#include <span>
#include <vector>

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

}  // namespace motivra::sia
