// The simulated card's memory: the areas of every equipment, and the control
// functions that reach them directly.
#include <cstring>

#include "lab/card/core/data_format.h"
#include "lab/card/simulated/simulated_card.h"

namespace apc {
namespace {

// Width and size of each area of ApcArea.
struct AreaInfo {
    int32_t bits;
    int32_t elements;
};
constexpr AreaInfo kAreas[APC_AREA_COUNT] = {
    {1, kAreaElements},  {1, kAreaElements},  {1, kAreaElements},  {16, kAreaElements},
    {16, kAreaElements}, {16, kAreaElements}, {32, kAreaElements}, {32, kAreaElements},
    {16, kAreaElements}, {16, kAreaElements}, {1, kQuickBits},
};

uint32_t MemoryKey(int32_t channel, int32_t equipment, int32_t area) {
    return (static_cast<uint32_t>(channel) * kEquipmentCount + static_cast<uint32_t>(equipment)) *
               APC_AREA_COUNT +
           static_cast<uint32_t>(area);
}

// The area's elements, or null when nothing was ever stored there.
const uint32_t* FindArea(Plant& plant, int32_t channel, int32_t equipment, int32_t area) {
    auto found = plant.memory.find(MemoryKey(channel, equipment, area));
    return found == plant.memory.end() ? nullptr : found->second.data();
}

uint32_t* MakeArea(Plant& plant, int32_t channel, int32_t equipment, int32_t area) {
    std::vector<uint32_t>& elements = plant.memory[MemoryKey(channel, equipment, area)];
    if (elements.empty()) elements.assign(static_cast<size_t>(kAreas[area].elements), 0);
    return elements.data();
}

uint32_t Mask(int32_t bits) { return bits >= 32 ? 0xFFFFFFFFu : (1u << bits) - 1u; }

bool IsByteFormat(Format format) {
    return format == Format::kBytes16 || format == Format::kPackedBytes;
}

// Byte b of a word memory: the low byte of word b/2 for even b.
uint8_t ByteOf(const uint32_t* words, int32_t b) {
    if (words == nullptr) return 0;
    const uint32_t word = words[b / 2];
    return static_cast<uint8_t>((b % 2 == 0) ? word : word >> 8);
}

void SetByteOf(uint32_t* words, int32_t b, uint8_t value) {
    uint32_t& word = words[b / 2];
    word = (b % 2 == 0) ? ((word & 0xFF00u) | value) : ((word & 0x00FFu) | (value << 8));
}

}  // namespace

int32_t AreaElements(int32_t area) { return kAreas[area].elements; }
int32_t AreaBits(int32_t area) { return kAreas[area].bits; }

bool AreaRange(int32_t area, Format format, int32_t address, int32_t elements) {
    if (area < 0 || area >= APC_AREA_COUNT || address < 0 || elements < 0) return false;
    int64_t limit = kAreas[area].elements;
    if (IsByteFormat(format)) limit *= 2;
    return static_cast<int64_t>(address) + elements <= limit;
}

bool ReadArea(Plant& plant, int32_t channel, int32_t equipment, int32_t area, Format format,
              int32_t address, int32_t elements, uint8_t* out) {
    const uint32_t* memory = FindArea(plant, channel, equipment, area);
    auto element = [memory](int32_t i) { return memory == nullptr ? 0u : memory[i]; };
    switch (format) {
        case Format::kPackedBits:
            std::memset(out, 0, static_cast<size_t>(FormatBytes(format, elements)));
            for (int32_t k = 0; k < elements; ++k)
                if (element(address + k) != 0) out[k / 8] |= static_cast<uint8_t>(1u << (k % 8));
            return true;
        case Format::kBytes16:
            for (int32_t k = 0; k < elements; ++k) Put16(out + 2 * k, ByteOf(memory, address + k));
            return true;
        case Format::kPackedBytes:
            for (int32_t k = 0; k < elements; ++k) out[k] = ByteOf(memory, address + k);
            return true;
        case Format::kWords:
            for (int32_t k = 0; k < elements; ++k) Put16(out + 2 * k, element(address + k));
            return true;
        case Format::kBcdWords: {
            uint32_t values[kDataAreaBytes / 2];
            for (int32_t k = 0; k < elements; ++k)
                if (!FromBcd(element(address + k), &values[k])) return false;
            for (int32_t k = 0; k < elements; ++k) Put16(out + 2 * k, values[k]);
            return true;
        }
        case Format::kDwords:
            for (int32_t k = 0; k < elements; ++k) Put32(out + 4 * k, element(address + k));
            return true;
        case Format::kNone:
        case Format::kQuickBits:
        case Format::kCycParam:
        case Format::kCyclicImage:
            break;
    }
    return false;
}

bool WriteArea(Plant& plant, int32_t channel, int32_t equipment, int32_t area, Format format,
               int32_t address, int32_t elements, const uint8_t* in) {
    if (format == Format::kBcdWords)
        for (int32_t k = 0; k < elements; ++k)
            if (Get16(in + 2 * k) > kMostBcdValue) return false;
    uint32_t* memory = MakeArea(plant, channel, equipment, area);
    const uint32_t mask = Mask(kAreas[area].bits);
    switch (format) {
        case Format::kPackedBits:
            for (int32_t k = 0; k < elements; ++k)
                memory[address + k] = (in[k / 8] >> (k % 8)) & 1u;
            return true;
        case Format::kBytes16:
            for (int32_t k = 0; k < elements; ++k) SetByteOf(memory, address + k, in[2 * k]);
            return true;
        case Format::kPackedBytes:
            for (int32_t k = 0; k < elements; ++k) SetByteOf(memory, address + k, in[k]);
            return true;
        case Format::kWords:
            for (int32_t k = 0; k < elements; ++k) memory[address + k] = Get16(in + 2 * k) & mask;
            return true;
        case Format::kBcdWords:
            for (int32_t k = 0; k < elements; ++k) memory[address + k] = ToBcd(Get16(in + 2 * k));
            return true;
        case Format::kDwords:
            for (int32_t k = 0; k < elements; ++k) memory[address + k] = Get32(in + 4 * k) & mask;
            return true;
        case Format::kNone:
        case Format::kQuickBits:
        case Format::kCycParam:
        case Format::kCyclicImage:
            break;
    }
    return false;
}

uint32_t GetElement(Plant& plant, int32_t channel, int32_t equipment, int32_t area,
                    int32_t address) {
    const uint32_t* memory = FindArea(plant, channel, equipment, area);
    return memory == nullptr ? 0 : memory[address];
}

void SetElement(Plant& plant, int32_t channel, int32_t equipment, int32_t area, int32_t address,
                uint32_t value) {
    const int32_t bits = kAreas[area].bits;
    MakeArea(plant, channel, equipment, area)[address] =
        bits == 1 ? (value != 0 ? 1u : 0u) : (value & Mask(bits));
}

}  // namespace apc

