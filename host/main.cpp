// qunhost: loads MORDALIX.DLL the way the Korvex host does and talks to it
// through QunMain.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "entry/qun_info.h"
#include "entry/request.h"
#include "host/cp437.h"
#include "standins/korvex/korvex_control.h"

namespace {

using QunMainFunction = int32_t(__cdecl*)(QunRequest*);

void PrintInfo(QunMainFunction qunMain) {
    QunInfo info{};
    QunRequest request{};
    request.functionCode = 14;
    request.parameters = &info;
    const int32_t result = qunMain(&request);
    std::printf("GetQunInfo -> %d\n", static_cast<int>(result));
    std::printf("%s\n", Cp437ToUtf8(info.banner != nullptr ? info.banner : "").c_str());
    std::printf("  maker            \"%s\"\n", info.makerName != nullptr ? info.makerName : "");
    std::printf("  record code      %u\n", info.infoCode);
    std::printf("  state block size %u bytes\n", info.stateSize);
    std::printf("  value at 16      %u\n", info.value16);
    std::printf("  value at 20      %u\n", static_cast<unsigned>(info.value20));
    std::printf("  capabilities     0x%05X\n", info.capabilities);
}

}  // namespace

int main(int argc, char** argv) {
    (void)argc;
    (void)argv;
    KvxLogEcho("-");
    HMODULE module = LoadLibraryA("MORDALIX.DLL");
    if (module == nullptr) {
        std::fprintf(stderr, "qunhost: MORDALIX.DLL could not be loaded (error %lu)\n",
                     GetLastError());
        return 2;
    }
    auto qunMain = reinterpret_cast<QunMainFunction>(
        reinterpret_cast<void*>(GetProcAddress(module, "QunMain")));
    if (qunMain == nullptr) {
        std::fprintf(stderr, "qunhost: MORDALIX.DLL has no export QunMain\n");
        return 2;
    }
    PrintInfo(qunMain);
    return 0;
}
