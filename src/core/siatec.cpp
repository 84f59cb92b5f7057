// SIATEC from the flat MTP table. Candidates for a pattern's translators come from the
// shortest origin list its differences allow, not from the whole Dataset, and the
// translators are computed once per shape of pattern and moved to the others. Worst
// case O(#MTPs x n x m) membership tests; far less on real music.
#include "siatec.hpp"

#include <algorithm>

#include "sia.hpp"
#include "translators.hpp"

namespace motivra::sia {

namespace {

// Patterns of one shape (equal up to a translation; with the Δpitch restriction also at
// one pitch) have related translators: if P' = P + s, then c carries P' into the
// Dataset exactly when s + c carries P, so T(P') = {t - s : t in T(P) or t = 0} less 0.
// Every MTP shares its shape with its partner (moved by its Vector), and real music
// repeats shapes far more often than that.
std::uint64_t shape_hash(const MtpTable& table, std::span<const std::uint32_t> pattern) {
    const Point p0 = table.point(pattern[0]);
    std::uint64_t h = mix64(pattern.size() + (table.restricted() ? std::uint64_t{p0.pitch} << 32 : 0));
    for (std::size_t i = 1; i < pattern.size(); ++i) h = mix64(h ^ vector_key(table.point(pattern[i]) - p0));
    return h;
}

bool same_shape(const MtpTable& table, std::span<const std::uint32_t> a, std::span<const std::uint32_t> b) {
    if (a.size() != b.size()) return false;
    const Point a0 = table.point(a[0]), b0 = table.point(b[0]);
    if (table.restricted() && a0.pitch != b0.pitch) return false;
    for (std::size_t i = 1; i < a.size(); ++i) {
        if (!(table.point(a[i]) - a0 == table.point(b[i]) - b0)) return false;
    }
    return true;
}

// For every MTP, the MTP of the same shape whose translators it derives from: the first
// of its shape. Without wrap-around the backward half mirrors the forward half (the MTP
// of -v is the MTP of v moved by v), so only the forward half needs grouping.
std::vector<std::uint32_t> shape_sources(const MtpTable& table) {
    const std::size_t count = table.size();
    const std::size_t grouped = table.negations_paired() ? table.forward_count() : count;
    std::vector<std::uint32_t> source(count);
    struct Slot {
        std::uint64_t hash;
        std::uint32_t member = npos32;  // npos32 marks an empty slot
    };
    std::vector<Slot> slots(table_capacity(grouped));
    const std::size_t mask = slots.size() - 1;
    for (std::size_t k = 0; k < grouped; ++k) {
        const auto pattern = table.mtp(k);
        const std::uint64_t h = shape_hash(table, pattern);
        std::size_t s = mix64(h) & mask;
        // Equal hashes of different shapes are all but impossible, but are kept apart.
        while (slots[s].member != npos32 &&
               !(slots[s].hash == h && same_shape(table, table.mtp(slots[s].member), pattern))) {
            s = (s + 1) & mask;
        }
        if (slots[s].member == npos32) slots[s] = Slot{h, static_cast<std::uint32_t>(k)};
        source[k] = slots[s].member;
    }
    for (std::size_t k = grouped; k < count; ++k) source[k] = source[table.partner(k)];
    return source;
}

}  // namespace

void ensure_records_fit(const MtpTable& table) {
    ensure_fits(add_sat(mul_sat(table.pair_count(), sizeof(Point)), mul_sat(table.size(), sizeof(Tec) + 64)));
}

std::vector<Tec> build_tecs(const MtpTable& table) {
    const std::size_t count = table.size();
    ensure_records_fit(table);
    // Each shape's first member is computed, the rest derived.
    const std::vector<std::uint32_t> source = shape_sources(table);

    const PointSet members(table.points(), table.pair_count());
    std::vector<TranslatorSet> translators(count);
    std::vector<Vector> scratch;
    std::vector<Point> points;
    for (std::size_t k = 0; k < count; ++k) {
        if (source[k] != k) continue;
        const auto pattern = table.mtp(k);
        points_at(table.points(), pattern, points);
        const auto candidates = translator_candidates(table, pattern, [&](std::uint32_t at) { return table.mtp(at); });
        scratch.clear();
        collect_translators(table, candidates, members, points, scratch);
        // Candidates ascend, so their differences do too unless a component wraps.
        if (table.may_wrap() && !std::is_sorted(scratch.begin(), scratch.end())) {
            std::sort(scratch.begin(), scratch.end());
        }
        translators[k] = TranslatorSet(std::vector<Vector>(scratch.begin(), scratch.end()));
    }
    for (std::size_t k = 0; k < count; ++k) {
        const std::uint32_t r = source[k];
        if (r == k) continue;
        const Vector s = table.point(table.mtp(k)[0]) - table.point(table.mtp(r)[0]);
        translators[k] = TranslatorSet::moved(translators[r], s, table.may_wrap());
    }

    std::vector<Tec> records;
    records.reserve(count);
    for (std::size_t k = 0; k < count; ++k) {
        records.emplace_back(points_at(table.points(), table.mtp(k)), std::move(translators[k]));
    }
    return records;
}

std::vector<Tec> build_tecs_from_mtps(std::span<const Point> dataset, bool restrict_dpitch_zero) {
    return build_tecs(sia_table(dataset, restrict_dpitch_zero));
}

}  // namespace motivra::sia