using namespace apc;

namespace {

// Element size of ApcPoke/ApcPeek: one byte per bit, else the element's width.
int32_t PokeBytes(int32_t area) {
    const int32_t bits = AreaBits(area);
    return bits == 1 ? 1 : bits / 8;
}

bool PokeRange(int32_t channel, int32_t equipment, int32_t area, int32_t address, const void* data,
               int32_t elements) {
    return channel >= 0 && channel < kChannelCount && equipment >= 0 &&
           equipment < kEquipmentCount && area >= 0 && area < APC_AREA_COUNT && data != nullptr &&
           elements >= 0 && address >= 0 &&
           static_cast<int64_t>(address) + elements <= AreaElements(area);
}

}  // namespace

QUN_EXPORT int32_t ApcPoke(int32_t channel, int32_t equipment, int32_t area, int32_t address,
                           const void* data, int32_t elements) {
    if (!PokeRange(channel, equipment, area, address, data, elements)) return -1;
    Plant& plant = ThePlant();
    std::lock_guard<std::mutex> guard(plant.lock);
    const int32_t size = PokeBytes(area);
    const uint8_t* in = static_cast<const uint8_t*>(data);
    for (int32_t k = 0; k < elements; ++k) {
        uint32_t value = 0;
        for (int32_t i = 0; i < size; ++i)
            value |= static_cast<uint32_t>(in[k * size + i]) << (8 * i);
        SetElement(plant, channel, equipment, area, address + k, value);
    }
    return 0;
}

QUN_EXPORT int32_t ApcPeek(int32_t channel, int32_t equipment, int32_t area, int32_t address,
                           void* data, int32_t elements) {
    if (!PokeRange(channel, equipment, area, address, data, elements)) return -1;
    Plant& plant = ThePlant();
    std::lock_guard<std::mutex> guard(plant.lock);
    const int32_t size = PokeBytes(area);
    uint8_t* out = static_cast<uint8_t*>(data);
    for (int32_t k = 0; k < elements; ++k) {
        const uint32_t value = GetElement(plant, channel, equipment, area, address + k);
        for (int32_t i = 0; i < size; ++i)
            out[k * size + i] = static_cast<uint8_t>(value >> (8 * i));
    }
    return 0;
}
