// Helpers of the cyclic-function tests: the card journal as a list, the
// registry filled by hand, cyclic functions defined on the simulated card.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <ostream>
#include <utility>
#include <vector>

#include "driver/entry/driver_state.h"
#include "driver/platform/card.h"
#include "driver/platform/os.h"
#include "lab/card/simulated/applicom_control.h"
#include "lab/korvex/korvex_control.h"
#include "tests/support/driver_harness.h"

namespace qun_test {

inline std::vector<ApcCall> Journal() {
    std::vector<ApcCall> calls;
    const int32_t count = ApcJournalCount();
    for (int32_t i = 0; i < count; ++i) {
        ApcCall call{};
        if (ApcJournalGet(i, &call) != 0) break;
        calls.push_back(call);
    }
    return calls;
}

// (routine, channel, number) of each startcyc, stopcyc and initbus call.
struct CyclicCall {
    int32_t routine;
    int32_t channel;
    int32_t number;
    bool operator==(const CyclicCall& other) const {
        return routine == other.routine && channel == other.channel && number == other.number;
    }
};
inline std::ostream& operator<<(std::ostream& out, const CyclicCall& call) {
    return out << ApcRoutineName(call.routine) << "(" << call.channel << ", " << call.number << ")";
}

inline std::vector<CyclicCall> CyclicCalls() {
    std::vector<CyclicCall> calls;
    for (const ApcCall& call : Journal()) {
        if (call.routine == APC_initbus) {
            calls.push_back({call.routine, -1, -1});
        } else if (call.routine == APC_startcyc || call.routine == APC_stopcyc) {
            calls.push_back({call.routine, call.args[0], call.args[1]});
        }
    }
    return calls;
}

// Fills the registry as the block parser would: entries first, count last.
inline void SetRegistry(DriverState& state,
                        const std::vector<std::pair<int16_t, int16_t>>& entries) {
    for (size_t i = 0; i < entries.size(); ++i) {
        state.cyclicChannel[i] = entries[i].first;
        state.cyclicNumber[i] = entries[i].second;
    }
    PublishCyclicCount(&state, static_cast<int16_t>(entries.size()));
}

// Defines a word-reading cyclic function on the simulated card, so that
// starting and stopping it answer 0 (an undefined one answers 46).
inline int16_t DefineCyclic(int16_t channel, int16_t number) {
    int16_t period = 10, one = 1, typeCode = 0x1005, databaseKind = 3, equipment = 1, count = 1;
    int32_t address = 0;
    int16_t databaseAddress = static_cast<int16_t>(number * 4), minusOne = -1, status = 0;
    createcyc(&channel, &number, &period, &one, &typeCode, &databaseKind, &equipment, &count,
              &address, &databaseAddress, &minusOne, &status);
    return status;
}

// The identifier under which the card journal records the calling thread's
// calls, learnt from a call that changes nothing on the card. On Windows it is
// the system's thread identifier, the one ThreadCreate reports.
inline uint32_t JournalIdOfThisThread() {
    int16_t channel = 0, number = 0, status = 0;
    uint8_t record[256];
    AppGetCycParam(&channel, &number, record, &status);
    ApcCall call{};
    ApcJournalGet(ApcJournalCount() - 1, &call);
    return call.threadId;
}

inline void OpenCard() {
    int16_t status = 0;
    initbus(&status);
}

// Polls condition every 10 ms until it holds or timeoutMs have passed.
inline bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        os::SleepMs(10);
    }
    return true;
}

// Ends the supervisor threads started since the host was reset: waits until
// each has asked for its client, posts the host's shut-down, waits until every
// client is removed, and a little more for the threads to return. A test
// calls it before its state block goes away.
inline void EndSupervisors(int started) {
    if (started == 0) return;
    EXPECT_TRUE(WaitUntil([started] { return KvxRequestedClientCount() >= started; }, 10000));
    KvxPostShutdown();
    EXPECT_TRUE(WaitUntil([] { return KvxClientCount() == 0; }, 20000));
    os::SleepMs(100);
}

}  // namespace qun_test
