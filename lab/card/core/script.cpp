// Control functions that script the card's answers and bring it back to
// power-on.
#include <algorithm>
#include <cstring>

#include "lab/card/core/card_core.h"
#include "lab/card/core/equipment.h"

namespace apc {

void ResetLocked(Card& card) {
    card.open = false;
    card.installed = 0xFF;
    for (Database& database : card.databases) {
        std::fill(database.bits.begin(), database.bits.end(), 0);
        std::fill(database.words.begin(), database.words.end(), 0);
    }
    for (auto& channel : card.cyclic)
        for (CyclicFunction& function : channel) function = CyclicFunction{};
    card.definedCyclic = 0;
    card.manual = false;
    for (auto& script : card.statusScript) script.clear();
    for (auto& script : card.dataScript) script.clear();
    card.cycParamScripts.clear();
    card.journal.clear();
    card.nextSequence = 0;
    card.journalLimit = TheEquipment().JournalLimit();
    card.failureRate = 0;
    card.failureStatuses.clear();
    card.injectedFailures = 0;
    for (auto& delay : card.delayMicroseconds) delay.store(0);
    card.wakeRequested = true;
    card.wake.notify_all();
}

}  // namespace apc

using namespace apc;

QUN_EXPORT void ApcReset(void) {
    {
        Card& card = TheCard();
        std::lock_guard<std::mutex> guard(card.lock);
        ResetLocked(card);
    }
    TheEquipment().Reset();
}

QUN_EXPORT void ApcScriptStatus(int32_t routine, const int16_t* statuses, int32_t count) {
    if (routine < 0 || routine >= APC_ROUTINE_COUNT || statuses == nullptr) return;
    Card& card = TheCard();
    std::lock_guard<std::mutex> guard(card.lock);
    for (int32_t i = 0; i < count; ++i) card.statusScript[routine].push_back(statuses[i]);
}

// Deliveries longer than the 1024-byte data area are cut to it.
QUN_EXPORT void ApcScriptData(int32_t routine, const void* data, int32_t size) {
    if (routine < 0 || routine >= APC_ROUTINE_COUNT) return;
    if (size < 0 || data == nullptr) size = 0;
    if (size > kDataAreaBytes) size = kDataAreaBytes;
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    Card& card = TheCard();
    std::lock_guard<std::mutex> guard(card.lock);
    card.dataScript[routine].emplace_back(bytes, bytes + size);
}

QUN_EXPORT void ApcScriptCycParam(int32_t channel, int32_t number, const void* record256,
                                  int16_t status) {
    CycParamScript script{};
    script.status = status;
    if (record256 != nullptr) std::memcpy(script.record, record256, kCycParamBytes);
    Card& card = TheCard();
    std::lock_guard<std::mutex> guard(card.lock);
    card.cycParamScripts[static_cast<int64_t>(channel) * 65536 + number] = script;
}

QUN_EXPORT void ApcSetInstalledCards(uint32_t mask) {
    Card& card = TheCard();
    std::lock_guard<std::mutex> guard(card.lock);
    card.installed = mask & 0xFFu;
}
