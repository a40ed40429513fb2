// Driver functions whose work has not been built yet. Each logs nothing and
// answers 2, the result of a function that cannot be carried out. An entry is
// removed here when its function is built.
#include "entry/driver_functions.h"

