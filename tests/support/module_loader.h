// Loading the driver module the way the host does, on each system.
#pragma once

#include <cstdint>
#include <string>

#include "driver/entry/request.h"
#include "driver/platform/abi.h"

namespace qun_test {

using QunMainFunction = int32_t(QUN_CDECL*)(QunRequest*);

// Loads the driver module from the program's folder (MORDALIX.DLL, or
// libMORDALIX.so on native builds) and returns its QunMain, or null.
QunMainFunction LoadDriverEntry();

// The loaded module's handle, or null before LoadDriverEntry.
void* LoadedDriverModule();

// Which build of the driver runs, and on what, for reports: the 32-bit
// Windows module under Wine (with Wine's version) or on Windows, or the
// native module.
std::string RuntimeDescription();

}  // namespace qun_test
