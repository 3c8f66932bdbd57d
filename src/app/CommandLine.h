#pragma once
// The program's command line: no argument opens the window; --run and --list perform the click
// of "1.資料下載" or "2.檔案列表" unattended, without a window.

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "app/Workflow.h"
#include "import/RuleTable.h"

namespace tarnwick::app {

enum class TLaunchMode { Window, Run, List, Help, Invalid };

TLaunchMode ParseCommandLine(const std::vector<std::string>& args);
// Removes every `option` from `args`; answers whether there was one.
bool TakeOption(std::vector<std::string>& args, std::string_view option);
// Applies each record in a transaction of its own instead of committing per file and batch.
inline constexpr std::string_view kCommitEachRecord = "--commit-each-record";
const char* UsageText();

// Exit code of a bad command line.
constexpr int kExitUsage = 64;

// Runs the chain from the download stage (Run) or the list stage (List) in the store folder
// `storeDir`, printing to `out` and `err`. Answers the exit code: 0 when the chain reached the
// hand-off stage, 1 after a failure, 2 after a warning that stopped the chain, 3 when the chain
// went on to the hand-off stage after a warning (records the database refused).
int RunUnattended(TLaunchMode mode, const import::TRuleTable& rules, const TWalkHooks& hooks,
                  const std::string& storeDir, std::ostream& out, std::ostream& err);

}  // namespace tarnwick::app
