// The driver functions that only acknowledge a host request with a trace.
#include "driver/entry/driver_functions.h"
#include "driver/entry/qun_info.h"
#include "driver/entry/request.h"
#include "driver/platform/host.h"

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
