// COSIATEC without rebuilding: SIA runs once, and the MTPs of the remaining Points are
// the full MTPs with every origin pair that touches a covered Point filtered out. Each
// iteration costs one pass over the surviving pairs (shrinking quadratically) plus the
// exact evaluation of the few candidates whose ratio bound can still beat the best.
#include "cosiatec.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>

#include "sia.hpp"
#include "siatec.hpp"

namespace motivra::sia {

namespace {

// Counts the remaining Points inside a box: one sorted tick run per distinct pitch.
class BoxCounter {
public:
    void rebuild(std::span<const Point> points, std::span<const std::uint8_t> alive) {
        m_pitches.clear();
        m_offsets.clear();
        m_ticks.clear();
        std::vector<std::pair<std::uint32_t, std::uint32_t>> by_pitch;  // (pitch, tick)
        for (std::size_t i = 0; i < points.size(); ++i) {
            if (alive[i]) by_pitch.emplace_back(points[i].pitch, points[i].tick);
        }
        std::sort(by_pitch.begin(), by_pitch.end());
        for (std::size_t i = 0; i < by_pitch.size(); ++i) {
            if (i == 0 || by_pitch[i].first != by_pitch[i - 1].first) {
                m_pitches.push_back(by_pitch[i].first);
                m_offsets.push_back(i);
            }
            m_ticks.push_back(by_pitch[i].second);
        }
        m_offsets.push_back(by_pitch.size());
    }

    [[nodiscard]] std::size_t count(std::uint32_t tmin, std::uint32_t tmax, std::uint32_t pmin,
                                    std::uint32_t pmax) const {
        std::size_t total = 0;
        const auto lo = std::lower_bound(m_pitches.begin(), m_pitches.end(), pmin) - m_pitches.begin();
        for (auto r = static_cast<std::size_t>(lo); r < m_pitches.size() && m_pitches[r] <= pmax; ++r) {
            const auto first = m_ticks.begin() + static_cast<std::ptrdiff_t>(m_offsets[r]);
            const auto last = m_ticks.begin() + static_cast<std::ptrdiff_t>(m_offsets[r + 1]);
            total +=
                static_cast<std::size_t>(std::upper_bound(first, last, tmax) - std::lower_bound(first, last, tmin));
        }
        return total;
    }

private:
    std::vector<std::uint32_t> m_pitches;
    std::vector<std::size_t> m_offsets;
    std::vector<std::uint32_t> m_ticks;
};

// p (t + 1) / (p + t): the best ratio a p-Point pattern with t translators can reach.
// It grows with both p and t, so bounds on them bound the ratio.
double ratio_bound(std::size_t p, std::size_t t) {
    return static_cast<double>(p) * static_cast<double>(t + 1) / static_cast<double>(p + t);
}

struct Candidate {
    SortKey key;
    std::vector<Vector> translators;
};

class Compressor {
public:
    Compressor(std::span<const Point> dataset, const CompressOptions& options)
        : m_options(options),
          m_table(sia_table(dataset, options.restrict_dpitch_zero, true, options.monitor)),
          m_index(m_table.points),
          m_members(m_table.points),
          m_alive(m_table.points.size(), 1),
          m_remaining(m_table.points.size()),
          m_end(m_table.offsets.begin() + 1, m_table.offsets.end()),
          m_cached_size(m_table.size(), 0),
          m_cached_t(m_table.size(), 0),
          m_probe(m_table.size(), npos32),
          m_probe_first(m_table.size(), 0),
          m_memo(m_table.size()),
          m_stamp(m_table.points.size(), 0) {
        m_active.resize(m_table.size());
        for (std::size_t k = 0; k < m_active.size(); ++k) m_active[k] = static_cast<std::uint32_t>(k);
        if (m_table.restrict_dpitch_zero) {
            m_row_alive.resize(m_table.row_offsets.size() - 1);
            for (std::size_t r = 0; r + 1 < m_table.row_offsets.size(); ++r) {
                m_row_alive[r] = m_table.row_offsets[r + 1] - m_table.row_offsets[r];
            }
        }
    }

