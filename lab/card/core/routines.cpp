// The card routines that the driver imports: opening and closing the library,
// the network reads and writes, the quick bits and the database routines.
// The cyclic-function routines are in cyclic.cpp.
//
// A network routine is checked and journalled under the card's lock, and its
// exchange with the equipment side runs without it.
#include <chrono>
#include <cstring>
#include <thread>

#include "driver/platform/card.h"
#include "lab/card/core/card_core.h"
#include "lab/card/core/equipment.h"

namespace apc {

#define APC_BUS(name) \
    { #name, Form::kBus, -1, Format::kNone, 0, 0 }
#define APC_READ(name, area, format, code, kind) \
    { #name, Form::kNetworkRead, area, format, code, kind }
#define APC_WRITE(name, area, format) \
    { #name, Form::kNetworkWrite, area, format, 0, 0 }
#define APC_GET(name, format) \
    { #name, Form::kDatabaseGet, -1, format, 0, 0 }
#define APC_SET(name, format) \
    { #name, Form::kDatabaseSet, -1, format, 0, 0 }
#define APC_CYC(name) \
    { #name, Form::kCyclic, -1, Format::kNone, 0, 0 }

// In the order of ApcRoutine.
const RoutineInfo kRoutines[APC_ROUTINE_COUNT] = {
    APC_BUS(initbus),
    APC_BUS(exitbus),
    APC_READ(readpackbit, APC_AREA_BIT, Format::kPackedBits, 0x1003, 1),
    APC_READ(readpackibit, APC_AREA_INPUT_BIT, Format::kPackedBits, 0x1004, 1),
    APC_READ(readpackqbit, APC_AREA_OUTPUT_BIT, Format::kPackedBits, 0x105A, 1),
    APC_READ(readbyte, APC_AREA_WORD, Format::kBytes16, 0x105F, 2),
    APC_READ(readibyte, APC_AREA_INPUT_WORD, Format::kBytes16, 0x1069, 2),
    APC_READ(readqbyte, APC_AREA_OUTPUT_WORD, Format::kBytes16, 0x106B, 2),
    APC_READ(readpackbyte, APC_AREA_WORD, Format::kPackedBytes, 0x105E, 2),
    APC_READ(readpackibyte, APC_AREA_INPUT_WORD, Format::kPackedBytes, 0x1068, 2),
    APC_READ(readpackqbyte, APC_AREA_OUTPUT_WORD, Format::kPackedBytes, 0x106A, 2),
    APC_READ(readword, APC_AREA_WORD, Format::kWords, 0x1005, 3),
    APC_READ(readiword, APC_AREA_INPUT_WORD, Format::kWords, 0x1006, 3),
    APC_READ(readqword, APC_AREA_OUTPUT_WORD, Format::kWords, 0x1065, 3),
    APC_READ(readwordbcd, APC_AREA_WORD, Format::kBcdWords, 0x1062, 3),
    APC_READ(readdword, APC_AREA_DWORD, Format::kDwords, 0x1007, 4),
    APC_READ(readfword, APC_AREA_FLOAT, Format::kDwords, 0x1008, 5),
    APC_READ(readtimer, APC_AREA_TIMER, Format::kWords, 0, 0),
    APC_READ(readcounter, APC_AREA_COUNTER, Format::kWords, 0, 0),
    {"readquickbit", Form::kQuickBit, APC_AREA_QUICK_BIT, Format::kPackedBits, 0x100D, 1},
    APC_WRITE(writepackbit, APC_AREA_BIT, Format::kPackedBits),
    APC_WRITE(writepackqbit, APC_AREA_OUTPUT_BIT, Format::kPackedBits),
    APC_WRITE(writebyte, APC_AREA_WORD, Format::kBytes16),
    APC_WRITE(writeqbyte, APC_AREA_OUTPUT_WORD, Format::kBytes16),
    APC_WRITE(writepackbyte, APC_AREA_WORD, Format::kPackedBytes),
    APC_WRITE(writepackqbyte, APC_AREA_OUTPUT_WORD, Format::kPackedBytes),
    APC_WRITE(writeword, APC_AREA_WORD, Format::kWords),
    APC_WRITE(writeqword, APC_AREA_OUTPUT_WORD, Format::kWords),
    APC_WRITE(writewordbcd, APC_AREA_WORD, Format::kBcdWords),
    APC_WRITE(writedword, APC_AREA_DWORD, Format::kDwords),
    APC_WRITE(writefword, APC_AREA_FLOAT, Format::kDwords),
    APC_WRITE(writetimer, APC_AREA_TIMER, Format::kWords),
    APC_WRITE(writecounter, APC_AREA_COUNTER, Format::kWords),
    APC_GET(getpackbit, Format::kPackedBits),
    APC_GET(getpackbyte, Format::kPackedBytes),
    APC_GET(getword, Format::kWords),
    APC_GET(getdword, Format::kDwords),
    APC_GET(getfword, Format::kDwords),
    APC_SET(setpackbit, Format::kPackedBits),
    APC_SET(setbit, Format::kPackedBits),
    APC_SET(setpackbyte, Format::kPackedBytes),
    APC_SET(setword, Format::kWords),
    APC_SET(setdword, Format::kDwords),
    APC_SET(setfword, Format::kDwords),
    APC_CYC(createcyc),
    APC_CYC(startcyc),
    APC_CYC(stopcyc),
    APC_CYC(transcycpack),
    APC_CYC(AppGetCycParam),
};

#undef APC_BUS
#undef APC_READ
#undef APC_WRITE
#undef APC_GET
#undef APC_SET
#undef APC_CYC

const RoutineInfo* CyclicReadByCode(int32_t code) {
    if (code == 0) return nullptr;
    for (const RoutineInfo& info : kRoutines)
        if (info.cyclicCode == code) return &info;
    return nullptr;
}

Card& TheCard() {
    static Card* card = [] {
        Card* made = new Card;
        made->journalLimit = TheEquipment().JournalLimit();
        return made;
    }();
    return *card;
}

bool FrontAnswer(Card& card, int32_t routine, int16_t* status) {
    std::deque<int16_t>& script = card.statusScript[routine];
    if (!script.empty()) {
        const int16_t scripted = script.front();
        script.pop_front();
        if (scripted != kStatusOk) {
            *status = scripted;
            return true;
        }
    }
    if (routine != APC_initbus && !card.open) {
        *status = kStatusClosed;
        return true;
    }
    if (routine != APC_initbus && routine != APC_exitbus && card.failureRate > 0) {
        std::uniform_real_distribution<double> chance(0.0, 1.0);
        if (chance(card.failureRandom) < card.failureRate) {
            std::uniform_int_distribution<size_t> pick(0, card.failureStatuses.size() - 1);
            *status = card.failureStatuses[pick(card.failureRandom)];
            ++card.injectedFailures;
            return true;
        }
    }
    return false;
}

bool DeliverScripted(Card& card, int32_t routine, void* data, Outcome& outcome) {
    std::deque<std::vector<uint8_t>>& script = card.dataScript[routine];
    if (script.empty()) return false;
    const std::vector<uint8_t> bytes = std::move(script.front());
    script.pop_front();
    if (!bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
    outcome.data = data;
    outcome.size = static_cast<int32_t>(bytes.size());
    return true;
}

void CallDelay(Card& card, int32_t routine) {
    const int32_t delay = card.delayMicroseconds[routine].load(std::memory_order_relaxed);
    if (delay > 0) std::this_thread::sleep_for(std::chrono::microseconds(delay));
}

}  // namespace apc

using namespace apc;

namespace {

int32_t Arg(const int16_t* value) { return value == nullptr ? -1 : *value; }
int32_t Arg(const int32_t* value) { return value == nullptr ? -1 : *value; }

// The bytes of a transfer of count elements, or 0 when the count is below 1 or
// the data would not fit the 1024-byte data area.
int32_t TransferBytes(Format format, int32_t count) {
    if (count < 1) return 0;
    const int32_t bytes = FormatBytes(format, count);
    return bytes <= kDataAreaBytes ? bytes : 0;
}

// One exchange with the equipment side: count elements from address of
// (channel, equipment), the data area taking bytes. args/argCount are the
// routine's arguments for the journal.
void EquipmentCall(ApcRoutine routine, const int32_t* args, int32_t argCount, int32_t channel,
                   int32_t equipment, int32_t address, int32_t count, int32_t bytes, void* data,
                   int16_t* status) {
    const RoutineInfo& info = kRoutines[routine];
    const bool write = info.form == Form::kNetworkWrite;
    if (ReplayAnswer(routine, args, argCount, write ? data : nullptr, write ? bytes : 0, data,
                     status))
        return;
    Card& card = TheCard();
    CallDelay(card, routine);
    std::unique_lock<std::mutex> lock(card.lock);
    Outcome outcome;
    bool exchange = false;
    if (!FrontAnswer(card, routine, &outcome.status)) {
        outcome.status = CheckChannel(card, channel);
        if (outcome.status == kStatusOk) {
            if (equipment < 0 || equipment >= kEquipmentCount || bytes == 0 || data == nullptr ||
                !TheEquipment().InRange(info, address, count))
                outcome.status = kStatusBadArgument;
            else
                exchange = write || !DeliverScripted(card, routine, data, outcome);
        }
    }
    if (exchange) {
        lock.unlock();
        Equipment& side = TheEquipment();
        outcome.status = write ? side.Write(channel, equipment, info, address, count,
                                            static_cast<const uint8_t*>(data))
                               : side.Read(channel, equipment, info, address, count,
                                           static_cast<uint8_t*>(data));
        lock.lock();
        if (!write && outcome.status == kStatusOk) {
            outcome.data = data;
            outcome.size = bytes;
        }
    }
    // A write journals the bytes it took from the caller, whatever the status.
    if (write && bytes > 0) {
        outcome.data = data;
        outcome.size = bytes;
    }
    Record(card, routine, args, argCount, outcome);
    if (status != nullptr) *status = outcome.status;
}

void NetworkCall(ApcRoutine routine, int16_t* channel, int16_t* equipment, int16_t* count,
                 int32_t* address, void* data, int16_t* status) {
    const int32_t args[] = {Arg(channel), Arg(equipment), Arg(count), Arg(address)};
    EquipmentCall(routine, args, 4, args[0], args[1], args[3], args[2],
                  TransferBytes(kRoutines[routine].format, args[2]), data, status);
}

void DatabaseCall(ApcRoutine routine, int16_t* cardNumber, int16_t* count, int32_t* address,
                  void* data, int16_t* status) {
    const RoutineInfo& info = kRoutines[routine];
    const int32_t args[] = {Arg(cardNumber), Arg(count), Arg(address)};
    const bool set = info.form == Form::kDatabaseSet;
    const int32_t bytes = TransferBytes(info.format, args[1]);
    const void* handedOver = set && bytes > 0 ? data : nullptr;
    if (ReplayAnswer(routine, args, 3, handedOver, handedOver != nullptr ? bytes : 0, data, status))
        return;
    RunCall(routine, args, 3, status, handedOver, bytes, [&](Card& card, Outcome& outcome) {
        outcome.status = CheckCardNumber(card, args[0]);
        if (outcome.status != kStatusOk) return;
        if (bytes == 0 || data == nullptr || !DatabaseRange(info.format, args[2], args[1])) {
            outcome.status = kStatusBadArgument;
            return;
        }
        Database& database = card.databases[args[0] - 1];
        if (set) {
            WriteDatabase(database, info.format, args[2], args[1],
                          static_cast<const uint8_t*>(data));
            return;
        }
        if (DeliverScripted(card, routine, data, outcome)) return;
        ReadDatabase(database, info.format, args[2], args[1], static_cast<uint8_t*>(data));
        outcome.data = data;
        outcome.size = bytes;
    });
}

}  // namespace

// ---- Opening and closing ------------------------------------------------------

// The equipment side opens with the card; the cyclic functions that were
// running when it closed run again.
QUN_EXPORT void QUN_CDECL initbus(int16_t* status) {
    // Replayed, the card opens all the same (the cyclic functions' state of
    // the replay is the card's own); the status is the recorded one.
    int16_t recorded = 0;
    const bool replayed = ReplayAnswer(APC_initbus, nullptr, 0, nullptr, 0, nullptr, &recorded);
    Card& card = TheCard();
    CallDelay(card, APC_initbus);
    std::unique_lock<std::mutex> lock(card.lock);
    Outcome outcome;
    if (!FrontAnswer(card, APC_initbus, &outcome.status) && !card.open) {
        uint32_t installed = card.installed;
        lock.unlock();
        outcome.status = TheEquipment().Open(&installed);
        lock.lock();
        if (outcome.status == kStatusOk) {
            card.open = true;
            card.installed = installed;
            if (card.definedCyclic > 0) EnsureCardThread(card);
        }
    }
    Record(card, APC_initbus, nullptr, 0, outcome);
    if (status != nullptr) *status = replayed ? recorded : outcome.status;
}

// Closing a closed library answers 45 like every other routine. Closing ends
// the card's thread (unless the equipment side has work of its own) and then
// the equipment side's connections.
QUN_EXPORT void QUN_CDECL exitbus(int16_t* status) {
    int16_t recorded = 0;
    const bool replayed = ReplayAnswer(APC_exitbus, nullptr, 0, nullptr, 0, nullptr, &recorded);
    Card& card = TheCard();
    CallDelay(card, APC_exitbus);
    std::unique_lock<std::mutex> lock(card.lock);
    Outcome outcome;
    const bool closing = !FrontAnswer(card, APC_exitbus, &outcome.status);
    if (closing) card.open = false;
    Record(card, APC_exitbus, nullptr, 0, outcome);
    if (status != nullptr) *status = replayed ? recorded : outcome.status;
    if (!closing) return;
    EndCardThread(card, lock);
    lock.unlock();
    TheEquipment().Close();
    lock.lock();
    ForgetPostedCycles(card);
}

// ---- Network routines -----------------------------------------------------------

#define APC_NETWORK(name)                                                                \
    QUN_EXPORT void QUN_CDECL name(int16_t* channel, int16_t* equipment, int16_t* count, \
                                   int32_t* address, void* data, int16_t* status) {      \
        NetworkCall(APC_##name, channel, equipment, count, address, data, status);       \
    }

APC_NETWORK(readpackbit)
APC_NETWORK(readpackibit)
APC_NETWORK(readpackqbit)
APC_NETWORK(readbyte)
APC_NETWORK(readibyte)
APC_NETWORK(readqbyte)
APC_NETWORK(readpackbyte)
APC_NETWORK(readpackibyte)
APC_NETWORK(readpackqbyte)
APC_NETWORK(readword)
APC_NETWORK(readiword)
APC_NETWORK(readqword)
APC_NETWORK(readwordbcd)
APC_NETWORK(readdword)
APC_NETWORK(readfword)
APC_NETWORK(readtimer)
APC_NETWORK(readcounter)
APC_NETWORK(writepackbit)
APC_NETWORK(writepackqbit)
APC_NETWORK(writebyte)
APC_NETWORK(writeqbyte)
APC_NETWORK(writepackbyte)
APC_NETWORK(writepackqbyte)
APC_NETWORK(writeword)
APC_NETWORK(writeqword)
APC_NETWORK(writewordbcd)
APC_NETWORK(writedword)
APC_NETWORK(writefword)
APC_NETWORK(writetimer)
APC_NETWORK(writecounter)

#undef APC_NETWORK

// The 16 quick bits of the equipment, quick bit i as bit i of the first word.
QUN_EXPORT void QUN_CDECL readquickbit(int16_t* channel, int16_t* equipment, void* data,
                                       int16_t* status) {
    const int32_t args[] = {Arg(channel), Arg(equipment)};
    EquipmentCall(APC_readquickbit, args, 2, args[0], args[1], 0, kQuickBits,
                  FormatBytes(Format::kPackedBits, kQuickBits), data, status);
}

// ---- Database routines ------------------------------------------------------------

#define APC_DATABASE(name)                                                                \
    QUN_EXPORT void QUN_CDECL name(int16_t* cardNumber, int16_t* count, int32_t* address, \
                                   void* data, int16_t* status) {                         \
        DatabaseCall(APC_##name, cardNumber, count, address, data, status);               \
    }

APC_DATABASE(getpackbit)
APC_DATABASE(getpackbyte)
APC_DATABASE(getword)
APC_DATABASE(getdword)
APC_DATABASE(getfword)
APC_DATABASE(setpackbit)
APC_DATABASE(setbit)
APC_DATABASE(setpackbyte)
APC_DATABASE(setword)
APC_DATABASE(setdword)
APC_DATABASE(setfword)

#undef APC_DATABASE
