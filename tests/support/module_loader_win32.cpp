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

const char kCardLibraryFile[] = "APPLICOM.dll";

std::string ProgramFolder() {
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    const std::string program(path, n < sizeof path ? n : 0);
    return program.substr(0, program.find_last_of("\\/") + 1);
}

void* LoadModuleAt(const std::string& path) { return LoadLibraryA(path.c_str()); }

void* ModuleFunction(void* module, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void UnloadModule(void* module) { FreeLibrary(static_cast<HMODULE>(module)); }

std::string RuntimeDescription() {
    // Wine's own export of its system library tells it from Windows.
    using WineVersion = const char*(__cdecl*)();
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    const auto wineVersion = reinterpret_cast<WineVersion>(reinterpret_cast<void*>(
        ntdll != nullptr ? GetProcAddress(ntdll, "wine_get_version") : nullptr));
    const std::string module = "32-bit Windows build (MORDALIX.DLL)";
    return wineVersion != nullptr ? module + " under Wine " + wineVersion()
                                  : module + " on Windows";
}

}  // namespace qun_test
#endif
