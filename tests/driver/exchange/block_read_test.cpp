// Block reads through QunMain code 6: on demand, and from cyclic functions.
#include "tests/driver/exchange/exchange_fixture.h"

namespace qun_test {
namespace {

class BlockReadTest : public ExchangeTest {
protected:
    void SetUp() override {
        ExchangeTest::SetUp();
        for (uint16_t i = 0; i < 12; ++i) PokeWord(APC_AREA_WORD, 100 + i, 0x0101 * (i + 1));
    }
    // A W block of count elements at 100, read by cyclic function 4.
    void CyclicGate(int32_t count = 10) {
        ASSERT_EQ(0, CreateCyclic(4, kW, 10, 100, 0));
        Gate(kW, 100, 1, 4, count);
    }
    bool HoldsWords(int count) const {
        for (int i = 0; i < count; ++i)
            if (value_[2 * i] != i + 1 || value_[2 * i + 1] != i + 1) return false;
        return true;
    }
};

TEST_F(BlockReadTest, WithoutCyclicFunctionReadsOnDemand) {
    Gate(kW, 100, 1, -1, 10);
    EXPECT_EQ(0, Call(6, &transfer_));
    EXPECT_EQ(std::vector<std::string>{"readword"}, Routines());
    EXPECT_EQ((std::vector<int32_t>{kChannel, kEquipment, 10, 100}), Args(0));
    EXPECT_TRUE(HoldsWords(10));
    EXPECT_EQ(kUntouched, value_[20]);
    EXPECT_TRUE(Log().empty());
}

TEST_F(BlockReadTest, WaitModeAttemptsLikeSingleReads) {
    Gate(kW, 100, 1, -1, 10);
    Script(APC_readword, {3, 3, 3});
    EXPECT_EQ(1, Call(6, &transfer_));
    EXPECT_EQ(3, ApcJournalCountOf(APC_readword));
    EXPECT_EQ(1, CountLog("RIREVI: Error detected; retry number 3 "));
    state().retryCount = 0;  // still one attempt
    Script(APC_readword, {3, 3});
    EXPECT_EQ(1, Call(6, &transfer_));
    EXPECT_EQ(4, ApcJournalCountOf(APC_readword));
}

TEST_F(BlockReadTest, CyclicFunctionDeliversPackedElements) {
    struct Case {
        uint16_t type;
        size_t bytes;
    };
    // Ten elements of each: words, packed bits, bytes carried as words.
    for (const Case& c : {Case{kW, 20}, Case{kPB, 2}, Case{kBY, 20}, Case{kDW, 40}}) {
        SCOPED_TRACE(kMemoryTypes[c.type].mnemonic);
        std::memset(value_, kUntouched, sizeof value_);
        const int16_t cyclicNumber = static_cast<int16_t>(c.type + 1);
        ASSERT_EQ(0, CreateCyclic(cyclicNumber, c.type, 10, 0, 0));
        Gate(c.type, 0, 1, cyclicNumber, 10);
        uint8_t image[64];
        int16_t channel = kChannel, number = cyclicNumber, out1, out2, status;
        transcycpack(&channel, &number, &out1, &out2, image, &status);
        ASSERT_EQ(0, status);
        ApcJournalClear();
        EXPECT_EQ(0, Call(6, &transfer_));
        EXPECT_EQ(std::vector<std::string>{"transcycpack"}, Routines());
        EXPECT_EQ((std::vector<int32_t>{kChannel, cyclicNumber}), Args(0));
        EXPECT_EQ(0, std::memcmp(value_, image, c.bytes));
        EXPECT_EQ(kUntouched, value_[c.bytes]);
    }
}

TEST_F(BlockReadTest, CardBufferIsZeroedBeforeCollecting) {
    CyclicGate(12);  // the gate asks for two elements more than the function has
    std::memset(state().cardBuffer, 0x5A, sizeof state().cardBuffer);
    EXPECT_EQ(0, Call(6, &transfer_));
    EXPECT_TRUE(HoldsWords(10));
    EXPECT_EQ(std::vector<uint8_t>(4, 0), std::vector<uint8_t>(value_ + 20, value_ + 24));
}

TEST_F(BlockReadTest, CyclicStatusReactions) {
    const std::string error = "RIREVI: CyclFuncRead() func. 4 error retry ";
    const std::string notYet =
        "RIREVI: CyclFuncRead() transycpack(func.4) data not read yet, stat. 35";
    const std::string remote = "RIREVI: COMM_ERR_BY_REMOTE Sleeping for 0 ms";
    const std::string after1 =
        "RIREVI: CyclFuncRead() transycpack(func.4) succeeded after 1 retries";
    // The card's routines in the order called: a 45 reopens the card before reading again.
    const std::string t = "transcycpack", init = "initbus";
    struct Case {
        std::vector<int16_t> statuses;
        uint32_t retryCount;
        int32_t result;
        std::vector<std::string> routines;
        std::vector<std::string> log;
    };
    const Case cases[] = {
        {{35, 0}, 3, 0, {t, t}, {error + "1", notYet, after1}},
        {{35, 35, 35},
         3,
         1,
         {t, t, t},
         {error + "1", notYet, error + "2", notYet, error + "3", notYet}},
        {{5}, 3, 2, {t}, {error + "1"}},
        {{70, 70}, 2, 1, {t, t}, {error + "1", remote, error + "2", remote}},
        {{45, 0}, 3, 0, {t, init, t}, {}},
        {{45, 45, 0},
         3,
         0,
         {t, init, t, t},
         {error + "1", "RIREVI: CyclFuncRead() transycpack(func.4) stat. 45", after1}},
        {{3, 4},
         2,
         1,
         {t, t},
         {error + "1", "RIREVI: CyclFuncRead() transycpack(func.4) stat. 3", error + "2",
          "RIREVI: CyclFuncRead() transycpack(func.4) stat. 4"}},
        {{1}, 1, 2, {t}, {error + "1", "RIREVI: CyclFuncRead() transycpack(func.4) stat. 1"}},
        {{35, 35}, 0, 1, {t}, {error + "1", notYet}},  // retryCount 0: one attempt
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.statuses));
        ApcReset();
        KvxReset();
        int16_t status = 0;
        initbus(&status);
        for (uint16_t i = 0; i < 12; ++i) PokeWord(APC_AREA_WORD, 100 + i, 0x0101 * (i + 1));
        std::memset(value_, kUntouched, sizeof value_);
        CyclicGate();
        state().retryCount = c.retryCount;
        Script(APC_transcycpack, c.statuses);
        EXPECT_EQ(c.result, Call(6, &transfer_));
        EXPECT_EQ(c.routines, Routines());
        EXPECT_EQ(c.log, LogTexts());
        for (const LogLine& line : Log()) EXPECT_EQ(8, line.level) << line.text;  // traces
        EXPECT_EQ(c.result == 0, HoldsWords(10));
        if (c.result != 0) {
            EXPECT_EQ(kUntouched, value_[0]);
        }
    }
}

