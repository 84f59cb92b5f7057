// The sweepline TEC builder: the records of SIATEC for a Dataset sorted by (tick, pitch),
// found by forward scans when the input is unsorted.
#pragma once

#include <span>
#include <vector>

#include "tec.hpp"

namespace motivra::sia::sweepline {

// On a Dataset sorted by (tick, pitch), repeats allowed, returns exactly the records of
// SIATEC in the same order. On other input it still ends, and every translator it
// reports carries its whole pattern onto Points of the Dataset.
[[nodiscard]] std::vector<Tec> build_tecs_from_mtps(std::span<const Point> dataset, bool restrict_dpitch_zero);

}  // namespace motivra::sia::sweepline
