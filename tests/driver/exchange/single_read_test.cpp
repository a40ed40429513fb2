// Single reads through QunMain code 5, and StoreData's conversions.
#include <array>

#include "driver/exchange/read.h"
#include "tests/driver/exchange/exchange_fixture.h"

namespace qun_test {
namespace {

using SingleReadTest = ExchangeTest;
constexpr uint8_t E = kUntouched;

TEST_F(SingleReadTest, EachTypeCallsItsRoutineInItsForm) {
    struct Case {
        uint16_t type;
        const char* routine;
    };
    const Case cases[] = {
        {kPB, "readpackbit"},     {kPIB, "readpackibit"}, {kPQB, "readpackqbit"},
        {kQCKB, "readquickbit"},  {kBY, "readbyte"},      {kIBY, "readibyte"},
        {kQBY, "readqbyte"},      {kPBY, "readpackbyte"}, {kPIBY, "readpackibyte"},
        {kPQBY, "readpackqbyte"}, {kW, "readword"},       {kIW, "readiword"},
        {kQW, "readqword"},       {kBCDW, "readwordbcd"}, {kDW, "readdword"},
        {kFW, "readfword"},       {kTI, "readtimer"},     {kCO, "readcounter"},
        {kMPB, "getpackbit"},     {kMB, "getpackbit"},    {kMY, "getpackbyte"},
        {kMW, "getword"},         {kMD, "getdword"},      {kMF, "getfword"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.routine);
        ApcJournalClear();
        Gate(c.type, 6, 2);  // written as address 12
        ASSERT_EQ(0, Call(5, &transfer_));
        ASSERT_EQ(std::vector<std::string>{c.routine}, Routines());
        if (c.type == kQCKB)
            EXPECT_EQ((std::vector<int32_t>{kChannel, kEquipment}), Args(0));
        else if (c.type >= kMPB)  // the station's channel is the card number
            EXPECT_EQ((std::vector<int32_t>{kChannel, 1, 12}), Args(0));
        else
            EXPECT_EQ((std::vector<int32_t>{kChannel, kEquipment, 1, 12}), Args(0));
    }
}

TEST_F(SingleReadTest, StatusReactions) {
    struct Case {
        std::vector<int16_t> statuses;
        uint32_t retryCount;
        int32_t result;
        int reads;
        int initbus;
        bool stored;
    };
    const Case cases[] = {
        {{2, 2, 2}, 3, 1, 3, 0, false},
        {{3, 0}, 3, 0, 2, 0, true},
        {{4, 4}, 2, 1, 2, 0, false},
        {{5}, 3, 0, 1, 0, false},  // busy: success, the old value kept
        {{45, 0}, 3, 0, 2, 1, true},
        {{45, 45, 0}, 3, 0, 3, 1, true},  // a second 45 fails the attempt
        {{45, 45, 45, 45}, 2, 2, 4, 2, false},
        {{1, 1, 1}, 3, 2, 3, 0, false},
        {{-3}, 1, 2, 1, 0, false},
        {{70, 70}, 2, 1, 2, 0, false},
        {{2, 0}, 0, 1, 1, 0, false},  // retryCount 0 is one attempt
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.statuses));
        ApcJournalClear();
        std::memset(value_, E, sizeof value_);
        PokeWord(APC_AREA_WORD, 100, 0x1234);
        state().retryCount = c.retryCount;
        Script(APC_readword, c.statuses);
        EXPECT_EQ(c.result, Call(5, &transfer_));
        EXPECT_EQ(c.reads, ApcJournalCountOf(APC_readword));
        EXPECT_EQ(c.initbus, ApcJournalCountOf(APC_initbus));
        EXPECT_EQ(c.stored ? 0x1234 : 0xEEEE, Value16());
        EXPECT_EQ(E, value_[0]);
        ApcReset();
        int16_t status = 0;
        initbus(&status);
    }
}

TEST_F(SingleReadTest, TracesOfFailedAndGoodReads) {
    Script(APC_readword, {2, 2, 2, 0});
    EXPECT_EQ(1, Call(5, &transfer_));
    EXPECT_EQ(Log(), (std::vector<LogLine>{
                         {8, "RIREVI: SingleRead() entered. Tag 'T1'"},
                         {8, "RIREVI: Error detected; retry number 1 "},
                         {8, "RIREVI: Error detected; retry number 2 "},
                         {8, "RIREVI: Error detected; retry number 3 "},
                         {8, "RIREVI: SingleRead() exited. Tag 'T1' rc = 1"},
                     }));
    const int32_t from = static_cast<int32_t>(Log().size());
    EXPECT_EQ(0, Call(5, &transfer_));
    EXPECT_EQ(LogFrom(from), (std::vector<LogLine>{
                                 {8, "RIREVI: SingleRead() entered. Tag 'T1'"},
                                 {8, "RIREVI: SingleRead() OK"},
                                 {8, "RIREVI: SingleRead() exited. Tag 'T1' rc = 0"},
                             }));
}

