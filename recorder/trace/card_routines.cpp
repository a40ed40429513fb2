#include "recorder/trace/card_routines.h"

#include <algorithm>
#include <cstring>

namespace qtrace {

namespace {

constexpr uint32_t kDataArea = 1024;

const char* const kNetworkNames[] = {"channel", "equipment", "count", "address"};
const char* const kQuickBitNames[] = {"channel", "equipment"};
const char* const kDatabaseNames[] = {"card", "count", "address"};
const char* const kCreateNames[] = {"channel", "number",     "period",    "one",
                                    "type",    "kind",       "equipment", "count",
                                    "address", "db address", "minus one"};
const char* const kCyclicNames[] = {"channel", "number"};
const char* const kTransNames[] = {"channel", "number", "out", "out"};

const char* const* ArgumentNames(Arguments arguments) {
    switch (arguments) {
        case Arguments::kNetwork:
            return kNetworkNames;
        case Arguments::kQuickBit:
            return kQuickBitNames;
        case Arguments::kDatabase:
            return kDatabaseNames;
        case Arguments::kCreateCyclic:
            return kCreateNames;
        case Arguments::kCyclic:
            return kCyclicNames;
        case Arguments::kTransCyclic:
            return kTransNames;
        case Arguments::kNone:
            break;
    }
    return nullptr;
}

}  // namespace

uint32_t DataBytes(Format format, int32_t count) {
    if (format == Format::kCycParam) return 256;
    if (format == Format::kQuickBits) return 2;
    if (count < 1) return 0;
    const uint32_t n =
        static_cast<uint32_t>(count) > kDataArea ? kDataArea + 1 : static_cast<uint32_t>(count);
    uint32_t bytes = 0;
    switch (format) {
        case Format::kPackedBits:
            bytes = (n + 7) / 8;
            break;
        case Format::kPackedBytes:
            bytes = n;
            break;
        case Format::kBytes16:
        case Format::kWords:
        case Format::kBcdWords:
            bytes = 2 * n;
            break;
        case Format::kDwords:
            bytes = 4 * n;
            break;
        default:
            bytes = 0;
    }
    return bytes < kDataArea ? bytes : kDataArea;
}

uint32_t CyclicImageBytes(int32_t typeCode, int32_t databaseKind, int32_t count) {
    for (const CardRoutine& routine : kCardRoutines)
        if (typeCode != 0 && routine.cyclicCode == typeCode)
            return DataBytes(routine.format, count);
    switch (databaseKind) {
        case 1:
            return DataBytes(Format::kPackedBits, count);
        case 2:  // bytes travel either packed or one to a 16-bit element
        case 3:
            return DataBytes(Format::kWords, count);
        case 4:
        case 5:
            return DataBytes(Format::kDwords, count);
        default:
            return kDataArea;
    }
}

int RoutineByName(const char* name) {
    for (int i = 0; i < kRoutineCount; ++i)
        if (std::strcmp(kCardRoutines[i].name, name) == 0) return i;
    return -1;
}

std::string DescribeCall(int routine, const std::vector<int32_t>& arguments) {
    if (routine < 0 || routine >= kRoutineCount)
        return "routine " + std::to_string(routine) + "(?)";
    const qtrace::CardRoutine& card = kCardRoutines[routine];
    const char* const* names = ArgumentNames(card.arguments);
    std::string text = std::string(card.name) + "(";
    const size_t count = std::min<size_t>(arguments.size(), qtrace::ArgumentCount(card.arguments));
    for (size_t i = 0; i < count; ++i) {
        // transcycpack's two outputs are answers, not part of the question.
        if (card.arguments == Arguments::kTransCyclic && i >= 2) break;
        text += (i == 0 ? "" : ", ") + std::string(names != nullptr ? names[i] : "?") + " " +
                std::to_string(arguments[i]);
    }
    return text + ")";
}

}  // namespace qtrace
