// The memory types the driver knows: one constant table of 24 rows, the single
// source of every per-type fact. The row index is the memoryType field of
// GateAddress, so the order is part of the host interface.
#pragma once

#include <cstdint>

#include "driver/platform/card.h"

// clang-format off
enum MemoryTypeIndex : uint16_t {
    kPB, kPIB, kPQB, kQCKB,             // external bits
    kBY, kIBY, kQBY,                    // external bytes (16-bit elements)
    kPBY, kPIBY, kPQBY,                 // external packed bytes
    kW, kIW, kQW, kBCDW, kDW, kFW,      // external words, double words, floats
    kTI, kCO,                           // external timers and counters
    kMPB, kMB, kMY, kMW, kMD, kMF,      // the card's internal database
    kMemoryTypeCount
};
// clang-format on

// Area of the card's internal database in which a cyclic function of a type
// keeps its data; None: the type never gets a cyclic function.
enum class DatabaseKind : uint8_t {
    None = 0,
    Bit = 1,
    Byte = 2,
    Word16 = 3,
    Word32 = 4,
    Float = 5
};

// How a type's card routines take their arguments.
enum class RoutineForm : uint8_t {
    Network,   // channel, equipment, count, address, data, status
    QuickBit,  // channel, equipment, data, status (read only)
    Database,  // card number, count, address, data, status
};

struct MemoryType {
    const char* mnemonic;         // as written in the address string
    const char* displayName;      // as the browse dialog shows it
    uint8_t elementBits;          // 1, 8, 16 or 32
    bool isFloat;                 // elements are 32-bit floating-point values
    bool bitNumberAllowed;        // special digital gates allowed (bit < elementBits)
    DatabaseKind databaseKind;    // area of a cyclic function's data
    uint8_t bytesPerElement;      // bytes an element takes in the card's byte area; 0: none
    uint16_t cyclicFunctionCode;  // createcyc's function code; 0: none
    uint16_t internalBlockLimit;  // internal types: most elements of a block gate; 0: no limit
    RoutineForm form;
    NetworkRoutine* networkRead;     // Network form
    QuickBitRoutine* quickBitRead;   // QuickBit form
    DatabaseRoutine* databaseRead;   // Database form
    NetworkRoutine* networkWrite;    // Network form; null: the type cannot be written
    DatabaseRoutine* databaseWrite;  // Database form; null: the type cannot be written
    DatabaseRoutine* mirror;         // balance-free image of a covering cyclic function; null: none
};

extern const MemoryType kMemoryTypes[kMemoryTypeCount];

// Row of a memoryType value that is known to be below kMemoryTypeCount.
inline const MemoryType& MemoryTypeAt(uint16_t index) { return kMemoryTypes[index]; }

inline bool IsValidMemoryType(uint32_t index) { return index < kMemoryTypeCount; }

// The row whose mnemonic equals word exactly (case-sensitive), or -1.
// length is the word's length; the word need not be terminated.
int32_t FindMemoryType(const char* word, uint32_t length);

// Whether a type can be written (input types cannot).
inline bool IsWritable(const MemoryType& type) {
    return type.networkWrite != nullptr || type.databaseWrite != nullptr;
}

// Addresses of the card's database that one element takes in a cyclic
// function's area, in the area's own unit (bits, bytes or words): a double
// word or a float takes two words.
inline uint32_t DatabaseUnitsPerElement(const MemoryType& type) {
    switch (type.databaseKind) {
        case DatabaseKind::Word32:
        case DatabaseKind::Float:
            return 2;
        case DatabaseKind::Byte:
            return type.bytesPerElement;
        default:
            return 1;
    }
}

// Internal block gates are bounded by these element counts; 0 for external types.
inline uint32_t InternalBlockLimit(uint16_t index) {
    return kMemoryTypes[index].internalBlockLimit;
}
