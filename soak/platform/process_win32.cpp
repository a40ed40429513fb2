#include <windows.h>

#include "soak/platform/process.h"

namespace soak {

Entry LoadDriver(std::string* error) {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string file(path, length);
    file.erase(file.find_last_of("\\/") + 1);
    file += "MORDALIX.DLL";
    HMODULE module = LoadLibraryExA(file.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (module == nullptr) {
        *error = "cannot load " + file + " (" + std::to_string(GetLastError()) + ")";
        return nullptr;
    }
    const Entry entry =
        reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(module, "QunMain")));
    if (entry == nullptr) *error = file + " has no QunMain";
    return entry;
}

void PauseMs(uint32_t milliseconds) { Sleep(milliseconds); }

// Wine answers GetProcessHandleCount with 0 (or fails); then every handle
// value is tried with GetHandleInformation, which succeeds exactly for the
// handles that are open. The other threads (the supervisor, the card's cycle)
// hold short-lived handles now and then, so the least of three counts is
// taken.
uint32_t OpenObjectCount(std::string* how) {
    DWORD count = 0;
    *how = "GetProcessHandleCount";
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count != 0) return count;
    *how = "open handle values";
    DWORD least = ~DWORD{0};
    for (int sample = 0; sample < 3; ++sample) {
        count = 0;
        for (uintptr_t value = 4; value < 0x10000; value += 4) {
            DWORD flags = 0;
            if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
        }
        if (count < least) least = count;
        Sleep(100);
    }
    return least;
}

}  // namespace soak
