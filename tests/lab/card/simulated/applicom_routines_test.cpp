// The simulated card's routines: opening and closing, the journal, scripted
// answers, missing cards, argument checks, and that what is written through a
// routine reads back through the matching read routine.
#include <thread>

#include "tests/lab/card/simulated/applicom_support.h"

namespace apc_test {
namespace {

// Calls any routine with harmless valid arguments and answers its status.
int16_t CallAny(int32_t routine) {
    static NetworkRoutine* const network[] = {
        readpackbit,  readpackibit,  readpackqbit,  readbyte,   readibyte,     readqbyte,
        readpackbyte, readpackibyte, readpackqbyte, readword,   readiword,     readqword,
        readwordbcd,  readdword,     readfword,     readtimer,  readcounter,   nullptr,
        writepackbit, writepackqbit, writebyte,     writeqbyte, writepackbyte, writepackqbyte,
        writeword,    writeqword,    writewordbcd,  writedword, writefword,    writetimer,
        writecounter};
    static DatabaseRoutine* const database[] = {getpackbit, getpackbyte, getword, getdword,
                                                getfword,   setpackbit,  setbit,  setpackbyte,
                                                setword,    setdword,    setfword};
    uint8_t data[1024] = {};
    int16_t status = -1, channel = 0, number = 1, out = 0;
    if (routine == APC_initbus) {
        initbus(&status);
    } else if (routine == APC_exitbus) {
        exitbus(&status);
    } else if (routine == APC_readquickbit) {
        int16_t equipment = 0;
        readquickbit(&channel, &equipment, data, &status);
    } else if (routine >= APC_readpackbit && routine <= APC_writecounter) {
        status = Net(network[routine - APC_readpackbit], 0, 1, 1, 0, data);
    } else if (routine >= APC_getpackbit && routine <= APC_setfword) {
        status = Db(database[routine - APC_getpackbit], 1, 1, 0, data);
    } else if (routine == APC_createcyc) {
        status = Create(Cyc{});
    } else if (routine == APC_startcyc) {
        startcyc(&channel, &number, &status);
    } else if (routine == APC_stopcyc) {
        stopcyc(&channel, &number, &status);
    } else if (routine == APC_transcycpack) {
        transcycpack(&channel, &number, &out, &out, data, &status);
    } else if (routine == APC_AppGetCycParam) {
        AppGetCycParam(&channel, &number, data, &status);
    }
    return status;
}

TEST(ApcGating, EveryRoutineButInitbusAnswers45UntilOpenedAndAfterClosing) {
    ApcReset();
    for (int32_t routine = APC_exitbus; routine < APC_ROUTINE_COUNT; ++routine)
        EXPECT_EQ(CallAny(routine), 45) << ApcRoutineName(routine) << " before initbus";
    ASSERT_EQ(Open(), 0);
    for (int32_t routine = APC_readpackbit; routine < APC_ROUTINE_COUNT; ++routine)
        EXPECT_NE(CallAny(routine), 45) << ApcRoutineName(routine) << " while open";
    EXPECT_EQ(CallAny(APC_exitbus), 0);
    for (int32_t routine = APC_exitbus; routine < APC_ROUTINE_COUNT; ++routine)
        EXPECT_EQ(CallAny(routine), 45) << ApcRoutineName(routine) << " after exitbus";
    EXPECT_EQ(Open(), 0);
    EXPECT_EQ(Open(), 0) << "opening an open library";
    ApcSimulateReset();
    EXPECT_EQ(CallAny(APC_readword), 45);
    EXPECT_EQ(Open(), 0);
    EXPECT_EQ(CallAny(APC_readword), 0);
    ApcReset();
}

TEST(ApcNames, RoutineNamesRoundTrip) {
    for (int32_t routine = 0; routine < APC_ROUTINE_COUNT; ++routine)
        EXPECT_EQ(ApcRoutineByName(ApcRoutineName(routine)), routine);
    EXPECT_STREQ(ApcRoutineName(APC_AppGetCycParam), "AppGetCycParam");
    EXPECT_STREQ(ApcRoutineName(APC_ROUTINE_COUNT), "");
    EXPECT_EQ(ApcRoutineByName("readWord"), -1);
}

using ApcJournal = CardTest;

TEST_F(ApcJournal, RecordsArgumentsStatusAndTheBytesMoved) {
    uint8_t data[1024];
    std::memset(data, 0xEE, sizeof data);
    data[0] = 0x34;
    data[1] = 0x12;
    data[2] = 0x78;
    data[3] = 0x56;
    ASSERT_EQ(Net(writeword, 2, 7, 2, 100, data), 0);
    std::memset(data, 0, sizeof data);
    ASSERT_EQ(Net(readword, 2, 7, 3, 99, data), 0);
    ASSERT_EQ(Net(readpackbit, 2, 7, -1, 0, data), 4);

    ASSERT_EQ(ApcJournalCount(), 3);
    const ApcCall write = Entry(0);
    EXPECT_EQ(write.routine, APC_writeword);
    ASSERT_EQ(write.argCount, 4);
    EXPECT_EQ(write.args[0], 2);
    EXPECT_EQ(write.args[1], 7);
    EXPECT_EQ(write.args[2], 2);
    EXPECT_EQ(write.args[3], 100);
    EXPECT_EQ(write.status, 0);
    EXPECT_EQ(write.sequence, 0u);
    EXPECT_EQ(EntryData(0), (std::vector<uint8_t>{0x34, 0x12, 0x78, 0x56}));

    const ApcCall read = Entry(1);
    EXPECT_EQ(read.sequence, 1u);
    EXPECT_EQ(read.dataSize, 6);
    EXPECT_EQ(EntryData(1), (std::vector<uint8_t>{0, 0, 0x34, 0x12, 0x78, 0x56}));
    EXPECT_EQ(read.threadId, write.threadId);

    const ApcCall bad = Entry(2);
    EXPECT_EQ(bad.status, 4);
    EXPECT_EQ(bad.args[2], -1) << "arguments keep their sign";
    EXPECT_EQ(bad.dataSize, 0);

    EXPECT_EQ(ApcJournalCountOf(APC_readword), 1);
    EXPECT_EQ(ApcJournalCountOf(APC_initbus), 0);
    EXPECT_EQ(ApcJournalGet(3, nullptr), -1);
    EXPECT_EQ(ApcJournalData(-1, data, 4), -1);
    uint8_t two[2];
    EXPECT_EQ(ApcJournalData(0, two, 2), 4) << "answers the size recorded, copies at most size";

    ApcCall other{};
    std::thread([&] {
        CallAny(APC_readword);
        ApcJournalGet(ApcJournalCount() - 1, &other);
    }).join();
    EXPECT_NE(other.threadId, write.threadId);

    ApcJournalClear();
    EXPECT_EQ(ApcJournalCount(), 0);
    CallAny(APC_readword);
    EXPECT_EQ(Last().sequence, 0u);
}

TEST_F(ApcJournal, ArgumentFormsOfEveryKindOfRoutine) {
    Cyc c;
    c.channel = 3;
    c.number = 9;
    c.period = 12;
    c.typeCode = 0x1005;
    c.kind = 3;
    c.equipment = 200;
    c.count = 5;
    c.address = 70000 - 65536;
    c.databaseAddress = 1000;
    ASSERT_EQ(Create(c), 0);
    const ApcCall create = Last();
    ASSERT_EQ(create.argCount, 11);
    const int32_t expected[] = {3, 9, 12, 1, 0x1005, 3, 200, 5, 70000 - 65536, 1000, -1};
    for (int i = 0; i < 11; ++i) EXPECT_EQ(create.args[i], expected[i]) << "argument " << i;

    uint8_t data[1024];
    int16_t channel = 3, equipment = 200, number = 9, status = -1;
    readquickbit(&channel, &equipment, data, &status);
    EXPECT_EQ(Last().argCount, 2);
    EXPECT_EQ(Last().args[1], 200);
    EXPECT_EQ(Last().dataSize, 2);
    AppGetCycParam(&channel, &number, data, &status);
    EXPECT_EQ(Last().argCount, 2);
    EXPECT_EQ(Last().args[1], 9);
    EXPECT_EQ(Last().dataSize, 256);
    ASSERT_EQ(Db(getword, 1, 3, 31000, data), 0);
    EXPECT_EQ(Last().argCount, 3);
    EXPECT_EQ(Last().args[2], 31000);
    EXPECT_EQ(Last().dataSize, 6);
    exitbus(&status);
    EXPECT_EQ(Last().argCount, 0);
}

TEST_F(ApcJournal, ALimitKeepsTheNewestEntries) {
    ApcSetJournalLimit(3);
    for (int i = 0; i < 5; ++i) CallAny(APC_readword);
    ASSERT_EQ(ApcJournalCount(), 3);
    EXPECT_EQ(Entry(0).sequence, 2u);
    ApcSetJournalLimit(0);
    CallAny(APC_readword);
    EXPECT_EQ(ApcJournalCount(), 0);
}

using ApcScript = CardTest;

TEST_F(ApcScript, StatusesAnswerInOrderAndANonZeroOneDoesNothingElse) {
    const int16_t statuses[] = {2, 0, 70};
    ApcScriptStatus(APC_writeword, statuses, 3);
    uint8_t value[2] = {0x11, 0x22};
    EXPECT_EQ(Net(writeword, 0, 1, 1, 5, value), 2);
    uint8_t word[2] = {};
    ApcPeek(0, 1, APC_AREA_WORD, 5, word, 1);
    EXPECT_EQ(word[0], 0) << "a scripted failure writes nothing";
    EXPECT_EQ(LastData(), (std::vector<uint8_t>{0x11, 0x22})) << "the bytes handed over";

    value[0] = 0x33;
    EXPECT_EQ(Net(writeword, 0, 1, 1, 5, value), 0);
    ApcPeek(0, 1, APC_AREA_WORD, 5, word, 1);
    EXPECT_EQ(word[0], 0x33) << "a scripted 0 lets the routine act";
    EXPECT_EQ(Net(writeword, 0, 1, 1, 5, value), 70);
    EXPECT_EQ(Net(writeword, 0, 1, 1, 5, value), 0) << "after the queue the card answers";

    const int16_t closed[] = {0};
    ApcScriptStatus(APC_readword, closed, 1);
    int16_t status = -1;
    exitbus(&status);
    EXPECT_EQ(Net(readword, 0, 1, 1, 5, word), 45) << "a scripted 0 does not open the library";
}

TEST_F(ApcScript, DataIsDeliveredByTheNextSuccessfulCallsOnly) {
    const uint8_t first[] = {1, 2, 3};
    const uint8_t second[] = {9};
    ApcScriptData(APC_readword, first, 3);
    ApcScriptData(APC_readword, second, 1);
    const int16_t fail[] = {3};
    ApcScriptStatus(APC_readword, fail, 1);

    uint8_t data[8];
    std::memset(data, 0xEE, sizeof data);
    EXPECT_EQ(Net(readword, 0, 1, 1, 0, data), 3);
    EXPECT_EQ(data[0], 0xEE) << "a failed call delivers nothing";
    EXPECT_EQ(Net(readword, 0, 1, 1, 0, data), 0);
    EXPECT_EQ(std::vector<uint8_t>(data, data + 4), (std::vector<uint8_t>{1, 2, 3, 0xEE}));
    EXPECT_EQ(LastData(), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(Net(readword, 0, 1, 1, 0, data), 0);
    EXPECT_EQ(data[0], 9);
    EXPECT_EQ(Net(readword, 0, 1, 1, 0, data), 0);
    EXPECT_EQ(data[0], 0) << "then the card's memory again";
    EXPECT_EQ(data[1], 0);
}

TEST_F(ApcScript, CycParamAnswersForOneFunction) {
    uint8_t record[256];
    for (int i = 0; i < 256; ++i) record[i] = static_cast<uint8_t>(i);
    ApcScriptCycParam(5, 7, record, 0);
    ApcScriptCycParam(5, 8, record, 46);
    uint8_t out[256] = {};
    int16_t channel = 5, number = 7, status = -1;
    AppGetCycParam(&channel, &number, out, &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(std::memcmp(out, record, 256), 0);
    std::memset(out, 0xEE, sizeof out);
    number = 8;
    AppGetCycParam(&channel, &number, out, &status);
    EXPECT_EQ(status, 46);
    EXPECT_EQ(out[0], 0xEE);
    number = 9;
    AppGetCycParam(&channel, &number, out, &status);
    EXPECT_EQ(status, 46) << "an undefined function";
}

using ApcChecks = CardTest;

TEST_F(ApcChecks, MissingCardsAndChannelsOutsideTheRange) {
    ApcSetInstalledCards(0x05);  // cards 1 and 3: channels 0-3 and 8-11
    uint8_t data[16] = {};
    struct Case {
        int16_t channel;
        int16_t status;
    };
    for (const Case& c : {Case{0, 0}, Case{3, 0}, Case{4, 3}, Case{7, 3}, Case{8, 0}, Case{11, 0},
                          Case{12, 3}, Case{31, 3}, Case{32, 3}, Case{-1, 3}})
        EXPECT_EQ(Net(readword, c.channel, 0, 1, 0, data), c.status) << "channel " << c.channel;
    for (const Case& c : {Case{1, 0}, Case{2, 3}, Case{3, 0}, Case{0, 3}, Case{9, 3}})
        EXPECT_EQ(Db(getword, c.channel, 1, 0, data), c.status) << "card " << c.channel;
    Cyc clear;
    clear.typeCode = 0;
    for (const Case& c : {Case{3, 0}, Case{4, 46}, Case{8, 0}, Case{12, 46}, Case{32, 3}}) {
        clear.channel = c.channel;
        EXPECT_EQ(Create(clear), c.status) << "createcyc on channel " << c.channel;
    }
    EXPECT_EQ(Stop(4, 1), 3);
}

TEST_F(ApcChecks, TransfersBeyondTheDataAreaMoveNothing) {
    uint8_t data[1100];
    struct Case {
        NetworkRoutine* routine;
        int16_t count;
        int32_t address;
        int16_t status;
    };
    const Case cases[] = {
        {readword, 512, 0, 0},        {readword, 513, 0, 4},        {readword, 0, 0, 4},
        {readword, -5, 0, 4},         {readpackbit, 8192, 0, 0},    {readpackbit, 8193, 0, 4},
        {readdword, 256, 0, 0},       {readdword, 257, 0, 4},       {readbyte, 513, 0, 4},
        {readpackbyte, 1024, 0, 0},   {readpackbyte, 1025, 0, 4},   {writeword, 513, 0, 4},
        {readword, 1, 65535, 0},      {readword, 2, 65535, 4},      {readword, 1, -1, 4},
        {readpackbyte, 1, 131071, 0}, {readpackbyte, 2, 131071, 4}, {readpackbit, 2, 65535, 4},
    };
    for (const Case& c : cases) {
        std::memset(data, 0xEE, sizeof data);
        EXPECT_EQ(Net(c.routine, 0, 1, c.count, c.address, data), c.status)
            << "count " << c.count << " address " << c.address;
        if (c.status != 0) {
            EXPECT_EQ(data[0], 0xEE);
            EXPECT_EQ(Last().dataSize, 0);
        }
        EXPECT_EQ(data[1024], 0xEE) << "never beyond the data area";
    }
    EXPECT_EQ(Net(readword, 0, 256, 1, 0, data), 4) << "equipment 256";
    EXPECT_EQ(Net(readword, 0, -1, 1, 0, data), 4);
    EXPECT_EQ(Db(getword, 1, 1, 32000, data), 4);
    EXPECT_EQ(Db(getword, 1, 1, 31999, data), 0);
    EXPECT_EQ(Db(getdword, 1, 1, 31998, data), 0);
    EXPECT_EQ(Db(getdword, 1, 1, 31999, data), 4) << "a dword takes two words";
    EXPECT_EQ(Db(getpackbyte, 1, 1, 13999, data), 0);
    EXPECT_EQ(Db(getpackbyte, 1, 1, 14000, data), 4);
    EXPECT_EQ(Db(getpackbit, 1, 1, 32000, data), 4);
    EXPECT_EQ(Db(setword, 1, 513, 0, data), 4);
}

using ApcMemory = CardTest;

TEST_F(ApcMemory, AReadFillsExactlyTheBytesOfItsElements) {
    const uint8_t bits[] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    ApcPoke(0, 1, APC_AREA_BIT, 0, bits, 12);
    uint8_t data[8];
    std::memset(data, 0xEE, sizeof data);
    ASSERT_EQ(Net(readpackbit, 0, 1, 10, 0, data), 0);
    EXPECT_EQ(data[0], 0xFF);
    EXPECT_EQ(data[1], 0x03) << "bits beyond the count are 0";
    EXPECT_EQ(data[2], 0xEE);
    std::memset(data, 0xEE, sizeof data);
    ASSERT_EQ(Net(readbyte, 0, 1, 3, 0, data), 0);
    EXPECT_EQ(data[6], 0xEE);
}

// Writes through one routine and reads back through its partner.
TEST_F(ApcMemory, WhatIsWrittenReadsBackThroughTheMatchingRoutine) {
    struct Pair {
        NetworkRoutine* write;
        NetworkRoutine* read;
        int16_t count;
        int32_t address;
        std::vector<uint8_t> bytes;
    };
    const Pair pairs[] = {
        {writepackbit, readpackbit, 11, 5, {0xA5, 0x05}},
        {writepackqbit, readpackqbit, 3, 65533, {0x05}},
        {writebyte, readbyte, 3, 7, {0x12, 0, 0xFF, 0, 0x80, 0}},
        {writeqbyte, readqbyte, 1, 0, {0x7F, 0}},
        {writepackbyte, readpackbyte, 3, 131069, {1, 2, 3}},
        {writepackqbyte, readpackqbyte, 2, 4, {0xFE, 0xDC}},
        {writeword, readword, 2, 65534, {0x34, 0x12, 0xFF, 0xFF}},
        {writeqword, readqword, 1, 3, {0x01, 0x80}},
        {writewordbcd, readwordbcd, 3, 10, {0xD2, 0x04, 0x0F, 0x27, 0, 0}},  // 1234, 9999, 0
        {writedword, readdword, 2, 9, {1, 2, 3, 4, 0xFF, 0xFF, 0xFF, 0xFF}},
        {writefword, readfword, 1, 0, {0x00, 0x00, 0x80, 0xBF}},
        {writetimer, readtimer, 1, 100, {0x10, 0x27}},
        {writecounter, readcounter, 2, 0, {1, 0, 2, 0}},
    };
    for (const Pair& pair : pairs) {
        std::vector<uint8_t> in = pair.bytes;
        ASSERT_EQ(Net(pair.write, 3, 9, pair.count, pair.address, in.data()), 0);
        std::vector<uint8_t> out(in.size() + 1, 0xEE);
        ASSERT_EQ(Net(pair.read, 3, 9, pair.count, pair.address, out.data()), 0);
        EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.end() - 1), pair.bytes)
            << ApcRoutineName(Last().routine);
        EXPECT_EQ(out.back(), 0xEE);
        ASSERT_EQ(Net(pair.read, 3, 8, pair.count, pair.address, out.data()), 0);
        EXPECT_EQ(out[0], 0) << "another equipment's memory is apart";
    }

    struct DbPair {
        DatabaseRoutine* set;
        DatabaseRoutine* get;
        int16_t count;
        int32_t address;
        std::vector<uint8_t> bytes;
    };
    const DbPair dbPairs[] = {
        {setpackbit, getpackbit, 9, 31991, {0x81, 0x01}},
        {setbit, getpackbit, 3, 7, {0x06}},
        {setpackbyte, getpackbyte, 3, 13997, {7, 8, 9}},
        {setword, getword, 2, 0, {0xCD, 0xAB, 0x01, 0x00}},
        {setdword, getdword, 1, 31998, {1, 2, 3, 4}},
        {setfword, getfword, 2, 101, {0, 0, 0x80, 0x3F, 0, 0, 0, 0x40}},
    };
    for (const DbPair& pair : dbPairs) {
        std::vector<uint8_t> in = pair.bytes;
        ASSERT_EQ(Db(pair.set, 2, pair.count, pair.address, in.data()), 0);
        std::vector<uint8_t> out(in.size(), 0xEE);
        ASSERT_EQ(Db(pair.get, 2, pair.count, pair.address, out.data()), 0);
        EXPECT_EQ(out, pair.bytes) << ApcRoutineName(Last().routine);
        ASSERT_EQ(Db(pair.get, 3, pair.count, pair.address, out.data()), 0);
        EXPECT_EQ(out[0], 0) << "another card's database is apart";
    }
}

TEST_F(ApcMemory, ByteRoutinesSeeTheBytesOfTheWordMemory) {
    uint8_t in[4] = {0x11, 0x22, 0x33, 0x44};
    ASSERT_EQ(Net(writepackbyte, 0, 1, 4, 10, in), 0);  // bytes 10-13: words 5 and 6
    uint8_t words[4];
    ApcPeek(0, 1, APC_AREA_WORD, 5, words, 2);
    EXPECT_EQ(std::vector<uint8_t>(words, words + 4),
              (std::vector<uint8_t>{0x11, 0x22, 0x33, 0x44}))
        << "even byte addresses are low bytes";
    uint8_t out[8];
    ASSERT_EQ(Net(readbyte, 0, 1, 2, 11, out), 0);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 4), (std::vector<uint8_t>{0x22, 0, 0x33, 0}))
        << "BY elements are the bytes zero-extended";
    uint8_t by[4] = {0x55, 0x99, 0x66, 0x99};
    ASSERT_EQ(Net(writebyte, 0, 1, 2, 12, by), 0);
    ASSERT_EQ(Net(readword, 0, 1, 1, 6, out), 0);
    EXPECT_EQ(out[0], 0x55);
    EXPECT_EQ(out[1], 0x66) << "writebyte stores the low byte of each element";

