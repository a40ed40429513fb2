// Cyclic functions of the simulated card, stepped by hand so that every cycle
// is known, and one run on the card's own clock.
#include <chrono>
#include <thread>

#include "tests/lab/card/simulated/applicom_support.h"

namespace apc_test {
namespace {

class ApcCyclic : public CardTest {
protected:
    void SetUp() override {
        CardTest::SetUp();
        ApcSetCyclicManual(1);
    }
};

int32_t Field(const uint8_t* record, int offset) {
    int32_t value;
    std::memcpy(&value, record + offset, 4);
    return value;
}

TEST_F(ApcCyclic, NotReadYetThenTheImageThenInactiveOnceStopped) {
    const uint16_t words[] = {10, 20, 30, 40};
    ApcPoke(0, 1, APC_AREA_WORD, 100, words, 4);
    Cyc c;
    c.address = 100;
    c.databaseAddress = 500;
    ASSERT_EQ(Create(c), 0);
    EXPECT_EQ(ApcCyclicState(0, 1), 1) << "a created function runs at once";

    uint8_t data[16];
    std::memset(data, 0xEE, sizeof data);
    EXPECT_EQ(Trans(0, 1, data), 35);
    EXPECT_EQ(data[0], 0xEE);

    ApcCyclicStep();
    ASSERT_EQ(Trans(0, 1, data), 0);
    EXPECT_EQ(std::vector<uint8_t>(data, data + 9),
              (std::vector<uint8_t>{10, 0, 20, 0, 30, 0, 40, 0, 0xEE}));
    EXPECT_EQ(LastData().size(), 8u);
    uint16_t image[4];
    ApcPeekDatabaseWords(1, 500, image, 4);
    EXPECT_EQ(image[3], 40) << "the image lies in the function's database area";

    const uint16_t changed = 99;
    ApcPoke(0, 1, APC_AREA_WORD, 101, &changed, 1);
    ASSERT_EQ(Trans(0, 1, data), 0);
    EXPECT_EQ(data[2], 20) << "no cycle, no change";
    ApcCyclicStep();
    ASSERT_EQ(Trans(0, 1, data), 0);
    EXPECT_EQ(data[2], 99);

    EXPECT_EQ(Stop(0, 1), 0);
    EXPECT_EQ(ApcCyclicState(0, 1), 0);
    EXPECT_EQ(Trans(0, 1, data), -6);
    ApcPoke(0, 1, APC_AREA_WORD, 100, &changed, 1);
    ApcCyclicStep();
    EXPECT_EQ(Stop(0, 1), 0) << "stopping a stopped function";

    EXPECT_EQ(Start(0, 1), 0);
    EXPECT_EQ(ApcCyclicState(0, 1), 1);
    ASSERT_EQ(Trans(0, 1, data), 0) << "a restarted function keeps its image";
    EXPECT_EQ(data[0], 10) << "a stopped function makes no cycle";
    ApcCyclicStep();
    ASSERT_EQ(Trans(0, 1, data), 0);
    EXPECT_EQ(data[0], 99);

    Cyc clear;
    clear.typeCode = 0;
    clear.kind = 1;
    clear.equipment = 0;
    clear.count = 1;
    clear.one = 0;
    ASSERT_EQ(Create(clear), 0);
    EXPECT_EQ(ApcCyclicState(0, 1), -1);
    EXPECT_EQ(Trans(0, 1, data), -6);
    EXPECT_EQ(Start(0, 1), 46);
    EXPECT_EQ(Stop(0, 1), 46);
    EXPECT_EQ(Create(clear), 0) << "clearing a function that does not exist";
}

TEST_F(ApcCyclic, AppGetCycParamReportsTheStoredParameters) {
    Cyc c;
    c.channel = 6;
    c.number = 200;
    c.period = 25;
    c.typeCode = 0x1007;
    c.kind = 4;
    c.equipment = 17;
    c.count = 3;
    c.address = 1234;
    c.databaseAddress = 31000;
    ASSERT_EQ(Create(c), 0);
    uint8_t record[256];
    std::memset(record, 0xEE, sizeof record);
    int16_t channel = 6, number = 200, status = -1;
    AppGetCycParam(&channel, &number, record, &status);
    ASSERT_EQ(status, 0);
    struct Expected {
        int offset;
        int32_t value;
    };
    for (const Expected& e :
         {Expected{0, 6}, Expected{4, 0x1007}, Expected{8, 200}, Expected{12, 17}, Expected{16, 3},
          Expected{20, 1234}, Expected{24, 31000}, Expected{28, 25}, Expected{32, 4},
          Expected{40, 1}, Expected{48, 0}, Expected{100, 0}})
        EXPECT_EQ(Field(record, e.offset), e.value) << "offset " << e.offset;
    EXPECT_EQ(record[255], 0);
    Stop(6, 200);
    ApcCyclicStep();
    AppGetCycParam(&channel, &number, record, &status);
    EXPECT_EQ(Field(record, 40), 0) << "state of a stopped function";
    number = 199;
    AppGetCycParam(&channel, &number, record, &status);
    EXPECT_EQ(status, 46);
    number = 256;
    AppGetCycParam(&channel, &number, record, &status);
    EXPECT_EQ(status, 4);
}

// Each type's image travels in the format of its network read and lies in
// the database area of its kind.
TEST_F(ApcCyclic, ImagesOfEveryKind) {
    const uint8_t bits[] = {1, 0, 1, 1, 0, 0, 0, 0, 1, 1};
    ApcPoke(0, 1, APC_AREA_BIT, 3, bits, 10);
    ApcPoke(0, 1, APC_AREA_QUICK_BIT, 2, bits, 4);
    const uint16_t words[] = {0x2211, 0x4433};
    ApcPoke(0, 1, APC_AREA_WORD, 0, words, 2);
    ApcPoke(0, 1, APC_AREA_INPUT_WORD, 0, words, 2);
    const uint32_t dwords[] = {0x04030201, 0x08070605};
    ApcPoke(0, 1, APC_AREA_DWORD, 7, dwords, 2);
    ApcPoke(0, 1, APC_AREA_FLOAT, 0, dwords, 1);

    struct Case {
        int16_t typeCode, kind, count;
        int32_t address;
        int16_t databaseAddress;
        std::vector<uint8_t> image;
    };
    const Case cases[] = {
        {0x1003, 1, 10, 3, 40, {0x0D, 0x03}},                   // PB
        {0x100D, 1, 4, 2, 60, {0x0D}},                          // QCKB
        {0x105F, 2, 3, 1, 13000, {0x22, 0, 0x33, 0, 0x44, 0}},  // BY
        {0x1068, 2, 3, 0, 13900, {0x11, 0x22, 0x33}},           // PIBY
        {0x1005, 3, 2, 0, 10, {0x11, 0x22, 0x33, 0x44}},        // W
        {0x1007, 4, 2, 7, 21, {1, 2, 3, 4, 5, 6, 7, 8}},        // DW, on an odd word
        {0x1008, 5, 1, 0, 30, {1, 2, 3, 4}},                    // FW
    };
    int16_t number = 1;
    for (const Case& c : cases) {
        Cyc cyc;
        cyc.number = number;
        cyc.typeCode = c.typeCode;
        cyc.kind = c.kind;
        cyc.count = c.count;
        cyc.address = c.address;
        cyc.databaseAddress = c.databaseAddress;
        ASSERT_EQ(Create(cyc), 0) << "type " << c.typeCode;
        ++number;
    }
    ApcCyclicStep();
    number = 1;
    for (const Case& c : cases) {
        std::vector<uint8_t> data(c.image.size() + 1, 0xEE);
        ASSERT_EQ(Trans(0, number, data.data()), 0);
        EXPECT_EQ(std::vector<uint8_t>(data.begin(), data.end() - 1), c.image)
            << "type " << c.typeCode;
        EXPECT_EQ(data.back(), 0xEE);
        ++number;
    }
    uint8_t bit[10];
    ApcPeekDatabaseBits(1, 40, bit, 10);
    EXPECT_EQ(std::vector<uint8_t>(bit, bit + 10), std::vector<uint8_t>(bits, bits + 10));
    uint16_t word[2];
    ApcPeekDatabaseWords(1, 25000 + 13000 / 2, word, 2);
    EXPECT_EQ(word[0], 0x0022) << "BY elements take two bytes of the byte view";
    ApcPeekDatabaseWords(1, 21, word, 2);
    EXPECT_EQ(word[0], 0x0201);
    EXPECT_EQ(word[1], 0x0403);
}

TEST_F(ApcCyclic, DatabaseWritesIntoTheAreaShowUntilTheNextCycle) {
    const uint16_t words[] = {1, 2, 3};
    ApcPoke(0, 1, APC_AREA_WORD, 100, words, 3);
    Cyc c;
    c.count = 3;
    c.address = 100;
    c.databaseAddress = 2000;
    ASSERT_EQ(Create(c), 0);
    ApcCyclicStep();
    ASSERT_EQ(Stop(0, 1), 0);
    uint8_t mirror[2] = {0x39, 0x05};
    ASSERT_EQ(Db(setword, 1, 1, 2001, mirror), 0);
    ASSERT_EQ(Start(0, 1), 0);
    uint8_t data[6];
    ASSERT_EQ(Trans(0, 1, data), 0);
    EXPECT_EQ(data[2] | data[3] << 8, 0x0539);
    ApcCyclicStep();
    ASSERT_EQ(Trans(0, 1, data), 0);
    EXPECT_EQ(data[2], 2) << "the cycle brings the equipment's value again";
}

TEST_F(ApcCyclic, CreateChecksItsParameters) {
    struct Case {
        const char* what;
        Cyc cyc;
        int16_t status;
    };
    auto with = [](auto change) {
        Cyc c;
        change(c);
        return c;
    };
    const Case cases[] = {
        {"valid", Cyc{}, 0},
        {"number 0", with([](Cyc& c) { c.number = 0; }), 0},
        {"number 255", with([](Cyc& c) { c.number = 255; }), 0},
        {"number 256", with([](Cyc& c) { c.number = 256; }), 4},
        {"number -1", with([](Cyc& c) { c.number = -1; }), 4},
        {"channel 32", with([](Cyc& c) { c.channel = 32; }), 3},
        {"unknown type code", with([](Cyc& c) { c.typeCode = 0x1234; }), 4},
        {"kind of another type", with([](Cyc& c) { c.kind = 4; }), 4},
        {"equipment 256", with([](Cyc& c) { c.equipment = 256; }), 4},
        {"count 0", with([](Cyc& c) { c.count = 0; }), 4},
        {"count 512", with([](Cyc& c) { c.count = 512; }), 0},
        {"count 513", with([](Cyc& c) { c.count = 513; }), 4},
        {"negative period", with([](Cyc& c) { c.period = -1; }), 4},
        {"address past the area", with([](Cyc& c) { c.address = 65533; }), 4},
        {"words up to 31999", with([](Cyc& c) { c.databaseAddress = 31996; }), 0},
        {"words past 31999", with([](Cyc& c) { c.databaseAddress = 31997; }), 4},
        {"bytes past 13999", with([](Cyc& c) {
             c.typeCode = 0x105F;
             c.kind = 2;
             c.databaseAddress = 13993;
         }),
         4},
    };
    for (const Case& c : cases) EXPECT_EQ(Create(c.cyc), c.status) << c.what;
}

TEST_F(ApcCyclic, TheClearingScanEndsAtTheFirstMissingCard) {
    ApcSetInstalledCards(0x03);
    Cyc clear;
    clear.typeCode = 0;
    clear.kind = 1;
    int calls = 0;
    int16_t status = 0;
    for (int16_t channel = 0; channel < 32 && status != 46; ++channel)
        for (int16_t number = 0; number < 256 && status != 46; ++number) {
            clear.channel = channel;
            clear.number = number;
            status = Create(clear);
            ++calls;
        }
    EXPECT_EQ(status, 46);
    EXPECT_EQ(calls, 8 * 256 + 1);
    EXPECT_EQ(ApcJournalCountOf(APC_createcyc), calls);
}

TEST(ApcCyclicTimed, FunctionsRunOnTheCardsClockAtTheirPeriod) {
    ApcReset();
    ASSERT_EQ(Open(), 0);
    const uint16_t word = 7;
    ApcPoke(0, 1, APC_AREA_WORD, 0, &word, 1);
    Cyc fast;
    fast.number = 1;
    fast.count = 1;
    fast.period = 0;
    Cyc slow = fast;
    slow.number = 2;
    slow.period = 2;  // 200 ms
    slow.databaseAddress = 10;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(Create(fast), 0);
    ASSERT_EQ(Create(slow), 0);

    uint8_t data[2] = {};
    int16_t status = 35;
    while (status == 35 && std::chrono::steady_clock::now() - start < std::chrono::seconds(5)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        status = Trans(0, 1, data);
    }
    ASSERT_EQ(status, 0) << "the first cycle runs at once";
    EXPECT_EQ(data[0], 7);

    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    uint8_t record[256];
    int16_t channel = 0, number = 2;
    AppGetCycParam(&channel, &number, record, &status);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    const int32_t slowCycles = Field(record, 48);
    const double periods = std::chrono::duration<double>(elapsed).count() / 0.2;
    EXPECT_GE(slowCycles, 2);
    EXPECT_LE(slowCycles, periods + 2) << "never more often than its period";
    number = 1;
    AppGetCycParam(&channel, &number, record, &status);
    EXPECT_GT(Field(record, 48), slowCycles) << "period 0 runs as fast as the card can";

    const uint16_t changed = 8;
    ApcPoke(0, 1, APC_AREA_WORD, 0, &changed, 1);
    const auto poked = std::chrono::steady_clock::now();
    while (data[0] != 8 && std::chrono::steady_clock::now() - poked < std::chrono::seconds(5)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        Trans(0, 2, data);
    }
    EXPECT_EQ(data[0], 8) << "the slow function picks the change up";
    ApcReset();
}

}  // namespace
}  // namespace apc_test
