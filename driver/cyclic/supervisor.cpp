// The redundancy supervisor: registers with the host, learns the station's
// role and backup mode, and holds the card's cyclic functions running on the
// active station and stopped on the passive one until the host shuts down.
#include "driver/cyclic/supervisor.h"

#include <chrono>

#include "driver/cyclic/cyclic_control.h"
#include "driver/platform/host.h"

namespace {

constexpr int32_t kRoleBackup = 0;
constexpr int32_t kRoleMaster = 1;
constexpr int32_t kModeActive = 0;
constexpr int32_t kModePassive = 1;
constexpr uint32_t kBackupStationBit = 0x1;

constexpr uint32_t kInitWaitMs = 10000;  // longest wait for the first cyclic function
constexpr uint32_t kSettleMs = 100;      // then this much more before the initial stop
constexpr uint32_t kPollMs = 500;        // one pass of the supervision loop
constexpr uint32_t kHandshakeMs = 5000;  // longest wait for the thread to take its handle
constexpr uint32_t kHandshakePollMs = 1;

// Whether kHandshakeMs have passed since the given moment: a pause may last longer than asked.
bool HandshakeOver(std::chrono::steady_clock::time_point since) {
    return std::chrono::steady_clock::now() - since >= std::chrono::milliseconds(kHandshakeMs);
}

// The starter stores the thread's handle, and the thread (or, when it does not
// start in time, the starter) its identifier, while the other side looks.
os::Handle LoadThreadHandle(const DriverState* state) {
    return __atomic_load_n(&state->supervisorThread, __ATOMIC_ACQUIRE);
}
void StoreThreadHandle(DriverState* state, os::Handle handle) {
    __atomic_store_n(&state->supervisorThread, handle, __ATOMIC_RELEASE);
}
uint32_t LoadThreadId(const DriverState* state) {
    return __atomic_load_n(&state->supervisorThreadId, __ATOMIC_ACQUIRE);
}
void StoreThreadId(DriverState* state, uint32_t id) {
    __atomic_store_n(&state->supervisorThreadId, id, __ATOMIC_RELEASE);
}

// The thread's own handle, which it closes when it ends. The starter stores it
// right after creating the thread, which may already run: look until the
// state names this thread, then confirm with the identifier (unless the
// starter, tired of waiting, has stored it). A later cold start may have
// stored another thread's handle before a late thread looked: that thread
// then goes on without its handle, which stays open.
os::Handle TakeOwnHandle(DriverState* state) {
    const auto since = std::chrono::steady_clock::now();
    for (;;) {
        const os::Handle handle = LoadThreadHandle(state);
        if (os::ThreadIsCurrent(handle)) {
            uint32_t unconfirmed = 0;
            __atomic_compare_exchange_n(&state->supervisorThreadId, &unconfirmed,
                                        os::CurrentThreadId(), false, __ATOMIC_RELEASE,
                                        __ATOMIC_RELAXED);
            return handle;
        }
        if (HandshakeOver(since)) return nullptr;
        os::SleepMs(kHandshakePollMs);
    }
}

// What the thread knows of its station. Until the host has told otherwise the
// station counts as an active master in mode 0, so that the thread acts only
// on a change the host really reports.
struct StationView {
    int32_t role = kRoleMaster;
    int32_t passive = 0;
    int32_t mode = kModeActive;
};

// One row of the reaction to the backup mode read in the loop.
struct ModeChange {
    int32_t role;
    int32_t passive;
    int32_t mode;
    const char* message;
    bool start;  // true: start the cyclic functions, false: stop them
    int32_t passiveAfter;
};

constexpr ModeChange kModeChanges[] = {
    {kRoleBackup, 1, kModeActive,
     "RIREVI Thread: Station mode changed! Backup Station is active Restarting Backup Cyclic "
     "Requests",
     true, 0},
    {kRoleBackup, 0, kModePassive,
     "RIREVI Thread: Station mode changed! Master station is active Stopping Cyclic Requests",
     false, 1},
    {kRoleMaster, 1, kModeActive,
     "RIREVI Thread: Station mode changed! Master Station is active Restarting Backup Cyclic "
     "Requests",
     true, 0},
    {kRoleMaster, 0, kModePassive,
     "RIREVI Thread: Station mode changed! Backup station is active Stopping Cyclic Requests",
     false, 1},
};

// Applies the row that matches the station, if any.
void FollowBackupMode(DriverState* state, StationView* station) {
    for (const ModeChange& row : kModeChanges) {
        if (row.role != station->role || row.passive != station->passive ||
            row.mode != station->mode)
            continue;
        err(kLogError, "%s", row.message);
        if (row.start) {
            StartCyclicFunctions(state);
        } else {
            StopCyclicFunctions(state);
        }
        station->passive = row.passiveAfter;
        return;
    }
}

// Learns the role and the backup mode at start-up.
void ClassifyStation(uint8_t clientId, StationView* station) {
    uint32_t config = 0;
    if (KorGetLocalStationCfg(clientId, 0, 0, 0, &config, 0, 0) != 0) {
        err(kLogError, "RIREVI Thread: Couldn't get the local station Config");
    } else if ((config & kBackupStationBit) != 0) {
        err(kLogError, "RIREVI Thread: Local station is the Backup station");
        station->role = kRoleBackup;
    } else {
        err(kLogError, "RIREVI Thread: Local station is the Master station");
        station->role = kRoleMaster;
    }

    int32_t mode = station->mode;
    if (KorGetBackupMode(clientId, &mode) != 0) return;  // a failed call delivers nothing
    station->mode = mode;
    if (mode == kModePassive) {
        err(kLogTrace, "RIREVI Thread: Backup station is Passive");
        station->passive = 1;
    } else if (mode == kModeActive) {
        err(kLogTrace, "RIREVI Thread: Backup station is Active");
        station->passive = 0;
    }
}

}  // namespace

