// The software card's own control function, beside the card core's: the
// host program finds it at run time in the card library it loaded, and its
// presence tells that the library is the software card.
#pragma once

#include <cstdint>

extern "C" {

// One line of the devices' states and the requests' statuses (the status
// file's "devices" line) and where the status file is; after exitbus, as
// they were at exitbus. Copies at most size - 1 characters and a terminating
// zero into text; answers the line's full length, 0 before the first initbus.
int32_t SoftcardStatusLine(char* text, int32_t size);

}  // extern "C"
