// SIATEC from the flat MTP table. Candidates for a pattern's translators come from the
// shortest origin list its differences allow, not from the whole Dataset, and a
// pattern's partner (its MTP moved by its Vector) reuses its translators. Worst case
// O(#MTPs x n x m) membership tests; far less on real music.
#include "siatec.hpp"

#include <algorithm>

namespace motivra::sia {

std::vector<Tec> build_tecs(const MtpTable& table) {
    const PointIndex index(table.points);
    auto contains = [&](Point p) { return index.contains(p); };
    std::vector<Tec> records;
    records.reserve(table.size());
    for (std::size_t k = 0; k < table.size(); ++k) {
        const auto pattern = table.mtp(k);
        const Vector v = table.vectors[k];
        std::vector<Vector> translators;
        const std::uint32_t partner = table.find(-v);
        if (partner != npos32 && partner < k && !(-v == v)) {
            // This pattern is the partner's moved by the partner's Vector u = -v: its
            // translators are the partner's moved by -u, less zero, plus -u itself.
            const Vector u = table.vectors[partner];
            for (const Vector& t : records[partner].translators) {
                if (!(t == u)) translators.push_back(t - u);
            }
            translators.push_back(-u);
        } else {
            const auto candidates = translator_candidates(table, pattern, [&](std::uint32_t at) { return table.mtp(at); });
            collect_translators(table, pattern, candidates, contains, translators);
        }
        normalize_translators(translators);
        std::vector<Point> points;
        points.reserve(pattern.size());
        for (std::uint32_t i : pattern) points.push_back(table.points[i]);
        records.emplace_back(std::move(points), std::move(translators));
    }
    return records;
}

std::vector<Tec> build_tecs_from_mtps(std::span<const Point> dataset, bool restrict_dpitch_zero) {
    return build_tecs(sia_table(dataset, restrict_dpitch_zero));
}

}  // namespace motivra::sia
