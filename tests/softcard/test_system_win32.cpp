#include <windows.h>
// After windows.h.
#include <tlhelp32.h>

#include <cstdint>
#include <cstdlib>

#include "tests/softcard/test_system.h"

namespace softcard_test {

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

// Wine answers GetProcessHandleCount with 0, so every handle value is tried
// with GetHandleInformation, which succeeds exactly for open handles. Threads
// of the system hold short-lived handles now and then: the least of three
// counts is taken.
int32_t HandleCount() {
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count != 0)
        return static_cast<int32_t>(count);
    int32_t least = INT32_MAX;
    for (int sample = 0; sample < 3; ++sample) {
        int32_t open = 0;
        for (uintptr_t value = 4; value < 0x10000; value += 4) {
            DWORD flags = 0;
            if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++open;
        }
        if (open < least) least = open;
        Sleep(50);
    }
    return least;
}

void SetVariable(const char* name, const char* value) { _putenv_s(name, value); }

}  // namespace softcard_test
