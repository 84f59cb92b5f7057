// COSIATEC's live lists: the origin lists of the remaining Points, one per kept Vector,
// filtered in place inside the MTP table.
// Invariant, after drop_covered(): every list holds exactly the pairs (o, o + v), origins
// ascending, with o and o + v both remaining; when there are two or more, they are the
// MTP of v among the remaining Points. In a mirrored table one stored list serves a
// Vector and its negation.
// Cost: a round costs the covered Points times the Points (to find the lists they
// touch) plus the length of the lists that changed; every query is O(1).
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "monitor.hpp"
#include "mtp_table.hpp"
#include "tables.hpp"

namespace motivra::sia::cosiatec {

// Only cosiatec.cpp includes this header: its parts have internal linkage, as the rest
// of that unit does, which lets the compiler inline the hot paths that run only there.
namespace {

class LiveLists {
public:
    explicit LiveLists(MtpTable& table)
        : m_table(table),
          m_size(table.list_count()),
          m_ends(m_size.size()),
          m_dirty((m_size.size() + 63) / 64, 0),
          m_pending(table.points().size(), 0) {
        // A list holds at most one pair per Point, and positions are 32-bit.
        for (std::size_t s = 0; s < m_size.size(); ++s) {
            m_size[s] = static_cast<std::uint32_t>(table.list_length(s));
            if (m_size[s] > 0) remember_ends(s);
            m_changed.push_back(static_cast<std::uint32_t>(s));
        }
    }

    // The origins of candidate k's live pairs, ascending.
    [[nodiscard]] ListView live(std::size_t k) const noexcept { return m_table.origins(k, size(k)); }
    [[nodiscard]] std::size_t size(std::size_t k) const noexcept { return m_size[m_table.list_of(k).list]; }
    // live(k).front() and live(k).back(), kept beside the sizes so that reading them
    // does not reach into the table (k's list must hold a pair).
    [[nodiscard]] std::uint32_t first(std::size_t k) const noexcept {
        const auto [list, reversed] = m_table.list_of(k);
        return m_ends[list][reversed ? 1 : 0];
    }
    [[nodiscard]] std::uint32_t last(std::size_t k) const noexcept {
        const auto [list, reversed] = m_table.list_of(k);
        return m_ends[list][reversed ? 3 : 2];
    }
    // Calls f(k) for every Vector whose list lost pairs in the last drop_covered(), or
    // for every Vector with a list before the first.
    template <class F>
    void for_each_changed(F&& f) const {
        for (const std::uint32_t s : m_changed) {
            f(s);
            if (m_table.mirrored()) f(m_table.vector_of(s, true));
        }
    }

    // Drops the pairs of the Points just covered (`covered`, positions no longer alive)
    // from their lists; the survivors keep their ascending order. Only the lists that
    // hold such a pair are touched: they are found from the covered Points' differences
    // to the Points that were alive before.
    void drop_covered(std::span<const std::uint32_t> covered, const std::uint8_t* alive, Monitor* monitor) {
        for (const std::uint32_t x : covered) m_pending[x] = 1;
        for (const std::uint32_t x : covered) {
            tick(monitor);
            // Each pair once: with the Points alive, and with the covered ones not yet done.
            auto visit = [&](std::uint32_t y) {
                if (alive[y] | m_pending[y]) mark(x, y);
            };
            m_pending[x] = 0;
            if (m_table.restricted()) {
                for (const std::uint32_t y : m_table.row(m_table.row_of(x))) visit(y);
            } else {
                for (std::uint32_t y = 0; y < m_table.points().size(); ++y) visit(y);
            }
        }
        m_changed.clear();
        for (std::size_t word = 0; word < m_dirty.size(); ++word) {
            for (std::uint64_t bits = m_dirty[word]; bits != 0; bits &= bits - 1) {
                m_changed.push_back(
                    static_cast<std::uint32_t>(word * 64 + static_cast<std::size_t>(std::countr_zero(bits))));
            }
            m_dirty[word] = 0;
        }
        for (const std::uint32_t s : m_changed) {
            tick(monitor);
            m_size[s] = static_cast<std::uint32_t>(m_table.keep_pairs(s, m_size[s], alive));
            if (m_size[s] > 0) remember_ends(s);
        }
    }

private:
    // Marks the lists that hold the pair (x, y) as dirty.
    void mark(std::uint32_t x, std::uint32_t y) noexcept {
        const std::uint32_t k = m_table.between(x, y);
        if (k == npos32) return;  // a Vector of one pair keeps no list
        const std::size_t s = m_table.list_of(k).list;
        m_dirty[s >> 6] |= std::uint64_t{1} << (s & 63);
        if (!m_table.mirrored()) {  // the pair is stored under both of its Vectors
            const std::size_t r = m_table.list_of(m_table.partner(k)).list;
            m_dirty[r >> 6] |= std::uint64_t{1} << (r & 63);
        }
    }

    void remember_ends(std::size_t s) noexcept {
        const auto [o0, t0] = m_table.pair(s, 0);
        const auto [o1, t1] = m_table.pair(s, m_size[s] - 1);
        m_ends[s] = {o0, t0, o1, t1};
    }

    MtpTable& m_table;
    std::vector<std::uint32_t> m_size;  // how many live pairs each stored list holds
    // The first live origin and target of each list, then the last ones.
    std::vector<std::array<std::uint32_t, 4>> m_ends;
    std::vector<std::uint32_t> m_changed;  // the stored lists that lost pairs last time
    std::vector<std::uint64_t> m_dirty;    // the stored lists that lose pairs now, as bits
    std::vector<std::uint8_t> m_pending;   // covered Points whose pairs are not yet marked
};

// Where candidate k's state sits in the per-candidate arrays: a Vector beside its
// negation when they share a stored list, so that visiting both touches one place.
[[nodiscard]] inline std::size_t slot_of(const MtpTable& table, std::size_t k) noexcept {
    if (!table.mirrored()) return k;
    const auto [list, reversed] = table.list_of(k);
    return 2 * list + (reversed ? 1 : 0);
}
[[nodiscard]] inline std::uint32_t candidate_of(const MtpTable& table, std::size_t slot) noexcept {
    if (!table.mirrored()) return static_cast<std::uint32_t>(slot);
    return table.vector_of(slot / 2, slot % 2 != 0);
}

}  // namespace

}  // namespace motivra::sia::cosiatec
