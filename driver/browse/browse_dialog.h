// The "Tag Format" dialog as the system shows it (driver/browse/dialog/ on Win32).
#pragma once

#include <cstdint>

#include "driver/browse/compose_address.h"

// Shows the dialog modally on the calling thread, owned by ownerWindow (0: no
// owner), and returns when it closes. The result is kBrowseOk with the composed
// address copied into composed, kBrowseCancel, or any other value when the
// dialog could not be created.
int32_t ShowBrowseDialog(uint32_t ownerWindow, char (&composed)[kComposedAddressSize]);
