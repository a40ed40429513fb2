// The two services of the operating system that the simulated card needs.
#if defined(_WIN32)
#include <windows.h>
#endif

#include <functional>
#include <thread>

#include "standins/applicom/simulated_card.h"

namespace apc {

uint32_t CallerThreadId() {
#if defined(_WIN32)
    return static_cast<uint32_t>(GetCurrentThreadId());
#else
    return static_cast<uint32_t>(std::hash<std::thread::id>()(std::this_thread::get_id()));
#endif
}

// The card thread runs code of this library until the process ends, so the
// library must never be unloaded under it.
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

}  // namespace apc
