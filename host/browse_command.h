// qunhost --browse: opens the driver's "Tag Format" dialog as the host does
// when a user browses for a gate address.
#pragma once

#include <cstdint>

#include "entry/request.h"

// Initialises the common controls (the dialog's up-down controls need them),
// calls QunMain with function code 16 and a fresh address buffer, and prints
// the composed address, or that the dialog was cancelled. Returns 0 when an
// address was composed, 1 otherwise.
int BrowseCommand(int32_t(__cdecl* qunMain)(QunRequest*));
