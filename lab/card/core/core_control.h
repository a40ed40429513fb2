// Control functions of the card core, exported by every card library built
// on it (the simulated card and the software card).
//
// The driver never calls these. Tests and the host program use them to script
// what the card answers, to inject faults, to look at the journal of every
// call the driver made, to step the cyclic functions, to reach the cards'
// databases and to replay a card-traffic trace. The simulated card adds its
// own for its equipment memory and plant (lab/card/simulated/applicom_control.h).
#pragma once

#include <cstdint>

#include "recorder/trace/card_routines.h"

// One identifier per card routine: its identifier in the routine table and
// in a card-traffic trace (APC_readword is qtrace::routine::readword).
#define APC_ROUTINE_ID(id, name, ...) APC_##name = id,
enum ApcRoutine : int32_t {
    QT_CARD_ROUTINES(APC_ROUTINE_ID)  //
    APC_ROUTINE_COUNT = qtrace::kRoutineCount
};
#undef APC_ROUTINE_ID

// One call as the driver made it. args holds the integer arguments in their
// order, data area, out-values and status left out, each widened to 32 bits
// with its sign:
//   network routines     channel, equipment, count, address
//   readquickbit         channel, equipment
//   database routines    channel (card number), count, address
//   createcyc            channel, number, period, one, typeCode, databaseKind,
//                        equipment, count, address, databaseAddress, minusOne
//   startcyc, stopcyc, transcycpack, AppGetCycParam   channel, number
//   initbus, exitbus     (none)
struct ApcCall {
    int32_t routine;  // ApcRoutine
    int32_t argCount;
    int32_t args[11];
    int16_t status;  // the status the routine answered
    int16_t reserved;
    int32_t dataSize;   // bytes of the data area recorded (see ApcJournalData)
    uint32_t threadId;  // the calling thread
    uint32_t sequence;  // 0, 1, 2, ... since the last journal clear
};

extern "C" {

// Name of a routine ("readword"), or "" for an unknown identifier, and back (-1).
const char* ApcRoutineName(int32_t routine);
int32_t ApcRoutineByName(const char* name);

// ---- Journal ----------------------------------------------------------------
int32_t ApcJournalCount(void);
// Copies entry index into *call; 0 on success, -1 when there is no such entry.
int32_t ApcJournalGet(int32_t index, ApcCall* call);
// The data of entry index: for a write or set routine the bytes the driver
// handed over, for a read, get or transcycpack the bytes delivered. Copies at
// most size bytes and returns the number recorded, or -1.
int32_t ApcJournalData(int32_t index, void* buffer, int32_t size);
void ApcJournalClear(void);
// Number of journal entries of one routine.
int32_t ApcJournalCountOf(int32_t routine);
// The journal keeps the newest entries up to this number (200000 after
// ApcReset; the software card's none), dropping the oldest; 0 records
// nothing. Sequence numbers go on counting over dropped entries.
void ApcSetJournalLimit(int32_t entries);

// ---- Script -----------------------------------------------------------------
// The whole card back to power-on: library closed (every routine but initbus
// answers 45), all eight cards installed, databases zero, no cyclic functions,
// scripts and journal empty, and the equipment side back to its own power-on
// (the simulated card's memory zero, the software card's connections closed).
void ApcReset(void);
// The next calls of routine answer these statuses, one per call, in order. A
// scripted non-zero status makes the routine do nothing else; a scripted 0 lets
// it act as usual. After the queue the routine answers as the card would.
void ApcScriptStatus(int32_t routine, const int16_t* statuses, int32_t count);
// The next successful call of a read, get or transcycpack routine delivers
// these bytes at the start of the data area instead of the card's memory.
// Several calls queue several deliveries.
void ApcScriptData(int32_t routine, const void* data, int32_t size);
// From now on AppGetCycParam for (channel, number) answers status and, when
// status is 0, fills the 256-byte record with these bytes.
void ApcScriptCycParam(int32_t channel, int32_t number, const void* record256, int16_t status);
// Bit i set: card i + 1 is installed (channels 4i to 4i + 3). Routines on a
// channel of a missing card answer 3; createcyc answers 46.
void ApcSetInstalledCards(uint32_t mask);

// ---- Equipment areas and databases ------------------------------------------
// The areas of an equipment, as the network routines see them: each
// field-bus routine serves one.
enum ApcArea : int32_t {
    APC_AREA_BIT = 0,      // readpackbit / writepackbit (one bit per address)
    APC_AREA_INPUT_BIT,    // readpackibit
    APC_AREA_OUTPUT_BIT,   // readpackqbit / writepackqbit
    APC_AREA_WORD,         // readword / writeword, readbyte / writebyte, readpackbyte ...
    APC_AREA_INPUT_WORD,   // readiword, readibyte, readpackibyte
    APC_AREA_OUTPUT_WORD,  // readqword / writeqword, readqbyte, readpackqbyte ...
    APC_AREA_DWORD,        // readdword / writedword
    APC_AREA_FLOAT,        // readfword / writefword
    APC_AREA_TIMER,
    APC_AREA_COUNTER,
    APC_AREA_QUICK_BIT,  // readquickbit: 16 bits
    APC_AREA_COUNT
};
// A card's internal database (card 1 to 8): bits one byte each, words two bytes.
int32_t ApcPokeDatabaseBits(int32_t card, int32_t address, const void* data, int32_t bits);
int32_t ApcPeekDatabaseBits(int32_t card, int32_t address, void* data, int32_t bits);
int32_t ApcPokeDatabaseWords(int32_t card, int32_t address, const void* data, int32_t words);
int32_t ApcPeekDatabaseWords(int32_t card, int32_t address, void* data, int32_t words);

// ---- Cyclic functions ---------------------------------------------------------
// State of cyclic function (channel, number): -1 none, 0 defined and stopped,
// 1 running. (Cleared functions — type code 0 — count as none.)
int32_t ApcCyclicState(int32_t channel, int32_t number);

// Cyclic functions run on the card's own thread at their period. In manual
// mode (for deterministic tests) they run only when ApcCyclicStep is called:
// one cycle of every running function.
void ApcSetCyclicManual(int32_t manual);
void ApcCyclicStep(void);

// ---- Fault injection ------------------------------------------------------------
// Every call of every routine but initbus and exitbus fails with probability
// rate, answering one of the given statuses (chosen by a generator seeded
// with seed). rate 0 switches it off.
void ApcSetFailureRate(double rate, uint32_t seed, const int16_t* statuses, int32_t count);
// Each call of routine (-1: every routine) takes this long, like a field bus.
void ApcSetCallDelay(int32_t routine, int32_t microseconds);
// A card reset: every routine answers 45 until the next initbus.
void ApcSimulateReset(void);
// Calls answered with an injected failure since the last reset.
int32_t ApcInjectedFailureCount(void);

// ---- Replay of a card-traffic trace ----------------------------------------------
// From now on every routine answers with the status and data recorded for it
// in the trace at path (a trace of the tap), call by call and thread by
// thread, until the first call that asks something else than the recording;
// from that call on the card answers by itself. 0, or -1 with the reason in
// message (size bytes, always terminated).
int32_t ApcReplayStart(const char* path, char* message, int32_t size);
// Ends the replay. Returns 0 when the run asked exactly what was recorded, 1
// when it departed from the recording; text (size bytes, always terminated)
// gets a description: the calls answered, and where the run departed, with
// the recorded call and the call asked instead.
int32_t ApcReplayFinish(char* text, int32_t size);

}  // extern "C"
