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

// Loads a library by full path; null with the system's message.
void* LoadLibraryAt(const std::string& path, std::string* error);
void* FindFunction(void* module, const char* name);

// An environment variable, or "" when it is not set.
std::string Environment(const char* name);

uint32_t ThreadId();
// A monotonic clock, and its ticks per second.
uint64_t Ticks();
uint64_t TicksPerSecond();
// Microseconds since 1970.
uint64_t WallMicroseconds();

// Writes one line to standard error at once.
void Complain(const std::string& line);

// Runs fn when the process ends (while the recorder's thread may be gone).
void AtProcessEnd(void (*fn)());

}  // namespace tap
