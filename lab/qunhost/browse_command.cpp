#include "lab/qunhost/browse_command.h"

// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <cstdio>

#include "driver/browse/browse_address.h"
#include "driver/entry/function_codes.h"

const char* BrowseUnavailableReason() { return nullptr; }

int BrowseCommand(int32_t(QUN_CDECL* qunMain)(QunRequest*)) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);

    // Room for the longest composed address (29 characters) and its zero.
    char address[32] = "";
    BrowseBlock block{address, 0};  // no window of ours to own the dialog
    QunRequest request{};
    request.functionCode = function_code::kBrowseAddress;
    request.instance = 1;
    request.parameters = &block;
    const int32_t result = qunMain(&request);
    if (result == kAddressComposed) {
        std::printf("BrowseAddress -> 0: composed address %s\n", address);
        return 0;
    }
    std::printf("BrowseAddress -> %d: the Tag Format dialog was cancelled, no address composed\n",
                static_cast<int>(result));
    return 1;
}
