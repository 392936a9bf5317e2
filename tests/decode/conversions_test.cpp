#include "decode/conversions.h"
#include "support/run_error.h"

#include <gtest/gtest.h>

TEST(Conversions, ToInt16SubtractsAboveThePositiveRangeOnly) {
    const struct {
        int32_t in, out;
    } cases[] = {{0, 0},
                 {32767, 32767},
                 {32768, -32768},
                 {65535, -1},
                 // No range check: negatives pass, and values above a word only lose 65536 once.
                 {-5, -5},
                 {70000, 4464}};
    for (const auto& c : cases) {
        EXPECT_EQ(ToInt16(c.in), c.out) << c.in;
    }
}

TEST(Conversions, ToUInt32JoinsTwoWordsWithin31BitsOrRaisesOverflow) {
    const struct {
        int32_t high, low;
        bool overflow;
        int32_t out;
    } cases[] = {{0, 0, false, 0},
                 {0, 65535, false, 65535},
                 {1, 0, false, 65536},
                 {2, 3, false, 131075},
                 {32767, 65535, false, 2147483647},
                 // A high word of 32768 or more overflows the product; the last one only the sum.
                 {32768, 0, true, 0},
                 {40000, 1, true, 0},
                 {65535, 65535, true, 0},
                 {32767, 65536, true, 0}};
    for (const auto& c : cases) {
        try {
            EXPECT_EQ(ToUInt32(c.high, c.low), c.out) << c.high << "," << c.low;
            EXPECT_FALSE(c.overflow) << "no overflow for " << c.high << "," << c.low;
        } catch (const RunError& e) {
            EXPECT_TRUE(c.overflow) << c.high << "," << c.low;
            EXPECT_EQ(e.number, 6);
            EXPECT_EQ(e.description, QStringLiteral("Overflow"));
        }
    }
}

TEST(Conversions, ToInt32LooksAtTheHighWordOnlyWhenItIsAllOnes) {
    const struct {
        int32_t high, low, out;
    } cases[] = {{65535, 65535, -1},
                 {65535, 0, -65536},
                 {0, 65535, 65535},
                 // Any other high word is dropped, sign bit or not.
                 {1, 5, 5},
                 {65534, 5, 5},
                 {32768, 7, 7}};
    for (const auto& c : cases) {
        EXPECT_EQ(ToInt32(c.high, c.low), c.out) << c.high << "," << c.low;
    }
}

TEST(Conversions, ToUInt64IsADoubleMostSignificantWordFirst) {
    const struct {
        int32_t r0, r1, r2, r3;
        double out;
    } cases[] = {
        {0, 0, 0, 0, 0.0},
        {0, 0, 1, 0, 65536.0},
        {1, 0, 0, 0, 281474976710656.0},
        {1, 2, 3, 4, 281483566841860.0},
        // 2^64 - 1 does not fit a double: the nearest one is 2^64.
        {65535, 65535, 65535, 65535, 18446744073709551616.0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ToUInt64(c.r0, c.r1, c.r2, c.r3), c.out)
            << c.r0 << "," << c.r1 << "," << c.r2 << "," << c.r3;
    }
}
