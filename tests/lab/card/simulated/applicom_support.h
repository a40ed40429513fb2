// Helpers for the tests of the simulated card: calls in the argument forms of
// the card routines, and a fixture that starts each test at power-on.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "driver/platform/card.h"
#include "lab/card/simulated/applicom_control.h"

namespace apc_test {

inline int16_t Open() {
    int16_t status = -1;
    initbus(&status);
    return status;
}

inline int16_t Net(NetworkRoutine* routine, int16_t channel, int16_t equipment, int16_t count,
                   int32_t address, void* data) {
    int16_t status = -1;
    routine(&channel, &equipment, &count, &address, data, &status);
    return status;
}

inline int16_t Db(DatabaseRoutine* routine, int16_t card, int16_t count, int32_t address,
                  void* data) {
    int16_t status = -1;
    routine(&card, &count, &address, data, &status);
    return status;
}

struct Cyc {
    int16_t channel = 0, number = 1, period = 0, one = 1, typeCode = 0x1005, kind = 3,
            equipment = 1, count = 4;
    int32_t address = 0;
    int16_t databaseAddress = 0, minusOne = -1;
};

inline int16_t Create(Cyc c) {
    int16_t status = -1;
    createcyc(&c.channel, &c.number, &c.period, &c.one, &c.typeCode, &c.kind, &c.equipment,
              &c.count, &c.address, &c.databaseAddress, &c.minusOne, &status);
    return status;
}

inline int16_t Trans(int16_t channel, int16_t number, void* data) {
    int16_t status = -1, out1 = 0, out2 = 0;
    transcycpack(&channel, &number, &out1, &out2, data, &status);
    return status;
}

inline int16_t Start(int16_t channel, int16_t number) {
    int16_t status = -1;
    startcyc(&channel, &number, &status);
    return status;
}

inline int16_t Stop(int16_t channel, int16_t number) {
    int16_t status = -1;
    stopcyc(&channel, &number, &status);
    return status;
}

inline ApcCall Entry(int32_t index) {
    ApcCall call{};
    EXPECT_EQ(ApcJournalGet(index, &call), 0) << "no journal entry " << index;
    return call;
}

inline std::vector<uint8_t> EntryData(int32_t index) {
    std::vector<uint8_t> data(1024);
    const int32_t size = ApcJournalData(index, data.data(), 1024);
    data.resize(size < 0 ? 0 : static_cast<size_t>(size));
    return data;
}

inline ApcCall Last() { return Entry(ApcJournalCount() - 1); }
inline std::vector<uint8_t> LastData() { return EntryData(ApcJournalCount() - 1); }

// Every test starts at power-on with the library open and the journal empty.
class CardTest : public ::testing::Test {
protected:
    void SetUp() override {
        ApcReset();
        ASSERT_EQ(Open(), 0);
        ApcJournalClear();
    }
    void TearDown() override { ApcReset(); }
};

}  // namespace apc_test
