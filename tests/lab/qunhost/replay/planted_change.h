// Forced into every source of a test build of the driver (bin/planted/): the
// driver's calls of writeword go to PlantedWriteword, which asks the card for
// the element after the one the driver meant. A replay of a trace recorded
// with the real driver must report the first writeword as where the run
// departs from the recording.
#pragma once

#include <cstdint>

#include "driver/platform/abi.h"

extern "C" void QUN_CDECL PlantedWriteword(int16_t* channel, int16_t* equipment, int16_t* count,
                                           int32_t* address, void* data, int16_t* status);
#define writeword PlantedWriteword
