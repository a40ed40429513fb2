#include "driver/browse/browse_address.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "driver/browse/browse_dialog.h"
#include "driver/entry/driver_functions.h"
#include "driver/platform/host.h"
#include "driver/platform/os.h"

namespace {

// Set while a dialog is open: one dialog at a time, also against a call made
// from within the running dialog's message loop or from another host thread.
std::atomic<int32_t> busyMark{0};

// The host's version, asked through a short-lived client; 0 when the client
// cannot be registered.
uint16_t AskHostVersion() {
    char name[24];
    std::snprintf(name, sizeof name, "QunDozBr%02d", static_cast<int>(os::CurrentThreadId()));
    uint8_t clientId = 255;
    uint16_t version = 0;
    char text[100];
    if (KorMkClient(name, 1, 0, &clientId) == 0) {
        KorGetKorvexVer(clientId, &version, text);
        KorRmClient(clientId);
    }
    return version;
}

}  // namespace

int32_t BrowseAddress(QunRequest* request) {
    // While a dialog is open a call is turned away before anything else: it
    // makes no host call, not even one to the log.
    if (busyMark.exchange(1) != 0) return kNoAddressComposed;

    const BrowseBlock* block = ParametersOf<BrowseBlock>(request);
    if (block == nullptr || block->addressBuffer == nullptr) {
        if (block == nullptr)
            err(kLogError, "RIREVI: BrowseAddress() no parameter block");
        else
            err(kLogError, "RIREVI: BrowseAddress() no address buffer");
        busyMark.store(0);
        return kNoAddressComposed;
    }
    char* const buffer = block->addressBuffer;
    const uint32_t ownerWindow = block->ownerWindow;

    const uint32_t owner = AskHostVersion() >= kOwnerVersion ? ownerWindow : 0;
    char composed[kComposedAddressSize] = "";
    const int32_t result = ShowBrowseDialog(owner, composed);

    int32_t answer = kNoAddressComposed;
    // The host's buffer has room for the longest composed address and its zero,
    // so nothing longer is ever written there.
    const void* end = std::memchr(composed, '\0', sizeof composed);
    const size_t length =
        end == nullptr ? sizeof composed : static_cast<const char*>(end) - composed;
    if (result == kBrowseOk && length > 0 && length <= kComposedAddressMaxLength) {
        std::memcpy(buffer, composed, length + 1);
        answer = kAddressComposed;
    }
    // Closing the dialog lets the next call show it again.
    busyMark.store(0);
    return answer;
}
