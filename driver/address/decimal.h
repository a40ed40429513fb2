// Decimal number conversion for address strings and the initialisation file.
//
// Takes what the C library's "%u" and "%d" take: leading white space, an
// optional sign and decimal digits, with no hexadecimal or octal form. Unlike
// the C library, a value that does not fit 32 bits is reported instead of
// giving an undefined result.
#pragma once

#include <cstdint>

enum class DecimalStatus : uint8_t {
    Ok,        // value holds the number
    NoNumber,  // no digit where the number must be
    TooLarge,  // digits present, but the value does not fit 32 bits
};

struct Decimal {
    DecimalStatus status;
    uint32_t value;   // Ok: the number (a negative one as its 32-bit two's complement)
    const char* end;  // the first character not taken (NoNumber: the text as given)
};

namespace decimal_detail {

inline bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Magnitude limits for the two signs; the digits are still all taken when the
// limit is passed, so the caller's scan goes on after the whole number.
inline Decimal Read(const char* text, uint32_t width, uint32_t positiveLimit,
                    uint32_t negativeLimit) {
    const char* p = text;
    while (IsSpace(*p)) ++p;
    // The width counts the sign and the digits, not the blanks skipped.
    uint32_t left = width == 0 ? 0xFFFFFFFFu : width;
    bool negative = false;
    if (left > 0 && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
        --left;
    }
    if (left == 0 || !IsDigit(*p)) return Decimal{DecimalStatus::NoNumber, 0, text};
    const uint32_t limit = negative ? negativeLimit : positiveLimit;
    uint64_t magnitude = 0;
    bool tooLarge = false;
    for (; left > 0 && IsDigit(*p); ++p, --left) {
        if (!tooLarge) {
            magnitude = magnitude * 10 + static_cast<uint32_t>(*p - '0');
            tooLarge = magnitude > limit;
        }
    }
    if (tooLarge) return Decimal{DecimalStatus::TooLarge, 0, p};
    uint32_t value = static_cast<uint32_t>(magnitude);
    if (negative) value = 0u - value;
    return Decimal{DecimalStatus::Ok, value, p};
}

}  // namespace decimal_detail

// As "%u" (or "%Nu" with width N, 0 meaning no width): a negative number
// wraps to 2^32 minus its magnitude, so it fails every upper range check.
// A value above 4294967295, or below -2147483648, is TooLarge: any other
// negative would wrap to a small number and pass a range check.
inline Decimal ReadUnsigned(const char* text, uint32_t width = 0) {
    return decimal_detail::Read(text, width, 0xFFFFFFFFu, 0x80000000u);
}

// As "%d": a value outside -2147483648 to 2147483647 is TooLarge.
inline Decimal ReadSigned(const char* text) {
    return decimal_detail::Read(text, 0, 0x7FFFFFFFu, 0x80000000u);
}

// The Ok value of ReadSigned as a signed number.
inline int32_t SignedValue(const Decimal& number) { return static_cast<int32_t>(number.value); }
