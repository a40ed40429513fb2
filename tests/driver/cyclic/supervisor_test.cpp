// The redundancy supervisor thread against the stand-in host and card: its
// start-up, the initial stop of a passive backup, the supervision loop's
// reactions to the backup mode, and its shut-down.
//
// The thread's pauses (500 ms per pass, at most 10000 ms for the first cyclic
// function) are its own; the tests wait for log lines and call counts with
// generous bounds and end every thread before the state block goes away.
#include "driver/cyclic/supervisor.h"

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "driver/platform/host.h"
#include "driver/platform/os.h"
#include "tests/driver/cyclic/cyclic_test_support.h"
#include "tests/support/driver_harness.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace qun_test {
namespace {

using Clock = std::chrono::steady_clock;

const char kConnected[] = "RIREVI Thread: Connected to Korvex";
const char kNoClient[] = "RIREVI Thread: Couldn't create the client";
const char kWaiting[] = "RIREVI Thread: Waiting for the end of the QUN Init";
const char kStoppingCycles[] = "RIREVI Thread: Stopping Cycles";
const char kRemoving[] = "RIREVI Thread: Removing the client";

const char kBackupRestarts[] =
    "RIREVI Thread: Station mode changed! Backup Station is active Restarting Backup Cyclic "
    "Requests";
const char kBackupStops[] =
    "RIREVI Thread: Station mode changed! Master station is active Stopping Cyclic Requests";
const char kMasterRestarts[] =
    "RIREVI Thread: Station mode changed! Master Station is active Restarting Backup Cyclic "
    "Requests";
const char kMasterStops[] =
    "RIREVI Thread: Station mode changed! Backup station is active Stopping Cyclic Requests";

int64_t MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

#if defined(_WIN32)
// Whether handle still names the thread with this identifier (a closed
// handle's value may already name some other object).
bool HandleIsOpen(os::Handle handle, uint32_t threadId) {
    return GetThreadId(static_cast<HANDLE>(handle)) == threadId;
}
#endif

// Holds a new thread back before the supervisor's procedure runs, as the
// system does with a thread created while the host holds its module loader
// lock, until the gate is released.
os::Handle heldGate = nullptr;
os::ThreadResult OS_THREAD_CALL HeldSupervisor(void* state) {
    os::SemaphoreWait(heldGate, 60000);
    return SupervisorThread(state);
}

class SupervisorTest : public DriverTest {
protected:
    void SetUp() override {
        DriverTest::SetUp();
        OpenCard();
        hostThread_ = JournalIdOfThisThread();
        ApcJournalClear();
        state().initSemaphore = os::SemaphoreCreate(0, 1);
    }

    void TearDown() override {
        EndThreads();
        os::HandleClose(state().initSemaphore);
        DriverTest::TearDown();
    }

    void Start() {
        StartSupervisorThread(&state());
        ++started_;
    }

    // Each started thread has asked for its client.
    void WaitForClients() {
        ASSERT_TRUE(WaitUntil([this] { return KvxRequestedClientCount() >= started_; }, 10000));
    }

    void EndThreads() {
        EndSupervisors(started_);
        started_ = 0;
    }

    // The host was asked for the backup mode at least n times.
    void WaitForBackupModeCalls(int n) {
        ASSERT_TRUE(WaitUntil([n] { return KvxCallCount(KVX_BACKUPMODE) >= n; }, 600 * n + 10000))
            << KvxCallCount(KVX_BACKUPMODE);
    }

