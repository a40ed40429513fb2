// The start and the end of the driver's work for one instance.
#include "driver/config/init_file.h"
#include "driver/cyclic/cyclic_control.h"
#include "driver/cyclic/supervisor.h"
#include "driver/entry/driver_functions.h"
#include "driver/entry/driver_state.h"
#include "driver/entry/qun_info.h"
#include "driver/platform/card.h"
#include "driver/platform/host.h"
#include "driver/platform/os.h"

namespace {

// Opens the card library; logs why when it cannot be opened.
bool OpenCard() {
    int16_t status = 0;
    initbus(&status);
    if (status == kCardOk) return true;
    if (status == kCardNotInitialised) {
        err(kLogError, "RIREVI: ColdStart() initbus error, comm. server not installed");
    } else if (status == kCardInterfaceMissing) {
        err(kLogError, "RIREVI: ColdStart() initbus error, interface not installed");
    } else {
        err(kLogError, "RIREVI: ColdStart() initbus error, status %u",
            static_cast<unsigned>(static_cast<int32_t>(status)));
    }
    return false;
}

}  // namespace

int32_t ColdStart(QunRequest* request) {
    DriverState* state = request->state;
    const ColdStartParams* params = ParametersOf<ColdStartParams>(request);
    // Without a block the host asked for nothing: the card stays closed.
    static constexpr ColdStartParams kNoParameters{};
    if (params == nullptr) {
        err(kLogError, "RIREVI: ColdStart() no parameter block");
        params = &kNoParameters;
    }
    PublishCyclicCount(state, 0);

    // The compiler's own forms: "Oct  3 2006" and "11:32:33".
    err(kLogError, "RIREVI: ColdStart() version compiled on %s at time %s", __DATE__, __TIME__);
    InitDriverState(state);
    ReadIntFile(request);

    // Wrapping instead of overflowing on absurd values.
    state->timeoutMs = static_cast<int32_t>(static_cast<uint32_t>(params->timeout) * 10u);
    err(kLogTrace, "RIREVI: Timeout is %d", state->timeoutMs);

    if (params->openFlag != 0 && OpenCard()) {
        err(kLogTrace, "RIREVI: ColdStart() applicom initbus succeeded");
        state->cardOpen = 1;
        state->initSemaphore = os::SemaphoreCreate(0, 1);
        StartSupervisorThread(state);
        if (state->clearCyclic != 0) {
            ClearCyclicFunctions();
            err(kLogError, "RIREVI: Clear (startup) Cyclic data");
        }
    }

    if (state->cardOpen != 1 && params->openFlag == 1) {
        err(kLogError, "RIREVI: Coldstart() exited with error, no comm. possible");
    }
    return 0;
}

int32_t EndQun(QunRequest* request) {
    const DriverState* state = request->state;
    if (state->clearCyclic != 0) {
        ClearCyclicFunctions();
        err(kLogError, "QunDOZ : Clear Cyclic data");
    }
    int16_t status = 0;
    exitbus(&status);  // nothing can be done about a failing close
    err(kLogTrace, "RIREVI: EndQun() exited");
    return 0;
}
