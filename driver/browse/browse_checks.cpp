#include "driver/browse/browse_checks.h"

#include "driver/browse/browse_types.h"

namespace {

constexpr int64_t kInternalAddressMax = 65536;
// The external message names 4294967296, but that number does not fit the
// 32-bit address, so the largest address let through is one less.
constexpr int64_t kExternalAddressMax = 4294967295;

// A field that reads as a number from min to max; anything else (including a
// text that is not a number at all) is out of range.
bool InRange(const char* text, int64_t min, int64_t max) {
    int64_t value = 0;
    return ReadFieldNumber(text, &value) && value >= min && value <= max;
}

// The address is a plain decimal number: no sign, fraction or exponent.
bool AddressInRange(const char* text, int64_t max) {
    return text[0] != '+' && text[0] != '-' && InRange(text, 0, max);
}

}  // namespace

const char* CheckBrowseEntry(const BrowseState& state, const char* listText) {
    const bool internal = state.memoryMode == kInternalMemory;

    if (listText[0] == '\0' || state.address[0] == '\0' || state.equipment[0] == '\0' ||
        state.channel[0] == '\0' || (state.bitRequested != 0 && state.bitNumber[0] == '\0'))
        return kMissingValues;
    // The name recorded on selection is looked up; one that is not in the
    // current mode's list means no type of this mode has been chosen.
    const BrowseMemoryType* row = FindBrowseRow(state.memoryMode, state.selectedTypeName);
    if (row == nullptr) return kMissingValues;

    if (internal && !AddressInRange(state.address, kInternalAddressMax))
        return kInternalAddressLimit;
    if (!internal && !AddressInRange(state.address, kExternalAddressMax))
        return kExternalAddressLimit;

    // A bit number below 0 is refused like one above the highest bit.
    if (state.bitRequested != 0 && !InRange(state.bitNumber, 0, row->highestBit))
        return row->highestBit == 7 ? kMaximum7Bits : kMaximum15Bits;

    if (internal) {
        if (!InRange(state.channel, 1, 8)) return kInternalChannelRange;
    } else {
        if (!InRange(state.channel, 0, 31)) return kExternalChannelRange;
        if (!InRange(state.equipment, 0, 255)) return kEquipmentRange;
    }
    return nullptr;
}
