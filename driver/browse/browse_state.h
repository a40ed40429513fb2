// BrowseState: what the "Tag Format" dialog keeps while it is open. There is
// at most one dialog at a time, so one such record serves the module.
#pragma once

#include <cstdint>

#include "driver/browse/compose_address.h"

// The selected type name holds at most 44 characters.
constexpr uint32_t kTypeNameSize = 45;
// A field text as read on OK. Longer texts are kept as kOverlongField.
constexpr uint32_t kFieldTextSize = 32;
constexpr const char kOverlongField[] = "#";

struct BrowseState {
    int32_t memoryMode;                    // kExternalMemory or kInternalMemory
    int32_t bitCapable;                    // 1 while the selected type has a highest bit
    int32_t bitRequested;                  // set on OK: "Digital bit" ticked
    int32_t byteWordnessChosen;            // set on OK: the list's top entry is not "None"
    char selectedTypeName[kTypeNameSize];  // recorded on each selection of a type
    // Field texts as read on OK.
    char channel[kFieldTextSize];
    char equipment[kFieldTextSize];
    char address[kFieldTextSize];
    char bitNumber[kFieldTextSize];
    char byteWordness[kFieldTextSize];
    char composedAddress[kComposedAddressSize];  // result of OK, copied out to the host
};
