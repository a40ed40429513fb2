// QunMain: the module's one export. It looks the request's function code up in
// a constant table and hands the request on unchanged.
#include "driver/entry/driver_functions.h"
#include "driver/platform/host.h"

namespace {

constexpr uint32_t kFunctionCodes = 17;

// Entry i serves function code i + 1; null entries are the empty codes.
constexpr DriverFunction kFunctionTable[kFunctionCodes] = {
    ColdStart,            // 1
    WarmStart,            // 2
    SingleAddressParser,  // 3
    BlockAddressParser,   // 4
    SingleRead,           // 5
    BlockRead,            // 6
    SingleWrite,          // 7
    nullptr,              // 8
    nullptr,              // 9
    BlockWrite,           // 10
    EndQun,               // 11
    CloseCom,             // 12
    ReOpenCom,            // 13
    GetQunInfo,           // 14
    ChangeQunParams,      // 15
    BrowseAddress,        // 16
    nullptr,              // 17
};

}  // namespace

extern "C" int32_t QUN_CDECL QunMain(QunRequest* request) {
    const uint32_t code = request->functionCode;
    // Unsigned: 0 wraps to a large value and is illegal like 18 and above.
    if (code - 1 >= kFunctionCodes) {
        err(kLogTrace, "RIREVI: Exited QunMain(), function illegal");
        return kNoSuchFunction;
    }
    const DriverFunction function = kFunctionTable[code - 1];
    if (function == nullptr) {
        err(kLogTrace, "RIREVI: Exited QunMain(), function is NULL");
        return kNoSuchFunction;
    }
    return function(request);
}
