// The address parser: the grammar, every refusal with its message, the
// station table, and the host gate-type checks of single gates.
#include "driver/address/parser.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "driver/address/memory_types.h"
#include "driver/address/parse_block.h"
#include "driver/entry/driver_state.h"
#include "driver/platform/host.h"
#include "tests/support/driver_harness.h"

namespace qun_test {
namespace {

std::string Upper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

// The message with its one "%s" filled.
std::string Fill(const std::string& format, const std::string& text) {
    const size_t at = format.find("%s");
    if (at == std::string::npos) return format;
    return format.substr(0, at) + text + format.substr(at + 2);
}

class ParserTest : public DriverTest {
protected:
    void SetUp() override {
        DriverTest::SetUp();
        InitDriverState(&state());
    }

    void Prepare(const char* text, int32_t gateType = 0) {
        std::memset(&block_, 0x5A, sizeof block_);
        block_.addressText = text;
        block_.gateType = gateType;
        request_.state = &state();
        request_.instance = instance_;
        request_.parameters = &block_;
    }
    int32_t ParseText(const char* text) {
        Prepare(text);
        return Parse(&request_);
    }
    // Through QunMain of the DLL, function code 3.
    int32_t Single(const char* text, int32_t gateType) {
        Prepare(text, gateType);
        return Call(3, &block_);
    }
    const StationEntry& Station() { return state().stations[block_.address.stationIndex]; }

