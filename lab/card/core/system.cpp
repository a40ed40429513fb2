// The services of the operating system that the card core needs.
#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <functional>
#include <thread>

#include "lab/card/core/card_core.h"

namespace apc {

uint32_t CallerThreadId() {
#if defined(_WIN32)
    return static_cast<uint32_t>(GetCurrentThreadId());
#else
    return static_cast<uint32_t>(std::hash<std::thread::id>()(std::this_thread::get_id()));
#endif
}

// The card thread runs code of this library, so the library must never be
// unloaded under it.
void PinLibrary() {
#if defined(_WIN32)
    HMODULE self = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCSTR>(&PinLibrary), &self);
#else
    // A native build is loaded once per process by the tests and the host
    // program and not unloaded before the process ends.
#endif
}

std::string LibraryFolder() {
    std::string path;
#if defined(_WIN32)
    HMODULE self = nullptr;
    char name[MAX_PATH];
    if (GetModuleHandleExA(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCSTR>(&LibraryFolder), &self)) {
        const DWORD n = GetModuleFileNameA(self, name, sizeof name);
        if (n > 0 && n < sizeof name) path.assign(name, n);
    }
#else
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&LibraryFolder), &info) != 0 && info.dli_fname != nullptr)
        path = info.dli_fname;
#endif
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace apc
