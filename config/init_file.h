// The station initialisation file "qunDOZnn.INT" of a driver instance.
#pragma once

#include "entry/request.h"

// Sets retryCount and balanceFree to their defaults, then applies the
// instance's initialisation file from the current directory, if there is one.
void ReadIntFile(QunRequest* request);
