// The TEC record's metrics and texts. Every walk over a tree of sub-TECs uses an
// explicit stack, so a tree of any depth costs heap, never C stack.
#include "tec.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <unordered_map>

namespace motivra::sia {

Tec::~Tec() {
    if (sub_tecs.empty()) return;
    // Detach every subtree that this record owns alone before dropping it, so that
    // destroying a deep chain never nests destructors.
    std::vector<TecPtr> pending;
    try {
        pending = std::move(sub_tecs);
        while (!pending.empty()) {
            TecPtr node = std::move(pending.back());
            pending.pop_back();
            if (node.use_count() == 1 && !node->sub_tecs.empty()) {
                auto& kids = const_cast<Tec&>(*node).sub_tecs;
                pending.reserve(pending.size() + kids.size());
                for (auto& kid : kids) pending.push_back(std::move(kid));
                kids.clear();
            }
        }
    } catch (...) {
        // Out of memory for the work list: the remaining nodes are released by their
        // own destructors, which is correct, only recursive.
    }
}

void normalize_translators(std::vector<Vector>& translators) {
    if (!std::is_sorted(translators.begin(), translators.end())) std::sort(translators.begin(), translators.end());
    translators.erase(std::unique(translators.begin(), translators.end()), translators.end());
}

void shift_translators(std::span<const Vector> from, Vector s, bool may_wrap, std::vector<Vector>& out) {
    out.clear();
    if (s.is_zero()) {
        out.assign(from.begin(), from.end());
        return;
    }
    out.reserve(from.size() + 1);
    const Vector back = -s;
    if (may_wrap) {
        for (const Vector& t : from) {
            if (!(t == s)) out.push_back(t - s);
        }
        out.push_back(back);
        std::sort(out.begin(), out.end());
        return;
    }
    // Without wrap-around, moving keeps the order: one merging pass places -s.
    bool placed = false;
    for (const Vector& t : from) {
        if (t == s) continue;
        const Vector moved = t - s;
        if (!placed && back < moved) {
            out.push_back(back);
            placed = true;
        }
        out.push_back(moved);
    }
    if (!placed) out.push_back(back);
}

Tec make_tec(std::vector<Point> pattern, std::vector<Vector> translators, std::vector<TecPtr> sub_tecs) {
    if (pattern.size() > 1) std::stable_sort(pattern.begin(), pattern.end());
    normalize_translators(translators);
    return Tec(std::move(pattern), std::move(translators), std::move(sub_tecs));
}

namespace {

// Post-order fold over a tree: finish(node, child_results) -> R. Subtrees can be
// shared (the Python constructor shares rather than copies them), so a tree of n
// records can stand for exponentially many; the result of a shared subtree is computed
// once and reused, which keeps every fold linear in the number of distinct records.
template <class R, class Finish>
R fold_tree(const Tec& root, Finish&& finish) {
    struct Frame {
        const Tec* node;
        bool shared;
        std::size_t next;
        std::vector<R> done;
    };
    std::unordered_map<const Tec*, R> memo;
    std::vector<Frame> stack;
    stack.push_back(Frame{&root, false, 0, {}});
    for (;;) {
        Frame& top = stack.back();
        if (top.next < top.node->sub_tecs.size()) {
            const TecPtr& child = top.node->sub_tecs[top.next++];
            const bool shared = child.use_count() > 1;
            if (shared) {
                if (auto hit = memo.find(child.get()); hit != memo.end()) {
                    top.done.push_back(hit->second);
                    continue;
                }
            }
            stack.push_back(Frame{child.get(), shared, 0, {}});
            continue;
        }
        R result = finish(*top.node, top.done);
        const Tec* node = top.node;
        const bool shared = top.shared;
        stack.pop_back();
        if (stack.empty()) return result;
        if (shared) memo.emplace(node, result);
        stack.back().done.push_back(std::move(result));
    }
}

// The Point order as one unsigned word, tick in the high half. The merge loops compare
// through it: one integer compare, where the field-wise order is not always inlined.
constexpr std::uint64_t order_key(const Point& p) noexcept { return std::uint64_t{p.tick} << 32 | p.pitch; }
constexpr auto point_less = [](const Point& a, const Point& b) noexcept { return order_key(a) < order_key(b); };
constexpr auto point_equal = [](const Point& a, const Point& b) noexcept { return order_key(a) == order_key(b); };

// A move keeps an ascending run ascending unless a coordinate wraps past 2^32, which
// rotates it; one pass finds out, and only a rotated run is sorted.
void restore_order(std::vector<Point>::iterator first, std::vector<Point>::iterator last) {
    if (!std::is_sorted(first, last, point_less)) std::sort(first, last, point_less);
}

// Merges the ascending runs [bounds[i], bounds[i + 1]) of `points` pairwise, in
// O(n log runs), and drops the duplicates, leaving `points` ascending and distinct.
void merge_runs(std::vector<Point>& points, std::vector<std::size_t>& bounds) {
    while (bounds.size() > 2) {
        std::size_t kept = 0;
        std::size_t i = 0;
        for (; i + 2 < bounds.size(); i += 2) {
            const auto begin = points.begin();
            std::inplace_merge(begin + static_cast<std::ptrdiff_t>(bounds[i]),
                               begin + static_cast<std::ptrdiff_t>(bounds[i + 1]),
                               begin + static_cast<std::ptrdiff_t>(bounds[i + 2]), point_less);
            bounds[kept++] = bounds[i];
        }
        // An odd run left over waits for the next round.
        if (i + 1 < bounds.size()) bounds[kept++] = bounds[i];
        bounds[kept++] = bounds.back();
        bounds.resize(kept);
    }
    points.erase(std::unique(points.begin(), points.end(), point_equal), points.end());
}

// The covered set of `node` from its sub-TECs' covered sets (ascending and distinct),
// built by merging sorted runs rather than sorting: linear in its size times the log
// of the number of runs, so a chain of n levels costs the sum of its sets, not n sorts.
std::vector<Point> covered_set(const Tec& node, std::vector<std::vector<Point>>& children) {
    std::vector<Point> base;
    std::vector<std::size_t> bounds;
    if (node.pattern.empty() && children.size() == 1) {
        base = std::move(children.front());
    } else {
        std::size_t total = node.pattern.size();
        for (const auto& c : children) total = add_sat(total, c.size());
        base.reserve(total);
        bounds.push_back(0);
        base.assign(node.pattern.begin(), node.pattern.end());
        restore_order(base.begin(), base.end());
        bounds.push_back(base.size());
        for (const auto& c : children) {
            base.insert(base.end(), c.begin(), c.end());
            bounds.push_back(base.size());
        }
        merge_runs(base, bounds);
    }
    children.clear();
    std::vector<Point> covered;
    const std::size_t bound = mul_sat(base.size(), node.translators.size() + 1);
    ensure_fits(mul_sat(bound, sizeof(Point)));
    covered.reserve(bound);
    if (node.translators.size() == 1) {
        // One translator, the common case of a chain: when the move keeps the order,
        // merge the set with its move on the fly, in one pass and no second copy.
        Vector v{};
        node.translators.for_each([&](const Vector& t) { v = t; });
        bool ordered = true;
        for (std::size_t i = 1; i < base.size() && ordered; ++i) ordered = point_less(base[i - 1] + v, base[i] + v);
        if (ordered) {
            std::size_t i = 0;
            std::size_t j = 0;
            while (i < base.size() && j < base.size()) {
                const Point moved = base[j] + v;
                if (point_less(base[i], moved)) {
                    covered.push_back(base[i++]);
                } else {
                    if (!point_less(moved, base[i])) ++i;  // both sets hold it: keep one
                    covered.push_back(moved);
                    ++j;
                }
            }
            covered.insert(covered.end(), base.begin() + static_cast<std::ptrdiff_t>(i), base.end());
            for (; j < base.size(); ++j) covered.push_back(base[j] + v);
            return covered;
        }
    }
    covered = base;
    bounds.assign({0, covered.size()});
    node.translators.for_each([&](const Vector& v) {
        for (const Point& b : base) covered.push_back(b + v);
        restore_order(covered.begin() + static_cast<std::ptrdiff_t>(bounds.back()), covered.end());
        bounds.push_back(covered.size());
    });
    merge_runs(covered, bounds);
    return covered;
}

// The encoding units of `node` from its sub-TECs' (`units_of` reads them from `kids`):
// a leaf counts its pattern and translators; a non-leaf one unit per sub-TEC plus the
// sub-TEC's units (its own translators are not counted). Saturates rather than wraps.
template <class Kids, class UnitsOf>
std::uint64_t encoding_units(const Tec& node, const Kids& kids, UnitsOf&& units_of) {
    if (node.is_leaf()) return std::uint64_t{node.pattern.size() + node.translators.size()};
    std::uint64_t units = 0;
    for (const auto& kid : kids) units = add_sat(add_sat(units, 1), units_of(kid));
    return units;
}

// Decimal lengths of the texts below, for sizing a text before writing it.
std::size_t uint_length(std::uint64_t value) {
    char buf[24];
    return static_cast<std::size_t>(std::to_chars(buf, buf + sizeof buf, value).ptr - buf);
}
std::size_t int_length(std::int64_t value) {
    char buf[24];
    return static_cast<std::size_t>(std::to_chars(buf, buf + sizeof buf, value).ptr - buf);
}
// "[(t, p), ...]": 2 brackets, 6 bytes per Point besides its digits, ", " between.
std::size_t points_length(std::span<const Point> points) {
    std::size_t n = 2;
    for (const Point& p : points) n += 6 + uint_length(p.tick) + uint_length(p.pitch);
    return n - (points.empty() ? 0 : 2);
}
std::size_t vectors_length(const TranslatorSet& vectors) {
    std::size_t n = 2;
    vectors.for_each([&](const Vector& v) { n += 6 + int_length(v.dtick) + int_length(v.dpitch); });
    return n - (vectors.size() == 0 ? 0 : 2);
}

void append_uint(std::string& out, std::uint64_t value) {
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, r.ptr);
}
void append_int(std::string& out, std::int64_t value) {
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, r.ptr);
}

