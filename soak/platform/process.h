// What the soak needs of the operating system: the driver module loaded as
// the host loads it, a pause, and a count of what the process holds open.
#pragma once

#include <cstdint>
#include <string>

#include "entry/request.h"
#include "platform/abi.h"

namespace soak {

using Entry = int32_t(QUN_CDECL*)(QunRequest*);

// QunMain of the driver module beside the program; null with a message.
Entry LoadDriver(std::string* error);

void PauseMs(uint32_t milliseconds);

// What the process holds open, counted the system's way: on Windows its
// handles, natively its file descriptors and threads. *how names the count
// for the report.
uint32_t OpenObjectCount(std::string* how);

}  // namespace soak
