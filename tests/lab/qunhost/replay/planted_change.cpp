// The planted change itself, built without the renaming: the card's own
// writeword, one element further on.
#include <cstdint>

#include "driver/platform/abi.h"
#include "driver/platform/card.h"

extern "C" void QUN_CDECL PlantedWriteword(int16_t* channel, int16_t* equipment, int16_t* count,
                                           int32_t* address, void* data, int16_t* status) {
    int32_t next = *address + 1;
    writeword(channel, equipment, count, &next, data, status);
}