void append_points(std::string& out, std::span<const Point> points) {
    out.push_back('[');
    for (std::size_t i = 0; i < points.size(); ++i) {
        if (i) out.append(", ");
        out.push_back('(');
        append_uint(out, points[i].tick);
        out.append(", ");
        append_uint(out, points[i].pitch);
        out.push_back(')');
    }
    out.push_back(']');
}

void append_vectors(std::string& out, const TranslatorSet& vectors) {
    out.push_back('{');
    bool first = true;
    vectors.for_each([&](const Vector& v) {
        if (!first) out.append(", ");
        first = false;
        out.push_back('(');
        append_int(out, v.dtick);
        out.append(", ");
        append_int(out, v.dpitch);
        out.push_back(')');
    });
    out.push_back('}');
}

}  // namespace

std::vector<Point> coverage(const Tec& tec) { return fold_tree<std::vector<Point>>(tec, covered_set); }

std::uint64_t total_encoding_units(const Tec& tec) {
    return fold_tree<std::uint64_t>(tec, [](const Tec& node, std::vector<std::uint64_t>& kids) {
        return encoding_units(node, kids, [](std::uint64_t units) { return units; });
    });
}

double compression_ratio(const Tec& tec) {
    return static_cast<double>(coverage(tec).size()) / static_cast<double>(total_encoding_units(tec));
}

