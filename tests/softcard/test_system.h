// What the software card's tests need of the system: what this process holds,
// for checking that the library let go of its threads and connections, and
// its environment.
#pragma once

#include <cstdint>

namespace softcard_test {

// Threads of this process.
int32_t ThreadCount();
// Open handles (file descriptors natively; sockets are among them).
int32_t HandleCount();
// Sets an environment variable of this process.
void SetVariable(const char* name, const char* value);

}  // namespace softcard_test
