// Composition of a gate address string from the fields of the "Tag Format"
// dialog, in the syntax the address parser reads.
#pragma once

#include <cstdint>

// The composed address: at most 29 characters (channel 2, equipment 3,
// mnemonic 4, address 10, bit part 4, byte/wordness part 3, separators 3).
constexpr uint32_t kComposedAddressMaxLength = 29;
constexpr uint32_t kComposedAddressSize = 32;

// The text of an absent equipment, bit number or byte/wordness.
constexpr const char kNoneText[] = "None";

// Reads a field text as a signed decimal integer: an optional sign and at least
// one digit, nothing else. False for any other text and for values whose
// magnitude exceeds 2^40, far beyond every field's range.
bool ReadFieldNumber(const char* text, int64_t* value);

// Builds channel_equipment_MNEMONIC_address[_Bbit][_/byteWordness] from the
// field texts: numbers are written back in decimal without sign or leading
// zeros, "None" marks an absent bit number or byte/wordness, and Internal mode
// always writes equipment 0. The mnemonic is that of typeName's row in the
// mode's list.
//
// The dialog calls it only after its checks, but it never writes a number other
// than the one given: a field that is not a number in its range (negative, an
// address beyond 32 bits, a byte/wordness other than 2 or 4) or an unknown type
// name makes it return false with composed emptied.
bool ComposeAddress(int32_t mode, const char* typeName, const char* channel, const char* equipment,
                    const char* address, const char* bitNumber, const char* byteWordness,
                    char (&composed)[kComposedAddressSize]);
