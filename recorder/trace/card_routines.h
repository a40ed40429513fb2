// The card library's 49 routines as a trace sees them: each routine's name,
// the scalar arguments it takes, which way its data area carries data and in
// what format, so that a recorder knows what to copy and a reader what it
// reads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qtrace {

// Which scalar arguments a routine takes, in order.
enum class Arguments : uint8_t {
    kNone,          // initbus, exitbus
    kNetwork,       // channel, equipment, count, address
    kQuickBit,      // channel, equipment
    kDatabase,      // channel (card number), count, address
    kCreateCyclic,  // channel, number, period, one, type code, database kind,
                    // equipment, count, address, database address, minus one
    kCyclic,        // channel, number (startcyc, stopcyc, AppGetCycParam)
    kTransCyclic,   // channel, number; after the call also the two outputs
};

// What the data area carries.
enum class Flow : uint8_t { kNone, kIn, kOut };

// How n elements lie in the data area.
enum class Format : uint8_t {
    kNone,
    kPackedBits,   // eight to a byte
    kBytes16,      // one byte in each 16-bit element
    kPackedBytes,  // one byte each
    kWords,        // 16 bits each
    kDwords,       // 32 bits each
    kQuickBits,    // 16 bits in one word, whatever the count
    kCycParam,     // the 256-byte record
    kCyclicImage,  // as the cyclic function was defined (database kind)
};

struct CardRoutine {
    const char* name;
    Arguments arguments;
    Flow flow;
    Format format;
};

constexpr int kRoutineCount = 49;
extern const CardRoutine kCardRoutines[kRoutineCount];

// Identifiers of the routines whose records the recorder or a reader treats
// specially.
enum : uint8_t {
    kInitbus = 0,
    kExitbus = 1,
    kCreatecyc = 44,
    kTranscycpack = 47,
};

// Number of scalar arguments of a form.
int ArgumentCount(Arguments arguments);

// Bytes that count elements of a format occupy, at most the 1024-byte data
// area; 0 for a count below 1.
uint32_t DataBytes(Format format, int32_t count);

// Bytes of one cyclic function's image as transcycpack delivers it, from the
// database kind and count it was created with (1 bits, 2 bytes, 3 words,
// 4 double words, 5 floats); the whole data area for a kind not known.
uint32_t CyclicImageBytes(int32_t databaseKind, int32_t count);

// The routine's identifier for a name, or -1.
int RoutineByName(const char* name);

// A call as one readable phrase: "readword(channel 0, equipment 1, count 1,
// address 100)". transcycpack's two outputs are left out.
std::string DescribeCall(int routine, const std::vector<int32_t>& arguments);

}  // namespace qtrace
