// Writes through QunMain codes 7 and 10: routines, PutData's conversions,
// the read-modify-write of special digital gates and the balance-free steps.
#include "driver/exchange/write.h"

#include <array>

#include "driver/entry/function_codes.h"
#include "tests/driver/exchange/exchange_fixture.h"

namespace qun_test {
namespace {

constexpr uint8_t E = kUntouched;
constexpr int32_t kWordCode = 0x1005;

class WriteTest : public ExchangeTest {
protected:
    struct Record {
        int32_t typeCode, equipment, size, start, database, state;
    };
    // What AppGetCycParam answers for number on the gate's channel.
    static void ScriptRecord(int16_t number, Record r, int16_t status = 0) {
        uint8_t record[256] = {};
        const int32_t fields[][2] = {{4, r.typeCode}, {12, r.equipment}, {16, r.size},
                                     {20, r.start},   {24, r.database},  {40, r.state}};
        for (const auto& field : fields) std::memcpy(record + field[0], &field[1], 4);
        ApcScriptCycParam(kChannel, number, record, status);
    }
    void BalanceFree(uint16_t first, uint16_t last) {
        state().balanceFree = 1;
        state().channelFirstCyc[kChannel] = first;
        state().channelLastCyc[kChannel] = last;
    }
    // Numbers handed to AppGetCycParam, stopcyc and startcyc.
    static std::vector<int32_t> NumbersOf(int32_t routine) {
        std::vector<int32_t> numbers;
        for (int32_t i = 0; i < ApcJournalCount(); ++i)
            if (CallAt(i).routine == routine) numbers.push_back(CallAt(i).args[1]);
        return numbers;
    }
};

TEST_F(WriteTest, EachWritableTypeCallsItsRoutineInItsForm) {
    struct Case {
        uint16_t type;
        const char* routine;
    };
    const Case cases[] = {
        {kPB, "writepackbit"}, {kPQB, "writepackqbit"}, {kBY, "writebyte"},
        {kQBY, "writeqbyte"},  {kPBY, "writepackbyte"}, {kPQBY, "writepackqbyte"},
        {kW, "writeword"},     {kQW, "writeqword"},     {kBCDW, "writewordbcd"},
        {kDW, "writedword"},   {kFW, "writefword"},     {kTI, "writetimer"},
        {kCO, "writecounter"}, {kMPB, "setpackbit"},    {kMB, "setbit"},
        {kMY, "setpackbyte"},  {kMW, "setword"},        {kMD, "setdword"},
        {kMF, "setfword"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.routine);
        ApcJournalClear();
        Gate(c.type, 6, 2);  // written as address 12
        SetValue32(0);
        ASSERT_EQ(0, Call(7, &transfer_));
        ASSERT_EQ(std::vector<std::string>{c.routine}, Routines());
        if (c.type >= kMPB)  // the station's channel is the card number
            EXPECT_EQ((std::vector<int32_t>{kChannel, 1, 12}), Args(0));
        else
            EXPECT_EQ((std::vector<int32_t>{kChannel, kEquipment, 1, 12}), Args(0));
    }
}

TEST_F(WriteTest, InputTypesAreRefusedWithoutCardCall) {
    for (uint16_t type : std::vector<uint16_t>{kPIB, kQCKB, kIBY, kPIBY, kIW, 24, 0xFFFF}) {
        SCOPED_TRACE(type);
        KvxReset();
        Gate(type, 0);
        EXPECT_EQ(1, Call(7, &transfer_));
        EXPECT_EQ(1, Call(10, &transfer_));
        EXPECT_EQ(2, CountLog("RIREVI> PutData() illegal memtype 'T1'"));
    }
    EXPECT_EQ(0, ApcJournalCount());
}

TEST_F(WriteTest, RefusesHostileTransfersBeforeAnyCardCall) {
    Gate(kW, 100);
    transfer_.address.stationIndex = 300;
    EXPECT_EQ(2, Call(7, &transfer_));
    EXPECT_TRUE(HasLog(32, "RIREVI: DoWrite() illegal station index 300. Tag 'T1'"));
    Gate(kW, 100, 1, -1, 0);
    EXPECT_EQ(2, Call(10, &transfer_));
    Gate(kDW, 100, 1, -1, 257);
    EXPECT_EQ(2, Call(10, &transfer_));
    EXPECT_TRUE(HasLog(
        32,
        "RIREVI: DoWrite() illegal count 257, the card buffer holds 1 to 256 elements. Tag 'T1'"));
    Gate(kMY, 100, 1, 8);
    EXPECT_EQ(2, Call(7, &transfer_));
    EXPECT_EQ(0, ApcJournalCount());
    Gate(kDW, 0, 1, -1, 256);
    EXPECT_EQ(0, Call(10, &transfer_));
}

TEST_F(WriteTest, WriteStatusTable) {
    struct Case {
        std::vector<int16_t> statuses;
        int32_t result;
        int writes;
    };
    const Case cases[] = {
        {{0}, 0, 1}, {{45, 0}, 0, 2}, {{45, 45}, 2, 2}, {{45, 3}, 1, 2}, {{2}, 1, 1},
        {{3}, 1, 1}, {{4}, 1, 1},     {{70}, 2, 1},     {{1}, 2, 1},     {{-1}, 2, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.statuses));
        ApcJournalClear();
        Script(APC_writeword, c.statuses);
        EXPECT_EQ(c.result, Call(7, &transfer_));
        EXPECT_EQ(c.writes, ApcJournalCountOf(APC_writeword));
        EXPECT_EQ(c.writes - 1, ApcJournalCountOf(APC_initbus));
    }
}

TEST_F(WriteTest, BusyWritePausesTwoHundredMilliseconds) {
    Script(APC_writeword, {5});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(0, Call(7, &transfer_));
    EXPECT_GE(MillisecondsSince(start), 199.0);
}

TEST_F(WriteTest, Traces) {
    EXPECT_EQ(0, Call(7, &transfer_));
    Gate(kW, 100, 1, -1, 3);
    EXPECT_EQ(0, Call(10, &transfer_));
    EXPECT_EQ(Log(), (std::vector<LogLine>{
                         {8, "SingleWrite() entered. Writing to tag 'T1'"},
                         {8, "SingleWrite() Writing to tag 'T1' completed. rc = 0"},
                         {8, "RIREVI: BlockWrite(). Calling DoBlockWrite() Tag 'T1' Block size 3"},
                         {8,
                          "RIREVI: BlockWrite(). DoBlockWrite() Tag 'T1' Block size 3 "
                          "completed rc = 0"},
                     }));
}

TEST_F(WriteTest, PutDataSingleGateConversions) {
    struct Case {
        uint16_t type;
        int32_t gateType;
        std::array<uint8_t, 4> value;  // the host's buffer before
        std::array<uint8_t, 4> card;   // the start of cardBuffer after
        std::array<uint8_t, 4> valueAfter;
    };
    constexpr uint8_t Z = 0x5A;  // cardBuffer before
    const Case cases[] = {
        {kPB, 0, {E, E, 5, 0}, {1, 0, Z, Z}, {E, E, 1, 0}},  // normalised, also for the host
        {kMB, 0, {E, E, 0, 0}, {0, 0, Z, Z}, {E, E, 0, 0}},
        {kPQB, 0, {E, E, 0, 1}, {1, 0, Z, Z}, {E, E, 1, 0}},
        {kBY, 0, {E, E, 0xF0, 0x12}, {0xF0, 0x12, Z, Z}, {E, E, 0xF0, 0x12}},
        {kBY, 1, {E, E, 0xF0, 0xFF}, {0xF0, 0xFF, Z, Z}, {E, E, 0xF0, 0xFF}},
        {kQBY, 1, {E, E, 0x70, 0x12}, {0x70, 0x00, Z, Z}, {E, E, 0x70, 0x12}},
        {kPBY, 0, {E, E, 0xF0, 0x12}, {0xF0, Z, Z, Z}, {E, E, 0xF0, 0x12}},
        {kMY, 1, {E, E, 0x80, 0xFF}, {0x80, Z, Z, Z}, {E, E, 0x80, 0xFF}},
        {kW, 1, {E, E, 0x34, 0x12}, {0x34, 0x12, Z, Z}, {E, E, 0x34, 0x12}},
        {kDW, 0, {0x78, 0x56, 0x34, 0x12}, {0x78, 0x56, 0x34, 0x12}, {0x78, 0x56, 0x34, 0x12}},
        {kFW, 0, {0x00, 0x00, 0x80, 0x80}, {0, 0, 0, 0}, {0x00, 0x00, 0x80, 0x80}},
        {kMF, 0, {0x00, 0x00, 0x80, 0x3F}, {0x00, 0x00, 0x80, 0x3F}, {0x00, 0x00, 0x80, 0x3F}},
        {kMF, 0, {0x01, 0x00, 0x80, 0x80}, {0x01, 0x00, 0x80, 0x80}, {0x01, 0x00, 0x80, 0x80}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << kMemoryTypes[c.type].mnemonic << " gateType " << c.gateType);
        Gate(c.type, 0);
        transfer_.gateType = c.gateType;
        std::memcpy(value_, c.value.data(), 4);
        std::memset(state().cardBuffer, Z, sizeof state().cardBuffer);
        ASSERT_EQ(0, PutData(Request(), function_code::kSingleWrite));
        const uint8_t* card = state().cardBuffer;
        EXPECT_EQ(c.card, (std::array<uint8_t, 4>{card[0], card[1], card[2], card[3]}));
        EXPECT_EQ(c.valueAfter,
                  (std::array<uint8_t, 4>{value_[0], value_[1], value_[2], value_[3]}));
    }
}

TEST_F(WriteTest, PutDataBlockCopiesUnchanged) {
    for (size_t i = 0; i < 64; ++i) value_[i] = static_cast<uint8_t>(0x80 + i);
    value_[3] = 0x80;  // a float block keeps the refused single pattern
    struct Case {
        uint16_t type;
        int32_t count;
        size_t bytes;
    };
    for (const Case& c : {Case{kW, 3, 6}, Case{kPB, 10, 2}, Case{kFW, 2, 8}, Case{kBY, 4, 8}}) {
        SCOPED_TRACE(kMemoryTypes[c.type].mnemonic);
        Gate(c.type, 0, 1, -1, c.count);
        std::memset(state().cardBuffer, 0x5A, sizeof state().cardBuffer);
        ASSERT_EQ(0, PutData(Request(), function_code::kBlockWrite));
        EXPECT_EQ(0, std::memcmp(state().cardBuffer, value_, c.bytes));
        EXPECT_EQ(0x5A, state().cardBuffer[c.bytes]);
    }
}

TEST_F(WriteTest, SpecialDigitalGateReadsChangesAndWritesTheElement) {
    struct Case {
        uint16_t type;
        int32_t area;
        uint32_t address;  // the gate's; the element is poked at area address 100
        int32_t bit;
        uint32_t element;
        uint16_t asked;
        uint32_t written;
    };
    const Case cases[] = {
        {kW, APC_AREA_WORD, 100, 4, 0x0001, 1, 0x0011},
        {kW, APC_AREA_WORD, 100, 0, 0x00FF, 0, 0x00FE},
        {kQW, APC_AREA_OUTPUT_WORD, 100, 15, 0x0000, 7, 0x8000},
        {kDW, APC_AREA_DWORD, 100, 20, 0x00000003, 1, 0x00100003},
        {kDW, APC_AREA_DWORD, 100, 31, 0xFFFFFFFF, 0, 0x7FFFFFFF},
        // Byte 200 is the low byte of word 100.
        {kPBY, APC_AREA_WORD, 200, 6, 0x00A5, 1, 0xE5},
        {kPBY, APC_AREA_WORD, 200, 7, 0x00A5, 0, 0x25},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << kMemoryTypes[c.type].mnemonic << " bit " << c.bit);
        ApcJournalClear();
        ApcPoke(kChannel, kEquipment, c.area, 100, &c.element, 1);
        Gate(c.type, c.address, 1, c.bit);
        SetValue16(c.asked);
        ASSERT_EQ(0, Call(7, &transfer_));
        ASSERT_EQ(2, ApcJournalCount());
        const std::vector<uint8_t> data = Data(1);
        const size_t bytes = kMemoryTypes[c.type].elementBits / 8;
        ASSERT_EQ(bytes, data.size());
        uint32_t written = 0;
        std::memcpy(&written, data.data(), bytes);
        EXPECT_EQ(c.written, written);
        EXPECT_EQ(c.asked != 0 ? 1 : 0, Value16());
        EXPECT_EQ(c.bit, transfer_.address.bitOrCyclicNumber);
    }
}

