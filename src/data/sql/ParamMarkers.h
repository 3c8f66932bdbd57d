#pragma once
// Reading parameter markers out of SQL texts: the ":name" markers that a statement text names its
// parameters with, and the rewrite of those markers into the driver's positional " ? ". Quoted
// parts of a text ('...', "...", `...`) never hold markers. Pure functions; call any time.

#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::sql {

// The names of the ":name" markers of `text`, in text order; a name met twice is listed twice.
// "::" is no marker. A name written in quotes (:"Odd Name") comes without its quotes.
std::vector<std::string> ParseParamNames(std::string_view text);

// `text` with every ":name" marker outside quotes replaced by " ? ". `quoteChar` is the
// connection's quote character for object names (empty or blank: the apostrophe only). Texts
// that already use "?" come back unchanged.
std::string ReplaceParamMarkers(std::string_view text, std::string_view quoteChar);

}  // namespace tarnwick::sql
