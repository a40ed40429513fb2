// Systems without the Win32 dialog (the native builds for sanitizers and
// fuzzing): the dialog cannot be created, so BrowseAddress answers 53.
#if !defined(_WIN32)

#include "driver/browse/browse_dialog.h"

int32_t ShowBrowseDialog(uint32_t, char (&)[kComposedAddressSize]) { return -1; }

#endif
