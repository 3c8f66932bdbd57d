#include "app/CommandLine.h"

#include "app/ConsoleView.h"
#include "app/Workflow.h"
#include "import/WorkList.h"

namespace tarnwick::app {

TLaunchMode ParseCommandLine(const std::vector<std::string>& args) {
    if (args.empty()) return TLaunchMode::Window;
    if (args.size() > 1) return TLaunchMode::Invalid;
    if (args[0] == "--run") return TLaunchMode::Run;
    if (args[0] == "--list") return TLaunchMode::List;
    if (args[0] == "--check") return TLaunchMode::Check;
    if (args[0] == "--help" || args[0] == "-h") return TLaunchMode::Help;
    return TLaunchMode::Invalid;
}

bool TakeOption(std::vector<std::string>& args, std::string_view option) {
    const auto before = args.size();
    std::erase(args, option);
    return args.size() != before;
}

const char* UsageText() {
    return "Usage: tarnwick [--run | --list | --check | --help] [--commit-each-record]\n"
           "\n"
           "Imports the data packet files of the download/ folder beside the program into the\n"
           "store database, deletes them and starts the hand-off program Lantrel.exe.\n"
           "\n"
           "  (none)   open the window; click \"1.資料下載\" or \"2.檔案列表\"\n"
           "  --run    unattended: start Scrivel.exe, wait for it, then list, import, clear, hand off\n"
           "  --list   unattended: start at the file list (no download)\n"
           "  --check  dry run on the files already in download/: every rule runs inside one\n"
           "           transaction that is rolled back; nothing is written, deleted or started.\n"
           "           Lists each record the database would refuse. Exit code 0 all would\n"
           "           import, 3 some would be refused, 1 the chain would stop (message on stderr)\n"
           "  --help   show this text\n"
           "  --commit-each-record  with --run or --list: commit every record on its own instead of\n"
           "           a file at a time (keyed files and bills in batches)\n"
           "\n"
           "Unattended runs print one line per work-list row and what each rule wrote, then a\n"
           "summary table; every run is recorded in import.log beside the program.\n"
           "Exit codes: 0 the chain reached the hand-off stage; 1 a failure (its message on\n"
           "stderr); 2 a warning that stopped the chain, such as a missing download folder (on\n"
           "stderr); 3 the chain reached the hand-off stage, but the database refused records\n"
           "(kept in rejected/; the warning on stderr); 4 the files were imported and deleted, but\n"
           "the hand-off program could not be started (the reason on stderr); 64 a bad command\n"
           "line; 75 another import of this store was running, nothing was touched (on stderr).\n";
}

TWalkHooks WalkHooksFor(import::TImportData& data) {
    return {[&data] { data.WalkStarted(); }, [&data] { return data.RefusalWarning(); },
            [&data] { return data.FailurePlace(); }};
}

std::vector<std::string> WouldRefuseLines(const import::TRejectedRecords& rejected) {
    std::vector<std::string> lines;
    for (const auto& refusal : rejected.Listed()) {
        std::string message = refusal.Message;
        for (char& c : message)
            if (c == '\n' || c == '\r' || c == '\t') c = ' ';
        lines.push_back("would be refused: " + std::string(import::FileNameOf(refusal.Path)) + ", record " +
                        std::to_string(refusal.RecordNumber) + ", " + refusal.KeyText + ": " + message);
    }
    return lines;
}

int RunUnattended(TLaunchMode mode, const import::TRuleTable& rules, const TWalkHooks& hooks,
                  const std::string& storeDir, std::ostream& out, std::ostream& err,
                  const TUnattendedOptions& options) {
    TConsoleView view(out, err, options.LiveProgress);
    TWorkflow workflow(view, rules, storeDir);
    workflow.SetWalkHooks(hooks);
    TRunHistory history(storeDir);
    history.SetOnNotWritten([&view](const std::string& text) { view.SayHistoryNotWritten(text); });
    const char* how = mode == TLaunchMode::Run ? "run" : mode == TLaunchMode::Check ? "check" : "list";
    workflow.SetHistory(&history, how);
    workflow.SetExitCodeSource([&view] { return view.ExitCode(); });
    workflow.SetDryRun(mode == TLaunchMode::Check);
    workflow.Click(mode == TLaunchMode::Run ? &TWorkflow::SpeedButton1Click : &TWorkflow::SpeedButton4Click);
    if (!workflow.Rows().empty()) WriteSummary(out, workflow.Rows());
    if (mode == TLaunchMode::Check && options.WouldRefuse)
        for (const std::string& line : options.WouldRefuse()) out << line << '\n';
    out << std::flush;
    return view.ExitCode();
}

}  // namespace tarnwick::app
