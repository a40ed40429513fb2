// Calling convention of the host and card interfaces.
//
// Every function that crosses a module boundary is extern "C" and __cdecl on
// the 32-bit Windows target. Native builds (sanitizers, fuzzing) have only one
// convention, so the macro is empty there.
#pragma once

#if defined(_WIN32) && defined(__i386__)
#define QUN_CDECL __cdecl
#else
#define QUN_CDECL
#endif

// Marks the functions a module exports (the stand-ins and the driver's entry).
#if defined(_WIN32)
#define QUN_EXPORT extern "C" __declspec(dllexport)
#else
#define QUN_EXPORT extern "C" __attribute__((visibility("default")))
#endif
