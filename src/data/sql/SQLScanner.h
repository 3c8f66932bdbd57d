#pragma once
// A small SQL text reader: one tokenizer (`ScanToken`) and three readers on it. It reads just
// enough of a statement to find its table, tell single-table texts apart and read ORDER BY
// fields. It keeps the letter case of names, compares keywords without case, and never fails:
// a text it cannot make sense of gives an empty or negative answer. Stateless; call any time.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::sql {

// Token kinds. The clause keywords (stSelect .. stForUpdate) also serve as the scanner's current
// section: the last clause keyword seen.
enum class TSQLToken {
    stUnknown,
    stTableName,
    stFieldName,
    stAscending,
    stDescending,
    stSelect,
    stFrom,
    stWhere,
    stGroupBy,
    stHaving,
    stUnion,
    stPlan,
    stOrderBy,
    stForUpdate,
    stEnd,
    stPredicate,
    stValue,
    stIsNull,
    stIsNotNull,
    stLike,
    stAnd,
    stOr,
    stNumber,
    stAllFields,
    stComment,
    stDistinct,
};

bool IsClauseKeyword(TSQLToken token);

// Reads the token at `pos` (separators first skipped), stores its text in `token` and moves `pos`
// past it. `section` is the current clause section (stUnknown before any keyword).
TSQLToken ScanToken(std::string_view text, std::size_t& pos, std::string& token, TSQLToken section);

// False when the text cannot hold an ORDER BY clause (the word is nowhere in it, in any case).
bool MayHoldOrderBy(std::string_view text);

// The first table name after FROM, as written, or empty.
std::string FindTableName(std::string_view text);

// True unless the text plainly reads one table (a FROM with one name, no comma, no join).
bool IsMultiTableText(std::string_view text);
// The opposite of IsMultiTableText, with the one table's name (FindTableName's) in `name` and,
// when `written` is given, the name as the text writes it: a quoted name keeps its quotes, which
// tell the server to take its letter case as it stands.
bool ReadSingleTable(std::string_view text, std::string& name, std::string* written = nullptr);

// Fields of an ORDER BY clause, ";"-separated.
struct TOrderByIndex {
    std::string Fields;
    std::string DescFields;
};

// The ORDER BY fields of `text` that are among `fieldNames` (the dataset's fields, letter case
// ignored); a number n names the n-th field, or the n-th of `fieldDefNames` when n exceeds the
// field count. Nothing when there is no ORDER BY or no field of it qualifies.
std::optional<TOrderByIndex> OrderByIndex(std::string_view text,
                                          const std::vector<std::string>& fieldNames,
                                          const std::vector<std::string>& fieldDefNames = {});

// The first word of the text (leading blanks and control characters skipped), letters as written.
std::string FirstWord(std::string_view text);
// True when the first word is SELECT (any letter case).
bool StartsWithSelect(std::string_view text);

}  // namespace tarnwick::sql
