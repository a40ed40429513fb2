#if defined(_WIN32)
#include <windows.h>

#include "tests/support/module_loader.h"

namespace qun_test {

QunMainFunction LoadDriverEntry() {
    HMODULE module = LoadLibraryA("MORDALIX.DLL");
    if (module == nullptr) return nullptr;
    return reinterpret_cast<QunMainFunction>(
        reinterpret_cast<void*>(GetProcAddress(module, "QunMain")));
}

void* LoadedDriverModule() { return GetModuleHandleA("MORDALIX.DLL"); }

}  // namespace qun_test
#endif
