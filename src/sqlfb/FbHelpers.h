#pragma once
// Small helpers shared by the driver's objects: guarding the driver boundary against exceptions,
// descriptor areas, text measures of the server's character sets, parameter blocks, and the
// statement-text reader that turns compared string values into parameters.

#include <ibase.h>

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "sqlfb/SQLDriver.h"

namespace tarnwick::sqlfb::detail {

// Nothing may be thrown across the driver boundary: an allocation failure or any other
// exception inside an operation becomes a result code.
template <class Fn>
SQLResult Guarded(Fn&& fn) noexcept {
    try {
        return fn();
    } catch (const std::bad_alloc&) {
        return kSQLNoMemory;
    } catch (...) {
        return kSQLInvalidParameter;
    }
}

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
using SqlDa = std::unique_ptr<XSQLDA, FreeDeleter>;

// A descriptor area with room for `count` variables (at least one).
SqlDa NewSqlDa(int count);

std::string TrimRight(std::string text);

// Bytes per character of a Firebird character set id (for fixed CHAR padding).
int BytesPerChar(int charSet);

// A UTF-8 text cut after `chars` characters (the padding Firebird adds to fixed CHAR values in a
// multi-byte character set goes beyond the declared length).
std::string_view Utf8Chars(std::string_view text, std::size_t chars);

std::size_t Utf8Length(std::string_view text);

// Reads a query or a DELETE for string values that its WHERE clause compares a column with
// ("COL = 'v'", at the outer level, not joined with || nor followed by COLLATE). On success `shape`
// is the text with each such value replaced by "?" and `literals` the values, quotes undone.
// Anything unusual (comments, UNION, an unterminated quote, no such value) answers false.
bool SplitComparedLiterals(std::string_view sql, std::string* shape, std::vector<std::string>* literals);

// A "?" marker of a statement text: its offset, and when it stands as "<name> = ?" at the outer
// level of the WHERE clause (the value a row is compared with), the offset of that "=".
struct Marker {
    std::size_t offset = 0;
    std::size_t equals = std::string_view::npos;
};
// The markers of `sql` in order; false when the text holds what this reader does not follow
// (comments, an unterminated quote).
bool FindMarkers(std::string_view sql, std::vector<Marker>* markers);

// Appends a text item to a parameter block (cut at 255 bytes, the item's limit).
void AppendDpb(std::string& dpb, char tag, const std::string& value);

// The largest blob segment the client library moves at once.
constexpr unsigned kMaxSegment = 32767;

}  // namespace tarnwick::sqlfb::detail