    std::vector<Tec> run() {
        std::vector<Tec> result;
        bool first = true;
        while (m_remaining > 0) {
            if (!first) refresh();
            first = false;
            m_boxes.rebuild(m_table.points, m_alive);
            const std::optional<std::size_t> chosen = choose();
            if (!chosen) break;
            Candidate& best = *m_best;
            const auto pattern = live(*chosen);
            std::vector<Point> points;
            points.reserve(pattern.size());
            for (std::uint32_t i : pattern) points.push_back(m_table.points[i]);
            cover(pattern, best.translators);
            result.emplace_back(std::move(points), std::move(best.translators));
            if (m_options.monitor && m_options.report) {
                m_options.monitor->report(m_table.points.size() - m_remaining, m_table.points.size(), result.size());
            }
        }
        for (std::size_t i = 0; i < m_alive.size(); ++i) {
            if (m_alive[i]) result.emplace_back(std::vector<Point>{m_table.points[i]}, std::vector<Vector>{});
        }
        return result;
    }

private:
    [[nodiscard]] std::span<const std::uint32_t> live(std::size_t k) const noexcept {
        return {m_table.origins.data() + m_table.offsets[k], m_end[k] - m_table.offsets[k]};
    }

    // Drops from every origin list the pairs whose origin or image is covered; the
    // survivors keep their ascending order, so each list stays an MTP of what remains.
    // Lists that fall below two pairs are dropped from the active set for good: the
    // remaining Points only shrink. (Their stale contents stay a superset of the truth,
    // which is all that translator_candidates needs of them.)
    void refresh() {
        std::uint32_t* origins = m_table.origins.data();
        std::uint32_t* targets = m_table.targets.data();
        const std::uint8_t* alive = m_alive.data();  // 0 or 1
        std::size_t kept = 0;
        for (const std::uint32_t k : m_active) {
            tick(m_options.monitor);
            const std::size_t begin = m_table.offsets[k];
            std::size_t out = begin;
            // Branch-free: whether a pair survives is unpredictable, so every pair is
            // copied and the cursor only advances past survivors.
            const std::size_t end = m_end[k];
            for (std::size_t e = begin; e < end; ++e) {
                const std::uint32_t o = origins[e], t = targets[e];
                origins[out] = o;
                targets[out] = t;
                out += alive[o] & alive[t];
            }
            m_end[k] = out;
            if (out - begin >= 2) m_active[kept++] = k;
        }
        m_active.resize(kept);
    }

    // An upper bound of the translator count of the k-th candidate.
    [[nodiscard]] std::size_t translator_bound(std::size_t k) const {
        const auto pattern = live(k);
        if (m_cached_size[k] == pattern.size()) return m_cached_t[k];  // same pattern, fewer Points
        // The list that bounded the last evaluation still bounds this one if its
        // difference w is still a difference of the pattern from its first Point.
        const std::uint32_t at = m_probe[k];
        if (at != npos32 && pattern[0] == m_probe_first[k]) {
            const Point first = m_table.points[pattern[0]];
            const Point other = first + m_table.vectors[at];
            if (m_members.contains(other) && m_members.contains(other + m_table.vectors[k])) {
                return live(at).size() - 1;
            }
        }
        const Vector w = m_table.points[pattern.back()] - m_table.points[pattern[0]];
        if (!m_table.restrict_dpitch_zero || w.dpitch == 0) {
            const std::uint32_t at = m_table.find(w);
            if (at != npos32) return live(at).size() - 1;
        }
        if (m_table.restrict_dpitch_zero) return m_row_alive[m_table.row_of[pattern[0]]] - 1;
        return m_remaining - 1;
    }

