// ParseBlock: the parameter block of SingleAddressParser and BlockAddressParser.
#pragma once

#include <cstddef>
#include <cstdint>

#include "driver/address/gate_address.h"

struct ParseBlock {
    const char* addressText;  // the gate's address string, NUL-terminated, read only
    uint32_t unused4;
    int32_t gateType;         // host data type code (single gates)
    int32_t elementCount;     // elements of a block gate
    GateAddress address;      // output
};

#if defined(_WIN32) && defined(__i386__)
static_assert(sizeof(ParseBlock) == 36, "");
static_assert(offsetof(ParseBlock, gateType) == 8, "");
static_assert(offsetof(ParseBlock, elementCount) == 12, "");
static_assert(offsetof(ParseBlock, address) == 16, "");
#endif

// Host gate type codes that the parsers accept.
constexpr int32_t kGateTypeSignedByte = 1;  // byte-sized values are signed
constexpr int32_t kGateTypeFloat = 3;
constexpr int32_t kGateTypeDigital = 6;
