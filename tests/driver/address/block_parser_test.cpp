// Block gates: the sample rate, the bounds of a block, the conditions for a
// cyclic function, its createcyc arguments, the per-channel numbering, the
// registry, and the card-database areas of GetFreeAddress.
#include "driver/address/block_parser.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "driver/address/memory_types.h"
#include "driver/address/parse_block.h"
#include "driver/config/init_file.h"
#include "driver/entry/driver_state.h"
#include "driver/platform/card.h"
#include "driver/platform/host.h"
#include "driver/platform/os.h"
#include "tests/support/driver_harness.h"

namespace qun_test {
namespace {

std::vector<ApcCall> CallsOf(int32_t routine) {
    std::vector<ApcCall> calls;
    for (int32_t i = 0; i < ApcJournalCount(); ++i) {
        ApcCall call{};
        if (ApcJournalGet(i, &call) == 0 && call.routine == routine) calls.push_back(call);
    }
    return calls;
}

std::vector<int32_t> Args(const ApcCall& call) {
    return std::vector<int32_t>(call.args, call.args + call.argCount);
}

class BlockParserTest : public DriverTest {
protected:
    void SetUp() override {
        DriverTest::SetUp();
        instance_ = 39;  // no initialisation file: the defaults
        request_.instance = instance_;
        request_.state = &state();
        InitDriverState(&state());
        ReadIntFile(&request_);
        state().cardOpen = 1;
        state().cyclicCount = 0;
        state().initSemaphore = nullptr;
        int16_t status = 0;
        initbus(&status);
        ASSERT_EQ(status, 0);
        ApcSetCyclicManual(1);
        ApcJournalClear();
        KvxLogClear();
    }
    void TearDown() override {
        if (semaphore_ != nullptr) os::HandleClose(semaphore_);
        DriverTest::TearDown();
    }

    // Through QunMain of the DLL, function code 4.
    int32_t Block(const char* text, int32_t count) {
        std::memset(&block_, 0x5A, sizeof block_);
        block_.addressText = text;
        block_.elementCount = count;
        return Call(4, &block_);
    }
    int32_t Number() const { return block_.address.bitOrCyclicNumber; }
    std::vector<ApcCall> Creations() const { return CallsOf(APC_createcyc); }
    int32_t DatabaseAddressOfLast() const {
        const std::vector<ApcCall> calls = Creations();
        return calls.empty() ? -1 : calls.back().args[9];
    }

