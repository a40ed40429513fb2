// The card core shared by the card libraries: the 49 routines with their
// argument checks and statuses, the cards' internal databases, the cyclic
// functions on the card's own thread, the scripts, injected faults and the
// journal of every call. What answers on the field-bus channels is the
// equipment side (equipment.h): the simulated card's memory in
// lab/card/simulated/, Modbus TCP devices in lab/card/softcard/.
//
// Everything of the core lives in one Card object guarded by one lock. The
// equipment side is called without that lock held, so that a slow field bus
// does not hold up the routines of other channels or the database routines.
//
// Semantics of the core (the user reference):
//
// * Eight cards of four channels (channels 0 to 31, card k holds channels
//   4(k-1) to 4(k-1)+3); each channel reaches equipment 0 to 255.
// * Network addresses count elements: bit i, word i, double word i, byte i.
//   Bits travel packed, eight to a byte, least significant bit first; the
//   unused bits of the last byte are 0. Bytes travel one per element
//   (packbyte routines) or zero-extended as 16-bit elements (byte routines);
//   words as 16-bit and double words and floats as 32-bit little-endian
//   values; readwordbcd and writewordbcd carry the binary value of a BCD word.
//   readquickbit delivers 16 quick bits in the first 16-bit word.
// * Each card has an internal database of 32000 bits and 32000 words. The get
//   and set routines take the card number 1 to 8 as their channel argument.
//   getpackbit/setpackbit/setbit address bits; getword/setword words;
//   getdword/setdword/getfword/setfword address words, two per element (low
//   word first); getpackbyte/setpackbyte use the byte view: byte b lies in
//   word 25000 + b/2, the low byte for even b (bytes 0 to 13999).
// * A read of n elements fills exactly the bytes of n elements (the packed
//   bits: ceil(n/8) bytes) and leaves the rest of the data area alone.
//
// Statuses of the core: 0 success; 3 a channel outside 0 to 31 or on a
// missing card, a card number outside 1 to 8 or of a missing card; 4 a bad
// argument (count below 1, data beyond the 1024-byte data area, equipment
// outside 0 to 255, an address range the equipment side does not have, a
// cyclic number outside 0 to 255, bad createcyc parameters); 35 transcycpack
// before the first cycle; 45 the library is not open (before initbus, after
// exitbus or a simulated reset); 46 createcyc on a missing card, or a cyclic
// function that does not exist (startcyc, stopcyc, AppGetCycParam); -6
// transcycpack on a function that is not running (stopped or not defined).
// The equipment side adds its own statuses to the network routines and to
// the cycles: transcycpack answers the status of the function's last cycle
// while that cycle failed.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "driver/platform/abi.h"
#include "lab/card/core/core_control.h"
#include "recorder/trace/card_routines.h"

