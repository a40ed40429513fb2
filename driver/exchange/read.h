// Reads: the attempts of a read, one attempt of a gate, the conversion of
// card data for the host, and the collection of a cyclic function's data.
#pragma once

#include <cstdint>

#include "driver/entry/request.h"
#include "driver/exchange/gate_transfer.h"

// One read attempt of the request's gate. functionCode 5 (single gate) or 6
// (block gate) selects StoreData's conversion. 0 done; 1 or 2 failed. A busy
// card (status 5) also gives 0 but stores nothing: *delivered, when asked
// for, tells whether the card's data reached the value buffer.
int32_t DoRead(QunRequest* request, uint32_t functionCode, bool* delivered = nullptr);

// Up to retryCount attempts of DoRead (at least one), stopping at the first
// success; each failed attempt is traced with its number. The last result,
// and in *delivered (when asked for) whether the last attempt stored data.
int32_t ReadAttempts(QunRequest* request, uint32_t functionCode, bool* delivered = nullptr);

// SingleRead, with its traces, that also tells whether the card delivered
// the gate's value: a busy card answers 0 and leaves the buffer as it was.
int32_t SingleRead(QunRequest* request, bool* delivered);

// Converts the card's data into the host's value buffer. The gate's memory
// type must be a valid row and a block's count must have been checked.
void StoreData(GateTransfer* transfer, const uint8_t* data, uint32_t functionCode);

// Collects the latest data of a block gate's cyclic function; falls back to
// one on-demand read when the function is not active any more.
int32_t CyclFuncRead(QunRequest* request);
