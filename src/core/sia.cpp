// SIA over the distinct Points: the MTP table (built in mtp_table.cpp, in O(n^2) time
// over the n distinct Points), and the check that a table can fit in memory.
#include "sia.hpp"

#include <algorithm>
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

MtpTable sia_table(std::span<const Point> dataset, bool restrict_dpitch_zero, bool with_targets, Monitor* monitor) {
    return MtpTable::build(distinct_sorted(dataset), restrict_dpitch_zero, with_targets, monitor);
}

}  // namespace motivra::sia
