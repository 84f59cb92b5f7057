// Points, Vectors and their 32-bit wrap-around arithmetic.
//
// A Point is (tick, pitch), both unsigned 32-bit. A Vector is (dtick, dpitch), both
// signed 32-bit. Differences and sums are taken modulo 2^32 and never report overflow.
#pragma once

#include <algorithm>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <new>
#include <numeric>
#include <span>

namespace motivra::sia {

struct Point {
    std::uint32_t tick = 0;
    std::uint32_t pitch = 0;

    // Lexicographic, tick first, both unsigned: the one Point order of the system.
    friend constexpr auto operator<=>(const Point&, const Point&) = default;
};

struct Vector {
    std::int32_t dtick = 0;
    std::int32_t dpitch = 0;

    // Signed lexicographic order; used only to make output orders deterministic.
    friend constexpr auto operator<=>(const Vector&, const Vector&) = default;
    [[nodiscard]] constexpr bool is_zero() const noexcept { return dtick == 0 && dpitch == 0; }
};

static_assert(sizeof(Point) == 8, "a Point must pack into 8 bytes: the hot tables rely on it");
static_assert(sizeof(Vector) == 8, "a Vector must pack into 8 bytes: the hot tables rely on it");

// Unsigned subtraction modulo 2^32, read as signed (two's complement).
[[nodiscard]] constexpr std::int32_t wrap_diff(std::uint32_t b, std::uint32_t a) noexcept {
    return static_cast<std::int32_t>(b - a);
}

[[nodiscard]] constexpr Vector operator-(const Point& b, const Point& a) noexcept {
    return {wrap_diff(b.tick, a.tick), wrap_diff(b.pitch, a.pitch)};
}

[[nodiscard]] constexpr Point operator+(const Point& p, const Vector& v) noexcept {
    return {p.tick + static_cast<std::uint32_t>(v.dtick), p.pitch + static_cast<std::uint32_t>(v.dpitch)};
}

// Negation wraps too: -(-2^31) is -2^31.
[[nodiscard]] constexpr Vector operator-(const Vector& v) noexcept {
    return {static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(v.dtick)),
            static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(v.dpitch))};
}

[[nodiscard]] constexpr Vector operator+(const Vector& a, const Vector& b) noexcept {
    return {static_cast<std::int32_t>(static_cast<std::uint32_t>(a.dtick) + static_cast<std::uint32_t>(b.dtick)),
            static_cast<std::int32_t>(static_cast<std::uint32_t>(a.dpitch) + static_cast<std::uint32_t>(b.dpitch))};
}

[[nodiscard]] constexpr Vector operator-(const Vector& a, const Vector& b) noexcept {
    return {wrap_diff(static_cast<std::uint32_t>(a.dtick), static_cast<std::uint32_t>(b.dtick)),
            wrap_diff(static_cast<std::uint32_t>(a.dpitch), static_cast<std::uint32_t>(b.dpitch))};
}

// The smallest box that holds a set of Points: ticks tmin..tmax, pitches pmin..pmax.
struct Box {
    std::uint32_t tmin = 0, tmax = 0, pmin = 0, pmax = 0;

    [[nodiscard]] constexpr bool contains(const Point& p) const noexcept {
        return p.tick >= tmin && p.tick <= tmax && p.pitch >= pmin && p.pitch <= pmax;
    }
};

// The box of a non-empty set of Points, its extremes compared as unsigned values or, with
// `signed_order`, as signed 32-bit values (as the ranking key's extents are).
[[nodiscard]] constexpr Box bounding_box(std::span<const Point> points, bool signed_order = false) noexcept {
    // Flipping the top bit turns the signed order into the unsigned one.
    const std::uint32_t flip = signed_order ? 0x80000000u : 0u;
    Box box{points[0].tick ^ flip, points[0].tick ^ flip, points[0].pitch ^ flip, points[0].pitch ^ flip};
    for (const Point& p : points) {
        box.tmin = std::min(box.tmin, p.tick ^ flip);
        box.tmax = std::max(box.tmax, p.tick ^ flip);
        box.pmin = std::min(box.pmin, p.pitch ^ flip);
        box.pmax = std::max(box.pmax, p.pitch ^ flip);
    }
    return {box.tmin ^ flip, box.tmax ^ flip, box.pmin ^ flip, box.pmax ^ flip};
}

