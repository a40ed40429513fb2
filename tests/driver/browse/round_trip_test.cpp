// Every address the dialog lets through, composed and then read back by the
// driver's own parser, gives the fields the user chose.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "driver/address/parse_block.h"
#include "driver/address/parser.h"
#include "driver/browse/browse_checks.h"
#include "driver/browse/browse_types.h"
#include "driver/entry/driver_state.h"
#include "lab/korvex/korvex_control.h"

namespace {

struct Parsed {
    int32_t result;
    GateAddress address;
    StationEntry station;
};

Parsed ParseFresh(const char* text) {
    auto state = std::make_unique<DriverState>();
    InitDriverState(state.get());
    ParseBlock block{};
    block.addressText = text;
    QunRequest request{};
    request.state = state.get();
    request.functionCode = 3;
    request.parameters = &block;
    Parsed parsed{};
    parsed.result = Parse(&request);
    parsed.address = block.address;
    if (parsed.result == 0) parsed.station = state->stations[block.address.stationIndex];
    return parsed;
}

// What the user wrote in a field, as a number.
long long Number(const char* text) { return std::strtoll(text, nullptr, 10); }

TEST(BrowseRoundTrip, TheParserReadsBackWhatTheUserChose) {
    const char* const channels[] = {"0", "1", "04", "8", "31"};
    const char* const equipments[] = {"0", "007", "255"};
    const char* const addresses[] = {"0", "6", "10", "0012", "65536", "4294967292", "4294967295"};
    const char* const bits[] = {nullptr, "0", "1", "07", "7", "15"};
    const char* const units[] = {"None", "4", "2"};
    int composedCount = 0;
    int refusedForByteness = 0;
    for (int32_t mode : {kExternalMemory, kInternalMemory}) {
        const BrowseTypeList list = BrowseTypesOf(mode);
        for (int32_t t = 0; t < list.count; ++t) {
            const BrowseMemoryType& row = list.rows[t];
            const MemoryType& type = kMemoryTypes[row.memoryType];
            for (const char* channel : channels)
                for (const char* equipment : equipments)
                    for (const char* address : addresses)
                        for (const char* bit : bits)
                            for (const char* unit : units) {
                                // What the dialog's controls can offer for this type.
                                if (bit != nullptr && row.highestBit == 0) continue;
                                if (std::strcmp(unit, "None") != 0 && !row.byteWordnessAllowed)
                                    continue;
                                BrowseState state{};
                                state.memoryMode = mode;
                                std::strcpy(state.selectedTypeName, DisplayNameOf(row));
                                std::strcpy(state.channel, channel);
                                std::strcpy(state.equipment,
                                            mode == kInternalMemory ? "None" : equipment);
                                std::strcpy(state.address, address);
                                state.bitRequested = bit != nullptr;
                                std::strcpy(state.bitNumber, bit != nullptr ? bit : "None");
                                std::strcpy(state.byteWordness, unit);
                                if (CheckBrowseEntry(state, state.selectedTypeName) != nullptr)
                                    continue;

                                char composed[kComposedAddressSize];
                                ASSERT_TRUE(ComposeAddress(
                                    mode, state.selectedTypeName, state.channel, state.equipment,
                                    state.address, state.bitNumber, state.byteWordness, composed));
                                ++composedCount;
                                SCOPED_TRACE(composed);
                                KvxLogClear();
                                const Parsed parsed = ParseFresh(composed);

                                const long long number = Number(address);
                                const long long byteness =
                                    std::strcmp(unit, "None") == 0 ? 1 : Number(unit);
                                if (number % byteness != 0) {
                                    // The dialog does not test divisibility; the
                                    // parser refuses such an address.
                                    EXPECT_EQ(parsed.result, 1);
                                    ++refusedForByteness;
                                    continue;
                                }
                                ASSERT_EQ(parsed.result, 0);
                                EXPECT_EQ(parsed.station.channel, Number(channel));
                                EXPECT_EQ(parsed.station.equipment,
                                          mode == kInternalMemory ? 0 : Number(equipment));
                                EXPECT_EQ(parsed.address.memoryType, row.memoryType);
                                EXPECT_EQ(parsed.address.elementBits, type.elementBits);
                                EXPECT_EQ(parsed.address.byteness, byteness);
                                EXPECT_EQ(parsed.address.elementAddress,
                                          static_cast<uint32_t>(number / byteness));
                                EXPECT_EQ(parsed.address.bitOrCyclicNumber,
                                          bit != nullptr ? Number(bit) : -1);
                            }
        }
    }
    EXPECT_GT(composedCount, 5000);
    EXPECT_GT(refusedForByteness, 0);
}

}  // namespace
