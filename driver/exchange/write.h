// Writes and the balance-free mechanism.
#pragma once

#include <cstddef>
#include <cstdint>

#include "driver/entry/request.h"

// One write of the request's gate; functionCode 7 (single) or 10 (block).
int32_t DoWrite(QunRequest* request, uint32_t functionCode);

// Fills cardBuffer from the host's value; 0, or the refusal's result. For a
// special digital gate the element is read first: a failed read gives its
// result, a busy one 2; nothing is then to be written. The transfer's station
// slot and count must have been checked (DoWrite does).
int32_t PutData(QunRequest* request, uint32_t functionCode);

// Stops the cyclic functions covering the gate; 1 when at least one was stopped.
// For the last of them, mirrorAddress receives where the gate's first element
// lies in its database image and *mirrorCount is cut to the elements of the
// write that lie inside that image.
int32_t StopCyclicFunctionsDuringWrite(QunRequest* request, int16_t* mirrorCount);

// Starts again the functions the write stopped; always 1.
int32_t RestartCyclicFunctionsDuringWrite(QunRequest* request);

// The record AppGetCycParam fills for one cyclic function: 256 bytes, of
// which the driver reads these fields.
struct CycleParams {
    int32_t unused0;
    int32_t typeCode;  // the function code it was created with
    int32_t unused8;
    int32_t equipment;
    int32_t size;             // elements
    int32_t startAddress;     // card address of the first element
    int32_t databaseAddress;  // card-database address of the first element's image
    int32_t unused28[3];
    int32_t state;  // 1: active
    uint8_t unused44[212];
};

static_assert(sizeof(CycleParams) == 256, "AppGetCycParam fills 256 bytes");
static_assert(offsetof(CycleParams, typeCode) == 4, "");
static_assert(offsetof(CycleParams, equipment) == 12, "");
static_assert(offsetof(CycleParams, size) == 16, "");
static_assert(offsetof(CycleParams, startAddress) == 20, "");
static_assert(offsetof(CycleParams, databaseAddress) == 24, "");
static_assert(offsetof(CycleParams, state) == 40, "");
