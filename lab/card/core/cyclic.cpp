// Cyclic functions: created by createcyc, they read a block of an equipment
// by themselves, on the card's own thread, into an area of the card's
// database; transcycpack delivers that image.
//
// * A created function runs at once and then every period (100 ms units;
//   period 0 every millisecond). A function whose cycles the equipment side
//   reads on its own threads keeps a place of its own in its period after
//   the first cycle (so its second cycle may come sooner than a period):
//   functions created together do not all poll at once. createcyc on an
//   existing number redefines it; type code 0 removes it.
// * Its database area: BIT kind n bits; BYTE kind the bytes of n elements in
//   the byte view (two per element for the BY types, the byte and 0); 16BIT
//   kind n words; 32BIT and FLOAT kinds 2n words, low word first. The image
//   travels in the format of the type's network read.
// * transcycpack answers 35 until the first cycle has run and -6 while the
//   function is stopped (or does not exist). Whatever the database routines
//   write into the area shows in transcycpack until the next cycle.
// * A cycle reads the equipment without the card's lock: on the card's
//   thread, or on a thread of the equipment side when it takes the read
//   (Equipment::Post), so that a slow equipment delays its own functions
//   only. A function waits for its cycle's answer before its next cycle.
//   When the read fails, the image stays and transcycpack answers the
//   read's status until a cycle succeeds again. A cycle whose function was
//   stopped, started or redefined while it read stores nothing.
// * Stopping keeps the image; starting runs a cycle at once.
// * In manual mode (ApcSetCyclicManual) functions run only on ApcCyclicStep.
// * AppGetCycParam fills the 256-byte record, 32-bit little-endian fields:
//   0 channel, 4 type code, 8 number, 12 equipment, 16 size (elements),
//   20 start address, 24 database address, 28 period, 32 database kind,
//   36 and 44 the fourth and eleventh createcyc arguments, 40 state (1 running,
//   0 stopped), 48 cycles run, 52 1 once a cycle has run; the rest 0.
#include <cmath>
#include <cstring>
#include <system_error>
#include <thread>

#include "lab/card/core/card_core.h"
#include "lab/card/core/equipment.h"

