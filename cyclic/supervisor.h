// The redundancy supervisor thread.
#pragma once

#include "entry/driver_state.h"
#include "platform/os.h"

// What the starter hands a new supervisor thread. It lives on the starter's
// stack: the thread waits for handedOver, copies the state pointer and its own
// handle, releases taken and never touches the block again. A thread learns
// its handle this way because the handle exists only once ThreadCreate has
// returned, and the state's supervisorThread is overwritten by the next cold
// start while an earlier thread may still run.
struct SupervisorStart {
    DriverState* state;     // the instance's state block
    os::Handle thread;      // the new thread's own handle
    os::Handle handedOver;  // released by the starter once thread is filled in
    os::Handle taken;       // released by the thread once it has copied the block
};

// Thread procedure; the argument is a SupervisorStart.
os::ThreadResult OS_THREAD_CALL SupervisorThread(void* start);

// Starts a supervisor thread for the instance and stores its handle and
// identifier in supervisorThread and supervisorThreadId (null and 0 when no
// thread could be started; then a message says so). Returns once the thread
// has taken over its handle.
void StartSupervisorThread(DriverState* state);