namespace apc {

using Clock = std::chrono::steady_clock;

constexpr int32_t kChannelCount = 32;
constexpr int32_t kCardCount = 8;
constexpr int32_t kChannelsPerCard = 4;
constexpr int32_t kEquipmentCount = 256;
constexpr int32_t kCyclicPerChannel = 256;
constexpr int32_t kQuickBits = 16;
constexpr int32_t kDatabaseBits = 32000;
constexpr int32_t kDatabaseWords = 32000;
constexpr int32_t kByteViewFirstWord = 25000;
constexpr int32_t kDatabaseBytes = 2 * (kDatabaseWords - kByteViewFirstWord);
constexpr int32_t kDataAreaBytes = 1024;
constexpr int32_t kCycParamBytes = 256;
constexpr int32_t kDefaultJournalLimit = 200000;

constexpr int16_t kStatusOk = 0;
constexpr int16_t kStatusNoCard = 3;
constexpr int16_t kStatusBadArgument = 4;
constexpr int16_t kStatusNotReadYet = 35;
constexpr int16_t kStatusClosed = 45;
constexpr int16_t kStatusNoCyclic = 46;
constexpr int16_t kStatusInactive = -6;
constexpr int16_t kDefaultInjectedStatus = 70;

// How the elements of a routine travel in the data area: the routine
// table's formats.
using Format = qtrace::Format;

enum class Form {
    kBus,           // initbus, exitbus
    kNetworkRead,   // channel, equipment, count, address, data, status
    kNetworkWrite,  //
    kQuickBit,      // channel, equipment, data, status
    kDatabaseGet,   // card, count, address, data, status
    kDatabaseSet,   //
    kCyclic,        // createcyc ... AppGetCycParam
};

// What the card makes of each routine: its form and format from the routine
// table (the quick bits as 16 packed bits), the equipment area it serves
// (the card's own), and for the reads the code and database kind of the
// cyclic function that repeats the read.
struct RoutineInfo {
    const char* name;
    Form form;
    int32_t area;  // ApcArea, -1 for none
    Format format;
    int16_t cyclicCode;    // 0: no cyclic function reads this way
    int16_t databaseKind;  // 1 BIT, 2 BYTE, 3 16BIT, 4 32BIT, 5 FLOAT
};
extern const std::array<RoutineInfo, APC_ROUTINE_COUNT> kRoutines;

// The network read routine whose cyclic function has this code, or null.
const RoutineInfo* CyclicReadByCode(int32_t code);

// Bytes that n elements of a format occupy in the data area.
int32_t FormatBytes(Format format, int32_t elements);

struct Database {
    std::vector<uint8_t> bits = std::vector<uint8_t>(kDatabaseBits);
    std::vector<uint16_t> words = std::vector<uint16_t>(kDatabaseWords);
};

struct CyclicFunction {
    bool defined = false;
    bool running = false;
    bool hasRun = false;  // at least one cycle since it was created
    int16_t period = 0;   // 100 ms units; 0 as fast as the card can
    int16_t one = 0;
    int16_t typeCode = 0;
    int16_t databaseKind = 0;
    int16_t equipment = 0;
    int16_t count = 0;
    int32_t address = 0;
    int16_t databaseAddress = 0;
    int16_t minusOne = 0;
    int16_t lastStatus = 0;  // of the last cycle: 0, or the equipment's failure
    uint32_t cycles = 0;
    // Changes whenever the function is created, started or stopped: a cycle
    // whose read began before such a change does not store its data.
    uint64_t generation = 0;
    // The generation of a cycle that the equipment side still reads on its
    // own thread, 0 for none: the function waits for it before its next cycle.
    uint64_t posted = 0;
    Clock::time_point due{};
    const RoutineInfo* read = nullptr;
};

struct JournalEntry {
    ApcCall call;
    std::vector<uint8_t> data;
};

struct CycParamScript {
    int16_t status;
    uint8_t record[kCycParamBytes];
};

struct Card {
    std::mutex lock;
    std::condition_variable wake;  // the card thread's

    // The card's own thread: it runs the cyclic functions and the equipment
    // side's own work. It starts when first needed and ends with exitbus
    // unless the equipment side still has work of its own.
    std::thread thread;
    bool threadRunning = false;
    bool threadStop = false;
    bool wakeRequested = false;  // something changed since the thread last looked

    bool open = false;
    uint32_t installed = 0xFF;

    Database databases[kCardCount];
    CyclicFunction cyclic[kChannelCount][kCyclicPerChannel];
    int32_t definedCyclic = 0;
    uint64_t generations = 0;
    bool manual = false;

    std::deque<int16_t> statusScript[APC_ROUTINE_COUNT];
    std::deque<std::vector<uint8_t>> dataScript[APC_ROUTINE_COUNT];
    std::map<int64_t, CycParamScript> cycParamScripts;

    std::deque<JournalEntry> journal;
    uint32_t nextSequence = 0;
    int32_t journalLimit = kDefaultJournalLimit;

