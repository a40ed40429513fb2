#include "driver/exchange/transfer.h"

#include "driver/platform/host.h"

int32_t CheckTransfer(const DriverState& state, const GateTransfer& transfer,
                      const MemoryType& type, bool singleGate, const char* function) {
    const GateAddress& address = transfer.address;
    if (static_cast<uint32_t>(address.stationIndex) >= kStationCount) {
        err(kLogError, "RIREVI: %s() illegal station index %d. Tag '%s'", function,
            address.stationIndex, TagName(transfer));
        return 2;
    }
    // A free slot (0xFF, 0xFF) or one the parser never filled would hand the
    // card a channel it does not have.
    const StationEntry& station = StationOf(state, address);
    if (station.channel > kHighestCardChannel) {
        err(kLogError, "RIREVI: %s() station index %d is free or has channel %u. Tag '%s'",
            function, address.stationIndex, static_cast<unsigned>(station.channel),
            TagName(transfer));
        return 2;
    }
    const int32_t mostElements = kCardBufferSize * 8 / type.elementBits;
    if (transfer.count < 1 || transfer.count > mostElements) {
        err(kLogError,
            "RIREVI: %s() illegal count %d, the card buffer holds 1 to %d elements. Tag '%s'",
            function, transfer.count, mostElements, TagName(transfer));
        return 2;
    }
    const int32_t bit = address.bitOrCyclicNumber;
    if (singleGate && bit != kNoBitOrCyclic &&
        (!type.bitNumberAllowed || bit < 0 || bit >= type.elementBits)) {
        err(kLogError, "RIREVI: %s() illegal bit number %d. Tag '%s'", function, bit,
            TagName(transfer));
        return 2;
    }
    if (transfer.value == nullptr) {
        err(kLogError, "RIREVI: %s() no value buffer. Tag '%s'", function, TagName(transfer));
        return 2;
    }
    return 0;
}
