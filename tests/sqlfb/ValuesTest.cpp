// Value forms between the driver boundary and Firebird.

#include <gtest/gtest.h>

#include <climits>

#include "sqlfb/FbValues.h"

namespace tarnwick::sqlfb {
namespace {

TEST(FbValuesTest, DayNumbersAndFirebirdDates) {
    struct Case {
        int y, m, d;
        std::int32_t dayNumber;
    };
    // 0001-01-01 is day 1; Firebird counts from 1858-11-17.
    const Case cases[] = {{1, 1, 1, 1}, {1, 12, 31, 365}, {2, 1, 1, 366}, {1858, 11, 17, 678576},
                          {1899, 12, 30, 693594}, {2000, 2, 29, 730179}, {2024, 3, 1, 738946}};
    for (const auto& c : cases) {
        EXPECT_EQ(DayNumberFromCivil(c.y, c.m, c.d), c.dayNumber) << c.y << "-" << c.m << "-" << c.d;
        int y = 0, m = 0, d = 0;
        CivilFromDayNumber(c.dayNumber, &y, &m, &d);
        EXPECT_EQ(y * 10000 + m * 100 + d, c.y * 10000 + c.m * 100 + c.d);
    }
    EXPECT_EQ(IscDateFromDayNumber(678576), 0);
    EXPECT_EQ(DayNumberFromIscDate(0), 678576);
}

TEST(FbValuesTest, TimeStampsKeepMilliseconds) {
    TSQLTimeStamp ts;
    ts.Year = 2026; ts.Month = 12; ts.Day = 10; ts.Hour = 5; ts.Minute = 7; ts.Second = 9; ts.Fractions = 123;
    const ISC_TIMESTAMP isc = IscFromTimeStamp(ts);
    EXPECT_EQ(isc.timestamp_time, ((5u * 60 + 7) * 60 + 9) * 10000 + 1230);
    EXPECT_EQ(TimeStampFromIsc(isc), ts);
}

TEST(FbValuesTest, ScaledIntegersAndBcd) {
    struct Case {
        std::int64_t scaled;
        int scale;
        const char* text;
    };
    const Case cases[] = {{12345, -2, "123.45"}, {-5, -2, "-0.05"}, {0, -2, "0.00"}, {7, 0, "7"},
                          {INT64_MAX, 0, "9223372036854775807"}, {INT64_MIN, 0, "-9223372036854775808"},
                          {INT64_MIN, -4, "-922337203685477.5808"}};
    for (const auto& c : cases) {
        const TBcd bcd = BcdFromScaled(c.scaled, c.scale);
        EXPECT_EQ(BcdToString(bcd), c.text);
    }
    const TBcd eighteen = BcdFromString("-123456789012345.678").value();
    EXPECT_EQ(ScaledFromBcd(eighteen), -123456789012345678);
    EXPECT_FALSE(ScaledFromBcd(BcdFromString("1234567890123456789").value()).has_value());
    EXPECT_EQ(ScaledFromBcd(BcdFromString("0001.50").value()), 150);
}

}  // namespace
}  // namespace tarnwick::sqlfb