TEST_F(WriteTest, SpecialDigitalGateWhoseReadFailsIsNotWritten) {
    Gate(kW, 100, 1, 4);
    SetValue16(1);
    Script(APC_readword, {2, 2, 2});
    EXPECT_EQ(1, Call(7, &transfer_));
    EXPECT_EQ(std::vector<std::string>(3, "readword"), Routines());
    EXPECT_TRUE(HasLog(8, "RIREVI> PutData() read for spec. dig. gate failed"));
    EXPECT_EQ(4, transfer_.address.bitOrCyclicNumber);
    PokeWord(APC_AREA_WORD, 100, 0x0010);
    EXPECT_EQ(0, Call(5, &transfer_));  // the bit is still extracted
    EXPECT_EQ(1, Value16());
}

TEST_F(WriteTest, SpecialDigitalGateWhoseReadIsBusyIsNotWritten) {
    struct Case {
        uint16_t type;
        int32_t readRoutine;
        int32_t bit;
    };
    const Case cases[] = {
        {kW, APC_readword, 4},
        {kDW, APC_readdword, 20},
        {kPBY, APC_readpackbyte, 6},
        {kMY, APC_getpackbyte, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(kMemoryTypes[c.type].mnemonic);
        KvxLogClear();
        ApcJournalClear();
        Gate(c.type, 100, 1, c.bit);
        SetValue32(0x00010000);  // value16 1: set the bit
        Script(c.readRoutine, {5});
        EXPECT_EQ(2, Call(7, &transfer_));
        EXPECT_EQ(std::vector<std::string>{ApcRoutineName(c.readRoutine)}, Routines());
        EXPECT_TRUE(HasLog(32, "RIREVI> PutData() element read busy, bit not written. Tag 'T1'"));
        EXPECT_EQ(c.bit, transfer_.address.bitOrCyclicNumber);
        EXPECT_EQ(1, Value16());
    }
}

TEST_F(WriteTest, BalanceFreeStopsWritesMirrorsAndRestartsInOrder) {
    BalanceFree(1, 3);
    ScriptRecord(1, {kWordCode, kEquipment, 10, 100, 2000, 1});
    ScriptRecord(2, {}, 3);  // not filled: the record still holds function 1's
    ScriptRecord(3, {0x1007, kEquipment, 10, 100, 3000, 1});  // a DW function
    Gate(kW, 105);
    SetValue16(0x4321);
    EXPECT_EQ(0, Call(7, &transfer_));
    EXPECT_EQ(Routines(),
              (std::vector<std::string>{"AppGetCycParam", "stopcyc", "AppGetCycParam",
                                        "AppGetCycParam", "writeword", "setword", "startcyc"}));
    EXPECT_EQ((std::vector<int32_t>{1, 2, 3}), NumbersOf(APC_AppGetCycParam));
    EXPECT_EQ((std::vector<int32_t>{kChannel, 1}), Args(1));
    EXPECT_EQ((std::vector<int32_t>{1, 1, 2005}), Args(5));  // card 1, 32-bit address
    EXPECT_EQ((std::vector<int32_t>{kChannel, 1}), Args(6));
    EXPECT_EQ((std::vector<uint8_t>{0x21, 0x43}), Data(4));
    EXPECT_EQ(Data(4), Data(5));
    EXPECT_EQ(1, state().stoppedCount);
    EXPECT_EQ(1, state().stoppedCyclic[0]);
    EXPECT_EQ(2005, state().mirrorAddress);
}

TEST_F(WriteTest, WhichFunctionsCoverTheGate) {
    struct Case {
        Record record;
        uint32_t address;
        bool covered;
    };
    const Case cases[] = {
        {{kWordCode, kEquipment, 10, 100, 0, 1}, 100, true},
        {{kWordCode, kEquipment, 10, 100, 0, 1}, 109, true},   // the last element
        {{kWordCode, kEquipment, 10, 100, 0, 1}, 110, false},  // just past the block
        {{kWordCode, kEquipment, 10, 100, 0, 1}, 99, false},
        {{kWordCode, kEquipment + 1, 10, 100, 0, 1}, 105, false},
        {{kWordCode, kEquipment, 10, 100, 0, 0}, 105, false},  // stopped
        {{0x1007, kEquipment, 10, 100, 0, 1}, 105, false},     // another type
    };
    BalanceFree(1, 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "address " << c.address);
        ApcJournalClear();
        ScriptRecord(1, c.record);
        Gate(kW, c.address);
        EXPECT_EQ(0, Call(7, &transfer_));
        EXPECT_EQ(c.covered ? 1 : 0, ApcJournalCountOf(APC_stopcyc));
        EXPECT_EQ(c.covered ? 1 : 0, ApcJournalCountOf(APC_setword));
        EXPECT_EQ(c.covered ? 1 : 0, ApcJournalCountOf(APC_startcyc));
    }
}

