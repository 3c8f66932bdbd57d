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

}  // namespace tarnwick::import