    double failureRate = 0;
    std::mt19937 failureRandom;
    std::vector<int16_t> failureStatuses;
    int32_t injectedFailures = 0;
    std::atomic<int32_t> delayMicroseconds[APC_ROUTINE_COUNT] = {};
};

// The one card of the process. It is never destroyed: the card's thread may
// still run while the process ends.
Card& TheCard();

// The core back to power-on; the caller holds the lock.
void ResetLocked(Card& card);

// ---- Databases and checks (database.cpp) -----------------------------------------

// 0 when the channel exists on an installed card, else 3.
int16_t CheckChannel(const Card& card, int32_t channel);
// 0 when the card number is 1 to 8 and the card is installed, else 3.
int16_t CheckCardNumber(const Card& card, int32_t cardNumber);

// A card's database (cardIndex 0 to 7): kPackedBits on bits, kPackedBytes on
// the byte view, kWords on words, kDwords on word pairs.
bool DatabaseRange(Format format, int32_t address, int32_t elements);
void ReadDatabase(const Database& database, Format format, int32_t address, int32_t elements,
                  uint8_t* out);
void WriteDatabase(Database& database, Format format, int32_t address, int32_t elements,
                   const uint8_t* in);

// ---- Calls (routines.cpp) -------------------------------------------------------

// What a call answered and which bytes it moved, for the journal.
struct Outcome {
    int16_t status = kStatusOk;
    const void* data = nullptr;
    int32_t size = 0;
};

// Appends one call to the journal; the caller holds the lock.
void Record(Card& card, int32_t routine, const int32_t* args, int32_t argCount,
            const Outcome& outcome);

// The answer that comes before the routine's own work: a scripted status, 45
// while the library is closed, an injected failure. True when it answered.
bool FrontAnswer(Card& card, int32_t routine, int16_t* status);

// Takes a queued data delivery of the routine into data; true when there was one.
bool DeliverScripted(Card& card, int32_t routine, void* data, Outcome& outcome);

// Sleeps the per-call delay of the routine (without the lock held).
void CallDelay(Card& card, int32_t routine);

// Runs one routine call: delay, front answer, then body(card, outcome) under
// the lock, then the journal. handedOver/handedSize: the bytes a write or set
// routine took from the caller, journalled whatever the status.
template <typename Body>
void RunCall(int32_t routine, const int32_t* args, int32_t argCount, int16_t* status,
             const void* handedOver, int32_t handedSize, Body body) {
    Card& card = TheCard();
    CallDelay(card, routine);
    std::lock_guard<std::mutex> guard(card.lock);
    Outcome outcome;
    if (!FrontAnswer(card, routine, &outcome.status)) body(card, outcome);
    if (handedOver != nullptr) {
        outcome.data = handedOver;
        outcome.size = handedSize;
    }
    Record(card, routine, args, argCount, outcome);
    if (status != nullptr) *status = outcome.status;
}

// ---- Cyclic functions and the card thread (cyclic.cpp) --------------------------

// Starts the card's thread if it does not run yet; the caller holds the lock.
void EnsureCardThread(Card& card);
// Ends the card's thread unless the equipment side still has work of its own.
// The caller holds the lock in lock, which is released while the thread ends.
void EndCardThread(Card& card, std::unique_lock<std::mutex>& lock);
// Starts the card's thread if needed and wakes it: for the equipment side,
// which calls it without the lock when it has new work of its own.
void WakeCardThread();
// Forgets the cycles posted to the equipment side that it dropped when it
// closed, so that the functions run again after the next initbus; the caller
// holds the lock.
void ForgetPostedCycles(Card& card);

// ---- Replay of a card-traffic trace (replay.cpp) -----------------------------------

// While a trace is replayed (ApcReplayStart), answers the call from it: true
// with *status, the data area and transcycpack's two outputs as recorded.
// False when no trace is replayed or the run has departed from it: the card
// then answers by itself. args are the call's inputs in the journal's order;
// in and inBytes what a write hands over.
bool ReplayAnswer(int32_t routine, const int32_t* args, int32_t argCount, const void* in,
                  int32_t inBytes, void* data, int16_t* status, int16_t* outputs = nullptr);

// ---- The system (system.cpp) ----------------------------------------------------

// The calling thread's identifier, as the system numbers threads.
uint32_t CallerThreadId();
// Keeps this library loaded until the process ends (the card thread runs in it).
void PinLibrary();
// The folder of the file this library was loaded from, with a final separator.
std::string LibraryFolder();

}  // namespace apc
