// The host runtime library, KORVEX.dll: logging and the client services.
//
// Statuses are 16-bit, 0 meaning success. The driver imports these by name and
// never calls anything else of the host.
#pragma once

#include <cstdint>

#include "driver/platform/abi.h"

extern "C" {

// Writes one line to the host log, formatted by the printf conventions.
// The result carries no meaning.
int32_t QUN_CDECL err(int32_t level, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

int16_t QUN_CDECL KorMkClient(const char* name, int32_t one, int32_t zero, uint8_t* clientId);
int16_t QUN_CDECL KorRmClient(uint8_t clientId);
int16_t QUN_CDECL KorGetLocalStationCfg(uint8_t clientId, int32_t zero1, int32_t zero2,
                                        int32_t zero3, uint32_t* config, int32_t zero4,
                                        int32_t zero5);
int16_t QUN_CDECL KorGetBackupMode(uint8_t clientId, int32_t* mode);
int16_t QUN_CDECL KorWaitMsg(uint8_t clientId, void* message24, int32_t twenty);
int16_t QUN_CDECL KorGetKorvexVer(uint8_t clientId, uint16_t* version, char* text100);

}  // extern "C"

// Log levels the driver uses.
constexpr int32_t kLogTrace = 8;   // traces
constexpr int32_t kLogError = 32;  // errors and notable events
