// The simulated card's own control functions (APPLICOM.dll): its equipment
// memory and its plant. The card core's controls (journal, scripts, faults,
// cyclic functions, databases, replay) come with them.
//
// The driver never calls these. Tests and the host program use them to reach
// the simulated card's memory directly and to make it change by itself.
#pragma once

#include <cstdint>

#include "lab/card/core/core_control.h"

extern "C" {

// ---- Memory -------------------------------------------------------------
// Element-wise access to an equipment's memory: 1-bit areas take one byte (0
// or 1) per element, word areas two bytes, DWORD and FLOAT four.
int32_t ApcPoke(int32_t channel, int32_t equipment, int32_t area, int32_t address, const void* data,
                int32_t elements);
int32_t ApcPeek(int32_t channel, int32_t equipment, int32_t area, int32_t address, void* data,
                int32_t elements);

// ---- The plant ------------------------------------------------------------------
// A signal makes one element of an equipment's memory change by itself.
enum ApcWave : int32_t {
    APC_WAVE_COUNTER = 0,  // low, low + 1, ... wrapping past high; one step per period
    APC_WAVE_RAMP,         // low to high over the period, then again
    APC_WAVE_SQUARE,       // low for half the period, high for the other half
    APC_WAVE_SINE,         // between low and high
    APC_WAVE_RANDOM,       // random walk between low and high, seeded
};
// Returns the signal's index, or -1 for bad arguments.
int32_t ApcAddSignal(int32_t channel, int32_t equipment, int32_t area, int32_t address,
                     int32_t wave, double low, double high, double periodSeconds, uint32_t seed);
void ApcClearSignals(void);

}  // extern "C"
