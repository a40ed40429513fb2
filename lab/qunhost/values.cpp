#include "lab/qunhost/values.h"

#include <cctype>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace qunhost {

namespace {

const char* const kGateTypeNames[kGateTypeCount] = {"u16", "s8",  "s16",    "float",
                                                    "u32", "s32", "digital"};

uint16_t Load16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Load32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
void Store16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void Store32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

std::string FloatText(uint32_t bits) {
    float f;
    std::memcpy(&f, &bits, 4);
    char text[48];
    std::snprintf(text, sizeof text, "%.6g", static_cast<double>(f));
    return text;
}

bool IsSigned(int32_t gateType) {
    return gateType == kTypeS8 || gateType == kTypeS16 || gateType == kTypeS32;
}

struct Range {
    int64_t low;
    int64_t high;
};

Range IntegerRange(int32_t bits, bool isSigned) {
    if (isSigned) return {-(int64_t{1} << (bits - 1)), (int64_t{1} << (bits - 1)) - 1};
    return {0, (int64_t{1} << bits) - 1};
}

bool ReadInteger(const std::string& text, Range range, const std::string& what, int64_t* value,
                 std::string* error) {
    if (!ParseInteger(text, value)) {
        *error = "value '" + text + "' is not a whole number";
        return false;
    }
    if (*value < range.low || *value > range.high) {
        *error = "value " + text + " is out of range for " + what + " (" +
                 std::to_string(range.low) + " to " + std::to_string(range.high) + ")";
        return false;
    }
    return true;
}

bool ReadFloat(const std::string& text, uint32_t* bits, std::string* error) {
    double v = 0;
    if (!ParseNumber(text, &v)) {
        *error = "value '" + text + "' is not a number";
        return false;
    }
    if (std::fabs(v) > FLT_MAX) {
        *error = "value " + text + " does not fit a float";
        return false;
    }
    const float f = static_cast<float>(v);
    std::memcpy(bits, &f, 4);
    return true;
}

}  // namespace

const char* GateTypeName(int32_t code) {
    return code >= 0 && code < kGateTypeCount ? kGateTypeNames[code] : "?";
}

bool ParseInteger(const std::string& text, int64_t* value) {
    if (text.empty()) return false;
    size_t i = 0;
    bool negative = false;
    if (text[i] == '-' || text[i] == '+') {
        negative = text[i] == '-';
        ++i;
    }
    int base = 10;
    if (text.size() > i + 2 && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= text.size()) return false;
    uint64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        int digit = -1;
        if (c >= '0' && c <= '9') digit = c - '0';
        if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        if (digit < 0) return false;
        magnitude = magnitude * base + digit;
        if (magnitude > (1ull << 40)) return false;  // far beyond any 32-bit value
    }
    *value = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
    return true;
}

bool ParseNumber(const std::string& text, double* value) {
    if (text.empty()) return false;
    int64_t whole = 0;
    if (ParseInteger(text, &whole)) {
        *value = static_cast<double>(whole);
        return true;
    }
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || errno == ERANGE || !std::isfinite(v)) return false;
    // strtod also reads "inf", "nan" and hexadecimal floats: numbers are plain here.
    for (char c : text)
        if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '+' ||
              c == 'e' || c == 'E'))
            return false;
    *value = v;
    return true;
}

size_t BlockValueBytes(int32_t elementBits, int32_t count) {
    if (elementBits <= 0 || count <= 0) return 0;
    return (static_cast<size_t>(elementBits) * static_cast<size_t>(count) + 7) / 8;
}

std::string FormatSingleValue(const uint8_t* buffer, int32_t gateType) {
    const uint16_t v16 = Load16(buffer + 2);
    const uint32_t v32 = Load32(buffer);
    switch (gateType) {
        case kTypeDigital:
        case kTypeU16:
            return std::to_string(v16);
        case kTypeS8:
        case kTypeS16:
            return std::to_string(static_cast<int16_t>(v16));
        case kTypeFloat:
            return FloatText(v32);
        case kTypeU32:
            return std::to_string(v32);
        case kTypeS32:
            return std::to_string(static_cast<int32_t>(v32));
        default:
            return "?";
    }
}

