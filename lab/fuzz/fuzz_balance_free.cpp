// The balance-free walk of a write with arbitrary AppGetCycParam records: every
// function the walk stops is started again, the list of stopped functions stays
// within its places, and the mirror goes where a covering function says.
#include <vector>

#include "driver/address/memory_types.h"
#include "driver/entry/driver_functions.h"
#include "driver/exchange/gate_transfer.h"
#include "lab/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static DriverState state;
    fuzz::ResetStandIns();
    fuzz::ColdState(&state);

    fuzz::Input input(data, size);
    const uint8_t channel = input.Take<uint8_t>() % kCounterChannels;
    const uint8_t equipment = input.Take<uint8_t>();
    state.stations[0] = StationEntry{channel, equipment};
    const uint8_t first = input.Take<uint8_t>();
    const uint8_t last = input.Take<uint8_t>();
    state.channelFirstCyc[channel] = first;
    state.channelLastCyc[channel] = last;

    // A writable external type: single or block write of it.
    static const uint16_t kTypes[] = {kPB, kPQB,  kBY, kQBY, kPBY, kPQBY, kW,
                                      kQW, kBCDW, kDW, kFW,  kTI,  kCO};
    const uint8_t pick = input.Take<uint8_t>();
    const uint16_t memoryType = kTypes[(pick & 0x7F) % (sizeof kTypes / sizeof kTypes[0])];
    const bool block = (pick & 0x80) != 0;

    GateTransfer transfer{};
    transfer.tagName = "fuzz";
    transfer.address.stationIndex = 0;
    transfer.address.memoryType = memoryType;
    transfer.address.byteness = 1;
    transfer.address.elementAddress = input.Take<uint16_t>();
    transfer.address.bitOrCyclicNumber = -1;
    transfer.address.elementBits = kMemoryTypes[memoryType].elementBits;
    transfer.count = block ? 1 + input.Take<uint8_t>() % 32 : 1;

    // Records for every number of the channel; some answer a failure.
    for (int number = 0; number < 256 && input.left() > 0; ++number) {
        uint8_t record[256] = {};
        input.TakeBytes(record, 44);
        const int16_t status = (record[43] & 0x80) ? 3 : 0;
        ApcScriptCycParam(channel, number, record, status);
    }

    std::vector<uint8_t> value(kCardBufferSize);
    transfer.value = value.data();
    QunRequest request{};
    request.state = &state;
    request.instance = 1;
    request.functionCode = block ? 10 : 7;
    request.parameters = &transfer;
    const int32_t result = QunMain(&request);
    if (result < 0 || result > 2) __builtin_trap();

    if (state.stoppedCount > kStoppedPlaces) __builtin_trap();
    if (ApcJournalCountOf(APC_stopcyc) != ApcJournalCountOf(APC_startcyc)) __builtin_trap();
    if (ApcJournalCountOf(APC_stopcyc) != state.stoppedCount) __builtin_trap();
    return 0;
}