namespace apc {
namespace {

// Where the image of a function lies in the database, as a database format
// and element count.
void ImageLayout(const RoutineInfo& read, int32_t databaseKind, int32_t count, Format* format,
                 int32_t* elements) {
    switch (databaseKind) {
        case 1:
            *format = Format::kPackedBits;
            *elements = count;
            break;
        case 2:
            *format = Format::kPackedBytes;
            *elements = FormatBytes(read.format, count);
            break;
        case 3:
            *format = Format::kWords;
            *elements = count;
            break;
        default:
            *format = Format::kDwords;
            *elements = count;
            break;
    }
}

Database& DatabaseOfChannel(Card& card, int32_t channel) {
    return card.databases[channel / kChannelsPerCard];
}

Clock::duration PeriodOf(const CyclicFunction& function) {
    if (function.period <= 0) return std::chrono::milliseconds(1);
    return std::chrono::milliseconds(100) * function.period;
}

// The first moment after now at the function's own place in its period.
// The places of a channel's functions are spread evenly over the period
// (by the golden ratio), so that functions created or started together do
// not all poll at the same moment, every period, as one burst of requests
// that the equipment side's threads would wait out together.
Clock::time_point NextPlace(Clock::time_point now, Clock::duration period, int32_t channel,
                            int32_t number) {
    const double share = std::fmod((channel * kCyclicPerChannel + number) * 0.6180339887, 1.0);
    const auto offset = std::chrono::duration_cast<Clock::duration>(period * share);
    const auto periods = (now.time_since_epoch() - offset) / period + 1;
    return Clock::time_point(offset + periods * period);
}

void Put32(uint8_t* record, int32_t offset, int32_t value) {
    const uint32_t bits = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i) record[offset + i] = static_cast<uint8_t>(bits >> (8 * i));
}

// Wakes the card's thread to look at its work again; the caller holds the lock.
void WakeLocked(Card& card) {
    card.wakeRequested = true;
    card.wake.notify_all();
}

// Stores what a cycle read into the function's database area, unless the
// function was stopped, started or redefined since the cycle began. The
// caller holds the lock.
void StoreCycle(Card& card, const CycleRequest& request, int16_t status, const uint8_t* image) {
    CyclicFunction& present = card.cyclic[request.channel][request.number];
    if (present.posted == request.generation) present.posted = 0;
    if (!present.defined || !present.running || present.generation != request.generation) return;
    present.lastStatus = status;
    if (status != kStatusOk) return;  // the image stays
    Format format;
    int32_t elements;
    ImageLayout(*present.read, present.databaseKind, present.count, &format, &elements);
    WriteDatabase(DatabaseOfChannel(card, request.channel), format, present.databaseAddress,
                  elements, image);
    present.hasRun = true;
    ++present.cycles;
}

// One cycle of function (channel, number): its equipment block into its
// database area. The equipment side may take the read to a thread of its own
// (Post), and the function then waits for its answer; otherwise, and always
// when here is true, the equipment side reads now, with the lock in lock
// released meanwhile.
void RunCycle(Card& card, std::unique_lock<std::mutex>& lock, int32_t channel, int32_t number,
              bool here) {
    CyclicFunction& function = card.cyclic[channel][number];
    const CycleRequest request{
        channel,       number,           function.generation, function.equipment,
        function.read, function.address, function.count};
    // Marked before the equipment side has it: its answer may come first.
    function.posted = function.generation;
    const Clock::time_point dispatched = Clock::now();
    uint8_t image[kDataAreaBytes];
    lock.unlock();
    Equipment& side = TheEquipment();
    const bool posted = !here && side.Post(request);
    int16_t status = kStatusOk;
    if (!posted)
        status = side.Read(channel, request.equipment, *request.routine, request.address,
                           request.count, image);
    lock.lock();
    CyclicFunction& present = card.cyclic[channel][number];
    if (!posted)
        StoreCycle(card, request, status, image);
    else if (present.generation == request.generation)
        present.due = NextPlace(dispatched, PeriodOf(present), channel, number);
}

// Whether the function waits for its next cycle: defined, running, and no
// cycle of it still read by the equipment side.
bool Waiting(const CyclicFunction& function) {
    return function.defined && function.running && function.posted != function.generation;
}

// The card's thread: the equipment side's own work, and the cyclic functions
// when due, until exitbus ends it.
void CardThreadMain() {
    Card& card = TheCard();
    std::unique_lock<std::mutex> lock(card.lock);
    while (!card.threadStop) {
        card.wakeRequested = false;
        lock.unlock();
        Clock::time_point next = TheEquipment().Tick(Clock::now());
        lock.lock();
        const Clock::time_point now = Clock::now();
        for (int32_t channel = 0;
             channel < kChannelCount && !card.manual && !card.threadStop && card.definedCyclic > 0;
             ++channel)
            for (int32_t number = 0; number < kCyclicPerChannel && !card.threadStop; ++number) {
                CyclicFunction& function = card.cyclic[channel][number];
                if (!Waiting(function)) continue;
                if (function.due <= now) {
                    function.due += PeriodOf(function);
                    if (function.due <= now) function.due = now + PeriodOf(function);
                    RunCycle(card, lock, channel, number, false);
                }
                if (Waiting(function) && function.due < next) next = function.due;
            }
        const auto woken = [&card] { return card.threadStop || card.wakeRequested; };
        if (next == Clock::time_point::max())
            card.wake.wait(lock, woken);
        else
            card.wake.wait_until(lock, next, woken);
    }
}

int32_t Arg(const int16_t* value) { return value == nullptr ? -1 : *value; }
int32_t Arg(const int32_t* value) { return value == nullptr ? -1 : *value; }

// The function that (channel, number) names, after the checks every cyclic
// routine makes: 3 for a bad or missing channel, 4 for a number outside 0..255.
CyclicFunction* Find(Card& card, int32_t channel, int32_t number, int16_t* status) {
    *status = CheckChannel(card, channel);
    if (*status != kStatusOk) return nullptr;
    if (number < 0 || number >= kCyclicPerChannel) {
        *status = kStatusBadArgument;
        return nullptr;
    }
    return &card.cyclic[channel][number];
}

}  // namespace

