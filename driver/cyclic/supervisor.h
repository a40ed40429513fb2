// The redundancy supervisor thread.
#pragma once

#include "driver/entry/driver_state.h"
#include "driver/platform/os.h"

// Thread procedure; the argument is the instance's DriverState. The thread
// takes over its own handle from supervisorThread, where its starter stores
// it, and confirms that by storing its identifier in supervisorThreadId.
os::ThreadResult OS_THREAD_CALL SupervisorThread(void* state);

// Starts a supervisor thread for the instance and stores its handle and
// identifier in supervisorThread and supervisorThreadId (null and 0 when no
// thread could be started; then a message says so). Returns once the thread
// has taken over its handle, or after a few seconds without it, with a
// message: a thread created while the host holds its module loader lock
// starts only once the host lets go of it, and finds its handle in the state
// then. procedure is the thread's procedure: SupervisorThread, or in tests
// one that holds the thread back first.
void StartSupervisorThread(DriverState* state, os::ThreadProc procedure = SupervisorThread);