    // The exact key of candidate k, or nothing when it provably ranks below `floor`.
    std::optional<Candidate> evaluate(std::size_t k, double floor) {
        // The MTP of -v is the MTP of v moved by v, in what remains as in the whole
        // Dataset: partners share translator count and coverage size, hence ratio.
        const std::uint32_t partner = m_table.partner(k);
        if (partner != npos32 && partner != k && m_memo[partner].round == m_round) {
            return from_partner(k, partner, floor);
        }
        return evaluate_and_remember(k, floor);
    }

    // Evaluates candidate k on its own and records the outcome for its partner.
    std::optional<Candidate> evaluate_and_remember(std::size_t k, double floor) {
        std::optional<Candidate> result = evaluate_alone(k, floor);
        Memo& memo = m_memo[k];
        memo.round = m_round;
        memo.full = result.has_value();
        if (result) {
            memo.covered = result->key.coverage_size;
            memo.translators = result->translators;
        }
        return result;
    }

    // Candidate k from its partner's evaluation in this round (its pattern is the
    // partner's moved by the partner's Vector).
    std::optional<Candidate> from_partner(std::size_t k, std::uint32_t partner, double floor) {
        const Memo& memo = m_memo[partner];
        // A partner pruned against an earlier, lower floor prunes this one too.
        if (!memo.full) return std::nullopt;
        const auto pattern = live(k);
        const std::size_t m = pattern.size();
        Candidate c;
        shift_translators(memo.translators, m_table.vectors[partner], m_table.may_wrap, c.translators);
        c.key.coverage_size = memo.covered;
        c.key.compression_ratio = static_cast<double>(memo.covered) / static_cast<double>(m + c.translators.size());
        if (c.key.compression_ratio < floor) return std::nullopt;
        finish_key(pattern, c.key);
        return c;
    }

    // Compactness and extents: the parts of the key that depend on where the pattern is.
    void finish_key(std::span<const std::uint32_t> pattern, SortKey& key) {
        std::vector<Point>& points = m_scratch;
        points.clear();
        std::uint32_t pmin = UINT32_MAX, pmax = 0;
        for (std::uint32_t i : pattern) {
            const Point p = m_table.points[i];
            pmin = std::min(pmin, p.pitch);
            pmax = std::max(pmax, p.pitch);
            points.push_back(p);
        }
        const std::size_t inside = m_boxes.count(points.front().tick, points.back().tick, pmin, pmax);
        key.compactness = inside ? static_cast<double>(points.size()) / static_cast<double>(inside) : 0.0;
        pattern_extents(points, key);
    }

