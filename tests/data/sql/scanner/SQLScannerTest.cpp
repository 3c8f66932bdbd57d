#include "data/sql/SQLScanner.h"

#include <gtest/gtest.h>

namespace tarnwick::sql {
namespace {

struct TableCase {
    const char* text;
    const char* table;
    bool multi;
};

// Table name and single-table test side by side: the two readers must agree on what a table is.
TEST(SQLScanner, TableNameAndMultiTable) {
    const TableCase cases[] = {
        {"SELECT * FROM PRODUCT where PROD_ID = 'k'", "PRODUCT", false},
        {"select * from Product where PROD_ID = 'k'", "Product", false},
        {"DELETE FROM PSALE_SUB WHERE MASTERBILLID = 'A:1'", "PSALE_SUB", false},
        {"DELETE FROM PRODUCT", "PRODUCT", false},
        {"SELECT * FROM PRODUCT;", "PRODUCT", false},
        {"SELECT * FROM \"Odd Name\" where X = 1", "Odd Name", false},
        {"SELECT * FROM SYSDBA.PRODUCT where X = 1", "SYSDBA.PRODUCT", false},
        {"SELECT * FROM \"S\".\"T\" where X = 1", "S.T", false},
        {"SELECT * FROM PRODUCT P where P.PROD_ID = 'k'", "PRODUCT", false},
        {"SELECT A.X FROM A, B where A.X = B.X", "A", true},
        {"SELECT A.X FROM A ,B", "A", true},
        {"SELECT * FROM A inner join B on A.X = B.X", "A", true},
        {"SELECT * FROM A a left outer join B b on a.X = b.X", "A", true},
        {"SELECT * FROM A JOIN B ON A.X = B.X", "A", true},
        {"SELECT 1", "", true},
        {"", "", true},
        {"SELECT * FROM", "", true},
        {"SELECT * FROM where X = 1", "", true},
        {"SELECT * FROM /* c */ PRODUCT where X = 1", "PRODUCT", false},
        {"SELECT X FROM T ORDER BY X", "T", false},
    };
    for (const TableCase& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(FindTableName(c.text), c.table);
        EXPECT_EQ(IsMultiTableText(c.text), c.multi);
        std::string single = "stale";
        EXPECT_EQ(ReadSingleTable(c.text, single), !c.multi);
        if (!c.multi) {
            EXPECT_EQ(single, c.table);
        }
    }
}

// The name as written keeps its quotes: they decide its letter case on the server.
TEST(SQLScanner, SingleTableAsWritten) {
    const struct {
        const char* text;
        const char* written;
    } cases[] = {
        {"SELECT * FROM \"Mixed\" where X = 1", "\"Mixed\""},
        {"SELECT * FROM  Mixed where X = 1", "Mixed"},
        {"SELECT * FROM \"S\".\"T\" where X = 1", "\"S\".\"T\""},
        {"SELECT * FROM PRODUCT;", "PRODUCT"},
    };
    for (const auto& c : cases) {
        std::string name;
        std::string written = "stale";
        ReadSingleTable(c.text, name, &written);
        EXPECT_EQ(written, c.written) << c.text;
    }
}

struct TokenCase {
    const char* text;
    TSQLToken section;
    TSQLToken kind;
    const char* token;
    std::size_t end;  // position after the token
};

TEST(SQLScanner, TokenKinds) {
    using enum TSQLToken;
    const TokenCase cases[] = {
        {"  PRODUCT ", stFrom, stTableName, "PRODUCT", 9},
        {"PROD_ID = ", stWhere, stFieldName, "PROD_ID", 7},
        {"T.X", stWhere, stTableName, "T", 1},
        {".X ", stWhere, stFieldName, "X", 2},
        {"'it''s' ", stWhere, stValue, "it's", 7},
        {"\"T\".X", stFrom, stTableName, "T", 3},
        {"'open", stWhere, stFieldName, "'open", 5},
        {"<= 3", stWhere, stPredicate, "<=", 2},
        {"12.5)", stWhere, stNumber, "12.5", 4},
        {"* FROM", stSelect, stAllFields, "*", 1},
        {"distinct X", stSelect, stDistinct, "distinct", 8},
        {"desc", stOrderBy, stDescending, "desc", 4},
        {"Ascending", stOrderBy, stAscending, "Ascending", 9},
        {"is null", stWhere, stIsNull, "is", 7},
        {"IS NOT NULL and", stWhere, stIsNotNull, "IS", 11},
        {"IS 3", stWhere, stValue, "IS", 2},
        {"NULL", stWhere, stValue, "NULL", 4},
        {"like 'a%'", stWhere, stLike, "like", 4},
        {"order by X", stWhere, stOrderBy, "order by", 8},
        {"GROUP  BY X", stWhere, stGroupBy, "GROUP BY", 9},
        {"for update", stWhere, stForUpdate, "for update", 10},
        {"ORDER X", stFrom, stTableName, "ORDER", 5},
        {"having", stWhere, stHaving, "having", 6},
        {"/* note */ X", stWhere, stComment, " note ", 10},
        {"// line\nX", stWhere, stComment, " line", 7},
        {" \r\n", stWhere, stEnd, "", 3},
    };
    for (const TokenCase& c : cases) {
        SCOPED_TRACE(c.text);
        std::size_t pos = 0;
        std::string token;
        EXPECT_EQ(ScanToken(c.text, pos, token, c.section), c.kind);
        EXPECT_EQ(token, c.token);
        EXPECT_EQ(pos, c.end);
    }
}

TEST(SQLScanner, OrderByIndex) {
    const std::vector<std::string> fields{"PROD_ID", "NAME", "PRICE"};
    auto index = OrderByIndex("SELECT * FROM P order by name desc, PROD_ID", fields);
    ASSERT_TRUE(index.has_value());
    EXPECT_EQ(index->Fields, "NAME;PROD_ID");
    EXPECT_EQ(index->DescFields, "NAME");

    index = OrderByIndex("SELECT * FROM P ORDER BY 3, P.NAME DESC", fields);
    ASSERT_TRUE(index.has_value());
    EXPECT_EQ(index->Fields, "PRICE;NAME");
    EXPECT_EQ(index->DescFields, "NAME");

    // The clause ends at the next clause keyword; numbers past the fields use the definitions.
    index = OrderByIndex("SELECT * FROM P ORDER BY 4, 9 FOR UPDATE", fields, {"A", "B", "C", "D"});
    ASSERT_TRUE(index.has_value());
    EXPECT_EQ(index->Fields, "D");

    EXPECT_FALSE(OrderByIndex("SELECT * FROM P where X = 1", fields));
    EXPECT_FALSE(OrderByIndex("SELECT * FROM P ORDER BY OTHER", fields));
}

TEST(SQLScanner, FirstWordSelect) {
    EXPECT_TRUE(StartsWithSelect("  \r\n select * from T"));
    EXPECT_TRUE(StartsWithSelect("SELECT(1) from T"));
    EXPECT_FALSE(StartsWithSelect("DELETE FROM T"));
    EXPECT_FALSE(StartsWithSelect("SELECTED"));
    EXPECT_FALSE(StartsWithSelect(""));
}

}  // namespace
}  // namespace tarnwick::sql
