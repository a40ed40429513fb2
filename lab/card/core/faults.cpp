// Fault injection: random failures, per-call delays and card resets.
#include <cmath>

#include "lab/card/core/card_core.h"

using namespace apc;

// Without statuses the injected failure is 70, the remote communication error.
QUN_EXPORT void ApcSetFailureRate(double rate, uint32_t seed, const int16_t* statuses,
                                  int32_t count) {
    Card& card = TheCard();
    std::lock_guard<std::mutex> guard(card.lock);
    card.failureRate = std::isfinite(rate) ? std::fmin(1.0, std::fmax(0.0, rate)) : 0.0;
    card.failureRandom.seed(seed);
    card.failureStatuses.clear();
    if (statuses != nullptr)
        for (int32_t i = 0; i < count; ++i) card.failureStatuses.push_back(statuses[i]);
    if (card.failureStatuses.empty()) card.failureStatuses.push_back(kDefaultInjectedStatus);
}

QUN_EXPORT void ApcSetCallDelay(int32_t routine, int32_t microseconds) {
    if (microseconds < 0) microseconds = 0;
    Card& card = TheCard();
    if (routine == -1) {
        for (auto& delay : card.delayMicroseconds) delay.store(microseconds);
    } else if (routine >= 0 && routine < APC_ROUTINE_COUNT) {
        card.delayMicroseconds[routine].store(microseconds);
    }
}

// The card forgets that the library was opened; its memory, databases and
// cyclic functions stay as they are.
QUN_EXPORT void ApcSimulateReset(void) {
    Card& card = TheCard();
    std::lock_guard<std::mutex> guard(card.lock);
    card.open = false;
}

QUN_EXPORT int32_t ApcInjectedFailureCount(void) {
    Card& card = TheCard();
    std::lock_guard<std::mutex> guard(card.lock);
    return card.injectedFailures;
}
