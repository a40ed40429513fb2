// Gate values in the host's value buffers: their size, how a person writes
// them and how they are shown.
//
// A single gate's buffer holds a 16-bit value (and the 0/1 of every digital
// gate) at byte offset 2, a 32-bit integer or float at offset 0. A block gate's
// buffer holds its elements packed from offset 0: bits eight to a byte (lowest
// bit first), bytes, 16-bit words, 32-bit words or floats, little-endian.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qunhost {

// The host's gate type codes as the driver's parsers and transfers see them.
enum GateTypeCode : int32_t {
    kTypeU16 = 0,      // 8- and 16-bit values, unsigned
    kTypeS8 = 1,       // byte-sized values are signed
    kTypeS16 = 2,      // 16-bit values, signed
    kTypeFloat = 3,    // IEEE 754 single
    kTypeU32 = 4,      // 32-bit values, unsigned
    kTypeS32 = 5,      // 32-bit values, signed
    kTypeDigital = 6,  // 0 or 1
};
constexpr int32_t kGateTypeCount = 7;

// "u16", "s8", ... for a code 0 to 6; "?" otherwise.
const char* GateTypeName(int32_t code);

// Integers as a person writes them: decimal with an optional sign, or 0x hex.
bool ParseInteger(const std::string& text, int64_t* value);
// Numbers: integers as above, or plain decimals with an optional exponent.
bool ParseNumber(const std::string& text, double* value);

constexpr size_t kSingleValueBytes = 4;

// Bytes of a block's elements: ceil(elementBits x count / 8).
size_t BlockValueBytes(int32_t elementBits, int32_t count);

// A single gate's value as text, by its gate type.
std::string FormatSingleValue(const uint8_t* buffer, int32_t gateType);

// Each element of a block as text. elementBits comes from the parsed address.
std::vector<std::string> FormatBlockValues(const uint8_t* buffer, int32_t elementBits,
                                           int32_t count, int32_t gateType);

// Puts a written value into a single gate's buffer (4 bytes). False with a
// message when the text does not fit the gate type.
bool EncodeSingleValue(const std::string& text, int32_t gateType, uint8_t* buffer,
                       std::string* error);

// Puts a block's values into its buffer (BlockValueBytes bytes).
bool EncodeBlockValues(const std::vector<std::string>& texts, int32_t elementBits, int32_t gateType,
                       uint8_t* buffer, std::string* error);

}  // namespace qunhost
