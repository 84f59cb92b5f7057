// The translational equivalence class (TEC) record, its metrics, its texts and the
// ranking key that COSIATEC orders candidates by.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "points.hpp"

namespace motivra::sia {

struct Tec;
// A record never changes once it is shared, so subtrees are shared rather than
// deep-copied: a copy is indistinguishable from a deep copy and costs O(1).
using TecPtr = std::shared_ptr<const Tec>;

struct Tec {
    std::vector<Point> pattern;        // ascending after make_tec; duplicates kept
    std::vector<Vector> translators;   // ascending and distinct: a set with a fixed order
    std::vector<TecPtr> sub_tecs;      // empty for a leaf

    Tec() = default;
    Tec(std::vector<Point> p, std::vector<Vector> t, std::vector<TecPtr> s = {})
        : pattern(std::move(p)), translators(std::move(t)), sub_tecs(std::move(s)) {}
    Tec(const Tec&) = default;
    Tec(Tec&&) noexcept = default;
    Tec& operator=(const Tec&) = default;
    Tec& operator=(Tec&&) noexcept = default;
    // Releases the tree without recursion, however deep it is.
    ~Tec();

    [[nodiscard]] bool is_leaf() const noexcept { return sub_tecs.empty(); }
};

// Builds a record: sorts the pattern (stably) and puts the translators into set order.
[[nodiscard]] Tec make_tec(std::vector<Point> pattern, std::vector<Vector> translators,
                           std::vector<TecPtr> sub_tecs = {});

// Sorts and deduplicates a list of Vectors into the order a translator set iterates in.
void normalize_translators(std::vector<Vector>& translators);

// The covered set: the pattern and the sub-TECs' covered sets, each moved by every
// translator (32-bit wrap-around). Returned ascending and distinct.
[[nodiscard]] std::vector<Point> coverage(const Tec& tec);
[[nodiscard]] std::uint64_t total_encoding_units(const Tec& tec);
// |coverage| / total_encoding_units; NaN for an empty leaf.
[[nodiscard]] double compression_ratio(const Tec& tec);
// |pattern| over the number of `points` inside the box of the covered set (0.0 when
// either is empty). `points` must be distinct.
[[nodiscard]] double compactness(const Tec& tec, std::span<const Point> points);

// Thrown for an internal failure that must reach Python as PanicException.
struct Panic : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// One-line text: TEC(pattern=[...], translators={...}, sub_tecs=[...]).
[[nodiscard]] std::string repr(const Tec& tec);
// Multi-line text with `indent` leading spaces; throws Panic("capacity overflow") for an
// indent of 2^63 or more and std::bad_alloc when the text cannot fit in memory.
[[nodiscard]] std::string summary(const Tec& tec, std::uint64_t indent);
// Shortest round-trip decimal digits, never an exponent, "NaN" and "inf".
[[nodiscard]] std::string ratio_text(double value);

// The six-field ranking key; smaller ranks better.
struct SortKey {
    double compression_ratio = 0;
    double compactness = 0;
    std::uint64_t coverage_size = 0;
    std::uint64_t pattern_size = 0;
    std::uint32_t time_span = 0;
    std::uint64_t bbox_area = 0;
};
// Negative when a ranks before b, zero when equal, positive when after.
[[nodiscard]] int compare(const SortKey& a, const SortKey& b) noexcept;
// The key of a TEC with a non-empty pattern against a sorted, distinct point set.
[[nodiscard]] SortKey tec_sort_key(const Tec& tec, std::span<const Point> points);
// The parts of a key that depend on the pattern alone.
void pattern_extents(std::span<const Point> pattern, SortKey& key);

}  // namespace motivra::sia
