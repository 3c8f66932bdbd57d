#pragma once
// The program's command line: no argument opens the window; --run and --list perform the click
// of "1.資料下載" or "2.檔案列表" unattended, without a window; --check walks the files of
// download/ as --list does, writing nothing that lasts.

#include <functional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "app/Workflow.h"
#include "import/ImportData.h"
#include "import/RuleTable.h"

namespace tarnwick::app {

enum class TLaunchMode { Window, Run, List, Check, Help, Invalid };

TLaunchMode ParseCommandLine(const std::vector<std::string>& args);
// Removes every `option` from `args`; answers whether there was one.
bool TakeOption(std::vector<std::string>& args, std::string_view option);
// Applies each record in a transaction of its own instead of committing per file and batch.
inline constexpr std::string_view kCommitEachRecord = "--commit-each-record";
const char* UsageText();

// The walk hooks of the import's data side `data`, which outlives them.
TWalkHooks WalkHooksFor(import::TImportData& data);

// The lines listing what a dry run's database would have refused: file, record, key, message.
std::vector<std::string> WouldRefuseLines(const import::TRejectedRecords& rejected);

struct TUnattendedOptions {
    bool LiveProgress = false;  // stdout is a terminal: redraw a progress line while a file imports
    // Check mode: the lines of records the database would refuse, printed after the summary.
    std::function<std::vector<std::string>()> WouldRefuse;
};

// Exit code of a bad command line.
constexpr int kExitUsage = 64;
// Exit code of a run whose hand-off program could not be started (the files are imported and gone).
constexpr int kExitHandOffNotStarted = 4;
// Exit code of a run turned away because another import of the store is running; nothing was touched.
constexpr int kExitBusy = 75;

// Runs the chain from the download stage (Run) or the list stage (List) in the store folder
// `storeDir`, printing to `out` and `err`, and writes the run to the store's import.log. After
// the walk, a summary table of its files. Answers the exit code: 0 when the chain reached the
// hand-off stage, 1 after a failure, 2 after a warning that stopped the chain, 3 when the chain
// went on to the hand-off stage after a warning (records the database refused), 4 when the
// hand-off program could not be started, 75 when another import of the store was running.
// Check runs the walk from the list stage only (the caller has made the import's data side a
// dry run): 0 when every record would import, 3 when some would be refused, 1, 2 and 75 as above.
int RunUnattended(TLaunchMode mode, const import::TRuleTable& rules, const TWalkHooks& hooks,
                  const std::string& storeDir, std::ostream& out, std::ostream& err,
                  const TUnattendedOptions& options = {});

}  // namespace tarnwick::app
