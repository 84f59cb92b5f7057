// Progress reports and interruption of long computations, for callers that want them.
// The algorithms call tick() from their inner loops and report() before they start, once
// per chosen TEC and once at the end;
// an implementation may throw from either to abandon the computation (every structure
// of the algorithms is owned, so unwinding frees it all).
#pragma once

#include <cstddef>
#include <cstdint>

namespace motivra::sia {

class Monitor {
public:
    virtual ~Monitor() = default;

    // Cheap enough for an inner loop: only every few hundred calls reach poll().
    void tick() {
        if (++m_ticks >= kTicksPerPoll) {
            m_ticks = 0;
            poll();
        }
    }
    // `covered` of `total` Points are covered by the `tecs` TECs chosen so far.
    virtual void report(std::size_t covered, std::size_t total, std::size_t tecs) = 0;

protected:
    // Looks for a reason to stop (and throws if there is one).
    virtual void poll() = 0;

private:
    static constexpr std::uint32_t kTicksPerPoll = 256;
    std::uint32_t m_ticks = 0;
};

inline void tick(Monitor* monitor) {
    if (monitor) monitor->tick();
}

}  // namespace motivra::sia
