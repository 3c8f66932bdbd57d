#include "data/clientdataset/DateTimeForms.h"
#include "data/clientdataset/Locale.h"
#include "data/clientdataset/Variant.h"

#include "base/Exception.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace tarnwick {
namespace {

TEST(Locale, GeneralNumberFormat) {
    struct Case { double value; const char* text; bool exponent; };
    const Case cases[] = {
        {0, "0", false},
        {2.5, "2.5", false},
        {-3.75, "-3.75", false},
        {0.1, "0.1", false},
        {1.0 / 3.0, "0.333333333333333", false},
        {123456789012345.0, "123456789012345", false},
        {1e15, "1E15", true},
        {1.5e20, "1.5E20", true},
        {0.00001, "0.00001", false},
        {0.0000015, "1.5E-6", true},
        {-1e-7, "-1E-7", true},
        {100, "100", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(locale::FloatToText(c.value), c.text) << c.value;
        EXPECT_EQ(locale::FloatNeedsExponent(c.value), c.exponent) << c.value;
    }
}

TEST(Locale, CurrencyBooleanAndDateTexts) {
    EXPECT_EQ(locale::CurrencyToText(125000), "12.5");
    EXPECT_EQ(locale::CurrencyToText(-1), "-0.0001");
    EXPECT_EQ(locale::CurrencyToText(std::numeric_limits<std::int64_t>::min()), "-922337203685477.5808");
    EXPECT_EQ(locale::BoolToText(true), "True");
    const TDateTime noon = *EncodeDateTime(2026, 12, 10, 12, 5, 9, 0);
    EXPECT_EQ(locale::DateTimeToText(noon), "2026/12/10 12:05:09");
    EXPECT_EQ(locale::DateTimeToText(*EncodeDateTime(2026, 1, 2, 0, 0, 0, 0)), "2026/01/02");
    EXPECT_EQ(locale::DateToText(noon), "2026/12/10");
    EXPECT_EQ(locale::TimeToText(noon), "12:05:09");
}

TEST(Locale, TextToDateTimeForms) {
    struct Case { const char* text; bool ok; int y, mo, d, h, mi, s, ms; };
    const Case cases[] = {
        {"2026/12/10", true, 2026, 12, 10, 0, 0, 0, 0},
        {" 2026-1-2 08:30 ", true, 2026, 1, 2, 8, 30, 0, 0},
        {"2026/12/10 08:30:15.25", true, 2026, 12, 10, 8, 30, 15, 250},
        // A time alone falls on the zero date.
        {"08:30:00", true, 1899, 12, 30, 8, 30, 0, 0},
        {"00:30:00", true, 1899, 12, 30, 0, 30, 0, 0},
        {" 23:59:59.999 ", true, 1899, 12, 30, 23, 59, 59, 999},
        {"2026/02/30", false, 0, 0, 0, 0, 0, 0, 0},
        {"2026/12/10x", false, 0, 0, 0, 0, 0, 0, 0},
        {"25:00", false, 0, 0, 0, 0, 0, 0, 0},
        {"", false, 0, 0, 0, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        TDateTime value = 0;
        const bool ok = locale::TextToDateTime(c.text, value) == locale::TConvStatus::Ok;
        ASSERT_EQ(ok, c.ok) << c.text;
        if (ok) {
            EXPECT_EQ(value, *EncodeDateTime(c.y, c.mo, c.d, c.h, c.mi, c.s, c.ms)) << c.text;
        }
    }
}

TEST(DateTimeForms, DayNumbersAndSplitting) {
    EXPECT_EQ(*DayNumber(1, 1, 1), 1);
    EXPECT_EQ(*DayNumber(1899, 12, 30), kDateDelta);
    int y = 0, m = 0, d = 0;
    DecodeDayNumber(*DayNumber(2024, 2, 29), y, m, d);
    EXPECT_EQ(y * 10000 + m * 100 + d, 20240229);
    // A negative TDateTime counts days backwards but the time of day forwards.
    const auto stamp = DateTimeToTimeStamp(-1.25);
    ASSERT_TRUE(stamp);
    EXPECT_EQ(stamp->Date, kDateDelta - 1);
    EXPECT_EQ(stamp->Time, kMSecsPerDay / 4);
    EXPECT_EQ(TimeStampToDateTime(*stamp), -1.25);
    EXPECT_FALSE(DateTimeToTimeStamp(std::nan("")));
    EXPECT_FALSE(DateTimeToTimeStamp(1e9));
    const auto sql = DateTimeToSQLTimeStamp(*EncodeDateTime(2026, 12, 10, 8, 30, 0, 250));
    ASSERT_TRUE(sql);
    EXPECT_EQ(sql->Year, 2026);
    EXPECT_EQ(sql->Hour, 8);
    EXPECT_EQ(sql->Fractions, 250u);
}

TEST(Variant, IntegerRules) {
    struct Case { TVariant value; std::int32_t want; };
    const Case cases[] = {
        {TVariant("12"), 12},
        {TVariant(" -7 "), -7},
        {TVariant("True"), 1},
        {TVariant("false"), 0},
        {TVariant(2.5), 2},
        {TVariant(3.5), 4},
        {TVariant(-2.5), -2},
        {TVariant::FromCurrency(25000), 2},
        {TVariant::FromCurrency(35000), 4},
        {TVariant(), 0},
        {TVariant(std::int64_t{-5}), -5},
        {TVariant(true), 1},
        {TVariant(*BcdFromString("41.5")), 42},
    };
    for (const Case& c : cases) EXPECT_EQ(VarToInt32(c.value), c.want) << VarToText(c.value);
    EXPECT_THROW(VarToInt32(TVariant("12x")), EVariantError);
    EXPECT_THROW(VarToInt32(TVariant::Null()), EVariantError);
    EXPECT_THROW(VarToInt32(TVariant(std::vector<std::uint8_t>{1})), EVariantError);
    try {
        VarToInt32(TVariant(3e9));
        FAIL();
    } catch (const ERangeError& e) {
        EXPECT_EQ(e.Message(), "Range check error");
    }
    EXPECT_THROW(VarToInt32(TVariant(std::int64_t{1} << 40)), ERangeError);
    EXPECT_EQ(VarToInt64(TVariant("9223372036854775807")), std::numeric_limits<std::int64_t>::max());
}

TEST(Variant, NumberCurrencyDateAndBooleanRules) {
    EXPECT_EQ(VarToDouble(TVariant("1.25E-7")), 1.25e-7);
    EXPECT_EQ(VarToDouble(TVariant::FromCurrency(12345)), 1.2345);
    EXPECT_EQ(VarToDouble(TVariant(*BcdFromString("-0.05"))), -0.05);
    EXPECT_THROW(VarToDouble(TVariant("1,5")), EVariantError);

    EXPECT_EQ(VarToCurrency(TVariant("12.34565")), 123456);  // exact decimal, tie to even
    EXPECT_EQ(VarToCurrency(TVariant("12.34575")), 123458);
    EXPECT_EQ(VarToCurrency(TVariant(std::int32_t{7})), 70000);
    EXPECT_EQ(VarToCurrency(TVariant(0.1)), 1000);

    EXPECT_EQ(VarToDateTime(TVariant("2026/12/10")), *EncodeDateTime(2026, 12, 10, 0, 0, 0, 0));
    EXPECT_EQ(VarToDateTime(TVariant("2.5")), 2.5);  // plain number of days
    EXPECT_EQ(VarToDateTime(TVariant(TSQLTimeStamp{})), 0);
    EXPECT_THROW(VarToDateTime(TVariant("tomorrow")), EVariantError);

    EXPECT_TRUE(VarToBoolean(TVariant("TRUE")));
    EXPECT_TRUE(VarToBoolean(TVariant("-1")));
    EXPECT_FALSE(VarToBoolean(TVariant(0.0)));
    EXPECT_THROW(VarToBoolean(TVariant("yes")), EVariantError);
}

TEST(Variant, TextRules) {
    EXPECT_EQ(VarToText(TVariant()), "");
    EXPECT_EQ(VarToText(TVariant(std::int32_t{-42})), "-42");
    EXPECT_EQ(VarToText(TVariant(0.5)), "0.5");
    EXPECT_EQ(VarToText(TVariant(false)), "False");
    EXPECT_EQ(VarToText(TVariant(*BcdFromString("-1234.50"))), "-1234.50");
    TSQLTimeStamp stamp{2026, 12, 10, 8, 30, 0, 0};
    EXPECT_EQ(VarToText(TVariant(stamp)), "2026/12/10 08:30:00");
    stamp.Hour = stamp.Minute = 0;
    EXPECT_EQ(VarToText(TVariant(stamp)), "2026/12/10");
    EXPECT_EQ(VarToText(TVariant(u"綠茶")), "綠茶");
}

TEST(Variant, Utf16RoundTripAndMalformedInput) {
    const std::string text = "A綠😀";
    const std::u16string wide = Utf8ToUtf16(text);
    EXPECT_EQ(wide.size(), 4u);  // A, one unit, a surrogate pair
    EXPECT_EQ(Utf16ToUtf8(wide), text);
    EXPECT_EQ(Utf8ToUtf16("\xE7\xB6"), u"\uFFFD\uFFFD");  // cut character
    EXPECT_EQ(Utf16ToUtf8(u"\xD800"), "\xEF\xBF\xBD");    // lone surrogate
}

}  // namespace
}  // namespace tarnwick
