#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>

#include "recorder/tap/platform/tap_system.h"

namespace tap {

namespace {

std::string OwnPath() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&OwnPath), &info) == 0 || info.dli_fname == nullptr)
        return std::string();
    char full[PATH_MAX];
    return realpath(info.dli_fname, full) != nullptr ? std::string(full) : info.dli_fname;
}

}  // namespace

std::string OwnFolder() {
    const std::string path = OwnPath();
    return path.substr(0, path.rfind('/') + 1);
}

std::string DefaultRealLibrary() { return "/usr/local/lib/libAPPLICOM.so"; }

bool IsOwnModule(const std::string& path) {
    char full[PATH_MAX];
    return realpath(path.c_str(), full) != nullptr && OwnPath() == full;
}

void PinOwnModule() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&OwnPath), &info) != 0 && info.dli_fname != nullptr)
        dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}

void* LoadLibraryAt(const std::string& path, std::string* error) {
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        const char* text = dlerror();
        *error = text != nullptr ? text : "dlopen failed";
    }
    return module;
}

void* FindFunction(void* module, const char* name) { return dlsym(module, name); }

std::string Environment(const char* name) {
    const char* value = getenv(name);
    return value != nullptr ? value : "";
}

uint32_t ThreadId() {
    // The system's thread identifier costs a system call: once per thread.
    static thread_local const uint32_t id = static_cast<uint32_t>(syscall(SYS_gettid));
    return id;
}

uint64_t SystemTicks() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000000ull + static_cast<uint64_t>(now.tv_nsec);
}

uint64_t SystemTicksPerSecond() { return 1000000000ull; }

uint64_t WallMicroseconds() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000ull +
           static_cast<uint64_t>(now.tv_nsec) / 1000;
}

void Complain(const std::string& line) {
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

namespace {
void (*processEnd)(bool) = nullptr;
void OnExit() { processEnd(true); }
}  // namespace

void AtProcessEnd(void (*fn)(bool)) {
    processEnd = fn;
    atexit(OnExit);
}

}  // namespace tap
