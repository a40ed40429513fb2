// GateTransfer: the parameter block of the four data-exchange functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "driver/address/gate_address.h"

struct GateTransfer {
    const char* tagName;  // the gate's name, for log messages only
    uint32_t unused4;
    GateAddress address;  // as the parser produced it
    int32_t gateType;     // 1: byte-sized values are signed
    int32_t count;        // elements to transfer
    uint32_t unused36;
    void* value;  // the host's value buffer
};

#if defined(_WIN32) && defined(__i386__)
static_assert(sizeof(GateTransfer) == 44, "");
static_assert(offsetof(GateTransfer, address) == 8, "");
static_assert(offsetof(GateTransfer, gateType) == 28, "");
static_assert(offsetof(GateTransfer, count) == 32, "");
static_assert(offsetof(GateTransfer, value) == 40, "");
#endif

// A single gate's value: 16-bit values and digital 0/1 at byte offset 2,
// 32-bit integers and floats at offset 0. The buffer need not be aligned.
inline uint16_t Value16(const GateTransfer& transfer) {
    uint16_t v;
    std::memcpy(&v, static_cast<const uint8_t*>(transfer.value) + 2, 2);
    return v;
}
inline void SetValue16(GateTransfer& transfer, uint16_t v) {
    std::memcpy(static_cast<uint8_t*>(transfer.value) + 2, &v, 2);
}
inline uint32_t Value32(const GateTransfer& transfer) {
    uint32_t v;
    std::memcpy(&v, transfer.value, 4);
    return v;
}
inline void SetValue32(GateTransfer& transfer, uint32_t v) { std::memcpy(transfer.value, &v, 4); }

// The gate's name for log messages; a host that gave none gets "".
inline const char* TagName(const GateTransfer& transfer) {
    return transfer.tagName != nullptr ? transfer.tagName : "";
}
