// The memory types the "Tag Format" dialog offers: one list for the card's
// internal database and one for external equipment, in the order the dialog
// shows them. Mnemonics and display names come from the memory-type table; a
// row adds only what the dialog decides on its own.
#pragma once

#include <cstdint>

#include "driver/address/memory_types.h"

// The dialog's memory mode: which list it offers and which checks OK makes.
enum BrowseMode : int32_t {
    kExternalMemory = 0,  // the mode the dialog opens in
    kInternalMemory = 1,
};

struct BrowseMemoryType {
    uint16_t memoryType;          // row of kMemoryTypes
    int32_t highestBit;           // 0: no bit number may be given; else 7 or 15
    int32_t byteWordnessAllowed;  // 1: "None", "4" and "2" are offered; 0: only "None"
};

// Sizes of the texts the dialog keeps for a row (with the terminating zero).
constexpr uint32_t kBrowseMnemonicSize = 10;
constexpr uint32_t kBrowseDisplayNameSize = 50;

inline const char* MnemonicOf(const BrowseMemoryType& row) {
    return kMemoryTypes[row.memoryType].mnemonic;
}
inline const char* DisplayNameOf(const BrowseMemoryType& row) {
    return kMemoryTypes[row.memoryType].displayName;
}

// The dialog's highest bit is 15 for double words too: it refuses bit numbers
// 16 to 31 there although the parser accepts them.
// clang-format off
inline constexpr BrowseMemoryType InternalBrowseTypes[] = {
    {kMPB, 0,  0},
    {kMB,  0,  0},
    {kMY,  7,  1},
    {kMW,  15, 1},
    {kMD,  15, 1},
    {kMF,  0,  1},
};

inline constexpr BrowseMemoryType ExternalBrowseTypes[] = {
    {kPB,   0,  0},
    {kPIB,  0,  0},
    {kPQB,  0,  0},
    {kQCKB, 0,  0},
    {kBY,   15, 1},
    {kIBY,  15, 1},
    {kQBY,  15, 1},
    {kPBY,  7,  1},
    {kPIBY, 7,  1},
    {kPQBY, 7,  1},
    {kW,    15, 1},
    {kIW,   15, 1},
    {kQW,   15, 1},
    {kBCDW, 15, 1},
    {kDW,   15, 1},
    {kFW,   0,  1},
    {kTI,   15, 1},
    {kCO,   15, 1},
};
// clang-format on

constexpr int32_t kInternalBrowseTypeCount = 6;
constexpr int32_t kExternalBrowseTypeCount = 18;
static_assert(sizeof InternalBrowseTypes / sizeof InternalBrowseTypes[0] ==
                  kInternalBrowseTypeCount,
              "");
static_assert(sizeof ExternalBrowseTypes / sizeof ExternalBrowseTypes[0] ==
                  kExternalBrowseTypeCount,
              "");

// The list of a mode; any mode other than Internal is External.
struct BrowseTypeList {
    const BrowseMemoryType* rows;
    int32_t count;
};
BrowseTypeList BrowseTypesOf(int32_t mode);

// Position of the row of the mode's list whose display name equals name
// exactly (case-sensitive, first match), or -1.
int32_t FindBrowseType(int32_t mode, const char* name);

// The row of the mode's list with that display name, or null.
const BrowseMemoryType* FindBrowseRow(int32_t mode, const char* name);
