// ColdStart and EndQun through QunMain of the real module: the log, the card
// calls, the state fields they set, and the supervisor thread they start.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "driver/address/parse_block.h"
#include "driver/entry/driver_state.h"
#include "driver/entry/qun_info.h"
#include "driver/platform/host.h"
#include "driver/platform/os.h"
#include "tests/driver/cyclic/cyclic_test_support.h"
#include "tests/support/driver_harness.h"

namespace qun_test {
namespace {

const char kNoFile[] = "RIREVI: ColdStart() Warning, no initfile found: defaults used";
const char kNoComm[] = "RIREVI: Coldstart() exited with error, no comm. possible";
const char kInitbusOk[] = "RIREVI: ColdStart() applicom initbus succeeded";
const char kClearedAtStart[] = "RIREVI: Clear (startup) Cyclic data";
const char kClearedAtEnd[] = "QunDOZ : Clear Cyclic data";
const char kEnded[] = "RIREVI: EndQun() exited";

// A handle field as the host's fill pattern left it.
os::Handle PatternHandle() {
    os::Handle handle;
    std::memset(&handle, 0xA5, sizeof handle);
    return handle;
}

bool IsVersionLine(const LogLine& line) {
    static const std::regex pattern(
        "RIREVI: ColdStart\\(\\) version compiled on "
        "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) ( [1-9]|[12][0-9]|3[01]) [0-9]{4} "
        "at time ([01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9]");
    return line.level == kLogError && std::regex_match(line.text, pattern);
}

// The host thread's lines: the supervisor's own lines left out, since they
// arrive in their own time.
std::vector<LogLine> HostLines() {
    std::vector<LogLine> lines;
    for (const LogLine& line : Log())
        if (line.text.rfind("RIREVI Thread: ", 0) != 0) lines.push_back(line);
    return lines;
}

// The version line first, then the rest exactly.
void ExpectHostLog(const std::vector<LogLine>& rest) {
    const std::vector<LogLine> lines = HostLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(IsVersionLine(lines[0])) << lines[0].text;
    EXPECT_EQ(std::vector<LogLine>(lines.begin() + 1, lines.end()), rest);
}

// Card calls made on the thread with this journal identifier, by routine.
std::vector<int32_t> RoutinesOf(uint32_t threadId) {
    std::vector<int32_t> routines;
    for (const ApcCall& call : Journal())
        if (call.threadId == threadId) routines.push_back(call.routine);
    return routines;
}

std::vector<int32_t> Routines(int32_t first, int32_t repeated, int count) {
    std::vector<int32_t> routines;
    if (first >= 0) routines.push_back(first);
    routines.insert(routines.end(), static_cast<size_t>(count), repeated);
    return routines;
}

class ColdStartTest : public DriverTest {
protected:
    void SetUp() override {
        instance_ = 77;  // an instance without an initialisation file
        DriverTest::SetUp();
        std::remove("qunDOZ77.INT");
        hostThread_ = JournalIdOfThisThread();
        ApcJournalClear();
        ApcSetInstalledCards(0x1);  // clearing ends at channel 4: 1025 createcyc calls
    }

    void TearDown() override {
        EndSupervisors(started_);
        DriverTest::TearDown();
    }

    int32_t StartDriver(int32_t openFlag, int32_t timeout) {
        ColdStartParams params{};
        params.openFlag = openFlag;
        params.timeout = timeout;
        const int32_t result = Call(1, &params);
        if (state().cardOpen == 1) ++started_;
        return result;
    }

    // The card calls of the host thread, the one that calls QunMain.
    std::vector<int32_t> HostThreadRoutines() const { return RoutinesOf(hostThread_); }

