// The simulated card's memory: the areas of every equipment, the internal
// databases of the cards, and the control functions that reach them directly.
#include <cstring>

#include "standins/applicom/simulated_card.h"

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
const uint32_t* FindArea(Card& card, int32_t channel, int32_t equipment, int32_t area) {
    auto found = card.memory.find(MemoryKey(channel, equipment, area));
    return found == card.memory.end() ? nullptr : found->second.data();
}

uint32_t* MakeArea(Card& card, int32_t channel, int32_t equipment, int32_t area) {
    std::vector<uint32_t>& elements = card.memory[MemoryKey(channel, equipment, area)];
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

void Put16(uint8_t* out, uint32_t value) {
    out[0] = static_cast<uint8_t>(value);
    out[1] = static_cast<uint8_t>(value >> 8);
}
void Put32(uint8_t* out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}
uint32_t Get16(const uint8_t* in) { return in[0] | (static_cast<uint32_t>(in[1]) << 8); }
uint32_t Get32(const uint8_t* in) {
    return in[0] | (static_cast<uint32_t>(in[1]) << 8) | (static_cast<uint32_t>(in[2]) << 16) |
           (static_cast<uint32_t>(in[3]) << 24);
}

// BCD word to binary; false when a nibble is above 9.
bool FromBcd(uint32_t word, uint32_t* value) {
    uint32_t result = 0;
    for (int shift = 12; shift >= 0; shift -= 4) {
        const uint32_t digit = (word >> shift) & 0xF;
        if (digit > 9) return false;
        result = result * 10 + digit;
    }
    *value = result;
    return true;
}

uint32_t ToBcd(uint32_t value) {
    uint32_t word = 0;
    for (int shift = 0; shift < 16; shift += 4) {
        word |= (value % 10) << shift;
        value /= 10;
    }
    return word;
}

}  // namespace

int32_t FormatBytes(Format format, int32_t elements) {
    switch (format) {
        case Format::kPackedBits:
            return (elements + 7) / 8;
        case Format::kPackedBytes:
            return elements;
        case Format::kBytes16:
        case Format::kWords:
        case Format::kBcdWords:
            return 2 * elements;
        case Format::kDwords:
            return 4 * elements;
        case Format::kNone:
            break;
    }
    return 0;
}

int32_t AreaElements(int32_t area) { return kAreas[area].elements; }
int32_t AreaBits(int32_t area) { return kAreas[area].bits; }

int16_t CheckChannel(const Card& card, int32_t channel) {
    if (channel < 0 || channel >= kChannelCount) return kStatusNoCard;
    if ((card.installed & (1u << (channel / kChannelsPerCard))) == 0) return kStatusNoCard;
    return kStatusOk;
}

int16_t CheckCardNumber(const Card& card, int32_t cardNumber) {
    if (cardNumber < 1 || cardNumber > kCardCount) return kStatusNoCard;
    if ((card.installed & (1u << (cardNumber - 1))) == 0) return kStatusNoCard;
    return kStatusOk;
}

bool AreaRange(int32_t area, Format format, int32_t address, int32_t elements) {
    if (area < 0 || area >= APC_AREA_COUNT || address < 0 || elements < 0) return false;
    int64_t limit = kAreas[area].elements;
    if (IsByteFormat(format)) limit *= 2;
    return static_cast<int64_t>(address) + elements <= limit;
}

bool ReadArea(Card& card, int32_t channel, int32_t equipment, int32_t area, Format format,
              int32_t address, int32_t elements, uint8_t* out) {
    const uint32_t* memory = FindArea(card, channel, equipment, area);
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
            break;
    }
    return false;
}

bool WriteArea(Card& card, int32_t channel, int32_t equipment, int32_t area, Format format,
               int32_t address, int32_t elements, const uint8_t* in) {
    if (format == Format::kBcdWords)
        for (int32_t k = 0; k < elements; ++k)
            if (Get16(in + 2 * k) > 9999) return false;
    uint32_t* memory = MakeArea(card, channel, equipment, area);
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
            break;
    }
    return false;
}

uint32_t GetElement(Card& card, int32_t channel, int32_t equipment, int32_t area, int32_t address) {
    const uint32_t* memory = FindArea(card, channel, equipment, area);
    return memory == nullptr ? 0 : memory[address];
}

void SetElement(Card& card, int32_t channel, int32_t equipment, int32_t area, int32_t address,
                uint32_t value) {
    const int32_t bits = kAreas[area].bits;
    MakeArea(card, channel, equipment, area)[address] =
        bits == 1 ? (value != 0 ? 1u : 0u) : (value & Mask(bits));
}

bool DatabaseRange(Format format, int32_t address, int32_t elements) {
    if (address < 0 || elements < 0) return false;
    const int64_t end = static_cast<int64_t>(address) + elements;
    switch (format) {
        case Format::kPackedBits:
            return end <= kDatabaseBits;
        case Format::kPackedBytes:
            return end <= kDatabaseBytes;
        case Format::kWords:
            return end <= kDatabaseWords;
        case Format::kDwords:
            return address + 2 * static_cast<int64_t>(elements) <= kDatabaseWords;
        default:
            return false;
    }
}

