#include "import/RuleTable.h"

namespace tarnwick::import {

void TRuleTable::Add(std::string tableName, TImportRule rule) {
    entries_.push_back({std::move(tableName), std::move(rule)});
}

const TImportRule* TRuleTable::Find(std::string_view tableName) const {
    for (const Entry& entry : entries_)
        if (entry.Name == tableName) return &entry.Rule;
    return nullptr;
}

}  // namespace tarnwick::import