TEST_F(WriteTest, WalksExactlyTheNumbersCreatedOnTheChannel) {
    struct Case {
        const char* name;
        uint8_t firstCycNo;
        uint16_t first, last;
        std::vector<int32_t> walked;
    };
    const Case cases[] = {
        {"CYC_NO 0", 0, 1, 3, {1, 2, 3}},
        {"CYC_NO 10", 10, 11, 12, {11, 12}},
        {"first creation failed", 0, 2, 3, {2, 3}},
        {"none created", 0, 0, 4, {}},
        {"first below CYC_NO: stale", 10, 3, 12, {}},
        {"first beyond last", 0, 5, 4, {}},
        {"numbers end at 255", 0, 253, 300, {253, 254, 255}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ApcJournalClear();
        state().firstCycNo = c.firstCycNo;
        BalanceFree(c.first, c.last);
        EXPECT_EQ(0, Call(7, &transfer_));
        EXPECT_EQ(c.walked, NumbersOf(APC_AppGetCycParam));
    }
}

TEST_F(WriteTest, NoWalkWhereNoFunctionCanCover) {
    BalanceFree(1, 3);
    state().balanceFree = 0;
    EXPECT_EQ(0, Call(7, &transfer_));  // balance-free off
    state().balanceFree = 1;
    Gate(kTI, 100);  // timers never get cyclic functions
    EXPECT_EQ(0, Call(7, &transfer_));
    Gate(kMW, 100);  // the card's database is written directly
    EXPECT_EQ(0, Call(7, &transfer_));
    state().stations[0] = {31, kEquipment};  // no per-channel numbers there
    Gate(kW, 100);
    EXPECT_EQ(0, Call(7, &transfer_));
    state().stations[0] = {0xFF, 0xFF};
    EXPECT_EQ(2, Call(7, &transfer_));  // a free slot never reaches the card
    EXPECT_EQ((std::vector<std::string>{"writeword", "writetimer", "setword", "writeword"}),
              Routines());
}

TEST_F(WriteTest, ByteGateIsStoppedAndRestartedWithoutMirror) {
    BalanceFree(1, 1);
    ScriptRecord(1, {0x105F, kEquipment, 10, 100, 13980, 1});
    Gate(kBY, 104);
    EXPECT_EQ(0, Call(7, &transfer_));
    EXPECT_EQ((std::vector<std::string>{"AppGetCycParam", "stopcyc", "writebyte", "startcyc"}),
              Routines());
}

TEST_F(WriteTest, FailedWriteIsNotMirroredButRestarted) {
    BalanceFree(1, 1);
    ScriptRecord(1, {kWordCode, kEquipment, 10, 100, 2000, 1});
    Script(APC_writeword, {3});
    EXPECT_EQ(1, Call(7, &transfer_));
    EXPECT_EQ((std::vector<std::string>{"AppGetCycParam", "stopcyc", "writeword", "startcyc"}),
              Routines());
    // 45: restarted first, then the write alone once more.
    ApcJournalClear();
    Script(APC_writeword, {45, 0});
    EXPECT_EQ(0, Call(7, &transfer_));
    EXPECT_EQ((std::vector<std::string>{"AppGetCycParam", "stopcyc", "writeword", "startcyc",
                                        "initbus", "writeword"}),
              Routines());
}

TEST_F(WriteTest, FailedMirrorAndRestartAreLoggedWithoutChangingTheResult) {
    BalanceFree(1, 2);
    ScriptRecord(1, {kWordCode, kEquipment, 10, 100, 2000, 1});
    ScriptRecord(2, {kWordCode, kEquipment, 20, 90, 500, 1});
    Script(APC_setword, {3});
    Script(APC_startcyc, {46, 0});
    Gate(kW, 105);
    EXPECT_EQ(0, Call(7, &transfer_));
    EXPECT_EQ((std::vector<int32_t>{1, 2}), NumbersOf(APC_startcyc));
    EXPECT_EQ((std::vector<int32_t>{1, 1, 515}), Args(5));  // the last covering function's
    EXPECT_TRUE(HasLog(
        32, "RIREVI: DoWrite() mirror to card 1 database address 515 failed, stat 3. Tag 'T1'"));
    EXPECT_TRUE(
        HasLog(32, "RIREVI: RestartCyclicFunctionsDuringWrite() error on Chan.2 Func.1, stat 46"));
}

TEST_F(WriteTest, EachWriteEmptiesTheStoppedList) {
    state().stoppedCount = 0xA5A5;
    state().mirrorAddress = 0xA5A5;
    BalanceFree(1, 1);
    EXPECT_EQ(0, Call(7, &transfer_));
    EXPECT_EQ(0, state().stoppedCount);
    EXPECT_EQ(0, state().mirrorAddress);
    for (uint16_t number : state().stoppedCyclic) EXPECT_EQ(0, number);
}

TEST_F(WriteTest, MirrorPlacesDoubleWordsAndFloatsTwoWordsAnElement) {
    struct Case {
        uint16_t memoryType;
        int32_t typeCode;
        int32_t mirrorRoutine;
    } cases[] = {{kDW, 0x1007, APC_setdword}, {kFW, 0x1008, APC_setfword}};
    BalanceFree(1, 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.memoryType);
        ApcJournalClear();
        // Elements 100 to 109 kept from database word 3000 on, two words each.
        ScriptRecord(1, {c.typeCode, kEquipment, 10, 100, 3000, 1});
        Gate(c.memoryType, 103);
        EXPECT_EQ(0, Call(7, &transfer_));
        ASSERT_EQ(1, ApcJournalCountOf(c.mirrorRoutine));
        EXPECT_EQ(3006, state().mirrorAddress);
    }
}

