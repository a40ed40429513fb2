// Block gates: the sample rate and the card-database areas of cyclic functions.
#pragma once

#include <cstdint>

#include "driver/address/memory_types.h"
#include "driver/entry/request.h"

// Start of an area for the block's elementCount elements in the given area of
// the card's database, or 65535 when none can be given.
uint16_t GetFreeAddress(QunRequest* request, DatabaseKind kind);