double compactness(const Tec& tec, std::span<const Point> points) {
    const std::vector<Point> covered = coverage(tec);
    if (covered.empty()) return 0.0;
    const Box box = bounding_box(covered);
    std::size_t inside = 0;
    for (const Point& p : points) inside += box.contains(p);
    if (inside == 0) return 0.0;
    return static_cast<double>(tec.pattern.size()) / static_cast<double>(inside);
}

std::string ratio_text(double value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
    char buf[512];
    auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
    return std::string(buf, r.ptr);
}

std::string repr(const Tec& tec) {
    // Every record writes at least "TEC(pattern=[], translators={}, sub_tecs=[])": refuse
    // at once a text that cannot fit, however the tree shares its subtrees.
    const std::uint64_t records = fold_tree<std::uint64_t>(tec, [](const Tec&, std::vector<std::uint64_t>& kids) {
        std::uint64_t n = 1;
        for (std::uint64_t k : kids) n = add_sat(n, k);
        return n;
    });
    ensure_fits(mul_sat(static_cast<std::size_t>(records), 2 * 44));
    std::string out;
    struct Frame {
        const Tec* node;
        std::size_t next;
    };
    std::vector<Frame> stack;
    auto enter = [&](const Tec* node) {
        out.append("TEC(pattern=");
        append_points(out, node->pattern);
        out.append(", translators=");
        append_vectors(out, node->translators);
        out.append(", sub_tecs=[");
        stack.push_back(Frame{node, 0});
    };
    enter(&tec);
    while (!stack.empty()) {
        Frame& top = stack.back();
        if (top.next < top.node->sub_tecs.size()) {
            if (top.next) out.append(", ");
            const Tec* child = top.node->sub_tecs[top.next++].get();
            enter(child);
        } else {
            out.append("])");
            stack.pop_back();
        }
    }
    return out;
}

