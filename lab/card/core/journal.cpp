// The journal of every routine call: arguments, status and the data bytes the
// call moved (what a write took, what a read delivered), at most 1024 bytes.
//
// The journal keeps the newest ApcSetJournalLimit entries (unless set, the
// equipment side's number: 200000, and none on the software card):
// a long run of the host program drops its oldest entries instead of growing
// without end. Sequence numbers go on counting across dropped entries.
#include <cstring>

#include "lab/card/core/card_core.h"

namespace apc {

void Record(Card& card, int32_t routine, const int32_t* args, int32_t argCount,
            const Outcome& outcome) {
    if (card.journalLimit <= 0) {
        ++card.nextSequence;
        return;
    }
    JournalEntry entry{};
    entry.call.routine = routine;
    entry.call.argCount = argCount;
    for (int32_t i = 0; i < argCount; ++i) entry.call.args[i] = args[i];
    entry.call.status = outcome.status;
    entry.call.threadId = CallerThreadId();
    entry.call.sequence = card.nextSequence++;
    int32_t size = outcome.size;
    if (outcome.data == nullptr || size < 0) size = 0;
    if (size > kDataAreaBytes) size = kDataAreaBytes;
    const uint8_t* bytes = static_cast<const uint8_t*>(outcome.data);
    entry.data.assign(bytes, bytes + size);
    entry.call.dataSize = size;
    card.journal.push_back(std::move(entry));
    while (static_cast<int32_t>(card.journal.size()) > card.journalLimit) card.journal.pop_front();
}

}  // namespace apc

using namespace apc;

QUN_EXPORT const char* ApcRoutineName(int32_t routine) {
    if (routine < 0 || routine >= APC_ROUTINE_COUNT) return "";
    return kRoutines[routine].name;
}

QUN_EXPORT int32_t ApcRoutineByName(const char* name) {
    return name == nullptr ? -1 : qtrace::RoutineByName(name);
}

QUN_EXPORT int32_t ApcJournalCount(void) {
    Card& card = TheCard();
    std::lock_guard<std::mutex> guard(card.lock);
    return static_cast<int32_t>(card.journal.size());
}

QUN_EXPORT int32_t ApcJournalGet(int32_t index, ApcCall* call) {
    Card& card = TheCard();
    std::lock_guard<std::mutex> guard(card.lock);
    if (index < 0 || index >= static_cast<int32_t>(card.journal.size())) return -1;
    if (call != nullptr) *call = card.journal[static_cast<size_t>(index)].call;
    return 0;
}

QUN_EXPORT int32_t ApcJournalData(int32_t index, void* buffer, int32_t size) {
    Card& card = TheCard();
    std::lock_guard<std::mutex> guard(card.lock);
    if (index < 0 || index >= static_cast<int32_t>(card.journal.size())) return -1;
    const std::vector<uint8_t>& data = card.journal[static_cast<size_t>(index)].data;
    const int32_t recorded = static_cast<int32_t>(data.size());
    if (buffer != nullptr && size > 0 && recorded > 0)
        std::memcpy(buffer, data.data(), static_cast<size_t>(size < recorded ? size : recorded));
    return recorded;
}

QUN_EXPORT void ApcJournalClear(void) {
    Card& card = TheCard();
    std::lock_guard<std::mutex> guard(card.lock);
    card.journal.clear();
    card.nextSequence = 0;
}

QUN_EXPORT int32_t ApcJournalCountOf(int32_t routine) {
    Card& card = TheCard();
    std::lock_guard<std::mutex> guard(card.lock);
    int32_t count = 0;
    for (const JournalEntry& entry : card.journal)
        if (entry.call.routine == routine) ++count;
    return count;
}

QUN_EXPORT void ApcSetJournalLimit(int32_t entries) {
    Card& card = TheCard();
    std::lock_guard<std::mutex> guard(card.lock);
    card.journalLimit = entries < 0 ? 0 : entries;
    while (static_cast<int32_t>(card.journal.size()) > card.journalLimit) card.journal.pop_front();
}
