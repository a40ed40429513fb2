// The native host program: the driver's "Tag Format" dialog is a Windows
// dialog, so --browse only says where it can be opened.
#include "lab/qunhost/browse_command.h"

const char* BrowseUnavailableReason() {
    return "--browse opens the driver's \"Tag Format\" dialog, a Windows dialog that the native "
           "build has not got: run qunhost.exe (under Wine, or on Windows) for it";
}

int BrowseCommand(int32_t(QUN_CDECL*)(QunRequest*)) { return 2; }
