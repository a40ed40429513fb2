// The address parsers with arbitrary strings, gate types and element counts.
// One input is several gates (separated by line feeds) parsed into one state
// block, so station slots, card-database areas and the registry fill up.
#include <vector>

#include "driver/address/parse_block.h"
#include "driver/entry/driver_functions.h"
#include "lab/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static DriverState state;
    fuzz::ResetStandIns();
    fuzz::ColdState(&state);

    fuzz::Input input(data, size);
    const uint8_t flags = input.Take<uint8_t>();
    state.cardOpen = flags & 1;

    // Each gate: gate type, element count, kind, then its string up to '\n'.
    const uint8_t* text = input.rest();
    size_t left = input.left();
    for (int gate = 0; gate < 64 && left > 0; ++gate) {
        fuzz::Input header(text, left);
        const int32_t gateType = header.Take<int8_t>();
        const int32_t count = header.Take<int16_t>();
        const uint8_t kind = header.Take<uint8_t>();
        text = header.rest();
        left = header.left();
        size_t length = 0;
        while (length < left && text[length] != '\n') ++length;
        // The host's string, exactly as long as given: nothing after its terminator.
        std::vector<char> address(text, text + length);
        address.push_back('\0');
        text += length < left ? length + 1 : length;
        left -= length < left ? length + 1 : length;

        ParseBlock block{};
        block.addressText = address.data();
        block.gateType = gateType;
        block.elementCount = count;
        QunRequest request{};
        request.state = &state;
        request.instance = 1;
        request.functionCode = (kind & 1) ? 4 : 3;
        request.parameters = &block;
        const int32_t result = QunMain(&request);
        if (result != 0 && result != 1) __builtin_trap();
        if (result == 0) {
            // An accepted gate names a real row and a real station slot.
            if (block.address.memoryType >= 24) __builtin_trap();
            if (block.address.stationIndex < 0 || block.address.stationIndex > 255)
                __builtin_trap();
            if (block.address.byteness != 1 && block.address.byteness != 2 &&
                block.address.byteness != 4)
                __builtin_trap();
        }
        if (LoadCyclicCount(&state) > kRegistryChannelPlaces) __builtin_trap();
    }
    return 0;
}