void EnsureCardThread(Card& card) {
    if (card.threadRunning) return;
    try {
        card.thread = std::thread(CardThreadMain);
        card.threadRunning = true;
        PinLibrary();
    } catch (const std::system_error&) {
        // No thread: the card still answers, and ApcCyclicStep still runs cycles.
    }
}

void EndCardThread(Card& card, std::unique_lock<std::mutex>& lock) {
    if (!card.threadRunning || card.threadStop) return;
    lock.unlock();
    const bool ownWork = TheEquipment().HasOwnWork();
    lock.lock();
    if (ownWork || !card.threadRunning || card.threadStop) return;
    card.threadStop = true;
    card.wake.notify_all();
    std::thread thread = std::move(card.thread);
    lock.unlock();
    thread.join();
    lock.lock();
    card.threadRunning = false;
    card.threadStop = false;
}

void WakeCardThread() {
    Card& card = TheCard();
    std::lock_guard<std::mutex> guard(card.lock);
    EnsureCardThread(card);
    WakeLocked(card);
}

void FinishCycle(const CycleRequest& request, int16_t status, const uint8_t* image) {
    Card& card = TheCard();
    std::lock_guard<std::mutex> guard(card.lock);
    StoreCycle(card, request, status, image);
    // The function may be due again, and the thread waits without it.
    WakeLocked(card);
}

void ForgetPostedCycles(Card& card) {
    for (auto& channel : card.cyclic)
        for (CyclicFunction& function : channel) function.posted = 0;
    WakeLocked(card);
}

}  // namespace apc

using namespace apc;

QUN_EXPORT void QUN_CDECL createcyc(int16_t* channel, int16_t* number, int16_t* period,
                                    int16_t* one, int16_t* typeCode, int16_t* databaseKind,
                                    int16_t* equipment, int16_t* count, int32_t* address,
                                    int16_t* databaseAddress, int16_t* minusOne, int16_t* status) {
    const int32_t args[] = {Arg(channel),  Arg(number),          Arg(period),    Arg(one),
                            Arg(typeCode), Arg(databaseKind),    Arg(equipment), Arg(count),
                            Arg(address),  Arg(databaseAddress), Arg(minusOne)};
    // Replayed, the card acts all the same (so that its cyclic functions are
    // those of the recording); the status is the recorded one.
    int16_t recorded = 0;
    const bool replayed = ReplayAnswer(APC_createcyc, args, 11, nullptr, 0, nullptr, &recorded);
    RunCall(APC_createcyc, args, 11, status, nullptr, 0, [&](Card& card, Outcome& outcome) {
        const int32_t ch = args[0], n = args[1], code = args[4], kind = args[5], eq = args[6],
                      elements = args[7], dbAddress = args[9];
        if (ch < 0 || ch >= kChannelCount) {
            outcome.status = kStatusNoCard;
            return;
        }
        // A missing card has no cyclic functions: the driver's clearing scan
        // ends here.
        if (CheckChannel(card, ch) != kStatusOk) {
            outcome.status = kStatusNoCyclic;
            return;
        }
        if (n < 0 || n >= kCyclicPerChannel) {
            outcome.status = kStatusBadArgument;
            return;
        }
        CyclicFunction& function = card.cyclic[ch][n];
        if (code == 0) {
            if (function.defined) --card.definedCyclic;
            function = CyclicFunction{};
            return;
        }
        const RoutineInfo* read = CyclicReadByCode(code);
        bool good = read != nullptr && kind == read->databaseKind && eq >= 0 &&
                    eq < kEquipmentCount && elements >= 1 && args[2] >= 0;
        if (good)
            good = FormatBytes(read->format, elements) <= kDataAreaBytes &&
                   TheEquipment().InRange(*read, args[8], elements);
        if (good) {
            Format format;
            int32_t imageElements;
            ImageLayout(*read, kind, elements, &format, &imageElements);
            good = DatabaseRange(format, dbAddress, imageElements);
        }
        if (!good) {
            outcome.status = kStatusBadArgument;
            return;
        }
        if (!function.defined) ++card.definedCyclic;
        function = CyclicFunction{};
        function.defined = true;
        function.running = true;
        function.period = static_cast<int16_t>(args[2]);
        function.one = static_cast<int16_t>(args[3]);
        function.typeCode = static_cast<int16_t>(code);
        function.databaseKind = static_cast<int16_t>(kind);
        function.equipment = static_cast<int16_t>(eq);
        function.count = static_cast<int16_t>(elements);
        function.address = args[8];
        function.databaseAddress = static_cast<int16_t>(dbAddress);
        function.minusOne = static_cast<int16_t>(args[10]);
        function.generation = ++card.generations;
        function.due = Clock::now();
        function.read = read;
        EnsureCardThread(card);
        WakeLocked(card);
    });
    if (replayed && status != nullptr) *status = recorded;
}

