// Gates parsed through QunMain code 3 or 4, then read and written through
// codes 5, 6 and 7 with the stand-in card, as a host does it.
#include "driver/address/parse_block.h"
#include "tests/driver/exchange/exchange_fixture.h"

namespace qun_test {
namespace {

class EndToEndTest : public ExchangeTest {
protected:
    void SetUp() override {
        ExchangeTest::SetUp();
        InitDriverState(&state());
        state().retryCount = 3;
        state().timeoutMs = 0;
        state().balanceFree = 1;
        PublishCyclicCount(&state(), 0);  // as a cold start leaves them
        state().initSemaphore = nullptr;
    }
    // Parses text with code 3 into transfer_; the parser's result.
    int32_t ParseSingle(const char* text, int32_t gateType) {
        ParseBlock block{};
        block.addressText = text;
        block.gateType = gateType;
        const int32_t result = Call(3, &block);
        Gate(0, 0);
        transfer_.address = block.address;
        transfer_.gateType = gateType;
        return result;
    }
};

TEST_F(EndToEndTest, EveryMemoryTypeParsedAndRead) {
    struct Case {
        const char* text;
        int32_t gateType;
        const char* routine;
        std::vector<int32_t> args;
    };
    const Case cases[] = {
        {"2_7_PB_100", 6, "readpackbit", {2, 7, 1, 100}},
        {"2_7_PIB_100", 6, "readpackibit", {2, 7, 1, 100}},
        {"2_7_PQB_100", 6, "readpackqbit", {2, 7, 1, 100}},
        {"2_7_QCKB_4", 6, "readquickbit", {2, 7}},
        {"2_7_BY_100", 0, "readbyte", {2, 7, 1, 100}},
        {"2_7_IBY_100", 1, "readibyte", {2, 7, 1, 100}},
        {"2_7_QBY_100", 0, "readqbyte", {2, 7, 1, 100}},
        {"2_7_PBY_100", 0, "readpackbyte", {2, 7, 1, 100}},
        {"2_7_PIBY_100", 0, "readpackibyte", {2, 7, 1, 100}},
        {"2_7_pqby_100", 0, "readpackqbyte", {2, 7, 1, 100}},
        {"2_7_W_100", 0, "readword", {2, 7, 1, 100}},
        {"2_7_IW_100", 0, "readiword", {2, 7, 1, 100}},
        {"2_7_QW_100", 0, "readqword", {2, 7, 1, 100}},
        {"2_7_BCDW_100", 0, "readwordbcd", {2, 7, 1, 100}},
        {"2_7_DW_100", 4, "readdword", {2, 7, 1, 100}},
        {"2_7_FW_100", 3, "readfword", {2, 7, 1, 100}},
        {"2_7_TI_100", 0, "readtimer", {2, 7, 1, 100}},
        {"2_7_CO_100", 0, "readcounter", {2, 7, 1, 100}},
        {"2_0_MPB_100", 6, "getpackbit", {2, 1, 100}},
        {"2_0_MB_100", 6, "getpackbit", {2, 1, 100}},
        {"2_0_MY_100", 0, "getpackbyte", {2, 1, 100}},
        {"2_0_MW_100", 0, "getword", {2, 1, 100}},
        {"2_0_MD_100", 4, "getdword", {2, 1, 100}},
        {"2_0_MF_100", 3, "getfword", {2, 1, 100}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        ApcJournalClear();
        ASSERT_EQ(0, ParseSingle(c.text, c.gateType));
        EXPECT_EQ(0, Call(5, &transfer_));
        ASSERT_EQ(std::vector<std::string>{c.routine}, Routines());
        EXPECT_EQ(c.args, Args(0));
    }
}

TEST_F(EndToEndTest, ValuesReachTheHostAndTheEquipment) {
    ASSERT_EQ(0, ParseSingle("2_7_W_100_B3", 6));
    PokeWord(APC_AREA_WORD, 100, 0x0008);
    EXPECT_EQ(0, Call(5, &transfer_));
    EXPECT_EQ(1, Value16());
    SetValue16(0);  // clear bit 3 and set nothing else
    EXPECT_EQ(0, Call(7, &transfer_));
    uint16_t word = 0xFFFF;
    ApcPeek(kChannel, kEquipment, APC_AREA_WORD, 100, &word, 1);
    EXPECT_EQ(0, word);

    ASSERT_EQ(0, ParseSingle("2_0_MW_10", 0));
    const uint16_t stored = 0xBEEF;
    ApcPokeDatabaseWords(2, 10, &stored, 1);
    EXPECT_EQ(0, Call(5, &transfer_));
    EXPECT_EQ(0xBEEF, Value16());
}

TEST_F(EndToEndTest, BlockGateWithCyclicFunctionIsWrittenBalanceFree) {
    state().cardOpen = 1;
    ApcSetCyclicManual(1);
    ParseBlock block{};
    block.addressText = "2_7_W_100_S1000";
    block.elementCount = 10;
    ASSERT_EQ(0, Call(4, &block));
    ASSERT_NE(-1, block.address.bitOrCyclicNumber);
    GateTransfer blockGate{};
    blockGate.tagName = "B1";
    blockGate.address = block.address;
    blockGate.count = 10;
    uint8_t blockValue[20] = {};
    blockGate.value = blockValue;
    ApcCyclicStep();

    ASSERT_EQ(0, ParseSingle("2_7_W_105", 0));
    SetValue16(0x1234);
    ApcJournalClear();
    EXPECT_EQ(0, Call(7, &transfer_));
    EXPECT_EQ(
        (std::vector<std::string>{"AppGetCycParam", "stopcyc", "writeword", "setword", "startcyc"}),
        Routines());
    EXPECT_EQ(0, Call(6, &blockGate));
    EXPECT_EQ(0x34, blockValue[10]);
    EXPECT_EQ(0x12, blockValue[11]);
}

}  // namespace
}  // namespace qun_test