TEST_F(BlockReadTest, InactiveFunctionFallsBackToOneWaitModeRead) {
    CyclicGate();
    Script(APC_transcycpack, {-6});
    Script(APC_readword, {3, 0});
    EXPECT_EQ(1, Call(6, &transfer_));  // the wait-mode read's own result, not retried
    EXPECT_EQ((std::vector<std::string>{"transcycpack", "readword"}), Routines());
    EXPECT_EQ(Log(), (std::vector<LogLine>{
                         {8, "RIREVI: CyclFuncRead() func. 4 error retry 1"},
                         {8,
                          "RIREVI: CyclFuncRead() func. 4 not active anymore => calling "
                          "wait-mode read"},
                     }));
    Script(APC_transcycpack, {-6});
    EXPECT_EQ(0, Call(6, &transfer_));
    EXPECT_TRUE(HoldsWords(10));
}

TEST_F(BlockReadTest, BusyEndsAttemptsAfterTwoPauses) {
    CyclicGate();
    state().timeoutMs = 60;
    Script(APC_transcycpack, {5, 5, 5});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(2, Call(6, &transfer_));
    EXPECT_GE(MillisecondsSince(start), 119.0);
    EXPECT_EQ(1, ApcJournalCountOf(APC_transcycpack));
}

TEST_F(BlockReadTest, RefusesBlocksBeyondTheCardBuffer) {
    CyclicGate(513);
    EXPECT_EQ(2, Call(6, &transfer_));
    EXPECT_TRUE(HasLog(32,
                       "RIREVI: CyclFuncRead() illegal count 513, the card buffer holds 1 to 512 "
                       "elements. Tag 'T1'"));
    Gate(kW, 100, 1, -1, 513);
    EXPECT_EQ(2, Call(6, &transfer_));
    transfer_.address.memoryType = 30;
    transfer_.address.bitOrCyclicNumber = 4;
    EXPECT_EQ(2, Call(6, &transfer_));
    EXPECT_TRUE(HasLog(32, "RIREVI: CyclFuncRead() illegal memtype 'T1'"));
    EXPECT_EQ(0, ApcJournalCount());
}

}  // namespace
}  // namespace qun_test
