// Gate values in the host's buffers, and the figures of the reports.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "lab/qunhost/report.h"
#include "lab/qunhost/values.h"

namespace qunhost {
namespace {

std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
    std::vector<uint8_t> bytes;
    for (int v : values) bytes.push_back(static_cast<uint8_t>(v));
    return bytes;
}

TEST(GateValues, SingleValuesSitWhereTheDriverPutsThem) {
    struct Case {
        const char* text;
        int32_t gateType;
        std::vector<uint8_t> buffer;  // 4 bytes
    };
    const Case cases[] = {
        {"1", kTypeDigital, Bytes({0, 0, 1, 0})},
        {"65535", kTypeU16, Bytes({0, 0, 0xFF, 0xFF})},
        {"-2", kTypeS16, Bytes({0, 0, 0xFE, 0xFF})},
        {"-128", kTypeS8, Bytes({0, 0, 0x80, 0xFF})},
        {"4294967295", kTypeU32, Bytes({0xFF, 0xFF, 0xFF, 0xFF})},
        {"-1", kTypeS32, Bytes({0xFF, 0xFF, 0xFF, 0xFF})},
        {"1.5", kTypeFloat, Bytes({0x00, 0x00, 0xC0, 0x3F})},
    };
    for (const Case& c : cases) {
        uint8_t buffer[4] = {9, 9, 9, 9};
        std::string error;
        ASSERT_TRUE(EncodeSingleValue(c.text, c.gateType, buffer, &error)) << c.text << error;
        EXPECT_EQ(c.buffer, std::vector<uint8_t>(buffer, buffer + 4)) << c.text;
        EXPECT_EQ(c.text, FormatSingleValue(buffer, c.gateType)) << c.text;
    }
}

TEST(GateValues, SingleValuesOutOfRangeAreRefused) {
    struct Case {
        const char* text;
        int32_t gateType;
        const char* error;
    };
    const Case cases[] = {
        {"2", kTypeDigital, "value 2 is out of range for a digital gate (0 to 1)"},
        {"65536", kTypeU16, "value 65536 is out of range for a u16 gate (0 to 65535)"},
        {"-1", kTypeU16, "value -1 is out of range for a u16 gate (0 to 65535)"},
        {"128", kTypeS8, "value 128 is out of range for a s8 gate (-128 to 127)"},
        {"32768", kTypeS16, "value 32768 is out of range for a s16 gate (-32768 to 32767)"},
        {"4294967296", kTypeU32,
         "value 4294967296 is out of range for a u32 gate (0 to 4294967295)"},
        {"1e39", kTypeFloat, "value 1e39 does not fit a float"},
        {"x", kTypeU16, "value 'x' is not a whole number"},
    };
    for (const Case& c : cases) {
        uint8_t buffer[4];
        std::string error;
        EXPECT_FALSE(EncodeSingleValue(c.text, c.gateType, buffer, &error)) << c.text;
        EXPECT_EQ(c.error, error);
    }
}

TEST(GateValues, BlocksArePackedByElementSize) {
    struct Case {
        int32_t elementBits;
        int32_t gateType;
        std::vector<std::string> texts;
        std::vector<uint8_t> bytes;
    };
    const Case cases[] = {
        {1, kTypeDigital, {"1", "0", "1", "1", "0", "0", "0", "0", "1"}, Bytes({0x0D, 0x01})},
        {8, kTypeU16, {"255", "1"}, Bytes({0xFF, 0x01})},
        {8, kTypeS8, {"-1", "127"}, Bytes({0xFF, 0x7F})},
        {16, kTypeU16, {"4660", "65535"}, Bytes({0x34, 0x12, 0xFF, 0xFF})},
        {16, kTypeS16, {"-2"}, Bytes({0xFE, 0xFF})},
        {32, kTypeU32, {"16909060"}, Bytes({4, 3, 2, 1})},
        {32, kTypeS32, {"-2"}, Bytes({0xFE, 0xFF, 0xFF, 0xFF})},
        {32, kTypeFloat, {"-2"}, Bytes({0, 0, 0, 0xC0})},
    };
    for (const Case& c : cases) {
        const int32_t count = static_cast<int32_t>(c.texts.size());
        ASSERT_EQ(c.bytes.size(), BlockValueBytes(c.elementBits, count));
        std::vector<uint8_t> buffer(c.bytes.size(), 0xEE);
        std::string error;
        ASSERT_TRUE(EncodeBlockValues(c.texts, c.elementBits, c.gateType, buffer.data(), &error))
            << error;
        EXPECT_EQ(c.bytes, buffer) << c.elementBits << " bits";
        EXPECT_EQ(c.texts, FormatBlockValues(buffer.data(), c.elementBits, count, c.gateType));
    }
    std::string error;
    uint8_t buffer[4];
    EXPECT_FALSE(EncodeBlockValues({"0", "2"}, 1, kTypeDigital, buffer, &error));
    EXPECT_EQ("element 2: value 2 is out of range for bit elements (0 to 1)", error);
    EXPECT_FALSE(EncodeBlockValues({"256"}, 8, kTypeU16, buffer, &error));
    EXPECT_EQ("element 1: value 256 is out of range for 8-bit elements (0 to 255)", error);
    EXPECT_EQ(0u, BlockValueBytes(16, 0));
    EXPECT_EQ(1024u, BlockValueBytes(16, 512));
}

TEST(Reports, DatabaseLeftFollowsTheAllocationRules) {
    DatabaseMarks fresh;
    EXPECT_EQ(31999, BitsLeft(fresh));
    // Words end below the byte area at word 25000 + 14000 / 2.
    EXPECT_EQ(31999, WordsLeft(fresh));
    EXPECT_EQ(13999, BytesLeft(fresh));

    DatabaseMarks used;
    used.nextFreeBit = 31990;
    used.nextFreeWord = 20;
    used.lowestUsedByte = 13996;
    EXPECT_EQ(9, BitsLeft(used));
    EXPECT_EQ(31997 - 20, WordsLeft(used));
    EXPECT_EQ(13995, BytesLeft(used));

    // Words and bytes share a space: bytes from 12000 down lie in words
    // 31000 down, and the words have grown to 30000.
    DatabaseMarks meeting;
    meeting.nextFreeWord = 30000;
    meeting.lowestUsedByte = 12000;
    EXPECT_EQ(999, WordsLeft(meeting));   // a block must end below word 31000
    EXPECT_EQ(1998, BytesLeft(meeting));  // (12000 - s) / 2 + 25000 must stay above 30000
    meeting.nextFreeWord = 31000;
    EXPECT_EQ(0, WordsLeft(meeting));
    EXPECT_EQ(0, BytesLeft(meeting));
}

TEST(Reports, AreaTakenByABlockParse) {
    GateRun gate;
    gate.plan.block = true;
    gate.plan.count = 3;
    gate.marksKnown = true;
    gate.address.elementBits = 32;
    gate.before.nextFreeWord = 21;
    gate.after = gate.before;
    gate.after.nextFreeWord = 28;  // a float area starts on word 22
    EXPECT_EQ("words 22..27", AreaTaken(gate));
    gate.after = gate.before;
    gate.after.nextFreeBit = 100;
    EXPECT_EQ("bits 0..99", AreaTaken(gate));
    gate.after = gate.before;
    gate.after.lowestUsedByte = 13980;
    EXPECT_EQ("bytes 13980..13999", AreaTaken(gate));
    gate.after = gate.before;
    EXPECT_EQ("", AreaTaken(gate));
}

TEST(Reports, SummaryCountsResultsAndProblems) {
    std::vector<GateRun> gates(3);
    for (GateRun& g : gates) g.parsed = g.accepted = true;
    gates[0].plan.block = true;
    gates[0].channel = 2;
    gates[0].address.bitOrCyclicNumber = 1;
    gates[2].accepted = false;
    RunTotals totals;
    for (int i = 0; i < 5; ++i) totals.reads.Add(0);
    totals.reads.Add(1);
    totals.writes.Add(0);
    EXPECT_EQ("6: 5 ok, 1 result 1", FormatTally(totals.reads));
    EXPECT_EQ("none", FormatTally(Tally{}));
    const std::vector<std::string> lines = SummaryLines(gates, totals, 1);
    EXPECT_EQ("  gates       3 declared: 2 accepted (1 block, 1 single), 1 refused", lines[1]);
    EXPECT_EQ("  cyclic      1 function created (registry 1 of 32 places): channel 2: 1", lines[2]);
    EXPECT_EQ("result: 2 problems", lines.back());  // the refused gate and the failed read
    EXPECT_EQ(2, ProblemCount(gates, totals));
    EXPECT_EQ("W", MnemonicOf(10));
    EXPECT_EQ("row 24", MnemonicOf(24));
}

}  // namespace
}  // namespace qunhost

