#include "lab/qunhost/trace_gates.h"

#include <cmath>
#include <cstring>

#include "lab/card/core/data_format.h"
#include "recorder/trace/card_routines.h"

namespace qunhost {

namespace {

using qtrace::Arguments;
using qtrace::Flow;
using qtrace::Format;
using qtrace::kCardRoutines;

// The read routine whose cyclic function a createcyc type code names.
int ReadByCyclicCode(int32_t code) {
    for (const qtrace::CardRoutine& card : kCardRoutines)
        if (code != 0 && card.cyclicCode == code) return card.id;
    return -1;
}

bool Known(int routine) { return routine >= 0 && routine < qtrace::kRoutineCount; }

// The database kind of a cyclic function's float image.
constexpr int16_t kFloatKind = 5;

uint32_t Little(const uint8_t* bytes, int size) {
    uint32_t value = 0;
    for (int i = 0; i < size; ++i) value |= static_cast<uint32_t>(bytes[i]) << (8 * i);
    return value;
}

// Up to count elements of the data, as many as it holds.
void Elements(const std::vector<uint8_t>& data, const ElementFormat& format, int64_t count,
              const GateKey& first, std::vector<GateValue>* values) {
    const int64_t room = format.kind == ElementKind::kBit
                             ? 8 * static_cast<int64_t>(data.size())
                             : static_cast<int64_t>(data.size()) / format.bytes;
    const int64_t n = count < room ? count : room;
    for (int64_t i = 0; i < n; ++i) {
        GateValue v;
        v.key = first;
        v.key.address = first.address + i;
        if (format.kind == ElementKind::kBit) {
            v.value = (data[static_cast<size_t>(i / 8)] >> (i % 8)) & 1;
        } else {
            const uint32_t raw = Little(&data[static_cast<size_t>(i * format.bytes)], format.bytes);
            if (format.kind == ElementKind::kFloat) {
                float f;
                std::memcpy(&f, &raw, sizeof f);
                v.number = std::isfinite(f);
                v.value = v.number ? f : 0;
            } else if (format.kind == ElementKind::kBcd) {
                uint32_t decimal = 0;
                v.number = apc::FromBcd(raw, &decimal);
                v.value = decimal;
            } else {
                v.value = raw;
            }
        }
        values->push_back(v);
    }
}

}  // namespace

int AreaOf(int routine) {
    if (!Known(routine)) return -1;
    const qtrace::CardRoutine& card = kCardRoutines[routine];
    const bool moves = card.arguments == Arguments::kNetwork ||
                       card.arguments == Arguments::kQuickBit ||
                       card.arguments == Arguments::kDatabase;
    if (!moves) return -1;
    if (card.flow == Flow::kOut) return routine;
    // A write routine's area is that of the read of the same name; MB bits
    // are written one by one with setbit and read packed.
    const std::string name = card.name;
    if (routine == qtrace::routine::setbit) return qtrace::routine::getpackbit;
    if (name.compare(0, 5, "write") == 0)
        return qtrace::RoutineByName(("read" + name.substr(5)).c_str());
    if (name.compare(0, 3, "set") == 0)
        return qtrace::RoutineByName(("get" + name.substr(3)).c_str());
    return -1;
}

std::string AreaName(int area) {
    if (!Known(area)) return "?";
    const std::string name = kCardRoutines[area].name;
    if (name.compare(0, 4, "read") == 0) return name.substr(4);
    if (name.compare(0, 3, "get") == 0) return name.substr(3);
    return name;
}

ElementFormat FormatOf(int area) {
    ElementFormat format;
    if (!Known(area)) return format;
    switch (kCardRoutines[area].format) {
        case Format::kPackedBits:
        case Format::kQuickBits:
            format.kind = ElementKind::kBit;
            break;
        case Format::kPackedBytes:
            format.bytes = 1;
            break;
        case Format::kBytes16:
        case Format::kWords:
            format.bytes = 2;
            break;
        case Format::kBcdWords:
            format.kind = ElementKind::kBcd;
            format.bytes = 2;
            break;
        case Format::kDwords: {
            // Double words and floats travel alike; an area holds floats when
            // a cyclic function of its network read keeps them as floats
            // (the card's database areas are named as the network's).
            format.bytes = 4;
            const int network = qtrace::RoutineByName(("read" + AreaName(area)).c_str());
            if (network >= 0 && kCardRoutines[network].databaseKind == kFloatKind)
                format.kind = ElementKind::kFloat;
            break;
        }
        default:
            format.bytes = 1;
    }
    return format;
}

void GateDecoder::Define(const qtrace::TraceRecord& record) {
    // Beyond what a card has room for, a trace is forged: it need not grow the map.
    constexpr size_t kMostCyclicFunctions = 1u << 16;
    const std::vector<int32_t>& a = record.arguments;
    if (record.status != 0 || a.size() < 9) return;
    const std::pair<int64_t, int64_t> id(a[0], a[1]);
    if (cyclic_.size() >= kMostCyclicFunctions && cyclic_.count(id) == 0) return;
    cyclic_[id] = Cyclic{ReadByCyclicCode(a[4]), a[6], a[7], a[8]};
}

bool GateDecoder::Decode(const qtrace::TraceRecord& record, std::vector<GateValue>* values,
                         bool* write) {
    values->clear();
    *write = false;
    if (record.kind != qtrace::kCallRecord || !Known(record.routine)) return false;
    const qtrace::CardRoutine& card = kCardRoutines[record.routine];
    const std::vector<int32_t>& a = record.arguments;
    if (card.arguments == Arguments::kCreateCyclic) {
        Define(record);
        return false;
    }
    GateKey first;
    int64_t count = 0;
    if (card.arguments == Arguments::kTransCyclic) {
        if (record.status != 0 || a.size() < 2) return false;
        const auto found = cyclic_.find({a[0], a[1]});
        if (found == cyclic_.end() || !Known(found->second.area)) {
            ++undefinedImages_;
            return false;
        }
        first.channel = a[0];
        first.equipment = found->second.equipment;
        first.area = found->second.area;
        first.address = found->second.address;
        count = found->second.count;
    } else {
        first.area = AreaOf(record.routine);
        if (first.area < 0) return false;
        *write = card.flow == Flow::kIn;
        if (!*write && record.status != 0) return false;
        if (card.arguments == Arguments::kNetwork && a.size() >= 4) {
            first.channel = a[0];
            first.equipment = a[1];
            count = a[2];
            first.address = a[3];
        } else if (card.arguments == Arguments::kDatabase && a.size() >= 3) {
            first.database = true;
            first.channel = a[0];
            count = a[1];
            first.address = a[2];
        } else if (card.arguments == Arguments::kQuickBit && a.size() >= 2) {
            first.channel = a[0];
            first.equipment = a[1];
            count = 16;
        } else {
            return false;
        }
    }
    Elements(*write ? record.in : record.out, FormatOf(first.area), count, first, values);
    return true;
}

}  // namespace qunhost
