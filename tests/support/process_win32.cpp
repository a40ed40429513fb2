#if defined(_WIN32)
#include <windows.h>
// After windows.h.
#include <tlhelp32.h>

#include <climits>
#include <cstdint>
#include <cstdlib>

#include "tests/support/process.h"

namespace qun_test {

namespace {

// Wine answers GetProcessHandleCount with 0 (or fails); then every handle
// value is tried with GetHandleInformation, which succeeds exactly for the
// handles that are open, and the least of three counts is taken.
int32_t HandleCensus(std::string* how) {
    DWORD count = 0;
    *how = "GetProcessHandleCount";
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count != 0)
        return static_cast<int32_t>(count);
    *how = "open handle values";
    int32_t least = INT32_MAX;
    for (int sample = 0; sample < 3; ++sample) {
        int32_t open = 0;
        for (uintptr_t value = 4; value < 0x10000; value += 4) {
            DWORD flags = 0;
            if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++open;
        }
        if (open < least) least = open;
        Sleep(100);
    }
    return least;
}

}  // namespace

int32_t ThreadCount() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return -1;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    int32_t count = 0;
    const DWORD self = GetCurrentProcessId();
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == self) ++count;
    CloseHandle(snapshot);
    return count;
}

int32_t HandleCount() {
    std::string how;
    return HandleCensus(&how);
}

int32_t OpenObjectCount(std::string* how) { return HandleCensus(how); }

MemoryUse Memory() {
    MemoryUse use;
    MEMORY_BASIC_INFORMATION region{};
    for (const char* at = nullptr;
         VirtualQuery(at, &region, sizeof region) == sizeof region && region.RegionSize > 0;
         at = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
        if (region.State == MEM_FREE) continue;
        use.addressSpaceBytes += static_cast<int64_t>(region.RegionSize);
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
            use.committedBytes += static_cast<int64_t>(region.RegionSize);
    }
    return use;
}

void SetEnvironment(const char* name, const char* value) { _putenv_s(name, value); }

}  // namespace qun_test
#endif