namespace qunhost {
namespace {

// A state block as the driver leaves it after a cold start and some gates.
DriverState FreshState() {
    DriverState state;
    std::memset(&state, 0, sizeof state);
    for (StationEntry& e : state.stations) e = {kFreeStation, kFreeStation};
    state.lowestUsedByte = kInitialLowestByte;
    return state;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

TEST(Reports, PlanListsRegistryPerChannelAndStationSlots) {
    DriverState state = FreshState();
    state.stations[0] = {2, 7};
    state.stations[9] = {4, 3};  // a STATION line without a gate
    state.cyclicCount = 3;
    const int16_t channels[] = {2, 5, 2};
    const int16_t numbers[] = {1, 1, 2};
    for (int i = 0; i < 3; ++i) {
        state.cyclicChannel[i] = channels[i];
        state.cyclicNumber[i] = numbers[i];
    }
    state.channelLastCyc[2] = 2;
    state.channelLastCyc[5] = 4;  // two numbers lost to failed creations
    state.nextFreeBit = 10;
    state.nextFreeWord = 6;
    state.lowestUsedByte = 13990;

    std::vector<GateRun> gates(3);
    gates[0].plan = {"Levels", true, "2_7_W_0_S200", 0, 6, 3};
    gates[1].plan = {"Level", false, "2_7_W_0", 0, 1, 4};
    gates[2].plan = {"Typo", false, "2_7_WW_0", 0, 1, 5};
    for (GateRun& g : gates) g.parsed = g.accepted = true;
    gates[0].channel = 2;
    gates[0].address.bitOrCyclicNumber = 2;
    gates[1].address.bitOrCyclicNumber = kNoBitOrCyclic;
    gates[2].accepted = false;
    gates[2].parseResult = 1;
    gates[2].notes = {"RIREVI: Parse() ill. memtype '2_7_WW_0'"};

    const std::string plan = Joined(PlanLines(gates, &state));
    const char* const expected[] = {
        "refused gates: 1\n  Typo (line 5, 2_7_WW_0)\n    RIREVI: Parse() ill. memtype "
        "'2_7_WW_0'\n",
        "  bits      10 used (0..9)                31989 left\n",
        "  words      6 used (0..5)                31988 left",
        "  bytes     10 used (13990..13999)        13989 left",
        "cyclic functions: 3 in the registry, of 32 places\n",
        "  channel 2: 1 2 (Levels); numbers given up to 2, 253 left\n",
        "  channel 5: 1; numbers given up to 4, 251 left\n",
        "station table: 2 of 256 slots taken, 254 free\n",
        "  slot   0  channel  2  equipment   7  Levels, Level\n",
        "  slot   9  channel  4  equipment   3  no accepted gate",
    };
    for (const char* text : expected) EXPECT_NE(std::string::npos, plan.find(text)) << text << plan;
    EXPECT_EQ(std::string::npos, plan.find("WARNING")) << plan;

    // A registry beyond its 32 channel places is named, and only those are listed.
    state.cyclicCount = 40;
    const std::string full = Joined(PlanLines(gates, &state));
    EXPECT_NE(std::string::npos,
              full.find("  WARNING: the registry holds more entries than its 32 channel places"));

    // Without a known state layout only the refusals are reported.
    const std::string unknown = Joined(PlanLines(gates, nullptr));
    EXPECT_NE(std::string::npos, unknown.find("refused gates: 1"));
    EXPECT_EQ(std::string::npos, unknown.find("station table:"));
    EXPECT_NE(std::string::npos, unknown.find("cannot be shown"));
}

TEST(Reports, SilentRefusalsAreExplainedFromTheAddress) {
    struct Case {
        const char* address;
        bool block;
        int32_t count;
        const char* detail;
    };
    const Case cases[] = {
        {"0_0_MW_100", false, 1,
         "(the driver logged no reason: internal memory takes a card number 1 to 8 in the "
         "channel's place)"},
        {"9_0_mpb_1", false, 1,
         "(the driver logged no reason: internal memory takes a card number 1 to 8 in the "
         "channel's place)"},
        {"1_0_MD_0_S0", true, 65,
         "(the driver logged no reason: an internal MD block holds at most 64 elements)"},
        {"1_0_MD_0_S0", true, 64, "(the driver logged no reason)"},
        {"0_1_W_0", false, 1, "(the driver logged no reason)"},
    };
    for (const Case& c : cases) {
        GateRun gate;
        gate.plan = {"G", c.block, c.address, 0, c.count, 1};
        gate.parsed = true;
        gate.parseResult = 1;
        const std::vector<std::string> lines = GateTableLines({gate});
        ASSERT_EQ(2u, lines.size());
        EXPECT_TRUE(lines[1].size() >= std::strlen(c.detail) &&
                    lines[1].compare(lines[1].size() - std::strlen(c.detail), std::string::npos,
                                     c.detail) == 0)
            << lines[1];
    }
    GateRun answered;
    answered.plan = {"G", false, "0_1_W_0", 0, 1, 1};
    answered.parsed = true;
    answered.parseResult = 2;
    EXPECT_NE(std::string::npos, GateTableLines({answered})[1].find("(the driver answered 2)"));
}

}  // namespace
}  // namespace qunhost
