// The memory-type table: order, lookup by whole mnemonic, and the facts the
// card interface depends on (element sizes, database kinds, function codes).
#include "driver/address/memory_types.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

int32_t Find(const char* word) {
    return FindMemoryType(word, static_cast<uint32_t>(std::strlen(word)));
}

TEST(MemoryTypesTest, RowsAreInInterfaceOrderWithTheirCardFacts) {
    const struct {
        const char* mnemonic;
        int bits;
        bool bitAllowed;
        int kind;
        int bytesPerElement;
        int code;
        bool writable;
    } expected[kMemoryTypeCount] = {
        {"PB", 1, false, 1, 0, 0x1003, true},   {"PIB", 1, false, 1, 0, 0x1004, false},
        {"PQB", 1, false, 1, 0, 0x105A, true},  {"QCKB", 1, false, 1, 0, 0x100D, false},
        {"BY", 16, true, 2, 2, 0x105F, true},   {"IBY", 16, true, 2, 2, 0x1069, false},
        {"QBY", 16, true, 2, 2, 0x106B, true},  {"PBY", 8, true, 2, 1, 0x105E, true},
        {"PIBY", 8, true, 2, 1, 0x1068, false}, {"PQBY", 8, true, 2, 1, 0x106A, true},
        {"W", 16, true, 3, 0, 0x1005, true},    {"IW", 16, true, 3, 0, 0x1006, false},
        {"QW", 16, true, 3, 0, 0x1065, true},   {"BCDW", 16, true, 3, 0, 0x1062, true},
        {"DW", 32, true, 4, 0, 0x1007, true},   {"FW", 32, false, 5, 0, 0x1008, true},
        {"TI", 16, true, 0, 0, 0, true},        {"CO", 16, true, 0, 0, 0, true},
        {"MPB", 1, false, 0, 0, 0, true},       {"MB", 1, false, 0, 0, 0, true},
        {"MY", 8, true, 0, 1, 0, true},         {"MW", 16, true, 0, 0, 0, true},
        {"MD", 32, true, 0, 0, 0, true},        {"MF", 32, false, 0, 0, 0, true},
    };
    for (int i = 0; i < kMemoryTypeCount; ++i) {
        const MemoryType& row = kMemoryTypes[i];
        const auto& e = expected[i];
        EXPECT_STREQ(row.mnemonic, e.mnemonic) << i;
        EXPECT_EQ(Find(e.mnemonic), i) << e.mnemonic;
        EXPECT_EQ(row.elementBits, e.bits) << e.mnemonic;
        EXPECT_EQ(row.bitNumberAllowed, e.bitAllowed) << e.mnemonic;
        EXPECT_EQ(static_cast<int>(row.databaseKind), e.kind) << e.mnemonic;
        EXPECT_EQ(row.bytesPerElement, e.bytesPerElement) << e.mnemonic;
        EXPECT_EQ(row.cyclicFunctionCode, e.code) << e.mnemonic;
        EXPECT_EQ(IsWritable(row), e.writable) << e.mnemonic;
        EXPECT_EQ(row.form == RoutineForm::Database, i >= 18) << e.mnemonic;
        EXPECT_EQ(row.isFloat, i == kFW || i == kMF) << e.mnemonic;
    }
}

TEST(MemoryTypesTest, LookupIsByWholeWordAndCaseSensitive) {
    EXPECT_EQ(Find("PBY"), kPBY);
    EXPECT_EQ(Find("PB"), kPB);
    EXPECT_EQ(Find("DW"), kDW);
    EXPECT_EQ(Find("W"), kW);
    for (const char* word : {"", "P", "PBYX", "XPB", "pb", "Dw", "MM", "QCK", "BCD"})
        EXPECT_EQ(Find(word), -1) << '"' << word << '"';
    // The word need not be terminated: only length characters are compared.
    EXPECT_EQ(FindMemoryType("PBY_10", 3), kPBY);
    EXPECT_EQ(FindMemoryType("PBY_10", 2), kPB);
}

TEST(MemoryTypesTest, SharedDisplayNamesAndInternalBlockLimits) {
    EXPECT_STREQ(kMemoryTypes[kPB].displayName, kMemoryTypes[kMPB].displayName);
    EXPECT_STREQ(kMemoryTypes[kW].displayName, kMemoryTypes[kMW].displayName);
    EXPECT_STREQ(kMemoryTypes[kBCDW].displayName, "Binary code decimal Word");
    const uint32_t limits[kMemoryTypeCount] = {0, 0, 0, 0, 0, 0, 0,   0,   0,   0,   0,  0,
                                               0, 0, 0, 0, 0, 0, 256, 256, 256, 128, 64, 64};
    for (uint16_t i = 0; i < kMemoryTypeCount; ++i)
        EXPECT_EQ(InternalBlockLimit(i), limits[i]) << i;
}

}  // namespace
