#pragma once
// The store's table rules: which table a work-list row's file goes to and how, in the order the
// names are tested. The descriptions are plain constant data; MakeStoreRules turns them into the
// rule table of the walk, each rule bound to the data module it is given (which outlives it).

#include <string>
#include <string_view>
#include <vector>

#include "data/clientdataset/DataSet.h"
#include "import/ImportData.h"
#include "import/RuleTable.h"

namespace tarnwick::import {

enum class TRuleKind {
    FullReplace,  // empty the table, insert every record of the file
    KeyedUpsert,  // per record: select by key, update the row found or insert a new one
    Bill,         // master file with its detail file, bill by bill
};

enum class TQuantities {
    Copied,        // NOW_QTY and BEFORE_QTY come from the file like every other field
    KeptOrZeroed,  // never from the file: an existing product keeps its own, a new one gets 0
};

// One key condition: connecting words, the file field, and whether its value goes in quotes.
struct TKeyPart {
    std::string_view Connector;
    std::string_view Field;
    bool Quoted = true;
};

struct TTableRule {
    std::string_view Name;    // the table name of the work-list row, compared exactly
    TRuleKind Kind;
    std::string_view Target;  // the table written, or the detail table of a bill
    std::vector<TKeyPart> Key;
    std::string_view Presence;  // a record whose field is blank is passed over
    TQuantities Quantities = TQuantities::Copied;
    bool ClearFirst = false;  // empty ClientDataSet1 before the load
};

// The 24 rules, in the order their names are tested.
const std::vector<TTableRule>& StoreTableRules();

// " where PD_DEPID = 'A01'": the rule's key clause for the current record of `source`. A key
// without quotes must be a plain decimal number; anything else raises EImportError naming the
// field, the value and `fileName`.
std::string KeyClause(const TTableRule& rule, const TDataSet& source, const std::string& fileName);

// The rule table of the walk over the store's rules, run on `data`.
TRuleTable MakeStoreRules(TImportData& data);

}  // namespace tarnwick::import
