// Sweepline builder. Sorted input takes the SIATEC path, which yields the same records
// with far fewer probes. Unsorted input runs the sweep itself: one forward-only cursor
// per pattern Point, O(n x m) per MTP; a target that lies outside the 32-bit range as an
// exact sum is looked up by binary search instead, so that it never drives a cursor
// past Points that later candidates need.
#include "sweepline.hpp"

#include <algorithm>
#include <cstdint>

#include "sia.hpp"
#include "siatec.hpp"
#include "translators.hpp"

namespace motivra::sia::sweepline {

namespace {

// Plain bisection: well defined on any input, exact on sorted input.
bool bisect_contains(std::span<const Point> d, Point target) {
    std::size_t lo = 0, hi = d.size();
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (d[mid] < target) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    return lo < d.size() && d[lo] == target;
}

std::vector<Vector> sweep(std::span<const Point> d, std::span<const Point> pattern, bool restrict_dpitch_zero,
                          std::vector<std::size_t>& cursor) {
    const std::size_t n = d.size(), m = pattern.size();
    const Point p0 = pattern[0];
    cursor.assign(m, 0);
    std::vector<Vector> found;
    for (std::size_t i = 0; i < n; ++i) {
        if (restrict_dpitch_zero && d[i].pitch != p0.pitch) continue;
        const Vector c = d[i] - p0;
        if (c.is_zero()) continue;
        // The exact offset, without wrap-around.
        const std::int64_t off_tick = std::int64_t{d[i].tick} - p0.tick;
        const std::int64_t off_pitch = std::int64_t{d[i].pitch} - p0.pitch;
        cursor[0] = std::max(cursor[0], i);
        const bool all = carries(pattern, c, [&](std::size_t k, Point target) {
            const std::int64_t t = pattern[k].tick + off_tick;
            const std::int64_t p = pattern[k].pitch + off_pitch;
            if (t < 0 || t > UINT32_MAX || p < 0 || p > UINT32_MAX) return bisect_contains(d, target);
            std::size_t j = std::max(cursor[k - 1], cursor[k]);
            while (j < n && d[j] < target) ++j;
            cursor[k] = j;
            return j < n && d[j] == target;
        });
        if (all) found.push_back(c);
    }
    normalize_translators(found);
    return found;
}

}  // namespace

std::vector<Tec> build_tecs_from_mtps(std::span<const Point> dataset, bool restrict_dpitch_zero) {
    if (std::is_sorted(dataset.begin(), dataset.end())) return sia::build_tecs_from_mtps(dataset, restrict_dpitch_zero);

    const MtpTable table = sia_table(dataset, restrict_dpitch_zero);
    ensure_records_fit(table);
    std::vector<Tec> records;
    std::vector<std::size_t> cursor;
    std::vector<Point> pattern;
    for (std::size_t k = 0; k < table.size(); ++k) {
        points_at(table.points(), table.mtp(k), pattern);
        std::vector<Vector> translators = sweep(dataset, pattern, restrict_dpitch_zero, cursor);
        if (translators.empty()) continue;
        records.emplace_back(pattern, std::move(translators));
    }
    return records;
}

}  // namespace motivra::sia::sweepline
