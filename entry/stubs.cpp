// Driver functions whose work has not been built yet. Each logs nothing and
// answers 2, the result of a function that cannot be carried out. An entry is
// removed here when its function is built.
#include "entry/driver_functions.h"

int32_t SingleAddressParser(QunRequest*) { return 2; }
int32_t BlockAddressParser(QunRequest*) { return 2; }
int32_t SingleRead(QunRequest*) { return 2; }
int32_t BlockRead(QunRequest*) { return 2; }
int32_t SingleWrite(QunRequest*) { return 2; }
int32_t BlockWrite(QunRequest*) { return 2; }
int32_t BrowseAddress(QunRequest*) { return 2; }

// Inner operations of other subsystems that the built functions already call.
#include "config/init_file.h"
void ReadIntFile(QunRequest*) {}