    int started_ = 0;
    uint32_t hostThread_ = 0;
};

std::vector<std::string> ModeChangeLines() {
    std::vector<std::string> lines;
    for (const LogLine& line : Log()) {
        if (line.text.find("Station mode changed!") != std::string::npos) {
            EXPECT_EQ(line.level, kLogError) << line.text;
            lines.push_back(line.text);
        }
    }
    return lines;
}

TEST_F(SupervisorTest, AnActiveMasterRegistersWatchesAndShutsDown) {
    ASSERT_EQ(DefineCyclic(3, 4), 0);
    ApcJournalClear();
    SetRegistry(state(), {{3, 4}});
    Start();
    WaitForBackupModeCalls(1);  // the start-up's
    const Clock::time_point loop = Clock::now();
    WaitForBackupModeCalls(4);       // and three passes of the loop, 500 ms each
    EXPECT_GE(MsSince(loop), 1200);  // less what the look at the count may lag
    EXPECT_EQ(KvxClientCount(), 1);
    EndThreads();

    EXPECT_EQ(
        Log(),
        (std::vector<LogLine>{
            {kLogTrace, "RIREVI Thread: Connecting to Korvex..."},
            {kLogTrace, kConnected},
            {kLogError, "RIREVI Thread: Local station is the Master station"},
            {kLogTrace, "RIREVI Thread: Backup station is Active"},
            {kLogError, "RIREVI Thread: Kor shutdown message recieved"},
            {kLogError, "VUROR: Stopping 1 cyclic functions"},
            {kLogTrace, "RIREVI: StopCyclicFunctions() Successful! Cycle chan3 cyclfunc4, stat 0"},
            {kLogTrace, "RIREVI Thread: Closing the handle"},
            {kLogError, kRemoving},
        }));
    char name[32] = {};
    ASSERT_EQ(KvxRequestedClientCount(), 1);
    KvxRequestedClientName(0, name, sizeof name);
    EXPECT_STREQ(name, "APPLICOM");
    EXPECT_EQ(state().clientId, 1);  // the stand-in's first identifier
    EXPECT_EQ(KvxCallCount(KVX_RMCLIENT), 1);

    // The only card call is the shut-down's stop, made on the supervisor thread.
    const std::vector<ApcCall> calls = Journal();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].routine, APC_stopcyc);
    EXPECT_NE(calls[0].threadId, hostThread_);
    EXPECT_NE(state().supervisorThreadId, os::CurrentThreadId());
#if defined(_WIN32)
    EXPECT_EQ(calls[0].threadId, state().supervisorThreadId);
#endif
#if defined(_WIN32)
    EXPECT_FALSE(HandleIsOpen(state().supervisorThread,
                              state().supervisorThreadId));  // closed by the thread itself
#endif
}

TEST_F(SupervisorTest, WithoutAClientTheThreadEndsAtOnce) {
    KvxFailNext(KVX_MKCLIENT, 5, 1);
    SetRegistry(state(), {{3, 4}});
    Start();
    ASSERT_GE(KvxLogWaitFor(kNoClient, 0, 10000), 0);
    os::SleepMs(700);  // longer than a pass of the loop

    EXPECT_EQ(Log(), (std::vector<LogLine>{{kLogTrace, "RIREVI Thread: Connecting to Korvex..."},
                                           {kLogError, kNoClient}}));
    EXPECT_EQ(state().clientId, 0xA5);  // untouched
    for (KvxFunction function : {KVX_STATIONCFG, KVX_BACKUPMODE, KVX_WAITMSG, KVX_RMCLIENT})
        EXPECT_EQ(KvxCallCount(function), 0) << function;
    EXPECT_EQ(ApcJournalCount(), 0);
#if defined(_WIN32)
    EXPECT_FALSE(HandleIsOpen(state().supervisorThread, state().supervisorThreadId));
#endif
    started_ = 0;  // nothing left to end
}

