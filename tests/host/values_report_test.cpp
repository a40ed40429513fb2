// Gate values in the host's buffers, and the figures of the reports.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/report.h"
#include "host/values.h"

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
    gate.spec.block = true;
    gate.spec.count = 3;
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
    gates[0].spec.block = true;
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
