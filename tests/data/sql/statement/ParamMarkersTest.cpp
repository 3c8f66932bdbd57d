#include "data/sql/ParamMarkers.h"

#include <gtest/gtest.h>

namespace tarnwick::sql {
namespace {

using Names = std::vector<std::string>;

struct ParseCase {
    const char* text;
    Names names;
};

TEST(ParamMarkers, ParseNames) {
    const ParseCase cases[] = {
        {"DELETE FROM PSALE_SUB WHERE MASTERBILLID = 'A:B'", {}},
        {"DELETE FROM T WHERE K = 'it''s :x'", {}},
        {"SELECT * FROM T WHERE A = :A and B = :B2", {"A", "B2"}},
        {"SELECT * FROM T WHERE A = :A or A = :A", {"A", "A"}},
        {"UPDATE T SET A = :NEW,B=:b;", {"NEW", "b"}},
        {"SELECT * FROM T WHERE (A = :P)\r\nAND B = :Q", {"P", "Q"}},
        {"SELECT * FROM T WHERE A = :\"Odd Name\"", {"Odd Name"}},
        {"SELECT * FROM T WHERE A = 'x\" :notparam'", {}},
        {"SELECT a::int FROM T", {}},
        {"SELECT * FROM \"T:1\" WHERE A = :A", {"A"}},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ParseParamNames(c.text), c.names);
    }
}

struct ReplaceCase {
    const char* text;
    const char* quote;
    const char* expected;
};

TEST(ParamMarkers, ReplaceMarkers) {
    const ReplaceCase cases[] = {
        {"update T set A = ? where B = ?", "\"", "update T set A = ? where B = ?"},
        {"DELETE FROM T WHERE K = 'A:1'", "\"", "DELETE FROM T WHERE K = 'A:1'"},
        {"SELECT * FROM T WHERE A = :A and B=:B", "\"", "SELECT * FROM T WHERE A =  ?  and B= ? "},
        {"SELECT * FROM T WHERE A in (:A,:B)", "", "SELECT * FROM T WHERE A in ( ? , ? )"},
        {"SELECT * FROM T WHERE A=:A\r\n", " ", "SELECT * FROM T WHERE A= ? \r\n"},
        // A quoted value holding the same text as a marker stays as written.
        {"SELECT * FROM T WHERE K = ' :A' and A = :A", "\"", "SELECT * FROM T WHERE K = ' :A' and A =  ? "},
        {"SELECT * FROM \"T :A\" WHERE A = :A", "\"", "SELECT * FROM \"T :A\" WHERE A =  ? "},
        {"", "\"", ""},
    };
    for (const ReplaceCase& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ReplaceParamMarkers(c.text, c.quote), c.expected);
    }
}

}  // namespace
}  // namespace tarnwick::sql
