// Clearing, stopping and starting cyclic functions, checked through the card
// journal and the host log.
#include "driver/cyclic/cyclic_control.h"

#include <cstring>
#include <string>
#include <vector>

#include "driver/platform/host.h"
#include "tests/driver/cyclic/cyclic_test_support.h"
#include "tests/support/driver_harness.h"

namespace qun_test {
namespace {

class CyclicControlTest : public DriverTest {
protected:
    void SetUp() override {
        DriverTest::SetUp();
        OpenCard();
        ApcJournalClear();
        KvxLogClear();
    }
};

std::vector<int32_t> ClearArguments(int32_t channel, int32_t number) {
    return {channel, number, 0, 0, 0, 1, 0, 1, 0, 0, -1};
}

std::vector<int32_t> ArgumentsOf(const ApcCall& call) {
    return std::vector<int32_t>(call.args, call.args + call.argCount);
}

TEST_F(CyclicControlTest, ClearingScansEveryNumberOfEveryChannelWithTheEmptyDefinition) {
    ClearCyclicFunctions();
    const std::vector<ApcCall> calls = Journal();
    ASSERT_EQ(calls.size(), 8192u);
    for (size_t i = 0; i < calls.size(); ++i) {
        const int32_t channel = static_cast<int32_t>(i / 256);
        const int32_t number = static_cast<int32_t>(i % 256);
        ASSERT_EQ(calls[i].routine, APC_createcyc) << i;
        ASSERT_EQ(ArgumentsOf(calls[i]), ClearArguments(channel, number)) << i;
        ASSERT_EQ(calls[i].status, 0) << i;
    }
    EXPECT_TRUE(Log().empty());
}

TEST_F(CyclicControlTest, ClearingEndsEverywhereAtTheFirst46) {
    // Channel 0, number 5 answers 46: numbers 0 to 5 of channel 0 and nothing else.
    const int16_t statuses[] = {0, 0, 0, 0, 0, 46};
    ApcScriptStatus(APC_createcyc, statuses, 6);
    SetRegistry(state(), {{2, 7}, {3, 9}});
    ClearCyclicFunctions();

    const std::vector<ApcCall> calls = Journal();
    ASSERT_EQ(calls.size(), 6u);
    for (int32_t i = 0; i < 6; ++i) EXPECT_EQ(ArgumentsOf(calls[i]), ClearArguments(0, i));
    EXPECT_TRUE(Log().empty());
    // The registry is not the scan's business.
    EXPECT_EQ(LoadCyclicCount(&state()), 2);
    EXPECT_EQ(state().cyclicChannel[1], 3);
    EXPECT_EQ(state().cyclicNumber[1], 9);
}

TEST_F(CyclicControlTest, ClearingStopsAtTheFirstMissingCard) {
    // Only card 1 (channels 0 to 3): channel 4 answers 46 on its first number.
    ApcSetInstalledCards(0x1);
    ClearCyclicFunctions();
    const std::vector<ApcCall> calls = Journal();
    ASSERT_EQ(calls.size(), 4u * 256u + 1u);
    EXPECT_EQ(ArgumentsOf(calls.back()), ClearArguments(4, 0));
    EXPECT_EQ(calls.back().status, 46);
    EXPECT_TRUE(Log().empty());
}

TEST_F(CyclicControlTest, ClearingRepeatsA45OnceWithoutReopeningAndLogsOtherStatuses) {
    struct Row {
        std::vector<int16_t> script;         // statuses of the first calls
        std::vector<int32_t> numbersCalled;  // on channel 0, up to the 46 that ends it
        std::vector<std::string> messages;
    };
    const std::vector<Row> rows = {
        {{45, 0, 46}, {0, 0, 1}, {}},
        {{45, 45, 46},
         {0, 0, 1},
         {"RIREVI: ClearCyclicFunctions() error reset chan0 cyclfunc0, stat 45"}},
        {{7, 3, 46},
         {0, 1, 2},
         {"RIREVI: ClearCyclicFunctions() error reset chan0 cyclfunc0, stat 7",
          "RIREVI: ClearCyclicFunctions() error reset chan0 cyclfunc1, stat 3"}},
        {{-6, 46},
         {0, 1},
         {"RIREVI: ClearCyclicFunctions() error reset chan0 cyclfunc0, stat 4294967290"}},
    };
    for (const Row& row : rows) {
        ApcJournalClear();
        KvxLogClear();
        ApcScriptStatus(APC_createcyc, row.script.data(), static_cast<int32_t>(row.script.size()));
        ClearCyclicFunctions();

        std::vector<int32_t> numbers;
        for (const ApcCall& call : Journal()) {
            EXPECT_EQ(call.routine, APC_createcyc);  // no initbus in between
            EXPECT_EQ(call.args[0], 0);
            numbers.push_back(call.args[1]);
        }
        EXPECT_EQ(numbers, row.numbersCalled) << row.script[0];
        std::vector<LogLine> expected;
        for (const std::string& text : row.messages) expected.push_back({kLogTrace, text});
        EXPECT_EQ(Log(), expected) << row.script[0];
    }
}

TEST_F(CyclicControlTest, ClearingGoesOnThroughAnyOtherStatus) {
    const std::vector<int16_t> sevens(8192, 7);
    ApcScriptStatus(APC_createcyc, sevens.data(), static_cast<int32_t>(sevens.size()));
    ClearCyclicFunctions();
    EXPECT_EQ(ApcJournalCountOf(APC_createcyc), 8192);
    const std::vector<LogLine> log = Log();
    ASSERT_EQ(log.size(), 8192u);
    EXPECT_EQ(
        log.front(),
        (LogLine{kLogTrace, "RIREVI: ClearCyclicFunctions() error reset chan0 cyclfunc0, stat 7"}));
    EXPECT_EQ(log[300],
              (LogLine{kLogTrace,
                       "RIREVI: ClearCyclicFunctions() error reset chan1 cyclfunc44, stat 7"}));
    EXPECT_EQ(log.back(),
              (LogLine{kLogTrace,
                       "RIREVI: ClearCyclicFunctions() error reset chan31 cyclfunc255, stat 7"}));
}

TEST_F(CyclicControlTest, AnEmptyRegistryMakesNoCall) {
    for (int16_t count : {int16_t{0}, int16_t{-1}, int16_t{-23131}}) {
        KvxLogClear();
        PublishCyclicCount(&state(), count);
        StopCyclicFunctions(&state());
        StartCyclicFunctions(&state());
        EXPECT_EQ(ApcJournalCount(), 0) << count;
        EXPECT_EQ(Log(),
                  (std::vector<LogLine>{{kLogError, "VUROR: Stopping " + std::to_string(count) +
                                                        " cyclic functions"}}))
            << count;
    }
}

// One registry entry, the statuses its routine answers, what the walk does.
struct WalkRow {
    bool defined;                 // the function exists on the card
    std::vector<int16_t> script;  // scripted statuses of the walk's routine
    bool reopened;                // initbus and a repeat
    bool success;
    std::string status;  // as printed
};

const std::vector<WalkRow> kWalkRows = {
    {true, {}, false, true, "0"},
    {false, {}, false, true, "46"},  // an unknown function counts as done
    {true, {45, 0}, true, true, "0"},
    {true, {45, 45}, true, false, "45"},
    {true, {3}, false, false, "3"},
    {true, {-6}, false, false, "4294967290"},
};

void RunWalkRows(DriverState& state, bool stop) {
    const int32_t routine = stop ? APC_stopcyc : APC_startcyc;
    for (const WalkRow& row : kWalkRows) {
        ApcReset();
        OpenCard();
        if (row.defined) {
            ASSERT_EQ(DefineCyclic(5, 17), 0);
        }
        ApcJournalClear();
        KvxLogClear();
        ApcScriptStatus(routine, row.script.data(), static_cast<int32_t>(row.script.size()));
        SetRegistry(state, {{5, 17}});
        if (stop) {
            StopCyclicFunctions(&state);
        } else {
            StartCyclicFunctions(&state);
        }

        std::vector<CyclicCall> calls = {{routine, 5, 17}};
        if (row.reopened) {
            calls.push_back({APC_initbus, -1, -1});
            calls.push_back({routine, 5, 17});
        }
        EXPECT_EQ(CyclicCalls(), calls) << row.status;

        std::vector<LogLine> expected;
        if (stop) expected.push_back({kLogError, "VUROR: Stopping 1 cyclic functions"});
        const std::string where = "chan5 cyclfunc17, stat " + row.status;
        const std::string errorWhere = "Chan.5 Func.17, stat " + row.status;
        if (stop) {
            expected.push_back(
                row.success
                    ? LogLine{kLogTrace, "RIREVI: StopCyclicFunctions() Successful! Cycle " + where}
                    : LogLine{kLogError, "RIREVI: StopCyclicFunctions() error on " + errorWhere});
        } else {
            expected.push_back(
                row.success
                    ? LogLine{kLogError, "RIREVI: StartCyclicFunctions() Successful!Cycle " + where}
                    : LogLine{kLogError, "RIREVI: StartCyclicFunctions() error on " + errorWhere});
        }
        EXPECT_EQ(Log(), expected) << row.status;
    }
}

TEST_F(CyclicControlTest, StopReactsToEachStatus) { RunWalkRows(state(), true); }

TEST_F(CyclicControlTest, StartReactsToEachStatus) { RunWalkRows(state(), false); }

TEST_F(CyclicControlTest, TheWalksTryEveryEntryInOrder) {
    ASSERT_EQ(DefineCyclic(0, 1), 0);
    ASSERT_EQ(DefineCyclic(9, 200), 0);
    ApcJournalClear();
    SetRegistry(state(), {{0, 1}, {4, 2}, {9, 200}});
    const int16_t statuses[] = {0, 3};  // the second entry fails; the third is still tried
    ApcScriptStatus(APC_stopcyc, statuses, 2);
    StopCyclicFunctions(&state());
    StartCyclicFunctions(&state());

    EXPECT_EQ(CyclicCalls(), (std::vector<CyclicCall>{{APC_stopcyc, 0, 1},
                                                      {APC_stopcyc, 4, 2},
                                                      {APC_stopcyc, 9, 200},
                                                      {APC_startcyc, 0, 1},
                                                      {APC_startcyc, 4, 2},
                                                      {APC_startcyc, 9, 200}}));
    EXPECT_EQ(ApcCyclicState(0, 1), 1);
    EXPECT_EQ(ApcCyclicState(9, 200), 1);
    EXPECT_EQ(LogTexts(),
              (std::vector<std::string>{
                  "VUROR: Stopping 3 cyclic functions",
                  "RIREVI: StopCyclicFunctions() Successful! Cycle chan0 cyclfunc1, stat 0",
                  "RIREVI: StopCyclicFunctions() error on Chan.4 Func.2, stat 3",
                  "RIREVI: StopCyclicFunctions() Successful! Cycle chan9 cyclfunc200, stat 0",
                  "RIREVI: StartCyclicFunctions() Successful!Cycle chan0 cyclfunc1, stat 0",
                  "RIREVI: StartCyclicFunctions() Successful!Cycle chan4 cyclfunc2, stat 46",
                  "RIREVI: StartCyclicFunctions() Successful!Cycle chan9 cyclfunc200, stat 0",
              }));
}

TEST_F(CyclicControlTest, TheWalksNeverGoPastTheRegistrysPlaces) {
    // A count beyond the 32 places (an uninitialised state, say) walks the
    // 32 entries there are and reads nothing beyond them.
    for (int i = 0; i < kRegistryChannelPlaces; ++i) {
        state().cyclicChannel[i] = 1;
        state().cyclicNumber[i] = static_cast<int16_t>(i);
    }
    PublishCyclicCount(&state(), 40);
    StopCyclicFunctions(&state());
    EXPECT_EQ(ApcJournalCountOf(APC_stopcyc), kRegistryChannelPlaces);
    EXPECT_EQ(Log().front().text, "VUROR: Stopping 40 cyclic functions");
    ApcJournalClear();
    StartCyclicFunctions(&state());
    EXPECT_EQ(ApcJournalCountOf(APC_startcyc), kRegistryChannelPlaces);
}

}  // namespace
}  // namespace qun_test