    int started_ = 0;
    uint32_t hostThread_ = 0;
};

TEST_F(ColdStartTest, WithoutOpeningTheCardOnlyTheSettingsAreMade) {
    struct Row {
        int32_t timeout;
        int32_t timeoutMs;
    };
    for (const Row& row : {Row{50, 500}, Row{0, 0}, Row{7, 70}, Row{-3, -30}}) {
        KvxLogClear();
        ApcJournalClear();
        EXPECT_EQ(StartDriver(0, row.timeout), 0);
        ExpectHostLog({{kLogError, kNoFile},
                       {kLogTrace, "RIREVI: Timeout is " + std::to_string(row.timeoutMs)}});
        EXPECT_EQ(ApcJournalCount(), 0) << "no initbus, no clearing";
        EXPECT_EQ(state().timeoutMs, row.timeoutMs);
    }
    EXPECT_EQ(state().cardOpen, 0);
    EXPECT_EQ(LoadCyclicCount(&state()), 0);
    EXPECT_EQ(state().cyclicAllowed, 1);
    EXPECT_EQ(state().clearCyclic, 1);
    EXPECT_EQ(state().retryCount, 3u);
    EXPECT_EQ(state().balanceFree, 1);
    EXPECT_EQ(state().stations[0].channel, kFreeStation);
    EXPECT_EQ(state().stations[255].equipment, kFreeStation);
    // No semaphore and no thread.
    EXPECT_EQ(state().initSemaphore, PatternHandle());
    EXPECT_EQ(state().supervisorThread, PatternHandle());
    os::SleepMs(200);
    EXPECT_EQ(KvxRequestedClientCount(), 0);
}

TEST_F(ColdStartTest, AFailingInitbusLeavesTheCardClosed) {
    struct Row {
        int16_t status;
        const char* message;
    };
    const Row rows[] = {
        {45, "RIREVI: ColdStart() initbus error, comm. server not installed"},
        {47, "RIREVI: ColdStart() initbus error, interface not installed"},
        {3, "RIREVI: ColdStart() initbus error, status 3"},
        {-1, "RIREVI: ColdStart() initbus error, status 4294967295"},
    };
    for (const Row& row : rows) {
        for (int32_t openFlag : {1, 2, -1}) {
            SCOPED_TRACE(std::to_string(row.status) + " open flag " + std::to_string(openFlag));
            KvxLogClear();
            ApcJournalClear();
            ApcScriptStatus(APC_initbus, &row.status, 1);
            EXPECT_EQ(StartDriver(openFlag, 50), 0);

            std::vector<LogLine> expected = {{kLogError, kNoFile},
                                             {kLogTrace, "RIREVI: Timeout is 500"},
                                             {kLogError, row.message}};
            if (openFlag == 1) expected.push_back({kLogError, kNoComm});
            ExpectHostLog(expected);
            EXPECT_EQ(HostThreadRoutines(), std::vector<int32_t>{APC_initbus});
            EXPECT_EQ(state().cardOpen, 0);
            EXPECT_EQ(state().initSemaphore, PatternHandle());
            EXPECT_EQ(state().supervisorThread, PatternHandle());
        }
    }
    os::SleepMs(200);
    EXPECT_EQ(KvxRequestedClientCount(), 0);
}

TEST_F(ColdStartTest, OpeningTheCardStartsTheSupervisorAndClears) {
    state().cardOpen = 0xA5;
    EXPECT_EQ(StartDriver(1, 50), 0);
    ExpectHostLog({{kLogError, kNoFile},
                   {kLogTrace, "RIREVI: Timeout is 500"},
                   {kLogTrace, kInitbusOk},
                   {kLogError, kClearedAtStart}});
    EXPECT_EQ(HostThreadRoutines(), Routines(APC_initbus, APC_createcyc, 4 * 256 + 1));
    EXPECT_EQ(state().cardOpen, 1);
    EXPECT_EQ(LoadCyclicCount(&state()), 0);

    // The supervisor runs under the identifier stored for it and registers.
    ASSERT_NE(state().supervisorThread, nullptr);
    EXPECT_NE(state().supervisorThread, PatternHandle());
    EXPECT_NE(state().supervisorThreadId, 0u);
    EXPECT_NE(state().supervisorThreadId, os::CurrentThreadId());
    ASSERT_GE(KvxLogWaitFor("RIREVI Thread: Connected to Korvex", 0, 10000), 0);
    EXPECT_EQ(KvxClientCount(), 1);

    // initSemaphore: count 0 at first, at most 1.
    const os::Handle semaphore = state().initSemaphore;
    ASSERT_NE(semaphore, nullptr);
    EXPECT_FALSE(os::SemaphoreWait(semaphore, 0));
    os::SemaphoreRelease(semaphore);
    os::SemaphoreRelease(semaphore);
    EXPECT_TRUE(os::SemaphoreWait(semaphore, 0));
    EXPECT_FALSE(os::SemaphoreWait(semaphore, 0));
    // A wait of a part second ends when its time is up, not at once.
    using Ms = std::chrono::duration<double, std::milli>;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(os::SemaphoreWait(semaphore, 999));
    const double waited = Ms(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(waited, 990.0);

    // The shut-down's stop is the thread's, under its identifier.
    SetRegistry(state(), {{1, 1}});
    ApcJournalClear();
    EndSupervisors(started_);
    started_ = 0;
    const std::vector<ApcCall> calls = Journal();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].routine, APC_stopcyc);
    EXPECT_NE(calls[0].threadId, hostThread_);
#if defined(_WIN32)
    EXPECT_EQ(calls[0].threadId, state().supervisorThreadId);
#endif
}

TEST_F(ColdStartTest, EndQunClearsAndClosesButLeavesTheSupervisorRunning) {
    ASSERT_EQ(StartDriver(1, 50), 0);
    ASSERT_GE(KvxLogWaitFor("RIREVI Thread: Connected to Korvex", 0, 10000), 0);
    KvxLogClear();
    ApcJournalClear();
    EXPECT_EQ(Call(11, nullptr), 0);

    EXPECT_EQ(HostLines(), (std::vector<LogLine>{{kLogError, kClearedAtEnd}, {kLogTrace, kEnded}}));
    std::vector<int32_t> expected = Routines(-1, APC_createcyc, 4 * 256 + 1);
    expected.push_back(APC_exitbus);
    EXPECT_EQ(HostThreadRoutines(), expected);
    EXPECT_EQ(state().cardOpen, 1);

    // The thread goes on polling the host until the shut-down.
    const int polls = KvxCallCount(KVX_WAITMSG);
    EXPECT_TRUE(WaitUntil([polls] { return KvxCallCount(KVX_WAITMSG) >= polls + 2; }, 10000));
    EXPECT_EQ(KvxClientCount(), 1);
}

TEST_F(ColdStartTest, EndQunWithoutClearingOnlyCloses) {
    state().clearCyclic = 0;
    EXPECT_EQ(Call(11, nullptr), 0);
    EXPECT_EQ(Log(), (std::vector<LogLine>{{kLogTrace, kEnded}}));
    EXPECT_EQ(HostThreadRoutines(), std::vector<int32_t>{APC_exitbus});
}

TEST_F(ColdStartTest, ClearOffInTheFileSkipsBothClearings) {
    instance_ = 78;
    FILE* file = std::fopen("qunDOZ78.INT", "w");
    ASSERT_NE(file, nullptr);
    std::fputs("CLEAR OFF\n", file);
    std::fclose(file);

    EXPECT_EQ(StartDriver(1, 50), 0);
    EXPECT_EQ(Call(11, nullptr), 0);
    std::remove("qunDOZ78.INT");

    ExpectHostLog({{kLogError, "RIREVI: Set clear Cyclic to OFF"},
                   {kLogTrace, "RIREVI: Timeout is 500"},
                   {kLogTrace, kInitbusOk},
                   {kLogTrace, kEnded}});
    EXPECT_EQ(HostThreadRoutines(), (std::vector<int32_t>{APC_initbus, APC_exitbus}));
    EXPECT_EQ(state().clearCyclic, 0);
}

TEST_F(ColdStartTest, ASecondColdStartResetsTheTablesAndStartsASecondSupervisor) {
    ASSERT_EQ(StartDriver(1, 50), 0);
    const os::Handle firstThread = state().supervisorThread;
    const os::Handle firstSemaphore = state().initSemaphore;
    state().stations[4] = StationEntry{2, 3};
    SetRegistry(state(), {{1, 1}, {1, 2}});
    state().cyclicAllowed = 0;

    ASSERT_EQ(StartDriver(1, 20), 0);
    EXPECT_EQ(state().stations[4].channel, kFreeStation);
    EXPECT_EQ(state().stations[4].equipment, kFreeStation);
    EXPECT_EQ(LoadCyclicCount(&state()), 0);
    EXPECT_EQ(state().cyclicAllowed, 1);
    EXPECT_EQ(state().timeoutMs, 200);
    EXPECT_NE(state().supervisorThread, firstThread);
    EXPECT_NE(state().initSemaphore, firstSemaphore);
    EXPECT_EQ(ApcJournalCountOf(APC_initbus), 2);

    ASSERT_TRUE(
        WaitUntil([] { return CountLog("RIREVI Thread: Connected to Korvex") == 2; }, 10000));
    EXPECT_EQ(KvxClientCount(), 2);
    EndSupervisors(started_);
    started_ = 0;
    EXPECT_EQ(KvxCallCount(KVX_RMCLIENT), 2);
    EXPECT_EQ(CountLog("RIREVI Thread: Closing the handle"), 2);
}

// A host may cold-start an instance any number of times in one process; each
// start keeps its semaphore (the driver never closes it), and a hundred
// supervisors may run at once before the host's shut-down message.
TEST_F(ColdStartTest, HundredsOfColdStartsEachStartTheirSupervisor) {
    FILE* file = std::fopen("qunDOZ77.INT", "w");
    ASSERT_NE(file, nullptr);
    std::fputs("CLEAR OFF\n", file);
    std::fclose(file);
    constexpr int kCycles = 300;
    constexpr int kBatch = 100;
    for (int cycle = 1; cycle <= kCycles; ++cycle) {
        ASSERT_EQ(StartDriver(1, 10), 0);
        ASSERT_EQ(state().cardOpen, 1) << cycle;
        ASSERT_NE(state().initSemaphore, nullptr) << cycle;
        ASSERT_NE(state().supervisorThread, nullptr) << "cold start " << cycle;
        ASSERT_EQ(Call(11, nullptr), 0);
        if (cycle % kBatch == 0) {
            ASSERT_TRUE(WaitUntil([cycle] { return KvxRequestedClientCount() >= cycle; }, 20000));
            EndSupervisors(started_);
            started_ = 0;
            ApcJournalClear();
            KvxLogClear();
        }
    }
    EXPECT_EQ(KvxCallCount(KVX_RMCLIENT), kCycles);
    std::remove("qunDOZ77.INT");
}

TEST_F(ColdStartTest, APassiveBackupStopsTheFirstBlockGatesCyclicFunctionWhenItIsCreated) {
    KvxSetStationConfig(0x1);
    KvxSetBackupMode(1);
    ApcSetCyclicManual(1);
    ASSERT_EQ(StartDriver(1, 50), 0);
    ASSERT_GE(KvxLogWaitFor("RIREVI Thread: Waiting for the end of the QUN Init", 0, 10000), 0);

    ParseBlock block{};
    block.addressText = "2_7_W_100_S1000";
    block.elementCount = 10;
    ASSERT_EQ(Call(4, &block), 0);
    const int32_t number = block.address.bitOrCyclicNumber;
    ASSERT_GE(number, 0);
    EXPECT_EQ(ApcCyclicState(2, number), 1);

    // The parser's release ends the wait long before its 10-second bound.
    ASSERT_GE(KvxLogWaitFor("VUROR: Stopping 1 cyclic functions", 0, 5000), 0);
    const std::string stopped = "RIREVI: StopCyclicFunctions() Successful! Cycle chan2 cyclfunc" +
                                std::to_string(number) + ", stat 0";
    ASSERT_GE(KvxLogWaitFor(stopped.c_str(), 0, 5000), 0);
    EXPECT_EQ(ApcCyclicState(2, number), 0);
}

}  // namespace
}  // namespace qun_test