QUN_EXPORT void QUN_CDECL startcyc(int16_t* channel, int16_t* number, int16_t* status) {
    const int32_t args[] = {Arg(channel), Arg(number)};
    // Replayed, the card acts all the same (so that its cyclic functions are
    // those of the recording); the status is the recorded one.
    int16_t recorded = 0;
    const bool replayed = ReplayAnswer(APC_startcyc, args, 2, nullptr, 0, nullptr, &recorded);
    RunCall(APC_startcyc, args, 2, status, nullptr, 0, [&](Card& card, Outcome& outcome) {
        CyclicFunction* function = Find(card, args[0], args[1], &outcome.status);
        if (function == nullptr) return;
        if (!function->defined) {
            outcome.status = kStatusNoCyclic;
            return;
        }
        if (!function->running) {
            function->running = true;
            function->generation = ++card.generations;
            function->due = Clock::now();
            WakeLocked(card);
        }
    });
    if (replayed && status != nullptr) *status = recorded;
}

QUN_EXPORT void QUN_CDECL stopcyc(int16_t* channel, int16_t* number, int16_t* status) {
    const int32_t args[] = {Arg(channel), Arg(number)};
    // Replayed, the card acts all the same (so that its cyclic functions are
    // those of the recording); the status is the recorded one.
    int16_t recorded = 0;
    const bool replayed = ReplayAnswer(APC_stopcyc, args, 2, nullptr, 0, nullptr, &recorded);
    RunCall(APC_stopcyc, args, 2, status, nullptr, 0, [&](Card& card, Outcome& outcome) {
        CyclicFunction* function = Find(card, args[0], args[1], &outcome.status);
        if (function == nullptr) return;
        if (!function->defined) {
            outcome.status = kStatusNoCyclic;
            return;
        }
        function->running = false;
        function->generation = ++card.generations;
    });
    if (replayed && status != nullptr) *status = recorded;
}

// out1 receives the function's element count, out2 the low 15 bits of the
// number of cycles run.
QUN_EXPORT void QUN_CDECL transcycpack(int16_t* channel, int16_t* number, int16_t* out1,
                                       int16_t* out2, void* data, int16_t* status) {
    const int32_t args[] = {Arg(channel), Arg(number)};
    int16_t outputs[2] = {0, 0};
    if (ReplayAnswer(APC_transcycpack, args, 2, nullptr, 0, data, status, outputs)) {
        if (out1 != nullptr) *out1 = outputs[0];
        if (out2 != nullptr) *out2 = outputs[1];
        return;
    }
    RunCall(APC_transcycpack, args, 2, status, nullptr, 0, [&](Card& card, Outcome& outcome) {
        CyclicFunction* function = Find(card, args[0], args[1], &outcome.status);
        if (function == nullptr) return;
        if (!function->defined || !function->running) {
            outcome.status = kStatusInactive;
            return;
        }
        if (function->lastStatus != kStatusOk) {
            outcome.status = function->lastStatus;
            return;
        }
        if (!function->hasRun) {
            outcome.status = kStatusNotReadYet;
            return;
        }
        if (data == nullptr) {
            outcome.status = kStatusBadArgument;
            return;
        }
        if (out1 != nullptr) *out1 = function->count;
        if (out2 != nullptr) *out2 = static_cast<int16_t>(function->cycles & 0x7FFF);
        if (DeliverScripted(card, APC_transcycpack, data, outcome)) return;
        Format format;
        int32_t elements;
        ImageLayout(*function->read, function->databaseKind, function->count, &format, &elements);
        ReadDatabase(DatabaseOfChannel(card, args[0]), format, function->databaseAddress, elements,
                     static_cast<uint8_t*>(data));
        outcome.data = data;
        outcome.size = FormatBytes(function->read->format, function->count);
    });
}

