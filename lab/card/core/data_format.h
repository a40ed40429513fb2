// The little-endian element layouts of the data area and the BCD conversion,
// for the core and the equipment sides.
#pragma once

#include <cstdint>

namespace apc {

inline void Put16(uint8_t* out, uint32_t value) {
    out[0] = static_cast<uint8_t>(value);
    out[1] = static_cast<uint8_t>(value >> 8);
}
inline void Put32(uint8_t* out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}
inline uint32_t Get16(const uint8_t* in) { return in[0] | (static_cast<uint32_t>(in[1]) << 8); }
inline uint32_t Get32(const uint8_t* in) {
    return in[0] | (static_cast<uint32_t>(in[1]) << 8) | (static_cast<uint32_t>(in[2]) << 16) |
           (static_cast<uint32_t>(in[3]) << 24);
}

// BCD word to binary; false when a nibble is above 9.
inline bool FromBcd(uint32_t word, uint32_t* value) {
    uint32_t result = 0;
    for (int shift = 12; shift >= 0; shift -= 4) {
        const uint32_t digit = (word >> shift) & 0xF;
        if (digit > 9) return false;
        result = result * 10 + digit;
    }
    *value = result;
    return true;
}

// The largest value a BCD word holds.
constexpr uint32_t kMostBcdValue = 9999;

inline uint32_t ToBcd(uint32_t value) {
    uint32_t word = 0;
    for (int shift = 0; shift < 16; shift += 4) {
        word |= (value % 10) << shift;
        value /= 10;
    }
    return word;
}

}  // namespace apc
