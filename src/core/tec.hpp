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

// The translators of P + s, ascending, from the ascending translators of P, where s is
// one of them: c carries P + s into the Dataset exactly when s + c carries P, so they
// are {t - s : t in T(P) or t = 0} less the zero Vector, as many as T(P). Without
// wrap-around (`may_wrap` false) moving keeps the order and one merging pass suffices.
void shift_translators(std::span<const Vector> from, Vector s, bool may_wrap, std::vector<Vector>& out);

// The translator set of a TEC: distinct Vectors, iterated in ascending order. The
// builders give every pattern of one shape a translator set that is a move of one
// representative set (see shift_translators), so a set may be stored as a shared set
// and a move, and is spelled out only when it is read.
class TranslatorSet {
public:
    TranslatorSet() = default;
    // Takes ascending, distinct Vectors.
    explicit TranslatorSet(std::vector<Vector> ascending)
        : m_base(std::make_shared<const std::vector<Vector>>(std::move(ascending))) {}
    // The set of P + s from the set of P; `s` must be a member of `base`.
    static TranslatorSet moved(const TranslatorSet& base, Vector s, bool may_wrap) {
        TranslatorSet set = base;
        set.m_shift = set.m_shift + s;  // moves compose: (P + s1) + s2 = P + (s1 + s2)
        set.m_may_wrap = set.m_may_wrap || may_wrap;
        if (set.m_shift.is_zero()) set.m_may_wrap = false;
        return set;
    }

    [[nodiscard]] std::size_t size() const noexcept { return m_base ? m_base->size() : 0; }
    // The Vectors, ascending.
    [[nodiscard]] std::vector<Vector> to_vector() const {
        if (!m_base) return {};
        if (m_shift.is_zero()) return *m_base;
        std::vector<Vector> out;
        shift_translators(*m_base, m_shift, m_may_wrap, out);
        return out;
    }
    // Calls f(v) for every Vector, ascending.
    template <class F>
    void for_each(F&& f) const {
        if (!m_base) return;
        if (m_shift.is_zero()) {
            for (const Vector& v : *m_base) f(v);
            return;
        }
        for (const Vector& v : to_vector()) f(v);
    }

private:
    std::shared_ptr<const std::vector<Vector>> m_base;
    Vector m_shift{};
    bool m_may_wrap = false;
};

struct Tec;
// A record never changes once it is shared, so subtrees are shared rather than
// deep-copied: a copy is indistinguishable from a deep copy and costs O(1).
using TecPtr = std::shared_ptr<const Tec>;

struct Tec {
    std::vector<Point> pattern;    // ascending after make_tec; duplicates kept
    TranslatorSet translators;     // ascending and distinct: a set with a fixed order
    std::vector<TecPtr> sub_tecs;  // empty for a leaf

    Tec() = default;
    Tec(std::vector<Point> p, TranslatorSet t, std::vector<TecPtr> s = {})
        : pattern(std::move(p)), translators(std::move(t)), sub_tecs(std::move(s)) {}
    // `t` ascending and distinct.
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
// The parts of a key that depend on the pattern alone.
void pattern_extents(std::span<const Point> pattern, SortKey& key);

}  // namespace motivra::sia
