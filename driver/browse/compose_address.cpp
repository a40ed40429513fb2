#include "driver/browse/compose_address.h"

#include <cstdio>
#include <cstring>

#include "driver/browse/browse_types.h"

namespace {

constexpr int64_t kFieldMagnitudeLimit = int64_t{1} << 40;
constexpr int64_t kAddressMax = 4294967295;  // the address is an unsigned 32-bit number

bool IsNone(const char* text) { return std::strcmp(text, kNoneText) == 0; }

// A field read as a number from 0 to max.
bool ReadInRange(const char* text, int64_t max, int64_t* value) {
    return ReadFieldNumber(text, value) && *value >= 0 && *value <= max;
}

}  // namespace

bool ReadFieldNumber(const char* text, int64_t* value) {
    const char* p = text;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    if (*p < '0' || *p > '9') return false;
    int64_t magnitude = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        magnitude = magnitude * 10 + (*p - '0');
        if (magnitude > kFieldMagnitudeLimit) return false;
    }
    if (*p != '\0') return false;
    *value = negative ? -magnitude : magnitude;
    return true;
}

bool ComposeAddress(int32_t mode, const char* typeName, const char* channel, const char* equipment,
                    const char* address, const char* bitNumber, const char* byteWordness,
                    char (&composed)[kComposedAddressSize]) {
    composed[0] = '\0';
    const BrowseMemoryType* row = FindBrowseRow(mode, typeName);
    if (row == nullptr) return false;

    int64_t channelNumber = 0;
    int64_t equipmentNumber = 0;
    int64_t addressNumber = 0;
    if (!ReadInRange(channel, 99, &channelNumber)) return false;
    if (mode != kInternalMemory && !IsNone(equipment) &&
        !ReadInRange(equipment, 999, &equipmentNumber))
        return false;
    if (!ReadInRange(address, kAddressMax, &addressNumber)) return false;

    const bool bitGiven = !IsNone(bitNumber);
    int64_t bit = 0;
    if (bitGiven && !ReadInRange(bitNumber, 99, &bit)) return false;

    const bool byteWordnessGiven = !IsNone(byteWordness);
    int64_t unit = 0;
    if (byteWordnessGiven && (!ReadFieldNumber(byteWordness, &unit) || (unit != 2 && unit != 4)))
        return false;

    char bitPart[8] = "";
    char unitPart[8] = "";
    if (bitGiven) std::snprintf(bitPart, sizeof bitPart, "_B%d", static_cast<int>(bit));
    if (byteWordnessGiven) std::snprintf(unitPart, sizeof unitPart, "_/%d", static_cast<int>(unit));

    char text[64];
    const int length =
        std::snprintf(text, sizeof text, "%d_%d_%s_%lu%s%s", static_cast<int>(channelNumber),
                      static_cast<int>(equipmentNumber), MnemonicOf(*row),
                      static_cast<unsigned long>(addressNumber), bitPart, unitPart);
    if (length < 0 || static_cast<uint32_t>(length) > kComposedAddressMaxLength) return false;
    std::memcpy(composed, text, static_cast<size_t>(length) + 1);
    return true;
}
