// What the tap needs of the operating system, one implementation per system.
#pragma once

#include <cstdint>
#include <string>

namespace tap {

// The folder of the tap module itself, with its trailing separator.
std::string OwnFolder();
// The card library the tap forwards to when nothing says otherwise: the
// vendor's APPLICOM.dll in the Windows system folder; natively
// /usr/local/lib/libAPPLICOM.so.
std::string DefaultRealLibrary();
// Whether a path names the tap module itself.
bool IsOwnModule(const std::string& path);

// Keeps the tap module loaded until the process ends, whoever frees it: its
// writer thread runs in it.
void PinOwnModule();

// Loads a library by full path; null with the system's message.
void* LoadLibraryAt(const std::string& path, std::string* error);
void* FindFunction(void* module, const char* name);

// An environment variable, or "" when it is not set.
std::string Environment(const char* name);

uint32_t ThreadId();
// The system's monotonic clock, and its ticks per second.
uint64_t SystemTicks();
uint64_t SystemTicksPerSecond();
// Microseconds since 1970.
uint64_t WallMicroseconds();

// Writes one line to standard error at once.
void Complain(const std::string& line);

// The clock of the time stamps: the processor's time-stamp counter where it
// runs at a constant rate (reading it costs a few nanoseconds, where the
// system's clock costs tens), else the system's clock. The first call of
// TicksPerSecond measures the counter's rate against the system's clock for
// 20 ms (the recorder's writer makes it, not a caller of the card).
uint64_t Ticks();
uint64_t TicksPerSecond();

// Runs fn when the process ends: natively from exit(), while the other
// threads still run (threadsAlive true); on Windows as the module is
// detached at the process's end, when the other threads have already been
// stopped wherever they were (false).
void AtProcessEnd(void (*fn)(bool threadsAlive));

}  // namespace tap
