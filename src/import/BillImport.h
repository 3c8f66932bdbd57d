#pragma once
// Bill import: a master file with one record per bill and the detail file with the bills'
// lines, paired by the detail table name in the work list. Per bill the master row is upserted
// and the bill's stored lines are replaced by those of the detail file.

#include "import/RuleTable.h"
#include "import/TableRules.h"
#include "import/TransferSteps.h"

namespace tarnwick::import {

// Runs the bill rule for the master row of `context`; fills `transfer`'s counts with the bills
// and answers the counts of the lines.
TRuleCounts ImportBills(const TTableRule& rule, TTransfer& transfer, TImportContext& context);

// Whether a row of the work list names the master table `masterTable`.
bool HasMasterRow(const IWorkGrid& grid, std::string_view masterTable);

// Runs for a row of the bill rule's detail table. While a master file of the kind is in the work
// list, that master takes the row (or keeps its lines as untaken) and nothing happens here.
// Without one, the lines could never be imported: they are kept as refused records instead of
// being deleted unseen. Answers the counts of the lines.
TRuleCounts KeepLinesWithoutMaster(const TTableRule& rule, TTransfer& transfer, TImportContext& context);

}  // namespace tarnwick::import
