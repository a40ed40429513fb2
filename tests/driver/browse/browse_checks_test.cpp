// The checks of the dialog's OK button: which message each entry gets, in the
// order the dialog tests, and that everything they let through composes.
#include "driver/browse/browse_checks.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "driver/browse/browse_types.h"

namespace {

struct Entry {
    int32_t mode;
    const char* list;  // the "Memory Type" list's text; also the recorded name
    const char* channel;
    const char* equipment;
    const char* address;
    const char* bit;      // null: "Digital bit" not ticked
    const char* message;  // null: passes
};

BrowseState StateOf(const Entry& e) {
    BrowseState state{};
    state.memoryMode = e.mode;
    std::strcpy(state.selectedTypeName, e.list);
    std::strcpy(state.channel, e.channel);
    std::strcpy(state.equipment, e.equipment);
    std::strcpy(state.address, e.address);
    state.bitRequested = e.bit != nullptr ? 1 : 0;
    std::strcpy(state.bitNumber, e.bit != nullptr ? e.bit : "None");
    std::strcpy(state.byteWordness, "None");
    return state;
}

constexpr int32_t E = kExternalMemory;
constexpr int32_t I = kInternalMemory;

TEST(BrowseChecks, EachEntryGetsTheFirstMessageItFails) {
    const char* const missing = kMissingValues;
    const Entry cases[] = {
        // Completeness: list, address, equipment, channel, ticked bit number.
        {E, "", "1", "2", "3", nullptr, missing},
        {E, "Word", "1", "2", "", nullptr, missing},
        {E, "Word", "1", "", "3", nullptr, missing},
        {E, "Word", "", "2", "3", nullptr, missing},
        {E, "Word", "1", "2", "3", "", missing},
        {E, "", "99", "999", "99999999999", "99", missing},  // before every other check
        // Address limits: the limits pass, one more does not.
        {I, "Word", "1", "None", "65536", nullptr, nullptr},
        {I, "Word", "1", "None", "65537", nullptr, kInternalAddressLimit},
        {E, "Word", "1", "2", "4294967295", nullptr, nullptr},
        // 4294967296 does not fit the 32-bit address and is refused.
        {E, "Word", "1", "2", "4294967296", nullptr, kExternalAddressLimit},
        {E, "Word", "1", "2", "4294967297", nullptr, kExternalAddressLimit},
        {E, "Word", "1", "2", "1e3", nullptr, kExternalAddressLimit},
        {E, "Word", "1", "2", "-5", nullptr, kExternalAddressLimit},
        // A sign is refused even where the value would be in range.
        {E, "Word", "1", "2", "-0", nullptr, kExternalAddressLimit},
        {I, "Word", "1", "None", "-0", nullptr, kInternalAddressLimit},
        {I, "Word", "1", "None", "12.5", nullptr, kInternalAddressLimit},
        {E, "Word", "99", "999", "4294967296", "99", kExternalAddressLimit},  // before the rest
        // Bit numbers: up to the highest bit of the type.
        {E, "Packed Byte", "0", "0", "0", "7", nullptr},
        {E, "Packed Byte", "0", "0", "0", "8", kMaximum7Bits},
        {E, "Word", "0", "0", "0", "15", nullptr},
        {E, "Word", "0", "0", "0", "16", kMaximum15Bits},
        {E, "Double Word", "0", "0", "0", "16", kMaximum15Bits},
        {E, "Byte", "0", "0", "0", "15", nullptr},
        {I, "Packed Byte", "1", "None", "0", "8", kMaximum7Bits},
        {I, "Double Word", "1", "None", "0", "15", nullptr},
        {E, "Word", "0", "0", "0", "-1", kMaximum15Bits},
        {E, "Word", "99", "999", "0", "16", kMaximum15Bits},  // before channel and equipment
        {I, "Word", "0", "None", "0", "16", kMaximum15Bits},
        // Unticked: the bit number field is ignored.
        {E, "Word", "0", "0", "0", nullptr, nullptr},
        // Channels and equipment.
        {I, "Word", "0", "None", "0", nullptr, kInternalChannelRange},
        {I, "Word", "9", "None", "0", nullptr, kInternalChannelRange},
        {I, "Word", "1", "None", "0", nullptr, nullptr},
        {I, "Word", "8", "None", "0", nullptr, nullptr},
        {I, "Word", "-1", "None", "0", nullptr, kInternalChannelRange},
        {E, "Word", "32", "0", "0", nullptr, kExternalChannelRange},
        {E, "Word", "-1", "0", "0", nullptr, kExternalChannelRange},
        {E, "Word", "ab", "0", "0", nullptr, kExternalChannelRange},
        {E, "Word", "0", "256", "0", nullptr, kEquipmentRange},
        {E, "Word", "0", "-1", "0", nullptr, kEquipmentRange},
        {E, "Word", "0", "None", "0", nullptr, kEquipmentRange},
        {E, "Word", "0", "255", "0", nullptr, nullptr},
        {E, "Word", "31", "255", "0", nullptr, nullptr},
        {E, "Word", "32", "256", "0", nullptr, kExternalChannelRange},  // channel first
        // A field longer than its buffer was kept as kOverlongField.
        {E, "Word", kOverlongField, "0", "0", nullptr, kExternalChannelRange},
        {E, "Word", "0", "0", kOverlongField, nullptr, kExternalAddressLimit},
    };
    for (const Entry& e : cases) {
        SCOPED_TRACE(std::string(e.mode == I ? "I " : "E ") + e.list + " " + e.channel + "/" +
                     e.equipment + "/" + e.address + "/" + (e.bit ? e.bit : "-"));
        const BrowseState state = StateOf(e);
        const char* message = CheckBrowseEntry(state, e.list);
        if (e.message == nullptr) {
            EXPECT_EQ(message, nullptr) << (message != nullptr ? message : "");
        } else {
            EXPECT_STREQ(message, e.message);
        }
    }
}

TEST(BrowseChecks, TheMessagesAreTheDialogsOwnTexts) {
    EXPECT_STREQ(kMissingValues, "Some values are missing ,please fill in all fields");
    EXPECT_STREQ(kInternalAddressLimit, "You've passed the limits of internal address ,MAX=65536");
    EXPECT_STREQ(kExternalAddressLimit,
                 "You've passed the limits of external address ,MAX=4294967296");
    EXPECT_STREQ(kMaximum7Bits, "The memory type you've chosen supports maximum 7 bits ");
    EXPECT_STREQ(kMaximum15Bits, "The memory type you've chosen supports maximum 15 bits ");
    EXPECT_STREQ(kInternalChannelRange, "Internal memory  legal channel range is 1..8");
    EXPECT_STREQ(kExternalChannelRange, "External memory  legal channel range is 0..31");
    EXPECT_STREQ(kEquipmentRange, "Ilegal equitment , valid range is 0..255 ");
}

TEST(BrowseChecks, TheRecordedTypeMustBelongToTheCurrentMode) {
    // The list shows a text, but the name recorded on selection is of the
    // other mode's list: no type of this mode has been chosen.
    Entry e{I, "Word", "1", "None", "0", nullptr, nullptr};
    BrowseState state = StateOf(e);
    std::strcpy(state.selectedTypeName, "Timer");
    EXPECT_STREQ(CheckBrowseEntry(state, "Word"), kMissingValues);
}

// Everything the checks let through composes to at most 29 characters.
TEST(BrowseChecks, EveryEntryThatPassesComposes) {
    const char* const channels[] = {"0", "1", "8", "9", "31", "32", "07"};
    const char* const equipments[] = {"0", "255", "256", "010", "None"};
    const char* const addresses[] = {"0", "65536", "65537", "4294967295", "4294967296", "0020"};
    const char* const bits[] = {nullptr, "0", "7", "8", "15", "16"};
    const char* const units[] = {"None", "4", "2"};
    int passed = 0;
    for (int32_t mode : {E, I}) {
        const BrowseTypeList list = BrowseTypesOf(mode);
        for (int32_t t = 0; t < list.count; ++t) {
            const BrowseMemoryType& row = list.rows[t];
            for (const char* channel : channels)
                for (const char* equipment : equipments)
                    for (const char* address : addresses)
                        for (const char* bit : bits)
                            for (const char* unit : units) {
                                if (bit != nullptr && row.highestBit == 0) continue;
                                if (std::strcmp(unit, "None") != 0 && !row.byteWordnessAllowed)
                                    continue;
                                Entry e{
                                    mode,   DisplayNameOf(row), channel, equipment, address, bit,
                                    nullptr};
                                BrowseState state = StateOf(e);
                                std::strcpy(state.byteWordness, unit);
                                if (CheckBrowseEntry(state, e.list) != nullptr) continue;
                                ++passed;
                                char composed[kComposedAddressSize];
                                ASSERT_TRUE(ComposeAddress(mode, state.selectedTypeName, channel,
                                                           equipment, address, state.bitNumber,
                                                           unit, composed))
                                    << e.list << " " << channel << " " << equipment << " "
                                    << address;
                                EXPECT_LE(std::strlen(composed), kComposedAddressMaxLength);
                            }
        }
    }
    EXPECT_GT(passed, 1000);
}

}  // namespace
