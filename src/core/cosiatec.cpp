// COSIATEC without rebuilding: SIA runs once, and the MTPs of the remaining Points are
// the full MTPs with every origin pair that touches a covered Point filtered out. A
// round costs the covered Points times the Points to find the lists that changed, one
// pass over those lists, fresh bounds for the candidates whose patterns changed, and
// the exact evaluation of the few candidates whose ratio bound can still beat the best.
//
// Five parts, each with one job:
//   Remaining       the Points not yet covered: flags, membership, counts in a box
//                   (cosiatec_remaining.hpp);
//   LiveLists       the origin lists of the remaining Points, one per kept Vector
//                   (cosiatec_lists.hpp);
//   Evaluator       bounds and exact keys of candidates (candidate k is the MTP of the
//                   k-th Vector among the remaining Points) (cosiatec_evaluator.hpp);
//   CandidateQueue  the unchanged candidates, filed by their ratio bounds
//                   (cosiatec_queue.hpp);
//   Compressor      the greedy loop: choose the best candidate, cover it, repeat (here).
#include "cosiatec.hpp"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "cosiatec_evaluator.hpp"
#include "cosiatec_lists.hpp"
#include "cosiatec_queue.hpp"
#include "cosiatec_remaining.hpp"
#include "sia.hpp"

namespace motivra::sia {

namespace {

using cosiatec::Candidate;
using cosiatec::candidate_of;
using cosiatec::CandidateQueue;
using cosiatec::Evaluator;
using cosiatec::LiveLists;
using cosiatec::ratio_bound;
using cosiatec::Remaining;
using cosiatec::slot_of;

// The candidates that ranked high last round and are tried first in the next: enough
// to set a high floor at once, few enough that ranking them (a partial sort) costs
// nothing beside a round.
constexpr std::size_t kWarm = 32;
// The relative margin by which the floor sits below the best ratio: far above the
// rounding error of the bounds, far below the gap between two distinct ratios, so that
// rounding never drops a candidate that ties with the best.
constexpr double kFloorMargin = 1e-9;

// The greedy loop. Invariant at the start of every round: the live lists, the remaining
// Points and the evaluator's caches all describe the Points not yet covered; every
// admitted candidate whose list did not change last round is filed in the queue under
// a bound that still holds, and the changed ones are named by the live lists; the
// result holds the TECs chosen so far, in the order chosen.
class Compressor {
public:
    Compressor(std::span<const Point> dataset, const CompressOptions& options)
        : m_options(options),
          m_table(sia_table(dataset, options.restrict_dpitch_zero, true, options.monitor)),
          m_remaining(m_table),
          m_lists(m_table),
          m_evaluator(m_table, m_lists, m_remaining),
          m_queue(m_table.size()),
          m_done(m_table.size(), 0) {}

    std::vector<Tec> run() {
        std::vector<Tec> result;
        bool first = true;
        while (m_remaining.size() > 0) {
            if (!first) m_lists.drop_covered(m_remaining.removed(), m_remaining.flags(), m_options.monitor);
            first = false;
            m_remaining.start_round();
            const std::optional<std::size_t> chosen = choose();
            if (!chosen) break;
            Candidate& best = *m_best;
            std::vector<std::uint32_t> pattern;
            m_lists.live(*chosen).copy_to(pattern);
            std::vector<Point> points;
            points.reserve(pattern.size());
            for (std::uint32_t i : pattern) points.push_back(m_table.point(i));
            cover(pattern, best.translators);
            result.emplace_back(std::move(points), std::move(best.translators));
            if (m_options.monitor && m_options.report) {
                m_options.monitor->report(m_table.points().size() - m_remaining.size(), m_table.points().size(),
                                          result.size());
            }
        }
        for (std::size_t i = 0; i < m_table.points().size(); ++i) {
            if (m_remaining.alive(i)) {
                result.emplace_back(std::vector<Point>{m_table.point(i)}, std::vector<Vector>{});
            }
        }
        // The final state: the one-Point TECs cover the rest.
        if (m_options.monitor && m_options.report) {
            m_options.monitor->report(m_table.points().size(), m_table.points().size(), result.size());
        }
        return result;
    }

private:
    // The best admitted candidate of this round, the first of equally ranked ones in
    // the Vectors' order; nothing when none is left.
    std::optional<std::size_t> choose() {
        m_evaluator.start_round();
        ++m_round;
        m_best.reset();
        m_best_k = 0;
        m_cap = static_cast<double>(m_remaining.size());
        // The changed candidates' bounds no longer hold.
        m_lists.for_each_changed([&](std::uint32_t k) { m_queue.forget(slot_of(m_table, k)); });
        m_queue.tidy();
        // The candidates that ranked high last round usually still do: trying them
        // first sets a high floor at once.
        std::vector<std::pair<double, std::uint32_t>>& prior = m_prior;
        prior.swap(m_strong);
        m_strong.clear();
        const std::size_t warm = std::min(prior.size(), kWarm);
        std::partial_sort(prior.begin(), prior.begin() + static_cast<std::ptrdiff_t>(warm), prior.end(),
                          [](const auto& a, const auto& b) { return a.first > b.first; });
        for (std::size_t h = 0; h < warm; ++h) {
            const std::uint32_t k = prior[h].second;
            if (admitted(m_lists.size(k))) process(k, true);
        }
        // Then every candidate filed under a bound that reaches the floor.
        // The changed ones are bounded afresh and filed first, so that they are
        // evaluated in the order of their bounds: the strongest raise the floor early.
        m_lists.for_each_changed([&](std::uint32_t k) {
            tick(m_options.monitor);
            if (m_done[slot_of(m_table, k)] != m_round) file(k);
        });
        m_queue.visit([&] { return floor(); },
                      [&](std::uint32_t at) {
                          tick(m_options.monitor);
                          if (m_done[at] != m_round) process(candidate_of(m_table, at), false);
                      });
        if (!m_best) return std::nullopt;  // no admitted candidate is left
        return m_best_k;
    }

