// COSIATEC's remaining Points: the Points of the table not yet covered by a chosen TEC.
// Invariant: alive(i) <=> contains(point(i)); size() is the number of live positions
// and, for a restricted table, row_size(r) the number of live positions in pitch row r.
// Cost: removing a Point and every query but count_in_box() are O(1); a round's
// start_round() sorts the live Points, O(n log n), so that count_in_box() is
// O(pitches x log n).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "mtp_table.hpp"
#include "points.hpp"
#include "tables.hpp"

namespace motivra::sia::cosiatec {

// Only cosiatec.cpp includes this header: its parts have internal linkage, as the rest
// of that unit does, which lets the compiler inline the hot paths that run only there.
namespace {

// Counts Points inside a box: one sorted tick run per distinct pitch.
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

// The Points not yet covered, by position into the table's sorted Points. The box
// counter reflects the live Points as of the last start_round().
class Remaining {
public:
    explicit Remaining(const MtpTable& table)
        : m_table(table),
          m_index(table.points()),
          m_members(table.points(), table.pair_count()),
          m_alive(table.points().size(), 1),
          m_size(table.points().size()) {
        if (table.restricted()) {
            m_row_size.resize(table.row_count());
            for (std::size_t r = 0; r < table.row_count(); ++r) m_row_size[r] = table.row(r).size();
        }
    }

    [[nodiscard]] std::size_t size() const noexcept { return m_size; }
    [[nodiscard]] bool alive(std::size_t i) const noexcept { return m_alive[i] != 0; }
    [[nodiscard]] const std::uint8_t* flags() const noexcept { return m_alive.data(); }  // 0 or 1 each
    [[nodiscard]] bool contains(Point p) const noexcept { return m_members.contains(p); }
    [[nodiscard]] std::uint32_t position(Point p) const noexcept { return m_index.find(p); }
    [[nodiscard]] std::size_t row_size(std::uint32_t row) const noexcept { return m_row_size[row]; }

    void start_round() {
        m_boxes.rebuild(m_table.points(), m_alive);
        m_removed.clear();
    }
    // The positions removed since the round started.
    [[nodiscard]] std::span<const std::uint32_t> removed() const noexcept { return m_removed; }
    // The live Points inside the box, as of the round's start.
    [[nodiscard]] std::size_t count_in_box(std::uint32_t tmin, std::uint32_t tmax, std::uint32_t pmin,
                                           std::uint32_t pmax) const {
        return m_boxes.count(tmin, tmax, pmin, pmax);
    }

    void remove(std::uint32_t i) {
        if (!m_alive[i]) return;
        m_alive[i] = 0;
        m_removed.push_back(i);
        m_members.erase(m_table.point(i));
        --m_size;
        if (m_table.restricted()) --m_row_size[m_table.row_of(i)];
    }

private:
    const MtpTable& m_table;
    PointIndex m_index;
    PointSet m_members;
    std::vector<std::uint8_t> m_alive;
    std::size_t m_size;
    std::vector<std::size_t> m_row_size;
    BoxCounter m_boxes;
    std::vector<std::uint32_t> m_removed;
};

}  // namespace

}  // namespace motivra::sia::cosiatec
