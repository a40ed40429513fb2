// The time stamps' clock: the processor's time-stamp counter where it is
// invariant, measured once against the system's clock.
#include <chrono>
#include <thread>

#include "recorder/tap/platform/tap_system.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#include <x86intrin.h>
#endif

namespace tap {

namespace {

// An invariant counter (leaf 0x80000007, EDX bit 8) runs at one rate whatever
// the processor's power state.
bool InvariantCounter() {
#if defined(__i386__) || defined(__x86_64__)
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    return __get_cpuid(0x80000000u, &eax, &ebx, &ecx, &edx) && eax >= 0x80000007u &&
           __get_cpuid(0x80000007u, &eax, &ebx, &ecx, &edx) && (edx & (1u << 8)) != 0;
#else
    return false;
#endif
}

bool UseCounter() {
    static const bool counter = InvariantCounter();
    return counter;
}

uint64_t MeasureTicksPerSecond() {
#if defined(__i386__) || defined(__x86_64__)
    if (UseCounter()) {
        const uint64_t systemStart = SystemTicks();
        const uint64_t counterStart = __rdtsc();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const uint64_t system = SystemTicks() - systemStart;
        const uint64_t counted = __rdtsc() - counterStart;
        if (system != 0 && counted != 0)
            return static_cast<uint64_t>(static_cast<double>(counted) *
                                         static_cast<double>(SystemTicksPerSecond()) /
                                         static_cast<double>(system));
    }
#endif
    return SystemTicksPerSecond();
}

}  // namespace

uint64_t Ticks() {
#if defined(__i386__) || defined(__x86_64__)
    if (UseCounter()) return __rdtsc();
#endif
    return SystemTicks();
}

uint64_t TicksPerSecond() {
    static const uint64_t perSecond = MeasureTicksPerSecond();
    return perSecond;
}

}  // namespace tap