    // The cheap bound of the ratio of candidate k (in slot `at`, with a pattern of
    // `size` Points): below the pattern size and below remaining Points / pattern size.
    // Nothing when the pattern may not be chosen; the candidate then leaves the queue
    // for good, since a pattern only shrinks and a change refiles it.
    std::optional<double> cheap_bound(std::size_t at, std::size_t size) {
        if (!admitted(size)) {
            m_queue.forget(at);
            return std::nullopt;
        }
        const auto m = static_cast<double>(size);
        return std::min(m, m_cap / m);
    }

    // Files changed candidate k under a fresh bound, without evaluating it.
    void file(std::uint32_t k) {
        const std::size_t at = slot_of(m_table, k);
        const std::size_t size = m_lists.size(k);
        const std::optional<double> cheap = cheap_bound(at, size);
        if (!cheap) return;
        double bound = *cheap;
        if (bound >= floor()) bound = std::min(bound, ratio_bound(size, m_evaluator.translator_bound(k)));
        m_queue.put(at, bound);
    }

    // Evaluates candidate k when `force` is set or its bounds reach the floor, then
    // files it under the tightest bound known. The cheap bound comes first.
    void process(std::uint32_t k, bool force) {
        const std::size_t at = slot_of(m_table, k);
        m_done[at] = m_round;
        const std::size_t size = m_lists.size(k);
        const std::optional<double> cheap = cheap_bound(at, size);
        if (!cheap) return;
        double bound = *cheap;
        const double f = floor();
        if (force || (bound >= f && m_evaluator.partner_known(k))) {
            offer(k, m_evaluator.evaluate(k, f));
        } else if (bound >= f) {
            // A partner evaluated this round settles this candidate without a bound.
            bound = std::min(bound, ratio_bound(size, m_evaluator.translator_bound(k)));
            if (bound >= f) offer(k, m_evaluator.evaluate(k, f));
        }
        if (const auto t = m_evaluator.cached_bound(k, size)) bound = std::min(bound, ratio_bound(size, *t));
        m_queue.put(at, bound);
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

    // Whether a pattern of this size may be chosen (lists of fewer than two pairs are no
    // patterns of the remaining Points).
    [[nodiscard]] bool admitted(std::size_t size) const noexcept {
        return size >= 2 && size >= m_options.min_pattern_size && size <= m_options.max_pattern_size;
    }

    // The bound below which a candidate cannot reach the best ratio.
    [[nodiscard]] double floor() const noexcept {
        return m_best ? m_best->key.compression_ratio * (1.0 - kFloorMargin) : 0.0;
    }

    void cover(std::span<const std::uint32_t> pattern, std::span<const Vector> translators) {
        for (std::uint32_t i : pattern) m_remaining.remove(i);
        for (const Vector& v : translators) {
            for (std::uint32_t i : pattern) m_remaining.remove(m_remaining.position(m_table.point(i) + v));
        }
    }

    CompressOptions m_options;
    MtpTable m_table;
    Remaining m_remaining;
    LiveLists m_lists;
    Evaluator m_evaluator;
    // The candidates offered this round and last, with their ratios.
    std::vector<std::pair<double, std::uint32_t>> m_strong, m_prior;
    std::optional<Candidate> m_best;
    std::size_t m_best_k = 0;
    CandidateQueue m_queue;
    std::vector<std::uint32_t> m_done;  // the round in which each candidate was last processed
    std::uint32_t m_round = 0;
    double m_cap = 0;  // the remaining Points this round
};

}  // namespace

std::vector<Tec> cosiatec_compress(std::span<const Point> dataset, bool restrict_dpitch_zero,
                                   [[maybe_unused]] bool sweepline_optimization) {
    CompressOptions options;
    options.restrict_dpitch_zero = restrict_dpitch_zero;
    return Compressor(dataset, options).run();
}

std::vector<Tec> cosiatec_compress(std::span<const Point> dataset, const CompressOptions& options) {
    // The first report comes before SIA builds its table, the longest step of a large
    // run; sorting a copy of the Points costs far less than that table.
    if (options.monitor && options.report) options.monitor->report(0, distinct_sorted(dataset).size(), 0);
    return Compressor(dataset, options).run();
}

}  // namespace motivra::sia
