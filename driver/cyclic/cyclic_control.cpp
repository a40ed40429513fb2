// Clearing, stopping and starting the card's cyclic functions.
#include "driver/cyclic/cyclic_control.h"

#include "driver/platform/card.h"
#include "driver/platform/host.h"

namespace {

constexpr int16_t kChannels = 32;
constexpr int16_t kNumbersPerChannel = 256;

// Card values are printed with %u after widening them with their sign.
unsigned Printed(int16_t value) { return static_cast<unsigned>(static_cast<int32_t>(value)); }

// The registry holds at most as many entries as it has channel places; a
// count beyond that (a state the host handed over uninitialised, say) must
// not lead the walk past the end of the tables.
int16_t RegistryEntries(const DriverState* state) {
    const int16_t count = LoadCyclicCount(state);
    return count > kRegistryChannelPlaces ? static_cast<int16_t>(kRegistryChannelPlaces) : count;
}

using CyclicRoutine = void QUN_CDECL(int16_t* channel, int16_t* number, int16_t* status);

// Calls routine for one registry entry; after status 45 the card library is
// re-opened and the call repeated once. Returns the final status.
int16_t CallForEntry(CyclicRoutine* routine, int16_t channel, int16_t number) {
    int16_t status = 0;
    routine(&channel, &number, &status);
    if (status == kCardNotInitialised) {
        initbus(&status);
        routine(&channel, &number, &status);
    }
    return status;
}

bool CountsAsSuccess(int16_t status) { return status == kCardOk || status == kCardNoMoreCyclic; }

}  // namespace

void ClearCyclicFunctions() {
    // One status for the whole scan: the first 46 ends it on every channel.
    int16_t status = 0;
    for (int16_t channel = 0; channel < kChannels; ++channel) {
        for (int16_t number = 0; number < kNumbersPerChannel && status != kCardNoMoreCyclic;
             ++number) {
            for (int attempt = 0; attempt < 2; ++attempt) {
                int16_t ch = channel;
                int16_t num = number;
                int16_t period = 0;
                int16_t fourth = 0;
                int16_t typeCode = 0;
                int16_t databaseKind = 1;
                int16_t equipment = 0;
                int16_t count = 1;
                int32_t address = 0;
                int16_t databaseAddress = 0;
                int16_t eleventh = -1;
                createcyc(&ch, &num, &period, &fourth, &typeCode, &databaseKind, &equipment, &count,
                          &address, &databaseAddress, &eleventh, &status);
                // 45: repeated once as it stands; the library is not re-opened here.
                if (status != kCardNotInitialised) break;
            }
            if (status != kCardOk && status != kCardNoMoreCyclic) {
                err(kLogTrace,
                    "RIREVI: ClearCyclicFunctions() error reset chan%u cyclfunc%u, stat %u",
                    Printed(channel), Printed(number), Printed(status));
            }
        }
    }
}

void StopCyclicFunctions(DriverState* state) {
    err(kLogError, "VUROR: Stopping %d cyclic functions", LoadCyclicCount(state));
    for (int16_t i = 0; i < RegistryEntries(state); ++i) {
        const int16_t channel = state->cyclicChannel[i];
        const int16_t number = state->cyclicNumber[i];
        const int16_t status = CallForEntry(stopcyc, channel, number);
        if (CountsAsSuccess(status)) {
            err(kLogTrace,
                "RIREVI: StopCyclicFunctions() Successful! Cycle chan%u cyclfunc%u, stat %u",
                Printed(channel), Printed(number), Printed(status));
        } else {
            err(kLogError, "RIREVI: StopCyclicFunctions() error on Chan.%u Func.%u, stat %u",
                Printed(channel), Printed(number), Printed(status));
        }
    }
}

void StartCyclicFunctions(DriverState* state) {
    for (int16_t i = 0; i < RegistryEntries(state); ++i) {
        const int16_t channel = state->cyclicChannel[i];
        const int16_t number = state->cyclicNumber[i];
        const int16_t status = CallForEntry(startcyc, channel, number);
        if (CountsAsSuccess(status)) {
            err(kLogError,
                "RIREVI: StartCyclicFunctions() Successful!Cycle chan%u cyclfunc%u, stat %u",
                Printed(channel), Printed(number), Printed(status));
        } else {
            err(kLogError, "RIREVI: StartCyclicFunctions() error on Chan.%u Func.%u, stat %u",
                Printed(channel), Printed(number), Printed(status));
        }
    }
}
