// The decimal conversion that the address parser and the initialisation file share.
#include "driver/address/decimal.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

struct Case {
    const char* text;
    uint32_t width;
    DecimalStatus status;
    uint32_t value;
    int taken;  // characters consumed (NoNumber: 0)
};

TEST(DecimalTest, UnsignedTakesWhatPercentUTakes) {
    const Case cases[] = {
        {"0", 0, DecimalStatus::Ok, 0, 1},
        {"100_", 0, DecimalStatus::Ok, 100, 3},
        {"  \t42x", 0, DecimalStatus::Ok, 42, 5},
        {"+7", 0, DecimalStatus::Ok, 7, 2},
        {"-1", 0, DecimalStatus::Ok, 0xFFFFFFFFu, 2},
        {"-5_", 0, DecimalStatus::Ok, 0xFFFFFFFBu, 2},
        {"-0", 0, DecimalStatus::Ok, 0, 2},
        {"0x1F", 0, DecimalStatus::Ok, 0, 1},
        {"007", 0, DecimalStatus::Ok, 7, 3},
        {"4294967295", 0, DecimalStatus::Ok, 0xFFFFFFFFu, 10},
        {"4294967296", 0, DecimalStatus::TooLarge, 0, 10},
        {"99999999999999999999999_1", 0, DecimalStatus::TooLarge, 0, 23},
        {"-2147483648", 0, DecimalStatus::Ok, 0x80000000u, 11},
        // Any further negative would wrap to a small value and pass range checks.
        {"-2147483649", 0, DecimalStatus::TooLarge, 0, 11},
        {"-4294967295", 0, DecimalStatus::TooLarge, 0, 11},
        {"", 0, DecimalStatus::NoNumber, 0, 0},
        {"   ", 0, DecimalStatus::NoNumber, 0, 0},
        {"X1", 0, DecimalStatus::NoNumber, 0, 0},
        {"-", 0, DecimalStatus::NoNumber, 0, 0},
        {"+_1", 0, DecimalStatus::NoNumber, 0, 0},
        {"--1", 0, DecimalStatus::NoNumber, 0, 0},
        {"_1", 0, DecimalStatus::NoNumber, 0, 0},
        // Field widths count the sign and digits, not the blanks skipped.
        {"12345", 3, DecimalStatus::Ok, 123, 3},
        {"  12345", 3, DecimalStatus::Ok, 123, 5},
        {"112", 2, DecimalStatus::Ok, 11, 2},
        {"-12", 3, DecimalStatus::Ok, 0u - 12u, 3},
        {"-123", 3, DecimalStatus::Ok, 0u - 12u, 3},
        {"-1", 1, DecimalStatus::NoNumber, 0, 0},
        {"5", 3, DecimalStatus::Ok, 5, 1},
    };
    for (const Case& c : cases) {
        const Decimal d = ReadUnsigned(c.text, c.width);
        EXPECT_EQ(d.status, c.status) << '"' << c.text << "\" width " << c.width;
        if (c.status == DecimalStatus::Ok) {
            EXPECT_EQ(d.value, c.value) << c.text;
        }
        EXPECT_EQ(d.end - c.text, c.taken) << c.text;
    }
}

TEST(DecimalTest, SignedTakesWhatPercentDTakes) {
    const struct {
        const char* text;
        DecimalStatus status;
        int32_t value;
    } cases[] = {
        {"10", DecimalStatus::Ok, 10},
        {" -1", DecimalStatus::Ok, -1},
        {"300", DecimalStatus::Ok, 300},
        {"2147483647", DecimalStatus::Ok, 2147483647},
        {"2147483648", DecimalStatus::TooLarge, 0},
        {"-2147483648", DecimalStatus::Ok, INT32_MIN},
        {"-2147483649", DecimalStatus::TooLarge, 0},
        {"ten", DecimalStatus::NoNumber, 0},
    };
    for (const auto& c : cases) {
        const Decimal d = ReadSigned(c.text);
        EXPECT_EQ(d.status, c.status) << c.text;
        if (c.status == DecimalStatus::Ok) {
            EXPECT_EQ(SignedValue(d), c.value) << c.text;
        }
    }
}

TEST(DecimalTest, StopsAtTheTerminatorOfAShortBuffer) {
    // A width larger than the text must not run past the terminator.
    char text[3] = {'1', '2', '\0'};
    const Decimal d = ReadUnsigned(text, 3);
    EXPECT_EQ(d.status, DecimalStatus::Ok);
    EXPECT_EQ(d.value, 12u);
    EXPECT_EQ(d.end, text + 2);
}

}  // namespace
