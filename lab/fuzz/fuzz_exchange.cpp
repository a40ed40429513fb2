// Reads and writes with arbitrary gate records, counts, host values, card
// statuses and card data: StoreData's and PutData's conversions behind the
// driver's own checks, through QunMain as the host calls them.
#include <vector>

#include "driver/entry/driver_functions.h"
#include "driver/entry/function_codes.h"
#include "driver/exchange/gate_transfer.h"
#include "lab/fuzz/fuzz_support.h"

namespace {

// Statuses the card may answer; 5 is left out only because its pauses would
// slow the fuzzer down without reaching other code.
constexpr int16_t kStatuses[] = {0, 0, 0, 2, 3, 4, 35, 45, 46, 70, -6, 1, -3, 47};
constexpr uint32_t kFunctionCodes[] = {function_code::kSingleRead, function_code::kBlockRead,
                                       function_code::kSingleWrite, function_code::kBlockWrite};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static DriverState state;
    fuzz::ResetStandIns();
    fuzz::ColdState(&state);

    fuzz::Input input(data, size);
    const uint8_t selector = input.Take<uint8_t>();
    state.retryCount = selector & 3;
    state.balanceFree = (selector >> 2) & 1;
    const uint32_t functionCode = kFunctionCodes[(selector >> 3) & 3];

    GateTransfer transfer{};
    input.TakeBytes(&transfer.address, sizeof transfer.address);
    transfer.gateType = input.Take<int8_t>();
    transfer.count = input.Take<int16_t>();
    transfer.tagName = "fuzz";

    // A few station slots and the per-channel numbering of cyclic functions.
    for (int i = 0; i < 4; ++i) {
        const uint8_t slot = input.Take<uint8_t>();
        state.stations[slot].channel = input.Take<uint8_t>();
        state.stations[slot].equipment = input.Take<uint8_t>();
    }
    const uint8_t channel = input.Take<uint8_t>() % kCounterChannels;
    state.channelFirstCyc[channel] = input.Take<uint8_t>();
    state.channelLastCyc[channel] = input.Take<uint8_t>();

    // The card's answers: a status sequence for every routine, and data for
    // every read.
    int16_t statuses[4];
    for (int16_t& status : statuses)
        status = kStatuses[input.Take<uint8_t>() % (sizeof kStatuses / sizeof kStatuses[0])];
    for (int32_t routine = 0; routine < APC_ROUTINE_COUNT; ++routine)
        ApcScriptStatus(routine, statuses, 4);
    const uint16_t dataSize = input.Take<uint16_t>() % 1025;
    std::vector<uint8_t> cardData(dataSize);
    input.TakeBytes(cardData.data(), cardData.size());
    for (int32_t routine = APC_readpackbit; routine <= APC_readquickbit; ++routine)
        ApcScriptData(routine, cardData.data(), dataSize);
    for (int32_t routine = APC_getpackbit; routine <= APC_getfword; ++routine)
        ApcScriptData(routine, cardData.data(), dataSize);
    ApcScriptData(APC_transcycpack, cardData.data(), dataSize);

    // The host's value buffer: as large as the largest block a gate may have.
    std::vector<uint8_t> value(kCardBufferSize);
    input.TakeBytes(value.data(), value.size());
    transfer.value = value.data();

    const GateAddress before = transfer.address;
    QunRequest request{};
    request.state = &state;
    request.instance = 1;
    request.functionCode = functionCode;
    request.parameters = &transfer;
    const int32_t result = QunMain(&request);
    if (result < 0 || result > 2) __builtin_trap();
    // The gate's record comes back as the host gave it.
    if (std::memcmp(&before, &transfer.address, sizeof before) != 0) __builtin_trap();
    // No stopped function is left behind.
    if (ApcJournalCountOf(APC_stopcyc) != ApcJournalCountOf(APC_startcyc)) __builtin_trap();
    return 0;
}
