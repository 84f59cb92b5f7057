// Flat open-addressing tables for the hot loops: one contiguous slot array, linear
// probing, no per-element heap nodes. Both are built once and then only read, except
// for the counters that SIA keeps in the Vector table.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "points.hpp"

namespace motivra::sia {

inline constexpr std::uint32_t npos32 = std::numeric_limits<std::uint32_t>::max();

// Capacity for `n` entries at a load factor of at most one half.
[[nodiscard]] inline std::size_t table_capacity(std::size_t n) {
    return std::bit_ceil(std::max<std::size_t>(16, add_sat(n, n)));
}

// Point -> position in a sorted array of distinct Points.
class PointIndex {
public:
    PointIndex() = default;
    explicit PointIndex(std::span<const Point> points) { assign(points); }

    void assign(std::span<const Point> points) {
        const std::size_t cap = table_capacity(points.size());
        ensure_fits(mul_sat(cap, sizeof(Slot)));
        m_slots.assign(cap, Slot{});
        m_mask = cap - 1;
        for (std::size_t i = 0; i < points.size(); ++i) {
            const std::uint64_t key = point_key(points[i]);
            std::size_t s = mix64(key) & m_mask;
            while (m_slots[s].index != npos32 && m_slots[s].key != key) s = (s + 1) & m_mask;
            m_slots[s] = Slot{key, static_cast<std::uint32_t>(i)};
        }
    }

    [[nodiscard]] std::uint32_t find(Point p) const noexcept {
        const std::uint64_t key = point_key(p);
        std::size_t s = mix64(key) & m_mask;
        for (;;) {
            const Slot& slot = m_slots[s];
            if (slot.index == npos32 || slot.key == key) return slot.index;
            s = (s + 1) & m_mask;
        }
    }

private:
    struct Slot {
        std::uint64_t key = 0;
        std::uint32_t index = npos32;  // npos32 marks an empty slot
    };
    std::vector<Slot> m_slots{Slot{}};
    std::size_t m_mask = 0;
};

// Vector -> 32-bit value, growing as needed. The zero Vector is the empty marker: no
// caller stores it, since Points are distinct wherever this table is used.
class VectorTable {
public:
    static constexpr std::uint64_t empty_key = vector_key(Vector{0, 0});

    explicit VectorTable(std::size_t expected = 0) { rehash(table_capacity(expected)); }

    // The value slot of `v`, inserted with value 0 if absent.
    std::uint32_t& upsert(Vector v) {
        if (2 * (m_size + 1) > m_keys.size()) rehash(m_keys.size() * 2);
        const std::uint64_t key = vector_key(v);
        std::size_t s = mix64(key) & m_mask;
        while (m_keys[s] != key) {
            if (m_keys[s] == empty_key) {
                m_keys[s] = key;
                ++m_size;
                break;
            }
            s = (s + 1) & m_mask;
        }
        return m_values[s];
    }

    // The value of `v`, or npos32 when absent.
    [[nodiscard]] std::uint32_t find(Vector v) const noexcept {
        const std::uint64_t key = vector_key(v);
        std::size_t s = mix64(key) & m_mask;
        for (;;) {
            if (m_keys[s] == key) return m_values[s];
            if (m_keys[s] == empty_key) return npos32;
            s = (s + 1) & m_mask;
        }
    }

    [[nodiscard]] std::size_t size() const noexcept { return m_size; }
    [[nodiscard]] std::size_t slot_count() const noexcept { return m_keys.size(); }
    [[nodiscard]] bool occupied(std::size_t s) const noexcept { return m_keys[s] != empty_key; }
    [[nodiscard]] Vector key_at(std::size_t s) const noexcept { return vector_from_key(m_keys[s]); }
    [[nodiscard]] std::uint32_t& value_at(std::size_t s) noexcept { return m_values[s]; }

private:
    void rehash(std::size_t cap) {
        ensure_fits(mul_sat(cap, sizeof(std::uint64_t) + sizeof(std::uint32_t)));
        std::vector<std::uint64_t> keys(cap, empty_key);
        std::vector<std::uint32_t> values(cap, 0);
        const std::size_t mask = cap - 1;
        for (std::size_t s = 0; s < m_keys.size(); ++s) {
            if (m_keys[s] == empty_key) continue;
            std::size_t t = mix64(m_keys[s]) & mask;
            while (keys[t] != empty_key) t = (t + 1) & mask;
            keys[t] = m_keys[s];
            values[t] = m_values[s];
        }
        m_keys = std::move(keys);
        m_values = std::move(values);
        m_mask = mask;
    }

