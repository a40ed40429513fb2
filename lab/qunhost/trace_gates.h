// The values of gates in a trace: what each read delivered and each write
// handed over, element by element, decoded as the routine's format says
// (bits, bytes, words, double words, floats, BCD words). A cyclic function's
// image is decoded as the function was created, so a block gate read through
// it shows at the same addresses as a single read of them.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "recorder/trace/trace_reader.h"

namespace qunhost {

// A place in the card's reach that holds one value: an element of an
// equipment's memory area (the area named by its read routine) or of a
// card's database.
struct GateKey {
    bool database = false;
    int64_t channel = 0;  // the card number for the database
    int64_t equipment = -1;
    int area = 0;  // the read routine of the area
    int64_t address = 0;

    bool operator<(const GateKey& other) const {
        return std::tie(database, channel, equipment, area, address) <
               std::tie(other.database, other.channel, other.equipment, other.area, other.address);
    }
};

enum class ElementKind : uint8_t { kBit, kUnsigned, kFloat, kBcd };

// How the elements of a routine's data area are to be read as values.
struct ElementFormat {
    ElementKind kind = ElementKind::kUnsigned;
    uint8_t bytes = 0;  // of one element; 0 for bits
};

struct GateValue {
    GateKey key;
    double value = 0;
    bool number = true;  // false for a float that is not a number
};

// The area's read routine for a read or write routine that moves gate values
// (a write is shown with the reads of what it wrote); -1 for the others.
int AreaOf(int routine);

// Text for an area: "word", "packbit", "fword", ... (the read routine's name
// without "read" or "get").
std::string AreaName(int area);

// The element format of an area's values.
ElementFormat FormatOf(int area);

class GateDecoder {
public:
    // The values a call carries, in element order; a createcyc that succeeded
    // defines the cyclic function whose images later transcycpack calls
    // deliver. Whether the call moved gate values at all; *write tells
    // whether they were written.
    bool Decode(const qtrace::TraceRecord& record, std::vector<GateValue>* values, bool* write);

    // transcycpack images whose cyclic function was created before the
    // trace began (or in a file not given): not decoded.
    uint64_t undefinedImages() const { return undefinedImages_; }

private:
    struct Cyclic {
        int area;
        int64_t equipment;
        int64_t count;
        int64_t address;
    };
    void Define(const qtrace::TraceRecord& record);

    std::map<std::pair<int64_t, int64_t>, Cyclic> cyclic_;  // by channel and number
    uint64_t undefinedImages_ = 0;
};

}  // namespace qunhost