TEST_F(SupervisorTest, APassiveBackupStopsOnceTheFirstCyclicFunctionExists) {
    KvxSetStationConfig(0x1);
    KvxSetBackupMode(1);
    ASSERT_EQ(DefineCyclic(0, 1), 0);
    ASSERT_EQ(DefineCyclic(6, 2), 0);
    ApcJournalClear();
    SetRegistry(state(), {{0, 1}, {6, 2}});
    Start();

    ASSERT_GE(KvxLogWaitFor(kWaiting, 0, 10000), 0);
    os::SleepMs(300);
    EXPECT_EQ(CountLog(kStoppingCycles), 0);  // still waiting for the block parser
    const Clock::time_point released = Clock::now();
    os::SemaphoreRelease(state().initSemaphore);
    ASSERT_GE(KvxLogWaitFor(kStoppingCycles, 0, 5000), 0);
    EXPECT_GE(MsSince(released), 90);  // the 100 ms after the signal
    ASSERT_GE(KvxLogWaitFor("VUROR: Stopping 2 cyclic functions", 0, 5000), 0);
    WaitForBackupModeCalls(3);
    EXPECT_EQ(ApcCyclicState(0, 1), 0);  // stopped, and left so while passive
    EXPECT_EQ(ApcCyclicState(6, 2), 0);
    EndThreads();

    EXPECT_EQ(
        Log(),
        (std::vector<LogLine>{
            {kLogTrace, "RIREVI Thread: Connecting to Korvex..."},
            {kLogTrace, kConnected},
            {kLogError, "RIREVI Thread: Local station is the Backup station"},
            {kLogTrace, "RIREVI Thread: Backup station is Passive"},
            {kLogTrace, kWaiting},
            {kLogTrace, kStoppingCycles},
            {kLogError, "RIREVI: StartCyclicFunctions() Successful!Cycle chan0 cyclfunc1, stat 0"},
            {kLogError, "RIREVI: StartCyclicFunctions() Successful!Cycle chan6 cyclfunc2, stat 0"},
            {kLogError, "VUROR: Stopping 2 cyclic functions"},
            {kLogTrace, "RIREVI: StopCyclicFunctions() Successful! Cycle chan0 cyclfunc1, stat 0"},
            {kLogTrace, "RIREVI: StopCyclicFunctions() Successful! Cycle chan6 cyclfunc2, stat 0"},
            // The shut-down stops them again, passive or not.
            {kLogError, "RIREVI Thread: Kor shutdown message recieved"},
            {kLogError, "VUROR: Stopping 2 cyclic functions"},
            {kLogTrace, "RIREVI: StopCyclicFunctions() Successful! Cycle chan0 cyclfunc1, stat 0"},
            {kLogTrace, "RIREVI: StopCyclicFunctions() Successful! Cycle chan6 cyclfunc2, stat 0"},
            {kLogTrace, "RIREVI Thread: Closing the handle"},
            {kLogError, kRemoving},
        }));
    EXPECT_EQ(CyclicCalls(), (std::vector<CyclicCall>{{APC_startcyc, 0, 1},
                                                      {APC_startcyc, 6, 2},
                                                      {APC_stopcyc, 0, 1},
                                                      {APC_stopcyc, 6, 2},
                                                      {APC_stopcyc, 0, 1},
                                                      {APC_stopcyc, 6, 2}}));
}

TEST_F(SupervisorTest, APassiveBackupWithoutBlockGatesStopsAfterTenSeconds) {
    KvxSetStationConfig(0x1);
    KvxSetBackupMode(1);
    SetRegistry(state(), {});
    Start();
    const int waiting = KvxLogWaitFor(kWaiting, 0, 10000);
    ASSERT_GE(waiting, 0);
    const Clock::time_point since = Clock::now();
    const int stopping = KvxLogWaitFor(kStoppingCycles, waiting, 30000);
    ASSERT_GE(stopping, 0);
    EXPECT_GE(MsSince(since), 9900);  // 10000 ms of waiting and 100 ms more
    ASSERT_GE(KvxLogWaitFor("VUROR: Stopping 0 cyclic functions", stopping, 5000), stopping + 1);
    EXPECT_EQ(ApcJournalCount(), 0);
    EndThreads();
}

// The loop's table: the backup mode delivered by each call (the first one is
// the start-up's), and the reactions logged.
struct ModeRow {
    const char* name;
    uint32_t stationConfig;
    std::vector<int32_t> modes;
    bool hostFailsAtStart;  // the station configuration and the first mode fail
    bool initialStop;
    std::vector<std::string> changes;
    std::vector<int32_t> walks;  // start and stop calls before the shut-down
};

