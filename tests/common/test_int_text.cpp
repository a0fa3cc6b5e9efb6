#include <gtest/gtest.h>

#include "common/int_text.h"

TEST(ReadInteger, DecimalWithBlanksAndSign) {
    EXPECT_EQ(read_integer("42"), 42);
    EXPECT_EQ(read_integer("  -17"), -17);
    EXPECT_EQ(read_integer("\t+8"), 8);
    EXPECT_EQ(read_integer("007"), 7);
    EXPECT_EQ(read_integer("0"), 0);
}

TEST(ReadInteger, HexadecimalPrefixes) {
    EXPECT_EQ(read_integer("$FF"), 255);
    EXPECT_EQ(read_integer("x1f"), 31);
    EXPECT_EQ(read_integer("X10"), 16);
    EXPECT_EQ(read_integer("0x10"), 16);
    EXPECT_EQ(read_integer("0XaB"), 171);
    EXPECT_EQ(read_integer("-$10"), -16);
    EXPECT_EQ(read_integer("$7FFFFFFF"), 2147483647);
}

TEST(ReadInteger, NotAnIntegerIsDistinctFromZero) {
    for (const char* text : {"", " ", "-", "+", "$", "0x", "abc", "12a", "1 ", "1.5", "--1", "0x-1",
                             "１", "2147483648", "-2147483649", "$80000000", "99999999999999999999"}) {
        EXPECT_FALSE(read_integer(text).has_value()) << '"' << text << '"';
    }
    EXPECT_EQ(read_integer("2147483647"), 2147483647);
    EXPECT_EQ(read_integer("-2147483648"), INT32_MIN);
    EXPECT_EQ(read_integer_or("abc", 100), 100);
    EXPECT_EQ(read_integer_or("0", 100), 0);
}