os::ThreadResult OS_THREAD_CALL SupervisorThread(void* argument) {
    DriverState* const state = static_cast<DriverState*>(argument);
    const os::Handle ownHandle = TakeOwnHandle(state);

    err(kLogTrace, "RIREVI Thread: Connecting to Korvex...");
    uint8_t clientId = 0;
    if (KorMkClient("APPLICOM", 1, 0, &clientId) != 0) {
        err(kLogError, "RIREVI Thread: Couldn't create the client");
        os::HandleClose(ownHandle);
        return 0;
    }
    // The thread keeps its own copy: a later cold start may start another
    // supervisor that overwrites the state's clientId.
    state->clientId = clientId;
    err(kLogTrace, "RIREVI Thread: Connected to Korvex");

    StationView station;
    ClassifyStation(clientId, &station);

    if (station.role == kRoleBackup && station.passive == 1) {
        // A passive backup stops the cyclic functions once the first one exists.
        err(kLogTrace, "RIREVI Thread: Waiting for the end of the QUN Init");
        os::SemaphoreWait(state->initSemaphore, kInitWaitMs);  // a timeout counts as a signal
        os::SleepMs(kSettleMs);
        err(kLogTrace, "RIREVI Thread: Stopping Cycles");
        StartCyclicFunctions(state);
        StopCyclicFunctions(state);
    }

    uint8_t message[24];
    for (;;) {
        os::SleepMs(kPollMs);
        int32_t mode = station.mode;  // stands when the host delivers none
        KorGetBackupMode(clientId, &mode);
        station.mode = mode;
        if (KorWaitMsg(clientId, message, 20) == 0) break;  // the host's shut-down
        FollowBackupMode(state, &station);
    }

    err(kLogError, "RIREVI Thread: Kor shutdown message recieved");
    StopCyclicFunctions(state);
    err(kLogTrace, "RIREVI Thread: Closing the handle");
    os::HandleClose(ownHandle);
    err(kLogError, "RIREVI Thread: Removing the client");
    KorRmClient(clientId);
    return 0;
}

void StartSupervisorThread(DriverState* state, os::ThreadProc procedure) {
    // Whatever the fields held (the host's block comes with any content) must
    // not be taken for the new thread's handle or its confirmation.
    StoreThreadHandle(state, nullptr);
    StoreThreadId(state, 0);
    uint32_t threadId = 0;
    const os::Handle thread = os::ThreadCreate(procedure, state, &threadId);
    StoreThreadHandle(state, thread);
    if (thread == nullptr) {
        err(kLogError, "RIREVI: ColdStart() couldn't start the supervisor thread");
        return;
    }
    // Until the thread has taken its handle, a further cold start must not
    // overwrite it; but a thread that does not start is not awaited for ever.
    const auto since = std::chrono::steady_clock::now();
    while (LoadThreadId(state) != threadId) {
        if (HandshakeOver(since)) {
            err(kLogError,
                "RIREVI: ColdStart() supervisor thread not started after %u ms, not waiting longer",
                kHandshakeMs);
            StoreThreadId(state, threadId);
            return;
        }
        os::SleepMs(kHandshakePollMs);
    }
}
