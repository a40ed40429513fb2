// The card vendor's access library, APPLICOM.dll.
//
// Every routine returns nothing and reports through its last argument, a
// signed 16-bit status (0 = success). Every argument is passed by address.
// The data area handed over is always the driver's 1024-byte cardBuffer.
#pragma once

#include <cstdint>

#include "driver/platform/abi.h"

// The three argument forms of the data routines.
using NetworkRoutine = void QUN_CDECL(int16_t* channel, int16_t* equipment, int16_t* count,
                                      int32_t* address, void* data, int16_t* status);
using QuickBitRoutine = void QUN_CDECL(int16_t* channel, int16_t* equipment, void* data,
                                       int16_t* status);
using DatabaseRoutine = void QUN_CDECL(int16_t* channel, int16_t* count, int32_t* address,
                                       void* data, int16_t* status);

extern "C" {

void QUN_CDECL initbus(int16_t* status);
void QUN_CDECL exitbus(int16_t* status);

// Network reads.
NetworkRoutine readpackbit, readpackibit, readpackqbit, readbyte, readibyte, readqbyte,
    readpackbyte, readpackibyte, readpackqbyte, readword, readiword, readqword, readwordbcd,
    readdword, readfword, readtimer, readcounter;
// Network writes.
NetworkRoutine writepackbit, writepackqbit, writebyte, writeqbyte, writepackbyte,
    writepackqbyte, writeword, writeqword, writewordbcd, writedword, writefword, writetimer,
    writecounter;

QuickBitRoutine readquickbit;

// The card's internal database.
DatabaseRoutine getpackbit, getpackbyte, getword, getdword, getfword;
DatabaseRoutine setpackbit, setbit, setpackbyte, setword, setdword, setfword;

// Cyclic functions.
void QUN_CDECL createcyc(int16_t* channel, int16_t* number, int16_t* period, int16_t* one,
                         int16_t* typeCode, int16_t* databaseKind, int16_t* equipment,
                         int16_t* count, int32_t* address, int16_t* databaseAddress,
                         int16_t* minusOne, int16_t* status);
void QUN_CDECL startcyc(int16_t* channel, int16_t* number, int16_t* status);
void QUN_CDECL stopcyc(int16_t* channel, int16_t* number, int16_t* status);
void QUN_CDECL transcycpack(int16_t* channel, int16_t* number, int16_t* out1, int16_t* out2,
                            void* data, int16_t* status);
void QUN_CDECL AppGetCycParam(int16_t* channel, int16_t* number, void* record256,
                              int16_t* status);

}  // extern "C"

// Card statuses the driver tells apart.
constexpr int16_t kCardOk = 0;
constexpr int16_t kCardNotInitialised = 45;     // "comm. server not installed"
constexpr int16_t kCardInterfaceMissing = 47;   // "interface not installed"
constexpr int16_t kCardCyclicNotReadYet = 35;   // transcycpack before the first cycle
constexpr int16_t kCardNoMoreCyclic = 46;       // ends the clearing scan
constexpr int16_t kCardRemoteError = 70;        // COMM_ERR_BY_REMOTE
constexpr int16_t kCardCyclicInactive = -6;     // transcycpack on a stopped function
constexpr int16_t kCardBusy = 5;
