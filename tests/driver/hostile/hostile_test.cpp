// What a faulty or hostile host could hand the driver: damaged gate addresses,
// station slots and counts, absurd address strings, function codes at every
// boundary and missing parameter blocks. Each must end in a clear result and
// log line, and the card must never see a call with unsafe arguments.
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "driver/address/parse_block.h"
#include "driver/browse/browse_address.h"
#include "driver/entry/qun_info.h"
#include "driver/platform/host.h"
#include "tests/driver/exchange/exchange_fixture.h"

namespace qun_test {
namespace {

constexpr uint16_t kW = 10;   // row of "W" in the memory-type table
constexpr uint16_t kPB = 0;   // "PB"
constexpr uint16_t kDW = 14;  // "DW"
constexpr uint16_t kMW = 21;  // "MW", internal database
constexpr int32_t kFreeSlot = 5;

// Bits of one element as the data area of a card data routine carries it,
// or 0 for a routine without a data count.
int32_t ElementBits(int32_t routine) {
    switch (routine) {
        case APC_readpackbit:
        case APC_readpackibit:
        case APC_readpackqbit:
        case APC_writepackbit:
        case APC_writepackqbit:
        case APC_getpackbit:
        case APC_setpackbit:
        case APC_setbit:
            return 1;
        case APC_readpackbyte:
        case APC_readpackibyte:
        case APC_readpackqbyte:
        case APC_writepackbyte:
        case APC_writepackqbyte:
        case APC_getpackbyte:
        case APC_setpackbyte:
            return 8;
        case APC_readdword:
        case APC_readfword:
        case APC_writedword:
        case APC_writefword:
        case APC_getdword:
        case APC_getfword:
        case APC_setdword:
        case APC_setfword:
            return 32;
        case APC_readquickbit:
        case APC_initbus:
        case APC_exitbus:
        case APC_createcyc:
        case APC_startcyc:
        case APC_stopcyc:
        case APC_transcycpack:
        case APC_AppGetCycParam:
            return 0;
        default:
            return 16;  // words, bytes carried in words, timers, counters
    }
}

bool IsDatabaseRoutine(int32_t routine) {
    return routine >= APC_getpackbit && routine <= APC_setfword;
}

// Every unsafe argument in the card's journal, one text per finding.
std::vector<std::string> UnsafeCardCalls() {
    std::vector<std::string> findings;
    for (int32_t i = 0; i < ApcJournalCount(); ++i) {
        ApcCall call{};
        if (ApcJournalGet(i, &call) != 0) continue;
        const std::string name = ApcRoutineName(call.routine);
        auto finding = [&](const char* what, int32_t value) {
            findings.push_back(name + ": " + what + " " + std::to_string(value));
        };
        if (call.argCount == 0) continue;
        const int32_t channel = call.args[0];
        if (channel < 0 || channel > 31) finding("channel", channel);
        switch (call.routine) {
            case APC_createcyc: {
                if (call.args[1] < 0 || call.args[1] > 255) finding("number", call.args[1]);
                if (call.args[6] < 0 || call.args[6] > 255) finding("equipment", call.args[6]);
                if (call.args[7] < 1 || call.args[7] > 8192) finding("count", call.args[7]);
                continue;
            }
            case APC_startcyc:
            case APC_stopcyc:
            case APC_transcycpack:
            case APC_AppGetCycParam:
                if (call.args[1] < 0 || call.args[1] > 255) finding("number", call.args[1]);
                continue;
            case APC_readquickbit:
                if (call.args[1] < 0 || call.args[1] > 255) finding("equipment", call.args[1]);
                continue;
            default:
                break;
        }
        const int32_t bits = ElementBits(call.routine);
        if (bits == 0) continue;
        int32_t count;
        if (IsDatabaseRoutine(call.routine)) {
            count = call.args[1];
        } else {
            if (call.args[1] < 0 || call.args[1] > 255) finding("equipment", call.args[1]);
            count = call.args[2];
        }
        if (count < 1) finding("count", count);
        if ((static_cast<int64_t>(count) * bits + 7) / 8 > 1024) finding("count", count);
    }
    return findings;
}

class HostileTest : public ExchangeTest {
protected:
    void SetUp() override {
        ExchangeTest::SetUp();
        KvxLogClear();
        state().stations[kFreeSlot] = {kFreeStation, kFreeStation};
    }
    void TearDown() override {
        EXPECT_EQ(std::vector<std::string>{}, UnsafeCardCalls());
        ExchangeTest::TearDown();
    }
};

// ---- Damaged gate addresses and transfers --------------------------------------

struct TransferCase {
    const char* what;
    uint32_t code;        // 5, 6, 7 or 10
    uint16_t type;        // memory-type row
    int32_t station;      // station slot
    int32_t bitOrCyclic;  // -1, a bit number or a cyclic number
    int32_t count;        // elements
    bool noValue;         // a null value buffer
    int32_t result;       // what QunMain answers
    const char* log;      // the error line that explains it
};

TEST_F(HostileTest, DamagedTransfersAreRefusedBeforeAnyCardCall) {
    const TransferCase cases[] = {
        // Memory types beyond the table.
        {"type 24 read", 5, 24, 0, -1, 1, false, 1, "RIREVI: DoRead() illegal memtype 'T1'"},
        {"type 24 block read", 6, 24, 0, -1, 4, false, 1, "RIREVI: DoRead() illegal memtype 'T1'"},
        {"type 0xFFFF read", 5, 0xFFFF, 0, -1, 1, false, 1,
         "RIREVI: DoRead() illegal memtype 'T1'"},
        {"type 24 cyclic read", 6, 24, 0, 3, 4, false, 2,
         "RIREVI: CyclFuncRead() illegal memtype 'T1'"},
        {"type 24 write", 7, 24, 0, -1, 1, false, 1, "RIREVI> PutData() illegal memtype 'T1'"},
        {"type 200 block write", 10, 200, 0, -1, 4, false, 1,
         "RIREVI> PutData() illegal memtype 'T1'"},
        // Station slots: free, negative, past the table, huge.
        {"free slot read", 5, kW, kFreeSlot, -1, 1, false, 2,
         "RIREVI: DoRead() station index 5 is free or has channel 255. Tag 'T1'"},
        {"free slot block read", 6, kW, kFreeSlot, -1, 4, false, 2,
         "RIREVI: DoRead() station index 5 is free or has channel 255. Tag 'T1'"},
        {"free slot cyclic read", 6, kW, kFreeSlot, 2, 4, false, 2,
         "RIREVI: CyclFuncRead() station index 5 is free or has channel 255. Tag 'T1'"},
        {"free slot write", 7, kW, kFreeSlot, -1, 1, false, 2,
         "RIREVI: DoWrite() station index 5 is free or has channel 255. Tag 'T1'"},
        {"free slot block write", 10, kW, kFreeSlot, -1, 4, false, 2,
         "RIREVI: DoWrite() station index 5 is free or has channel 255. Tag 'T1'"},
        {"free slot internal write", 7, kMW, kFreeSlot, -1, 1, false, 2,
         "RIREVI: DoWrite() station index 5 is free or has channel 255. Tag 'T1'"},
        {"slot -1 read", 5, kW, -1, -1, 1, false, 2,
         "RIREVI: DoRead() illegal station index -1. Tag 'T1'"},
        {"slot 256 read", 5, kW, 256, -1, 1, false, 2,
         "RIREVI: DoRead() illegal station index 256. Tag 'T1'"},
        {"slot huge write", 7, kW, INT_MAX, -1, 1, false, 2,
         "RIREVI: DoWrite() illegal station index 2147483647. Tag 'T1'"},
        {"slot most negative block write", 10, kW, INT_MIN, -1, 2, false, 2,
         "RIREVI: DoWrite() illegal station index -2147483648. Tag 'T1'"},
        {"slot 256 cyclic read", 6, kW, 256, 2, 2, false, 2,
         "RIREVI: CyclFuncRead() illegal station index 256. Tag 'T1'"},
        // Counts: negative, zero, beyond the card buffer, wrapping to 16 bits.
        {"count 0 block read", 6, kW, 0, -1, 0, false, 2,
         "RIREVI: DoRead() illegal count 0, the card buffer holds 1 to 512 elements. Tag 'T1'"},
        {"count -1 block read", 6, kW, 0, -1, -1, false, 2,
         "RIREVI: DoRead() illegal count -1, the card buffer holds 1 to 512 elements. Tag 'T1'"},
        {"count 513 block read", 6, kW, 0, -1, 513, false, 2,
         "RIREVI: DoRead() illegal count 513, the card buffer holds 1 to 512 elements. Tag 'T1'"},
        {"count 65537 block read", 6, kW, 0, -1, 65537, false, 2,
         "RIREVI: DoRead() illegal count 65537, the card buffer holds 1 to 512 elements. Tag "
         "'T1'"},
        {"count 8193 bits block read", 6, kPB, 0, -1, 8193, false, 2,
         "RIREVI: DoRead() illegal count 8193, the card buffer holds 1 to 8192 elements. Tag "
         "'T1'"},
        {"count 257 double words cyclic read", 6, kDW, 0, 2, 257, false, 2,
         "RIREVI: CyclFuncRead() illegal count 257, the card buffer holds 1 to 256 elements. Tag "
         "'T1'"},
        {"count -5 cyclic read", 6, kW, 0, 2, -5, false, 2,
         "RIREVI: CyclFuncRead() illegal count -5, the card buffer holds 1 to 512 elements. Tag "
         "'T1'"},
        {"count 0 single read", 5, kW, 0, -1, 0, false, 2,
         "RIREVI: DoRead() illegal count 0, the card buffer holds 1 to 512 elements. Tag 'T1'"},
        {"count 0 block write", 10, kW, 0, -1, 0, false, 2,
         "RIREVI: DoWrite() illegal count 0, the card buffer holds 1 to 512 elements. Tag 'T1'"},
        {"count INT_MIN block write", 10, kW, 0, -1, INT_MIN, false, 2,
         "RIREVI: DoWrite() illegal count -2147483648, the card buffer holds 1 to 512 elements. "
         "Tag 'T1'"},
        {"count 513 block write", 10, kW, 0, -1, 513, false, 2,
         "RIREVI: DoWrite() illegal count 513, the card buffer holds 1 to 512 elements. Tag 'T1'"},
        // Cyclic numbers the card does not have, bit numbers the element lacks.
        {"cyclic number 256", 6, kW, 0, 256, 4, false, 2,
         "RIREVI: CyclFuncRead() illegal cyclic function number 256. Tag 'T1'"},
        {"cyclic number 70000", 6, kW, 0, 70000, 4, false, 2,
         "RIREVI: CyclFuncRead() illegal cyclic function number 70000. Tag 'T1'"},
        {"cyclic number -2", 6, kW, 0, -2, 4, false, 2,
         "RIREVI: BlockRead() illegal cyclic function number -2. Tag 'T1'"},
        {"bit 16 of a word", 5, kW, 0, 16, 1, false, 2,
         "RIREVI: DoRead() illegal bit number 16. Tag 'T1'"},
        {"bit -7 write", 7, kW, 0, -7, 1, false, 2,
         "RIREVI: DoWrite() illegal bit number -7. Tag 'T1'"},
        // No value buffer.
        {"no value read", 5, kW, 0, -1, 1, true, 2, "RIREVI: DoRead() no value buffer. Tag 'T1'"},
        {"no value cyclic read", 6, kW, 0, 2, 4, true, 2,
         "RIREVI: CyclFuncRead() no value buffer. Tag 'T1'"},
        {"no value block write", 10, kW, 0, -1, 4, true, 2,
         "RIREVI: DoWrite() no value buffer. Tag 'T1'"},
    };
    for (const TransferCase& c : cases) {
        SCOPED_TRACE(c.what);
        KvxLogClear();
        ApcJournalClear();
        Gate(c.type, 100, 1, c.bitOrCyclic, c.count);
        transfer_.address.stationIndex = c.station;
        if (c.noValue) transfer_.value = nullptr;
        EXPECT_EQ(c.result, Call(c.code, &transfer_));
        EXPECT_TRUE(HasLog(kLogError, c.log)) << testing::PrintToString(Log());
        EXPECT_EQ(0, ApcJournalCount());
        EXPECT_EQ(std::vector<std::string>{}, UnsafeCardCalls());
    }
}

TEST_F(HostileTest, FullBufferCountsReachTheCardWithinTheBuffer) {
    // The largest blocks that fit are carried out, not refused.
    struct Case {
        uint16_t type;
        int32_t count;
        uint32_t code;
    };
    for (const Case& c : {Case{kW, 512, 6}, Case{kPB, 8192, 6}, Case{kDW, 256, 10},
                          Case{kW, 512, 10}, Case{kMW, 128, 6}}) {
        SCOPED_TRACE(std::to_string(c.type) + " x " + std::to_string(c.count));
        ApcJournalClear();
        Gate(c.type, 0, 1, -1, c.count);
        if (c.type == kMW) state().stations[0] = {1, 0};
        EXPECT_EQ(0, Call(c.code, &transfer_));
        EXPECT_EQ(1, ApcJournalCount());
        state().stations[0] = {kChannel, kEquipment};
    }
}

// ---- Missing parameter blocks ---------------------------------------------------

TEST_F(HostileTest, MissingParameterBlocksAreRefused) {
    struct Case {
        uint32_t code;
        int32_t result;
        const char* log;
    };
    const Case cases[] = {
        {1, 0, "RIREVI: ColdStart() no parameter block"},
        {2, 0, "RIREVI: WarmStart() no parameter block"},
        {3, 1, "RIREVI: SingleParse() no parameter block"},
        {4, 1, "RIREVI: BlockParse() no parameter block"},
        {5, 2, "RIREVI: SingleRead() no parameter block"},
        {6, 2, "RIREVI: BlockRead() no parameter block"},
        {7, 2, "RIREVI: SingleWrite() no parameter block"},
        {10, 2, "RIREVI: BlockWrite() no parameter block"},
        {14, 2, "RIREVI: GetQunInfo() no parameter block"},
        {16, kNoAddressComposed, "RIREVI: BrowseAddress() no parameter block"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        KvxLogClear();
        ApcJournalClear();
        EXPECT_EQ(c.result, Call(c.code, nullptr));
        EXPECT_TRUE(HasLog(kLogError, c.log)) << testing::PrintToString(Log());
        // A cold start without a block opens nothing.
        EXPECT_EQ(0, ApcJournalCountOf(APC_initbus));
    }
}

// ---- Function codes -------------------------------------------------------------

TEST_F(HostileTest, FunctionCodesAtEveryBoundary) {
    struct Case {
        uint32_t code;
        const char* log;
    };
    const Case cases[] = {
        {0, "RIREVI: Exited QunMain(), function illegal"},
        {8, "RIREVI: Exited QunMain(), function is NULL"},
        {9, "RIREVI: Exited QunMain(), function is NULL"},
        {17, "RIREVI: Exited QunMain(), function is NULL"},
        {18, "RIREVI: Exited QunMain(), function illegal"},
        {0x7FFFFFFFu, "RIREVI: Exited QunMain(), function illegal"},
        {0x80000000u, "RIREVI: Exited QunMain(), function illegal"},
        {0xFFFFFFFFu, "RIREVI: Exited QunMain(), function illegal"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        KvxLogClear();
        EXPECT_EQ(2, Call(c.code, &transfer_));
        EXPECT_EQ((std::vector<LogLine>{{kLogTrace, c.log}}), Log());
        EXPECT_EQ(0, ApcJournalCount());
    }
    // The lowest and highest served codes are served.
    ColdStartParams cold{};
    EXPECT_EQ(0, Call(1, &cold));
    QunInfo info{};
    EXPECT_EQ(0, Call(14, &info));
    EXPECT_EQ(82u, info.infoCode);
}

// ---- Address strings --------------------------------------------------------------

class HostileParseTest : public HostileTest {
protected:
    int32_t Parse(uint32_t code, const std::string& text, int32_t count = 4) {
        KvxLogClear();
        block_ = ParseBlock{};
        block_.addressText = text.c_str();
        block_.gateType = 2;
        block_.elementCount = count;
        return Call(code, &block_);
    }
    ParseBlock block_{};
};

TEST_F(HostileParseTest, LongStringsAreRefusedWholeOrParsed) {
    // 255 characters fit the parser's copy; one more is refused, however long.
    const std::string address = "2_7_W_";
    const std::string fits = address + std::string(255 - address.size() - 3, '0') + "100";
    ASSERT_EQ(255u, fits.size());
    for (uint32_t code : {3u, 4u}) {
        SCOPED_TRACE(code);
        // The single gate parses; the block gate lacks its sample rate.
        EXPECT_EQ(code == 3 ? 0 : 1, Parse(code, fits));
        if (code == 3) {
            EXPECT_EQ(100u, block_.address.elementAddress);
        } else {
            EXPECT_TRUE(
                HasLog(kLogError, "RIREVI: BlockParse() sample rate field missing '" + fits + "'"));
        }
        for (size_t length : {256u, 257u, 100000u}) {
            SCOPED_TRACE(length);
            const std::string text = address + std::string(length - address.size(), '1');
            EXPECT_EQ(1, Parse(code, text));
            const std::vector<LogLine> log = Log();
            ASSERT_EQ(1u, log.size());
            EXPECT_EQ(kLogError, log[0].level);
            EXPECT_EQ(0u, log[0].text.rfind("RIREVI: Parse() gate addr. str. longer than 255 "
                                            "characters '2_7_W_111",
                                            0));
            EXPECT_EQ("...'", log[0].text.substr(log[0].text.size() - 4));
        }
    }
    EXPECT_EQ(0, ApcJournalCount());
}

TEST_F(HostileParseTest, HighAndControlBytesAreRefused) {
    struct Case {
        std::string text;
        const char* log;  // the refusal, with the text as the parser shows it
    };
    const Case cases[] = {
        {"2_7_W\x80_100", "RIREVI: Parse() ill. memtype '2_7_W\x80_100'"},
        {"2_7_\xFF\xFE_100", "RIREVI: Parse() ill. memtype '2_7_\xFF\xFE_100'"},
        {"\xB2_7_W_100", "RIREVI: Parse() error reading channel and equipment '\xB2_7_W_100'"},
        {"2_7_W_100_\xC2", "RIREVI: Parse() ill. optional field '2_7_W_100_\xC2'"},
        {"2_7_W_100_B\xE9", "RIREVI: Parse() ill. bitnr '2_7_W_100_B\xE9'"},
        {"2_7_W\x01_100", "RIREVI: Parse() ill. memtype '2_7_W\x01_100'"},
        {"2_7_W_100_/\x1B", "RIREVI: Parse() ill. byteness '2_7_W_100_/\x1B'"},
        {"2\x7F_7_W_100", "RIREVI: Parse() error reading channel and equipment '2\x7F_7_W_100'"},
    };
    for (uint32_t code : {3u, 4u}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::PrintToString(c.text) + " code " + std::to_string(code));
            EXPECT_EQ(1, Parse(code, c.text));
            EXPECT_TRUE(HasLog(kLogError, c.log)) << testing::PrintToString(Log());
        }
    }
    // Leading blanks go as the decimal conversion takes them, and whatever
    // follows a number up to the next "_" is skipped: these name W 100 or W 1.
    struct Accepted {
        std::string text;
        uint32_t address;
    };
    for (const Accepted& c : {Accepted{"\t2_7_W_100", 100}, Accepted{"2_7_W_100\n", 100},
                              Accepted{"2_7_W_1\x90"
                                       "0",
                                       1},
                              Accepted{"2_7_W_100\xFF_S0", 100}}) {
        SCOPED_TRACE(testing::PrintToString(c.text));
        EXPECT_EQ(0, Parse(3, c.text));
        EXPECT_EQ(kW, block_.address.memoryType);
        EXPECT_EQ(c.address, block_.address.elementAddress);
        EXPECT_EQ(0, block_.address.stationIndex);
    }
    EXPECT_EQ(0, ApcJournalCount());
}

TEST_F(HostileParseTest, AbsurdBlockCountsAreRefused) {
    for (int32_t count : {0, -1, INT_MIN, 513, 65537, INT_MAX}) {
        SCOPED_TRACE(count);
        EXPECT_EQ(1, Parse(4, "2_7_W_100_S0", count));
        EXPECT_TRUE(HasLog(kLogError, "RIREVI: BlockParse() block size " + std::to_string(count) +
                                          " out of range 1 to 512 '2_7_W_100_S0'"))
            << testing::PrintToString(Log());
    }
    EXPECT_EQ(0, ApcJournalCount());
}

}  // namespace
}  // namespace qun_test
