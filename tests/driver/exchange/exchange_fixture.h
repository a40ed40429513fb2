// Fixture of the data-exchange tests: an open card, one station (channel 2,
// equipment 7), a gate transfer built by hand and the card's journal read back.
#pragma once

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "driver/address/memory_types.h"
#include "driver/exchange/gate_transfer.h"
#include "driver/platform/card.h"
#include "tests/support/driver_harness.h"

namespace qun_test {

constexpr uint8_t kUntouched = 0xEE;  // the host's value buffer before a call
constexpr int16_t kChannel = 2;
constexpr int16_t kEquipment = 7;

class ExchangeTest : public DriverTest {
protected:
    void SetUp() override {
        DriverTest::SetUp();
        int16_t status = 0;
        initbus(&status);  // the card as a cold start leaves it
        ApcJournalClear();
        DriverState& s = state();
        s.retryCount = 3;
        s.timeoutMs = 0;
        s.balanceFree = 0;
        s.firstCycNo = 0;
        std::memset(s.channelFirstCyc, 0, sizeof s.channelFirstCyc);
        std::memset(s.channelLastCyc, 0, sizeof s.channelLastCyc);
        s.stations[0] = {kChannel, kEquipment};
        std::memset(value_, kUntouched, sizeof value_);
        Gate(kW, 100);
    }

    // A gate on station 0; elementBits as the parser gives them.
    void Gate(uint16_t type, uint32_t elementAddress, int16_t byteness = 1, int32_t bit = -1,
              int32_t count = 1) {
        transfer_ = GateTransfer{};
        transfer_.tagName = "T1";
        const int32_t bits = type < kMemoryTypeCount ? kMemoryTypes[type].elementBits : 16;
        transfer_.address = GateAddress{0, type, byteness, elementAddress, bit, bits};
        transfer_.count = count;
        transfer_.value = value_;
    }

    // A request for calling inner functions directly.
    QunRequest* Request() {
        request_.state = &state();
        request_.parameters = &transfer_;
        return &request_;
    }

    void SetValue16(uint16_t v) { std::memcpy(value_ + 2, &v, 2); }
    void SetValue32(uint32_t v) { std::memcpy(value_, &v, 4); }
    uint16_t Value16() const {
        uint16_t v;
        std::memcpy(&v, value_ + 2, 2);
        return v;
    }

    static void Script(int32_t routine, std::vector<int16_t> statuses) {
        ApcScriptStatus(routine, statuses.data(), static_cast<int32_t>(statuses.size()));
    }

    static ApcCall CallAt(int32_t index) {
        ApcCall call{};
        EXPECT_EQ(0, ApcJournalGet(index, &call));
        return call;
    }
    // Names of the card routines called, in order.
    static std::vector<std::string> Routines() {
        std::vector<std::string> names;
        for (int32_t i = 0; i < ApcJournalCount(); ++i)
            names.push_back(ApcRoutineName(CallAt(i).routine));
        return names;
    }
    static std::vector<int32_t> Args(int32_t index) {
        const ApcCall call = CallAt(index);
        return std::vector<int32_t>(call.args, call.args + call.argCount);
    }
    static std::vector<uint8_t> Data(int32_t index) {
        std::vector<uint8_t> data(1024);
        const int32_t size = ApcJournalData(index, data.data(), static_cast<int32_t>(data.size()));
        data.resize(size < 0 ? 0 : static_cast<size_t>(size));
        return data;
    }
    // The word the equipment holds at a word address.
    static void PokeWord(int32_t area, int32_t address, uint16_t word) {
        ApcPoke(kChannel, kEquipment, area, address, &word, 1);
    }

    // A cyclic function of the station's equipment on the card, in manual
    // mode, with one cycle run so that its image holds the equipment's data.
    static int16_t CreateCyclic(int16_t number, uint16_t type, int16_t count, int32_t address,
                                int16_t databaseAddress) {
        int16_t channel = kChannel, period = 0, one = 1, minusOne = -1, status = -1;
        int16_t code = static_cast<int16_t>(kMemoryTypes[type].cyclicFunctionCode);
        int16_t kind = static_cast<int16_t>(kMemoryTypes[type].databaseKind);
        int16_t equipment = kEquipment;
        ApcSetCyclicManual(1);
        createcyc(&channel, &number, &period, &one, &code, &kind, &equipment, &count, &address,
                  &databaseAddress, &minusOne, &status);
        ApcCyclicStep();
        ApcJournalClear();
        return status;
    }

    static double MillisecondsSince(std::chrono::steady_clock::time_point start) {
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count();
    }

    GateTransfer transfer_{};
    uint8_t value_[1100];
};

}  // namespace qun_test
