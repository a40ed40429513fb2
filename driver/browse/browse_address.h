// The parameter block and results of BrowseAddress (function code 16), which
// shows the "Tag Format" dialog and hands the composed gate address to the host.
#pragma once

#include <cstddef>
#include <cstdint>

#include "driver/entry/request.h"

// The parameter block of BrowseAddress; the host owns it.
struct BrowseBlock {
    char* addressBuffer;   // receives the composed address and its zero on OK; never read
    uint32_t ownerWindow;  // the host's window handle, used from host version 820 on
};

#if defined(_WIN32) && defined(__i386__)
static_assert(sizeof(BrowseBlock) == 8, "BrowseBlock is 8 bytes");
static_assert(offsetof(BrowseBlock, addressBuffer) == 0, "");
static_assert(offsetof(BrowseBlock, ownerWindow) == 4, "");
#endif

// Results of BrowseAddress.
constexpr int32_t kAddressComposed = 0;
constexpr int32_t kNoAddressComposed = 53;

// The host versions from which the dialog is owned by the host's window.
constexpr uint16_t kOwnerVersion = 820;

// Identifiers of the dialog's OK and Cancel buttons, which are also the
// dialog's results.
constexpr int32_t kBrowseOk = 1022;
constexpr int32_t kBrowseCancel = 1023;
