// RecurSIA on COSIATEC: the COSIATEC encoding, with every large enough pattern encoded
// again, recursively, as nested sub-TECs.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "cosiatec.hpp"
#include "tec.hpp"

namespace motivra::sia {

// A pattern of at least max(min_pattern_size, 2) Points is encoded further, unless it
// holds every distinct Point of the data it was found in (possible only with
// coordinates of 2^31 or more): one-Point patterns and whole-input patterns stay
// leaves, so every call ends. The tree is built with an explicit work list.
[[nodiscard]] std::vector<Tec> recursive_cosiatec_compress(std::span<const Point> dataset, bool restrict_dpitch_zero,
                                                           std::size_t min_pattern_size, bool sweepline_optimization);

// As above, with every COSIATEC run (the top one and the nested ones) narrowed by
// `options`; only the top run reports progress. Patterns of fewer than
// max(min_recursion_size, 2) Points stay leaves.
[[nodiscard]] std::vector<Tec> recursive_cosiatec_compress(std::span<const Point> dataset,
                                                           const CompressOptions& options,
                                                           std::size_t min_recursion_size);

}  // namespace motivra::sia