    const uint16_t input[] = {0xBEEF};
    ApcPoke(0, 1, APC_AREA_INPUT_WORD, 0, input, 1);
    ASSERT_EQ(Net(readiword, 0, 1, 1, 0, out), 0);
    EXPECT_EQ(out[0] | out[1] << 8, 0xBEEF);
    ASSERT_EQ(Net(readpackibyte, 0, 1, 2, 0, out), 0);
    EXPECT_EQ(out[0], 0xEF);
    EXPECT_EQ(out[1], 0xBE);
    ASSERT_EQ(Net(readibyte, 0, 1, 1, 1, out), 0);
    EXPECT_EQ(out[0], 0xBE);
    EXPECT_EQ(out[1], 0);
}

TEST_F(ApcMemory, TheDatabaseByteViewLiesInTheUpperWords) {
    uint8_t bytes[3] = {0x01, 0x02, 0x03};
    ASSERT_EQ(Db(setpackbyte, 1, 3, 0, bytes), 0);
    uint16_t words[2] = {};
    ApcPeekDatabaseWords(1, 25000, words, 2);
    EXPECT_EQ(words[0], 0x0201);
    EXPECT_EQ(words[1], 0x0003);
    const uint16_t last = 0xA0B0;
    ApcPokeDatabaseWords(1, 31999, &last, 1);
    uint8_t out[2];
    ASSERT_EQ(Db(getpackbyte, 1, 2, 13998, out), 0);
    EXPECT_EQ(out[0], 0xB0);
    EXPECT_EQ(out[1], 0xA0);
    ASSERT_EQ(Db(getword, 1, 1, 25000, out), 0);
    EXPECT_EQ(out[0], 0x01);
    EXPECT_EQ(out[1], 0x02);
    uint8_t dword[4];
    const uint16_t pair[2] = {0x5678, 0x1234};
    ApcPokeDatabaseWords(1, 301, pair, 2);
    ASSERT_EQ(Db(getdword, 1, 1, 301, dword), 0);
    EXPECT_EQ(std::vector<uint8_t>(dword, dword + 4),
              (std::vector<uint8_t>{0x78, 0x56, 0x34, 0x12}))
        << "dwords address words, low word first";
    const uint8_t poked[3] = {1, 0, 5};
    ApcPokeDatabaseBits(1, 10, poked, 3);
    ASSERT_EQ(Db(getpackbit, 1, 3, 10, out), 0);
    EXPECT_EQ(out[0], 0x05);
    uint8_t peeked[3];
    ApcPeekDatabaseBits(1, 10, peeked, 3);
    EXPECT_EQ(peeked[2], 1);
}

