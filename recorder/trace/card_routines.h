// The card library's 49 routines: the one table of what describes the
// library's interface, with each routine's identifier in a card-traffic
// trace. The recorder, the tap, the trace reader and the lab's card core all
// take their facts from it; the driver keeps its own reading of the interface
// (driver/platform/card.h), so that a fault in one is caught by the other.
//
// The identifiers are written into every trace recorded at a plant and never
// change: 0 to 48 in the order the recorder has always written them
// (readquickbit is 19, after the network reads, not where the library's
// documentation lists it). A routine the library gains later takes the next
// free identifier.
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

// How n elements lie in the data area. Words, double words and floats are
// little-endian; floats travel as their bit patterns.
enum class Format : uint8_t {
    kNone,
    kPackedBits,   // eight to a byte, least significant bit first
    kBytes16,      // one byte in each 16-bit element
    kPackedBytes,  // one byte each
    kWords,        // 16 bits each
    kBcdWords,     // 16 bits each: the binary value of a BCD-coded word
    kDwords,       // 32 bits each (double words, floats)
    kQuickBits,    // the 16 quick bits packed into one word, whatever the count
    kCycParam,     // the 256-byte record
    kCyclicImage,  // as the cyclic function was defined (database kind)
};

// The table: trace identifier, name, arguments, flow, format, and for a read
// that a cyclic function can repeat the function's type code and database
// kind (1 bits, 2 bytes, 3 words, 4 double words, 5 floats), else 0, 0.
// QT_CARD_ROUTINES(X) calls X once per routine, in identifier order.
// clang-format off
#define QT_CARD_ROUTINES(X)                                                  \
    /* id  name            arguments      flow   format        code    kind */ \
    X( 0, initbus,         kNone,         kNone, kNone,        0,      0)   \
    X( 1, exitbus,         kNone,         kNone, kNone,        0,      0)   \
    X( 2, readpackbit,     kNetwork,      kOut,  kPackedBits,  0x1003, 1)   \
    X( 3, readpackibit,    kNetwork,      kOut,  kPackedBits,  0x1004, 1)   \
    X( 4, readpackqbit,    kNetwork,      kOut,  kPackedBits,  0x105A, 1)   \
    X( 5, readbyte,        kNetwork,      kOut,  kBytes16,     0x105F, 2)   \
    X( 6, readibyte,       kNetwork,      kOut,  kBytes16,     0x1069, 2)   \
    X( 7, readqbyte,       kNetwork,      kOut,  kBytes16,     0x106B, 2)   \
    X( 8, readpackbyte,    kNetwork,      kOut,  kPackedBytes, 0x105E, 2)   \
    X( 9, readpackibyte,   kNetwork,      kOut,  kPackedBytes, 0x1068, 2)   \
    X(10, readpackqbyte,   kNetwork,      kOut,  kPackedBytes, 0x106A, 2)   \
    X(11, readword,        kNetwork,      kOut,  kWords,       0x1005, 3)   \
    X(12, readiword,       kNetwork,      kOut,  kWords,       0x1006, 3)   \
    X(13, readqword,       kNetwork,      kOut,  kWords,       0x1065, 3)   \
    X(14, readwordbcd,     kNetwork,      kOut,  kBcdWords,    0x1062, 3)   \
    X(15, readdword,       kNetwork,      kOut,  kDwords,      0x1007, 4)   \
    X(16, readfword,       kNetwork,      kOut,  kDwords,      0x1008, 5)   \
    X(17, readtimer,       kNetwork,      kOut,  kWords,       0,      0)   \
    X(18, readcounter,     kNetwork,      kOut,  kWords,       0,      0)   \
    X(19, readquickbit,    kQuickBit,     kOut,  kQuickBits,   0x100D, 1)   \
    X(20, writepackbit,    kNetwork,      kIn,   kPackedBits,  0,      0)   \
    X(21, writepackqbit,   kNetwork,      kIn,   kPackedBits,  0,      0)   \
    X(22, writebyte,       kNetwork,      kIn,   kBytes16,     0,      0)   \
    X(23, writeqbyte,      kNetwork,      kIn,   kBytes16,     0,      0)   \
    X(24, writepackbyte,   kNetwork,      kIn,   kPackedBytes, 0,      0)   \
    X(25, writepackqbyte,  kNetwork,      kIn,   kPackedBytes, 0,      0)   \
    X(26, writeword,       kNetwork,      kIn,   kWords,       0,      0)   \
    X(27, writeqword,      kNetwork,      kIn,   kWords,       0,      0)   \
    X(28, writewordbcd,    kNetwork,      kIn,   kBcdWords,    0,      0)   \
    X(29, writedword,      kNetwork,      kIn,   kDwords,      0,      0)   \
    X(30, writefword,      kNetwork,      kIn,   kDwords,      0,      0)   \
    X(31, writetimer,      kNetwork,      kIn,   kWords,       0,      0)   \
    X(32, writecounter,    kNetwork,      kIn,   kWords,       0,      0)   \
    X(33, getpackbit,      kDatabase,     kOut,  kPackedBits,  0,      0)   \
    X(34, getpackbyte,     kDatabase,     kOut,  kPackedBytes, 0,      0)   \
    X(35, getword,         kDatabase,     kOut,  kWords,       0,      0)   \
    X(36, getdword,        kDatabase,     kOut,  kDwords,      0,      0)   \
    X(37, getfword,        kDatabase,     kOut,  kDwords,      0,      0)   \
    X(38, setpackbit,      kDatabase,     kIn,   kPackedBits,  0,      0)   \
    X(39, setbit,          kDatabase,     kIn,   kPackedBits,  0,      0)   \
    X(40, setpackbyte,     kDatabase,     kIn,   kPackedBytes, 0,      0)   \
    X(41, setword,         kDatabase,     kIn,   kWords,       0,      0)   \
    X(42, setdword,        kDatabase,     kIn,   kDwords,      0,      0)   \
    X(43, setfword,        kDatabase,     kIn,   kDwords,      0,      0)   \
    X(44, createcyc,       kCreateCyclic, kNone, kNone,        0,      0)   \
    X(45, startcyc,        kCyclic,       kNone, kNone,        0,      0)   \
    X(46, stopcyc,         kCyclic,       kNone, kNone,        0,      0)   \
    X(47, transcycpack,    kTransCyclic,  kOut,  kCyclicImage, 0,      0)   \
    X(48, AppGetCycParam,  kCyclic,       kOut,  kCycParam,    0,      0)
