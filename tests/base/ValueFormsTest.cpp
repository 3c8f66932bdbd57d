#include "base/ValueForms.h"

#include <gtest/gtest.h>

namespace tarnwick {
namespace {

TEST(Bcd, RecordBytesFollowTheLayout) {
    const TBcd bcd = *BcdFromString("-1234.50");
    EXPECT_EQ(bcd.Precision, 6);
    EXPECT_EQ(bcd.SignSpecialPlaces, 0x80 | 2);
    EXPECT_EQ(bcd.Fraction[0], 0x12);
    EXPECT_EQ(bcd.Fraction[1], 0x34);
    EXPECT_EQ(bcd.Fraction[2], 0x50);
    EXPECT_EQ(bcd.Fraction[3], 0x00);
}

TEST(Bcd, TextRoundTrips) {
    struct Case { const char* in; const char* out; };
    for (const Case& c : {Case{"0", "0"}, Case{"-0.00", "0.00"}, Case{"007", "7"}, Case{".5", "0.5"},
                          Case{"+12.", "12"}, Case{"-1234.50", "-1234.50"},
                          Case{"99999999999999999999999999999999.9999", "99999999999999999999999999999999.9999"}}) {
        const auto bcd = BcdFromString(c.in);
        ASSERT_TRUE(bcd) << c.in;
        EXPECT_EQ(BcdToString(*bcd), c.out) << c.in;
    }
    for (const char* bad : {"", "-", ".", "1.2.3", "1e5", " 1", "12x", "1,5"})
        EXPECT_FALSE(BcdFromString(bad)) << bad;
    EXPECT_FALSE(BcdFromString(std::string(65, '9')));
    const std::string widest = "-" + std::string(60, '9') + "." + std::string(4, '1');
    EXPECT_EQ(BcdToString(*BcdFromString(widest)), widest);
    const std::string finest = "0." + std::string(62, '0') + "1";  // 63 places, the most there are
    EXPECT_EQ(BcdToString(*BcdFromString(finest)), finest);
}

TEST(Bcd, CurrencyAmountsReadAsTheirText) {
    struct Case { std::int64_t units; const char* text; };
    for (const Case& c : {Case{0, "0"}, Case{10000, "1"}, Case{15000, "1.5"}, Case{-5, "-0.0005"},
                          Case{123456789, "12345.6789"}, Case{-120000, "-12"}, Case{100, "0.01"},
                          Case{INT64_MAX, "922337203685477.5807"}, Case{INT64_MIN, "-922337203685477.5808"}}) {
        const TBcd expected = *BcdFromString(c.text);
        EXPECT_TRUE(BcdFromCurrency(c.units) == expected) << c.text;
        EXPECT_EQ(BcdToString(BcdFromCurrency(c.units)), BcdToString(expected)) << c.text;
    }
}

TEST(Bcd, NormalizeRoundsAndRefusesOverflow) {
    EXPECT_EQ(BcdToString(*BcdNormalize(*BcdFromString("2.345"), 18, 2)), "2.35");
    EXPECT_EQ(BcdToString(*BcdNormalize(*BcdFromString("-2.344"), 18, 2)), "-2.34");
    EXPECT_EQ(BcdToString(*BcdNormalize(*BcdFromString("9.995"), 4, 2)), "10.00");
    EXPECT_EQ(BcdToString(*BcdNormalize(*BcdFromString("5"), 18, 4)), "5.0000");
    EXPECT_FALSE(BcdNormalize(*BcdFromString("9.995"), 3, 2));
    EXPECT_EQ(BcdNormalize(*BcdFromString("1.5"), 18, 4)->Precision, 18);
    // A carry through every digit of the widest record, and rounding away from zero below it.
    EXPECT_EQ(BcdToString(*BcdNormalize(*BcdFromString(std::string(63, '9') + ".5"), 64, 0)), "1" + std::string(63, '0'));
    EXPECT_FALSE(BcdNormalize(*BcdFromString(std::string(63, '9') + ".5"), 63, 0));
    EXPECT_EQ(BcdToString(*BcdNormalize(*BcdFromString("-0.00005"), 32, 4)), "-0.0001");
    EXPECT_EQ(BcdToString(*BcdNormalize(*BcdFromString("-0.00004"), 32, 4)), "0.0000");
}

// A record already of the shape asked for comes back exactly as one normalized from elsewhere:
// stray digits past its precision, a zero's sign and the special bit do not survive.
TEST(Bcd, NormalizeOfTheSameShapeEqualsTheLongWay) {
    struct Case { const char* text; int precision, places; };
    for (const Case& c : {Case{"12.34", 9, 2}, Case{"-7.5", 15, 4}, Case{"0", 5, 0}, Case{"123456789.1234", 19, 4},
                          Case{"-0.0000", 10, 4}, Case{"99", 2, 0}}) {
        const TBcd expected = *BcdNormalize(*BcdNormalize(*BcdFromString(c.text), 32, c.places), c.precision, c.places);
        TBcd same = expected;
        EXPECT_TRUE(*BcdNormalize(same, c.precision, c.places) == expected) << c.text;
        // Garbage past the precision and a negative zero, as a foreign buffer may hold them.
        for (int i = c.precision; i < 64; ++i) same.SetDigit(i, 7);
        if (BcdToString(same) == "0") same.SignSpecialPlaces |= TBcd::kSignBit;
        EXPECT_TRUE(*BcdNormalize(same, c.precision, c.places) == expected) << c.text;
        same.SignSpecialPlaces |= 0x40;
        EXPECT_TRUE(*BcdNormalize(same, c.precision, c.places) == expected) << c.text;
    }
}

}  // namespace
}  // namespace tarnwick