namespace {

// Refuses at once a summary whose indentation alone cannot fit: the prefixes of a deep
// tree grow with the depth. Rendered at pad p, a subtree writes p x lines(subtree) +
// deeper(subtree) bytes of prefix, where deeper() adds the 2 extra spaces per level
// below; both fold bottom-up, once per distinct record, before any covered set is built.
void ensure_summary_prefixes_fit(const Tec& tec, std::uint64_t indent) {
    struct Extent {
        std::size_t lines;
        std::size_t deeper;
    };
    const Extent e = fold_tree<Extent>(tec, [](const Tec& node, std::vector<Extent>& kids) {
        Extent x{node.is_leaf() ? std::size_t{3} : std::size_t{4}, 0};
        for (const Extent& k : kids) {
            x.lines = add_sat(x.lines, k.lines);
            x.deeper = add_sat(x.deeper, add_sat(mul_sat(2, k.lines), k.deeper));
        }
        return x;
    });
    const std::size_t prefix_bytes = add_sat(mul_sat(static_cast<std::size_t>(indent), e.lines), e.deeper);
    // The text is built and then copied once into a Python string; every line holds some
    // 20 bytes besides its prefix.
    ensure_fits(mul_sat(add_sat(prefix_bytes, mul_sat(e.lines, 20)), 2));
}

struct NodeMetrics {
    std::size_t covered;
    std::uint64_t units;
};

struct SummaryPlan {
    std::unordered_map<const Tec*, NodeMetrics> metrics;
    std::size_t length;  // of the whole text, exactly
};

// Coverage sizes and unit counts of every node, bottom-up in one pass, so that a covered
// set is computed once per node rather than once per ancestor. The same pass sizes the
// text exactly: every subtree's lines, the extra prefix bytes of its deeper levels, and
// its bytes besides the prefixes and newlines. Only the sizes travel up: a child's set is
// dropped once its parent's is built.
SummaryPlan plan_summary(const Tec& tec, std::uint64_t indent) {
    SummaryPlan plan;
    struct Partial {
        std::vector<Point> covered;
        std::uint64_t units;
        std::size_t lines;
        std::size_t deeper;
        std::size_t bytes;
    };
    const Partial whole = fold_tree<Partial>(tec, [&](const Tec& node, std::vector<Partial>& kids) {
        const std::uint64_t units = encoding_units(node, kids, [](const Partial& kid) { return kid.units; });
        Partial p{{}, units, node.is_leaf() ? std::size_t{3} : std::size_t{4}, 0, 0};
        std::vector<std::vector<Point>> sets;
        for (auto& k : kids) {
            p.lines = add_sat(p.lines, k.lines);
            p.deeper = add_sat(p.deeper, add_sat(mul_sat(2, k.lines), k.deeper));
            p.bytes = add_sat(p.bytes, k.bytes);
            sets.push_back(std::move(k.covered));
        }
        kids.clear();
        p.covered = covered_set(node, sets);
        const std::size_t covered = p.covered.size();
        plan.metrics[&node] = NodeMetrics{covered, units};
        std::size_t own = node.pattern.empty() ? 12 : 8 + points_length(node.pattern) + 14;
        own += vectors_length(node.translators);
        own += 18 + uint_length(covered);
        own += 21 + ratio_text(static_cast<double>(covered) / static_cast<double>(units)).size();
        if (!node.is_leaf()) own += 11;
        p.bytes = add_sat(p.bytes, own);
        return p;
    });
    plan.length = add_sat(add_sat(mul_sat(static_cast<std::size_t>(indent), whole.lines), whole.deeper),
                          add_sat(whole.bytes, whole.lines - 1));
    return plan;
}

// Writes the planned text, depth first with an explicit stack (a tree may be far deeper
// than the C++ stack allows), each record at its parent's pad + 2.
std::string render_summary(const Tec& tec, std::uint64_t indent, const SummaryPlan& plan) {
    std::string out;
    out.reserve(plan.length);
    bool first_line = true;
    auto line = [&](std::size_t pad) -> std::string& {
        if (!first_line) out.push_back('\n');
        first_line = false;
        out.append(pad, ' ');
        return out;
    };
    struct Frame {
        const Tec* node;
        std::size_t pad;
        std::size_t next;
    };
    std::vector<Frame> stack;
    auto enter = [&](const Tec* node, std::size_t pad) {
        const NodeMetrics m = plan.metrics.at(node);
        if (!node->pattern.empty()) {
            line(pad).append("pattern=");
            append_points(out, node->pattern);
            out.append(", translators=");
        } else {
            line(pad).append("translators=");
        }
        append_vectors(out, node->translators);
        line(pad).append("  coverage count: ");
        append_uint(out, m.covered);
        line(pad).append("  compression ratio: ");
        out.append(ratio_text(static_cast<double>(m.covered) / static_cast<double>(m.units)));
        if (!node->is_leaf()) line(pad).append("  sub-tecs:");
        stack.push_back(Frame{node, pad, 0});
    };
    enter(&tec, static_cast<std::size_t>(indent));
    while (!stack.empty()) {
        Frame& top = stack.back();
        if (top.next < top.node->sub_tecs.size()) {
            const Tec* child = top.node->sub_tecs[top.next++].get();
            enter(child, top.pad + 2);
        } else {
            stack.pop_back();
        }
    }
    if (out.size() != plan.length) throw Panic("summary: text length miscounted");
    return out;
}

}  // namespace

