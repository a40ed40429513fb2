// What the read and write paths share: the checks
// of a host's transfer before any card call, the arguments of a card routine
// derived from the transfer, and how a memory type's values travel.
#pragma once

#include <cstdint>

#include "driver/address/gate_address.h"
#include "driver/address/memory_types.h"
#include "driver/entry/driver_state.h"
#include "driver/entry/function_codes.h"
#include "driver/exchange/gate_transfer.h"
#include "driver/platform/os.h"

// How a value of a memory type travels between the card's data and the
// host's value buffer. Derived from the type's row, which holds the facts.
enum class ValueKind : uint8_t {
    Bit,         // one bit, in the low bit of a 16-bit word
    QuickBit,    // one of an equipment's quick bits, numbered by the gate's address
    Byte16,      // a byte carried in a 16-bit element
    Byte8,       // a packed byte
    Word,        // 16-bit word
    DoubleWord,  // 32-bit integer
    Float,       // IEEE 754 single, bit for bit
};

inline ValueKind ValueKindOf(const MemoryType& type) {
    if (type.form == RoutineForm::QuickBit) return ValueKind::QuickBit;
    switch (type.elementBits) {
        case 1:
            return ValueKind::Bit;
        case 8:
            return ValueKind::Byte8;
        case 16:
            return type.bytesPerElement == 2 ? ValueKind::Byte16 : ValueKind::Word;
        default:
            return type.isFloat ? ValueKind::Float : ValueKind::DoubleWord;
    }
}

// The integer arguments of a card data routine. The routines take every
// argument by address, so a call keeps them in one place for its repetition.
struct CardCall {
    int16_t channel;    // channel, or card number for the internal database
    int16_t equipment;  // equipment on the field bus
    int16_t count;      // element count: the low 16 bits of the transfer's count
    int32_t address;    // the address as written in the address string
};

// The station slot must have been checked (CheckTransfer).
inline CardCall CardCallOf(const DriverState& state, const GateTransfer& transfer) {
    const StationEntry& station = StationOf(state, transfer.address);
    return CardCall{station.channel, station.equipment, static_cast<int16_t>(transfer.count),
                    CardAddress(transfer.address)};
}

// Bytes of count packed elements of elementBits each, rounded up to whole
// bytes and never more than the card buffer holds.
inline uint32_t BlockBytes(uint32_t elementBits, int32_t count) {
    if (count <= 0) return 0;
    const uint32_t bytes = (elementBits * static_cast<uint32_t>(count) + 7) / 8;
    return bytes < kCardBufferSize ? bytes : kCardBufferSize;
}

// Channels of the card: 0 to 31 (the internal database's card numbers 1 to 8
// lie within).
constexpr uint8_t kHighestCardChannel = 31;

// Refuses a transfer that the driver cannot carry out safely as the host gave
// it: a station slot outside the table, free or with a channel the card does
// not have, a count below 1 or beyond what the
// card buffer holds, a bit number the element does not have (single gates
// only), no value buffer. Logs the reason at level 32 and returns 2; 0 when
// the transfer is sound. The memory type must be a valid row.
int32_t CheckTransfer(const DriverState& state, const GateTransfer& transfer,
                      const MemoryType& type, bool singleGate, const char* function);

// A pause of a length taken from the state; none when it is not positive.
inline void PauseMs(int32_t milliseconds) {
    if (milliseconds > 0) os::SleepMs(static_cast<uint32_t>(milliseconds));
}

// Attempts a read makes: retryCount, and at least one.
inline uint32_t ReadAttemptCount(const DriverState& state) {
    return state.retryCount == 0 ? 1 : state.retryCount;
}