const std::vector<ModeRow> kModeRows = {
    {"master, active throughout", 0, {0, 0, 0}, false, false, {}, {}},
    {"master going 0, 1, 0",
     0,
     {0, 1, 0},
     false,
     false,
     {kMasterStops, kMasterRestarts},
     {APC_stopcyc, APC_startcyc}},
    {"backup going 0, 1 and staying", 1, {0, 1, 1, 1}, false, false, {kBackupStops}, {APC_stopcyc}},
    {"backup passive at start, then active",
     1,
     {1, 0, 0},
     false,
     true,
     {kBackupRestarts},
     {APC_startcyc, APC_stopcyc, APC_startcyc}},
    {"master passive at start stops nothing, then restarts",
     0,
     {1, 1, 0},
     false,
     false,
     {kMasterRestarts},
     {APC_startcyc}},
    {"mode 2 changes nothing on an active master", 0, {0, 2, 2}, false, false, {}, {}},
    {"mode 2 changes nothing on a passive master", 0, {1, 2, 2}, false, false, {}, {}},
    {"mode 2 at start leaves the station active",
     1,
     {2, 0, 1},
     false,
     false,
     {kBackupStops},
     {APC_stopcyc}},
    // Unknown role and mode count as an active master in mode 0: a backup
    // configuration that could not be read does not make the backup rows apply.
    {"unknown role and mode", 1, {1, 1}, true, false, {kMasterStops}, {APC_stopcyc}},
};

TEST_F(SupervisorTest, TheLoopFollowsTheBackupMode) {
    for (const ModeRow& row : kModeRows) {
        SCOPED_TRACE(row.name);
        KvxReset();
        ApcReset();
        OpenCard();
        ASSERT_EQ(DefineCyclic(2, 9), 0);
        ApcJournalClear();
        SetRegistry(state(), {{2, 9}});
        KvxSetStationConfig(row.stationConfig);
        KvxQueueBackupModes(row.modes.data(), static_cast<int32_t>(row.modes.size()));
        if (row.hostFailsAtStart) {
            KvxFailNext(KVX_STATIONCFG, 3, 1);
            KvxFailNext(KVX_BACKUPMODE, 3, 1);
        }
        if (row.initialStop) os::SemaphoreRelease(state().initSemaphore);
        Start();
        // One call more than the queue: the pass of the last queued mode is over.
        WaitForBackupModeCalls(static_cast<int>(row.modes.size()) + 1 +
                               (row.hostFailsAtStart ? 1 : 0));
        EndThreads();

        EXPECT_EQ(ModeChangeLines(), row.changes);
        EXPECT_EQ(CountLog(kWaiting), row.initialStop ? 1 : 0);
        EXPECT_EQ(CountLog(kStoppingCycles), row.initialStop ? 1 : 0);
        if (row.hostFailsAtStart) {
            EXPECT_TRUE(HasLog(kLogError, "RIREVI Thread: Couldn't get the local station Config"));
            EXPECT_EQ(CountLog("RIREVI Thread: Backup station is Passive") +
                          CountLog("RIREVI Thread: Backup station is Active"),
                      0);
        }
        std::vector<int32_t> walks;
        for (const CyclicCall& call : CyclicCalls()) walks.push_back(call.routine);
        std::vector<int32_t> expected = row.walks;
        expected.push_back(APC_stopcyc);  // the shut-down's
        EXPECT_EQ(walks, expected);
        EXPECT_EQ(CountLog(kRemoving), 1);
    }
}

