#pragma once
// The rule dispatch of the import walk: an ordered table of import rules keyed by exact table
// name (letter case included). The first equal name selects the rule; names are tested in the
// order they were added. The table owns its rules; a rule owns whatever it captured.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "import/ImportView.h"

namespace tarnwick::import {

// What a rule is handed for the row the walk took up. The view outlives the call.
struct TImportContext {
    IImportView& View;
    int Row;                // grid row, 1-based
    std::string TableName;  // column 3
    std::string Path;       // column 1
};

// A rule imports one row's file; failures are raised and end the whole chain.
using TImportRule = std::function<void(TImportContext&)>;

class TRuleTable {
public:
    // Appends a rule; a name already present is kept in place and the new rule can never match.
    void Add(std::string tableName, TImportRule rule);
    // The rule of the first entry whose name equals `tableName` exactly, or null.
    const TImportRule* Find(std::string_view tableName) const;
    bool Empty() const { return entries_.empty(); }

private:
    struct Entry {
        std::string Name;
        TImportRule Rule;
    };
    std::vector<Entry> entries_;
};

}  // namespace tarnwick::import
