// Whole-card operations on the card's cyclic functions.
#pragma once

#include "driver/entry/driver_state.h"

// Redefines every cyclic function of every channel as an empty one.
void ClearCyclicFunctions();

// Stops, or starts again, every cyclic function in the state's registry.
void StopCyclicFunctions(DriverState* state);
void StartCyclicFunctions(DriverState* state);
