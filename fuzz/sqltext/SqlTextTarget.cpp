// SQL text target: any text through the statement scanner (token by token, table name, one-table
// test, ORDER BY fields, first word) and the parameter-marker reader and rewriter. None of them may
// fail; their answers must agree with each other.

#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "data/sql/ParamMarkers.h"
#include "data/sql/SQLScanner.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarnwick::sql;
    using namespace tarnwick::fuzz;
    const std::string_view text = AsText(data, size);

    // Token by token to the end: every call moves on until the end token.
    std::size_t pos = 0;
    std::string token;
    TSQLToken section = TSQLToken::stUnknown;
    for (std::size_t steps = 0;; ++steps) {
        Check(steps <= text.size() + 1, "the scanner reaches the end of the text");
        const std::size_t before = pos;
        const TSQLToken kind = ScanToken(text, pos, token, section);
        Check(pos <= text.size(), "the scanner stays inside the text");
        if (kind == TSQLToken::stEnd) break;
        Check(pos > before, "every token but the end moves the scanner on");
        if (IsClauseKeyword(kind)) section = kind;
    }

    const std::string table = FindTableName(text);
    std::string single;
    const bool oneTable = ReadSingleTable(text, single);
    Check(oneTable == !IsMultiTableText(text), "one-table test and multi-table test agree");
    if (oneTable) Check(single == table, "the one table is the table after FROM", single + " / " + table);

    const std::vector<std::string> fields = {"PD_ITEMID", "PD_NAME", "price", "品名"};
    const auto order = OrderByIndex(text, fields, {"A", "B", "C", "D", "E", "F"});
    if (!MayHoldOrderBy(text)) Check(!order.has_value(), "no ORDER BY index without the words");

    const std::string first = FirstWord(text);
    Check(first.size() <= text.size(), "the first word lies in the text");
    if (StartsWithSelect(text)) Check(first.size() == 6, "a text starting with SELECT has it as first word");

    const std::vector<std::string> names = ParseParamNames(text);
    for (const char* quote : {"", "\"", " "}) {
        const std::string replaced = ReplaceParamMarkers(text, quote);
        if (text.find(':') == std::string_view::npos)
            Check(replaced == text, "a text without a colon is not rewritten");
    }
    if (text.find(':') == std::string_view::npos) Check(names.empty(), "no marker without a colon");
    return 0;
}