// Division of 32-bit values by a fixed divisor without a divide instruction (Lemire,
// Kaser and Kurz, "Faster remainder by direct computation", 2019): with
// c = ceil(2^64 / d), n / d is the high half of c * n and d divides n exactly when the
// low half is below c. Exact for every 32-bit n and every divisor from 2 up; a
// divisor of 1 passes every value through unchanged.
class Divisor {
public:
    constexpr Divisor() = default;
    explicit constexpr Divisor(std::uint32_t d) noexcept : m_one(d <= 1), m_c(d <= 1 ? 0 : ~std::uint64_t{0} / d + 1) {}

    [[nodiscard]] constexpr bool divides(std::uint32_t n) const noexcept { return m_one || n * m_c < m_c; }
    [[nodiscard]] constexpr std::uint32_t quotient(std::uint32_t n) const noexcept {
        if (m_one) return n;
        __extension__ using u128 = unsigned __int128;
        return static_cast<std::uint32_t>((static_cast<u128>(m_c) * n) >> 64);
    }

private:
    bool m_one = true;
    std::uint64_t m_c = 0;
};

// The greatest common divisor of the Points' tick offsets from `t0`, or 1 when they
// share none (a single tick). Notes often fall on a coarser grid than the tick (a
// piece whose shortest value is a sixteenth, say), and dividing by it shrinks any grid
// over the ticks as much.
[[nodiscard]] inline std::uint32_t tick_step(std::span<const Point> points, std::uint32_t t0) noexcept {
    std::uint32_t step = 0;
    for (const Point& p : points) step = std::gcd(step, p.tick - t0);
    return step == 0 ? 1 : step;
}

// 64-bit keys whose unsigned order is the order of the value they encode.
[[nodiscard]] constexpr std::uint64_t point_key(const Point& p) noexcept {
    return (std::uint64_t{p.tick} << 32) | p.pitch;
}
[[nodiscard]] constexpr std::uint64_t vector_key(const Vector& v) noexcept {
    return (std::uint64_t{static_cast<std::uint32_t>(v.dtick) ^ 0x80000000u} << 32) |
           (static_cast<std::uint32_t>(v.dpitch) ^ 0x80000000u);
}
[[nodiscard]] constexpr Vector vector_from_key(std::uint64_t k) noexcept {
    return {static_cast<std::int32_t>(static_cast<std::uint32_t>(k >> 32) ^ 0x80000000u),
            static_cast<std::int32_t>(static_cast<std::uint32_t>(k) ^ 0x80000000u)};
}

// A strong 64-bit mixer: tables keyed by data the caller controls must not cluster.
[[nodiscard]] constexpr std::uint64_t mix64(std::uint64_t x) noexcept {
    x ^= x >> 30;
    x *= 0xbf58476d1ce4e5b9ULL;
    x ^= x >> 27;
    x *= 0x94d049bb133111ebULL;
    x ^= x >> 31;
    return x;
}

// Throws std::bad_alloc when a table of `bytes` cannot possibly fit in this machine's
// memory, so that a hopeless call fails at once instead of driving the system into swap.
void ensure_fits(std::size_t bytes);
// Multiplication that saturates instead of wrapping, for size estimates.
[[nodiscard]] constexpr std::size_t mul_sat(std::size_t a, std::size_t b) noexcept {
    std::size_t r = 0;
    return __builtin_mul_overflow(a, b, &r) ? static_cast<std::size_t>(-1) : r;
}
[[nodiscard]] constexpr std::size_t add_sat(std::size_t a, std::size_t b) noexcept {
    std::size_t r = 0;
    return __builtin_add_overflow(a, b, &r) ? static_cast<std::size_t>(-1) : r;
}

}  // namespace motivra::sia
