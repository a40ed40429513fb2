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

    // Work of its own on the card's thread, called on every turn of it:
    // answers when it wants to be called next, Clock::time_point::max() for
    // never. HasOwnWork tells whether the thread must run for it.
    virtual Clock::time_point Tick(Clock::time_point /*now*/) { return Clock::time_point::max(); }
    virtual bool HasOwnWork() { return false; }
};

Equipment& TheEquipment();

}  // namespace apc
