#if !defined(_WIN32)
#include <dlfcn.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <string>

#include "tests/support/module_loader.h"

namespace qun_test {

namespace {

void* module = nullptr;

}  // namespace

const char kCardLibraryFile[] = "libAPPLICOM.so";

// Modules are named by their full path: a search by name would depend on
// which object calls dlopen (sanitizers intercept it).
std::string ProgramFolder() {
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return "./";
    std::string program(path, static_cast<size_t>(length));
    return program.substr(0, program.rfind('/') + 1);
}

void* LoadModuleAt(const std::string& path) { return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL); }
void* ModuleFunction(void* loaded, const char* name) { return dlsym(loaded, name); }
void UnloadModule(void* loaded) { dlclose(loaded); }

QunMainFunction LoadDriverEntry() {
    module = dlopen((ProgramFolder() + "libMORDALIX.so").c_str(), RTLD_NOW);
    if (module == nullptr) return nullptr;
    return reinterpret_cast<QunMainFunction>(dlsym(module, "QunMain"));
}

void* LoadedDriverModule() { return module; }

std::string RuntimeDescription() {
    utsname system{};
    uname(&system);
    return std::string("native build (libMORDALIX.so) on ") + system.sysname + " " + system.machine;
}

}  // namespace qun_test
#endif