void ReadDatabase(const Database& database, Format format, int32_t address, int32_t elements,
                  uint8_t* out) {
    switch (format) {
        case Format::kPackedBits:
            std::memset(out, 0, static_cast<size_t>(FormatBytes(format, elements)));
            for (int32_t k = 0; k < elements; ++k)
                if (database.bits[address + k] != 0)
                    out[k / 8] |= static_cast<uint8_t>(1u << (k % 8));
            break;
        case Format::kPackedBytes:
            for (int32_t k = 0; k < elements; ++k) {
                const int32_t b = address + k;
                const uint16_t word = database.words[kByteViewFirstWord + b / 2];
                out[k] = static_cast<uint8_t>(b % 2 == 0 ? word : word >> 8);
            }
            break;
        case Format::kWords:
            for (int32_t k = 0; k < elements; ++k) Put16(out + 2 * k, database.words[address + k]);
            break;
        case Format::kDwords:
            for (int32_t k = 0; k < elements; ++k) {
                Put16(out + 4 * k, database.words[address + 2 * k]);
                Put16(out + 4 * k + 2, database.words[address + 2 * k + 1]);
            }
            break;
        default:
            break;
    }
}

void WriteDatabase(Database& database, Format format, int32_t address, int32_t elements,
                   const uint8_t* in) {
    switch (format) {
        case Format::kPackedBits:
            for (int32_t k = 0; k < elements; ++k)
                database.bits[address + k] = static_cast<uint8_t>((in[k / 8] >> (k % 8)) & 1u);
            break;
        case Format::kPackedBytes:
            for (int32_t k = 0; k < elements; ++k) {
                const int32_t b = address + k;
                uint16_t& word = database.words[kByteViewFirstWord + b / 2];
                word = static_cast<uint16_t>(b % 2 == 0 ? ((word & 0xFF00u) | in[k])
                                                        : ((word & 0x00FFu) | (in[k] << 8)));
            }
            break;
        case Format::kWords:
            for (int32_t k = 0; k < elements; ++k)
                database.words[address + k] = static_cast<uint16_t>(Get16(in + 2 * k));
            break;
        case Format::kDwords:
            for (int32_t k = 0; k < elements; ++k) {
                database.words[address + 2 * k] = static_cast<uint16_t>(Get16(in + 4 * k));
                database.words[address + 2 * k + 1] = static_cast<uint16_t>(Get16(in + 4 * k + 2));
            }
            break;
        default:
            break;
    }
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

bool DatabasePokeRange(int32_t card, int32_t address, const void* data, int32_t elements,
                       int32_t size) {
    return card >= 1 && card <= kCardCount && data != nullptr && address >= 0 && elements >= 0 &&
           static_cast<int64_t>(address) + elements <= size;
}

}  // namespace

QUN_EXPORT int32_t ApcPoke(int32_t channel, int32_t equipment, int32_t area, int32_t address,
                           const void* data, int32_t elements) {
    if (!PokeRange(channel, equipment, area, address, data, elements)) return -1;
    Card& card = TheCard();
    std::lock_guard<std::mutex> guard(card.lock);
    const int32_t size = PokeBytes(area);
    const uint8_t* in = static_cast<const uint8_t*>(data);
    for (int32_t k = 0; k < elements; ++k) {
        uint32_t value = 0;
        for (int32_t i = 0; i < size; ++i)
            value |= static_cast<uint32_t>(in[k * size + i]) << (8 * i);
        SetElement(card, channel, equipment, area, address + k, value);
    }
    return 0;
}

QUN_EXPORT int32_t ApcPeek(int32_t channel, int32_t equipment, int32_t area, int32_t address,
                           void* data, int32_t elements) {
    if (!PokeRange(channel, equipment, area, address, data, elements)) return -1;
    Card& card = TheCard();
    std::lock_guard<std::mutex> guard(card.lock);
    const int32_t size = PokeBytes(area);
    uint8_t* out = static_cast<uint8_t*>(data);
    for (int32_t k = 0; k < elements; ++k) {
        const uint32_t value = GetElement(card, channel, equipment, area, address + k);
        for (int32_t i = 0; i < size; ++i)
            out[k * size + i] = static_cast<uint8_t>(value >> (8 * i));
    }
    return 0;
}

QUN_EXPORT int32_t ApcPokeDatabaseBits(int32_t cardNumber, int32_t address, const void* data,
                                       int32_t bits) {
    if (!DatabasePokeRange(cardNumber, address, data, bits, kDatabaseBits)) return -1;
    Card& card = TheCard();
    std::lock_guard<std::mutex> guard(card.lock);
    const uint8_t* in = static_cast<const uint8_t*>(data);
    for (int32_t k = 0; k < bits; ++k)
        card.databases[cardNumber - 1].bits[address + k] = in[k] != 0 ? 1 : 0;
    return 0;
}

QUN_EXPORT int32_t ApcPeekDatabaseBits(int32_t cardNumber, int32_t address, void* data,
                                       int32_t bits) {
    if (!DatabasePokeRange(cardNumber, address, data, bits, kDatabaseBits)) return -1;
    Card& card = TheCard();
    std::lock_guard<std::mutex> guard(card.lock);
    std::memcpy(data, &card.databases[cardNumber - 1].bits[address], static_cast<size_t>(bits));
    return 0;
}

QUN_EXPORT int32_t ApcPokeDatabaseWords(int32_t cardNumber, int32_t address, const void* data,
                                        int32_t words) {
    if (!DatabasePokeRange(cardNumber, address, data, words, kDatabaseWords)) return -1;
    Card& card = TheCard();
    std::lock_guard<std::mutex> guard(card.lock);
    WriteDatabase(card.databases[cardNumber - 1], Format::kWords, address, words,
                  static_cast<const uint8_t*>(data));
    return 0;
}

QUN_EXPORT int32_t ApcPeekDatabaseWords(int32_t cardNumber, int32_t address, void* data,
                                        int32_t words) {
    if (!DatabasePokeRange(cardNumber, address, data, words, kDatabaseWords)) return -1;
    Card& card = TheCard();
    std::lock_guard<std::mutex> guard(card.lock);
    ReadDatabase(card.databases[cardNumber - 1], Format::kWords, address, words,
                 static_cast<uint8_t*>(data));
    return 0;
}
