// The state block's defaults, before the initialisation file is read.
#include "driver/entry/driver_state.h"

#include <cstring>

void InitDriverState(DriverState* state) {
    state->cardOpen = 0;
    state->cyclicAllowed = 1;
    std::memset(state->stations, kFreeStation, sizeof state->stations);
    std::memset(state->channelLastCyc, 0, sizeof state->channelLastCyc);
    state->nextFreeBit = 0;
    state->lowestUsedByte = kInitialLowestByte;
    state->nextFreeWord = 0;
    state->clearCyclic = 1;
    state->firstCycNo = 0;
}
