// DriverState: the one state block of a driver instance.
//
// The host allocates it with the size GetQunInfo reports (2796 bytes on the
// 32-bit target) and passes it in every request. Only the driver reads or
// writes its fields.
#pragma once

#include <cstddef>
#include <cstdint>

#include "driver/platform/os.h"

// One (channel, equipment) pair of the station table, indexed by station
// number 0 to 255. 0xFF, 0xFF marks a free entry.
struct StationEntry {
    uint8_t channel;
    uint8_t equipment;
};

constexpr int kStationCount = 256;
constexpr uint8_t kFreeStation = 0xFF;
constexpr int kCardBufferSize = 1024;
constexpr int kCounterChannels = 31;        // per-channel tables cover channels 0 to 30
constexpr int kRegistryChannelPlaces = 32;  // places in cyclicChannel
constexpr int kRegistryNumberPlaces = 256;  // places in cyclicNumber
constexpr int kStoppedPlaces = 256;
constexpr uint16_t kInitialLowestByte = 14000;
constexpr uint32_t kDefaultRetryCount = 3;

struct DriverState {
    uint8_t cardOpen;                               // 1 once the card library opened
    StationEntry stations[kStationCount];           // station table
    uint8_t cardBuffer[kCardBufferSize];            // data area of every card routine
    uint16_t channelLastCyc[kCounterChannels];      // last cyclic number given per channel
    uint16_t nextFreeBit;                           // next free address, BIT area
    uint16_t lowestUsedByte;                        // lowest allocated address, BYTE area
    uint16_t nextFreeWord;                          // next free address, word area
    uint8_t clearCyclic;                            // clear cyclic functions at start and end
    uint8_t firstCycNo;                             // CYC_NO of the initialisation file
    os::Handle supervisorThread;                    // handle of the supervisor thread
    os::Handle initSemaphore;                       // released per cyclic function created
    uint32_t supervisorThreadId;                    // identifier of the supervisor thread
    int16_t cyclicCount;                            // entries in the registry
    int16_t cyclicChannel[kRegistryChannelPlaces];  // registry: channel of entry i
    int16_t cyclicNumber[kRegistryNumberPlaces];    // registry: number of entry i
    uint8_t clientId;                               // the supervisor's host client
    int32_t timeoutMs;                              // pause after a remote error
    uint32_t retryCount;                            // attempts of a read
    int32_t cyclicAllowed;                          // 1 while block gates may get cyclic functions
    uint16_t stoppedCyclic[kStoppedPlaces];         // functions stopped for the write in progress
    uint16_t stoppedCount;                          // entries in stoppedCyclic
    uint16_t channelFirstCyc[kCounterChannels];     // first cyclic number created per channel
    int32_t balanceFree;                            // 1: writes stop and mirror cyclic functions
    uint16_t mirrorAddress;                         // database address of the write's mirror
};

// The size GetQunInfo reports, so the size the host allocates: always the
// record's own size. On the 32-bit target that is the host's 2796 bytes; a
// native build has wider handles and reports its wider block, because a host
// that allocates what is reported must never get a block shorter than the
// fields the driver writes.
constexpr uint32_t kDriverStateSize = sizeof(DriverState);

#if defined(_WIN32) && defined(__i386__)
static_assert(kDriverStateSize == 2796, "DriverState is 2796 bytes");
static_assert(offsetof(DriverState, cardOpen) == 0, "");
static_assert(offsetof(DriverState, stations) == 1, "");
static_assert(offsetof(DriverState, cardBuffer) == 513, "");
static_assert(offsetof(DriverState, channelLastCyc) == 1538, "");
static_assert(offsetof(DriverState, nextFreeBit) == 1600, "");
static_assert(offsetof(DriverState, lowestUsedByte) == 1602, "");
static_assert(offsetof(DriverState, nextFreeWord) == 1604, "");
static_assert(offsetof(DriverState, clearCyclic) == 1606, "");
static_assert(offsetof(DriverState, firstCycNo) == 1607, "");
static_assert(offsetof(DriverState, supervisorThread) == 1608, "");
static_assert(offsetof(DriverState, initSemaphore) == 1612, "");
static_assert(offsetof(DriverState, supervisorThreadId) == 1616, "");
static_assert(offsetof(DriverState, cyclicCount) == 1620, "");
static_assert(offsetof(DriverState, cyclicChannel) == 1622, "");
static_assert(offsetof(DriverState, cyclicNumber) == 1686, "");
static_assert(offsetof(DriverState, clientId) == 2198, "");
static_assert(offsetof(DriverState, timeoutMs) == 2200, "");
static_assert(offsetof(DriverState, retryCount) == 2204, "");
static_assert(offsetof(DriverState, cyclicAllowed) == 2208, "");
static_assert(offsetof(DriverState, stoppedCyclic) == 2212, "");
static_assert(offsetof(DriverState, stoppedCount) == 2724, "");
static_assert(offsetof(DriverState, channelFirstCyc) == 2726, "");
static_assert(offsetof(DriverState, balanceFree) == 2788, "");
static_assert(offsetof(DriverState, mirrorAddress) == 2792, "");
#endif

// Puts the block to its cold-start defaults (the fields the file and the cold
// start do not set themselves).
void InitDriverState(DriverState* state);

// The registry of created cyclic functions is appended to on a host thread and
// walked by the supervisor thread without a lock: an entry's channel and
// number are stored first, and only then is the new count published.
inline void PublishCyclicCount(DriverState* state, int16_t count) {
    __atomic_store_n(&state->cyclicCount, count, __ATOMIC_RELEASE);
}
inline int16_t LoadCyclicCount(const DriverState* state) {
    return __atomic_load_n(&state->cyclicCount, __ATOMIC_ACQUIRE);
}