std::vector<std::string> FormatBlockValues(const uint8_t* buffer, int32_t elementBits,
                                           int32_t count, int32_t gateType) {
    std::vector<std::string> texts;
    const bool isSigned = IsSigned(gateType);
    for (int32_t i = 0; i < count; ++i) {
        switch (elementBits) {
            case 1:
                texts.push_back((buffer[i / 8] >> (i % 8)) & 1 ? "1" : "0");
                break;
            case 8:
                texts.push_back(isSigned ? std::to_string(static_cast<int8_t>(buffer[i]))
                                         : std::to_string(buffer[i]));
                break;
            case 16: {
                const uint16_t v = Load16(buffer + 2 * i);
                texts.push_back(isSigned ? std::to_string(static_cast<int16_t>(v))
                                         : std::to_string(v));
                break;
            }
            case 32: {
                const uint32_t v = Load32(buffer + 4 * i);
                if (gateType == kTypeFloat)
                    texts.push_back(FloatText(v));
                else
                    texts.push_back(isSigned ? std::to_string(static_cast<int32_t>(v))
                                             : std::to_string(v));
                break;
            }
            default:
                texts.push_back("?");
        }
    }
    return texts;
}

bool EncodeSingleValue(const std::string& text, int32_t gateType, uint8_t* buffer,
                       std::string* error) {
    std::memset(buffer, 0, kSingleValueBytes);
    const std::string what = std::string("a ") + GateTypeName(gateType) + " gate";
    int64_t v = 0;
    switch (gateType) {
        case kTypeDigital:
            if (!ReadInteger(text, {0, 1}, what, &v, error)) return false;
            Store16(buffer + 2, static_cast<uint16_t>(v));
            return true;
        case kTypeU16:
        case kTypeS16:
        case kTypeS8: {
            const Range range = gateType == kTypeS8    ? IntegerRange(8, true)
                                : gateType == kTypeS16 ? IntegerRange(16, true)
                                                       : IntegerRange(16, false);
            if (!ReadInteger(text, range, what, &v, error)) return false;
            Store16(buffer + 2, static_cast<uint16_t>(v));
            return true;
        }
        case kTypeFloat: {
            uint32_t bits = 0;
            if (!ReadFloat(text, &bits, error)) return false;
            Store32(buffer, bits);
            return true;
        }
        case kTypeU32:
        case kTypeS32:
            if (!ReadInteger(text, IntegerRange(32, gateType == kTypeS32), what, &v, error))
                return false;
            Store32(buffer, static_cast<uint32_t>(v));
            return true;
        default:
            *error = "unknown gate type " + std::to_string(gateType);
            return false;
    }
}

bool EncodeBlockValues(const std::vector<std::string>& texts, int32_t elementBits, int32_t gateType,
                       uint8_t* buffer, std::string* error) {
    const int32_t count = static_cast<int32_t>(texts.size());
    std::memset(buffer, 0, BlockValueBytes(elementBits, count));
    const bool isSigned = IsSigned(gateType);
    for (int32_t i = 0; i < count; ++i) {
        const std::string& text = texts[i];
        const std::string what = std::to_string(elementBits) + "-bit elements";
        int64_t v = 0;
        std::string message;
        bool ok = true;
        switch (elementBits) {
            case 1:
                ok = ReadInteger(text, {0, 1}, "bit elements", &v, &message);
                if (ok && v) buffer[i / 8] |= static_cast<uint8_t>(1u << (i % 8));
                break;
            case 8:
                ok = ReadInteger(text, IntegerRange(8, isSigned), what, &v, &message);
                if (ok) buffer[i] = static_cast<uint8_t>(v);
                break;
            case 16:
                ok = ReadInteger(text, IntegerRange(16, isSigned), what, &v, &message);
                if (ok) Store16(buffer + 2 * i, static_cast<uint16_t>(v));
                break;
            case 32:
                if (gateType == kTypeFloat) {
                    uint32_t bits = 0;
                    ok = ReadFloat(text, &bits, &message);
                    if (ok) Store32(buffer + 4 * i, bits);
                } else {
                    ok = ReadInteger(text, IntegerRange(32, isSigned), what, &v, &message);
                    if (ok) Store32(buffer + 4 * i, static_cast<uint32_t>(v));
                }
                break;
            default:
                message = "the driver gave the gate " + std::to_string(elementBits) +
                          "-bit elements, which cannot be written";
                ok = false;
        }
        if (!ok) {
            *error = "element " + std::to_string(i + 1) + ": " + message;
            return false;
        }
    }
    return true;
}

}  // namespace qunhost
