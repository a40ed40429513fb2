// The state block's defaults, the information record, and the functions that
// only acknowledge a host request with a trace.
#include <cstring>

#include "driver/entry/driver_functions.h"
#include "driver/entry/driver_state.h"
#include "driver/entry/qun_info.h"
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

void InitDriverState(DriverState* state) {
    state->cardOpen = 0;
    state->cyclicAllowed = 1;
    std::memset(state->stations, kFreeStation, sizeof state->stations);
    std::memset(state->channelLastCyc, 0, sizeof state->channelLastCyc);
    state->nextFreeBit = 0;
    state->lowestUsedByte = kInitialLowestByte;
    state->nextFreeWord = 0;
    state->clearCyclic = 1;
    state->firstCycNo = 0;
}

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

int32_t WarmStart(QunRequest* request) {
    const WarmStartParams* params = ParametersOf<WarmStartParams>(request);
    if (params == nullptr) {
        err(kLogError, "RIREVI: WarmStart() no parameter block");
        return 0;
    }
    err(kLogTrace, "RIREVI: WarmStart() QUN%u plc%02Xh", request->instance, params->plcNumber);
    return 0;
}

int32_t CloseCom(QunRequest*) {
    err(kLogTrace, "RIREVI: CloseCom() exited 0");
    return 0;
}

int32_t ReOpenCom(QunRequest*) {
    err(kLogTrace, "RIREVI: ReOpenCom() exited 0");
    return 0;
}

int32_t ChangeQunParams(QunRequest*) {
    err(kLogTrace, "RIREVI: ChangeQunParams() exitted, 0");
    return 0;
}