TEST_F(ApcMemory, QuickBitsAndBcdConversions) {
    const uint8_t quick[] = {1, 0, 0, 0, 0, 1};
    ASSERT_EQ(ApcPoke(0, 1, APC_AREA_QUICK_BIT, 0, quick, 6), 0);
    const uint8_t last = 1;
    ASSERT_EQ(ApcPoke(0, 1, APC_AREA_QUICK_BIT, 15, &last, 1), 0);
    EXPECT_EQ(ApcPoke(0, 1, APC_AREA_QUICK_BIT, 16, &last, 1), -1);
    uint8_t data[4];
    std::memset(data, 0xEE, sizeof data);
    int16_t channel = 0, equipment = 1, status = -1;
    readquickbit(&channel, &equipment, data, &status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(data[0] | data[1] << 8, 0x8021);
    EXPECT_EQ(data[2], 0xEE);

    const uint16_t bcd[] = {0x1234, 0x12A4};
    ApcPoke(0, 1, APC_AREA_WORD, 0, bcd, 2);
    ASSERT_EQ(Net(readwordbcd, 0, 1, 1, 0, data), 0);
    EXPECT_EQ(data[0] | data[1] << 8, 1234);
    EXPECT_EQ(Net(readwordbcd, 0, 1, 2, 0, data), 4) << "a word that is not BCD";
    uint8_t big[2] = {0x10, 0x27};  // 10000
    EXPECT_EQ(Net(writewordbcd, 0, 1, 1, 0, big), 4);
    uint16_t word = 0;
    ApcPeek(0, 1, APC_AREA_WORD, 0, &word, 1);
    EXPECT_EQ(word, 0x1234);
}

TEST_F(ApcMemory, PokeAndPeekCheckTheirArguments) {
    uint8_t data[4] = {};
    EXPECT_EQ(ApcPoke(32, 0, APC_AREA_WORD, 0, data, 1), -1);
    EXPECT_EQ(ApcPoke(0, 256, APC_AREA_WORD, 0, data, 1), -1);
    EXPECT_EQ(ApcPoke(0, 0, APC_AREA_COUNT, 0, data, 1), -1);
    EXPECT_EQ(ApcPoke(0, 0, APC_AREA_WORD, 65535, data, 2), -1);
    EXPECT_EQ(ApcPeek(0, 0, APC_AREA_WORD, 0, nullptr, 1), -1);
    EXPECT_EQ(ApcPokeDatabaseWords(0, 0, data, 1), -1);
    EXPECT_EQ(ApcPokeDatabaseWords(1, 31999, data, 2), -1);
    EXPECT_EQ(ApcPeekDatabaseBits(9, 0, data, 1), -1);
    const uint32_t dword = 0x89ABCDEF;
    ASSERT_EQ(ApcPoke(0, 0, APC_AREA_DWORD, 65535, &dword, 1), 0);
    uint32_t back = 0;
    ApcPeek(0, 0, APC_AREA_DWORD, 65535, &back, 1);
    EXPECT_EQ(back, dword);
}

}  // namespace
}  // namespace apc_test