QUN_EXPORT void QUN_CDECL AppGetCycParam(int16_t* channel, int16_t* number, void* record256,
                                         int16_t* status) {
    const int32_t args[] = {Arg(channel), Arg(number)};
    if (ReplayAnswer(APC_AppGetCycParam, args, 2, nullptr, 0, record256, status)) return;
    RunCall(APC_AppGetCycParam, args, 2, status, nullptr, 0, [&](Card& card, Outcome& outcome) {
        uint8_t* record = static_cast<uint8_t*>(record256);
        auto scripted = card.cycParamScripts.find(static_cast<int64_t>(args[0]) * 65536 + args[1]);
        if (scripted != card.cycParamScripts.end()) {
            outcome.status = scripted->second.status;
            if (outcome.status == kStatusOk && record != nullptr) {
                std::memcpy(record, scripted->second.record, kCycParamBytes);
                outcome.data = record;
                outcome.size = kCycParamBytes;
            }
            return;
        }
        CyclicFunction* function = Find(card, args[0], args[1], &outcome.status);
        if (function == nullptr) return;
        if (!function->defined) {
            outcome.status = kStatusNoCyclic;
            return;
        }
        if (record == nullptr) {
            outcome.status = kStatusBadArgument;
            return;
        }
        std::memset(record, 0, kCycParamBytes);
        Put32(record, 0, args[0]);
        Put32(record, 4, function->typeCode);
        Put32(record, 8, args[1]);
        Put32(record, 12, function->equipment);
        Put32(record, 16, function->count);
        Put32(record, 20, function->address);
        Put32(record, 24, function->databaseAddress);
        Put32(record, 28, function->period);
        Put32(record, 32, function->databaseKind);
        Put32(record, 36, function->one);
        Put32(record, 40, function->running ? 1 : 0);
        Put32(record, 44, function->minusOne);
        Put32(record, 48, static_cast<int32_t>(function->cycles));
        Put32(record, 52, function->hasRun ? 1 : 0);
        outcome.data = record;
        outcome.size = kCycParamBytes;
    });
}

// ---- Control ----------------------------------------------------------------------

QUN_EXPORT int32_t ApcCyclicState(int32_t channel, int32_t number) {
    if (channel < 0 || channel >= kChannelCount || number < 0 || number >= kCyclicPerChannel)
        return -1;
    Card& card = TheCard();
    std::lock_guard<std::mutex> guard(card.lock);
    const CyclicFunction& function = card.cyclic[channel][number];
    if (!function.defined) return -1;
    return function.running ? 1 : 0;
}

QUN_EXPORT void ApcSetCyclicManual(int32_t manual) {
    Card& card = TheCard();
    std::lock_guard<std::mutex> guard(card.lock);
    card.manual = manual != 0;
    const Clock::time_point now = Clock::now();
    for (auto& channel : card.cyclic)
        for (CyclicFunction& function : channel) function.due = now;
    WakeLocked(card);
}

QUN_EXPORT void ApcCyclicStep(void) {
    Card& card = TheCard();
    std::unique_lock<std::mutex> lock(card.lock);
    for (int32_t channel = 0; channel < kChannelCount; ++channel)
        for (int32_t number = 0; number < kCyclicPerChannel; ++number) {
            const CyclicFunction& function = card.cyclic[channel][number];
            if (function.defined && function.running) RunCycle(card, lock, channel, number, true);
        }
}