    std::vector<std::uint64_t> m_keys;
    std::vector<std::uint32_t> m_values;
    std::size_t m_mask = 0;
    std::size_t m_size = 0;
};

// Membership in a set of Points that can shrink. Points in a small box are bits of a
// dense grid (a test is a shift and a mask); others fall back to the hash index.
class PointSet {
public:
    // `pairs`: how many origin pairs the table beside the set stores, which sizes the
    // grid the set may afford.
    PointSet(std::span<const Point> sorted_distinct, std::size_t pairs) {
        if (sorted_distinct.empty()) return;
        const Box box = bounding_box(sorted_distinct);
        m_t0 = box.tmin;
        m_p0 = box.pmin;
        m_tspan = box.tmax - box.tmin;
        m_pitches = std::uint64_t{box.pmax} - box.pmin + 1;
        // Music spreads few notes over many ticks, so the grid is mostly empty. Up to
        // four bits a stored pair it costs at most an eighth of the table beside it, and a bit
        // test beats a hash probe several times over. When the ticks share a step, the
        // rows are steps rather than ticks.
        const std::uint64_t budget = std::max<std::uint64_t>(std::uint64_t{1} << 24, 4 * std::uint64_t{pairs});
        auto fits = [&](std::uint64_t rows) {
            return rows <= budget && m_pitches <= budget && rows * m_pitches <= budget;
        };
        m_rows = std::uint64_t{m_tspan} + 1;
        if (!fits(m_rows)) {
            const std::uint32_t step = tick_step(sorted_distinct, m_t0);
            m_step = Divisor(step);
            m_rows = std::uint64_t{m_tspan} / step + 1;
        }
        if (fits(m_rows)) {
            const auto words = static_cast<std::size_t>((m_rows * m_pitches + 63) / 64);
            ensure_fits(mul_sat(words, sizeof(std::uint64_t)));
            m_bits.assign(words, 0);
            for (const Point& p : sorted_distinct) set_bit(p, true);
        } else {
            m_index.assign(sorted_distinct);
            m_alive.assign(sorted_distinct.size(), 1);
        }
    }

    [[nodiscard]] bool contains(Point p) const noexcept {
        if (!m_bits.empty()) {
            const std::uint32_t dt = p.tick - m_t0, dp = p.pitch - m_p0;  // wrap: far points fall outside
            if (dt > m_tspan || dp >= m_pitches || !m_step.divides(dt)) return false;
            const std::uint64_t bit = m_step.quotient(dt) * m_pitches + dp;
            return (m_bits[bit >> 6] >> (bit & 63)) & 1;
        }
        const std::uint32_t i = m_index.find(p);
        return i != npos32 && m_alive[i];
    }

    // `p` must be a member of the set it was built from.
    void erase(Point p) noexcept {
        if (!m_bits.empty()) {
            set_bit(p, false);
        } else {
            m_alive[m_index.find(p)] = 0;
        }
    }

private:
    void set_bit(Point p, bool on) noexcept {
        const std::uint64_t bit = std::uint64_t{m_step.quotient(p.tick - m_t0)} * m_pitches + (p.pitch - m_p0);
        const std::uint64_t mask = std::uint64_t{1} << (bit & 63);
        if (on) {
            m_bits[bit >> 6] |= mask;
        } else {
            m_bits[bit >> 6] &= ~mask;
        }
    }

    std::vector<std::uint64_t> m_bits;
    std::uint32_t m_t0 = 0, m_p0 = 0;
    std::uint32_t m_tspan = 0;  // largest tick offset
    Divisor m_step;             // the ticks' common step, when the rows are steps
    std::uint64_t m_rows = 0, m_pitches = 0;
    PointIndex m_index;
    std::vector<std::uint8_t> m_alive;
};

}  // namespace motivra::sia
