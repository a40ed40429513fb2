// Dispatch of QunMain, the information record, the trace-only functions and the
// defaults of the state block.
#include <cstring>
#include <string>

#include "driver/entry/driver_state.h"
#include "driver/entry/qun_info.h"
#include "driver/platform/host.h"
#include "tests/support/driver_harness.h"

namespace qun_test {
namespace {

class EntryTest : public DriverTest {};

TEST_F(EntryTest, IllegalFunctionCodesAnswerTwoAndLogOnce) {
    for (uint32_t code : {0u, 18u, 255u, 0x80000000u, 0xFFFFFFFFu}) {
        KvxLogClear();
        EXPECT_EQ(Call(code, nullptr), 2) << code;
        EXPECT_EQ(Log(),
                  (std::vector<LogLine>{{kLogTrace, "RIREVI: Exited QunMain(), function illegal"}}))
            << code;
    }
}

TEST_F(EntryTest, EmptyFunctionCodesAnswerTwoAndLogOnce) {
    for (uint32_t code : {8u, 9u, 17u}) {
        KvxLogClear();
        EXPECT_EQ(Call(code, nullptr), 2) << code;
        EXPECT_EQ(Log(),
                  (std::vector<LogLine>{{kLogTrace, "RIREVI: Exited QunMain(), function is NULL"}}))
            << code;
    }
}

TEST_F(EntryTest, IllegalAndEmptyCodesLeaveTheStateAlone) {
    std::vector<uint8_t> before(sizeof(DriverState));
    std::memcpy(before.data(), &state(), before.size());
    for (uint32_t code : {0u, 8u, 9u, 17u, 18u}) Call(code, nullptr);
    EXPECT_EQ(std::memcmp(before.data(), &state(), before.size()), 0);
}

// The banner as the host expects it, built independently of the driver's text.
std::string ExpectedBanner() {
    std::string bar(60, '\xCD');
    return std::string("\x08") + "\xC9" + bar + "\xBB\n" + "\xBA" +
           "  RIREVI :  Applicom multi-protocol         (32-bit driver) " + "\xBA\n" + "\xC8" +
           bar + "\xBC";
}

TEST_F(EntryTest, GetQunInfoFillsTheRecordFieldByField) {
    uint8_t record[sizeof(QunInfo) + 8];
    std::memset(record, 0x5A, sizeof record);
    EXPECT_EQ(Call(14, record), 0);

    QunInfo info;
    std::memcpy(&info, record, sizeof info);
    EXPECT_EQ(info.infoCode, 82u);
    EXPECT_STREQ(info.makerName, "Applicom ");
    // The host allocates what is reported: the record's own size, which is
    // 2796 bytes on the 32-bit target.
    EXPECT_EQ(info.stateSize, sizeof(DriverState));
    if (sizeof(void*) == 4) {
        EXPECT_EQ(info.stateSize, 2796u);
    }
    EXPECT_EQ(info.value16, 2u);
    EXPECT_EQ(info.value20, 0u);
    EXPECT_EQ(info.capabilities, 786467u);
    // Bytes 22 to 27 belong to the host, and nothing past the record is touched.
    const size_t hostOwned = offsetof(QunInfo, hostOwned22);
    for (size_t i = hostOwned; i < hostOwned + 6; ++i) EXPECT_EQ(record[i], 0x5A) << i;
    for (size_t i = sizeof(QunInfo); i < sizeof record; ++i) EXPECT_EQ(record[i], 0x5A) << i;

    const std::string banner = info.banner;
    EXPECT_EQ(banner.size(), 189u);
    EXPECT_EQ(banner, ExpectedBanner());
    EXPECT_EQ(Log(), (std::vector<LogLine>{{kLogTrace, "RIREVI: GetQunInfo() exited"}}));
}

TEST_F(EntryTest, GetQunInfoDoesNotTouchTheStateBlock) {
    std::vector<uint8_t> before(sizeof(DriverState));
    std::memcpy(before.data(), &state(), before.size());
    QunInfo info{};
    Call(14, &info);
    EXPECT_EQ(std::memcmp(before.data(), &state(), before.size()), 0);
}

TEST_F(EntryTest, GetQunInfoTextsStayValid) {
    QunInfo first{}, second{};
    Call(14, &first);
    Call(14, &second);
    EXPECT_EQ(first.banner, second.banner);
    EXPECT_EQ(first.makerName, second.makerName);
}

TEST_F(EntryTest, WarmStartTracesInstanceAndPlcNumber) {
    struct Case {
        uint32_t instance, plc;
        const char* line;
    } cases[] = {
        {3, 10, "RIREVI: WarmStart() QUN3 plc0Ah"},
        {12, 255, "RIREVI: WarmStart() QUN12 plcFFh"},
        {0, 0x1234, "RIREVI: WarmStart() QUN0 plc1234h"},
    };
    for (const Case& c : cases) {
        KvxLogClear();
        instance_ = c.instance;
        WarmStartParams params{c.plc};
        EXPECT_EQ(Call(2, &params), 0);
        EXPECT_EQ(Log(), (std::vector<LogLine>{{kLogTrace, c.line}}));
    }
}

TEST_F(EntryTest, TraceOnlyFunctionsLogTheirLineAndAnswerZero) {
    struct Case {
        uint32_t code;
        const char* line;
    } cases[] = {
        {12, "RIREVI: CloseCom() exited 0"},
        {13, "RIREVI: ReOpenCom() exited 0"},
        {15, "RIREVI: ChangeQunParams() exitted, 0"},
    };
    for (const Case& c : cases) {
        for (uint8_t open : {0, 1}) {
            KvxLogClear();
            state().cardOpen = open;
            EXPECT_EQ(Call(c.code, nullptr), 0) << c.code;
            EXPECT_EQ(Log(), (std::vector<LogLine>{{kLogTrace, c.line}})) << c.code;
        }
    }
}

TEST(InitDriverStateTest, PutsTheDefaultsAndTouchesNothingElse) {
    std::vector<uint8_t> bytes(sizeof(DriverState), 0xA5);
    DriverState& state = *reinterpret_cast<DriverState*>(bytes.data());
    InitDriverState(&state);

    EXPECT_EQ(state.cardOpen, 0);
    EXPECT_EQ(state.cyclicAllowed, 1);
    for (const StationEntry& entry : state.stations) {
        EXPECT_EQ(entry.channel, 0xFF);
        EXPECT_EQ(entry.equipment, 0xFF);
    }
    for (uint16_t counter : state.channelLastCyc) EXPECT_EQ(counter, 0);
    EXPECT_EQ(state.nextFreeBit, 0);
    EXPECT_EQ(state.lowestUsedByte, 14000);
    EXPECT_EQ(state.nextFreeWord, 0);
    EXPECT_EQ(state.clearCyclic, 1);
    EXPECT_EQ(state.firstCycNo, 0);

    // Fields set elsewhere keep the host's bytes.
    EXPECT_EQ(state.cardBuffer[0], 0xA5);
    EXPECT_EQ(state.retryCount, 0xA5A5A5A5u);
    EXPECT_EQ(static_cast<uint32_t>(state.balanceFree), 0xA5A5A5A5u);
    EXPECT_EQ(static_cast<uint16_t>(state.cyclicCount), 0xA5A5u);
    EXPECT_EQ(static_cast<uint32_t>(state.timeoutMs), 0xA5A5A5A5u);
    EXPECT_EQ(state.mirrorAddress, 0xA5A5u);
}

}  // namespace
}  // namespace qun_test
