#pragma once
// The work list: the grid rows built from the lines of Memo1 and the walk that hands each row's
// file to its import rule. Plain functions over an import view; they keep no state of their own.

#include <string>
#include <string_view>

#include "import/ImportView.h"
#include "import/RuleTable.h"

namespace tarnwick::import {

// Column 0 of a row that was taken up.
inline constexpr std::string_view kDoneMark = "*";

struct TFileNameParts {
    std::string Prefix;     // column 2
    std::string TableName;  // column 3
    std::string Remainder;  // column 4
};

// The file name of a Memo1 line: the part after its last "/", the only folder separator here
// ("\" and ":" are ordinary characters of a name).
std::string_view FileNameOf(std::string_view line);
// `text` (a name or a path) fit for one line of output or of a log: control characters are
// written as escapes ("\n", "\r", "\t", "\x1b", "\u009b"), so no name can start a line of its own.
std::string PrintableName(std::string_view text);
// Splits a file name "prefix__TABLE__remainder" into the three columns.
TFileNameParts SplitFileName(std::string_view fileName);

// Sets the grid from the lines of Memo1 and appends every row's table name to Memo2.
void BuildWorkList(IImportView& view);
// Walks the grid rows in order, colouring each, marking it done and running its rule. A rule's
// failure leaves the walk at once.
void WalkWorkList(IImportView& view, const TRuleTable& rules);

}  // namespace tarnwick::import
