// GateAddress: the 20-byte parsed address of a gate, which the host keeps
// beside the gate and hands back with every read and write.
#pragma once

#include <cstddef>
#include <cstdint>

#include "driver/entry/driver_state.h"

struct GateAddress {
    int32_t stationIndex;       // slot of the station table (channel, equipment)
    uint16_t memoryType;        // row of the memory-type table
    int16_t byteness;           // 1, 2 or 4: unit of the written address
    uint32_t elementAddress;    // written address / byteness
    int32_t bitOrCyclicNumber;  // single gate: bit number or -1; block gate: cyclic number or -1
    int32_t elementBits;        // 1, 8, 16 or 32, from the memory type
};

static_assert(sizeof(GateAddress) == 20, "GateAddress is 20 bytes");
static_assert(offsetof(GateAddress, stationIndex) == 0, "");
static_assert(offsetof(GateAddress, memoryType) == 4, "");
static_assert(offsetof(GateAddress, byteness) == 6, "");
static_assert(offsetof(GateAddress, elementAddress) == 8, "");
static_assert(offsetof(GateAddress, bitOrCyclicNumber) == 12, "");
static_assert(offsetof(GateAddress, elementBits) == 16, "");

constexpr int32_t kNoBitOrCyclic = -1;
constexpr uint16_t kFirstInternalType = 18;

// A gate in the card's internal database (the channel field carries the card
// number 1 to 8) rather than in a field-bus equipment.
inline bool IsInternal(const GateAddress& address) {
    return address.memoryType >= kFirstInternalType;
}

// A single gate that designates one bit of a larger element.
inline bool IsSpecialDigital(const GateAddress& address) {
    return address.bitOrCyclicNumber >= 0;
}

// A gate whose value is 0 or 1.
inline bool IsDigital(const GateAddress& address) {
    return IsSpecialDigital(address) || address.elementBits == 1;
}

// The address handed to the card library: the address as written in the string.
inline int32_t CardAddress(const GateAddress& address) {
    return static_cast<int32_t>(address.elementAddress * static_cast<uint32_t>(address.byteness));
}

// The gate's channel and equipment, through its station slot.
inline const StationEntry& StationOf(const DriverState& state, const GateAddress& address) {
    return state.stations[address.stationIndex];
}