    ParseBlock block_{};
    os::Handle semaphore_ = nullptr;
};

TEST_F(BlockParserTest, RefusalsOfTheSampleRateAndOfBitNumbers) {
    const struct {
        const char* text;
        const char* message;
    } cases[] = {
        {"0_1_w_0", "RIREVI: BlockParse() sample rate field missing '0_1_w_0'"},
        {"0_1_W_0_/2", "RIREVI: BlockParse() sample rate field missing '0_1_W_0_/2'"},
        {"0_1_W_0_sx", "RIREVI: BlockParse() illegal sample rate field '0_1_W_0_sx'"},
        {"0_1_W_0_S", "RIREVI: BlockParse() illegal sample rate field '0_1_W_0_S'"},
        {"0_1_W_0_S50", "RIREVI: BlockParse() illegal sample rate '0_1_W_0_S50'"},
        {"0_1_W_0_S1", "RIREVI: BlockParse() illegal sample rate '0_1_W_0_S1'"},
        {"0_1_W_0_S99", "RIREVI: BlockParse() illegal sample rate '0_1_W_0_S99'"},
        // A negative rate wraps to a huge one; neither gives a period the card takes.
        {"0_1_W_0_S-5", "RIREVI: BlockParse() illegal sample rate '0_1_W_0_S-5'"},
        {"0_1_W_0_S3276800", "RIREVI: BlockParse() illegal sample rate '0_1_W_0_S3276800'"},
        {"0_1_W_0_S99999999999", "RIREVI: BlockParse() illegal sample rate '0_1_W_0_S99999999999'"},
        {"0_1_W_0_B3_S100", "RIREVI: BlockParse() spec. dig. gates not allowed as block"},
        {"0_1_XX_0_S100", "RIREVI: Parse() ill. memtype '0_1_XX_0_S100'"},
    };
    for (const auto& c : cases) {
        KvxLogClear();
        EXPECT_EQ(Block(c.text, 10), 1) << c.text;
        EXPECT_EQ(Log(), (std::vector<LogLine>{{kLogError, c.message}})) << c.text;
    }
    EXPECT_TRUE(Creations().empty());
    EXPECT_EQ(state().nextFreeWord, 0);
}

TEST_F(BlockParserTest, PeriodIsTheRateInHundredsOfMilliseconds) {
    const struct {
        const char* text;
        int32_t period;
    } cases[] = {
        {"0_1_W_0_S0", 0},           {"0_1_W_0_S100", 1},    {"0_1_W_0_s199", 1},
        {"0_1_W_0_S_/2", -1},        {"0_1_W_0_S500X", 5},   {"0_1_W_0_/2_S1000_B", -1},
        {"0_1_W_0_S3276799", 32767}, {"0_1_W_0_/2_S250", 2},
    };
    for (const auto& c : cases) {
        ApcJournalClear();
        const int32_t result = Block(c.text, 1);
        if (c.period < 0) {
            EXPECT_EQ(result, 1) << c.text;
            continue;
        }
        EXPECT_EQ(result, 0) << c.text;
        const std::vector<ApcCall> calls = Creations();
        ASSERT_EQ(calls.size(), 1u) << c.text;
        EXPECT_EQ(calls[0].args[2], c.period) << c.text;
    }
}

TEST_F(BlockParserTest, CreatecycGetsItsTwelveArgumentsAndTheGateIsRegistered) {
    ASSERT_EQ(Block("2_7_W_100_S500", 10), 0);
    EXPECT_EQ(Number(), 1);
    ASSERT_EQ(Block("3_12_dw_8_/4_S1000", 5), 0);
    EXPECT_EQ(Number(), 1);
    ASSERT_EQ(Block("3_12_pqby_7_s0", 3), 0);
    EXPECT_EQ(Number(), 2);

    const std::vector<ApcCall> calls = Creations();
    ASSERT_EQ(calls.size(), 3u);
    // channel, number, period, 1, code, kind, equipment, count, address, database, -1
    EXPECT_EQ(Args(calls[0]), (std::vector<int32_t>{2, 1, 5, 1, 0x1005, 3, 7, 10, 100, 0, -1}));
    EXPECT_EQ(Args(calls[1]), (std::vector<int32_t>{3, 1, 10, 1, 0x1007, 4, 12, 5, 8, 10, -1}));
    EXPECT_EQ(Args(calls[2]), (std::vector<int32_t>{3, 2, 0, 1, 0x106A, 2, 12, 3, 7, 13997, -1}));
    for (const ApcCall& call : calls) EXPECT_EQ(call.status, 0);

    EXPECT_EQ(Log(), (std::vector<LogLine>{
                         {kLogTrace, "RIREVI: GetFreeAddr() 16BIT 0"},
                         {kLogTrace,
                          "RIREVI: BlockParse() cycl func.1 added on channel.2, type 3 size 10, "
                          "Sample rate = 500 ms"},
                         {kLogTrace, "RIREVI: GetFreeAddr() 32BIT 10"},
                         {kLogTrace,
                          "RIREVI: BlockParse() cycl func.1 added on channel.3, type 4 size 5, "
                          "Sample rate = 1000 ms"},
                         {kLogTrace, "RIREVI: GetFreeAddr() BYTE 13997"},
                         {kLogTrace,
                          "RIREVI: BlockParse() cycl func.2 added on channel.3, type 2 size 3, "
                          "Sample rate = 0 ms"},
                     }));
    EXPECT_EQ(LoadCyclicCount(&state()), 3);
    EXPECT_EQ(state().cyclicChannel[0], 2);
    EXPECT_EQ(state().cyclicNumber[0], 1);
    EXPECT_EQ(state().cyclicChannel[1], 3);
    EXPECT_EQ(state().cyclicNumber[1], 1);
    EXPECT_EQ(state().cyclicChannel[2], 3);
    EXPECT_EQ(state().cyclicNumber[2], 2);
    EXPECT_EQ(state().channelFirstCyc[2], 1);
    EXPECT_EQ(state().channelFirstCyc[3], 1);
    EXPECT_EQ(state().channelLastCyc[3], 2);
    EXPECT_EQ(ApcCyclicState(2, 1), 1);
}

TEST_F(BlockParserTest, GatesWithoutACyclicFunctionAreAcceptedAndReadOnDemand) {
    // Timers, counters and internal types never get one, and take no area.
    for (const char* text :
         {"0_1_TI_0_S100", "0_1_CO_0_S100", "1_1_MW_0_S100", "2_0_MPB_0_S0", "8_1_MF_0_S100"}) {
        EXPECT_EQ(Block(text, 10), 0) << text;
        EXPECT_EQ(Number(), -1) << text;
    }
    EXPECT_TRUE(Log().empty());
    EXPECT_TRUE(Creations().empty());

    // The card closed.
    state().cardOpen = 0;
    EXPECT_EQ(Block("0_1_W_0_S100", 10), 0);
    EXPECT_EQ(Number(), -1);
    state().cardOpen = 1;

    // Once a single gate has been parsed, until the next cold start.
    ParseBlock single{};
    single.addressText = "0_1_W_0";
    single.gateType = 0;
    ASSERT_EQ(Call(3, &single), 0);
    EXPECT_EQ(Block("0_1_W_0_S100", 10), 0);
    EXPECT_EQ(Number(), -1);

    EXPECT_TRUE(Log().empty());
    EXPECT_TRUE(Creations().empty());
    EXPECT_EQ(state().nextFreeWord, 0);
    EXPECT_EQ(LoadCyclicCount(&state()), 0);
}

TEST_F(BlockParserTest, BlockSizesAreBoundedByTypeAndCardBuffer) {
    const std::string tooBig = "RIREVI: BlockParse() block size ";
    const struct {
        const char* text;
        int32_t count;
        int32_t result;
        int32_t maxCount;  // 0: refused without a message
    } cases[] = {
        // Internal blocks: refused silently above their limits.
        {"1_1_MW_0_S100", 128, 0, 0},
        {"1_1_MW_0_S100", 129, 1, 0},
        {"1_1_MPB_0_S100", 256, 0, 0},
        {"1_1_MPB_0_S100", 257, 1, 0},
        {"1_1_MB_0_S100", 257, 1, 0},
        {"1_1_MY_0_S100", 257, 1, 0},
        {"1_1_MD_0_S100", 64, 0, 0},
        {"1_1_MD_0_S100", 65, 1, 0},
        {"1_1_MF_0_S100", 65, 1, 0},
        // Every block passes through the 1024-byte card buffer.
        {"0_1_W_0_S100", 512, 0, 0},
        {"0_1_W_0_S100", 513, 1, 512},
        {"0_1_BY_0_S100", 513, 1, 512},
        {"0_1_PBY_0_S100", 1024, 0, 0},
        {"0_1_PBY_0_S100", 1025, 1, 1024},
        {"0_1_PB_0_S100", 8192, 0, 0},
        {"0_1_PB_0_S100", 8193, 1, 8192},
        {"0_1_DW_0_S100", 257, 1, 256},
        {"0_1_FW_0_S100", 256, 0, 0},
        {"0_1_TI_0_S100", 513, 1, 512},
        {"0_1_W_0_S100", 0, 1, 512},
        {"0_1_W_0_S100", -1, 1, 512},
        {"0_1_W_0_S100", INT32_MIN, 1, 512},
        {"1_1_MW_0_S100", 0, 1, 128},
        {"1_1_MD_0_S100", -5, 1, 64},
    };
    for (const auto& c : cases) {
        InitDriverState(&state());
        state().cardOpen = 1;
        state().cyclicCount = 0;
        KvxLogClear();
        EXPECT_EQ(Block(c.text, c.count), c.result) << c.text << " " << c.count;
        if (c.result == 0) continue;
        if (c.maxCount == 0) {
            EXPECT_TRUE(Log().empty()) << c.text << " " << c.count;
        } else {
            EXPECT_EQ(Log(),
                      (std::vector<LogLine>{
                          {kLogError, tooBig + std::to_string(c.count) + " out of range 1 to " +
                                          std::to_string(c.maxCount) + " '" + c.text + "'"}}))
                << c.text << " " << c.count;
        }
    }
}

TEST_F(BlockParserTest, NumbersCountPerChannelFromCycNo) {
    for (int i = 1; i <= 3; ++i) {
        ASSERT_EQ(Block("2_1_W_0_S100", 1), 0);
        EXPECT_EQ(Number(), i);
    }
    EXPECT_EQ(state().channelFirstCyc[2], 1);
    ASSERT_EQ(Block("5_1_W_0_S100", 1), 0);
    EXPECT_EQ(Number(), 1);

    // CYC_NO 10: the first function on a channel is 11, and is recorded as
    // the channel's first so that writes walk exactly 11 to channelLastCyc.
    InitDriverState(&state());
    state().cardOpen = 1;
    state().cyclicCount = 0;
    state().firstCycNo = 10;
    for (uint16_t& last : state().channelLastCyc) last = 10;
    std::memset(state().channelFirstCyc, 0xEE, sizeof state().channelFirstCyc);
    ASSERT_EQ(Block("2_1_W_0_S100", 1), 0);
    EXPECT_EQ(Number(), 11);
    ASSERT_EQ(Block("2_1_W_0_S100", 1), 0);
    EXPECT_EQ(Number(), 12);
    EXPECT_EQ(state().channelFirstCyc[2], 11);
    EXPECT_EQ(state().channelLastCyc[2], 12);
    EXPECT_EQ(state().channelFirstCyc[3], 0xEEEE);  // untouched without a function
}

TEST_F(BlockParserTest, FirstNumberIsTheFirstCreatedAfterFailedAttempts) {
    const int16_t refusals[] = {3};
    ApcScriptStatus(APC_createcyc, refusals, 1);
    ASSERT_EQ(Block("4_1_W_0_S100", 1), 0);
    EXPECT_EQ(Number(), -1);
    EXPECT_TRUE(HasLog(kLogError, "RIREVI: BlockParse() Error adding cyclic function, stats 3"));
    EXPECT_EQ(LoadCyclicCount(&state()), 0);
    // Number 1 is used up; the channel's first function is number 2.
    ASSERT_EQ(Block("4_1_W_0_S100", 1), 0);
    EXPECT_EQ(Number(), 2);
    ASSERT_EQ(Block("4_1_W_0_S100", 1), 0);
    EXPECT_EQ(state().channelFirstCyc[4], 2);
    EXPECT_EQ(state().channelLastCyc[4], 3);
    // Two database areas were taken by the failed attempt and the two functions.
    EXPECT_EQ(state().nextFreeWord, 3);
}

TEST_F(BlockParserTest, StatusFortyFiveReopensTheCardOnceAndRepeats) {
    const int16_t once[] = {45};
    ApcScriptStatus(APC_createcyc, once, 1);
    ASSERT_EQ(Block("0_1_W_0_S100", 4), 0);
    EXPECT_EQ(Number(), 1);
    ASSERT_EQ(CallsOf(APC_initbus).size(), 1u);
    const std::vector<ApcCall> calls = Creations();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(Args(calls[0]), Args(calls[1]));
    EXPECT_LT(CallsOf(APC_initbus)[0].sequence, calls[1].sequence);

    ApcJournalClear();
    KvxLogClear();
    const int16_t twice[] = {45, 45};
    ApcScriptStatus(APC_createcyc, twice, 2);
    ASSERT_EQ(Block("0_1_W_0_S100", 4), 0);
    EXPECT_EQ(Number(), -1);
    EXPECT_EQ(Creations().size(), 2u);
    EXPECT_EQ(CallsOf(APC_initbus).size(), 1u);
    EXPECT_TRUE(HasLog(kLogError, "RIREVI: BlockParse() Error adding cyclic function, stats 45"));

    KvxLogClear();
    const int16_t negative[] = {-6};
    ApcScriptStatus(APC_createcyc, negative, 1);
    ASSERT_EQ(Block("0_1_W_0_S100", 4), 0);
    EXPECT_TRUE(
        HasLog(kLogError, "RIREVI: BlockParse() Error adding cyclic function, stats 4294967290"));
    EXPECT_EQ(CallsOf(APC_initbus).size(), 1u);
    EXPECT_EQ(LoadCyclicCount(&state()), 1);
}

TEST_F(BlockParserTest, AfterNumber255TheChannelGetsNoMoreFunctions) {
    state().channelLastCyc[3] = 254;
    ASSERT_EQ(Block("3_1_W_0_S100", 2), 0);
    EXPECT_EQ(Number(), 255);
    KvxLogClear();
    ASSERT_EQ(Block("3_1_W_0_S100", 2), 0);
    EXPECT_EQ(Number(), -1);
    EXPECT_EQ(Log(), (std::vector<LogLine>{
                         {kLogTrace, "RIREVI: GetFreeAddr() 16BIT 2"},
                         {kLogError, "RIREVI: BlockParse() Warning > 255 cyclic functions defined"},
                     }));
    EXPECT_EQ(state().channelLastCyc[3], 255);
    EXPECT_EQ(state().nextFreeWord, 4);  // the area is not given back
    ASSERT_EQ(Block("4_1_W_0_S100", 2), 0);
    EXPECT_EQ(Number(), 1);
}

TEST_F(BlockParserTest, Channel31GetsNoCyclicFunction) {
    const uint16_t nextFreeBit = state().nextFreeBit;  // lies right after the 31 counters
    ASSERT_EQ(Block("31_1_W_0_S100", 2), 0);
    EXPECT_EQ(Number(), -1);
    EXPECT_EQ(Log(),
              (std::vector<LogLine>{{kLogError,
                                     "RIREVI: BlockParse() no cyclic function on channel 31, gate "
                                     "'31_1_W_0_S100' read on demand"}}));
    EXPECT_TRUE(Creations().empty());
    EXPECT_EQ(state().nextFreeBit, nextFreeBit);
    EXPECT_EQ(state().nextFreeWord, 0);
    EXPECT_EQ(LoadCyclicCount(&state()), 0);
}

TEST_F(BlockParserTest, RegistryOf32PlacesIsNeverOverrun) {
    for (int i = 0; i < kRegistryChannelPlaces; ++i) {
        const std::string text = std::to_string(i % 8) + "_1_W_" + std::to_string(i) + "_S100";
        ASSERT_EQ(Block(text.c_str(), 1), 0) << text;
        EXPECT_EQ(Number(), i / 8 + 1) << text;
    }
    EXPECT_EQ(LoadCyclicCount(&state()), 32);
    ApcJournalClear();
    KvxLogClear();
    ASSERT_EQ(Block("0_1_W_99_S100", 1), 0);
    EXPECT_EQ(Number(), -1);
    EXPECT_EQ(
        Log(),
        (std::vector<LogLine>{{kLogError,
                               "RIREVI: BlockParse() Warning 32 cyclic functions registered, gate "
                               "'0_1_W_99_S100' read on demand"}}));
    EXPECT_TRUE(Creations().empty());
    EXPECT_EQ(LoadCyclicCount(&state()), 32);
    EXPECT_EQ(state().channelLastCyc[0], 4);  // no number taken
    EXPECT_EQ(state().nextFreeWord, 32);      // no area taken
    for (int i = 0; i < kRegistryChannelPlaces; ++i) {
        EXPECT_EQ(state().cyclicChannel[i], i % 8) << i;
        EXPECT_EQ(state().cyclicNumber[i], i / 8 + 1) << i;
    }
}

TEST_F(BlockParserTest, EachCyclicFunctionReleasesTheSemaphore) {
    semaphore_ = os::SemaphoreCreate(0, 1);
    ASSERT_NE(semaphore_, nullptr);
    state().initSemaphore = semaphore_;
    ASSERT_EQ(Block("0_1_W_0_S100", 1), 0);
    EXPECT_TRUE(os::SemaphoreWait(semaphore_, 0));
    EXPECT_FALSE(os::SemaphoreWait(semaphore_, 0));
    // No function, no release.
    ASSERT_EQ(Block("0_1_TI_0_S100", 1), 0);
    EXPECT_FALSE(os::SemaphoreWait(semaphore_, 0));
    // Two functions before the wait count once (the maximum is 1).
    ASSERT_EQ(Block("0_1_W_1_S100", 1), 0);
    ASSERT_EQ(Block("0_1_W_2_S100", 1), 0);
    EXPECT_TRUE(os::SemaphoreWait(semaphore_, 0));
    EXPECT_FALSE(os::SemaphoreWait(semaphore_, 0));
}

TEST_F(BlockParserTest, WordAreasGrowUpwardAndFloatsStartOnAnEvenWord) {
    ASSERT_EQ(Block("0_1_W_0_S100", 10), 0);
    EXPECT_EQ(DatabaseAddressOfLast(), 0);
    ASSERT_EQ(Block("0_1_DW_0_S100", 5), 0);
    EXPECT_EQ(DatabaseAddressOfLast(), 10);
    EXPECT_EQ(state().nextFreeWord, 20);
    ASSERT_EQ(Block("0_1_QW_0_S100", 1), 0);
    EXPECT_EQ(state().nextFreeWord, 21);
    ASSERT_EQ(Block("0_1_FW_0_S100", 3), 0);
    EXPECT_EQ(DatabaseAddressOfLast(), 22);
    EXPECT_EQ(state().nextFreeWord, 28);
    EXPECT_TRUE(HasLog(kLogTrace, "RIREVI: GetFreeAddr() FLOAT 22"));
    // Only floats align: a 32BIT area may start on an odd word.
    ASSERT_EQ(Block("0_1_W_0_S100", 1), 0);
    ASSERT_EQ(Block("0_1_DW_0_S100", 1), 0);
    EXPECT_EQ(DatabaseAddressOfLast(), 29);
}

TEST_F(BlockParserTest, ByteAreasGrowDownwardAndBitAreasUpward) {
    ASSERT_EQ(Block("0_1_BY_0_S100", 10), 0);
    EXPECT_EQ(DatabaseAddressOfLast(), 13980);
    ASSERT_EQ(Block("0_1_PBY_0_S100", 10), 0);
    EXPECT_EQ(DatabaseAddressOfLast(), 13970);
    ASSERT_EQ(Block("0_1_IBY_0_S100", 1), 0);
    EXPECT_EQ(DatabaseAddressOfLast(), 13968);
    EXPECT_EQ(state().lowestUsedByte, 13968);
    ASSERT_EQ(Block("0_1_PB_0_S100", 100), 0);
    EXPECT_EQ(DatabaseAddressOfLast(), 0);
    ASSERT_EQ(Block("0_1_PQB_0_S100", 100), 0);
    EXPECT_EQ(DatabaseAddressOfLast(), 100);
    EXPECT_EQ(state().nextFreeBit, 200);
    EXPECT_TRUE(HasLog(kLogTrace, "RIREVI: GetFreeAddr() BYTE 13968"));
    EXPECT_TRUE(HasLog(kLogTrace, "RIREVI: GetFreeAddr() BIT 100"));
}

TEST_F(BlockParserTest, FullAreasFallBackToReadingOnDemand) {
    const std::string word = "RIREVI: GetFreeAddress() Error: APPLICOM WORD DATABASE overflow";
    const std::string byte = "RIREVI: GetFreeAddress() Error: APPLICOM BYTE DATABASE overflow";
    const std::string bit = "RIREVI: GetFreeAddress() Error: APPLICOM BIT DATABASE overflow";
    const struct {
        const char* text;
        int32_t count;
        uint16_t nextFreeBit, lowestUsedByte, nextFreeWord;
        const std::string* overflow;  // null: the area is given
    } cases[] = {
        // Words end at 32000 and where the byte area begins (25000 + bytes / 2).
        {"0_1_W_0_S100", 10, 0, 14000, 31989, nullptr},
        {"0_1_W_0_S100", 10, 0, 14000, 31990, &word},
        {"0_1_W_0_S100", 10, 0, 2000, 25989, nullptr},
        {"0_1_W_0_S100", 10, 0, 2000, 25990, &word},
        {"0_1_DW_0_S100", 5, 0, 2000, 25990, &word},
        {"0_1_FW_0_S100", 5, 0, 2000, 25989, &word},  // aligned to 25990 first
        {"0_1_FW_0_S100", 5, 0, 2000, 25988, nullptr},
        // Bytes must stay above 0 and above the words.
        {"0_1_BY_0_S100", 5, 0, 10, 0, &byte},
        {"0_1_BY_0_S100", 5, 0, 11, 0, nullptr},
        {"0_1_PBY_0_S100", 1000, 0, 3000, 25999, nullptr},
        {"0_1_PBY_0_S100", 1000, 0, 3000, 26000, &byte},
        // Bits end at 32000.
        {"0_1_PB_0_S100", 10, 31989, 14000, 0, nullptr},
        {"0_1_PB_0_S100", 10, 31990, 14000, 0, &bit},
    };
    for (const auto& c : cases) {
        InitDriverState(&state());
        state().cardOpen = 1;
        state().cyclicCount = 0;
        state().nextFreeBit = c.nextFreeBit;
        state().lowestUsedByte = c.lowestUsedByte;
        state().nextFreeWord = c.nextFreeWord;
        KvxLogClear();
        ApcJournalClear();
        ASSERT_EQ(Block(c.text, c.count), 0) << c.text << " " << c.nextFreeWord;
        if (c.overflow == nullptr) {
            EXPECT_EQ(Number(), 1) << c.text << " " << c.nextFreeWord;
            continue;
        }
        EXPECT_EQ(Number(), -1) << c.text;
        EXPECT_EQ(Log(), (std::vector<LogLine>{
                             {kLogError, *c.overflow},
                             {kLogError, "RIREVI: BlockParse() calling WAIT function in stead"}}))
            << c.text << " " << c.nextFreeWord;
        EXPECT_TRUE(Creations().empty());
        EXPECT_EQ(state().channelLastCyc[0], 1) << c.text;  // the number is used up
        EXPECT_EQ(state().nextFreeBit, c.nextFreeBit);
        EXPECT_EQ(state().lowestUsedByte, c.lowestUsedByte);
        EXPECT_EQ(state().nextFreeWord, c.nextFreeWord);
    }
}

TEST_F(BlockParserTest, GetFreeAddressRefusesOtherKindsAndNonByteTypes) {
    std::memset(&block_, 0, sizeof block_);
    block_.elementCount = 4;
    block_.address.memoryType = kW;
    request_.parameters = &block_;
    EXPECT_EQ(GetFreeAddress(&request_, DatabaseKind::Byte), 65535);
    EXPECT_EQ(
        Log(),
        (std::vector<LogLine>{{kLogError, "RIREVI: GetFreeAddress() Error: illegal byte type"}}));
    KvxLogClear();
    EXPECT_EQ(GetFreeAddress(&request_, DatabaseKind::None), 65535);
    EXPECT_EQ(GetFreeAddress(&request_, static_cast<DatabaseKind>(6)), 65535);
    EXPECT_TRUE(Log().empty());
    EXPECT_EQ(state().lowestUsedByte, 14000);
    EXPECT_EQ(state().nextFreeWord, 0);
    // A negative count is no area at all.
    block_.elementCount = -1;
    EXPECT_EQ(GetFreeAddress(&request_, DatabaseKind::Word16), 65535);
    EXPECT_EQ(GetFreeAddress(&request_, DatabaseKind::Bit), 65535);
    EXPECT_EQ(state().nextFreeBit, 0);
}

TEST_F(BlockParserTest, TheSameAddressTwiceMakesTwoFunctions) {
    ASSERT_EQ(Block("1_2_W_10_S200", 4), 0);
    EXPECT_EQ(Number(), 1);
    ASSERT_EQ(Block("1_2_W_10_S200", 4), 0);
    EXPECT_EQ(Number(), 2);
    const std::vector<ApcCall> calls = Creations();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].args[9], 0);
    EXPECT_EQ(calls[1].args[9], 4);
    EXPECT_EQ(LoadCyclicCount(&state()), 2);
}

}  // namespace
}  // namespace qun_test