std::string summary(const Tec& tec, std::uint64_t indent) {
    if (indent >= (std::uint64_t{1} << 63)) throw Panic("capacity overflow");
    ensure_summary_prefixes_fit(tec, indent);
    const SummaryPlan plan = plan_summary(tec, indent);
    // The text and then its copy in a Python string.
    ensure_fits(mul_sat(plan.length, 2));
    return render_summary(tec, indent, plan);
}

int compare(const SortKey& a, const SortKey& b) noexcept {
    if (a.compression_ratio != b.compression_ratio) return a.compression_ratio > b.compression_ratio ? -1 : 1;
    if (a.compactness != b.compactness) return a.compactness > b.compactness ? -1 : 1;
    if (a.coverage_size != b.coverage_size) return a.coverage_size > b.coverage_size ? -1 : 1;
    if (a.pattern_size != b.pattern_size) return a.pattern_size > b.pattern_size ? -1 : 1;
    if (a.time_span != b.time_span) return a.time_span < b.time_span ? -1 : 1;
    if (a.bbox_area != b.bbox_area) return a.bbox_area < b.bbox_area ? -1 : 1;
    return 0;
}

void pattern_extents(std::span<const Point> pattern, SortKey& key) {
    key.pattern_size = pattern.size();
    if (pattern.empty()) return;
    // Extremes compared as signed 32-bit values, extents taken modulo 2^32.
    const Box box = bounding_box(pattern, true);
    key.time_span = box.tmax - box.tmin;
    key.bbox_area = std::uint64_t{box.pmax - box.pmin} * std::uint64_t{box.tmax - box.tmin};
}

}  // namespace motivra::sia
