// Writes and the balance-free mechanism.
#pragma once

#include <cstdint>

#include "entry/request.h"

// One write of the request's gate; functionCode 7 (single) or 10 (block).
int32_t DoWrite(QunRequest* request, int32_t functionCode);

// Fills cardBuffer from the host's value; 0, or the refusal's result.
int32_t PutData(QunRequest* request, int32_t functionCode);

// Stops the cyclic functions covering the gate; 1 when at least one was stopped.
int32_t StopCyclicFunctionsDuringWrite(QunRequest* request);

// Starts again the functions the write stopped; always 1.
int32_t RestartCyclicFunctionsDuringWrite(QunRequest* request);