TEST_F(SingleReadTest, BusyPausesThirtyMilliseconds) {
    Script(APC_readword, {5});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(0, Call(5, &transfer_));
    EXPECT_GE(MillisecondsSince(start), 29.0);
}

TEST_F(SingleReadTest, RemoteErrorTracesAndPausesTimeout) {
    state().retryCount = 1;
    state().timeoutMs = 120;
    Script(APC_readword, {70});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(1, Call(5, &transfer_));
    EXPECT_GE(MillisecondsSince(start), 119.0);
    EXPECT_TRUE(HasLog(8, "RIREVI: COMM_ERR_BY_REMOTE Sleeping for 120"));
}

TEST_F(SingleReadTest, RefusesHostileTransfersBeforeAnyCardCall) {
    struct Case {
        const char* name;
        void (*spoil)(GateTransfer&);
        int32_t result;
        const char* message;
    };
    const Case cases[] = {
        {"memtype", [](GateTransfer& t) { t.address.memoryType = 24; }, 1,
         "RIREVI: DoRead() illegal memtype 'T1'"},
        {"station", [](GateTransfer& t) { t.address.stationIndex = 256; }, 2,
         "RIREVI: DoRead() illegal station index 256. Tag 'T1'"},
        {"negative station", [](GateTransfer& t) { t.address.stationIndex = -1; }, 2,
         "RIREVI: DoRead() illegal station index -1. Tag 'T1'"},
        {"count 0", [](GateTransfer& t) { t.count = 0; }, 2,
         "RIREVI: DoRead() illegal count 0, the card buffer holds 1 to 512 elements. Tag 'T1'"},
        {"negative count", [](GateTransfer& t) { t.count = -1; }, 2,
         "RIREVI: DoRead() illegal count -1, the card buffer holds 1 to 512 elements. Tag 'T1'"},
        {"too many words", [](GateTransfer& t) { t.count = 513; }, 2,
         "RIREVI: DoRead() illegal count 513, the card buffer holds 1 to 512 elements. Tag 'T1'"},
        {"bit past the word", [](GateTransfer& t) { t.address.bitOrCyclicNumber = 16; }, 2,
         "RIREVI: DoRead() illegal bit number 16. Tag 'T1'"},
        {"bit below -1", [](GateTransfer& t) { t.address.bitOrCyclicNumber = -2; }, 2,
         "RIREVI: DoRead() illegal bit number -2. Tag 'T1'"},
        {"no value buffer", [](GateTransfer& t) { t.value = nullptr; }, 2,
         "RIREVI: DoRead() no value buffer. Tag 'T1'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        KvxReset();
        Gate(kW, 100);
        c.spoil(transfer_);
        EXPECT_EQ(c.result, Call(5, &transfer_));
        EXPECT_EQ(3, CountLog(c.message));  // once per attempt
        EXPECT_EQ(0, ApcJournalCount());
    }
    // Types whose elements allow no bit number, and the float's.
    for (uint16_t type : {kPB, kFW, kMF}) {
        Gate(type, 0, 1, 0);
        EXPECT_EQ(2, Call(5, &transfer_));
    }
    Gate(kPB, 0, 1, -1, 8193);
    EXPECT_EQ(2, Call(5, &transfer_));
    EXPECT_EQ(0, ApcJournalCount());
}

TEST_F(SingleReadTest, LargestTransfersThatFitTheCardBuffer) {
    Gate(kW, 0, 1, -1, 512);
    EXPECT_EQ(0, Call(5, &transfer_));
    Gate(kPB, 0, 1, -1, 8192);
    EXPECT_EQ(0, Call(5, &transfer_));
    EXPECT_EQ(512, Args(0)[2]);
    EXPECT_EQ(8192, Args(1)[2]);
}

using StoreDataTest = ExchangeTest;

TEST_F(StoreDataTest, SingleGateConversions) {
    struct Case {
        uint16_t type;
        int32_t gateType;
        int32_t bit;
        uint32_t elementAddress;
        std::array<uint8_t, 4> data;
        std::array<uint8_t, 4> value;  // value32 bytes; value16 is bytes 2 and 3
    };
    const Case cases[] = {
        {kPB, 0, -1, 0, {0x03, 0x00}, {E, E, 1, 0}},
        {kMB, 0, -1, 0, {0x02, 0x00}, {E, E, 0, 0}},
        {kQCKB, 0, -1, 5, {0x20, 0x00}, {E, E, 1, 0}},
        {kQCKB, 0, -1, 4, {0x20, 0x00}, {E, E, 0, 0}},
        {kQCKB, 0, -1, 12, {0x00, 0x10}, {E, E, 1, 0}},
        {kBY, 0, -1, 0, {0xF0, 0x12}, {E, E, 0xF0, 0x12}},  // the whole word
        {kBY, 1, -1, 0, {0xF0, 0x12}, {E, E, 0xF0, 0xFF}},  // the byte, signed
        {kIBY, 1, -1, 0, {0x70, 0x12}, {E, E, 0x70, 0x00}},
        {kQBY, 1, 15, 0, {0x80, 0x00}, {E, E, 1, 0}},  // the sign's bit
        {kPBY, 1, -1, 0, {0xF0, 0x12}, {E, E, 0xF0, 0xFF}},
        {kPBY, 0, -1, 0, {0xF0, 0x12}, {E, E, 0xF0, 0x00}},
        {kMY, 0, 7, 0, {0x80, 0x00}, {E, E, 1, 0}},
        {kW, 0, 3, 0, {0x08, 0x00}, {E, E, 1, 0}},
        {kW, 0, 3, 0, {0xF7, 0xFF}, {E, E, 0, 0}},
        {kCO, 1, -1, 0, {0x34, 0x12}, {E, E, 0x34, 0x12}},
        {kMW, 0, 15, 0, {0x00, 0x80}, {E, E, 1, 0}},
        {kDW, 0, 17, 0, {0x05, 0x00, 0x02, 0x00}, {0x05, 0x00, 1, 0}},
        {kDW, 0, -1, 0, {0x78, 0x56, 0x34, 0x12}, {0x78, 0x56, 0x34, 0x12}},
        {kMD, 0, 31, 0, {0x00, 0x00, 0x00, 0x80}, {0x00, 0x00, 1, 0}},
        {kFW, 0, -1, 0, {0x00, 0x00, 0x80, 0x80}, {0x00, 0x00, 0x80, 0x80}},
        {kMF, 0, -1, 0, {0x01, 0x02, 0x03, 0x04}, {0x01, 0x02, 0x03, 0x04}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << kMemoryTypes[c.type].mnemonic << " bit " << c.bit
                                          << " gateType " << c.gateType);
        std::memset(value_, E, sizeof value_);
        Gate(c.type, c.elementAddress, 1, c.bit);
        transfer_.gateType = c.gateType;
        uint8_t data[8] = {};
        std::memcpy(data, c.data.data(), 4);
        StoreData(&transfer_, data, 5);
        EXPECT_EQ(c.value, (std::array<uint8_t, 4>{value_[0], value_[1], value_[2], value_[3]}));
    }
}

TEST_F(StoreDataTest, BlockCopiesPackedBytes) {
    struct Case {
        uint16_t type;
        int32_t count;
        size_t bytes;
    };
    const Case cases[] = {{kW, 10, 20}, {kPB, 10, 2}, {kBY, 10, 20}, {kPBY, 3, 3},
                          {kDW, 2, 8},  {kFW, 1, 4},  {kMPB, 9, 2},  {kMF, 3, 12}};
    uint8_t data[64];
    for (size_t i = 0; i < sizeof data; ++i) data[i] = static_cast<uint8_t>(i + 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(kMemoryTypes[c.type].mnemonic);
        std::memset(value_, E, sizeof value_);
        Gate(c.type, 0, 1, -1, c.count);
        StoreData(&transfer_, data, 6);
        EXPECT_EQ(0, std::memcmp(value_, data, c.bytes));
        EXPECT_EQ(E, value_[c.bytes]);
    }
    // Quick bits: one byte, from the gate's bit on, unmasked.
    std::memset(value_, E, sizeof value_);
    Gate(kQCKB, 2, 1, -1, 4);
    data[0] = 0xB4;
    StoreData(&transfer_, data, 6);
    EXPECT_EQ(0x2D, value_[0]);
    EXPECT_EQ(E, value_[1]);
}

}  // namespace
}  // namespace qun_test
