// Reads: one attempt of a gate, and the conversion of card data for the host.
#pragma once

#include <cstdint>

#include "entry/request.h"
#include "exchange/gate_transfer.h"

// One read attempt of the request's gate. functionCode 5 (single gate) or 6
// (block gate) selects StoreData's conversion. 0 done; 1 or 2 failed.
int32_t DoRead(QunRequest* request, int32_t functionCode);

// Converts the card's data into the host's value buffer.
void StoreData(GateTransfer* transfer, const uint8_t* data, int32_t functionCode);
