#pragma once
// The texts the import hands to the database and to the filter parser: key values between
// quotes, and the check of a key that goes into a select without quotes. Plain functions.

#include <string>
#include <string_view>

#include "base/Exception.h"

namespace tarnwick::import {

// A failure of the import's own checks; it ends the chain like any other failure.
TARNWICK_EXCEPTION(EImportError, Exception);

// The value between two "'" with every "'" of it doubled, the way both the SQL parser and the
// filter parser read a quote inside a quoted text. A key like O'NEIL then selects itself and
// nothing else.
std::string QuotedKey(std::string_view value);

// An optional sign, digits, and at most one decimal point with at least one digit in all.
bool IsPlainDecimal(std::string_view text);

}  // namespace tarnwick::import
