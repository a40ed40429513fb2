// qunhost --browse: opens the driver's "Tag Format" dialog as the host does
// when a user browses for a gate address. The dialog is a Windows dialog: the
// native build of the host program has none (browse_command_none.cpp).
#pragma once

#include <cstdint>

#include "driver/entry/request.h"
#include "driver/platform/abi.h"

// Initialises the common controls (the dialog's up-down controls need them),
// calls QunMain with function code 16 and a fresh address buffer, and prints
// the composed address, or that the dialog was cancelled. Returns 0 when an
// address was composed, 1 otherwise.
int BrowseCommand(int32_t(QUN_CDECL* qunMain)(QunRequest*));

// Null where this build of the host program can open the dialog; otherwise
// why it cannot, for the message of --browse.
const char* BrowseUnavailableReason();