    std::optional<Candidate> evaluate_alone(std::size_t k, double floor) {
        const auto pattern = live(k);
        const std::size_t m = pattern.size();
        const auto candidates =
            translator_candidates(m_table, pattern, [&](std::uint32_t at) { return live(at); }, &m_probe[k]);
        m_probe_first[k] = pattern[0];
        // Collect the translators, giving up as soon as even every untested candidate
        // passing could not lift the ratio to the floor.
        const Point p0 = m_table.points[pattern[0]];
        // The fewest translators that could lift an m-Point pattern to the floor:
        // m (t + 1) / (m + t) >= floor needs t >= m (floor - 1) / (m - floor). The
        // quotient is rounded up less a relative billionth, far above its rounding
        // error, so that a candidate that ties is never dropped.
        const double fm = static_cast<double>(m);
        if (floor >= fm) return std::nullopt;  // even infinitely many translators fall short
        const double exact = floor <= 1.0 ? 0.0 : fm * (floor - 1.0) / (fm - floor);
        const double want = std::ceil(exact - 1e-9 * std::max(1.0, exact));
        const std::size_t need = want > 0.0 ? static_cast<std::size_t>(want) : 0;
        std::size_t left = candidates.size();
        if (left == 0 || left - 1 < need) {  // one candidate is the zero Vector
            m_cached_size[k] = m;
            m_cached_t[k] = left == 0 ? 0 : left - 1;
            return std::nullopt;
        }
        // Most candidates fail on their first test or two, so each moved Point is tested
        // on its own rather than after preparing the whole pattern.
        auto fits = [&](Vector v) {
            for (std::size_t j = 1; j < m; ++j) {
                if (!m_members.contains(m_table.points[pattern[j]] + v)) return false;
            }
            return true;
        };
        // Collect the translators, giving up as soon as even every untested candidate
        // passing could not reach the number needed.
        std::vector<Vector>& found = m_found;
        found.clear();
        for (std::uint32_t q : candidates) {
            --left;
            const Point to = m_table.points[q];
            const Vector v = to - p0;
            if (v.is_zero() || (m_table.restrict_dpitch_zero && v.dpitch != 0) || !m_members.contains(to)) continue;
            if (fits(v)) {
                found.push_back(v);
            } else if (found.size() + left < need) {
                m_cached_size[k] = m;
                m_cached_t[k] = found.size() + left;  // still a bound while the pattern stays
                return std::nullopt;
            }
        }
        const std::size_t t = found.size();
        m_cached_size[k] = m;
        m_cached_t[k] = t;
        if (t == 0 || ratio_bound(m, t) < floor) return std::nullopt;

        // Covered Points, counted once each.
        if (++m_epoch == 0) {
            std::fill(m_stamp.begin(), m_stamp.end(), 0);
            m_epoch = 1;
        }
        std::size_t covered = 0;
        for (std::uint32_t i : pattern) {
            m_stamp[i] = m_epoch;
            ++covered;
        }
        for (const Vector& v : found) {
            for (std::uint32_t i : pattern) {
                const std::uint32_t at = m_index.find(m_table.points[i] + v);
                if (m_stamp[at] != m_epoch) {
                    m_stamp[at] = m_epoch;
                    ++covered;
                }
            }
        }
        const double ratio = static_cast<double>(covered) / static_cast<double>(m + t);
        if (ratio < floor) return std::nullopt;
        Candidate c;
        c.key.coverage_size = covered;
        c.key.compression_ratio = ratio;
        c.translators.assign(found.begin(), found.end());
        normalize_translators(c.translators);
        finish_key(pattern, c.key);
        return c;
    }

    // Keeps `c` if it ranks strictly better, or equally and earlier in builder order.
    void offer(std::size_t k, std::optional<Candidate>&& c) {
        if (!c || c->key.compactness < m_options.min_compactness) return;
        m_strong.emplace_back(c->key.compression_ratio, static_cast<std::uint32_t>(k));
        if (m_best) {
            const int order = compare(c->key, m_best->key);
            if (order > 0 || (order == 0 && k > m_best_k)) return;
        }
        m_best = std::move(c);
        m_best_k = k;
    }

    std::optional<std::size_t> choose() {
        ++m_round;
        m_best.reset();
        m_best_k = 0;
        // The candidates that ranked high last round usually still do: trying them
        // first sets a high floor at once.
        std::vector<std::pair<double, std::uint32_t>>& prior = m_prior;
        prior.swap(m_strong);
        m_strong.clear();
        const std::size_t warm = std::min<std::size_t>(prior.size(), 32);
        std::partial_sort(prior.begin(), prior.begin() + static_cast<std::ptrdiff_t>(warm), prior.end(),
                          [](const auto& a, const auto& b) { return a.first > b.first; });
        for (std::size_t h = 0; h < warm; ++h) {
            const std::uint32_t k = prior[h].second;
            if (admitted(m_end[k] - m_table.offsets[k])) offer(k, evaluate(k, floor()));
        }
        // Then every candidate whose bounds reach the floor. The cheap ones come first:
        // a ratio is below the pattern size and below remaining Points / pattern size.
        const double cap_r = static_cast<double>(m_remaining);
        for (const std::uint32_t k : m_active) {
            tick(m_options.monitor);
            const std::size_t size = m_end[k] - m_table.offsets[k];
            if (!admitted(size)) continue;
            const auto m = static_cast<double>(size);
            const double f = floor();
            if (m < f || cap_r / m < f) continue;
            // A partner evaluated this round settles this candidate without a bound.
            const std::uint32_t partner = m_table.partner(k);
            if (partner != npos32 && partner != k && m_memo[partner].round == m_round) {
                offer(k, from_partner(k, partner, f));
            } else {
                // A bound holds as long as the pattern keeps its size (it only loses Points).
                const std::size_t t = translator_bound(k);
                m_cached_size[k] = size;
                m_cached_t[k] = t;
                if (ratio_bound(size, t) >= f) offer(k, evaluate_and_remember(k, f));
            }
        }
        if (!m_best) return std::nullopt;  // no admitted candidate is left
        return m_best_k;
    }

