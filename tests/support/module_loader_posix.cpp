#if !defined(_WIN32)
#include <dlfcn.h>

#include "tests/support/module_loader.h"

namespace qun_test {

namespace {
void* module = nullptr;
}

QunMainFunction LoadDriverEntry() {
    module = dlopen("libMORDALIX.so", RTLD_NOW);
    if (module == nullptr) return nullptr;
    return reinterpret_cast<QunMainFunction>(dlsym(module, "QunMain"));
}

void* LoadedDriverModule() { return module; }

}  // namespace qun_test
#endif