TEST_F(SupervisorTest, AFailedModeRequestKeepsThePreviousMode) {
    KvxSetBackupMode(1);  // a passive master
    SetRegistry(state(), {{2, 9}});
    Start();
    WaitForBackupModeCalls(1);
    KvxFailNext(KVX_BACKUPMODE, 3, -1);  // every pass from now on gets nothing
    WaitForBackupModeCalls(4);
    EndThreads();
    EXPECT_TRUE(ModeChangeLines().empty());
    EXPECT_EQ(ApcJournalCountOf(APC_startcyc), 0);
}

TEST_F(SupervisorTest, AThreadThatDoesNotStartIsAwaitedAFewSecondsOnly) {
    heldGate = os::SemaphoreCreate(0, 1);
    // The held thread is let go after 15 s at the latest, so that a starter
    // that waits for it ends too.
    os::Handle openerDone = os::SemaphoreCreate(0, 1);
    std::thread opener([openerDone] {
        os::SemaphoreWait(openerDone, 15000);
        os::SemaphoreRelease(heldGate);
    });
    const Clock::time_point begin = Clock::now();
    StartSupervisorThread(&state(), HeldSupervisor);
    ++started_;
    const int64_t waited = MsSince(begin);
    const std::vector<LogLine> startLog = Log();
    const os::Handle handle = state().supervisorThread;
    const uint32_t threadId = state().supervisorThreadId;
    os::SemaphoreRelease(openerDone);
    opener.join();

    EXPECT_GE(waited, 4900);
    EXPECT_LT(waited, 10000);
    EXPECT_EQ(startLog, (std::vector<LogLine>{{kLogError,
                                               "RIREVI: ColdStart() supervisor thread not started "
                                               "after 5000 ms, not waiting longer"}}));
    ASSERT_NE(handle, nullptr);
    ASSERT_NE(threadId, 0u);
    // Once let go, the thread finds its handle in the state, works and ends
    // with it closed.
    WaitForClients();
    EndThreads();
    EXPECT_EQ(CountLog(kConnected), 1);
    EXPECT_EQ(CountLog("RIREVI Thread: Closing the handle"), 1);
    EXPECT_EQ(KvxCallCount(KVX_RMCLIENT), 1);
#if defined(_WIN32)
    EXPECT_FALSE(HandleIsOpen(handle, threadId));
#endif
    os::HandleClose(openerDone);
    os::HandleClose(heldGate);
}

TEST_F(SupervisorTest, TwoSupervisorsOfOneStateEachEndWithTheirOwnHandleAndClient) {
    // A second cold start overwrites the state's handle, identifier and
    // client while the first thread still runs.
    SetRegistry(state(), {{2, 9}});
    Start();
    const os::Handle first = state().supervisorThread;
    const uint32_t firstId = state().supervisorThreadId;
    Start();
    const os::Handle second = state().supervisorThread;
    const uint32_t secondId = state().supervisorThreadId;
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    EXPECT_NE(firstId, secondId);
    WaitForClients();
    EXPECT_EQ(KvxClientCount(), 2);
#if defined(_WIN32)
    EXPECT_TRUE(HandleIsOpen(first, firstId));
    EXPECT_TRUE(HandleIsOpen(second, secondId));
#endif
    EndThreads();

    EXPECT_EQ(KvxCallCount(KVX_RMCLIENT), 2);  // each removed its own client
    EXPECT_EQ(CountLog("RIREVI Thread: Closing the handle"), 2);
#if defined(_WIN32)
    EXPECT_FALSE(HandleIsOpen(first, firstId));
    EXPECT_FALSE(HandleIsOpen(second, secondId));
#endif
    std::vector<uint32_t> stoppers;
    for (const ApcCall& call : Journal())
        if (call.routine == APC_stopcyc) stoppers.push_back(call.threadId);
    ASSERT_EQ(stoppers.size(), 2u);
    EXPECT_NE(stoppers[0], stoppers[1]);
#if defined(_WIN32)
    EXPECT_TRUE((stoppers[0] == firstId && stoppers[1] == secondId) ||
                (stoppers[0] == secondId && stoppers[1] == firstId));
#endif
}

}  // namespace
}  // namespace qun_test
