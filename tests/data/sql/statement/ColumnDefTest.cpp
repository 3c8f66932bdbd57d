// Field definitions from driver column descriptions, including the shapes a Firebird server
// never reports (precision 38, a two-byte integer of another length), which the rules still cover.

#include <gtest/gtest.h>

#include "data/sql/CustomSQLDataSet.h"

namespace tarnwick::sql {
namespace {

struct ColumnCase {
    const char* what;
    std::uint16_t logType, subType, precision;
    std::int16_t scale;
    std::uint32_t length;
    bool nullable;
    TFieldType type;
    int size, defPrecision;
    bool required;
};

TEST(ColumnToFieldDef, TypesSizesAndBcdRules) {
    const ColumnCase cases[] = {
        {"varchar", 1, 0, 40, 0, 40, true, ftString, 40, 0, false},
        {"text of precision 0", 1, 0, 0, 0, 0, true, ftUnknown, 0, 0, false},
        {"smallint", 5, 0, 2, 0, 2, false, ftSmallint, 0, 0, true},
        {"smallint of length 4", 5, 0, 4, 0, 4, true, ftUnknown, 0, 0, false},
        {"autoinc", 6, 29, 4, 0, 4, false, ftAutoInc, 0, 0, false},
        {"money", 7, 21, 8, 0, 8, true, ftCurrency, 0, 0, false},
        {"numeric(9,2)", 8, 0, 9, 2, 34, true, ftBCD, 2, 9, false},
        {"numeric(14,4)", 8, 0, 14, 4, 34, true, ftBCD, 4, 14, false},
        {"numeric(15,2)", 8, 0, 15, 2, 34, true, ftFMTBcd, 2, 15, false},
        {"numeric(9,5)", 8, 0, 9, 5, 34, true, ftFMTBcd, 5, 9, false},
        {"negative scale", 8, 0, 2, -3, 34, true, ftBCD, 3, 3, false},
        {"precision 38 scale 0", 8, 0, 38, 0, 34, true, ftFMTBcd, 8, 32, false},
        {"precision 38 scale 38", 25, 0, 38, 38, 34, true, ftFMTBcd, 8, 32, false},
        {"precision 40", 25, 0, 40, 2, 34, true, ftFMTBcd, 2, 32, false},
        {"memo", 3, 22, 0, 0, 0, true, ftMemo, 0, 0, false},
        {"binary blob", 3, 23, 0, 0, 0, true, ftBlob, 0, 0, false},
        {"graphic", 3, 26, 0, 0, 0, true, ftGraphic, 0, 0, false},
        {"time stamp", 24, 0, 16, 0, 16, true, ftTimeStamp, 0, 0, false},
        {"int64", 18, 0, 8, 0, 8, true, ftLargeint, 0, 0, false},
        {"beyond the map", 26, 0, 0, 0, 0, true, ftUnknown, 0, 0, false},
    };
    for (const ColumnCase& c : cases) {
        SCOPED_TRACE(c.what);
        TFieldDefs defs;
        TFieldDef& def = defs.AddFieldDef();
        ColumnToFieldDef(c.logType, c.subType, c.precision, c.scale, c.length, c.nullable, false, def);
        EXPECT_EQ(def.DataType, c.type) << FieldTypeName(def.DataType);
        EXPECT_EQ(def.Size, c.size);
        EXPECT_EQ(def.Precision, c.defPrecision);
        EXPECT_EQ(def.Required(), c.required);
    }
}

TEST(ColumnToFieldDef, Attributes) {
    TFieldDefs defs;
    TFieldDef& def = defs.AddFieldDef();
    ColumnToFieldDef(1, 31, 5, 0, 5, false, true, def);
    EXPECT_TRUE(def.Attributes.Contains(faFixed));
    EXPECT_TRUE(def.Attributes.Contains(faReadonly));
    EXPECT_TRUE(def.Attributes.Contains(faRequired));
}

}  // namespace
}  // namespace tarnwick::sql
