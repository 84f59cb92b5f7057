// SIA over the distinct Points: the MTP table (built in mtp_table.cpp, in O(n^2) time
// over the n distinct Points), and the check that a table can fit in memory.
#include "sia.hpp"

#include <sys/resource.h>
#include <unistd.h>
#include <algorithm>
#include <fstream>
#include <string>

namespace motivra::sia {

namespace {

// Memory the kernel says it can hand out now (MemAvailable), or 0 if unknown.
std::size_t available_memory() {
    std::ifstream meminfo("/proc/meminfo");
    std::string key;
    std::size_t value = 0;
    std::string unit;
    while (meminfo >> key >> value >> unit) {
        if (key == "MemAvailable:") return value * 1024;
    }
    return 0;
}

}  // namespace

void ensure_fits(std::size_t bytes) {
    // Small requests are left to the allocator; only a request that could push the
    // machine into swap or the out-of-memory killer is weighed against what is free.
    constexpr std::size_t small = std::size_t{64} << 20;
    if (bytes <= small) return;
    static const std::size_t physical = [] {
        const long pages = sysconf(_SC_PHYS_PAGES);
        const long page = sysconf(_SC_PAGESIZE);
        return pages > 0 && page > 0 ? static_cast<std::size_t>(pages) * static_cast<std::size_t>(page)
                                     : static_cast<std::size_t>(-1);
    }();
    if (bytes > physical) throw std::bad_alloc();
    const std::size_t available = available_memory();
    if (available != 0 && bytes > available) throw std::bad_alloc();
    // A lowered address-space limit (ulimit -v) binds before physical memory does.
    struct rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        std::size_t mapped_pages = 0;
        std::ifstream statm("/proc/self/statm");
        statm >> mapped_pages;
        const std::size_t mapped = mapped_pages * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        const std::size_t cap = static_cast<std::size_t>(limit.rlim_cur);
        if (mapped >= cap || bytes > cap - mapped) throw std::bad_alloc();
    }
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