    // Whether a pattern of this size may be chosen (lists of fewer than two pairs are no
    // patterns of the remaining Points).
    [[nodiscard]] bool admitted(std::size_t size) const noexcept {
        return size >= 2 && size >= m_options.min_pattern_size && size <= m_options.max_pattern_size;
    }

    // The bound below which a candidate cannot reach the best ratio. The small margin
    // keeps rounding in the bounds from ever dropping a candidate that ties.
    [[nodiscard]] double floor() const noexcept { return m_best ? m_best->key.compression_ratio * (1.0 - 1e-9) : 0.0; }

    void cover(std::span<const std::uint32_t> pattern, std::span<const Vector> translators) {
        auto kill = [&](std::uint32_t i) {
            if (!m_alive[i]) return;
            m_alive[i] = 0;
            m_members.erase(m_table.points[i]);
            --m_remaining;
            if (m_table.restrict_dpitch_zero) --m_row_alive[m_table.row_of[i]];
        };
        for (std::uint32_t i : pattern) kill(i);
        for (const Vector& v : translators) {
            for (std::uint32_t i : pattern) kill(m_index.find(m_table.points[i] + v));
        }
    }

    CompressOptions m_options;
    MtpTable m_table;
    PointIndex m_index;
    PointSet m_members;  // the remaining Points
    std::vector<std::uint8_t> m_alive;
    std::size_t m_remaining;
    std::vector<std::size_t> m_end;
    std::vector<std::uint32_t> m_active;  // the Vectors whose lists may still hold two pairs
    std::vector<std::size_t> m_cached_size;
    std::vector<std::size_t> m_cached_t;
    // The Vector whose origin list bounded candidate k's last evaluation, and the
    // pattern's first Point then.
    std::vector<std::uint32_t> m_probe;
    std::vector<std::uint32_t> m_probe_first;
    // What evaluating candidate k found in round `round`: pruned, or its coverage
    // size and translators.
    struct Memo {
        std::uint32_t round = 0;
        bool full = false;
        std::size_t covered = 0;
        std::vector<Vector> translators;
    };
    std::vector<Memo> m_memo;
    std::uint32_t m_round = 0;
    std::vector<std::uint32_t> m_stamp;
    std::uint32_t m_epoch = 0;
    std::vector<std::size_t> m_row_alive;
    BoxCounter m_boxes;
    // The candidates offered this round and last, with their ratios.
    std::vector<std::pair<double, std::uint32_t>> m_strong, m_prior;
    std::vector<Point> m_scratch;
    std::vector<Vector> m_found;
    std::optional<Candidate> m_best;
    std::size_t m_best_k = 0;
};

}  // namespace

std::vector<Tec> cosiatec_compress(std::span<const Point> dataset, bool restrict_dpitch_zero,
                                   [[maybe_unused]] bool sweepline_optimization) {
    CompressOptions options;
    options.restrict_dpitch_zero = restrict_dpitch_zero;
    return Compressor(dataset, options).run();
}

std::vector<Tec> cosiatec_compress(std::span<const Point> dataset, const CompressOptions& options) {
    return Compressor(dataset, options).run();
}

}  // namespace motivra::sia
