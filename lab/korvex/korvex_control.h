// Control functions of the stand-in host runtime (KORVEX.dll).
//
// The driver never calls these: they are for tests and the host program, to
// read the log back and to script what the client services answer.
#pragma once

#include <cstdint>

#include "driver/platform/abi.h"

// Client services, for scripting a failure status.
enum KvxFunction : int32_t {
    KVX_MKCLIENT = 0,
    KVX_RMCLIENT,
    KVX_STATIONCFG,
    KVX_BACKUPMODE,
    KVX_WAITMSG,  // scripting a status here delivers no message; 0 is not allowed
    KVX_VERSION,
    KVX_FUNCTION_COUNT
};

// ---- Log ----------------------------------------------------------------
// Lines are kept in memory in arrival order until KvxLogClear.
extern "C" int32_t QUN_CDECL KvxLogCount(void);
// Copies line index (0 = oldest kept) into text (size bytes, always
// terminated) and its level into *level. Returns the line's full length, or -1
// when there is no such line.
extern "C" int32_t QUN_CDECL KvxLogLine(int32_t index, int32_t* level, char* text, int32_t size);
extern "C" void QUN_CDECL KvxLogClear(void);
// Echo of every line with a time stamp and its level: null or "" switches it
// off, "-" writes to standard output, anything else is a file appended to.
extern "C" void QUN_CDECL KvxLogEcho(const char* target);
// 1: lines are formatted as usual and then discarded instead of kept (for
// measurements). 0: kept again.
extern "C" void QUN_CDECL KvxLogDiscard(int32_t discard);
// Waits until a line equal to text has been logged at or after line index
// from, at most timeoutMs. Returns the line's index, or -1 on timeout.
extern "C" int32_t QUN_CDECL KvxLogWaitFor(const char* text, int32_t from, int32_t timeoutMs);

// ---- Script ---------------------------------------------------------------
// Everything back to its defaults: log emptied and echo off, no clients, master
// station (configuration word 0), backup mode 0, version 820 "Korvex 8.20",
// no failures, no pending messages, call counts 0.
extern "C" void QUN_CDECL KvxReset(void);
// The next count calls of function answer status and do nothing else
// (count < 0: every call until the next reset).
extern "C" void QUN_CDECL KvxFailNext(int32_t function, int16_t status, int32_t count);
extern "C" void QUN_CDECL KvxSetStationConfig(uint32_t word);
// The mode every later KorGetBackupMode delivers.
extern "C" void QUN_CDECL KvxSetBackupMode(int32_t mode);
// Modes delivered one per KorGetBackupMode call, in order; after the last one,
// the last stays.
extern "C" void QUN_CDECL KvxQueueBackupModes(const int32_t* modes, int32_t count);
// A shut-down message for every client registered now: the next KorWaitMsg of
// each answers 0.
extern "C" void QUN_CDECL KvxPostShutdown(void);
extern "C" void QUN_CDECL KvxSetVersion(uint16_t version, const char* text);
// Calls made of a function since the last reset.
extern "C" int32_t QUN_CDECL KvxCallCount(int32_t function);
// Clients registered now, and the name of the index-th of them.
extern "C" int32_t QUN_CDECL KvxClientCount(void);
extern "C" int32_t QUN_CDECL KvxClientName(int32_t index, char* text, int32_t size);
// Every name KorMkClient was asked for since the last reset, failed ones included.
extern "C" int32_t QUN_CDECL KvxRequestedClientCount(void);
extern "C" int32_t QUN_CDECL KvxRequestedClientName(int32_t index, char* text, int32_t size);
