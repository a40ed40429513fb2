// The cards' internal databases, the channel and card checks, and the control
// functions that reach the databases directly.
#include <cstring>

#include "lab/card/core/card_core.h"
#include "lab/card/core/data_format.h"

namespace apc {

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
        case Format::kQuickBits:
        case Format::kCycParam:
        case Format::kCyclicImage:
            break;
    }
    return 0;
}

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

bool DatabasePokeRange(int32_t card, int32_t address, const void* data, int32_t elements,
                       int32_t size) {
    return card >= 1 && card <= kCardCount && data != nullptr && address >= 0 && elements >= 0 &&
           static_cast<int64_t>(address) + elements <= size;
}

}  // namespace

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