    ParseBlock block_{};
};

TEST_F(ParserTest, AcceptedAddressesGiveTheirRecords) {
    const struct {
        const char* text;
        uint16_t type;
        int channel, equipment;
        uint32_t elementAddress;
        int16_t byteness;
        int32_t bit;
        int32_t bits;
    } cases[] = {
        {"0_1_w_100", kW, 0, 1, 100, 1, -1, 16},
        {"3_12_dw_8_/4", kDW, 3, 12, 2, 4, -1, 32},
        {"0_5_BY_4_B15", kBY, 0, 5, 4, 1, 15, 16},
        {"2_7_PQBY_0_S500", kPQBY, 2, 7, 0, 1, -1, 8},
        {"1_0_MW_200", kMW, 1, 0, 200, 1, -1, 16},
        {"8_255_MF_0", kMF, 8, 255, 0, 1, -1, 32},
        {"31_255_FW_6_/2", kFW, 31, 255, 3, 2, -1, 32},
        {"0_1_W_8_/24", kW, 0, 1, 4, 2, -1, 16},   // only the first digit counts
        {"0_1_W_12XY", kW, 0, 1, 12, 1, -1, 16},   // trailing characters skipped
        {"0_1_PB_10_/2", kPB, 0, 1, 5, 2, -1, 1},  // byteness on any type
        {"0_1_W_5_S500", kW, 0, 1, 5, 1, -1, 16},  // the rate is skipped
        {"0_1_W_6_SXY_/2X_B3Z", kW, 0, 1, 3, 2, 3, 16},
        {"0_1_DW_0_B31", kDW, 0, 1, 0, 1, 31, 32},
        {"0_1_PBY_0_B7", kPBY, 0, 1, 0, 1, 7, 8},
        {"0_1_W_4_B3_/2_B5", kW, 0, 1, 2, 2, 5, 16},  // later options win
        {"0_1_W_8_/4_/2", kW, 0, 1, 4, 2, -1, 16},
        {" 0_ 1_W_ 7", kW, 0, 1, 7, 1, -1, 16},  // "%u" skips blanks
        {"+0_+1_W_+7", kW, 0, 1, 7, 1, -1, 16},
        {"0_1XY_W_5", kW, 0, 1, 5, 1, -1, 16},  // the equipment's junk is skipped
        {"0_1_QCKB_4294967295", kQCKB, 0, 1, 4294967295u, 1, -1, 1},
        {"0_1_TI_3_B0", kTI, 0, 1, 3, 1, 0, 16},
        {"4_1_MD_6_/2_B31", kMD, 4, 1, 3, 2, 31, 32},
    };
    for (const auto& c : cases) {
        KvxLogClear();
        ASSERT_EQ(ParseText(c.text), 0) << c.text << ": " << ::testing::PrintToString(Log());
        const GateAddress& a = block_.address;
        EXPECT_EQ(a.memoryType, c.type) << c.text;
        EXPECT_EQ(Station().channel, c.channel) << c.text;
        EXPECT_EQ(Station().equipment, c.equipment) << c.text;
        EXPECT_EQ(a.elementAddress, c.elementAddress) << c.text;
        EXPECT_EQ(a.byteness, c.byteness) << c.text;
        EXPECT_EQ(a.bitOrCyclicNumber, c.bit) << c.text;
        EXPECT_EQ(a.elementBits, c.bits) << c.text;
        EXPECT_EQ(CardAddress(a), static_cast<int32_t>(c.elementAddress * c.byteness)) << c.text;
        EXPECT_TRUE(Log().empty()) << c.text;
    }
}

TEST_F(ParserTest, RefusalsLogTheirMessageWithTheUpperCaseCopy) {
    const struct {
        const char* text;
        const char* message;
    } cases[] = {
        {"W_1_2_3", "RIREVI: Parse() error reading channel and equipment '%s'"},
        {"", "RIREVI: Parse() error reading channel and equipment '%s'"},
        {"0", "RIREVI: Parse() error reading channel and equipment '%s'"},
        {"0 _1_W_0", "RIREVI: Parse() error reading channel and equipment '%s'"},
        {"0_x_W_0", "RIREVI: Parse() error reading channel and equipment '%s'"},
        // Only "_" may follow the channel: "0x1" and "0-1" are no channel 0.
        {"0x1_W_0", "RIREVI: Parse() error reading channel and equipment '%s'"},
        {"0-1_W_0", "RIREVI: Parse() error reading channel and equipment '%s'"},
        {"32_1_W_0", "RIREVI: Parse() channel nr. '%s' out of range"},
        {"-1_1_W_0", "RIREVI: Parse() channel nr. '%s' out of range"},
        {"4294967296_1_W_0", "RIREVI: Parse() channel nr. '%s' out of range"},
        {"-4294967295_1_W_0", "RIREVI: Parse() channel nr. '%s' out of range"},
        {"0_256_W_0", "RIREVI: Parse() equipment nr. '%s' out of range"},
        {"0_-1_W_0", "RIREVI: Parse() equipment nr. '%s' out of range"},
        {"0_99999999999_W_0", "RIREVI: Parse() equipment nr. '%s' out of range"},
        {"0_1", "RIREVI: Parse() ill. end gate addr. str. '%s'"},
        {"0_1_W", "RIREVI: Parse() ill. end gate addr. str. '%s'"},
        {"0_1_XX_5", "RIREVI: Parse() ill. memtype '%s'"},
        {"0_1__5", "RIREVI: Parse() ill. memtype '%s'"},
        {"0_1_PBYX_5", "RIREVI: Parse() ill. memtype '%s'"},
        {"0_1_W_X", "RIREVI: Parse() ill. dec address '%s'"},
        {"0_1_W_", "RIREVI: Parse() ill. dec address '%s'"},
        {"0_1_W_4294967296", "RIREVI: Parse() ill. dec address '%s'"},
        {"3_12_DW_10_/4", "RIREVI: Parse() addr. must be multiple of byteness, '%s'"},
        {"0_1_W_5_/2_/4", "RIREVI: Parse() addr. must be multiple of byteness, '%s'"},
        {"0_1_W_5_SXY_/2X_B3Z", "RIREVI: Parse() addr. must be multiple of byteness, '%s'"},
        {"0_1_W_5_/3", "RIREVI: Parse() ill. byteness '%s'"},
        {"0_1_W_4_/", "RIREVI: Parse() ill. byteness '%s'"},
        {"0_1_PBY_4_B8", "RIREVI: Parse() ill. bitnr > elementSize '%s'"},
        {"0_1_W_4_B16", "RIREVI: Parse() ill. bitnr > elementSize '%s'"},
        {"0_1_DW_4_B32", "RIREVI: Parse() ill. bitnr > elementSize '%s'"},
        {"0_1_DW_4_B-1", "RIREVI: Parse() ill. bitnr > elementSize '%s'"},
        {"0_1_DW_4_B99999999999", "RIREVI: Parse() ill. bitnr > elementSize '%s'"},
        {"0_1_pb_0_b0", "RIREVI: Parse() bitnumber not allowed on DIG gate '%s'"},
        {"1_1_MB_0_BX", "RIREVI: Parse() bitnumber not allowed on DIG gate '%s'"},
        {"0_1_FW_0_B0", "RIREVI: Parse() spec. dig. gates not allowed on mem type, '%s'"},
        {"1_1_MF_0_B0", "RIREVI: Parse() spec. dig. gates not allowed on mem type, '%s'"},
        {"0_1_W_0_BX", "RIREVI: Parse() ill. bitnr '%s'"},
        {"0_1_W_0_B", "RIREVI: Parse() ill. bitnr '%s'"},
        {"0_1_W_5_Q", "RIREVI: Parse() ill. optional field '%s'"},
        {"0_1_W_5_", "RIREVI: Parse() ill. optional field '%s'"},
        {"0_1_W_5_S1_", "RIREVI: Parse() ill. optional field '%s'"},
        {"0_1_W_5/2", "RIREVI: Parse() ill. optional field '%s'"},
        {"0_1_W_5_B3/2", "RIREVI: Parse() ill. optional field '%s'"},
    };
    for (const auto& c : cases) {
        KvxLogClear();
        EXPECT_EQ(ParseText(c.text), 1) << c.text;
        EXPECT_EQ(Log(), (std::vector<LogLine>{{kLogError, Fill(c.message, Upper(c.text))}}))
            << c.text;
    }
}

TEST_F(ParserTest, LaterByteOptionWinsEvenWhenTheAddressIsThenRefused) {
    EXPECT_EQ(ParseText("0_1_W_5_/2_/4"), 1);
    EXPECT_EQ(block_.address.byteness, 4);
    // memoryType and byteness read as one 32-bit value at offset 4.
    ASSERT_EQ(ParseText("3_12_dw_8_/4"), 0);
    uint32_t combined = 0;
    std::memcpy(&combined, reinterpret_cast<const uint8_t*>(&block_.address) + 4, 4);
    EXPECT_EQ(combined, kDW + 65536u * 4);
}

TEST_F(ParserTest, InternalTypesNeedACardNumberAndAreRefusedSilently) {
    for (const char* text : {"0_0_MW_100", "9_0_MW_100", "31_0_MPB_0", "0_1_MF_0_B0"}) {
        KvxLogClear();
        EXPECT_EQ(ParseText(text), 1) << text;
        EXPECT_TRUE(Log().empty()) << text;
    }
    EXPECT_EQ(ParseText("1_0_MW_100"), 0);
    EXPECT_EQ(ParseText("8_0_MY_100"), 0);
    // The external channels 0 and 9 to 31 stay open to external types.
    EXPECT_EQ(ParseText("9_0_W_100"), 0);
}

TEST_F(ParserTest, LongestAcceptedStringAndLongerOnesRefused) {
    std::string text = "0_1_W_5_S";
    text.resize(255, 'x');
    KvxLogClear();
    EXPECT_EQ(ParseText(text.c_str()), 0);
    EXPECT_TRUE(Log().empty());

    // One character more could have been an option that a cut would drop.
    for (size_t length : {size_t{256}, size_t{100000}}) {
        std::string longer = "0_1_W_4_S";
        longer.resize(length - 3, 'x');
        longer += "_/4";
        KvxLogClear();
        EXPECT_EQ(ParseText(longer.c_str()), 1) << length;
        EXPECT_EQ(Log(), (std::vector<LogLine>{{kLogError,
                                                "RIREVI: Parse() gate addr. str. longer than 255 "
                                                "characters '" +
                                                    Upper(longer.substr(0, 255)) + "...'"}}))
            << length;
    }
}

TEST_F(ParserTest, StationSlotsAreSharedFoundAndKeptAfterRefusal) {
    // A slot fixed by the initialisation file is found like any other.
    state().stations[7] = StationEntry{2, 9};
    ASSERT_EQ(ParseText("2_9_W_0"), 0);
    EXPECT_EQ(block_.address.stationIndex, 7);
    // New pairs take the first free slot, once.
    ASSERT_EQ(ParseText("0_1_W_0"), 0);
    EXPECT_EQ(block_.address.stationIndex, 0);
    ASSERT_EQ(ParseText("0_1_DW_0"), 0);
    EXPECT_EQ(block_.address.stationIndex, 0);
    // A refused string still holds its slot.
    EXPECT_EQ(ParseText("0_2_XX_0"), 1);
    EXPECT_EQ(block_.address.stationIndex, 1);
    EXPECT_EQ(state().stations[1].channel, 0);
    EXPECT_EQ(state().stations[1].equipment, 2);
    // An internal gate on a bad card number has taken its slot before the refusal.
    EXPECT_EQ(ParseText("0_3_MW_0"), 1);
    EXPECT_EQ(state().stations[2].equipment, 3);
    EXPECT_EQ(GetStationIndex(&state(), 2, 9), 7);
    EXPECT_EQ(GetStationIndex(&state(), 0, 3), 2);
}

TEST_F(ParserTest, FullStationTableRefusesOnlyNewPairs) {
    for (int i = 0; i < kStationCount; ++i)
        EXPECT_EQ(GetStationIndex(&state(), static_cast<uint8_t>(i / 256 + i % 32),
                                  static_cast<uint8_t>(i / 32)),
                  i);
    KvxLogClear();
    EXPECT_EQ(ParseText("0_200_W_0"), 1);
    EXPECT_EQ(block_.address.stationIndex, 65535);
    EXPECT_EQ(Log(), (std::vector<LogLine>{
                         {kLogError, "RIREVI: Parse() MAX 256 different equipments allowed"}}));
    EXPECT_EQ(GetStationIndex(&state(), 0, 200), 65535);
    // Pairs already in the table are still served.
    EXPECT_EQ(ParseText("31_7_W_0"), 0);
    EXPECT_EQ(block_.address.stationIndex, 255);
}

TEST_F(ParserTest, SingleGatesMustHaveAFittingHostType) {
    const char* const digital = "RIREVI: SingleParse() gate '%s' should be DIGITAL";
    const char* const bits16 = "RIREVI: SingleParse() gate '%s' should be 16 BIT";
    const char* const bits32 = "RIREVI: SingleParse() gate '%s' should be 32 BIT";
    const char* const floating = "RIREVI: SingleParse() gate '%s' should be FLOAT";
    const struct {
        const char* text;
        int32_t gateType;
        const char* message;  // null: accepted
    } cases[] = {
        {"0_1_w_5", 0, nullptr},      {"0_1_w_5", 1, nullptr},      {"0_1_w_5", 2, nullptr},
        {"0_1_w_5", 3, bits16},       {"0_1_w_5", -1, bits16},      {"0_1_w_5", 6, bits16},
        {"0_1_PBY_5", 1, nullptr},    {"0_1_PBY_5", 4, bits16},     {"1_1_MY_5", 2, nullptr},
        {"0_1_BY_5", 0, nullptr},     {"0_1_BY_5_B15", 6, nullptr}, {"0_1_BY_5_B15", 0, digital},
        {"0_1_PB_5", 6, nullptr},     {"0_1_PB_5", 0, digital},     {"1_1_MB_5", 6, nullptr},
        {"0_1_QCKB_5", 1, digital},   {"0_1_DW_5", 4, nullptr},     {"0_1_DW_5", 5, nullptr},
        {"0_1_DW_5", 3, bits32},      {"0_1_dw_5_B7", 6, nullptr},  {"0_1_dw_5_B7", 4, digital},
        {"1_1_MD_5", 5, nullptr},     {"1_1_MD_5", 6, bits32},      {"0_1_FW_5", 3, nullptr},
        {"0_1_FW_5", 4, floating},    {"1_1_mf_5", 3, nullptr},     {"1_1_mf_5", 5, floating},
        {"0_1_W_5_S500", 0, nullptr},
    };
    for (const auto& c : cases) {
        KvxLogClear();
        const int32_t expected = c.message == nullptr ? 0 : 1;
        EXPECT_EQ(Single(c.text, c.gateType), expected) << c.text << " type " << c.gateType;
        if (c.message == nullptr) {
            EXPECT_TRUE(Log().empty()) << c.text;
        } else {
            // The host's own string, not the upper-case copy.
            EXPECT_EQ(Log(), (std::vector<LogLine>{{kLogError, Fill(c.message, c.text)}}))
                << c.text << " type " << c.gateType;
        }
    }
}

TEST_F(ParserTest, SingleParserEndsCyclicCreationEvenWhenRefused) {
    EXPECT_EQ(state().cyclicAllowed, 1);
    EXPECT_EQ(Single("garbage", 0), 1);
    EXPECT_EQ(state().cyclicAllowed, 0);
    state().cyclicAllowed = 1;
    EXPECT_EQ(Single("0_1_W_0", 0), 0);
    EXPECT_EQ(state().cyclicAllowed, 0);
    // Parse itself leaves the flag alone.
    state().cyclicAllowed = 1;
    EXPECT_EQ(ParseText("0_1_W_0"), 0);
    EXPECT_EQ(state().cyclicAllowed, 1);
}

}  // namespace
}  // namespace qun_test
