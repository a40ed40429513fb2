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

// The folder of the running test program, with its trailing separator.
std::string ProgramFolder();
// The card library's file name on this system (APPLICOM.dll, libAPPLICOM.so).
extern const char kCardLibraryFile[];

// Any module by full path, as a host loads and frees its driver modules;
// null when it cannot be loaded.
void* LoadModuleAt(const std::string& path);
void* ModuleFunction(void* module, const char* name);
void UnloadModule(void* module);

}  // namespace qun_test
