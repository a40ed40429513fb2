// The simulated card's equipment side: the memory of every equipment on the
// channels, and the plant's signals that change it by themselves. The card
// core (lab/card/core/) carries the routines, the databases and the
// cyclic functions.
//
// Semantics of the simulated equipment (the user reference):
//
// * Every (channel, equipment) pair has the areas of ApcArea, 65536 elements
//   each (the quick bits: 16). Network addresses count elements of the area:
//   bit i, word i, double word i. Unused memory reads as zero.
// * setbit takes the same packed layout as setpackbit.
// * Byte routines see the word areas as bytes: byte address b is byte b of the
//   area's word memory, the low byte of word b/2 for even b, the high byte for
//   odd b. readpackbyte delivers one byte per element; readbyte delivers each
//   byte zero-extended as a 16-bit element, and writebyte stores the low byte
//   of each 16-bit element (its high byte is dropped).
// * readwordbcd and writewordbcd use the word area: the equipment holds BCD
//   (0x1234), the routines carry the binary value (1234). Writing a value
//   above 9999, or reading a word that is not BCD, answers status 4; a cycle
//   of a BCD cyclic function that meets such a word keeps its image, and
//   transcycpack answers 4 until a cycle succeeds again.
// * Double words and floats live in areas of their own, 32 bits per element;
//   floats travel as their bit patterns. Timers and counters are 16-bit.
// * readquickbit delivers the equipment's 16 quick bits in the first 16-bit
//   word of the data area (quick bit i is bit i).
// * Input areas (input bits, input words and the bytes of the input words)
//   have no write routine: only ApcPoke and plant signals set them.
#pragma once

#include <cstdint>
#include <mutex>
#include <random>
#include <unordered_map>
#include <vector>

#include "lab/card/core/card_core.h"
#include "lab/card/simulated/applicom_control.h"

namespace apc {

constexpr int32_t kAreaElements = 65536;

struct Signal {
    int32_t channel, equipment, area, address, wave;
    double low, high, periodSeconds;
    Clock::time_point start;
    std::mt19937 random;
    int64_t steps = 0;  // random walk: steps taken
    double value = 0;   // random walk: present value
};

// The equipment memory and the plant, guarded by their own lock.
struct Plant {
    std::mutex lock;
    // Equipment memory by (channel, equipment, area), made on first write.
    std::unordered_map<uint32_t, std::vector<uint32_t>> memory;
    std::vector<Signal> signals;
};

// The one plant of the process, never destroyed (the card's thread may still
// run while the process ends).
Plant& ThePlant();

// ---- Memory (memory.cpp); the caller holds the plant's lock ---------------------

// Whether n elements of the format from address lie inside the area.
bool AreaRange(int32_t area, Format format, int32_t address, int32_t elements);
// The elements of an area read into / written from the data area's layout.
// The range must have been checked. A write answers false (and changes
// nothing) when a value cannot be stored (BCD above 9999); a read when an
// element cannot be converted (a word that is not BCD).
bool ReadArea(Plant& plant, int32_t channel, int32_t equipment, int32_t area, Format format,
              int32_t address, int32_t elements, uint8_t* out);
bool WriteArea(Plant& plant, int32_t channel, int32_t equipment, int32_t area, Format format,
               int32_t address, int32_t elements, const uint8_t* in);
// One element as a plain number (bits 0 or 1, words 16 bits, dwords 32 bits).
uint32_t GetElement(Plant& plant, int32_t channel, int32_t equipment, int32_t area,
                    int32_t address);
void SetElement(Plant& plant, int32_t channel, int32_t equipment, int32_t area, int32_t address,
                uint32_t value);
int32_t AreaElements(int32_t area);
int32_t AreaBits(int32_t area);

// ---- The plant (plant.cpp); the caller holds the plant's lock -------------------

// Writes every plant signal's value for this moment.
void AdvanceSignals(Plant& plant, Clock::time_point now);

}  // namespace apc
