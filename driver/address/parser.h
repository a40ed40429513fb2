// The address parser shared by single and block gates.
#pragma once

#include <cstdint>

#include "driver/entry/driver_state.h"
#include "driver/entry/request.h"

// The parser's working copy of an address string: 255 characters and the
// terminator. Longer strings are refused.
constexpr uint32_t kAddressCopySize = 256;

// Checks the ParseBlock's address string and fills its GateAddress.
// 0: accepted; 1: refused (logged, except an internal type on a bad card).
int32_t Parse(QunRequest* request);

// Station slot of a (channel, equipment) pair, given out on first use;
// 65535 when the pair is new and no slot is free.
uint16_t GetStationIndex(DriverState* state, uint8_t channel, uint8_t equipment);