TEST_F(WriteTest, BlockWriteMirrorsOnlyTheCoveringFunctionsElements) {
    BalanceFree(1, 1);
    ScriptRecord(1, {kWordCode, kEquipment, 10, 100, 2000, 1});  // elements 100 to 109
    Gate(kW, 106, 1, -1, 8);                                     // elements 106 to 113
    std::memset(value_, 0x11, 16);
    EXPECT_EQ(0, Call(10, &transfer_));
    // The equipment gets all eight words, the image only its own four.
    int write = -1, mirror = -1;
    for (int i = 0; i < ApcJournalCount(); ++i) {
        if (CallAt(i).routine == APC_writeword) write = i;
        if (CallAt(i).routine == APC_setword) mirror = i;
    }
    ASSERT_GE(write, 0);
    ASSERT_GE(mirror, 0);
    EXPECT_EQ(8, CallAt(write).args[2]);
    EXPECT_EQ((std::vector<int32_t>{1, 4, 2006}), Args(mirror));
}

TEST_F(WriteTest, MirrorReachesTheImageTheBlockReadCollects) {
    ASSERT_EQ(0, CreateCyclic(1, kW, 10, 100, 50));
    BalanceFree(1, 1);
    Gate(kW, 105);
    SetValue16(0x4242);
    EXPECT_EQ(0, Call(7, &transfer_));
    EXPECT_EQ(1, ApcCyclicState(kChannel, 1));  // running again
    uint16_t image = 0;
    ApcPeekDatabaseWords(1, 55, &image, 1);
    EXPECT_EQ(0x4242, image);
    Gate(kW, 100, 1, 1, 10);
    std::memset(value_, 0, sizeof value_);
    EXPECT_EQ(0, Call(6, &transfer_));
    EXPECT_EQ(0x42, value_[10]);
    EXPECT_EQ(0x42, value_[11]);
}

}  // namespace
}  // namespace qun_test
