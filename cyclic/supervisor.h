// The redundancy supervisor thread.
#pragma once

#include "platform/os.h"

// Thread procedure; the argument is the instance's DriverState.
os::ThreadResult OS_THREAD_CALL SupervisorThread(void* state);
