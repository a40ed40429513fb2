// The card routines that the driver imports: opening and closing the library,
// the network reads and writes, the quick bits and the database routines.
// The cyclic-function routines are in cyclic.cpp.
//
// A network routine is checked and journalled under the card's lock, and its
// exchange with the equipment side runs without it.
#include <chrono>
#include <cstring>
#include <thread>

#include "lab/card/core/card_core.h"
#include "lab/card/core/equipment.h"

namespace apc {

namespace {

// The equipment area each field-bus routine serves: the card's own fact
// about a routine; everything else comes from the routine table.
struct Served {
    ApcRoutine routine;
    ApcArea area;
};
constexpr Served kServed[] = {
    {APC_readpackbit, APC_AREA_BIT},
    {APC_readpackibit, APC_AREA_INPUT_BIT},
    {APC_readpackqbit, APC_AREA_OUTPUT_BIT},
    {APC_readbyte, APC_AREA_WORD},
    {APC_readibyte, APC_AREA_INPUT_WORD},
    {APC_readqbyte, APC_AREA_OUTPUT_WORD},
    {APC_readpackbyte, APC_AREA_WORD},
    {APC_readpackibyte, APC_AREA_INPUT_WORD},
    {APC_readpackqbyte, APC_AREA_OUTPUT_WORD},
    {APC_readword, APC_AREA_WORD},
    {APC_readiword, APC_AREA_INPUT_WORD},
    {APC_readqword, APC_AREA_OUTPUT_WORD},
    {APC_readwordbcd, APC_AREA_WORD},
    {APC_readdword, APC_AREA_DWORD},
    {APC_readfword, APC_AREA_FLOAT},
    {APC_readtimer, APC_AREA_TIMER},
    {APC_readcounter, APC_AREA_COUNTER},
    {APC_readquickbit, APC_AREA_QUICK_BIT},
    {APC_writepackbit, APC_AREA_BIT},
    {APC_writepackqbit, APC_AREA_OUTPUT_BIT},
    {APC_writebyte, APC_AREA_WORD},
    {APC_writeqbyte, APC_AREA_OUTPUT_WORD},
    {APC_writepackbyte, APC_AREA_WORD},
    {APC_writepackqbyte, APC_AREA_OUTPUT_WORD},
    {APC_writeword, APC_AREA_WORD},
    {APC_writeqword, APC_AREA_OUTPUT_WORD},
    {APC_writewordbcd, APC_AREA_WORD},
    {APC_writedword, APC_AREA_DWORD},
    {APC_writefword, APC_AREA_FLOAT},
    {APC_writetimer, APC_AREA_TIMER},
    {APC_writecounter, APC_AREA_COUNTER},
};

constexpr Form FormOf(const qtrace::CardRoutine& routine) {
    const bool in = routine.flow == qtrace::Flow::kIn;
    switch (routine.arguments) {
        case qtrace::Arguments::kNone:
            return Form::kBus;
        case qtrace::Arguments::kNetwork:
            return in ? Form::kNetworkWrite : Form::kNetworkRead;
        case qtrace::Arguments::kQuickBit:
            return Form::kQuickBit;
        case qtrace::Arguments::kDatabase:
            return in ? Form::kDatabaseSet : Form::kDatabaseGet;
        default:
            return Form::kCyclic;
    }
}

constexpr int32_t AreaOf(int32_t routine) {
    for (const Served& served : kServed)
        if (served.routine == routine) return served.area;
    return -1;
}

constexpr std::array<RoutineInfo, APC_ROUTINE_COUNT> MakeRoutines() {
    std::array<RoutineInfo, APC_ROUTINE_COUNT> routines{};
    for (int32_t id = 0; id < APC_ROUTINE_COUNT; ++id) {
        const qtrace::CardRoutine& routine = qtrace::kCardRoutines[id];
        const Format format =
            routine.format == Format::kQuickBits ? Format::kPackedBits : routine.format;
        routines[id] = {routine.name, FormOf(routine),    AreaOf(id),
                        format,       routine.cyclicCode, routine.databaseKind};
    }
    return routines;
}

// Every routine of the field bus serves exactly one area, and no other
// routine serves one.
constexpr bool AreasComplete() {
    for (int32_t id = 0; id < APC_ROUTINE_COUNT; ++id) {
        const Form form = FormOf(qtrace::kCardRoutines[id]);
        const bool fieldBus =
            form == Form::kNetworkRead || form == Form::kNetworkWrite || form == Form::kQuickBit;
        int servings = 0;
        for (const Served& served : kServed) servings += served.routine == id ? 1 : 0;
        if (servings != (fieldBus ? 1 : 0)) return false;
    }
    return true;
}
static_assert(AreasComplete(), "each routine of the field bus serves one equipment area");

}  // namespace

const std::array<RoutineInfo, APC_ROUTINE_COUNT> kRoutines = MakeRoutines();

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
    static_assert(qtrace::Takes(APC_##name, qtrace::Arguments::kNetwork),                \
                  #name " has another form in the routine table");                       \
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
static_assert(qtrace::Takes(APC_readquickbit, qtrace::Arguments::kQuickBit),
              "readquickbit has another form in the routine table");
QUN_EXPORT void QUN_CDECL readquickbit(int16_t* channel, int16_t* equipment, void* data,
                                       int16_t* status) {
    const int32_t args[] = {Arg(channel), Arg(equipment)};
    EquipmentCall(APC_readquickbit, args, 2, args[0], args[1], 0, kQuickBits,
                  FormatBytes(Format::kPackedBits, kQuickBits), data, status);
}

// ---- Database routines ------------------------------------------------------------

#define APC_DATABASE(name)                                                                \
    static_assert(qtrace::Takes(APC_##name, qtrace::Arguments::kDatabase),                \
                  #name " has another form in the routine table");                        \
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
