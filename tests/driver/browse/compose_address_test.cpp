// The dialog's memory-type lists and the composition of an address string.
#include "driver/browse/compose_address.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "driver/browse/browse_types.h"

namespace {

struct ListRow {
    const char* name;
    const char* mnemonic;
    int32_t highestBit;
    int32_t byteWordness;
};

// The lists as the dialog must show them, written out independently of the
// memory-type table the driver derives them from.
const std::vector<ListRow> kExpectedInternal = {
    {"Packed Bit", "MPB", 0, 0}, {"Bit", "MB", 0, 0},          {"Packed Byte", "MY", 7, 1},
    {"Word", "MW", 15, 1},       {"Double Word", "MD", 15, 1}, {"Float Word", "MF", 0, 1},
};
const std::vector<ListRow> kExpectedExternal = {
    {"Packed Bit", "PB", 0, 0},
    {"Packed input Bit", "PIB", 0, 0},
    {"Packed output Bit", "PQB", 0, 0},
    {"Quick Bit", "QCKB", 0, 0},
    {"Byte", "BY", 15, 1},
    {"Input Byte", "IBY", 15, 1},
    {"Output Byte", "QBY", 15, 1},
    {"Packed Byte", "PBY", 7, 1},
    {"Packed input Byte", "PIBY", 7, 1},
    {"Packed output Byte", "PQBY", 7, 1},
    {"Word", "W", 15, 1},
    {"Input Word", "IW", 15, 1},
    {"Output Word", "QW", 15, 1},
    {"Binary code decimal Word", "BCDW", 15, 1},
    {"Double Word", "DW", 15, 1},
    {"Float Word", "FW", 0, 1},
    {"Timer", "TI", 15, 1},
    {"Counter", "CO", 15, 1},
};

void ExpectList(int32_t mode, const std::vector<ListRow>& expected) {
    const BrowseTypeList list = BrowseTypesOf(mode);
    ASSERT_EQ(list.count, static_cast<int32_t>(expected.size()));
    for (int32_t i = 0; i < list.count; ++i) {
        const BrowseMemoryType& row = list.rows[i];
        SCOPED_TRACE(expected[i].name);
        EXPECT_STREQ(DisplayNameOf(row), expected[i].name);
        EXPECT_STREQ(MnemonicOf(row), expected[i].mnemonic);
        EXPECT_EQ(row.highestBit, expected[i].highestBit);
        EXPECT_EQ(row.byteWordnessAllowed, expected[i].byteWordness);
        // The texts fit the dialog's fields: the mnemonic its 10 bytes and at
        // most 4 characters of the composed address, the name the 44
        // characters of the recorded selection.
        EXPECT_LE(std::strlen(MnemonicOf(row)), 4u);
        EXPECT_LE(std::strlen(DisplayNameOf(row)), 44u);
        EXPECT_EQ(FindBrowseType(mode, expected[i].name), i);
    }
}

TEST(BrowseTypes, ListsHoldTheTypesInDialogOrder) {
    ExpectList(kInternalMemory, kExpectedInternal);
    ExpectList(kExternalMemory, kExpectedExternal);
}

TEST(BrowseTypes, LookupIsExactAndPerMode) {
    EXPECT_EQ(FindBrowseType(kExternalMemory, "word"), -1);
    EXPECT_EQ(FindBrowseType(kExternalMemory, "Word "), -1);
    EXPECT_EQ(FindBrowseType(kExternalMemory, ""), -1);
    EXPECT_EQ(FindBrowseType(kInternalMemory, "Timer"), -1);
    EXPECT_EQ(FindBrowseType(kInternalMemory, "Bit"), 1);
    EXPECT_EQ(FindBrowseType(kExternalMemory, "Bit"), -1);
    EXPECT_EQ(FindBrowseRow(kExternalMemory, "Nothing"), nullptr);
}

struct Composition {
    int32_t mode;
    const char* channel;
    const char* equipment;
    const char* type;
    const char* address;
    const char* bit;
    const char* byteWordness;
    const char* expected;  // null: refused
};

constexpr int32_t E = kExternalMemory;
constexpr int32_t I = kInternalMemory;

TEST(ComposeAddress, ComposesEveryFieldCombination) {
    const Composition cases[] = {
        {E, "3", "12", "Word", "100", "None", "None", "3_12_W_100"},
        {E, "0", "5", "Packed Byte", "10", "3", "None", "0_5_PBY_10_B3"},
        {E, "31", "255", "Double Word", "400", "15", "4", "31_255_DW_400_B15_/4"},
        {E, "07", "010", "Float Word", "0020", "None", "2", "7_10_FW_20_/2"},
        {I, "2", "None", "Double Word", "40", "None", "2", "2_0_MD_40_/2"},
        {I, "1", "None", "Packed Bit", "7", "None", "None", "1_0_MPB_7"},
        // Same display name, mnemonic of the mode.
        {I, "1", "None", "Packed Byte", "0", "None", "None", "1_0_MY_0"},
        {I, "8", "None", "Word", "65536", "None", "None", "8_0_MW_65536"},
        {I, "1", "None", "Float Word", "0", "None", "4", "1_0_MF_0_/4"},
        {E, "1", "2", "Packed Bit", "0", "None", "None", "1_2_PB_0"},
        // Internal mode writes equipment 0 whatever the field shows.
        {I, "3", "17", "Bit", "5", "None", "None", "3_0_MB_5"},
        // Zero and leading zeros everywhere, signs dropped on zero.
        {E, "00", "000", "Timer", "0000", "00", "None", "0_0_TI_0_B0"},
        {E, "+5", "-0", "Counter", "9", "+7", "None", "5_0_CO_9_B7"},
        {E, "1", "2", "Word", "10", "None", "4", "1_2_W_10_/4"},
        // The longest address: 29 characters.
        {E, "31", "255", "Binary code decimal Word", "4294967295", "15", "4",
         "31_255_BCDW_4294967295_B15_/4"},
        {E, "1", "2", "Quick Bit", "4294967295", "None", "None", "1_2_QCKB_4294967295"},
        // Never a different number: beyond 32 bits, negative, not a number.
        {E, "1", "2", "Word", "4294967296", "None", "None", nullptr},
        {E, "1", "2", "Word", "99999999999999999999", "None", "None", nullptr},
        {E, "1", "2", "Word", "-1", "None", "None", nullptr},
        {E, "-1", "2", "Word", "1", "None", "None", nullptr},
        {E, "1", "-2", "Word", "1", "None", "None", nullptr},
        {E, "1", "2", "Word", "1", "-3", "None", nullptr},
        {E, "1", "2", "Word", "1e3", "None", "None", nullptr},
        {E, "1", "2", "Word", "", "None", "None", nullptr},
        {E, "1", "2", "Word", "1", "None", "3", nullptr},
        {E, "1", "2", "Word", "1", "None", "", nullptr},
        {E, "1", "None", "Word", "1", "None", "None", "1_0_W_1"},
        // The type is looked up in the mode's own list.
        {I, "1", "None", "Timer", "1", "None", "None", nullptr},
        {E, "1", "2", "Bit", "1", "None", "None", nullptr},
    };
    for (const Composition& c : cases) {
        SCOPED_TRACE(std::string(c.type) + " " + c.channel + "/" + c.equipment + "/" + c.address +
                     "/" + c.bit + "/" + c.byteWordness);
        char composed[kComposedAddressSize];
        std::memset(composed, 'x', sizeof composed);
        const bool ok = ComposeAddress(c.mode, c.type, c.channel, c.equipment, c.address, c.bit,
                                       c.byteWordness, composed);
        if (c.expected == nullptr) {
            EXPECT_FALSE(ok);
            EXPECT_STREQ(composed, "");
        } else {
            EXPECT_TRUE(ok);
            EXPECT_STREQ(composed, c.expected);
        }
    }
}

TEST(ComposeAddress, ReadsFieldNumbersWhole) {
    struct Case {
        const char* text;
        bool ok;
        int64_t value;
    };
    const Case cases[] = {
        {"0", true, 0},
        {"007", true, 7},
        {"-12", true, -12},
        {"+3", true, 3},
        {"4294967296", true, 4294967296},
        {"", false, 0},
        {"-", false, 0},
        {"+", false, 0},
        {" 1", false, 0},
        {"1 ", false, 0},
        {"1.0", false, 0},
        {"0x10", false, 0},
        {"12XY", false, 0},
        {"--1", false, 0},
        {"None", false, 0},
        {"99999999999999", false, 0},
    };
    for (const Case& c : cases) {
        int64_t value = -999;
        EXPECT_EQ(ReadFieldNumber(c.text, &value), c.ok) << '"' << c.text << '"';
        if (c.ok) {
            EXPECT_EQ(value, c.value) << c.text;
        }
    }
}

}  // namespace
