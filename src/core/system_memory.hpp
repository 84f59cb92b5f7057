// What the operating system says about memory, for refusing hopeless allocations early.
// Every query answers "unknown" where the platform offers no way to ask, and then no
// early refusal happens: a failed allocation still reports std::bad_alloc.
#pragma once

#include <cstddef>

namespace motivra::sia {

// Bytes of physical memory, or SIZE_MAX when unknown.
[[nodiscard]] std::size_t physical_memory() noexcept;
// Bytes the system can hand out now without swapping, or 0 when unknown.
[[nodiscard]] std::size_t available_memory() noexcept;
// Bytes this process may still map under its address-space limit, or SIZE_MAX when
// there is no limit or it cannot be read.
[[nodiscard]] std::size_t address_space_left() noexcept;

}  // namespace motivra::sia
