#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "recorder/tap/platform/tap_system.h"

namespace tap {

namespace {

HMODULE OwnModule() {
    HMODULE module = nullptr;
    GetModuleHandleExA(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCSTR>(&OwnModule), &module);
    return module;
}

std::string ModulePath(HMODULE module) {
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(module, path, sizeof path);
    return n > 0 && n < sizeof path ? std::string(path, n) : std::string();
}

std::string FullPath(const std::string& path) {
    char full[MAX_PATH];
    const DWORD n = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    return n > 0 && n < sizeof full ? std::string(full, n) : path;
}

void (*processEnd)(bool) = nullptr;

}  // namespace

std::string OwnFolder() {
    const std::string path = ModulePath(OwnModule());
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string DefaultRealLibrary() {
    char folder[MAX_PATH];
    const UINT n = GetSystemDirectoryA(folder, sizeof folder);
    return (n > 0 && n < sizeof folder ? std::string(folder, n)
                                       : std::string("C:\\Windows\\System32")) +
           "\\APPLICOM.dll";
}

bool IsOwnModule(const std::string& path) {
    return lstrcmpiA(FullPath(path).c_str(), ModulePath(OwnModule()).c_str()) == 0;
}

void PinOwnModule() {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCSTR>(&OwnModule), &module);
}

void* LoadLibraryAt(const std::string& path, std::string* error) {
    const UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    const DWORD code = GetLastError();
    SetErrorMode(oldMode);
    if (module == nullptr) *error = "error " + std::to_string(code);
    return module;
}

void* FindFunction(void* module, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

std::string Environment(const char* name) {
    char value[1024];
    const DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
}

uint32_t ThreadId() { return GetCurrentThreadId(); }

uint64_t SystemTicks() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<uint64_t>(now.QuadPart);
}

uint64_t SystemTicksPerSecond() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<uint64_t>(frequency.QuadPart);
}

uint64_t WallMicroseconds() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const uint64_t hundreds = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return hundreds / 10 - 11644473600000000ull;  // 1601 to 1970
}

void Complain(const std::string& line) {
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

void AtProcessEnd(void (*fn)(bool)) { processEnd = fn; }

}  // namespace tap

// At the process's end the recorder's thread is gone: what it had not yet
// written is written from here. (While the writer runs, the module is pinned:
// a FreeLibrary never detaches it.)
BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    const bool processEnds = reserved != nullptr;
    if (reason == DLL_PROCESS_DETACH && processEnds && tap::processEnd != nullptr)
        tap::processEnd(false);
    return TRUE;
}
