// Shared set-up of the fuzz targets: a state block as a cold start leaves it,
// the stand-ins quiet (log lines formatted and dropped, cyclic functions run
// only when stepped), and a reader of the fuzzer's bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "driver/entry/driver_state.h"
#include "driver/entry/request.h"
#include "driver/platform/card.h"
#include "lab/card/simulated/applicom_control.h"
#include "lab/korvex/korvex_control.h"

namespace fuzz {

// Takes fixed-size values off the front of the input; zeros once it is used up.
class Input {
public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    template <typename T>
    T Take() {
        T value{};
        const size_t n = size_ < sizeof(T) ? size_ : sizeof(T);
        if (n > 0) std::memcpy(&value, data_, n);
        data_ += n;
        size_ -= n;
        return value;
    }
    void TakeBytes(void* out, size_t n) {
        const size_t k = size_ < n ? size_ : n;
        if (k > 0) std::memcpy(out, data_, k);
        if (n > k) std::memset(static_cast<uint8_t*>(out) + k, 0, n - k);
        data_ += k;
        size_ -= k;
    }
    const uint8_t* rest() const { return data_; }
    size_t left() const { return size_; }

private:
    const uint8_t* data_;
    size_t size_;
};

// The stand-ins once per process; the card back to power-on and opened.
inline void ResetStandIns() {
    static bool once = [] {
        KvxLogDiscard(1);
        return true;
    }();
    (void)once;
    ApcReset();
    ApcSetCyclicManual(1);
    int16_t status = 0;
    initbus(&status);
    ApcJournalClear();
}

// The state after a cold start with the card open and no initialisation file.
inline void ColdState(DriverState* state) {
    std::memset(state, 0, sizeof *state);
    InitDriverState(state);
    state->retryCount = 3;
    state->balanceFree = 1;
    state->timeoutMs = 0;
    state->cardOpen = 1;
    PublishCyclicCount(state, 0);
}

}  // namespace fuzz
