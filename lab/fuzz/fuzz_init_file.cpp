// The initialisation file reader with arbitrary file contents.
#include <cstdio>

#include "driver/config/init_file.h"
#include "lab/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static DriverState state;
    fuzz::ResetStandIns();
    std::memset(&state, 0, sizeof state);
    InitDriverState(&state);

    FILE* file = std::fopen("qunDOZ07.INT", "wb");
    if (file == nullptr) return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);

    QunRequest request{};
    request.state = &state;
    request.instance = 7;
    ReadIntFile(&request);

    // Whatever the file says, the station table holds channels 0 to 31 only.
    for (const StationEntry& entry : state.stations) {
        if (entry.channel == kFreeStation && entry.equipment == kFreeStation) continue;
        if (entry.channel > 31) __builtin_trap();
    }
    if (state.balanceFree != 0 && state.balanceFree != 1) __builtin_trap();
    if (state.clearCyclic != 0 && state.clearCyclic != 1) __builtin_trap();
    return 0;
}