// clang-format on

struct CardRoutine {
    uint8_t id;
    const char* name;
    Arguments arguments;
    Flow flow;
    Format format;
    int16_t cyclicCode;    // 0: no cyclic function repeats this routine
    int16_t databaseKind;  // of that cyclic function's image
};

// The identifiers by name: qtrace::routine::readword.
namespace routine {
#define QT_ROUTINE_ID(id, name, ...) name = id,
enum Id : uint8_t { QT_CARD_ROUTINES(QT_ROUTINE_ID) };
#undef QT_ROUTINE_ID
}  // namespace routine

#define QT_ROUTINE_ROW(id, name, arguments, flow, format, code, kind) \
    {id, #name, Arguments::arguments, Flow::flow, Format::format, code, kind},
inline constexpr CardRoutine kCardRoutines[] = {QT_CARD_ROUTINES(QT_ROUTINE_ROW)};
#undef QT_ROUTINE_ROW

constexpr int kRoutineCount = sizeof kCardRoutines / sizeof kCardRoutines[0];
static_assert(kRoutineCount == 49, "the library has 49 routines");

// A row's place in the table is its identifier, so that kCardRoutines[id]
// describes routine id.
constexpr bool RowsInIdentifierOrder() {
    for (int i = 0; i < kRoutineCount; ++i)
        if (kCardRoutines[i].id != i) return false;
    return true;
}
static_assert(RowsInIdentifierOrder(), "the table lists the routines in identifier order");

// Number of scalar arguments of a form.
constexpr int ArgumentCount(Arguments arguments) {
    switch (arguments) {
        case Arguments::kNone:
            return 0;
        case Arguments::kQuickBit:
        case Arguments::kCyclic:
            return 2;
        case Arguments::kDatabase:
            return 3;
        case Arguments::kNetwork:
        case Arguments::kTransCyclic:
            return 4;
        case Arguments::kCreateCyclic:
            return 11;
    }
    return 0;
}

// Whether routine id takes these arguments (and carries its data this way):
// for the libraries that implement the routines, to check at compile time
// that each routine was given the right form.
constexpr bool Takes(int id, Arguments arguments) {
    return id >= 0 && id < kRoutineCount && kCardRoutines[id].arguments == arguments;
}
constexpr bool Takes(int id, Arguments arguments, Flow flow) {
    return Takes(id, arguments) && kCardRoutines[id].flow == flow;
}

// Bytes that count elements of a format occupy, at most the 1024-byte data
// area; 0 for a count below 1.
uint32_t DataBytes(Format format, int32_t count);

// Bytes of one cyclic function's image as transcycpack delivers it, from the
// type code, database kind and count it was created with: count elements of
// the format of the read that the type code repeats (the card's own rule:
// byte kinds are packed for PBY, PIBY and PQBY, one to a 16-bit element for
// BY, IBY and QBY); for a type code not in the table, by the database kind
// at its widest; the whole data area for a kind not known either.
uint32_t CyclicImageBytes(int32_t typeCode, int32_t databaseKind, int32_t count);

// The routine's identifier for a name, or -1.
int RoutineByName(const char* name);

// A call as one readable phrase: "readword(channel 0, equipment 1, count 1,
// address 100)". transcycpack's two outputs are left out.
std::string DescribeCall(int routine, const std::vector<int32_t>& arguments);

}  // namespace qtrace
