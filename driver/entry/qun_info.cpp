// The information record that describes the driver to the host.
#include "driver/entry/qun_info.h"

#include "driver/entry/driver_functions.h"
#include "driver/entry/driver_state.h"
#include "driver/platform/host.h"

namespace {

// The banner: a backspace, then a frame of three code page 437 lines around
// the driver's name, 189 bytes.
#define QUN_BAR                                                                \
    "\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD" \
    "\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD" \
    "\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD" \
    "\xCD\xCD\xCD\xCD\xCD\xCD"
constexpr char kBanner[] =
    "\x08"
    "\xC9" QUN_BAR "\xBB\n"
    "\xBA" "  RIREVI :  Applicom multi-protocol         (32-bit driver) " "\xBA\n"
    "\xC8" QUN_BAR "\xBC";
#undef QUN_BAR
static_assert(sizeof(kBanner) == 190, "the banner is 189 bytes and its terminator");

constexpr char kMakerName[] = "Applicom ";

}  // namespace

int32_t GetQunInfo(QunRequest* request) {
    QunInfo* info = ParametersOf<QunInfo>(request);
    if (info == nullptr) {
        err(kLogError, "RIREVI: GetQunInfo() no parameter block");
        return 2;
    }
    info->infoCode = 82;
    info->makerName = kMakerName;
    info->banner = kBanner;
    info->stateSize = kDriverStateSize;
    info->value16 = 2;
    info->value20 = 0;
    info->capabilities = 0xC0023;
    err(kLogTrace, "RIREVI: GetQunInfo() exited");
    return 0;
}
