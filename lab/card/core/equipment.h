// The equipment side of a card library: what answers on the field-bus
// channels behind the card core. Each card library links the core and exactly
// one equipment side, which defines TheEquipment(): the simulated card's
// memory and plant (lab/card/simulated/), or Modbus TCP devices (lab/card/softcard/).
//
// The core calls these from the caller's thread or from the card's thread,
// all but InRange without its own lock held, so an equipment side guards its
// own state. It must not call back into the core while it holds a lock of its
// own.
#pragma once

#include <cstdint>

#include "lab/card/core/card_core.h"

namespace apc {

// One cycle of a cyclic function, as the core hands it to the equipment side
// to read on a thread of its own (Equipment::Post). generation tells the
// core, when the answer comes, whether the function is still the one that
// asked.
struct CycleRequest {
    int32_t channel = 0;
    int32_t number = 0;
    uint64_t generation = 0;
    int32_t equipment = 0;
    const RoutineInfo* routine = nullptr;
    int32_t address = 0;
    int32_t count = 0;
};

// The answer to a posted cycle: the status and, on 0, the image in the
// routine's format. Called by the equipment side from its own thread without
// a lock of its own held; the core stores it unless the function was
// stopped, started or redefined meanwhile.
void FinishCycle(const CycleRequest& request, int16_t status, const uint8_t* image);

class Equipment {
public:
    virtual ~Equipment() = default;

    // initbus on a closed card: 0 when the card may open, else the status
    // that initbus answers. May set the installed cards (bit i: card i + 1).
    virtual int16_t Open(uint32_t* installedCards) = 0;
    // exitbus, after the card's thread has ended.
    virtual void Close() = 0;
    // ApcReset: back to power-on.
    virtual void Reset() = 0;

    // Whether count elements from address lie in the equipment's address
    // space for the routine; the core answers 4 when they do not. Called
    // with the core's lock held: it only computes.
    virtual bool InRange(const RoutineInfo& routine, int32_t address, int32_t count) = 0;
    // A network read of count elements from address into out, in the
    // routine's format, or a write from in. The core has checked the channel,
    // the equipment number, the count, the data area and the range. Answers
    // the card status of the call.
    virtual int16_t Read(int32_t channel, int32_t equipment, const RoutineInfo& routine,
                         int32_t address, int32_t count, uint8_t* out) = 0;
    virtual int16_t Write(int32_t channel, int32_t equipment, const RoutineInfo& routine,
                          int32_t address, int32_t count, const uint8_t* in) = 0;

    // A cycle's read, taken to be done on a thread of the equipment side's
    // own so that a slow or silent equipment holds up its own cycles and no
    // others: answers true and later calls FinishCycle once, unless it closes
    // first (the core then forgets the cycle at exitbus). False: the core
    // reads on the card's thread (Read), as an equipment that answers at once
    // may.
    virtual bool Post(const CycleRequest& /*request*/) { return false; }

    // How many calls the journal keeps from power-on until ApcSetJournalLimit
    // says otherwise. Called with the core's lock held: it only answers.
    virtual int32_t JournalLimit() const { return kDefaultJournalLimit; }

    // Work of its own on the card's thread, called on every turn of it:
    // answers when it wants to be called next, Clock::time_point::max() for
    // never. HasOwnWork tells whether the thread must run for it.
    virtual Clock::time_point Tick(Clock::time_point /*now*/) { return Clock::time_point::max(); }
    virtual bool HasOwnWork() { return false; }
};

Equipment& TheEquipment();

}  // namespace apc
