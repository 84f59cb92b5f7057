// COSIATEC's candidate queue: the candidates whose patterns have not changed since they
// were last bounded, in buckets by that bound, so that a round visits only those that
// can still reach the floor.
// Invariant: a candidate has at most one live entry, in bucket b at position i exactly
// when where(k) == b and pos(k) == i; its bucket's ceiling bounds its ratio while its
// pattern stays as it is. Entries left behind by moves are dead, skipped, and swept out
// once they outnumber the live ones. Candidates are named by their slots (slot_of),
// which keeps a Vector's entry beside its negation's.
// Cost: put() and forget() are O(1); visit() reads every entry of the buckets it
// reaches; a sweep of every bucket is paid for by the dead entries it drops.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace motivra::sia::cosiatec {

// Only cosiatec.cpp includes this header: its parts have internal linkage, as the rest
// of that unit does, which lets the compiler inline the hot paths that run only there.
namespace {

// Buckets per unit of ratio: bounds closer than 1/32 share a bucket, which costs a few
// needless evaluations and saves a finer sort of thousands of bounds.
inline constexpr double kBucketsPerUnit = 32.0;
// The buckets: 1024 / 32 covers ratios up to 32, above which music rarely compresses;
// the top bucket is open and holds everything higher.
inline constexpr std::size_t kBuckets = 1024;
// Dead entries tolerated beyond the live ones before a sweep of every bucket: without
// the slack, a small queue would sweep all kBuckets buckets for a handful of entries.
inline constexpr std::size_t kTidySlack = 4096;

class CandidateQueue {
public:
    explicit CandidateQueue(std::size_t candidates) : m_where(candidates, kNone), m_pos(candidates, 0) {}

    // Files candidate k under `bound`, a bound of its ratio.
    void put(std::uint32_t k, double bound) {
        const std::uint16_t b = bucket_of(bound);
        if (m_where[k] == b) return;
        if (m_where[k] == kNone) ++m_live;
        m_where[k] = b;
        m_pos[k] = static_cast<std::uint32_t>(m_buckets[b].size());
        m_buckets[b].push_back(k);
        ++m_entries;
    }
    // Drops candidate k's entry (its pattern changed, or it can never be chosen).
    void forget(std::uint32_t k) noexcept {
        if (m_where[k] == kNone) return;
        m_where[k] = kNone;
        --m_live;
    }

    // Calls f(k) for every live entry whose bucket's ceiling reaches floor(), from the
    // top bucket down; floor() may rise meanwhile, and f may put or forget k.
    template <class Floor, class F>
    void visit(Floor&& floor, F&& f) {
        for (std::size_t b = kBuckets; b-- > 0;) {
            if (ceiling(b) < floor()) return;
            sweep(b);
            std::vector<std::uint32_t>& bucket = m_buckets[b];
            const std::size_t n = bucket.size();
            for (std::size_t i = 0; i < n; ++i) {
                const std::uint32_t k = bucket[i];
                if (m_where[k] == b && m_pos[k] == i) f(k);
            }
        }
    }

    // Sweeps every bucket when dead entries outnumber the live ones.
    void tidy() {
        if (m_entries <= 2 * m_live + kTidySlack) return;
        for (std::size_t b = 0; b < kBuckets; ++b) sweep(b);
    }

private:
    static constexpr std::uint16_t kNone = UINT16_MAX;  // where() of a candidate without an entry

    static std::uint16_t bucket_of(double bound) noexcept {
        const double at = bound * kBucketsPerUnit;
        return at >= static_cast<double>(kBuckets - 1) ? kBuckets - 1 : static_cast<std::uint16_t>(at);
    }
    static double ceiling(std::size_t b) noexcept {
        return b + 1 == kBuckets ? HUGE_VAL : static_cast<double>(b + 1) / kBucketsPerUnit;
    }

    void sweep(std::size_t b) {
        std::vector<std::uint32_t>& bucket = m_buckets[b];
        std::size_t out = 0;
        for (std::size_t i = 0; i < bucket.size(); ++i) {
            const std::uint32_t k = bucket[i];
            if (m_where[k] != b || m_pos[k] != i) continue;
            m_pos[k] = static_cast<std::uint32_t>(out);
            bucket[out++] = k;
        }
        m_entries -= bucket.size() - out;
        bucket.resize(out);
    }

    std::array<std::vector<std::uint32_t>, kBuckets> m_buckets;
    std::vector<std::uint16_t> m_where;
    std::vector<std::uint32_t> m_pos;
    std::size_t m_live = 0;
    std::size_t m_entries = 0;
};

}  // namespace

}  // namespace motivra::sia::cosiatec
