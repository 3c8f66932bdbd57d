// What one parameter becomes at the driver boundary: logical type, subtype, precision, scale,
// length and the value bytes.

#include "data/sql/Params.h"

#include <gtest/gtest.h>

#include <cstring>

#include "base/DatabaseError.h"
#include "base/ValueForms.h"

namespace tarnwick::sql {
namespace {

std::vector<std::uint8_t> Bytes(std::initializer_list<int> bytes) {
    std::vector<std::uint8_t> out;
    for (int b : bytes) out.push_back(static_cast<std::uint8_t>(b));
    return out;
}

struct DriverCase {
    const char* what;
    TVariant value;
    TFieldType type;
    int logType, subType, precision, scale;
    unsigned length;
    std::vector<std::uint8_t> bytes;  // empty: not checked
};

TEST(ParamDriverValue, TypesLengthsAndBytes) {
    TSQLTimeStamp ts;
    ts.Year = 2024;
    ts.Month = 2;
    ts.Day = 29;
    ts.Hour = 1;
    ts.Fractions = 5;
    const DriverCase cases[] = {
        {"text", TVariant("ab"), ftString, 1, 0, 2, 0, 3, Bytes({'a', 'b', 0})},
        {"fixed text", TVariant("x"), ftFixedChar, 1, 31, 1, 0, 2, Bytes({'x', 0})},
        {"memo", TVariant("m"), ftMemo, 3, 22, 2, 0, 2, Bytes({'m', 0})},
        {"blob", TVariant("xyz"), ftBlob, 3, 23, 3, 0, 3, Bytes({'x', 'y', 'z'})},
        {"smallint", TVariant(std::int32_t{-2}), ftSmallint, 5, 0, 0, 0, 2, Bytes({0xFE, 0xFF})},
        {"boolean", TVariant(true), ftBoolean, 4, 0, 0, 0, 2, Bytes({1, 0})},
        {"integer", TVariant(std::int32_t{258}), ftInteger, 6, 0, 0, 0, 4, Bytes({2, 1, 0, 0})},
        {"autoinc", TVariant(std::int32_t{1}), ftAutoInc, 6, 0, 0, 0, 4, Bytes({1, 0, 0, 0})},
        {"float", TVariant(1.0), ftFloat, 7, 0, 8, 0, 8, Bytes({0, 0, 0, 0, 0, 0, 0xF0, 0x3F})},
        // 1900-01-01 is TDateTime 2, day number 693596 = 0x000A955C.
        {"date", TVariant::FromDateTime(2.5), ftDate, 2, 0, 0, 0, 4, Bytes({0x5C, 0x95, 0x0A, 0})},
        // Half a day: 43 200 000 ms = 0x0293'2E00.
        {"time", TVariant::FromDateTime(2.5), ftTime, 10, 0, 0, 0, 4, Bytes({0x00, 0x2E, 0x93, 0x02})},
        {"currency as BCD", TVariant::FromCurrency(-125000), ftBCD, 8, 0, 3, 1, 34, {}},
        {"BCD value", TVariant(*BcdFromString("0012.340")), ftFMTBcd, 8, 0, 4, 2, 34, {}},
        {"BCD zero", TVariant(*BcdFromString("0.000")), ftFMTBcd, 8, 0, 1, 0, 34, {}},
        {"BCD whole", TVariant(*BcdFromString("100")), ftFMTBcd, 8, 0, 3, 0, 34, {}},
        {"BCD fraction", TVariant(*BcdFromString("-0.050")), ftFMTBcd, 8, 0, 2, 2, 34, {}},
        {"null BCD", TVariant::Null(), ftFMTBcd, 8, 0, 0, 0, 0, {}},
        {"null text", TVariant::Null(), ftString, 1, 0, 0, 0, 0, {}},
        {"time stamp", TVariant(ts), ftTimeStamp, 24, 0, 0, 0, 16, {}},
        {"bytes", TVariant(Bytes({1, 2, 3})), ftVarBytes, 15, 0, 1, 0, 3, Bytes({1, 2, 3})},
    };
    for (const DriverCase& c : cases) {
        SCOPED_TRACE(c.what);
        TParam param("P");
        param.SetValue(c.value, c.type);
        const TParamDriverValue v = ParamDriverValue(param);
        EXPECT_EQ(v.LogType, c.logType);
        EXPECT_EQ(v.SubType, c.subType);
        EXPECT_EQ(v.Precision, c.precision);
        EXPECT_EQ(v.Scale, c.scale);
        EXPECT_EQ(v.Length, c.length);
        EXPECT_EQ(v.IsNull, c.value.IsNull());
        if (!c.bytes.empty()) {
            EXPECT_EQ(v.Buffer, c.bytes);
        }
    }
}

TEST(ParamDriverValue, RecordForms) {
    TParam bcd("B");
    bcd.SetValue(TVariant::FromCurrency(-125000), ftBCD);  // -12.5 as currency: 32 digits, 4 places
    TBcd record;
    const TParamDriverValue v = ParamDriverValue(bcd);
    std::memcpy(&record, v.Buffer.data(), sizeof record);
    EXPECT_EQ(record.Precision, 32);
    EXPECT_EQ(record.SignSpecialPlaces, 0x80 | 4);
    EXPECT_EQ(BcdToString(record), "-12.5000");

    TSQLTimeStamp ts;
    TParam stamp("T");
    stamp.SetValue(TVariant::FromDateTime(45351.5), ftTimeStamp);  // 2024-02-29 12:00
    const TParamDriverValue s = ParamDriverValue(stamp);
    std::memcpy(&ts, s.Buffer.data(), sizeof ts);
    EXPECT_EQ(ts.Year, 2024);
    EXPECT_EQ(ts.Month, 2);
    EXPECT_EQ(ts.Day, 29);
    EXPECT_EQ(ts.Hour, 12);
}

TEST(ParamDriverValue, Refusals) {
    struct Refusal {
        TFieldType type;
        const char* message;
    };
    const Refusal refusals[] = {
        {ftUnknown, "No value for parameter 'P'"},
        {ftVariant, "No value for parameter 'P'"},
        {ftLargeint, "Field 'P' is of an unsupported type"},
        {ftWideString, "Field 'P' is of an unsupported type"},
        {ftGuid, "Field 'P' is of an unsupported type"},
    };
    for (const Refusal& r : refusals) {
        TParam param("P");
        param.SetValue(TVariant(std::int32_t{1}), r.type);
        try {
            ParamDriverValue(param);
            ADD_FAILURE() << r.message;
        } catch (const EDatabaseError& e) {
            EXPECT_EQ(e.Message(), r.message);
        }
    }
}

TEST(Params, ValuesFollowNamesAcrossLists) {
    TParams old;
    old.Add("A").SetValue(TVariant(std::int32_t{1}));
    old.Add("B").SetValue(TVariant("b"));
    TParams fresh;
    fresh.Add("b");
    fresh.Add("C");
    fresh.AssignValues(old);
    EXPECT_EQ(fresh[0].Value(), TVariant("b"));
    EXPECT_EQ(fresh[0].DataType(), ftString);
    EXPECT_TRUE(fresh[1].IsNull());
    EXPECT_EQ(fresh[1].DataType(), ftUnknown);
    EXPECT_EQ(&fresh.ParamByName("c"), &fresh[1]);
}

}  // namespace
}  // namespace tarnwick::sql
