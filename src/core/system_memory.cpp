// The memory queries, one branch per platform family chosen by the preprocessor:
// Linux reads /proc; other POSIX systems ask sysconf and getrlimit; macOS adds sysctl
// and the Mach VM statistics; Windows asks GlobalMemoryStatusEx. Elsewhere: unknown.
#include "system_memory.hpp"

#include <limits>

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#elif defined(__unix__) || defined(__APPLE__)
#include <sys/resource.h>
#include <unistd.h>
#if defined(__APPLE__)
#include <mach/mach.h>
#include <sys/sysctl.h>
#endif
#if defined(__linux__)
#include <fstream>
#include <string>
#endif
#endif

namespace motivra::sia {

namespace {
constexpr std::size_t unknown_size = std::numeric_limits<std::size_t>::max();

[[maybe_unused]] std::size_t clamp_size(unsigned long long bytes) noexcept {
    return bytes > unknown_size ? unknown_size : static_cast<std::size_t>(bytes);
}
}  // namespace

#if defined(_WIN32)

std::size_t physical_memory() noexcept {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    return GlobalMemoryStatusEx(&status) ? clamp_size(status.ullTotalPhys) : unknown_size;
}

std::size_t available_memory() noexcept {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    return GlobalMemoryStatusEx(&status) ? clamp_size(status.ullAvailPhys) : 0;
}

std::size_t address_space_left() noexcept {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    return GlobalMemoryStatusEx(&status) ? clamp_size(status.ullAvailVirtual) : unknown_size;
}

#elif defined(__unix__) || defined(__APPLE__)

namespace {
std::size_t page_size() noexcept {
    const long page = sysconf(_SC_PAGESIZE);
    return page > 0 ? static_cast<std::size_t>(page) : 0;
}
}  // namespace

std::size_t physical_memory() noexcept {
#if defined(__APPLE__)
    unsigned long long bytes = 0;
    std::size_t length = sizeof bytes;
    if (sysctlbyname("hw.memsize", &bytes, &length, nullptr, 0) == 0) return clamp_size(bytes);
    return unknown_size;
#else
    const long pages = sysconf(_SC_PHYS_PAGES);
    const std::size_t page = page_size();
    return pages > 0 && page > 0 ? clamp_size(static_cast<unsigned long long>(pages) * page) : unknown_size;
#endif
}

std::size_t available_memory() noexcept {
#if defined(__linux__)
    // MemAvailable counts the reclaimable page cache too, which free pages do not.
    try {
        std::ifstream meminfo("/proc/meminfo");
        std::string key;
        std::size_t value = 0;
        std::string unit;
        while (meminfo >> key >> value >> unit) {
            if (key == "MemAvailable:") return value * 1024;
        }
    } catch (...) {
    }
    return 0;
#elif defined(__APPLE__)
    vm_statistics64_data_t stats{};
    mach_msg_type_number_t count = HOST_VM_INFO64_COUNT;
    if (host_statistics64(mach_host_self(), HOST_VM_INFO64, reinterpret_cast<host_info64_t>(&stats), &count) !=
        KERN_SUCCESS)
        return 0;
    const unsigned long long pages = static_cast<unsigned long long>(stats.free_count) + stats.inactive_count;
    return clamp_size(pages * page_size());
#elif defined(_SC_AVPHYS_PAGES)
    const long pages = sysconf(_SC_AVPHYS_PAGES);
    return pages > 0 ? clamp_size(static_cast<unsigned long long>(pages) * page_size()) : 0;
#else
    return 0;
#endif
}

std::size_t address_space_left() noexcept {
    // A lowered address-space limit (ulimit -v) binds before physical memory does.
    struct rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return unknown_size;
    const std::size_t cap = clamp_size(static_cast<unsigned long long>(limit.rlim_cur));
    std::size_t mapped = 0;
#if defined(__linux__)
    try {
        std::size_t mapped_pages = 0;
        std::ifstream statm("/proc/self/statm");
        statm >> mapped_pages;
        mapped = mapped_pages * page_size();
    } catch (...) {
    }
#endif
    // Where the mapped size is unknown, the limit alone still bounds one request.
    return mapped >= cap ? 0 : cap - mapped;
}

#else

std::size_t physical_memory() noexcept { return unknown_size; }
std::size_t available_memory() noexcept { return 0; }
std::size_t address_space_left() noexcept { return unknown_size; }

#endif

}  // namespace motivra::sia
